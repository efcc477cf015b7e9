#pragma once
// Module-wide state: one instance per process that loaded the store. Holds the module's
// instance handle, the lock count that decides unloading, and the process-wide active hardware.
#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include "core/win_handles.h"

namespace ks {

class Module {
public:
    // Called at process attach.
    void Initialize(HINSTANCE instance) { instance_ = instance; }
    // Called at unload: marks class support shut down and frees the active hardware name.
    void Shutdown();

    HINSTANCE Instance() const { return instance_; }
    void SetInstance(HINSTANCE instance) { instance_ = instance; }

    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG LockCount() const { return lockCount_; }

    bool IsShutDown() const { return shutDown_; }

    // The active hardware, shared by every object of the process and set from any thread: read
    // and replaced under a lock; readers get copies, so a name in use is never freed under them.
    GUID ActiveHardwareGuid();
    void SetActiveHardwareGuid(const GUID& guid);
    // A copy of the name (null when none is set); std::bad_alloc when it cannot be copied.
    UniqueBstr ActiveHardwareName();
    // Takes ownership of `name` (may be null); the old name is freed outside the lock.
    void ReplaceActiveHardwareName(UniqueBstr name);

private:
    HINSTANCE instance_ = nullptr;
    volatile LONG lockCount_ = 0;
    bool shutDown_ = false;
    SRWLOCK hardwareLock_ = SRWLOCK_INIT;
    GUID activeHardwareGuid_{};
    UniqueBstr activeHardwareName_;
};

extern Module g_module;

// Full path of the module's own file in the calling process, in the ANSI code page, at most 259
// characters; empty when the platform cannot tell. A longer path comes back cut by the platform;
// `mayBeCut` (when given) tells that the path filled the buffer, for callers that must not use a
// cut path.
std::optional<std::string> ModulePath(bool* mayBeCut = nullptr);

// The install folder: the module path up to, not including, its last backslash (multi-byte
// aware); the empty text when the path has no backslash; empty optional when the module path is
// unknown. Default profiles and driver settings templates are found below it, in "Profiles".
std::optional<std::string> InstallFolder();

}  // namespace ks
