#include "server/config_object.h"

#include <cstring>
#include <new>
#include <utility>

#include "calibration/calibration.h"
#include "core/boundary.h"
#include "core/module.h"
#include "core/pure/key_path.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "device/device.h"
#include "server/bstr.h"

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
    return Call(Root::Untouched, {object}, [&] {
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
    return Call(Root::Untouched, {object}, [&] {
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

// The forwarders, in slot order.
using C = ConfigObject;
constexpr Root kFirst = Root::First;
constexpr Root kNone = Root::Untouched;

HRESULT C::LoadLinkInfo(LONG Refresh, IStorage** pStore) noexcept {
    return Call(kFirst, {pStore}, [&] { return links_.LoadLinkInfo(Refresh, pStore); });
}
HRESULT C::LoadConfigInfo(BSTR hardware, _KSCNFGFLAG flags, LONG* count) noexcept {
    return Call(kFirst, {count}, [&] { return profiles_.LoadConfigInfo(ToAnsi(hardware), flags, count); });
}
HRESULT C::StoreConfigInfo(BSTR hardware, _KSCONFIG* config) noexcept {
    return Call(kFirst, {config}, [&] { return ProfileService::StoreConfigInfo(ToAnsi(hardware), config), S_OK; });
}
HRESULT C::GetActiveConfig(_KSCONFIG** pconfig) noexcept {
    return Call(kNone, {pconfig}, [&] {
        *pconfig = nullptr;  // before the root step, which may fail
        EnsureSettingsRoot();
        return profiles_.GetActiveConfig(pconfig);
    });
}
HRESULT C::StoreActiveConfig() noexcept {
    return Call(kFirst, {}, [&] { return profiles_.StoreActiveConfig(); });
}
HRESULT C::SetActiveConfig(LONG index) noexcept {
    return Call(kNone, {}, [&] { return profiles_.SetActiveConfig(index); });
}
HRESULT C::GetConfig(LONG index, _KSCONFIG* pconfig) noexcept {
    return Call(kNone, {pconfig}, [&] { return profiles_.GetConfig(index, pconfig); });
}
HRESULT C::DeleteConfigInfo(LONG index) noexcept {
    return Call(kFirst, {}, [&] { return profiles_.DeleteConfigInfo(index); });
}
HRESULT C::LoadEventInfo(BSTR hardware, LONG* count) noexcept {
    return Call(kFirst, {count}, [&] { return profiles_.LoadEventInfo(ToAnsi(hardware), count); });
}
HRESULT C::GetEvent(LONG index, _KSEVENT* pevent) noexcept {
    return Call(kNone, {pevent}, [&] { return profiles_.GetEvent(index, pevent); });
}
HRESULT C::StoreEventInfo(BSTR hardware, _KSEVENT* pevent) noexcept {
    return Call(kFirst, {pevent}, [&] { return ProfileService::StoreEventInfo(ToAnsi(hardware), pevent); });
}
// The 8-bit names go the way of a client's BSTR, so the same text arrives as for the loads.
HRESULT C::GetEventDetails(LPSTR hw, LPSTR event, _KSEVENT* pevent) noexcept {
    return Call(kFirst, {pevent}, [&] { return profiles_.GetEventDetails(ToAnsi(MakeBstrOrNull(hw).get()), event, pevent); });
}
HRESULT C::GetConfigDetails(LPSTR hw, LPSTR config, _KSCONFIG* pconfig) noexcept {
    return Call(kFirst, {pconfig}, [&] { return profiles_.GetConfigDetails(ToAnsi(MakeBstrOrNull(hw).get()), config, pconfig); });
}
HRESULT C::SetActiveHardware(GUID hwguid, LPSTR hwname) noexcept {
    return Call(kNone, {}, [&] { return SetActiveScanner(hwguid, hwname), S_OK; });
}
HRESULT C::StoreCalibrationData(BSTR hwname, LONG gamma, LONG size, unsigned char* data) noexcept {
    // A table has no negative length: refused rather than read past `data`.
    return Call(kFirst, {data}, size >= 0, [&] { return ks::StoreCalibrationData(ToAnsi(hwname), gamma, size, data); });
}
HRESULT C::GetCalibrationData(BSTR name, LONG size, unsigned char* data) noexcept {
    return Call(kFirst, {data}, size >= 0, [&] { return ks::GetCalibrationData(ToAnsi(name), size, data); });
}
HRESULT C::GetLinkEngineContainer(BSTR name, BSTR* container) noexcept {
    return Call(kFirst, {}, [&] { return StoreBstr(container, LinkEngineContainer(ToAnsi(name))), S_OK; });
}
HRESULT C::GetLinkEngineCLSID(ULONG index, GUID* clsid) noexcept {
    return Call(kNone, {clsid}, [&] { return links_.GetLinkEngineCLSID(index, clsid); });
}
HRESULT C::GetLinkCustomProfile(BSTR* path) noexcept {
    return Call(kFirst, {}, [&] { return StoreBstr(path, LinkCustomProfile()), S_OK; });
}
HRESULT C::SetUIInterfaceProfile(BSTR profile) noexcept {
    return Call(kNone, {}, [&] { return links_.SetUIInterfaceProfile(ToAnsi(profile)), S_OK; });
}
HRESULT C::CanUIInterfaceCloseOnScan(LONG* closeUI) noexcept {
    return Call(kNone, {closeUI}, [&] { return *closeUI = 1, S_OK; });
}
HRESULT C::UIInterfaceSaveSettings(short scanmode, short devicemode) noexcept {
    return Call(kFirst, {}, [&] { return ks::UIInterfaceSaveSettings(links_.UIInterfaceProfile(), scanmode, devicemode), S_OK; });
}
HRESULT C::UIInterfaceStartupSettings(BSTR hwname, short* scanmode, short* devicemode, BSTR* configfile) noexcept {
    return Call(kFirst, {scanmode, devicemode}, [&] {
        const std::optional<StartupSettings> found = ks::UIInterfaceStartupSettings(ToAnsi(hwname), links_.UIInterfaceProfile());
        if (!found) return S_OK;
        *scanmode = found->scanMode;
        *devicemode = found->deviceMode;
        if (!found->file.empty()) StoreBstr(configfile, found->file);
        return S_OK;
    });
}
HRESULT C::GetUIInterfaceProfile(BSTR* path) noexcept {
    return Call(kFirst, {}, [&] { return StoreBstr(path, UIInterfaceProfilesPath()), S_OK; });
}
HRESULT C::CopyToFolderSettings(BSTR hwname, _KSCPYFLAG* flag, BSTR* path, LONG* count) noexcept {
    return Call(kFirst, {flag, count}, [&] {
        // The options pass as bits: a client's value need not be one of the enumeration's members.
        CopySettings current{{}, 0, *count};
        std::memcpy(&current.flags, flag, sizeof(current.flags));
        const std::optional<CopySettings> found = ks::CopyToFolderSettings(ToAnsi(hwname), current);
        if (!found) return S_OK;
        StoreBstr(path, FieldText(found->path));
        std::memcpy(flag, &found->flags, sizeof(found->flags));
        *count = found->count;
        return S_OK;
    });
}
HRESULT C::StoreCopyFolderOptions(BSTR hwname, _KSCPYFLAG flags, BSTR path) noexcept {
    return Call(kFirst, {}, [&] {
        DWORD bits = 0;
        std::memcpy(&bits, &flags, sizeof(bits));
        return ks::StoreCopyFolderOptions(ToAnsi(hwname), bits, ToAnsi(path)), S_OK;
    });
}
HRESULT C::UpdateCopyCount(BSTR hwname, LONG addcopy) noexcept {
    return Call(kFirst, {}, [&] { return ks::UpdateCopyCount(ToAnsi(hwname), addcopy), S_OK; });
}
HRESULT C::GetTwainConfigurationFile(BSTR hwname, BSTR* configfile) noexcept {
    return Call(kFirst, {}, [&] {
        if (const std::optional<std::string> file = ks::GetTwainConfigurationFile(ToAnsi(hwname))) StoreBstr(configfile, *file);
        return S_OK;
    });
}
HRESULT C::GetDefualtGamma(BSTR hwname, LONG* gamma) noexcept {
    return Call(kFirst, {gamma}, [&] { return ks::GetDefualtGamma(ToAnsi(hwname), gamma); });
}
HRESULT C::GetKSInstallFolder(BSTR* folder) noexcept {
    return Call(kNone, {}, [&] {
        const std::optional<std::string> installFolder = InstallFolder();
        if (!installFolder) return E_FAIL;
        StoreBstr(folder, *installFolder);
        return S_OK;
    });
}
HRESULT C::GetOCRFlags(LONG* lSendEmptyFile, LONG* lShowMessages) noexcept {
    return Call(kNone, {lSendEmptyFile, lShowMessages}, [&] { return ks::GetOCRFlags(lSendEmptyFile, lShowMessages); });
}

// Kept in the interface for its clients; they read and write nothing.
HRESULT C::GetConfigRegistryString(BSTR, BSTR*) noexcept { return S_OK; }
HRESULT C::SetConfigRegistryString(BSTR, BSTR) noexcept { return S_OK; }
HRESULT C::GetConfigRegistryDWORD(BSTR, ULONG*) noexcept { return S_OK; }
HRESULT C::SetConfigRegistryDWORD(BSTR, ULONG) noexcept { return S_OK; }
HRESULT C::GetConfigRegistryBinary(BSTR, unsigned char**, LONG*) noexcept { return S_OK; }
HRESULT C::SetConfigRegistryBinary(BSTR, unsigned char*, LONG) noexcept { return S_OK; }
HRESULT C::DeleteConfigRegistryValue(BSTR, BSTR) noexcept { return S_OK; }

}  // namespace ks
