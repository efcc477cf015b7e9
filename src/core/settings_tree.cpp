#include "core/settings_tree.h"

#include <string>
#include <utility>
#include <vector>

#include "core/backup_watch.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"

namespace ks {

ValueWrite g_copyValueWrite = RegSetValueExW;

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

// The buffers of one whole copy, made once and reused for every value and key. The copy goes
// through the wide calls, which pass names and data on byte for byte: other components keep
// texts under the root that no 8-bit code page can hold.
struct CopyBuffers {
    std::vector<wchar_t> name = std::vector<wchar_t>(kNameBuffer);
    std::vector<BYTE> data = std::vector<BYTE>(kDataBuffer);
    // Grown only for values too large for the fixed buffers.
    std::vector<wchar_t> largeName;
    std::vector<BYTE> largeData;
};

UniqueHKey CreateChild(HKEY parent, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWriteAccess, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
}

UniqueHKey OpenChild(HKEY parent, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name, 0, kReadWriteAccess, &key) != ERROR_SUCCESS) return UniqueHKey();
    return UniqueHKey(key);
}

bool HasValue(HKEY key, const wchar_t* name) {
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// A value whose name or data does not fit the fixed buffers (calibration tables can be larger)
// is copied whole with buffers sized from the key's maxima, instead of ending the value phase.
bool CopyOversizedValue(HKEY destination, HKEY source, DWORD index, ExistingValues existing, CopyBuffers& buffers) {
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyW(source, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    if (buffers.largeName.size() < static_cast<size_t>(maxName) + 1) buffers.largeName.resize(maxName + 1);
    const size_t dataSize = maxData == 0 ? 1 : maxData;
    if (buffers.largeData.size() < dataSize) buffers.largeData.resize(dataSize);
    DWORD nameLength = static_cast<DWORD>(buffers.largeName.size());
    DWORD dataLength = static_cast<DWORD>(buffers.largeData.size());
    DWORD type = 0;
    if (RegEnumValueW(source, index, buffers.largeName.data(), &nameLength, nullptr, &type, buffers.largeData.data(),
                      &dataLength) != ERROR_SUCCESS) {
        return false;
    }
    if (existing == ExistingValues::Overwrite || !HasValue(destination, buffers.largeName.data())) {
        return g_copyValueWrite(destination, buffers.largeName.data(), 0, type, buffers.largeData.data(),
                                dataLength) == ERROR_SUCCESS;
    }
    return true;
}

// True when every value was copied; a failed write is skipped, and reported.
bool CopyValues(HKEY destination, HKEY source, ExistingValues existing, CopyBuffers& buffers) {
    bool complete = true;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = kNameBuffer;
        DWORD dataLength = kDataBuffer;
        DWORD type = 0;
        LONG status = RegEnumValueW(source, i, buffers.name.data(), &nameLength, nullptr, &type, buffers.data.data(),
                                    &dataLength);
        if (status == ERROR_MORE_DATA) {
            if (!CopyOversizedValue(destination, source, i, existing, buffers)) return false;
            continue;
        }
        if (status != ERROR_SUCCESS) return complete && status == ERROR_NO_MORE_ITEMS;
        if (existing == ExistingValues::Keep && HasValue(destination, buffers.name.data())) continue;
        if (g_copyValueWrite(destination, buffers.name.data(), 0, type, buffers.data.data(), dataLength) !=
            ERROR_SUCCESS) {
            complete = false;
        }
    }
}

}  // namespace

bool CopyTree(HKEY destination, HKEY source, ExistingValues existing) {
    CopyBuffers buffers;
    bool complete = CopyValues(destination, source, existing, buffers);

    // Depth-first with the pending keys on the heap: a host thread may have little stack left,
    // and the tree's depth is not ours to choose. Each level keeps the handles of its pair of
    // keys and the index of the next subkey to copy.
    struct Level {
        HKEY destination;
        HKEY source;
        DWORD next = 0;
        UniqueHKey ownedDestination;
        UniqueHKey ownedSource;
    };
    std::vector<Level> pending;
    pending.push_back(Level{destination, source, 0, UniqueHKey(), UniqueHKey()});
    while (!pending.empty()) {
        Level& level = pending.back();
        DWORD nameLength = kNameBuffer;
        const LONG status = RegEnumKeyExW(level.source, level.next, buffers.name.data(), &nameLength, nullptr,
                                          nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            complete = complete && status == ERROR_NO_MORE_ITEMS;
            pending.pop_back();
            continue;
        }
        ++level.next;
        UniqueHKey destinationChild = CreateChild(level.destination, buffers.name.data());
        UniqueHKey sourceChild = destinationChild ? OpenChild(level.source, buffers.name.data()) : UniqueHKey();
        if (!sourceChild) {
            complete = false;
            continue;
        }
        complete = CopyValues(destinationChild.get(), sourceChild.get(), existing, buffers) && complete;
        HKEY childDestination = destinationChild.get();
        HKEY childSource = sourceChild.get();
        pending.push_back(Level{childDestination, childSource, 0, std::move(destinationChild), std::move(sourceChild)});
    }
    return complete;
}

void EnsureSettingsRoot() {
    if (OpenKey(HKEY_CURRENT_USER, RootPath(), kReadWriteAccess)) return;
    UniqueHKey backup = OpenKey(HKEY_CURRENT_USER, BackupPath(), kReadWriteAccess);
    if (!backup) return;
    UniqueHKey root = CreateKey(HKEY_CURRENT_USER, RootPath());
    if (!root) return;
    // The root is visible from here on, and another client may store into it while the copy runs:
    // values that are already there are newer than the backup's and stay. Building the root aside
    // and renaming it into place would close the last gap (a value written between the check and
    // the copy of that same value), but renaming a key is not dependable on every platform the
    // store runs on (Wine 8 corrupts the parent's subkey list), and the check costs nothing a
    // serialised caller could see: the root it fills is new and empty.
    CopyTree(root.get(), backup.get(), ExistingValues::Keep);
    RegFlushKey(root.get());
    g_backupWatch.Forget();
}

void BackupSettings() {
    UniqueHKey root = OpenKey(HKEY_CURRENT_USER, RootPath(), kReadWriteAccess);
    if (!root) return;
    if (UniqueHKey backup = OpenKey(HKEY_CURRENT_USER, BackupPath(), kReadAccess);
        backup && g_backupWatch.Current(root.get(), backup.get())) {
        return;  // a copy would write every value with the bytes already there
    }
    // Armed before the copy: what changes while it runs makes the next release copy again.
    KeyWatch rootWatch = KeyWatch::Arm(std::move(root));
    UniqueHKey backup = CreateKey(HKEY_CURRENT_USER, BackupPath());
    if (!backup) return;
    const bool complete = CopyTree(backup.get(), rootWatch.Key());
    RegFlushKey(backup.get());
    if (complete && rootWatch) {
        g_backupWatch.Completed(std::move(rootWatch), std::move(backup));
    } else {
        g_backupWatch.Forget();
    }
}

}  // namespace ks
