#include "core/registry_io.h"

#include <cstring>
#include <vector>

namespace ks {

UniqueHKey OpenKey(HKEY root, const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return UniqueHKey();
    return UniqueHKey(key);
}

UniqueHKey CreateKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWriteAccess,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
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

bool ReadNumber(HKEY key, const char* name, void* dest) {
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS || size > 4) return false;
    std::memcpy(dest, data, size);
    return true;
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

LONG DeleteTree(HKEY parent, const char* name) {
    {
        UniqueHKey key = OpenKey(parent, name, kReadWriteAccess);
        if (!key) return ERROR_FILE_NOT_FOUND;
        char child[260];
        // Always delete subkey 0: deleting shifts the remaining subkeys down.
        for (;;) {
            DWORD length = sizeof(child);
            if (RegEnumKeyExA(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (DeleteTree(key.get(), child) != ERROR_SUCCESS) break;
        }
    }
    return RegDeleteKeyA(parent, name);
}

}  // namespace ks
