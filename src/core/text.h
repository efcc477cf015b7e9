#pragma once
// Text inside the store: every text is 8-bit in the ANSI code page of the calling thread, and
// wide text (registry names, BSTRs at the interface) passes through one pair of code-page
// conversions. Allocation failures throw std::bad_alloc, which the boundary turns into
// E_OUTOFMEMORY.
#include <windows.h>
#include <string>
#include <string_view>

#include "core/win_handles.h"

namespace ks {

// The one pair of code-page conversions; a text the code page cannot convert at all throws.
std::wstring Widen(std::string_view text, UINT codePage = CP_THREAD_ACP);
std::string Narrow(std::wstring_view text, UINT codePage = CP_THREAD_ACP);

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
