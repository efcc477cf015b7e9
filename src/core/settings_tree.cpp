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
// read or written is skipped alone. True when every value was copied.
bool CopyValues(HKEY destination, HKEY source, ExistingValues existing) {
    bool written = true;
    const bool read =
        ForEachValue<wchar_t>(source, [&](std::wstring_view name, DWORD type, std::span<const BYTE> bytes) {
            if (existing == ExistingValues::Keep && HasValue(destination, name.data())) return;
            written = g_copyValueWrite(destination, name.data(), 0, type, bytes.data(),
                                       static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS && written;
        });
    return read && written;
}

}  // namespace

bool CopyTree(HKEY destination, HKEY source, ExistingValues existing) {
    bool complete = CopyValues(destination, source, existing);

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
    pending.push_back(Level{destination, source, SubkeyNames<wchar_t>(source, 0, &complete), 0, UniqueHKey(),
                            UniqueHKey()});
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next == level.names.size()) {
            pending.pop_back();
            continue;
        }
        const std::wstring& name = level.names[level.next++];
        // Every key is opened as itself, and a registry link on either side is skipped: neither
        // the link nor its target is copied, nothing is written through one, and a link back
        // up the tree makes no cycle. A link in the source is nothing to copy; one in the
        // destination leaves out what it stands in for.
        bool link = false;
        UniqueHKey sourceChild = OpenChild(level.source, name, kReadWriteAccess, &link);
        if (link) continue;
        UniqueHKey destinationChild = CreateKey(level.destination, name, nullptr, Link::Itself);
        if (!destinationChild || IsLink(destinationChild.get()) || !sourceChild) {
            complete = false;
            continue;
        }
        complete = CopyValues(destinationChild.get(), sourceChild.get(), existing) && complete;
        HKEY childDestination = destinationChild.get();
        HKEY childSource = sourceChild.get();
        std::vector<std::wstring> names = SubkeyNames<wchar_t>(childSource, 0, &complete);
        pending.push_back(Level{childDestination, childSource, std::move(names), 0, std::move(destinationChild),
                                std::move(sourceChild)});
    }
    return complete;
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
    g_backupWatch.Forget();
}

void BackupSettings() {
    UniqueHKey root = OpenTree(RootPath(), false);
    if (!root) return;
    UniqueHKey backup = OpenTree(BackupPath(), true);
    if (!backup) return;
    // A backup tree made just now is no kept one: only a copy can fill it.
    if (g_backupWatch.Current(root.get(), backup.get())) return;  // a copy would write only bytes already there
    // Armed before the copy: what changes while it runs makes the next release copy again.
    KeyWatch rootWatch = KeyWatch::Arm(std::move(root));
    const bool complete = CopyTree(backup.get(), rootWatch.Key());
    RegFlushKey(backup.get());
    if (complete && rootWatch) {
        g_backupWatch.Completed(std::move(rootWatch), std::move(backup));
    } else {
        g_backupWatch.Forget();
    }
}

}  // namespace ks
