#include "core/text.h"

#include <cstring>
#include <new>
#include <vector>

namespace ks {

std::string ToAnsi(BSTR text) {
    if (text == nullptr) return {};
    int wideLength = static_cast<int>(SysStringLen(text));
    if (wideLength == 0) return {};
    int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) throw std::bad_alloc();
    std::string result(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, result.data(), bytes, nullptr, nullptr);
    // A BSTR may carry embedded NULs; the store's texts end at the first one.
    result.resize(std::strlen(result.c_str()));
    return result;
}

UniqueBstr MakeBstr(std::string_view text) {
    int length = static_cast<int>(text.size());
    int wide = length == 0 ? 0 : MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (length != 0 && wide <= 0) throw std::bad_alloc();
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
    if (!result) throw std::bad_alloc();
    if (wide > 0) MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, result.get(), wide);
    result.get()[wide] = L'\0';
    return result;
}

UniqueBstr MakeBstrOrNull(const char* text) {
    if (text == nullptr) return UniqueBstr();
    return MakeBstr(text);
}

void StoreBstr(BSTR* out, std::string_view text) {
    UniqueBstr value = MakeBstr(text);
    if (out != nullptr) *out = value.release();
}

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

void CopyToField(char* field, size_t size, std::string_view text) {
    if (size == 0) return;
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace ks
