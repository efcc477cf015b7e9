#include "core/settings_tree.h"

#include <string>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"

namespace ks {

namespace {

const std::string& RootPath() {
    static const std::string path(kSettingsRoot);
    return path;
}

const std::string& BackupPath() {
    static const std::string path(kBackupRoot);
    return path;
}

constexpr DWORD kNameBuffer = 260;
constexpr DWORD kDataBuffer = 1040;

// A value whose name or data does not fit the fixed buffers (calibration tables can be larger)
// is copied whole with buffers sized from the key's maxima, instead of ending the value phase.
bool CopyOversizedValue(HKEY destination, HKEY source, DWORD index) {
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyA(source, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<char> name(static_cast<size_t>(maxName) + 1);
    std::vector<BYTE> data(maxData == 0 ? 1 : maxData);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueA(source, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegSetValueExA(destination, name.data(), 0, type, data.data(), dataLength);
    return true;
}

}  // namespace

void CopyTree(HKEY destination, HKEY source) {
    // Fixed buffers on the stack: no allocation per copied value.
    char name[kNameBuffer];
    BYTE data[kDataBuffer];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = kNameBuffer;
        DWORD dataLength = kDataBuffer;
        DWORD type = 0;
        LONG status = RegEnumValueA(source, i, name, &nameLength, nullptr, &type, data, &dataLength);
        if (status == ERROR_MORE_DATA) {
            if (!CopyOversizedValue(destination, source, i)) break;
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        RegSetValueExA(destination, name, 0, type, data, dataLength);  // a failed write is skipped
    }

    for (DWORD j = 0;; ++j) {
        DWORD nameLength = kNameBuffer;
        if (RegEnumKeyExA(source, j, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        UniqueHKey destinationChild = CreateKey(destination, name);
        if (!destinationChild) continue;
        UniqueHKey sourceChild = OpenKey(source, name, kReadWriteAccess);
        if (sourceChild) CopyTree(destinationChild.get(), sourceChild.get());
    }
}

void EnsureSettingsRoot() {
    if (OpenKey(HKEY_CURRENT_USER, RootPath(), kReadWriteAccess)) return;
    UniqueHKey backup = OpenKey(HKEY_CURRENT_USER, BackupPath(), kReadWriteAccess);
    if (!backup) return;
    UniqueHKey root = CreateKey(HKEY_CURRENT_USER, RootPath());
    if (!root) return;
    CopyTree(root.get(), backup.get());
    RegFlushKey(root.get());
}

void BackupSettings() {
    UniqueHKey root = OpenKey(HKEY_CURRENT_USER, RootPath(), kReadWriteAccess);
    if (!root) return;
    UniqueHKey backup = CreateKey(HKEY_CURRENT_USER, BackupPath());
    if (!backup) return;
    CopyTree(backup.get(), root.get());
    RegFlushKey(backup.get());
}

}  // namespace ks
