#pragma once
// Helpers of the scan profile and event tests.
#include <cstring>
#include <regex>
#include <string>

#include "support/ks_test.h"

namespace kstest {

inline void SetText(char* field, const std::string& text) { std::memcpy(field, text.c_str(), text.size() + 1); }
template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}
// What reading a stored record gives back: bytes after each text's terminator are zero.
template <std::size_t N>
void ClearAfterText(char (&field)[N]) {
    std::size_t n = strnlen(field, N - 1);
    std::memset(field + n, 0, N - n);
}
// The key name the store makes: a GUID in registry form, braces replaced by '*'.
inline bool IsGuidKeyName(const std::string& name) {
    return std::regex_match(name, std::regex(R"(\*[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\*)"));
}

}  // namespace kstest
