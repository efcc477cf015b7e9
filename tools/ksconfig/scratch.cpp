#include "scratch.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "registry_view.h"

namespace ksconfig {
namespace {

// One subkey per running ksconfig, named by its process id.
constexpr char kScratchParent[] = "Software\\ksconfig scratch";

// The copy of a tree that is absent stays absent, so the store sees the same missing root.
LONG CopyInto(HKEY realUser, HKEY scratch, const char* path) {
    ks::UniqueHKey source = ks::OpenKey(realUser, path, KEY_READ);
    if (!source) return ERROR_SUCCESS;
    LONG error = ERROR_SUCCESS;
    ks::UniqueHKey target = ks::CreateKey(scratch, path, &error);
    if (!target) return error;
    return RegCopyTreeW(source.get(), nullptr, target.get());
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

std::optional<ks::RegistryValue> RawValue(HKEY root, const std::string& path, const char* name) {
    ks::UniqueHKey key = ks::OpenKey(root, path, KEY_READ);
    return key ? ReadValue(key.get(), name) : std::nullopt;
}

}  // namespace

LONG ScratchHive::Enter() {
    HKEY user = nullptr;
    if (LONG error = RegOpenCurrentUser(KEY_ALL_ACCESS, &user); error != ERROR_SUCCESS) return error;
    realUser_.reset(user);
    DeleteOrphans(realUser_.get());
    scratchPath_ = std::string(kScratchParent) + "\\" + std::to_string(GetCurrentProcessId());
    ks::DeleteTree(realUser_.get(), scratchPath_.c_str());
    LONG error = ERROR_SUCCESS;
    ks::UniqueHKey scratch = ks::CreateKey(realUser_.get(), scratchPath_, &error);
    if (!scratch) return error;
    scratch_ = std::move(scratch);
    // The store reads the backup only to rebuild a missing root, so only then is it copied:
    // the copy is most of what looking costs.
    error = CopyInto(realUser_.get(), scratch_.get(), ks::kSettingsRoot);
    if (error == ERROR_SUCCESS && !ks::OpenKey(realUser_.get(), ks::kSettingsRoot, KEY_READ)) {
        error = CopyInto(realUser_.get(), scratch_.get(), ks::kBackupRoot);
    }
    if (error == ERROR_SUCCESS) error = RegOverridePredefKey(HKEY_CURRENT_USER, scratch_.get());
    if (error != ERROR_SUCCESS) {
        scratch_.reset();
        ks::DeleteTree(realUser_.get(), scratchPath_.c_str());
    }
    return error;
}

ScratchHive::~ScratchHive() {
    if (!scratch_) return;
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    scratch_.reset();
    ks::DeleteTree(realUser_.get(), scratchPath_.c_str());
    RegDeleteKeyA(realUser_.get(), kScratchParent);  // only when no other ksconfig has a copy below it
}

bool ScratchHive::Wrote(const std::string& path, const char* name) const {
    if (!scratch_) return false;
    std::optional<ks::RegistryValue> copy = RawValue(scratch_.get(), path, name);
    std::optional<ks::RegistryValue> real = RawValue(realUser_.get(), path, name);
    if (!copy) return false;
    return !real || real->type != copy->type || real->data != copy->data;
}

void RemoveMadeFolder(const std::string& folder, bool existedBefore) {
    if (!existedBefore) RemoveDirectoryA(folder.c_str());  // fails, as it should, unless empty
}

}  // namespace ksconfig
