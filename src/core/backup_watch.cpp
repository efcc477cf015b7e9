#include "core/backup_watch.h"

#include <optional>
#include <utility>
#include <vector>

namespace ks {

BackupWatch g_backupWatch;

namespace {

// Windows 8 and later keep the notification until the key is closed; older systems refuse the flag
// and tie it to the arming thread, whose end then signals the event: a full copy, never a lost value.
constexpr DWORD kThreadAgnostic = 0x10000000;  // REG_NOTIFY_THREAD_AGNOSTIC
constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// The key's full name in the registry's namespace, as the platform tells it for the handle: two
// handles name the same live key when their names are equal. Empty for a deleted key.
std::optional<std::wstring> KeyName(HKEY key) {
    using QueryKey = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryKey>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    if (query == nullptr) return std::nullopt;
    constexpr int kKeyNameInformation = 3;
    std::vector<BYTE> buffer(512);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            ULONG length = 0;
            memcpy(&length, buffer.data(), sizeof(length));
            if (length > buffer.size() - sizeof(ULONG)) return std::nullopt;
            std::wstring name(length / sizeof(wchar_t), L'\0');
            memcpy(name.data(), buffer.data() + sizeof(ULONG), name.size() * sizeof(wchar_t));
            return name;
        }
        if (needed <= buffer.size()) return std::nullopt;
        buffer.resize(needed);
    }
    return std::nullopt;
}

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
    const std::optional<std::wstring> kept = KeyName(key_.get());
    return kept && kept == KeyName(now);
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
