#include "core/text.h"

#include <cstring>
#include <new>

namespace ks {

std::wstring Widen(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (wide <= 0) throw std::bad_alloc();
    std::wstring result(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, result.data(), wide);
    return result;
}

std::string Narrow(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) throw std::bad_alloc();
    std::string result(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), length, result.data(), bytes, nullptr, nullptr);
    return result;
}

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

std::string FieldText(const char* field, size_t size) {
    if (size == 0) return {};
    const void* end = std::memchr(field, '\0', size - 1);
    return std::string(field, end ? static_cast<const char*>(end) - field : size - 1);
}

void CopyToField(char* field, size_t size, std::string_view text) {
    if (size == 0) return;
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), n);
}

std::string GuidText(const GUID& guid) {
    wchar_t wide[39] = {};
    StringFromGUID2(guid, wide, 39);
    return std::string(wide, wide + 38);  // hexadecimal digits, hyphens and braces: plain ASCII
}

}  // namespace ks
