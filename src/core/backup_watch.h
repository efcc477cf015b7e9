#pragma once
// Whether the backup this process took last is still what a full copy would give, so that a
// release that finds nothing changed copies nothing.
//
// The backup is a merge: a copy never deletes, it only writes the root's values over the
// backup's. So when neither tree has changed since this process's last complete copy, another
// copy would write every value with the value already there. The platform's change notifications
// (whole subtree, names and values) tell that nothing changed: the root's is armed before a copy
// starts, so that a change made while it runs counts; the backup's once the copy has ended, since
// the copy's own writes would fire it. What remains open is a writer other than the store changing
// the backup tree while a copy runs or before its notification is armed: a skip would then keep
// that writer's value where a full copy would have put the root's back.
#include <windows.h>

#include <string>

#include "core/win_handles.h"

namespace ks {

// A key kept open with a notification armed on its subtree.
class KeyWatch {
public:
    KeyWatch() = default;
    // Keeps `key` and arms its notification; a watch that is not armed when the platform refuses.
    static KeyWatch Arm(UniqueHKey key);

    // True when the notification is armed.
    explicit operator bool() const { return static_cast<bool>(event_); }
    HKEY Key() const { return key_.get(); }
    // True while the notification has not fired and the kept key is live and still named as `now` is.
    bool Unchanged(HKEY now) const;

private:
    UniqueHKey key_;
    UniqueHandle event_;
};

class BackupWatch {
public:
    // True when this process took a complete backup of `root` into `backup` and neither tree has
    // changed since; false at any doubt.
    bool Current(HKEY root, HKEY backup) const;
    // Records a complete copy of the root watched by `root` into `backup`; forgets the last one
    // when the backup's notification cannot be armed.
    void Completed(KeyWatch root, UniqueHKey backup);
    // Any later release copies in full (the root was rebuilt, or a copy stopped early).
    void Forget();

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    KeyWatch root_;
    KeyWatch backup_;
};

// One per process: every object of the process releases into the same backup.
extern BackupWatch g_backupWatch;

}  // namespace ks
