#pragma once
// BSTRs at the interface: converted to the store's 8-bit text on entry and made from it on the way
// out, through the store's one pair of code-page conversions. Only the COM layer and the store's
// own clients (ksconfig, the tests) handle them.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

#include "core/win_handles.h"

namespace ks {

// A null BSTR gives the empty text; a BSTR ends at its first NUL.
std::string ToAnsi(BSTR text);

// A new BSTR holding the text; never null.
UniqueBstr MakeBstr(std::string_view text);

// A new BSTR of a NUL-terminated 8-bit text; null in, null out.
UniqueBstr MakeBstrOrNull(const char* text);

// Hands a new BSTR of `text` to the caller through `out`; a null `out` receives nothing.
void StoreBstr(BSTR* out, std::string_view text);

}  // namespace ks
