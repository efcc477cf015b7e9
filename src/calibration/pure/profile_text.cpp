#include "calibration/pure/profile_text.h"

#include <algorithm>
#include <array>
#include <utility>

#include "calibration/pure/ansi_search.h"
#include "calibration/pure/integer_format.h"
#include "calibration/pure/scan_number.h"

namespace ks {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Drops one leading quote and then, when there is one, one trailing quote.
std::string_view StripQuotes(std::string_view text, LeadBytePredicate isLead) {
    text.remove_prefix(1);
    if (EndsWithChar(text, '"', isLead)) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::uint8_t> StringBytes(std::string_view data) {
    std::vector<std::uint8_t> bytes(data.begin(), data.end());
    bytes.push_back(0);
    return bytes;
}

std::string Hex(std::uint32_t number, int digits) {
    std::string text;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += "0123456789abcdef"[(number >> shift) & 0xF];
    return text;
}

// A number read as scanf reads "%0<width>X": nothing converted reads as 0. A text not wholly read
// is a problem for a strict caller.
std::uint32_t ReadHex(std::string_view text, std::size_t width, std::string* problem) {
    std::size_t used = 0;
    const std::optional<std::uint32_t> scanned = ScanHex(text, width, &used);
    const std::uint32_t number = scanned.value_or(0);
    if (problem != nullptr && problem->empty() && (!scanned || used != text.size())) {
        *problem = "\"" + std::string(text) + "\" is not " + (width == 2 ? "a byte of two" : "a number of 1 to 8") +
                   " hexadecimal digits: it is read as " + Hex(number, static_cast<int>(width));
    }
    return number;
}

std::vector<std::uint8_t> DwordBytes(std::string_view data, std::string* problem) {
    const std::uint32_t number = ReadHex(data, 8, problem);
    return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

// Pieces between commas, as a tokenizer splits them: runs of commas are one separator and
// commas at either end give no piece.
std::vector<std::uint8_t> BinaryBytes(std::string_view data, LeadBytePredicate isLead, std::string* problem) {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t comma = FindText(data, ",", pos, isLead);
        if (comma == kNone) {
            comma = data.size();
        }
        if (comma > pos) {
            bytes.push_back(static_cast<std::uint8_t>(ReadHex(data.substr(pos, comma - pos), 2, problem)));
        }
        pos = comma + 1;
    }
    return bytes;
}

// The one joining rule: "=hex:" lines that end in a backslash go on in the next piece. Pieces are
// the lines as delivered, each with its number; what is left unfinished at the end is not joined.
struct Joined {
    std::string text;
    std::size_t line;  // of its first piece
};
std::vector<Joined> Join(const std::vector<Joined>& pieces, LeadBytePredicate isLead, std::size_t* unfinished) {
    std::vector<Joined> lines;
    Joined current{{}, 0};
    for (const Joined& piece : pieces) {
        if (current.text.empty()) current.line = piece.line;
        current.text += piece.text;
        if (current.text.empty()) {
            continue;
        }
        if (FindText(current.text, "=hex:", 0, isLead) != kNone && EndsWithChar(current.text, '\\', isLead)) {
            current.text.pop_back();
            continue;
        }
        lines.push_back(std::move(current));
        current = Joined{{}, 0};
    }
    *unfinished = current.text.empty() ? 0 : current.line;
    return lines;
}

}  // namespace

std::optional<ValueLine> ParseValueLine(std::string_view line, LeadBytePredicate isLead, std::string* problem) {
    const std::size_t equals = FindText(line, "=", 0, isLead);
    if (equals == kNone) {
        if (problem != nullptr) *problem = "no \"=\" in a value line";
        return std::nullopt;
    }
    std::string_view name = line.substr(0, equals);
    if (!name.empty() && name.front() == '"') {
        name = StripQuotes(name, isLead);
    }
    const std::string_view valueText = line.substr(equals + 1);

    std::string_view type;
    std::string_view data;
    if (!valueText.empty() && valueText.front() == '"') {
        type = "string";
        data = StripQuotes(valueText, isLead);
    } else if (const std::size_t colon = FindText(valueText, ":", 0, isLead); colon != kNone) {
        type = valueText.substr(0, colon);
        data = valueText.substr(colon + 1);
    } else {
        type = valueText;
    }

    ValueLine value;
    if (type == "string") {
        value.kind = ValueLine::Kind::String;
        value.bytes = StringBytes(data);
    } else if (type == "dword") {
        value.kind = ValueLine::Kind::Dword;
        value.bytes = DwordBytes(data, problem);
    } else if (type == "hex") {
        value.kind = ValueLine::Kind::Binary;
        value.bytes = BinaryBytes(data, isLead, problem);
    } else {
        if (problem != nullptr) *problem = "unknown value type \"" + std::string(type) + "\" (string, dword or hex)";
        return std::nullopt;
    }
    value.name.assign(name);
    return value;
}

std::vector<std::string> JoinSectionLines(std::string_view delivered, LeadBytePredicate isLead) {
    // Lines end in a NUL; whatever follows the last one never ended (a line cut off), and neither
    // did a continued "=hex:" value whose next line never came: importing either would store a
    // value with bytes missing.
    std::vector<Joined> pieces;
    for (std::size_t start = 0, end; (end = delivered.find('\0', start)) != std::string_view::npos; start = end + 1) {
        pieces.push_back({std::string(delivered.substr(start, end - start)), 0});
    }
    std::size_t unfinished = 0;
    std::vector<std::string> lines;
    for (Joined& line : Join(pieces, isLead, &unfinished)) lines.push_back(std::move(line.text));
    return lines;
}

std::vector<ProfileSection> ReadProfileText(std::string_view text, LeadBytePredicate isLead,
                                            std::vector<TextProblem>* problems) {
    std::vector<ProfileSection> sections;
    std::vector<Joined> pieces;  // of the section being read
    bool dropping = false;       // below a header that could not be read: its lines go quietly
    auto report = [&](std::size_t line, std::string reason) {
        if (problems != nullptr && !reason.empty()) problems->push_back({line, std::move(reason)});
    };
    auto finish = [&] {
        if (dropping) pieces.clear();
        std::size_t unfinished = 0;
        for (const Joined& line : Join(pieces, isLead, &unfinished)) {
            std::string problem;
            std::optional<ValueLine> value = ParseValueLine(line.text, isLead, &problem);
            report(line.line, problem);
            if (value && sections.empty()) report(line.line, "value line outside any section");
            if (value && !sections.empty()) sections.back().values.push_back(std::move(*value));
        }
        if (unfinished != 0) report(unfinished, "a hex value continued past the end of its section");
        pieces.clear();
    };
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++number;
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        line.remove_suffix(line.size() - (line.find_last_not_of(" \t") + 1));
        if (line.empty() || line.front() == ';') continue;
        if (line.front() != '[') {
            pieces.push_back({std::string(line), number});
            continue;
        }
        finish();
        dropping = line.size() < 2 || !EndsWithChar(line, ']', isLead);
        if (dropping) {
            report(number, "section header without its closing ]");
            continue;
        }
        std::string header(line.substr(1, line.size() - 2));
        if (!ParseSectionHeader(header, isLead)) report(number, "section header names no registry root it knows");
        sections.push_back({std::move(header), number, {}});
    }
    finish();
    return sections;
}

std::optional<SectionTarget> ParseSectionHeader(std::string_view header, LeadBytePredicate isLead) {
    static constexpr std::array<std::pair<std::string_view, RootKey>, 5> kRoots{{
        {"HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
        {"HKEY_CURRENT_CONFIG", RootKey::CurrentConfig},
        {"HKEY_CURRENT_USER", RootKey::CurrentUser},
        {"HKEY_LOCAL_MACHINE", RootKey::LocalMachine},
        {"HKEY_USERS", RootKey::Users},
    }};
    const std::size_t backslash = FindText(header, "\\", 0, isLead);
    if (backslash == kNone) {
        return std::nullopt;
    }
    const std::string_view rootName = header.substr(0, backslash);
    for (const auto& [name, root] : kRoots) {
        if (name == rootName) {
            return SectionTarget{root, std::string(header.substr(backslash + 1))};
        }
    }
    return std::nullopt;
}

namespace {

// Reads "GAMMA_VALUES=%d,%d,%d" as sscanf would: literals must match exactly, each number
// starts at 0 and reading stops at the first mismatch.
std::array<int, 3> ReadGammaValues(std::string_view text) {
    std::array<int, 3> numbers{0, 0, 0};
    constexpr std::string_view kLead = "GAMMA_VALUES=";
    if (text.substr(0, kLead.size()) != kLead) {
        return numbers;
    }
    std::size_t pos = kLead.size();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',') {
                break;
            }
            ++pos;
        }
        const auto scanned = ScanDecimal(text.substr(pos));
        if (!scanned) {
            break;
        }
        numbers[i] = scanned->value;
        pos += scanned->used;
    }
    return numbers;
}

// The GAMMA_VALUES placeholder: removed from the text, and "%GAMMA%" filled from its second
// number and format. Not processed when it stands at the very first byte.
std::string FillGamma(std::string text, LeadBytePredicate isLead) {
    const std::size_t start = FindText(text, "%GAMMA_VALUES=", 0, isLead);
    if (start == kNone || start == 0) {
        return text;
    }
    const std::size_t close = FindText(text, ">%", start, isLead);
    if (close == kNone) {
        return text;
    }
    const std::string placeholder = text.substr(start, close + 2 - start);

    // The numbers stand before the last comma (which precedes the format); with no comma at
    // all nothing is read and the numbers stay 0.
    const std::string_view inner = std::string_view(text).substr(start + 1, close - start);
    const std::size_t lastComma = FindLastChar(inner, ',', isLead);
    const std::array<int, 3> numbers =
        ReadGammaValues(lastComma == kNone ? std::string_view() : inner.substr(0, lastComma));

    // The format lies strictly between the placeholder's first "<" and its closing ">"; a
    // placeholder without "<" has no usable format.
    std::optional<std::string> gamma;
    const std::size_t open = FindText(placeholder, "<", 0, isLead);
    const std::size_t formatEnd = placeholder.size() - 2;
    if (open != kNone && open < formatEnd) {
        gamma = FormatInteger(std::string_view(placeholder).substr(open + 1, formatEnd - open - 1), numbers[1],
                              isLead);
    }

    text = ReplaceAll(text, placeholder, "", isLead);
    if (gamma) {
        text = ReplaceAll(text, "%GAMMA%", *gamma, isLead);
    }
    return text;
}

}  // namespace

std::string FillDefaultProfile(std::string_view text, std::string_view rootText, LeadBytePredicate isLead) {
    std::string filled = FillGamma(std::string(text), isLead);
    filled = ReplaceAll(filled, "%ROOT%", rootText, isLead);

    std::string eventHeader = "[";
    eventHeader.append(rootText);
    eventHeader.append("\\EventProfiles]");
    const std::size_t cut = FindText(filled, eventHeader, 0, isLead);
    if (cut != kNone) {
        filled.resize(cut);
    }
    return filled;
}

}  // namespace ks
