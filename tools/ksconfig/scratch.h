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

    // Copies both trees and redirects HKEY_CURRENT_USER; the platform's error when that fails
    // (nothing is redirected then).
    LONG Enter();
    bool Active() const { return static_cast<bool>(scratch_); }

    // Whether value `name` of `path` (below the current user's hive) holds something in the copy
    // that the real hive does not: the store wrote it.
    bool Wrote(const std::string& path, const char* name) const;

private:
    ks::UniqueHKey realUser_;  // the real HKEY_CURRENT_USER, opened before the redirection
    ks::UniqueHKey scratch_;
    std::string scratchPath_;  // below the real HKEY_CURRENT_USER
};

// Removes a folder the store made on first use while a command only looked, when it did not
// exist before (`existedBefore`) and is still empty.
void RemoveMadeFolder(const std::string& folder, bool existedBefore);

}  // namespace ksconfig
