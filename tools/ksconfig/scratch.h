#pragma once
// Looking changes nothing. A reading command runs the store against a scratch copy of the
// settings root and its backup: this process's HKEY_CURRENT_USER is pointed at the copy, and the
// store, being in-process, follows. What it writes there (first-use defaults, a root rebuilt from
// the backup, the backup taken when the object is released) goes away with the copy.
#include <windows.h>

#include <string>

#include "core/win_handles.h"

namespace ksconfig {

class ScratchHive {
public:
    ScratchHive() = default;
    ScratchHive(const ScratchHive&) = delete;
    ScratchHive& operator=(const ScratchHive&) = delete;
    // Puts HKEY_CURRENT_USER back and deletes the copy.
    ~ScratchHive();

    // Copies the settings root (or, when it is missing, the backup tree: the store reads it only to
    // rebuild a missing root) without its registry links, as the store's own copy does, and redirects HKEY_CURRENT_USER; the platform's error when that fails
    // (nothing is redirected then).
    LONG Enter();
    bool Active() const { return static_cast<bool>(scratch_); }

    // Whether value `name` of `path` (below the current user's hive) holds something in the copy
    // that the real hive does not: the store wrote it.
    bool Wrote(const std::string& path, const char* name) const;
    // The copy of `path`, for reading; empty when absent.
    ks::UniqueHKey Open(const std::string& path) const;

private:
    ks::UniqueHKey scratch_;
    std::string scratchPath_;  // below the real HKEY_CURRENT_USER
};

// Removes a folder the store made on first use while a command only looked, when it did not
// exist before (`existedBefore`) and is still empty.
void RemoveMadeFolder(const std::string& folder, bool existedBefore);

}  // namespace ksconfig
