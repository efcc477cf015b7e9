// The active scan profile: the block a client edits in place and hands back for saving, and
// the new profile made (named, and filled with the scanner's own defaults) when none is active.
#include <cstring>
#include <utility>

#include "core/config_object.h"
#include "core/module.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "profiles/pure/new_profile.h"
#include "core/resource_ids.h"
#include "profiles/record_fields.h"
#include "profiles/scan_profile_store.h"

namespace ks {

namespace {

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

// A new profile preset from the scanner's own component, made without the object's lock: the
// component may take its time or call back into the object. A failing component leaves the key
// name empty: the profile then gets one when it is first stored. The name comes later (NameNew).
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
HRESULT HandOutActive(ProfileState& state, const GUID& scanner, _KSCONFIG** out) {
    _KSCONFIG& element = state.configs.At(state.activeIndex);
    element.hwguid = scanner;
    if (state.activeCopy == nullptr) {
        auto* block = static_cast<_KSCONFIG*>(CoTaskMemAlloc(sizeof(_KSCONFIG)));
        if (block == nullptr) return E_OUTOFMEMORY;
        std::memcpy(block, &element, sizeof(_KSCONFIG));
        state.activeCopy = block;
    } else if (FieldText(state.activeCopy->keyname) != FieldText(element.keyname)) {
        // Another profile became active: same block, new content.
        std::memcpy(state.activeCopy, &element, sizeof(_KSCONFIG));
    }
    // Same key name: the client's unsaved edits stay as they are.
    *out = state.activeCopy;
    return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::GetActiveConfig(_KSCONFIG** pconfig) noexcept {
    return Call(nullptr, {pconfig}, [&] {
        *pconfig = nullptr;
        EnsureSettingsRoot();
        const GUID scanner = g_module.ActiveScanner().guid;
        {
            const StateLock::Hold hold = lock_.Take();
            const bool active = profiles_.configs.IsValidIndex(profiles_.activeIndex);
            if (active) return HandOutActive(profiles_, scanner, pconfig);
        }
        _KSCONFIG made = MakeNewProfile(scanner);
        const std::string base = NewProfileBaseName();
        const StateLock::Hold hold = lock_.Take();
        // A profile made active meanwhile wins, as if this call had come after the one that made it.
        if (!profiles_.configs.IsValidIndex(profiles_.activeIndex)) {
            NameNew(made, base, profiles_.configs);
            if (!profiles_.configs.Append(made)) return E_OUTOFMEMORY;
            profiles_.activeIndex = profiles_.configs.Count() - 1;
        }
        return HandOutActive(profiles_, scanner, pconfig);
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreActiveConfig() noexcept {
    return Call(nullptr, {}, [&] {
        EnsureSettingsRoot();
        // Held while saving: the save and the list element it updates move together.
        const StateLock::Hold hold = lock_.Take();
        if (!profiles_.configs.IsValidIndex(profiles_.activeIndex)) return S_FALSE;  // the copy stays

        HRESULT result = S_FALSE;
        UniqueTaskMem<_KSCONFIG> copy(std::exchange(profiles_.activeCopy, nullptr));  // freed whether saved or not
        _KSCONFIG* config = copy.get();
        if (config != nullptr && (static_cast<DWORD>(config->flags) & KSCNFGFLAG_SAVE) != 0) {
            // The save request is the client's message to us, not part of the profile.
            config->flags = static_cast<_KSCNFGFLAG>(static_cast<DWORD>(config->flags) &
                                                     ~static_cast<DWORD>(KSCNFGFLAG_SAVE));
            if (config->DataType == KSCNFGMODE_BITONAL) config->Moire = 0;  // no moire filter on bitonal scans
            WriteProfile(g_module.ActiveScanner().name, config);
            result = S_OK;
            profiles_.configs.Replace(profiles_.activeIndex, *config);
        }
        return result;
    });
}

}  // namespace ks
