// Scan profiles of a scanner: one registry key each under its device key's "ScanProfiles", the
// object's list of them, and look-up by key name.
#include <cstring>

#include "core/boundary.h"
#include "core/config_object.h"
#include "core/module.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "profiles/record_fields.h"

namespace ks {

namespace {

// keyname holds 39 characters and its terminator.
constexpr std::size_t kMaxProfileKeyName = sizeof(_KSCONFIG::keyname) - 1;

std::string ScanProfilesPath(const std::string& hardware) {
    return JoinKey(DeviceKeyPath(hardware), kScanProfilesKey);
}

_KSCONFIG ReadProfile(HKEY key, const std::string& keyName) {
    _KSCONFIG config;
    std::memset(&config, 0, sizeof(config));
    CopyToField(config.keyname, sizeof(config.keyname), keyName);
    ReadFields(key, ProfileFields(), &config, TextRule::AnyType);
    return config;
}

// A profile is listed when it asks to be shown always, or shares a type bit with the request.
bool PassesFilter(const _KSCONFIG& config, _KSCNFGFLAG wanted) {
    auto own = static_cast<DWORD>(config.flags);
    return (own & KSCNFGFLAG_SHOWALL) != 0 || (own & static_cast<DWORD>(wanted) & KSCNFGFLAG_ALL) != 0;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::LoadConfigInfo(BSTR hardware, _KSCNFGFLAG flags, LONG* count) noexcept {
    const StateLock lock = LockState();
    if (count == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        std::string path = ScanProfilesPath(ToAnsi(hardware));
        *count = 0;
        UniqueHKey key = OpenKey(HKEY_CURRENT_USER, path, kReadAccess);
        if (!key) return S_OK;  // the list loaded before stays usable
        configs_.Clear();
        ForEachSubkey(key.get(), kMaxProfileKeyName, [&](HKEY subkey, const std::string& name) {
            _KSCONFIG config = ReadProfile(subkey, name);
            if (PassesFilter(config, flags)) configs_.Append(config);  // a full list drops silently
        });
        *count = configs_.Count();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreConfigInfo(BSTR hardware, _KSCONFIG* config) noexcept {
    if (config == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        std::string profiles = ScanProfilesPath(ToAnsi(hardware));
        // A new profile gets its key name here; the caller sees it in its record.
        if (config->keyname[0] == '\0') MakeGuidKeyName(config->keyname, sizeof(config->keyname));
        UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(profiles, FieldText(config->keyname)));
        if (key) WriteFields(key.get(), ProfileFields(), config);  // registry failures stay silent
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetConfig(LONG index, _KSCONFIG* pconfig) noexcept {
    const StateLock lock = LockState();
    if (pconfig == nullptr) return E_POINTER;
    return configs_.CopyOut(index, pconfig) ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetConfigDetails(LPSTR hw, LPSTR config, _KSCONFIG* pconfig) noexcept {
    const StateLock lock = LockState();
    if (pconfig == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        UniqueBstr hardware = MakeBstrOrNull(hw);
        // Through the interface, so the list is reloaded with every typed profile of `hw`.
        IKeystrelConfig* self = this;
        LONG count = 0;
        if (FAILED(self->LoadConfigInfo(hardware.get(), KSCNFGFLAG_ALL, &count)) || count < 1) return E_INVALIDARG;
        return FindByKeyName(count, [&](LONG i, _KSCONFIG* record) { return self->GetConfig(i, record); }, pconfig, config);
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::SetActiveConfig(LONG index) noexcept {
    const StateLock lock = LockState();
    activeIndex_ = index;
    // Forgetting the copy hands it to the client that holds it; the object never frees it now.
    if (index == -1) activeCopy_ = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConfigObject::DeleteConfigInfo(LONG index) noexcept {
    const StateLock lock = LockState();
    return Boundary([&] {
        EnsureSettingsRoot();
        if (!configs_.IsValidIndex(index)) return E_INVALIDARG;
        // Under the active scanner, whichever device the list was loaded for.
        UniqueHKey key = OpenKey(HKEY_CURRENT_USER, ScanProfilesPath(ActiveHardwareName()), kReadWriteAccess);
        std::string keyName = FieldText(configs_.At(index).keyname);
        if (key && !keyName.empty()) DeleteTree(key.get(), keyName.c_str());
        return S_OK;  // the list keeps the record until the next load
    });
}

}  // namespace ks
