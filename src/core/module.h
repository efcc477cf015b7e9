#pragma once
// Module-wide state: one instance per process that loaded the store. Holds the lock count that
// decides unloading, the cached class factory, and the process-wide active hardware.
#include <windows.h>
#include <oleauto.h>

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

    // Active hardware (unprotected, as the callers serialise).
    GUID activeHardwareGuid{};
    BSTR activeHardwareName = nullptr;

private:
    HINSTANCE instance_ = nullptr;
    volatile LONG lockCount_ = 0;
    CRITICAL_SECTION classTableLock_{};
    bool lockReady_ = false;
    bool shutDown_ = false;
    IUnknown* cachedFactory_ = nullptr;
};

extern Module g_module;

}  // namespace ks
