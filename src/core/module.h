#pragma once
// Module-wide state: one instance per process that loaded the store. Holds the module's
// instance handle, the lock count that decides unloading, and the process-wide active scanner.
#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <utility>

#include "core/win_handles.h"

namespace ks {

class Module {
public:
    // Called at process attach.
    void Initialize(HINSTANCE instance) { instance_ = instance; }
    // Called at unload: marks class support shut down and frees the active scanner's name.
    void Shutdown();

    HINSTANCE Instance() const { return instance_; }
    void SetInstance(HINSTANCE instance) { instance_ = instance; }

    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG LockCount() const { return lockCount_; }

    bool IsShutDown() const { return shutDown_; }

    // The active scanner, shared by every object of the process and set from any thread: its GUID
    // and name are one value, replaced and read whole under a lock, so no reader pairs one
    // caller's GUID with another's name. Readers get copies; a name in use is never freed under them.
    struct Scanner {
        GUID guid{};
        std::string name;  // 8-bit text, empty when none is set
    };
    // A copy of the active scanner; std::bad_alloc when its name cannot be copied.
    Scanner ActiveScanner();
    // Replaces the active scanner with `guid` and `name` (null clears the name). When the name
    // cannot be copied, the GUID alone is replaced and std::bad_alloc thrown.
    void SetActiveScanner(const GUID& guid, const char* name);

private:
    HINSTANCE instance_ = nullptr;
    volatile LONG lockCount_ = 0;
    bool shutDown_ = false;
    SRWLOCK scannerLock_ = SRWLOCK_INIT;
    GUID scannerGuid_{};
    UniqueBstr scannerName_;  // kept as the caller's text became it: the conversion is per thread
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
