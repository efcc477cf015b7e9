#pragma once
// Text at the interface edge: inside the store every text is 8-bit in the ANSI code page of the
// calling thread; BSTRs are converted on entry and made from 8-bit text on the way out.
// Allocation failures throw std::bad_alloc, which the method boundary turns into E_OUTOFMEMORY.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

#include "core/win_handles.h"

namespace ks {

// A null BSTR gives the empty text.
std::string ToAnsi(BSTR text);

// A new BSTR holding the text; never null.
UniqueBstr MakeBstr(std::string_view text);

// A new BSTR of a NUL-terminated 8-bit text; null in, null out.
UniqueBstr MakeBstrOrNull(const char* text);

// Hands a new BSTR of `text` to the caller through `out`; a null `out` receives nothing.
void StoreBstr(BSTR* out, std::string_view text);

// The ANSI code page's lead-byte test, in the form the Windows-free text logic takes.
bool IsAnsiLeadByte(unsigned char byte);

// Copies `text` into a fixed char field of `size` bytes, cut to fit and always NUL-terminated.
void CopyToField(char* field, size_t size, std::string_view text);

}  // namespace ks
