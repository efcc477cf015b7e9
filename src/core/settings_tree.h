#pragma once
// The settings root and its backup tree. None of these report a result: every failure is
// silent and the caller goes on as if the step had done nothing.
#include <windows.h>

namespace ks {

// Rebuilds the settings root from the backup tree when the root is missing; a present root is
// never touched, whatever the backup holds.
void EnsureSettingsRoot();

// Merges the settings root into the backup tree (values overwritten, nothing deleted).
void BackupSettings();

// Copies the values, then the subkeys depth-first, of `source` into `destination`, keeping
// names, types and bytes; nothing in the destination is removed.
void CopyTree(HKEY destination, HKEY source);

}  // namespace ks
