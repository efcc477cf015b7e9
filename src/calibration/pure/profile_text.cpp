#include "calibration/pure/profile_text.h"

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

std::vector<std::uint8_t> DwordBytes(std::string_view data) {
    const std::uint32_t number = ScanHex(data, 8).value_or(0);
    return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

// Pieces between commas, as a tokenizer splits them: runs of commas are one separator and
// commas at either end give no piece.
std::vector<std::uint8_t> BinaryBytes(std::string_view data, LeadBytePredicate isLead) {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t comma = FindText(data, ",", pos, isLead);
        if (comma == kNone) {
            comma = data.size();
        }
        if (comma > pos) {
            bytes.push_back(static_cast<std::uint8_t>(ScanHex(data.substr(pos, comma - pos), 2).value_or(0)));
        }
        pos = comma + 1;
    }
    return bytes;
}

}  // namespace

std::optional<ValueLine> ParseValueLine(std::string_view line, LeadBytePredicate isLead) {
    const std::size_t equals = FindText(line, "=", 0, isLead);
    if (equals == kNone) {
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
        value.bytes = DwordBytes(data);
    } else if (type == "hex") {
        value.kind = ValueLine::Kind::Binary;
        value.bytes = BinaryBytes(data, isLead);
    } else {
        return std::nullopt;
    }
    value.name.assign(name);
    return value;
}

std::vector<std::string> JoinSectionLines(std::string_view delivered, LeadBytePredicate isLead) {
    std::vector<std::string> lines;
    std::string current;  // the line being built, continued "=hex:" lines included
    for (const char c : delivered) {
        if (c != '\0') {
            current.push_back(c);
            continue;
        }
        if (current.empty()) {
            continue;
        }
        if (FindText(current, "=hex:", 0, isLead) != kNone && EndsWithChar(current, '\\', isLead)) {
            current.pop_back();
            continue;
        }
        lines.push_back(std::move(current));
        current.clear();
    }
    // Whatever is left never ended: a line cut off without its NUL, or a continued "=hex:" value
    // whose next line never came. Importing it would store a table with bytes missing.
    return lines;
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
