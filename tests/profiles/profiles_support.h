#pragma once
// Shared by the scan profile and event tests: distinctive records and an in-process stand-in for
// a scanner's device component.
#include <cstddef>
#include <cstring>
#include <string>

#include "support/ks_test.h"

namespace kstest {

// A GUID that no component is registered for.
inline constexpr GUID kNoDevice = {0x3b1d7c44, 0x0a52, 0x4d8e, {0x9e, 0x11, 0x52, 0x6c, 0x70, 0x0d, 0x21, 0x9f}};

inline void SetText(char* field, const std::string& text) { std::memcpy(field, text.c_str(), text.size() + 1); }
template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// What reading a stored record gives back: bytes after each text's terminator are zero.
template <std::size_t N>
void ClearAfterText(char (&field)[N]) {
    std::size_t n = strnlen(field, N - 1);
    std::memset(field + n, 0, N - n);
}

// The key name the store makes: a GUID in registry form, braces replaced by '*'.
inline bool IsGuidKeyName(const std::string& name) {
    if (name.size() != 38 || name.front() != '*' || name.back() != '*') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? name[i] != '-' : !strchr("0123456789ABCDEF", name[i])) return false;
    }
    return true;
}

// A scanner's device component: answers GetDeviceDefaults as told.
struct DeviceBehaviour {
    HRESULT result = S_OK;
    bool giveBlock = true;
    _KSDEVICEDEFAULTS block{};
};

class FakeDeviceComponent final : public IClassFactory {
public:
    // Registered for `clsid` in this process while the object lives.
    FakeDeviceComponent(const GUID& clsid, const DeviceBehaviour& behaviour) : behaviour_(behaviour) {
        EXPECT_EQ(CoRegisterClassObject(clsid, static_cast<IClassFactory*>(this), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
    }
    ~FakeDeviceComponent() { CoRevokeClassObject(cookie_); }
    FakeDeviceComponent(const FakeDeviceComponent&) = delete;
    FakeDeviceComponent& operator=(const FakeDeviceComponent&) = delete;

    int calls = 0;
    LONG deviceRefs = 0;  // references the store holds on the device object

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (!IsEqualIID(riid, IID_IKsDeviceDefaults) && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
        device_.owner = this;
        *out = static_cast<IKsDeviceDefaults*>(&device_);
        ++deviceRefs;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    // The device object itself, counting the references the store takes and gives back.
    struct Device final : IKsDeviceDefaults {
        FakeDeviceComponent* owner = nullptr;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
            if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKsDeviceDefaults)) {
                *out = this;
                AddRef();
                return S_OK;
            }
            *out = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++owner->deviceRefs); }
        ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--owner->deviceRefs); }
        HRESULT STDMETHODCALLTYPE GetDeviceDefaults(_KSDEVICEDEFAULTS** defaults) override {
            ++owner->calls;
            *defaults = nullptr;
            if (owner->behaviour_.giveBlock) {
                *defaults = static_cast<_KSDEVICEDEFAULTS*>(CoTaskMemAlloc(sizeof(_KSDEVICEDEFAULTS)));
                **defaults = owner->behaviour_.block;
            }
            return owner->behaviour_.result;
        }
    };

    DeviceBehaviour behaviour_;
    DWORD cookie_ = 0;
    Device device_;
};

}  // namespace kstest
