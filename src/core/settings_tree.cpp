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
UniqueHKey OpenTree(const std::string& path, bool create) { return OpenUnlessLink(HKEY_CURRENT_USER, path, create); }

// The copy goes through the wide calls, which pass names and data on byte for byte: other
// components keep texts under the root that no 8-bit code page can hold. Values of any size are
// copied whole (calibration tables can be larger than any fixed buffer), and one that cannot be
// read or written is skipped alone. True when every value was copied.
bool CopyValues(HKEY destination, HKEY source, ExistingValues existing) {
    bool written = true;
    const bool read =
        ForEachValue<wchar_t>(source, [&](std::wstring_view name, DWORD type, std::span<const BYTE> bytes) {
            if (existing == ExistingValues::Keep && HasValue(destination, name.data())) return;
            const ExactValue exact(type, bytes.data(), static_cast<DWORD>(bytes.size()));
            written = g_copyValueWrite(destination, name.data(), 0, type, exact.data(), exact.size()) == ERROR_SUCCESS &&
                      written;
        });
    return read && written;
}

}  // namespace

bool CopyTree(HKEY destination, HKEY source, ExistingValues existing) {
    // The source is walked; each key it enters gets its destination key, made below the one of its
    // parent. A registry link on either side is skipped: neither the link nor its target is copied,
    // and nothing is written through one. A link in the source is nothing to copy; one in the
    // destination leaves out what it stands in for.
    struct Copier final : TreeVisitor {
        ExistingValues existing;
        bool complete = true;
        std::vector<HKEY> keys;             // [d]: the destination of the source key at depth d
        std::vector<UniqueHKey> owned;      // the same, owned (not the caller's top)
        std::vector<std::wstring> names;    // their full names
        // The destination of a source key at `depth`; empty (and the copy incomplete) when there is none.
        UniqueHKey Make(const std::wstring& name, std::size_t depth) {
            keys.resize(depth);
            owned.resize(depth);
            names.resize(depth);
            bool link = false;
            UniqueHKey made = CreateChild(keys[depth - 1], names[depth - 1], name, &link);
            if (!made) complete = false;
            return made;
        }
        Next Enter(HKEY key, const std::wstring& name, std::size_t depth) override {
            UniqueHKey made = Make(name, depth);
            if (!made) return Next::Skip;
            complete = CopyValues(made.get(), key, existing) && complete;
            keys.push_back(made.get());
            names.push_back(names[depth - 1] + L"\\" + name);
            owned.push_back(std::move(made));
            return Next::Descend;
        }
        // A source key that does not open still gets its (empty) destination key.
        bool Failed(const std::wstring& name, std::size_t depth, LONG) override {
            if (!name.empty()) Make(name, depth);
            complete = false;
            return true;
        }
    } copier;
    copier.existing = existing;
    copier.keys.push_back(destination);
    copier.owned.emplace_back();
    copier.names.push_back(KeyFullName(destination).value_or(std::wstring()));
    bool complete = CopyValues(destination, source, existing);
    complete = WalkTree(source, kReadWriteAccess, copier) == ERROR_SUCCESS && complete;
    return complete && copier.complete;
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
