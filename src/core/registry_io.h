#pragma once
// Registry access shared by every subsystem, in 8-bit text where the interface's contract is ANSI
// and in wide text where names and data are carried byte for byte (the tree copy). Failures are
// reported as empty results, never thrown: most operations of the store skip silently when a key
// or value is missing.
#include <windows.h>
#include <cstdint>
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

// The key's full name in the registry's own namespace ("\REGISTRY\User\<sid>\..."), as the
// platform tells it for the handle: two handles name the same live key when their names are
// equal, whatever HKEY_CURRENT_USER stands for. Empty for a deleted key.
std::optional<std::wstring> KeyFullName(HKEY key);

// A registry link is told by what the registry does with it, never by what it holds: opened by its
// name it leads to a key of another name (or, when its target is missing, to none), while the link
// opened as itself is there. A plain key holding a REG_LINK value named "SymbolicLinkValue" (any
// program may write one anywhere) is a plain key.
//
// The subkey `name` of `parent` (whose full name is `parentName`), opened as the key it names with
// `access`: empty when it cannot be opened (the platform's code in `*error`) or is a registry link
// (`*link` set), which is then neither opened nor followed.
UniqueHKey OpenChild(HKEY parent, const std::wstring& parentName, const std::wstring& name, REGSAM access,
                     bool* link, LONG* error = nullptr);

// The subkey `name` of `parent`, opened for reading and writing or created when missing, never
// through a registry link: empty (with `*link` set) when the name is a link, so that nothing is
// written through one.
UniqueHKey CreateChild(HKEY parent, const std::wstring& parentName, const std::wstring& name, bool* link);

// The key at `path`, opened or created as itself; empty when it cannot be, or when it is a registry
// link (`*link` set when asked for). Keys on the way to it are resolved by the registry.
UniqueHKey OpenUnlessLink(HKEY root, const std::string& path, bool create, bool* link = nullptr);

// One walk over the keys below a top key, in a stated order: depth first, each key before its
// subkeys, a key's subkeys in the registry's enumeration order as it stood when the key was entered
// (values are not walked: ForEachValue reads a key's values in the platform's order). Names pass as
// wide text, byte for byte. Every key is opened as the key it names (OpenChild) and never through a
// registry link: a link is reported and neither opened nor entered, so no link makes a cycle. The
// keys on the way down are kept on the heap: any depth costs the caller's stack nothing.
class TreeVisitor {
public:
    enum class Next { Descend, Skip, Stop };
    // Before a subkey is opened: Skip leaves it unopened, Stop ends the walk. Depth 1 is the top's own.
    virtual Next Meet(const std::wstring& name, std::size_t depth);
    // An opened subkey: Descend walks its subkeys next, Skip goes on with its siblings.
    virtual Next Enter(HKEY key, const std::wstring& name, std::size_t depth) = 0;
    // After the subkeys of a key entered with Descend, while it is still open; false ends the walk.
    virtual bool Leave(HKEY key, std::size_t depth);
    // A subkey that is a registry link; `parent` is the open key above it.
    virtual void Link(HKEY parent, const std::wstring& name, std::size_t depth);
    // A key whose subkeys could not all be listed (`name` empty), or a subkey at `depth` that could
    // not be opened; false ends the walk.
    virtual bool Failed(const std::wstring& name, std::size_t depth, LONG error);

protected:
    ~TreeVisitor() = default;
};

// Walks below `top`, opening subkeys with `access`, no deeper than `maxDepth` (1: the top's own
// subkeys). ERROR_SUCCESS when every key was listed and opened (a link counts as visited) and no
// visitor call ended the walk; otherwise the first failure, or ERROR_CANCELLED when stopped.
LONG WalkTree(HKEY top, REGSAM access, TreeVisitor& visitor, std::size_t maxDepth = SIZE_MAX);

// The list loads' walk: the subkeys of `key` opened for reading, in the registry's order, as the
// store's 8-bit records name them. A name whose 8-bit form does not fit the lists' 64-byte name
// buffer ends the list, as the platform's 8-bit enumeration ends there; one longer than `maxName`
// or with no exact 8-bit form is skipped, so a listed name always addresses its own key; a registry
// link is left out.
inline constexpr std::size_t kListNameBuffer = 64;
void ListSubkeys(HKEY key, std::size_t maxName, const std::function<void(HKEY subkey, const std::string& name)>& visit);

// RegQueryValueEx: up to `*size` bytes into `data` (may be null to ask for type and size only).
LONG QueryValue(HKEY key, const char* name, DWORD* type, void* data, DWORD* size);

// True when `key` holds a value of that name.
bool HasValue(HKEY key, const wchar_t* name);

// The store's read rules, each written once here; a value that a rule refuses counts as absent and
// the caller's default stands. `*seen` (when asked for) tells what was stored and what the rule made
// of it, so that a tool can say why a value reads other than it is stored.
struct ValueSeen {
    enum class Verdict { Absent, Read, Cut, OtherType, TooLarge, Unterminated };
    Verdict verdict = Verdict::Absent;
    DWORD type = REG_NONE;  // as stored
    DWORD size = 0;         // bytes stored (the platform's 8-bit form for texts)
};

// String: REG_SZ or REG_EXPAND_SZ (not expanded) that fits `limit` bytes with its terminator as
// its last byte.
std::optional<std::string> ReadString(HKEY key, const char* name, DWORD limit, ValueSeen* seen = nullptr);

// Any text: a value of any type that fits `limit` bytes, taken up to its first NUL and to at most
// limit - 1 bytes, so the field it fills always ends with a terminator.
std::optional<std::string> ReadAnyText(HKEY key, const char* name, DWORD limit, ValueSeen* seen = nullptr);

// Number: up to 4 bytes of any type, copied over `dest` only when the value exists and fits; a
// shorter value fills only the first bytes. Otherwise `dest` stays as it was.
void ReadNumber(HKEY key, const char* name, void* dest, ValueSeen* seen = nullptr);

// Dword: a REG_DWORD of at most 4 bytes (zero-extended); false, `dest` untouched, for anything else.
bool ReadDword(HKEY key, const char* name, DWORD* dest, ValueSeen* seen = nullptr);

// The bytes to hand the platform's value-setting calls so that they store exactly the given ones.
// Those calls add a terminator to a text value that lacks one when the character after its data is
// NUL, so a text goes from a copy followed by characters that are not; other types pass as they are.
class ExactValue {
public:
    ExactValue(DWORD type, const void* data, DWORD size);
    const BYTE* data() const { return data_; }
    DWORD size() const { return size_; }

private:
    std::vector<BYTE> copy_;
    const BYTE* data_;
    DWORD size_;
};

// A value of any type, exactly `size` bytes, text without its terminator included. Returns the
// platform's result.
LONG WriteValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size);
LONG WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size);

// REG_SZ with its terminating NUL. Returns the platform's result.
LONG WriteString(HKEY key, const char* name, const char* text);

// REG_DWORD, 4 bytes little-endian. Returns the platform's result.
LONG WriteDword(HKEY key, const char* name, DWORD value);

// Deletes a key and all its subkeys, deepest first (a walk), each opened with `access`. The key is
// opened as itself and a registry link met below it is deleted as the link, so nothing of a link's
// target is touched. Returns the first failure (the key's own when it cannot be opened,
// ERROR_FILE_NOT_FOUND when absent) and stops there, or ERROR_SUCCESS.
LONG DeleteTree(HKEY parent, const char* name, REGSAM access = kReadWriteAccess);

// The names of the subkeys of `key`, in the platform's order, from index 0 up to the first index
// that fails: a name longer than `limit` characters (with its terminator; 0 for any length) ends
// the list. `*complete` (when given) is cleared when it ended anywhere but after the last subkey.
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

// Points this process's HKEY_CURRENT_USER at `key` (the store is in-process and follows) while it
// lives, then back at the real one. `Error()` is the platform's answer; nothing is redirected unless
// it is ERROR_SUCCESS.
class CurrentUserRedirect {
public:
    explicit CurrentUserRedirect(HKEY key) : error_(RegOverridePredefKey(HKEY_CURRENT_USER, key)) {}
    CurrentUserRedirect(const CurrentUserRedirect&) = delete;
    CurrentUserRedirect& operator=(const CurrentUserRedirect&) = delete;
    ~CurrentUserRedirect() {
        if (error_ == ERROR_SUCCESS) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    }
    LONG Error() const { return error_; }

private:
    LONG error_;
};

}  // namespace ks
