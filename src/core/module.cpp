#include "core/module.h"

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
    SysFreeString(activeHardwareName);
    activeHardwareName = nullptr;
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

}  // namespace ks
