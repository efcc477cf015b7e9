#pragma once
// A few helpers that write JSON text for the --json listings. Windows-free; texts must already
// be UTF-8.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ksconfig::json {

// A JSON string literal: quotes, backslashes and control characters escaped.
inline std::string Str(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    char esc[8];
                    std::snprintf(esc, sizeof(esc), "\\u%04x", u);
                    out += esc;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

inline std::string Num(long long value) { return std::to_string(value); }
inline std::string Bool(bool value) { return value ? "true" : "false"; }
inline std::string Null() { return "null"; }

// Members are (name, already written JSON value).
using Members = std::vector<std::pair<std::string, std::string>>;

inline std::string Obj(const Members& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) out += ',';
        out += Str(members[i].first);
        out += ':';
        out += members[i].second;
    }
    out += '}';
    return out;
}

inline std::string Arr(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        out += items[i];
    }
    out += ']';
    return out;
}

inline std::string StrArr(const std::vector<std::string>& utf8Items) {
    std::vector<std::string> items;
    items.reserve(utf8Items.size());
    for (const std::string& s : utf8Items) items.push_back(Str(s));
    return Arr(items);
}

}  // namespace ksconfig::json
