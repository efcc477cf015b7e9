#pragma once
// Registry access shared by every subsystem, in 8-bit text where the interface's contract is ANSI
// and in wide text where names and data are carried byte for byte (the tree copy). Failures are
// reported as empty results, never thrown: most operations of the store skip silently when a key
// or value is missing.
#include <windows.h>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/win_handles.h"

namespace ks {

inline constexpr REGSAM kReadAccess = KEY_READ;                   // 0x20019
inline constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

// What a path whose last key is a registry link opens: its target, as the registry resolves any
// path, or the link key itself (which holds nothing but the link and takes no other value). Keys
// on the way to the last one are always resolved by the registry.
enum class Link { Follow, Itself };

// Opens an existing key; empty on failure, with the platform's code in `*error` when asked for.
UniqueHKey OpenKey(HKEY root, const std::string& path, REGSAM access, LONG* error = nullptr,
                   Link link = Link::Follow);
UniqueHKey OpenKey(HKEY root, const std::wstring& path, REGSAM access, LONG* error = nullptr,
                   Link link = Link::Follow);

// Creates (with every missing parent) or opens a key, non-volatile, read and write access; empty
// on failure, with the platform's code in `*error` when asked for.
UniqueHKey CreateKey(HKEY root, const std::string& path, LONG* error = nullptr, Link link = Link::Follow);
UniqueHKey CreateKey(HKEY root, const std::wstring& path, LONG* error = nullptr, Link link = Link::Follow);

// True for a key opened as itself that is a registry link: it holds the REG_LINK value
// "SymbolicLinkValue".
bool IsLink(HKEY key);

// The key's full name in the registry's own namespace ("\REGISTRY\User\<sid>\..."), as the
// platform tells it for the handle: two handles name the same live key when their names are
// equal, whatever HKEY_CURRENT_USER stands for. Empty for a deleted key.
std::optional<std::wstring> KeyFullName(HKEY key);

// A subkey met in a walk or a list, opened as itself: empty when it cannot be opened or is a
// registry link, which no walk or list of the store follows (`*link` tells which, when asked).
UniqueHKey OpenChild(HKEY parent, const std::string& name, REGSAM access, bool* link = nullptr);
UniqueHKey OpenChild(HKEY parent, const std::wstring& name, REGSAM access, bool* link = nullptr);

// RegQueryValueEx: up to `*size` bytes into `data` (may be null to ask for type and size only).
LONG QueryValue(HKEY key, const char* name, DWORD* type, void* data, DWORD* size);

// True when `key` holds a value of that name.
bool HasValue(HKEY key, const wchar_t* name);

// A string value: accepted when its type is REG_SZ or REG_EXPAND_SZ (not expanded), it fits
// `limit` bytes with its terminator and its last byte is NUL. Anything else counts as absent.
std::optional<std::string> ReadString(HKEY key, const char* name, DWORD limit);

// Up to 4 bytes of any registry type, copied over `dest` only when the value exists and fits;
// a shorter value fills only the first bytes. Otherwise `dest` stays as it was: every caller
// starts from its default.
void ReadNumber(HKEY key, const char* name, void* dest);

// A REG_DWORD of at most 4 bytes; false (dest untouched) for any other type or a failed query.
bool ReadDword(HKEY key, const char* name, DWORD* dest);

// A value of any type, exactly `size` bytes. Returns the platform's result.
LONG WriteValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size);
LONG WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size);

// REG_SZ with its terminating NUL. Returns the platform's result.
LONG WriteString(HKEY key, const char* name, const char* text);

// REG_DWORD, 4 bytes little-endian. Returns the platform's result.
LONG WriteDword(HKEY key, const char* name, DWORD value);

// Deletes a key and all its subkeys, deepest first, opening each with `access`; the depth of the
// tree costs heap, not stack. Every key is opened as itself and deleted through its own handle, so
// a registry link is removed as the link and nothing of its target is touched. Returns the first
// failure (the key's own when it cannot be opened, ERROR_FILE_NOT_FOUND when absent) and stops
// there, or ERROR_SUCCESS.
LONG DeleteTree(HKEY parent, const char* name, REGSAM access = kReadWriteAccess);

// The names of the subkeys of `key`, in the platform's order, from index 0 up to the first index
// that fails. `limit` is the name buffer in characters with its terminator: a name that does not
// fit fails its index and so ends the walk (the list loads use 64); 0 takes names of any length.
// `*complete` (when given) is cleared when the walk ended anywhere but after the last subkey.
template <class Char = char>
std::vector<std::basic_string<Char>> SubkeyNames(HKEY key, DWORD limit = 0, bool* complete = nullptr);

// Calls `visit(name, type, bytes)` for every value of `key` in the platform's order, whatever the
// sizes of its name and data; `name` is followed by a NUL and, like `bytes`, valid only for the call.
// A value that cannot be read (one that grows between every two reads) is skipped alone; the walk
// ends at the first index the platform reports anything else for, normally the end of the values.
// True when every value was read.
template <class Char>
bool ForEachValue(HKEY key,
                  const std::function<void(std::basic_string_view<Char> name, DWORD type, std::span<const BYTE> bytes)>& visit);

struct RegistryValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};
// Every value of `key` with its type and bytes, whatever their size, in the platform's order.
std::vector<RegistryValue> Values(HKEY key);

}  // namespace ks
