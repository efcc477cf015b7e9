#include "scratch.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "registry_view.h"

namespace ksconfig {
namespace {

// One subkey per running ksconfig, named by its process id.
constexpr char kScratchParent[] = "Software\\ksconfig scratch";

// The copy of a tree that is absent stays absent, so the store sees the same missing root. A value
// that cannot be copied costs only itself, as in the store's own copy.
LONG CopyInto(HKEY scratch, const char* path) {
    ks::UniqueHKey source = OpenRead(path);
    if (!source) return ERROR_SUCCESS;
    LONG error = ERROR_SUCCESS;
    ks::UniqueHKey target = ks::CreateKey(scratch, path, &error);
    if (target) ks::CopyTree(target.get(), source.get());
    return error;
}

// Copies left by a ksconfig that was killed before it could delete its own.
void DeleteOrphans(HKEY realUser) {
    ks::UniqueHKey parent = ks::OpenKey(realUser, kScratchParent, KEY_READ);
    if (!parent) return;
    for (const std::string& name : ks::SubkeyNames(parent.get())) {
        DWORD pid = static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 10));
        ks::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (!process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
            ks::DeleteTree(realUser, (std::string(kScratchParent) + "\\" + name).c_str());
        }
    }
}

std::optional<ks::RegistryValue> RawValue(const ks::UniqueHKey& key, const char* name) {
    return key ? ReadValue(key.get(), name) : std::nullopt;
}

}  // namespace

LONG ScratchHive::Enter() {
    HKEY user = User();  // opened before the redirection
    DeleteOrphans(user);
    scratchPath_ = std::string(kScratchParent) + "\\" + std::to_string(GetCurrentProcessId());
    ks::DeleteTree(user, scratchPath_.c_str());
    LONG error = ERROR_SUCCESS;
    ks::UniqueHKey scratch = ks::CreateKey(user, scratchPath_, &error);
    if (!scratch) return error;
    scratch_ = std::move(scratch);
    // The copy is most of what looking costs, so the backup is copied only when it is read.
    error = CopyInto(scratch_.get(), ks::kSettingsRoot);
    if (error == ERROR_SUCCESS && !KeyExists(ks::kSettingsRoot)) error = CopyInto(scratch_.get(), ks::kBackupRoot);
    if (error == ERROR_SUCCESS) error = RegOverridePredefKey(HKEY_CURRENT_USER, scratch_.get());
    if (error != ERROR_SUCCESS) {
        scratch_.reset();
        ks::DeleteTree(user, scratchPath_.c_str());
    }
    return error;
}

ScratchHive::~ScratchHive() {
    if (!scratch_) return;
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    scratch_.reset();
    ks::DeleteTree(User(), scratchPath_.c_str());
    RegDeleteKeyA(User(), kScratchParent);  // only when no other ksconfig has a copy below it
}

ks::UniqueHKey ScratchHive::Open(const std::string& path) const {
    return scratch_ ? ks::OpenKey(scratch_.get(), path, KEY_READ) : ks::UniqueHKey();
}

bool ScratchHive::Wrote(const std::string& path, const char* name) const {
    std::optional<ks::RegistryValue> copy = RawValue(Open(path), name);
    std::optional<ks::RegistryValue> real = RawValue(OpenRead(path), name);
    if (!copy) return false;
    return !real || real->type != copy->type || real->data != copy->data;
}

void RemoveMadeFolder(const std::string& folder, bool existedBefore) {
    if (!existedBefore) RemoveDirectoryA(folder.c_str());  // fails, as it should, unless empty
}

}  // namespace ksconfig
