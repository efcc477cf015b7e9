#include "values.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace ksconfig {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualNoCase(std::string_view a, std::string_view b) { return Fold(a) == Fold(b); }

}  // namespace

std::string Fold(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
}

std::optional<std::uint32_t> ParseNumber(std::string_view text, bool isSigned, Names names, std::string& why) {
    why.clear();
    if (!names.empty() && !text.empty() && !IsDigit(text[0]) && text[0] != '-') {
        std::uint32_t bits = 0;
        for (std::size_t start = 0;;) {
            const std::size_t bar = text.find('|', start);
            const std::string_view name = text.substr(start, bar == std::string_view::npos ? bar : bar - start);
            auto member = std::find_if(names.begin(), names.end(), [&](const ks::EnumName& m) { return m.name == name; });
            if (member == names.end()) {
                why = "\"" + std::string(name) + "\" is not a member of the field's enumeration (" +
                      std::string(names.front().name) + ", ...)";
                return std::nullopt;
            }
            bits |= member->value;
            if (bar == std::string_view::npos) return bits;
            start = bar + 1;
        }
    }
    const long long low = isSigned ? -2147483648LL : 0, high = isSigned ? 2147483647LL : 4294967295LL;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string_view digits = text.substr(hex ? 2 : 0);
    long long n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n, hex ? 16 : 10);
    // No sign but a signed decimal's minus; no blanks or "+", which from_chars refuses too.
    if (error == std::errc() && end == digits.data() + digits.size() && (digits[0] != '-' || (isSigned && !hex)) &&
        n >= (hex ? 0 : low) && n <= (hex ? 0xFFFFFFFFLL : high)) {
        return static_cast<std::uint32_t>(n);
    }
    why = "\"" + std::string(text) + "\" is not a number from " + std::to_string(low) + " to " + std::to_string(high) +
          " (or 0x and hexadecimal digits up to 0xffffffff)";
    return std::nullopt;
}

std::optional<std::size_t> FindField(std::span<const FieldName> fields, std::string_view wanted, std::string& why) {
    std::vector<std::size_t> fits;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].key == wanted) return i;
        if (EqualNoCase(fields[i].key, wanted) || (!fields[i].value.empty() && EqualNoCase(fields[i].value, wanted))) {
            fits.push_back(i);
        }
    }
    if (fits.size() == 1) return fits.front();
    std::string list;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!fits.empty() && std::find(fits.begin(), fits.end(), i) == fits.end()) continue;
        if (!list.empty()) list += fits.empty() ? ", " : " or ";
        list += std::string(fields[i].key);
        if (!fits.empty()) list += " (registry value \"" + std::string(fields[i].value) + "\")";
    }
    why = fits.empty() ? "no field \"" + std::string(wanted) + "\"; the fields are " + list
                       : "\"" + std::string(wanted) + "\" could be " + list + ": give the field's exact name";
    return std::nullopt;
}

std::string ShowValue(std::uint32_t type, std::span<const std::uint8_t> data, Narrower wide) {
    char piece[32];
    if (type == 4 && data.size() == 4) {  // REG_DWORD
        std::snprintf(
            piece, sizeof(piece), "dword:%08lx",
            static_cast<unsigned long>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24));
        return piece;
    }
    if (type == 1 || type == 2) {  // REG_SZ, REG_EXPAND_SZ: one text ending in its NUL
        std::string text(data.begin(), data.end());
        if (wide != nullptr) {
            std::u16string w;
            for (std::size_t i = 0; i + 1 < data.size(); i += 2) w += static_cast<char16_t>(data[i] | data[i + 1] << 8);
            const bool whole = data.size() % 2 == 0 && !w.empty() && w.find(u'\0') == w.size() - 1;
            text = whole ? wide(w.substr(0, w.size() - 1)) + '\0' : std::string();
        }
        if (!text.empty() && text.find('\0') == text.size() - 1) {
            return (type == 2 ? "expand:\"" : "\"") + text.substr(0, text.size() - 1) + "\"";
        }
    }
    std::snprintf(piece, sizeof(piece), "hex(%lx):", static_cast<unsigned long>(type));
    std::string out = type == 3 ? "hex:" : piece;
    for (std::size_t i = 0; i < data.size() && i < 16; ++i) {
        std::snprintf(piece, sizeof(piece), i ? ",%02x" : "%02x", data[i]);
        out += piece;
    }
    if (data.size() > 16) out += ",... (" + std::to_string(data.size()) + " bytes)";
    return out;
}

void Tree::AddKey(const std::string& path) { keys[Fold(path)] = path; }

void Tree::AddValue(Value value) {
    std::string folded = Fold(value.path) + '\x01' + Fold(value.name);
    values[std::move(folded)] = std::move(value);
}

std::vector<Difference> Missing(const Tree& from, const Tree& to, bool withChanged) {
    std::vector<Difference> out;
    for (const auto& [folded, path] : from.keys) {
        if (to.keys.count(folded) == 0) out.push_back({true, path, "", false, "", ""});
    }
    for (const auto& [folded, v] : from.values) {
        auto other = to.values.find(folded);
        if (other == to.values.end()) {
            out.push_back({false, v.path, v.name, false, ShowValue(v.type, v.data), ""});
        } else if (withChanged && (other->second.type != v.type || other->second.data != v.data)) {
            out.push_back({false, v.path, v.name, true, ShowValue(v.type, v.data),
                           ShowValue(other->second.type, other->second.data)});
        }
    }
    return out;
}

std::vector<Difference> Collapsed(const std::vector<Difference>& list) {
    std::vector<Difference> out;
    std::vector<std::string> keys;  // folded paths of the missing keys kept so far
    for (const Difference& d : list) {
        const std::string path = Fold(d.path);
        const bool below = std::any_of(keys.begin(), keys.end(), [&](const std::string& k) {
            return path == k || path.compare(0, k.size() + 1, k + "\\") == 0;
        });
        if (below) continue;
        if (d.key) keys.push_back(path);
        out.push_back(d);
    }
    return out;
}

}  // namespace ksconfig
