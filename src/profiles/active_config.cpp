// The active scan profile: the block a client edits in place and hands back for saving, and
// the new profile made (named, and filled with the scanner's own defaults) when none is active.
#include <cstring>
#include <utility>

#include "core/boundary.h"
#include "core/config_object.h"
#include "core/module.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "profiles/pure/new_profile.h"
#include "profiles/record_fields.h"
#include "core/resource_ids.h"

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

// A profile that no list entry shares a key name with, named from the module's resource and
// preset from the active scanner's component. A failing component leaves the key name empty:
// the profile then gets one when it is first stored.
_KSCONFIG MakeNewProfile(const GrowableList<_KSCONFIG>& list) {
    _KSCONFIG config;
    std::memset(&config, 0, sizeof(config));

    std::string candidate = FreeNameCandidate(NewProfileBaseName(), [&](const std::string& name) {
        for (long i = 0; i < list.Count(); ++i) {
            if (FieldText(list.At(i).keyname) == name) return true;
        }
        return false;
    });
    CopyToField(config.name, sizeof(config.name), DisplayNameOf(candidate));
    config.hwguid = g_module.ActiveHardwareGuid();

    ComPtr<IKsDeviceDefaults> device;
    if (SUCCEEDED(CoCreateInstance(config.hwguid, nullptr, kDeviceContext, IID_IKsDeviceDefaults,
                                   device.put_void()))) {
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

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::GetActiveConfig(_KSCONFIG** pconfig) noexcept {
    const StateLock lock = LockState();
    if (pconfig == nullptr) return E_POINTER;
    *pconfig = nullptr;
    return Boundary([&] {
        EnsureSettingsRoot();
        if (!configs_.IsValidIndex(activeIndex_)) {
            if (configs_.Append(MakeNewProfile(configs_))) activeIndex_ = configs_.Count() - 1;
        }
        if (!configs_.IsValidIndex(activeIndex_)) return E_OUTOFMEMORY;

        _KSCONFIG& element = configs_.At(activeIndex_);
        element.hwguid = g_module.ActiveHardwareGuid();
        if (activeCopy_ == nullptr) {
            auto* block = static_cast<_KSCONFIG*>(CoTaskMemAlloc(sizeof(_KSCONFIG)));
            if (block == nullptr) return E_OUTOFMEMORY;
            std::memcpy(block, &element, sizeof(_KSCONFIG));
            activeCopy_ = block;
        } else if (FieldText(activeCopy_->keyname) != FieldText(element.keyname)) {
            // Another profile became active: same block, new content.
            std::memcpy(activeCopy_, &element, sizeof(_KSCONFIG));
        }
        // Same key name: the client's unsaved edits stay as they are.
        *pconfig = activeCopy_;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreActiveConfig() noexcept {
    const StateLock lock = LockState();
    return Boundary([&] {
        EnsureSettingsRoot();
        if (!configs_.IsValidIndex(activeIndex_)) return S_FALSE;  // the copy stays with the object

        HRESULT result = S_FALSE;
        UniqueTaskMem<_KSCONFIG> copy(std::exchange(activeCopy_, nullptr));  // freed whether saved or not
        _KSCONFIG* config = copy.get();
        if (config != nullptr && (static_cast<DWORD>(config->flags) & KSCNFGFLAG_SAVE) != 0) {
            // The save request is the client's message to us, not part of the profile.
            config->flags = static_cast<_KSCNFGFLAG>(static_cast<DWORD>(config->flags) &
                                                     ~static_cast<DWORD>(KSCNFGFLAG_SAVE));
            if (config->DataType == KSCNFGMODE_BITONAL) config->Moire = 0;  // no moire filter on bitonal scans
            IKeystrelConfig* self = this;
            UniqueBstr hardware = g_module.ActiveHardwareName();
            result = self->StoreConfigInfo(hardware.get(), config);
            configs_.Replace(activeIndex_, *config);
        }
        return result;
    });
}

}  // namespace ks
