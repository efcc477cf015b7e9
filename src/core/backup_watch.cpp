#include "core/backup_watch.h"

#include <optional>
#include <utility>

#include "core/registry_io.h"

namespace ks {

BackupWatch g_backupWatch;

namespace {

// Windows 8 and later keep the notification until the key is closed; older systems refuse the flag
// and tie it to the arming thread, whose end then signals the event: a full copy, never a lost value.
constexpr DWORD kThreadAgnostic = 0x10000000;  // REG_NOTIFY_THREAD_AGNOSTIC
constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

}  // namespace

KeyWatch KeyWatch::Arm(UniqueHKey key) {
    KeyWatch watch;
    watch.key_ = std::move(key);
    if (!watch.key_) return watch;
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return watch;
    HKEY watched = watch.key_.get();
    LONG result = RegNotifyChangeKeyValue(watched, TRUE, kChanges | kThreadAgnostic, event.get(), TRUE);
    if (result == ERROR_INVALID_PARAMETER) result = RegNotifyChangeKeyValue(watched, TRUE, kChanges, event.get(), TRUE);
    if (result == ERROR_SUCCESS) watch.event_ = std::move(event);
    return watch;
}

bool KeyWatch::Unchanged(HKEY now) const {
    if (!event_ || WaitForSingleObject(event_.get(), 0) != WAIT_TIMEOUT) return false;
    // The key may have been deleted (a notification does not always fire for the watched key
    // itself), or the path may now lead elsewhere (HKEY_CURRENT_USER redirected).
    const std::optional<std::wstring> kept = KeyFullName(key_.get());
    return kept && kept == KeyFullName(now);
}

bool BackupWatch::Current(HKEY root, HKEY backup) const {
    AcquireSRWLockShared(&lock_);
    const bool current = root_.Unchanged(root) && backup_.Unchanged(backup);
    ReleaseSRWLockShared(&lock_);
    return current;
}

void BackupWatch::Completed(KeyWatch root, UniqueHKey backup) {
    KeyWatch backupWatch = KeyWatch::Arm(std::move(backup));
    if (!backupWatch) root = KeyWatch();
    AcquireSRWLockExclusive(&lock_);
    std::swap(root_, root);
    std::swap(backup_, backupWatch);
    ReleaseSRWLockExclusive(&lock_);
    // The watches replaced are closed outside the lock.
}

void BackupWatch::Forget() { Completed(KeyWatch(), UniqueHKey()); }

}  // namespace ks
