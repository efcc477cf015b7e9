#include "server/class_factory.h"

#include <new>

#include "server/config_object.h"
#include "core/module.h"
#include "core/win_handles.h"

namespace ks {

namespace {

// The module caches one reference to the factory. Any outside reference on top of it keeps the
// module locked exactly once, however many there are.
class ClassFactory final : public IClassFactory {
public:
    ClassFactory() { InitializeCriticalSection(&lock_); }
    ~ClassFactory() { DeleteCriticalSection(&lock_); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        EnterCriticalSection(&lock_);
        LONG count = InterlockedIncrement(&refCount_);
        if (count == 2) g_module.Lock();
        LeaveCriticalSection(&lock_);
        return static_cast<ULONG>(count);
    }

    ULONG STDMETHODCALLTYPE Release() override {
        EnterCriticalSection(&lock_);
        LONG count = InterlockedDecrement(&refCount_);
        LeaveCriticalSection(&lock_);
        if (count == 0) {
            delete this;
        } else if (count == 1) {
            g_module.Unlock();
        }
        return static_cast<ULONG>(count);
    }

    // Nothing escapes: CreateConfigObject runs through the boundary of every interface method.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override {
        return CreateConfigObject(outer, riid, object);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            g_module.Lock();
        } else {
            g_module.Unlock();
        }
        return S_OK;
    }

private:
    volatile LONG refCount_ = 0;
    CRITICAL_SECTION lock_;
};

// The module's one cached reference, made under a lock that needs no set-up.
SRWLOCK g_factoryLock = SRWLOCK_INIT;
ComPtr<IUnknown> g_cachedFactory;

}  // namespace

HRESULT CachedClassFactory(IUnknown** factory) {
    *factory = nullptr;
    AcquireSRWLockExclusive(&g_factoryLock);
    HRESULT hr = S_OK;
    if (!g_cachedFactory) {
        ClassFactory* created = new (std::nothrow) ClassFactory();
        hr = created == nullptr ? E_OUTOFMEMORY : created->QueryInterface(IID_IUnknown, g_cachedFactory.put_void());
    }
    *factory = g_cachedFactory.get();
    ReleaseSRWLockExclusive(&g_factoryLock);
    if (*factory == nullptr) return FAILED(hr) ? hr : CLASS_E_CLASSNOTAVAILABLE;
    return S_OK;
}

void ReleaseCachedClassFactory() {
    AcquireSRWLockExclusive(&g_factoryLock);
    ComPtr<IUnknown> factory = std::move(g_cachedFactory);
    ReleaseSRWLockExclusive(&g_factoryLock);
}

}  // namespace ks
