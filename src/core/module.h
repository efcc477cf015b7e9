#pragma once
// Module-wide state: one instance per process that loaded the store. Holds the lock count that
// decides unloading, the cached class factory, and the process-wide active hardware.
#include <windows.h>
#include <oleauto.h>

#include "core/win_handles.h"

namespace ks {

class Module {
public:
    // Called at process attach; false when a critical section cannot be initialised.
    bool Initialize(HINSTANCE instance);
    // Called at unload: releases the cached factory, marks class support shut down, frees the
    // active hardware name and deletes the critical sections.
    void Shutdown();

    HINSTANCE Instance() const { return instance_; }
    void SetInstance(HINSTANCE instance) { instance_ = instance; }

    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG LockCount() const { return lockCount_; }

    bool IsShutDown() const { return shutDown_; }

    // The class factory, created once under the class-table lock; returns its HRESULT and an
    // unowned pointer to the cached IUnknown.
    HRESULT CachedFactory(IUnknown** factory);

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
    CRITICAL_SECTION classTableLock_{};
    bool lockReady_ = false;
    bool shutDown_ = false;
    IUnknown* cachedFactory_ = nullptr;
    SRWLOCK hardwareLock_ = SRWLOCK_INIT;
    GUID activeHardwareGuid_{};
    BSTR activeHardwareName_ = nullptr;
};

extern Module g_module;

}  // namespace ks
