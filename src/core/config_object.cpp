#include "core/config_object.h"

#include <new>
#include <utility>

#include "core/module.h"
#include "core/settings_tree.h"

namespace ks {

namespace {

// The ensure-root and backup steps report nothing, a failed allocation included: at creation and
// in the last Release nothing may escape, and the step simply ends where it failed.
template <void (*Step)()>
void Silently() noexcept {
    try {
        Step();
    } catch (...) {
    }
}

// The outer-facing part of an aggregated object: its own count and identity; every other
// interface comes from the inner object, whose IUnknown calls reach the outer object.
class AggregatedConfig final : public IUnknown {
public:
    explicit AggregatedConfig(IUnknown* outer) : inner_(outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner_.InternalQueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(++refCount_); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        LONG count = --refCount_;
        if (count == 0) {
            refCount_ = kDestructionGuard;
            inner_.FinalRelease();
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    ConfigObject& Inner() { return inner_; }
    std::atomic<LONG> refCount_ = 0;  // atomic for the same reason as the plain object's

private:
    ConfigObject inner_;
};

}  // namespace

// Final construction of a new object (plain, or the outer-facing part of an aggregate): a
// temporary reference guards it while the ensure-root step runs, then the creator's query
// decides; a failed query tears the object down at once, backup step included.
template <class Created>
HRESULT FinishCreation(Created* created, ConfigObject& config, REFIID riid, void** object) {
    created->refCount_ = 1;
    Silently<EnsureSettingsRoot>();
    created->refCount_ = 0;
    HRESULT hr = created->QueryInterface(riid, object);
    if (FAILED(hr)) {
        created->refCount_ = kDestructionGuard;
        config.FinalRelease();
        delete created;
    }
    return hr;
}

HRESULT CreateConfigObject(IUnknown* outer, REFIID riid, void** object) noexcept {
    return Call(nullptr, {object}, [&] {
        *object = nullptr;
        if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        if (outer == nullptr) {
            ConfigObject* plain = new (std::nothrow) ConfigObject(nullptr);
            if (plain == nullptr) return E_OUTOFMEMORY;
            return FinishCreation(plain, *plain, riid, object);
        }
        AggregatedConfig* aggregate = new (std::nothrow) AggregatedConfig(outer);
        if (aggregate == nullptr) return E_OUTOFMEMORY;
        return FinishCreation(aggregate, aggregate->Inner(), riid, object);
    });
}

ConfigObject::ConfigObject(IUnknown* outer) : outer_(outer) {
    g_module.Lock();
}

ConfigObject::~ConfigObject() {
    // Lists and texts go after the module lock is released (member destruction follows).
    g_module.Unlock();
}

void ConfigObject::FinalRelease() noexcept {
    Silently<BackupSettings>();
}

HRESULT ConfigObject::InternalQueryInterface(REFIID riid, void** object) {
    return Call(nullptr, {object}, [&] {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKeystrelConfig)) {
            *object = static_cast<IKeystrelConfig*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::QueryInterface(REFIID riid, void** object) noexcept {
    if (outer_ != nullptr) return outer_->QueryInterface(riid, object);
    return InternalQueryInterface(riid, object);
}

ULONG STDMETHODCALLTYPE ConfigObject::AddRef() noexcept {
    if (outer_ != nullptr) return outer_->AddRef();
    return static_cast<ULONG>(++refCount_);
}

ULONG STDMETHODCALLTYPE ConfigObject::Release() noexcept {
    if (outer_ != nullptr) return outer_->Release();
    LONG count = --refCount_;
    if (count == 0) {
        refCount_ = kDestructionGuard;
        FinalRelease();
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ConfigObject::SetActiveHardware(GUID hwguid, LPSTR hwname) noexcept {
    return Call(nullptr, {}, [&] {
        g_module.SetActiveScanner(hwguid, hwname);
        return S_OK;
    });
}

// Kept in the interface for its clients; they read and write nothing.
namespace {
HRESULT Nothing() noexcept {
    return Call(nullptr, {}, [] { return S_OK; });
}
}  // namespace
HRESULT STDMETHODCALLTYPE ConfigObject::GetConfigRegistryString(BSTR, BSTR*) noexcept { return Nothing(); }
HRESULT STDMETHODCALLTYPE ConfigObject::SetConfigRegistryString(BSTR, BSTR) noexcept { return Nothing(); }
HRESULT STDMETHODCALLTYPE ConfigObject::GetConfigRegistryDWORD(BSTR, ULONG*) noexcept { return Nothing(); }
HRESULT STDMETHODCALLTYPE ConfigObject::SetConfigRegistryDWORD(BSTR, ULONG) noexcept { return Nothing(); }
HRESULT STDMETHODCALLTYPE ConfigObject::GetConfigRegistryBinary(BSTR, unsigned char**, LONG*) noexcept {
    return Nothing();
}
HRESULT STDMETHODCALLTYPE ConfigObject::SetConfigRegistryBinary(BSTR, unsigned char*, LONG) noexcept {
    return Nothing();
}
HRESULT STDMETHODCALLTYPE ConfigObject::DeleteConfigRegistryValue(BSTR, BSTR) noexcept { return Nothing(); }

}  // namespace ks
