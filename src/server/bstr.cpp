#include "server/bstr.h"

#include <cstring>
#include <new>

#include "core/text.h"

namespace ks {

std::string ToAnsi(BSTR text) {
    if (text == nullptr) return {};
    std::string result = Narrow(std::wstring_view(text, SysStringLen(text)));
    // A BSTR may carry embedded NULs; the store's texts end at the first one.
    result.resize(std::strlen(result.c_str()));
    return result;
}

UniqueBstr MakeBstr(std::string_view text) {
    const std::wstring wide = Widen(text);
    UniqueBstr result(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    if (!result) throw std::bad_alloc();
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

}  // namespace ks
