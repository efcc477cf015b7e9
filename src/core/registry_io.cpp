#include "core/registry_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ks {

UniqueHKey OpenKey(HKEY root, const std::string& path, REGSAM access, LONG* error) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, path.c_str(), 0, access, &key);
    if (error != nullptr) *error = result;
    return UniqueHKey(result == ERROR_SUCCESS ? key : nullptr);
}

UniqueHKey CreateKey(HKEY root, const std::string& path, LONG* error) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWriteAccess,
                                  nullptr, &key, &disposition);
    if (error != nullptr) *error = result;
    return UniqueHKey(result == ERROR_SUCCESS ? key : nullptr);
}

std::optional<std::string> ReadString(HKEY key, const char* name, DWORD limit) {
    std::vector<char> buffer(limit);
    DWORD type = 0;
    DWORD size = limit;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > limit || buffer[size - 1] != '\0') {
        return std::nullopt;
    }
    return std::string(buffer.data(), std::strlen(buffer.data()));
}

void ReadNumber(HKEY key, const char* name, void* dest) {
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS || size > 4) return;
    std::memcpy(dest, data, size);
}

bool ReadDword(HKEY key, const char* name, DWORD* dest) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    *dest = value;
    return true;
}

LONG WriteString(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
}

LONG WriteDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

namespace {

// Deletes every subkey below `top`, deepest first. The keys on the way down are kept on the heap:
// a host thread may have little stack left, and the depth is whatever the registry holds. Subkey
// names pass through the wide calls, so names no 8-bit code page holds are deleted too.
LONG DeleteSubkeys(HKEY top, REGSAM access) {
    struct Level {
        UniqueHKey key;
        std::wstring name;  // its name in the key one level up
    };
    std::vector<Level> path;
    wchar_t child[256];  // a key name has at most 255 characters
    for (;;) {
        HKEY current = path.empty() ? top : path.back().key.get();
        DWORD length = sizeof(child) / sizeof(child[0]);
        // Always subkey 0: each deletion moves the rest down.
        LONG error = RegEnumKeyExW(current, 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_SUCCESS) {
            UniqueHKey key;
            error = RegOpenKeyExW(current, child, 0, access, key.put());
            if (error != ERROR_SUCCESS) return error;
            path.push_back(Level{std::move(key), std::wstring(child, length)});
            continue;
        }
        if (error != ERROR_NO_MORE_ITEMS) return error;
        if (path.empty()) return ERROR_SUCCESS;
        std::wstring name = std::move(path.back().name);
        path.pop_back();  // closes the emptied key before it goes
        error = RegDeleteKeyW(path.empty() ? top : path.back().key.get(), name.c_str());
        if (error != ERROR_SUCCESS) return error;
    }
}

}  // namespace

LONG DeleteTree(HKEY parent, const char* name, REGSAM access) {
    {
        UniqueHKey key;
        LONG error = RegOpenKeyExA(parent, name, 0, access, key.put());
        if (error != ERROR_SUCCESS) return error;
        error = DeleteSubkeys(key.get(), access);
        if (error != ERROR_SUCCESS) return error;
    }
    return RegDeleteKeyA(parent, name);
}

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    DWORD longest = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::vector<char> buffer(longest + 2);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        LONG error = RegEnumKeyExA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_MORE_DATA) {  // a longer name was added meanwhile: ask again with more room
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != ERROR_SUCCESS) break;
        names.emplace_back(buffer.data(), length);
        ++index;
    }
    return names;
}

std::vector<RegistryValue> Values(HKEY key) {
    std::vector<RegistryValue> values;
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return values;
    }
    std::vector<char> name(longestName + 2);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG error = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (error == ERROR_MORE_DATA) {  // written meanwhile: ask again with more room
            name.resize(name.size() * 2);
            data.resize(std::max<std::size_t>(data.size() * 2, dataLength));
            continue;
        }
        if (error != ERROR_SUCCESS) break;
        values.push_back({std::string(name.data(), nameLength), type,
                          std::vector<BYTE>(data.begin(), data.begin() + dataLength)});
        ++index;
    }
    return values;
}

}  // namespace ks
