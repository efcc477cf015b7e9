// Scan profiles of a scanner: one registry key each under its device key's "ScanProfiles", the
// object's list of them, look-up by key name, and the active profile: the block a client edits in
// place and hands back for saving, and the new profile made (named, and filled with the scanner's
// own defaults) when none is active.
#include <cstring>
#include <utility>

#include "core/pure/key_path.h"
#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/resource_ids.h"
#include "core/module.h"
#include "core/text.h"
#include "profiles/profile_service.h"
#include "profiles/pure/new_profile.h"

namespace ks {

namespace {

// keyname holds 39 characters and its terminator.
constexpr std::size_t kMaxProfileKeyName = sizeof(_KSCONFIG::keyname) - 1;

std::string ScanProfilesPath(const std::string& hardware) {
    return JoinKey(DeviceKeyPath(hardware), kScanProfilesKey);
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
    ListSubkeys(key.get(), kMaxProfileKeyName, [&](HKEY subkey, const std::string& name) {
        _KSCONFIG config;
        std::memset(&config, 0, sizeof(config));
        CopyToField(config.keyname, sizeof(config.keyname), name);
        ReadFields(subkey, ProfileFields(), &config);
        if (PassesFilter(config, flags)) loaded.Append(config);
    });
    return true;
}

// Makes a new key name into `field`: a GUID in registry text form with its braces replaced by
// '*'. False, field untouched, when no GUID can be made.
bool MakeGuidKeyName(char* field, std::size_t size) {
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) return false;
    CopyToField(field, size, "*" + GuidText(guid).substr(1, 36) + "*");
    return true;
}

// Every server context: the scanner's component may live in a DLL, an EXE or on another host.
constexpr DWORD kDeviceContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                 CLSCTX_REMOTE_SERVER;
static_assert(kDeviceContext == 0x17);

std::string NewProfileBaseName() {
    char text[260] = {};
    if (LoadStringA(g_module.Instance(), IDS_NEW_CONFIGURATION, text, sizeof(text)) <= 0) return "NULL";
    return text;
}

void TakeDeviceDefaults(const _KSDEVICEDEFAULTS& block, _KSCONFIG& config) {
    config.DataType = static_cast<_KSCNFGMODE>(block.DataType);
    config.PixelBits = block.PixelBits;
    config.Intensity = block.Intensity;
    config.Contrast = block.Contrast;
    config.Xresolution = block.Xresolution;
    config.Yresolution = block.Yresolution;
    config.PageWidth = PageThousandths(block.Width, block.Xresolution);
    config.PageHeight = PageThousandths(block.Height, block.Yresolution);
    config.ScanHardware = block.ScanHardware;
    config.Duplex = block.Duplex;
    config.ColorDropOut = block.ColorDropOut;
    config.Negative = block.Negative;
    config.Mirror = block.Mirror;
    config.ShowProgress = 1;
}

// A new profile preset from the scanner's own component, made without the lock: the component
// may take its time or call back into the object. A failing component leaves the key name empty:
// the profile then gets one when it is first stored. The name comes later (NameNew).
_KSCONFIG MakeNewProfile(const GUID& scanner) {
    _KSCONFIG config;
    std::memset(&config, 0, sizeof(config));
    config.hwguid = scanner;
    ComPtr<IKsDeviceDefaults> device;
    if (SUCCEEDED(CoCreateInstance(scanner, nullptr, kDeviceContext, IID_IKsDeviceDefaults, device.put_void()))) {
        _KSDEVICEDEFAULTS* block = nullptr;
        if (FAILED(device->GetDeviceDefaults(&block))) return config;
        if (block != nullptr) {
            UniqueTaskMem<_KSDEVICEDEFAULTS> owner(block);
            TakeDeviceDefaults(*block, config);
        }
    }
    MakeGuidKeyName(config.keyname, sizeof(config.keyname));
    return config;
}

// Names a new profile from the module's resource so that no entry of the list it joins shares
// its key-style name.
void NameNew(_KSCONFIG& config, const std::string& base, const GrowableList<_KSCONFIG>& list) {
    std::string candidate = FreeNameCandidate(base, [&](const std::string& name) {
        for (long i = 0; i < list.Count(); ++i) {
            if (FieldText(list.At(i).keyname) == name) return true;
        }
        return false;
    });
    CopyToField(config.name, sizeof(config.name), DisplayNameOf(candidate));
}

// Hands out the block of the (valid) active profile, stamped with the active scanner's GUID: the
// same block while the same profile stays active, so unsaved edits survive.
HRESULT HandOutActive(_KSCONFIG& element, _KSCONFIG*& activeCopy, const GUID& scanner, _KSCONFIG** out) {
    element.hwguid = scanner;
    if (activeCopy == nullptr) {
        auto* block = static_cast<_KSCONFIG*>(CoTaskMemAlloc(sizeof(_KSCONFIG)));
        if (block == nullptr) return E_OUTOFMEMORY;
        std::memcpy(block, &element, sizeof(_KSCONFIG));
        activeCopy = block;
    } else if (FieldText(activeCopy->keyname) != FieldText(element.keyname)) {
        // Another profile became active: same block, new content.
        std::memcpy(activeCopy, &element, sizeof(_KSCONFIG));
    }
    // Same key name: the client's unsaved edits stay as they are.
    *out = activeCopy;
    return S_OK;
}

}  // namespace

void ProfileService::StoreConfigInfo(const std::string& hardware, _KSCONFIG* config) {
    // A new profile gets its key name here; the caller sees it in its record.
    if (config->keyname[0] == '\0') MakeGuidKeyName(config->keyname, sizeof(config->keyname));
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(ScanProfilesPath(hardware), FieldText(config->keyname)));
    if (key) WriteFields(key.get(), ProfileFields(), config);  // registry failures stay silent
}

HRESULT ProfileService::LoadConfigInfo(const std::string& hardware, _KSCNFGFLAG flags, LONG* count) {
    *count = 0;
    GrowableList<_KSCONFIG> loaded;
    if (!ReadProfiles(hardware, flags, loaded)) return S_OK;  // the list loaded before stays usable
    const StateLock::Hold hold = lock_.Take();
    configs_.Swap(loaded);  // the old list goes with `loaded`
    *count = configs_.Count();
    return S_OK;
}

HRESULT ProfileService::GetConfig(LONG index, _KSCONFIG* out) {
    const StateLock::Hold hold = lock_.Take();
    return configs_.CopyOut(index, out) ? S_OK : E_INVALIDARG;
}

HRESULT ProfileService::GetConfigDetails(const std::string& hardware, const char* keyName, _KSCONFIG* out) {
    GrowableList<_KSCONFIG> loaded;
    if (!ReadProfiles(hardware, KSCNFGFLAG_ALL, loaded)) return E_INVALIDARG;  // the list stays
    // Searched before it is put in place: the caller's record then holds what the list held.
    HRESULT found = FindByKeyName(loaded, out, keyName);
    const StateLock::Hold hold = lock_.Take();
    configs_.Swap(loaded);
    return found;
}

HRESULT ProfileService::SetActiveConfig(LONG index) {
    const StateLock::Hold hold = lock_.Take();
    activeIndex_ = index;
    // Forgetting the copy hands it to the client that holds it; the object never frees it now.
    if (index == -1) activeCopy_ = nullptr;
    return S_OK;
}

HRESULT ProfileService::DeleteConfigInfo(LONG index) {
    std::string keyName;
    {
        const StateLock::Hold hold = lock_.Take();
        if (!configs_.IsValidIndex(index)) return E_INVALIDARG;
        keyName = FieldText(configs_.At(index).keyname);
    }
    // Under the active scanner, whichever device the list was loaded for.
    UniqueHKey key = OpenKey(HKEY_CURRENT_USER, ScanProfilesPath(CurrentScanner().name), kReadWriteAccess);
    if (key && !keyName.empty()) DeleteTree(key.get(), keyName.c_str());
    return S_OK;  // the list keeps the record until the next load
}

HRESULT ProfileService::GetActiveConfig(_KSCONFIG** out) {
    *out = nullptr;
    const GUID scanner = CurrentScanner().guid;
    {
        const StateLock::Hold hold = lock_.Take();
        if (configs_.IsValidIndex(activeIndex_)) return HandOutActive(configs_.At(activeIndex_), activeCopy_, scanner, out);
    }
    _KSCONFIG made = MakeNewProfile(scanner);
    const std::string base = NewProfileBaseName();
    const StateLock::Hold hold = lock_.Take();
    // A profile made active meanwhile wins, as if this call had come after the one that made it.
    if (!configs_.IsValidIndex(activeIndex_)) {
        NameNew(made, base, configs_);
        if (!configs_.Append(made)) return E_OUTOFMEMORY;
        activeIndex_ = configs_.Count() - 1;
    }
    return HandOutActive(configs_.At(activeIndex_), activeCopy_, scanner, out);
}

HRESULT ProfileService::StoreActiveConfig() {
    // Held while saving: the save and the list element it updates move together.
    const StateLock::Hold hold = lock_.Take();
    if (!configs_.IsValidIndex(activeIndex_)) return S_FALSE;  // the copy stays
    UniqueTaskMem<_KSCONFIG> copy(std::exchange(activeCopy_, nullptr));  // freed whether saved or not
    _KSCONFIG* config = copy.get();
    if (config == nullptr || (static_cast<DWORD>(config->flags) & KSCNFGFLAG_SAVE) == 0) return S_FALSE;
    // The save request is the client's message to us, not part of the profile.
    config->flags = static_cast<_KSCNFGFLAG>(static_cast<DWORD>(config->flags) & ~static_cast<DWORD>(KSCNFGFLAG_SAVE));
    if (config->DataType == KSCNFGMODE_BITONAL) config->Moire = 0;  // no moire filter on bitonal scans
    StoreConfigInfo(CurrentScanner().name, config);
    configs_.Replace(activeIndex_, *config);
    return S_OK;
}

}  // namespace ks
