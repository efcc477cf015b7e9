#pragma once
// A few helpers that write JSON text for --json. Windows-free; texts must already be UTF-8.
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
        const unsigned char u = static_cast<unsigned char>(c);
        char escape[8];
        if (c == '"' || c == '\\') {
            out += {'\\', c};
        } else if (u < 0x20 || u == 0x7F) {
            std::snprintf(escape, sizeof(escape), "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

inline std::string Num(long long value) { return std::to_string(value); }
inline std::string Bool(bool value) { return value ? "true" : "false"; }
inline std::string Null() { return "null"; }

// Members are (name, already written JSON value).
using Members = std::vector<std::pair<std::string, std::string>>;

inline std::string Obj(const Members& members) {
    std::string out;
    for (const auto& [name, value] : members) out += (out.empty() ? "" : ",") + Str(name) + ":" + value;
    return "{" + out + "}";
}

inline std::string Arr(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
    return "[" + out + "]";
}

inline std::string StrArr(const std::vector<std::string>& utf8Items) {
    std::vector<std::string> items;
    for (const std::string& s : utf8Items) items.push_back(Str(s));
    return Arr(items);
}

}  // namespace ksconfig::json
