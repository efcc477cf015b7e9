#include "core/registry_io.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/text.h"

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

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Whether `key`, opened by `name` below a key of full name `parentName`, is the key of that name.
bool IsNamed(HKEY key, const std::wstring& parentName, const std::wstring& name) {
    const std::optional<std::wstring> full = KeyFullName(key);
    return full && SameName(*full, parentName + L"\\" + name);
}

}  // namespace

UniqueHKey OpenChild(HKEY parent, const std::wstring& parentName, const std::wstring& name, REGSAM access,
                     bool* link, LONG* error) {
    *link = false;
    LONG result = ERROR_SUCCESS;
    UniqueHKey child = OpenKey(parent, name, access, &result);
    if (child && !IsNamed(child.get(), parentName, name)) {
        child.reset();
        *link = true;
    }
    // A key that does not open by its name but does as itself is a link whose target is missing
    // (or out of reach): a plain key opens either way alike.
    if (!child && !*link) *link = static_cast<bool>(OpenKey(parent, name, access, nullptr, Link::Itself));
    if (error != nullptr) *error = result;
    return child;
}

UniqueHKey CreateChild(HKEY parent, const std::wstring& parentName, const std::wstring& name, bool* link) {
    bool isLink = false;
    UniqueHKey child = OpenChild(parent, parentName, name, kReadWriteAccess, &isLink);
    if (!child && !isLink) {
        // Created as itself: an existing key of that name that did not open by its name is a link.
        DWORD disposition = 0;
        HKEY created = nullptr;
        if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                            kReadWriteAccess, nullptr, &created, &disposition) == ERROR_SUCCESS) {
            child.reset(created);
            isLink = disposition != REG_CREATED_NEW_KEY;
            if (isLink) child.reset();
        }
    }
    *link = isLink;
    return child;
}

UniqueHKey OpenUnlessLink(HKEY root, const std::string& path, bool create, bool* link) {
    UniqueHKey self = create ? CreateKey(root, path, nullptr, Link::Itself)
                             : OpenKey(root, path, kReadWriteAccess, nullptr, Link::Itself);
    if (!self) return self;
    const UniqueHKey named = OpenKey(root, path, kReadWriteAccess);
    const bool isLink = !named || KeyFullName(named.get()) != KeyFullName(self.get());
    if (link != nullptr) *link = isLink;
    if (isLink) self.reset();
    return self;
}

TreeVisitor::Next TreeVisitor::Meet(const std::wstring&, std::size_t) { return Next::Descend; }
bool TreeVisitor::Leave(HKEY, std::size_t) { return true; }
void TreeVisitor::Link(HKEY, const std::wstring&, std::size_t) {}
bool TreeVisitor::Failed(const std::wstring&, std::size_t, LONG) { return true; }

LONG WalkTree(HKEY top, REGSAM access, TreeVisitor& visitor, std::size_t maxDepth) {
    struct Level {
        UniqueHKey owned;  // empty for the top, which the caller owns
        HKEY key;
        std::wstring name;  // full name
        std::vector<std::wstring> children;
        std::size_t next = 0;
    };
    LONG first = ERROR_SUCCESS;
    // Records a failure; true when the walk goes on.
    auto failed = [&](const std::wstring& name, std::size_t depth, LONG error) {
        if (first == ERROR_SUCCESS) first = error;
        return visitor.Failed(name, depth, error);
    };
    auto enter = [&](std::vector<Level>& path, UniqueHKey owned, HKEY key, std::wstring name) {
        bool complete = true;
        std::vector<std::wstring> children = SubkeyNames<wchar_t>(key, 0, &complete);
        path.push_back(Level{std::move(owned), key, std::move(name), std::move(children)});
        return complete || failed(std::wstring(), path.size(), ERROR_INVALID_DATA);
    };
    std::vector<Level> path;
    if (!enter(path, UniqueHKey(), top, KeyFullName(top).value_or(std::wstring()))) return first;
    while (!path.empty()) {
        Level& level = path.back();
        const std::size_t depth = path.size();
        if (level.next == level.children.size()) {
            if (depth > 1 && !visitor.Leave(level.key, depth - 1)) return ERROR_CANCELLED;
            path.pop_back();
            continue;
        }
        const std::wstring& name = level.children[level.next++];
        TreeVisitor::Next next = visitor.Meet(name, depth);
        if (next == TreeVisitor::Next::Stop) return ERROR_CANCELLED;
        if (next == TreeVisitor::Next::Skip) continue;
        bool link = false;
        LONG error = ERROR_SUCCESS;
        UniqueHKey child = OpenChild(level.key, level.name, name, access, &link, &error);
        if (link) {
            visitor.Link(level.key, name, depth);
            continue;
        }
        if (!child) {
            if (!failed(name, depth, error)) return first;
            continue;
        }
        next = visitor.Enter(child.get(), name, depth);
        if (next == TreeVisitor::Next::Stop) return ERROR_CANCELLED;
        if (next == TreeVisitor::Next::Skip || depth >= maxDepth) continue;
        HKEY key = child.get();
        std::wstring full = level.name + L"\\" + name;
        if (!enter(path, std::move(child), key, std::move(full))) return first;
    }
    return first;
}

void ListSubkeys(HKEY key, std::size_t maxName, const std::function<void(HKEY, const std::string&)>& visit) {
    struct Lister final : TreeVisitor {
        std::size_t maxName;
        const std::function<void(HKEY, const std::string&)>& visit;
        std::string narrow;
        Lister(std::size_t max, const std::function<void(HKEY, const std::string&)>& v) : maxName(max), visit(v) {}
        Next Meet(const std::wstring& name, std::size_t) override {
            // The platform's 8-bit names are in the ANSI code page of the system.
            narrow = Narrow(name, CP_ACP);
            if (narrow.size() >= kListNameBuffer) return Next::Stop;
            return narrow.size() > maxName || Widen(narrow, CP_ACP) != name ? Next::Skip : Next::Descend;
        }
        Next Enter(HKEY subkey, const std::wstring&, std::size_t) override {
            visit(subkey, narrow);
            return Next::Skip;
        }
    } lister(maxName, visit);
    WalkTree(key, kReadAccess, lister, 1);
}

LONG QueryValue(HKEY key, const char* name, DWORD* type, void* data, DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), size);
}

bool HasValue(HKEY key, const wchar_t* name) {
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

namespace {
using Verdict = ValueSeen::Verdict;

// One query of at most `limit` bytes; what was stored goes to `*seen`, the bytes to `buffer`.
bool Query(HKEY key, const char* name, std::vector<char>& buffer, DWORD limit, ValueSeen& seen) {
    buffer.assign(limit + 1, '\0');
    seen = ValueSeen{};
    seen.size = limit;
    const LONG error = QueryValue(key, name, &seen.type, buffer.data(), &seen.size);
    if (error == ERROR_MORE_DATA || (error == ERROR_SUCCESS && seen.size > limit)) {
        seen.verdict = Verdict::TooLarge;
        return false;
    }
    if (error != ERROR_SUCCESS) {
        seen = ValueSeen{};
        return false;
    }
    return true;
}

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

std::optional<std::string> ReadString(HKEY key, const char* name, DWORD limit, ValueSeen* seen) {
    std::vector<char> buffer;
    ValueSeen local;
    ValueSeen& s = seen != nullptr ? *seen : local;
    if (!Query(key, name, buffer, limit, s)) return std::nullopt;
    if (!IsString(s.type)) s.verdict = Verdict::OtherType;
    else if (s.size == 0 || buffer[s.size - 1] != '\0') s.verdict = Verdict::Unterminated;
    else s.verdict = Verdict::Read;
    if (s.verdict != Verdict::Read) return std::nullopt;
    return std::string(buffer.data(), std::strlen(buffer.data()));
}

std::optional<std::string> ReadAnyText(HKEY key, const char* name, DWORD limit, ValueSeen* seen) {
    std::vector<char> buffer;
    ValueSeen local;
    ValueSeen& s = seen != nullptr ? *seen : local;
    if (!Query(key, name, buffer, limit, s)) return std::nullopt;
    // What came back is cut at its first NUL, and the field's last byte is always a terminator.
    buffer[limit - 1] = '\0';
    std::string text(buffer.data(), std::strlen(buffer.data()));
    s.verdict = IsString(s.type) && s.size == text.size() + 1 ? Verdict::Read : Verdict::Cut;
    return text;
}

void ReadNumber(HKEY key, const char* name, void* dest, ValueSeen* seen) {
    std::vector<char> buffer;
    ValueSeen local;
    ValueSeen& s = seen != nullptr ? *seen : local;
    if (!Query(key, name, buffer, 4, s)) return;
    s.verdict = s.type == REG_DWORD && s.size == 4 ? Verdict::Read : Verdict::OtherType;
    std::memcpy(dest, buffer.data(), s.size);
}

bool ReadDword(HKEY key, const char* name, DWORD* dest, ValueSeen* seen) {
    std::vector<char> buffer;
    ValueSeen local;
    ValueSeen& s = seen != nullptr ? *seen : local;
    if (!Query(key, name, buffer, 4, s)) return false;
    s.verdict = s.type == REG_DWORD ? Verdict::Read : Verdict::OtherType;
    if (s.verdict != Verdict::Read) return false;
    std::memcpy(dest, buffer.data(), sizeof(DWORD));
    return true;
}

ExactValue::ExactValue(DWORD type, const void* data, DWORD size)
    : data_(static_cast<const BYTE*>(data)), size_(size) {
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return;
    copy_.assign(data_, data_ + size);
    copy_.insert(copy_.end(), {0xFF, 0xFF});  // no NUL, in either character width
    data_ = copy_.data();
}

LONG WriteValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    const ExactValue exact(type, data, size);
    return SetValue(key, name, type, exact.data(), size);
}
LONG WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    const ExactValue exact(type, data, size);
    return SetValue(key, name, type, exact.data(), size);
}

LONG WriteString(HKEY key, const char* name, const char* text) {
    return WriteValue(key, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

LONG WriteDword(HKEY key, const char* name, DWORD value) {
    return WriteValue(key, name, REG_DWORD, &value, sizeof(value));
}

LONG DeleteTree(HKEY parent, const char* name, REGSAM access) {
    // Deepest first: each key goes once its subkeys have, through its own handle.
    struct Deleter final : TreeVisitor {
        REGSAM access;
        LONG error = ERROR_SUCCESS;
        explicit Deleter(REGSAM a) : access(a) {}
        Next Enter(HKEY, const std::wstring&, std::size_t) override { return Next::Descend; }
        bool Delete(HKEY key) {
            const NTSTATUS status = NtDeleteKey(key);
            if (status != 0) error = static_cast<LONG>(RtlNtStatusToDosError(status));
            return status == 0;
        }
        bool Leave(HKEY key, std::size_t) override { return Delete(key); }
        void Link(HKEY parent, const std::wstring& name, std::size_t) override {
            UniqueHKey link = OpenKey(parent, name, access, &error, ks::Link::Itself);
            if (link) Delete(link.get());
        }
        bool Failed(const std::wstring&, std::size_t, LONG) override { return false; }
    } deleter(access | DELETE);
    LONG error = ERROR_SUCCESS;
    UniqueHKey top = OpenKey(parent, name, access | DELETE, &error, Link::Itself);
    if (!top) return error;
    error = WalkTree(top.get(), access | DELETE, deleter);
    if (deleter.error != ERROR_SUCCESS) return deleter.error;
    if (error != ERROR_SUCCESS) return error;
    return deleter.Delete(top.get()) ? ERROR_SUCCESS : deleter.error;
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
