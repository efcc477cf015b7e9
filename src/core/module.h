#pragma once
// Module-wide state: one instance per process that loaded the store. Holds the module's
// instance handle and the lock count that decides unloading.
#include <windows.h>

#include <optional>
#include <string>

namespace ks {

class Module {
public:
    // Called at process attach.
    void Initialize(HINSTANCE instance) { instance_ = instance; }
    // Called at unload: marks class support shut down.
    void Shutdown() { shutDown_ = true; }

    HINSTANCE Instance() const { return instance_; }
    void SetInstance(HINSTANCE instance) { instance_ = instance; }

    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG LockCount() const { return lockCount_; }

    bool IsShutDown() const { return shutDown_; }

private:
    HINSTANCE instance_ = nullptr;
    volatile LONG lockCount_ = 0;
    bool shutDown_ = false;
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
