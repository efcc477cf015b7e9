#include "core/registry_io.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

// Deletes the key behind a handle, which may be a registry link opened as itself: the registry's own
// delete calls open the key again by name, and so would follow the link to its target.
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);
extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE key, int infoClass, void* info, ULONG size, ULONG* returned);

namespace ks {

namespace {

// The 8-bit and the wide forms of the platform's calls, so that each operation below is written once.
LONG Open(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* key) {
    return RegOpenKeyExA(root, path, options, access, key);
}
LONG Open(HKEY root, const wchar_t* path, DWORD options, REGSAM access, HKEY* key) {
    return RegOpenKeyExW(root, path, options, access, key);
}
LONG Create(HKEY root, const char* path, DWORD options, HKEY* key) {
    return RegCreateKeyExA(root, path, 0, nullptr, options, kReadWriteAccess, nullptr, key, nullptr);
}
LONG Create(HKEY root, const wchar_t* path, DWORD options, HKEY* key) {
    return RegCreateKeyExW(root, path, 0, nullptr, options, kReadWriteAccess, nullptr, key, nullptr);
}
LONG EnumSubkey(HKEY key, DWORD index, char* name, DWORD* length) {
    return RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}
LONG EnumSubkey(HKEY key, DWORD index, wchar_t* name, DWORD* length) {
    return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}
LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* type, BYTE* data, DWORD* dataLength) {
    return RegEnumValueA(key, index, name, nameLength, nullptr, type, data, dataLength);
}
LONG EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* type, BYTE* data,
               DWORD* dataLength) {
    return RegEnumValueW(key, index, name, nameLength, nullptr, type, data, dataLength);
}
LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    return RegSetValueExA(key, name, 0, type, data, size);
}
LONG SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
    return RegSetValueExW(key, name, 0, type, data, size);
}

DWORD OpenOptions(Link link) { return link == Link::Itself ? REG_OPTION_OPEN_LINK : 0; }

template <class Char>
UniqueHKey OpenOrCreate(HKEY root, const Char* path, bool create, REGSAM access, LONG* error, Link link) {
    HKEY key = nullptr;
    const LONG result = create ? Create(root, path, REG_OPTION_NON_VOLATILE | OpenOptions(link), &key)
                               : Open(root, path, OpenOptions(link), access, &key);
    if (error != nullptr) *error = result;
    return UniqueHKey(result == ERROR_SUCCESS ? key : nullptr);
}

// Name and data buffers of the value walk start at the tree copy's sizes (259 characters and a
// terminator, 1040 bytes) and grow for larger values.
constexpr DWORD kValueNameStart = 260;
constexpr DWORD kValueDataStart = 1040;
constexpr DWORD kValueNameMost = 16384;  // a value name has at most 16383 (wide) characters
// A value still too large after this many reads, each with room for what the last one reported,
// is growing as fast as it is read.
constexpr int kValueReads = 8;

}  // namespace

UniqueHKey OpenKey(HKEY root, const std::string& path, REGSAM access, LONG* error, Link link) {
    return OpenOrCreate(root, path.c_str(), false, access, error, link);
}
UniqueHKey OpenKey(HKEY root, const std::wstring& path, REGSAM access, LONG* error, Link link) {
    return OpenOrCreate(root, path.c_str(), false, access, error, link);
}
UniqueHKey CreateKey(HKEY root, const std::string& path, LONG* error, Link link) {
    return OpenOrCreate(root, path.c_str(), true, kReadWriteAccess, error, link);
}
UniqueHKey CreateKey(HKEY root, const std::wstring& path, LONG* error, Link link) {
    return OpenOrCreate(root, path.c_str(), true, kReadWriteAccess, error, link);
}

bool IsLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

std::optional<std::wstring> KeyFullName(HKEY key) {
    constexpr int kKeyNameInformation = 3;  // KEY_NAME_INFORMATION: length in bytes, then UTF-16
    std::vector<BYTE> buffer(512);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status =
            NtQueryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            ULONG length = 0;
            std::memcpy(&length, buffer.data(), sizeof(length));
            if (length > buffer.size() - sizeof(ULONG)) return std::nullopt;
            std::wstring name(length / sizeof(wchar_t), L'\0');
            std::memcpy(name.data(), buffer.data() + sizeof(ULONG), name.size() * sizeof(wchar_t));
            return name;
        }
        if (needed <= buffer.size()) return std::nullopt;
        buffer.resize(needed);
    }
    return std::nullopt;
}

namespace {
template <class Text>
UniqueHKey OpenChildOf(HKEY parent, const Text& name, REGSAM access, bool* link) {
    UniqueHKey child = OpenKey(parent, name, access, nullptr, Link::Itself);
    const bool isLink = child && IsLink(child.get());
    if (link != nullptr) *link = isLink;
    if (isLink) child.reset();
    return child;
}
}  // namespace

UniqueHKey OpenChild(HKEY parent, const std::string& name, REGSAM access, bool* link) {
    return OpenChildOf(parent, name, access, link);
}
UniqueHKey OpenChild(HKEY parent, const std::wstring& name, REGSAM access, bool* link) {
    return OpenChildOf(parent, name, access, link);
}

LONG QueryValue(HKEY key, const char* name, DWORD* type, void* data, DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), size);
}

bool HasValue(HKEY key, const wchar_t* name) {
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::optional<std::string> ReadString(HKEY key, const char* name, DWORD limit) {
    std::vector<char> buffer(limit);
    DWORD type = 0;
    DWORD size = limit;
    if (QueryValue(key, name, &type, buffer.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > limit || buffer[size - 1] != '\0') {
        return std::nullopt;
    }
    return std::string(buffer.data(), std::strlen(buffer.data()));
}

void ReadNumber(HKEY key, const char* name, void* dest) {
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    if (QueryValue(key, name, nullptr, data, &size) != ERROR_SUCCESS || size > 4) return;
    std::memcpy(dest, data, size);
}

bool ReadDword(HKEY key, const char* name, DWORD* dest) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (QueryValue(key, name, &type, &value, &size) != ERROR_SUCCESS || type != REG_DWORD) return false;
    *dest = value;
    return true;
}

LONG WriteValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    return SetValue(key, name, type, static_cast<const BYTE*>(data), size);
}
LONG WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    return SetValue(key, name, type, static_cast<const BYTE*>(data), size);
}

LONG WriteString(HKEY key, const char* name, const char* text) {
    return WriteValue(key, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

LONG WriteDword(HKEY key, const char* name, DWORD value) {
    return WriteValue(key, name, REG_DWORD, &value, sizeof(value));
}

LONG DeleteTree(HKEY parent, const char* name, REGSAM access) {
    // The keys on the way down are kept on the heap: a host thread may have little stack left, and
    // the depth is whatever the registry holds. Names pass through the wide calls, so names no
    // 8-bit code page holds are deleted too.
    struct Level {
        UniqueHKey key;
        std::vector<std::wstring> children;
        std::size_t next = 0;
    };
    std::vector<Level> path;
    LONG error = ERROR_SUCCESS;
    UniqueHKey top = OpenKey(parent, name, access | DELETE, &error, Link::Itself);
    if (!top) return error;
    std::vector<std::wstring> children = SubkeyNames<wchar_t>(top.get());
    path.push_back(Level{std::move(top), std::move(children)});
    while (!path.empty()) {
        Level& level = path.back();
        if (level.next < level.children.size()) {
            UniqueHKey child = OpenKey(level.key.get(), level.children[level.next++], access | DELETE, &error, Link::Itself);
            if (!child) return error;
            children = SubkeyNames<wchar_t>(child.get());
            path.push_back(Level{std::move(child), std::move(children)});
            continue;
        }
        const NTSTATUS status = NtDeleteKey(level.key.get());
        if (status != 0) return static_cast<LONG>(RtlNtStatusToDosError(status));
        path.pop_back();
    }
    return ERROR_SUCCESS;
}

template <class Char>
std::vector<std::basic_string<Char>> SubkeyNames(HKEY key, DWORD limit, bool* complete) {
    std::vector<std::basic_string<Char>> names;
    std::vector<Char> buffer(limit != 0 ? limit : 256);  // a key name has at most 255 characters
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG error = EnumSubkey(key, index, buffer.data(), &length);
        if (error == ERROR_MORE_DATA && limit == 0) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != ERROR_SUCCESS) {
            if (complete != nullptr && error != ERROR_NO_MORE_ITEMS) *complete = false;
            return names;
        }
        names.emplace_back(buffer.data(), length);
        ++index;
    }
}
template std::vector<std::string> SubkeyNames<char>(HKEY, DWORD, bool*);
template std::vector<std::wstring> SubkeyNames<wchar_t>(HKEY, DWORD, bool*);

template <class Char>
bool ForEachValue(HKEY key,
                  const std::function<void(std::basic_string_view<Char>, DWORD, std::span<const BYTE>)>& visit) {
    std::vector<Char> name(kValueNameStart);
    std::vector<BYTE> data(kValueDataStart);
    int reads = 0;
    bool complete = true;
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG error = EnumValue(key, index, name.data(), &nameLength, &type, data.data(), &dataLength);
        if (error == ERROR_MORE_DATA && ++reads < kValueReads) {
            // The platform tells the data's size; a name that did not fit gets room for the longest.
            if (dataLength > data.size()) {
                data.resize(dataLength);
            } else {
                name.resize(std::max<std::size_t>(name.size() * 2, kValueNameMost));
            }
            continue;
        }
        if (error == ERROR_SUCCESS) {
            visit(std::basic_string_view<Char>(name.data(), nameLength), type,
                  std::span<const BYTE>(data.data(), dataLength));
        } else if (error == ERROR_MORE_DATA) {
            complete = false;
        } else {
            return complete && error == ERROR_NO_MORE_ITEMS;
        }
        reads = 0;
        ++index;
    }
}
template bool ForEachValue<char>(HKEY, const std::function<void(std::string_view, DWORD, std::span<const BYTE>)>&);
template bool ForEachValue<wchar_t>(HKEY,
                                    const std::function<void(std::wstring_view, DWORD, std::span<const BYTE>)>&);

std::vector<RegistryValue> Values(HKEY key) {
    std::vector<RegistryValue> values;
    ForEachValue<char>(key, [&](std::string_view name, DWORD type, std::span<const BYTE> bytes) {
        values.push_back({std::string(name), type, std::vector<BYTE>(bytes.begin(), bytes.end())});
    });
    return values;
}

}  // namespace ks
