#include "reg_text.h"

#include <algorithm>
#include <optional>

#include "core/pure/key_path.h"

namespace ksconfig::regtext {
namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
// Hexadecimal values are continued on the next line once a line reaches this width.
constexpr std::size_t kHexLineWidth = 77;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimLeft(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::u16string_view Trim(std::u16string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// 1 to `maxDigits` hexadecimal digits and nothing else.
std::optional<std::uint32_t> HexNumber(std::u16string_view s, std::size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::uint32_t n = 0;
    for (char16_t c : s) {
        const char16_t lower = c | 0x20;
        if (c >= u'0' && c <= u'9') n = n << 4 | (c - u'0');
        else if (lower >= u'a' && lower <= u'f') n = n << 4 | (lower - u'a' + 10);
        else return std::nullopt;
    }
    return n;
}

std::string Quote(std::u16string_view s) {
    constexpr std::size_t kShown = 40;
    return "\"" + Utf8(s.substr(0, kShown)) + (s.size() > kShown ? "...\"" : "\"");
}

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

}  // namespace

void AppendUtf16(std::vector<std::uint8_t>& out, std::u16string_view text) {
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

namespace {

// The escapes of quoted texts: a backslash and the character, for the character.
constexpr std::u16string_view kEscaped = u"\\\"nr0", kUnescaped{u"\\\"\n\r\0", 5};

std::vector<std::uint8_t> SzData(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    AppendUtf16(data, std::u16string(text) + u'\0');
    return data;
}

// What a key name must be in either format; empty when it is fine.
std::string PathProblem(std::u16string_view path) {
    if (path.empty()) return "empty key name";
    if (path.front() == u'-') return "deleting keys ([-...]) is not supported";
    if (path.find(u'\0') != std::u16string_view::npos) return "a key name cannot hold NUL";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find(u'\\', start);
        std::size_t length = (end == std::u16string_view::npos ? path.size() : end) - start;
        if (length == 0) return "empty part in key name " + Quote(path);
        if (length > 255) return "a part of key name " + Quote(path) + " is longer than 255 characters";
        if (end == std::u16string_view::npos) return {};
        start = end + 1;
    }
}

class Reader {
public:
    explicit Reader(std::u16string_view text) : text_(text), lines_(SplitLines(text)) {}

    Document Read() {
        const std::u16string_view first = lines_.empty() ? std::u16string_view() : Trim(lines_[0]);
        if (first != kHeader5 && first != kHeader4) return std::move(doc_);  // profile text: the store's reader reads it
        doc_.format = first == kHeader5 ? Format::Reg5 : Format::Reg4;
        for (next_ = 1; next_ < lines_.size();) RegLine();
        // Every writer ends its last line; a file cut short mostly does not, and its last value
        // may still read as a shorter one.
        if (!text_.empty() && text_.back() != u'\r' && text_.back() != u'\n' && !Trim(lines_.back()).empty()) {
            Bad(lines_.size(), "the file ends inside this line: cut short? (a whole file ends with a line break)");
        }
        return std::move(doc_);
    }

private:
    // Records a problem; false, for a reader that stops there.
    bool Bad(std::size_t line, std::string reason) {
        doc_.problems.push_back({line, std::move(reason)});
        return false;
    }

    void OpenKey(std::u16string_view path, std::size_t line) {
        if (std::string problem = PathProblem(path); !problem.empty()) {
            Bad(line, problem);
            state_ = State::BadKey;
            return;
        }
        doc_.keys.push_back({std::u16string(path), {}, line});
        state_ = State::InKey;
    }

    void AddValue(Value value) {
        if (state_ == State::BeforeKey) {
            Bad(value.line, "value line outside any key");
        } else if (state_ == State::InKey) {
            doc_.keys.back().values.push_back(std::move(value));
        }
    }

    // A "=hex:" value continued with trailing backslashes, joined; false when the file ends first.
    bool JoinContinued(std::u16string& text) {
        for (;;) {
            std::u16string_view trimmed = Trim(StripComment(text));
            if (trimmed.empty() || trimmed.back() != u'\\') {
                text.assign(trimmed);
                return true;
            }
            text.assign(trimmed.substr(0, trimmed.size() - 1));
            if (next_ >= lines_.size()) return false;
            text += Trim(lines_[next_++]);
        }
    }

    // Registry editor format: hex data may be followed by a comment.
    static std::u16string_view StripComment(std::u16string_view s) {
        std::size_t semicolon = s.find(u';');
        return semicolon == std::u16string_view::npos ? s : s.substr(0, semicolon);
    }

    // "0a,1b,ff": two hexadecimal digits a byte, blanks around them allowed. A piece of one digit
    // or a comma at the end is what a file cut short leaves, so neither is taken.
    bool HexBytes(std::u16string_view text, std::vector<std::uint8_t>& out, std::size_t line) {
        text = Trim(text);
        if (text.empty()) return true;
        for (std::size_t start = 0;;) {
            std::size_t comma = text.find(u',', start);
            std::u16string_view piece = Trim(text.substr(start, comma == std::u16string_view::npos ? comma : comma - start));
            std::optional<std::uint32_t> byte = piece.size() == 2 ? HexNumber(piece, 2) : std::nullopt;
            if (!byte) return Bad(line, Quote(piece) + " is not a byte of two hexadecimal digits");
            out.push_back(static_cast<std::uint8_t>(*byte));
            if (comma == std::u16string_view::npos) return true;
            start = comma + 1;
        }
    }

    // Reads an escaped quoted text starting after its opening quote; the rest after the closing
    // quote goes to `rest`.
    std::optional<std::u16string> Unescape(std::u16string_view s, std::u16string_view& rest, std::size_t line) {
        std::u16string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            char16_t c = s[i];
            if (c == u'"') {
                rest = s.substr(i + 1);
                return out;
            }
            if (c != u'\\') {
                out += c;
                continue;
            }
            if (++i == s.size()) break;
            const std::size_t escape = kEscaped.find(s[i]);
            if (escape == std::u16string_view::npos) {
                Bad(line, "unknown escape \\" + Utf8(s.substr(i, 1)));
                return std::nullopt;
            }
            out += kUnescaped[escape];
        }
        Bad(line, "a quoted text without its closing quote");
        return std::nullopt;
    }

    void RegLine() {
        const std::size_t line = ++next_;
        std::u16string_view text = TrimLeft(lines_[line - 1]);
        if (text.empty() || text.front() == u';' || text.front() == u'#') return;
        if (text.front() == u'[') {
            std::size_t close = text.rfind(u']');
            if (close == std::u16string_view::npos) {
                Bad(line, "key line without its closing ]");
                state_ = State::BadKey;
            } else if (!Trim(StripComment(text.substr(close + 1))).empty()) {
                Bad(line, "text after the key line's closing ]");
                state_ = State::BadKey;
            } else {
                OpenKey(text.substr(1, close - 1), line);
            }
            return;
        }
        Value value;
        value.line = line;
        std::u16string_view rest;
        if (text.front() == u'@') {
            rest = text.substr(1);
        } else if (text.front() == u'"') {
            std::optional<std::u16string> name = Unescape(text.substr(1), rest, line);
            if (!name) return;
            if (name->find(u'\0') != std::u16string::npos) return (void)Bad(line, "a value name cannot hold NUL");
            value.name = std::move(*name);
        } else {
            return (void)Bad(line, "not a key, value or comment line");
        }
        rest = TrimLeft(rest);
        if (rest.empty() || rest.front() != u'=') return (void)Bad(line, "no \"=\" after the value name");
        if (RegData(Trim(rest.substr(1)), value)) AddValue(std::move(value));
    }

    bool RegData(std::u16string_view data, Value& value) {
        const std::size_t line = value.line;
        if (!data.empty() && data.front() == u'"') {
            std::u16string_view after;
            std::optional<std::u16string> text = Unescape(data.substr(1), after, line);
            if (!text) return false;
            if (!Trim(StripComment(after)).empty()) return Bad(line, "text after the closing quote");
            value.type = kTypeSz;
            value.data = SzData(*text);
            return true;
        }
        if (data == u"-") return Bad(line, "deleting values (=-) is not supported");
        if (data.substr(0, 6) == u"dword:") {
            std::optional<std::uint32_t> n = HexNumber(Trim(StripComment(data.substr(6))), 8);
            if (!n) return Bad(line, "dword: needs 1 to 8 hexadecimal digits, not " + Quote(data.substr(6)));
            value.type = kTypeDword;
            for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<std::uint8_t>(*n >> shift));
            return true;
        }
        std::u16string_view bytes;
        if (data.substr(0, 4) == u"hex:") {
            value.type = kTypeBinary;
            bytes = data.substr(4);
        } else if (data.substr(0, 4) == u"hex(") {
            std::size_t close = data.find(u"):");
            std::optional<std::uint32_t> type =
                close == std::u16string_view::npos ? std::nullopt : HexNumber(data.substr(4, close - 4), 8);
            if (!type) return Bad(line, "hex( needs a hexadecimal type number and \"):\"");
            value.type = *type;
            bytes = data.substr(close + 2);
        } else {
            return Bad(line, "unknown value type in " + Quote(data));
        }
        value.hexData = true;
        std::u16string joined(bytes);
        if (!JoinContinued(joined)) return Bad(line, "a hex value continued past the end of the file");
        return HexBytes(joined, value.data, line);
    }

    enum class State { BeforeKey, InKey, BadKey };  // BadKey: values of a refused key are dropped quietly
    std::u16string_view text_;
    std::vector<std::u16string_view> lines_;
    std::size_t next_ = 0;  // index of the next line to read
    State state_ = State::BeforeKey;
    Document doc_;
};

std::u16string Escape(std::u16string_view s) {  // a NUL is no character of a whole text
    std::u16string out;
    for (char16_t c : s) {
        const std::size_t escape = c == u'\0' ? std::u16string_view::npos : kUnescaped.find(c);
        out += escape == std::u16string_view::npos ? std::u16string(1, c) : std::u16string{u'\\', kEscaped[escape]};
    }
    return out;
}

// The text of REG_SZ data that is exactly one NUL-terminated UTF-16 text.
std::optional<std::u16string> WholeText(const std::vector<std::uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
    std::u16string text;
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (c == 0) return std::nullopt;
        text += c;
    }
    if (data[data.size() - 2] != 0 || data.back() != 0) return std::nullopt;
    return text;
}

std::u16string HexText(std::uint32_t n, int digits) {
    std::u16string out(static_cast<std::size_t>(digits), u'0');
    for (int i = digits - 1; i >= 0; --i, n >>= 4) out[static_cast<std::size_t>(i)] = u"0123456789abcdef"[n & 0xF];
    return out;
}

void WriteValue(const Value& v, std::u16string& out) {
    std::u16string line = v.name.empty() ? u"@=" : u"\"" + Escape(v.name) + u"\"=";
    if (std::optional<std::u16string> text = v.type == kTypeSz ? WholeText(v.data) : std::nullopt) {
        out += line + u"\"" + Escape(*text) + u"\"\r\n";
        return;
    }
    if (v.type == kTypeDword && v.data.size() == 4) {
        std::uint32_t n = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<std::uint32_t>(v.data[3]) << 24;
        out += line + u"dword:" + HexText(n, 8) + u"\r\n";
        return;
    }
    if (v.type == kTypeBinary) {
        line += u"hex:";
    } else {  // the type number without leading zeros, as the registry editor writes it
        std::u16string type = HexText(v.type, 8);
        type.erase(0, std::min<std::size_t>(type.find_first_not_of(u'0'), 7));
        line += u"hex(" + type + u"):";
    }
    for (std::size_t i = 0; i < v.data.size(); ++i) {
        line += HexText(v.data[i], 2);
        if (i + 1 == v.data.size()) break;
        line += u',';
        if (line.size() >= kHexLineWidth) {
            out += line + u"\\\r\n";
            line = u"  ";
        }
    }
    out += line + u"\r\n";
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {  // ASCII letters, as the registry compares
    const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char16_t x, char16_t y) { return upper(x) == upper(y); });
}

}  // namespace

Document Parse(std::u16string_view text) { return Reader(text).Read(); }

std::u16string Write(const std::vector<Key>& keys, std::vector<std::u16string>* leftOut) {
    std::u16string out = std::u16string(kHeader5) + u"\r\n";
    for (const Key& key : keys) {
        if (key.path.find_first_of(u"\r\n") != std::u16string::npos) {
            if (leftOut != nullptr) leftOut->push_back(key.path);
            continue;
        }
        out += u"\r\n[" + key.path + u"]\r\n";
        for (const Value& v : key.values) WriteValue(v, out);
    }
    return out + u"\r\n";
}

std::string Refusal(std::u16string_view path) {
    std::size_t slash = path.find(u'\\');
    std::u16string_view root = path.substr(0, slash);
    std::u16string_view below = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    const std::string allowed = std::string("only HKEY_CURRENT_USER\\") + ks::kSettingsRoot + " and HKEY_CURRENT_USER\\" +
                                ks::kBackupRoot + " and their keys are written";
    if (!EqualNoCase(root, u"HKEY_CURRENT_USER")) return Quote(root) + " is refused: " + allowed;
    for (const char* tree : {ks::kSettingsRoot, ks::kBackupRoot}) {
        std::u16string top = Widen(tree);
        if (EqualNoCase(below.substr(0, top.size()), top) && (below.size() == top.size() || below[top.size()] == u'\\')) {
            return {};
        }
    }
    return Quote(path) + " is outside the settings: " + allowed;
}

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        // A lead byte with a 1 bit for each byte that follows, then six bits in each of those.
        const int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out += static_cast<char>(more == 0 ? c : (0xF00 >> (more + 1) & 0xFF) | c >> 6 * more);
        for (int i = more - 1; i >= 0; --i) out += static_cast<char>(0x80 | (c >> 6 * i & 0x3F));
    }
    return out;
}

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace ksconfig::regtext
