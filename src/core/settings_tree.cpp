#include "core/settings_tree.h"

#include <string>
#include <utility>
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

// A tree's top key as itself, opened or created; empty when it is a registry link, whose target
// is no tree of the store's.
UniqueHKey OpenTree(const std::string& path, bool create) {
    UniqueHKey key = create ? CreateKey(HKEY_CURRENT_USER, path, nullptr, Link::Itself)
                            : OpenKey(HKEY_CURRENT_USER, path, kReadWriteAccess, nullptr, Link::Itself);
    if (key && IsLink(key.get())) key.reset();
    return key;
}

// The copy goes through the wide calls, which pass names and data on byte for byte: other
// components keep texts under the root that no 8-bit code page can hold. Values of any size are
// copied whole (calibration tables can be larger than any fixed buffer), and one that cannot be
// read or written is skipped alone.
void CopyValues(HKEY destination, HKEY source, ExistingValues existing) {
    ForEachValue<wchar_t>(source, [&](std::wstring_view name, DWORD type, std::span<const BYTE> bytes) {
        if (existing == ExistingValues::Keep && HasValue(destination, name.data())) return;
        WriteValue(destination, name.data(), type, bytes.data(), static_cast<DWORD>(bytes.size()));
    });
}

}  // namespace

void CopyTree(HKEY destination, HKEY source, ExistingValues existing) {
    CopyValues(destination, source, existing);

    // Depth-first with the pending keys on the heap: a host thread may have little stack left,
    // and the tree's depth is not ours to choose. Each level keeps the handles of its pair of
    // keys and the names of the subkeys still to copy.
    struct Level {
        HKEY destination;
        HKEY source;
        std::vector<std::wstring> names;
        std::size_t next = 0;
        UniqueHKey ownedDestination;
        UniqueHKey ownedSource;
    };
    std::vector<Level> pending;
    pending.push_back(Level{destination, source, SubkeyNames<wchar_t>(source), 0, UniqueHKey(), UniqueHKey()});
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next == level.names.size()) {
            pending.pop_back();
            continue;
        }
        const std::wstring& name = level.names[level.next++];
        // Every key is opened as itself, and a registry link on either side is skipped: neither
        // the link nor its target is copied, nothing is written through one, and a link back
        // up the tree makes no cycle.
        UniqueHKey sourceChild = OpenKey(level.source, name, kReadWriteAccess, nullptr, Link::Itself);
        if (sourceChild && IsLink(sourceChild.get())) continue;
        UniqueHKey destinationChild = CreateKey(level.destination, name, nullptr, Link::Itself);
        if (!destinationChild || IsLink(destinationChild.get()) || !sourceChild) continue;
        CopyValues(destinationChild.get(), sourceChild.get(), existing);
        HKEY childDestination = destinationChild.get();
        HKEY childSource = sourceChild.get();
        std::vector<std::wstring> names = SubkeyNames<wchar_t>(childSource);
        pending.push_back(Level{childDestination, childSource, std::move(names), 0, std::move(destinationChild),
                                std::move(sourceChild)});
    }
}

void EnsureSettingsRoot() {
    if (OpenKey(HKEY_CURRENT_USER, RootPath(), kReadWriteAccess)) return;
    UniqueHKey backup = OpenTree(BackupPath(), false);
    if (!backup) return;
    UniqueHKey root = OpenTree(RootPath(), true);
    if (!root) return;
    // The root is visible from here on, and another client may store into it while the copy runs:
    // values that are already there are newer than the backup's and stay. Building the root aside
    // and renaming it into place would close the last gap (a value written between the check and
    // the copy of that same value), but renaming a key is not dependable on every platform the
    // store runs on (Wine 8 corrupts the parent's subkey list), and the check costs nothing a
    // serialised caller could see: the root it fills is new and empty.
    CopyTree(root.get(), backup.get(), ExistingValues::Keep);
    RegFlushKey(root.get());
}

void BackupSettings() {
    UniqueHKey root = OpenTree(RootPath(), false);
    if (!root) return;
    UniqueHKey backup = OpenTree(BackupPath(), true);
    if (!backup) return;
    CopyTree(backup.get(), root.get());
    RegFlushKey(backup.get());
}

}  // namespace ks
