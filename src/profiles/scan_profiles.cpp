// Scan profiles of a scanner: one registry key each under its device key's "ScanProfiles", the
// object's list of them, and look-up by key name.
#include <cstring>

#include "core/config_object.h"
#include "core/module.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "profiles/record_fields.h"
#include "profiles/scan_profile_store.h"

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

// Reads the profiles of the device's ScanProfiles key that pass the filter into `loaded`, in the
// registry's order (a list that cannot grow drops a profile silently). False when the key is missing.
bool ReadProfiles(const std::string& hardware, _KSCNFGFLAG flags, GrowableList<_KSCONFIG>& loaded) {
    UniqueHKey key = OpenKey(HKEY_CURRENT_USER, ScanProfilesPath(hardware), kReadAccess);
    if (!key) return false;
    ForEachSubkey(key.get(), kMaxProfileKeyName, [&](HKEY subkey, const std::string& name) {
        _KSCONFIG config = ReadProfile(subkey, name);
        if (PassesFilter(config, flags)) loaded.Append(config);
    });
    return true;
}

}  // namespace

void WriteProfile(const std::string& hardware, _KSCONFIG* config) {
    std::string profiles = ScanProfilesPath(hardware);
    // A new profile gets its key name here; the caller sees it in its record.
    if (config->keyname[0] == '\0') MakeGuidKeyName(config->keyname, sizeof(config->keyname));
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(profiles, FieldText(config->keyname)));
    if (key) WriteFields(key.get(), ProfileFields(), config);  // registry failures stay silent
}

HRESULT STDMETHODCALLTYPE ConfigObject::LoadConfigInfo(BSTR hardware, _KSCNFGFLAG flags, LONG* count) noexcept {
    return Call(nullptr, {count}, [&] {
        EnsureSettingsRoot();
        std::string name = ToAnsi(hardware);
        *count = 0;
        GrowableList<_KSCONFIG> loaded;
        if (!ReadProfiles(name, flags, loaded)) return S_OK;  // the list loaded before stays usable
        const StateLock::Hold hold = lock_.Take();
        profiles_.configs.Swap(loaded);  // the old list goes with `loaded`
        *count = profiles_.configs.Count();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreConfigInfo(BSTR hardware, _KSCONFIG* config) noexcept {
    return Call(nullptr, {config}, [&] {
        EnsureSettingsRoot();
        WriteProfile(ToAnsi(hardware), config);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetConfig(LONG index, _KSCONFIG* pconfig) noexcept {
    return Locked({pconfig}, [&] { return profiles_.configs.CopyOut(index, pconfig) ? S_OK : E_INVALIDARG; });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetConfigDetails(LPSTR hw, LPSTR config, _KSCONFIG* pconfig) noexcept {
    return Call(nullptr, {pconfig}, [&] {
        EnsureSettingsRoot();
        // The name goes the way of a client's BSTR, so the same text arrives as for LoadConfigInfo.
        std::string hardware = ToAnsi(MakeBstrOrNull(hw).get());
        GrowableList<_KSCONFIG> loaded;
        if (!ReadProfiles(hardware, KSCNFGFLAG_ALL, loaded)) return E_INVALIDARG;  // the list stays
        // Searched before it is put in place: the caller's record then holds what the list held.
        HRESULT found = FindByKeyName(loaded, pconfig, config);
        const StateLock::Hold hold = lock_.Take();
        profiles_.configs.Swap(loaded);
        return found;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::SetActiveConfig(LONG index) noexcept {
    return Locked({}, [&] {
        profiles_.activeIndex = index;
        // Forgetting the copy hands it to the client that holds it; the object never frees it now.
        if (index == -1) profiles_.activeCopy = nullptr;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::DeleteConfigInfo(LONG index) noexcept {
    return Call(nullptr, {}, [&] {
        EnsureSettingsRoot();
        std::string keyName;
        {
            const StateLock::Hold hold = lock_.Take();
            if (!profiles_.configs.IsValidIndex(index)) return E_INVALIDARG;
            keyName = FieldText(profiles_.configs.At(index).keyname);
        }
        // Under the active scanner, whichever device the list was loaded for.
        UniqueHKey key = OpenKey(HKEY_CURRENT_USER, ScanProfilesPath(g_module.ActiveScanner().name), kReadWriteAccess);
        if (key && !keyName.empty()) DeleteTree(key.get(), keyName.c_str());
        return S_OK;  // the list keeps the record until the next load
    });
}

}  // namespace ks
