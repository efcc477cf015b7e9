#include "core/module.h"

#include <new>
#include <utility>

#include "server/class_factory.h"

namespace ks {

Module g_module;

bool Module::Initialize(HINSTANCE instance) {
    instance_ = instance;
    lockReady_ = InitializeCriticalSectionAndSpinCount(&classTableLock_, 0) != FALSE;
    return lockReady_;
}

void Module::Shutdown() {
    if (cachedFactory_ != nullptr) {
        IUnknown* factory = cachedFactory_;
        cachedFactory_ = nullptr;
        factory->Release();
    }
    shutDown_ = true;
    ReplaceActiveHardwareName(UniqueBstr());
    if (lockReady_) {
        DeleteCriticalSection(&classTableLock_);
        lockReady_ = false;
    }
}

HRESULT Module::CachedFactory(IUnknown** factory) {
    *factory = nullptr;
    if (cachedFactory_ == nullptr) {
        if (!lockReady_) return E_UNEXPECTED;
        EnterCriticalSection(&classTableLock_);
        HRESULT hr = S_OK;
        if (cachedFactory_ == nullptr) hr = CreateClassFactory(&cachedFactory_);
        LeaveCriticalSection(&classTableLock_);
        if (cachedFactory_ == nullptr) return FAILED(hr) ? hr : CLASS_E_CLASSNOTAVAILABLE;
    }
    *factory = cachedFactory_;
    return S_OK;
}

GUID Module::ActiveHardwareGuid() {
    AcquireSRWLockShared(&hardwareLock_);
    GUID guid = activeHardwareGuid_;
    ReleaseSRWLockShared(&hardwareLock_);
    return guid;
}

void Module::SetActiveHardwareGuid(const GUID& guid) {
    AcquireSRWLockExclusive(&hardwareLock_);
    activeHardwareGuid_ = guid;
    ReleaseSRWLockExclusive(&hardwareLock_);
}

UniqueBstr Module::ActiveHardwareName() {
    AcquireSRWLockShared(&hardwareLock_);
    BSTR copy = nullptr;
    bool failed = false;
    if (activeHardwareName_ != nullptr) {
        copy = SysAllocStringLen(activeHardwareName_, SysStringLen(activeHardwareName_));
        failed = copy == nullptr;
    }
    ReleaseSRWLockShared(&hardwareLock_);
    if (failed) throw std::bad_alloc();
    return UniqueBstr(copy);
}

void Module::ReplaceActiveHardwareName(UniqueBstr name) {
    AcquireSRWLockExclusive(&hardwareLock_);
    BSTR old = std::exchange(activeHardwareName_, name.release());
    ReleaseSRWLockExclusive(&hardwareLock_);
    SysFreeString(old);
}

}  // namespace ks
