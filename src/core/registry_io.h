#pragma once
// Registry access shared by every subsystem. Failures are reported as empty results, never
// thrown: most operations of the store skip silently when a key or value is missing.
#include <windows.h>
#include <optional>
#include <string>
#include <vector>

#include "core/win_handles.h"

namespace ks {

inline constexpr REGSAM kReadAccess = KEY_READ;                   // 0x20019
inline constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

// Opens an existing key; empty on failure, with the platform's code in `*error` when asked for.
UniqueHKey OpenKey(HKEY root, const std::string& path, REGSAM access, LONG* error = nullptr);

// Creates (with every missing parent) or opens a key, non-volatile, read and write access; empty
// on failure, with the platform's code in `*error` when asked for.
UniqueHKey CreateKey(HKEY root, const std::string& path, LONG* error = nullptr);

// A string value: accepted when its type is REG_SZ or REG_EXPAND_SZ (not expanded), it fits
// `limit` bytes with its terminator and its last byte is NUL. Anything else counts as absent.
std::optional<std::string> ReadString(HKEY key, const char* name, DWORD limit);

// Up to 4 bytes of any registry type, copied over `dest` only when the value exists and fits;
// a shorter value fills only the first bytes. Otherwise `dest` stays as it was: every caller
// starts from its default.
void ReadNumber(HKEY key, const char* name, void* dest);

// A REG_DWORD of at most 4 bytes; false (dest untouched) for any other type or a failed query.
bool ReadDword(HKEY key, const char* name, DWORD* dest);

// REG_SZ with its terminating NUL. Returns the platform's result.
LONG WriteString(HKEY key, const char* name, const char* text);

// REG_DWORD, 4 bytes little-endian. Returns the platform's result.
LONG WriteDword(HKEY key, const char* name, DWORD value);

// Deletes a key and all its subkeys, deepest first, opening each with `access`; the depth of the
// tree costs heap, not stack. Returns the first failure (the key's own when it cannot be opened,
// ERROR_FILE_NOT_FOUND when absent) and stops there, or ERROR_SUCCESS.
LONG DeleteTree(HKEY parent, const char* name, REGSAM access = kReadWriteAccess);

// The names of the subkeys of `key`, whatever their length, in the platform's order; the walk
// ends at the first index that fails.
std::vector<std::string> SubkeyNames(HKEY key);

struct RegistryValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};
// Every value of `key` with its type and bytes, whatever their size, in the platform's order.
std::vector<RegistryValue> Values(HKEY key);

}  // namespace ks
