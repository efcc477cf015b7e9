#pragma once
// The settings root and its backup tree. None of these report a result: every failure is
// silent and the caller goes on as if the step had done nothing.
#include <windows.h>

namespace ks {

// Rebuilds the settings root from the backup tree when the root is missing; a present root is
// never touched, whatever the backup holds. A backup tree or root that is a registry link is no
// tree to rebuild from or into.
void EnsureSettingsRoot();

// Merges the settings root into the backup tree (values overwritten, nothing deleted); copies
// nothing when neither tree has changed since this process's last complete copy (core/backup_watch.h),
// nor when either is a registry link.
void BackupSettings();

// What the tree copy does with a value the destination already holds.
enum class ExistingValues { Overwrite, Keep };

// Copies the values, then the subkeys depth-first, of `source` into `destination`, keeping
// names, types and bytes; nothing in the destination is removed. Any depth is copied with the
// same small use of the caller's stack. A registry link below either key is never followed: the
// subkey it stands for is left out of the copy. A value that cannot be copied costs only itself.
// True when every key and value was copied (a link counts as copied: it is never to be).
bool CopyTree(HKEY destination, HKEY source, ExistingValues existing = ExistingValues::Overwrite);

// The tree copy's value write: the platform's own, replaced only by tests that watch the writes
// (the platform does not tell a write of the same bytes from no write).
using ValueWrite = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
extern ValueWrite g_copyValueWrite;

}  // namespace ks
