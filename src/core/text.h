#pragma once
// Text at the edges: inside the store every text is 8-bit in the ANSI code page of the calling
// thread; BSTRs are converted on entry and made from 8-bit text on the way out, through one pair of
// code-page conversions. Allocation failures throw std::bad_alloc, which the boundary turns into
// E_OUTOFMEMORY.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

#include "core/win_handles.h"

namespace ks {

// The one pair of code-page conversions; a text the code page cannot convert at all throws.
std::wstring Widen(std::string_view text, UINT codePage = CP_THREAD_ACP);
std::string Narrow(std::wstring_view text, UINT codePage = CP_THREAD_ACP);

// A null BSTR gives the empty text; a BSTR ends at its first NUL.
std::string ToAnsi(BSTR text);

// A new BSTR holding the text; never null.
UniqueBstr MakeBstr(std::string_view text);

// A new BSTR of a NUL-terminated 8-bit text; null in, null out.
UniqueBstr MakeBstrOrNull(const char* text);

// Hands a new BSTR of `text` to the caller through `out`; a null `out` receives nothing.
void StoreBstr(BSTR* out, std::string_view text);

// The ANSI code page's lead-byte test, in the form the Windows-free text logic takes.
bool IsAnsiLeadByte(unsigned char byte);

// The text of a fixed char field of a record: up to its first NUL, at most size - 1 characters, so
// a field that a client left unterminated never runs into the next one.
std::string FieldText(const char* field, size_t size);
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}

// Copies `text` into a fixed char field of `size` bytes, cut to fit, NUL-terminated, the rest zero.
void CopyToField(char* field, size_t size, std::string_view text);

// A GUID in registry form, with braces and upper-case digits: "{6D0E5C1A-33F2-...}".
std::string GuidText(const GUID& guid);

}  // namespace ks
