// Button events of a scanner: one registry key each under its device key's "EventProfiles",
// the object's list of them, and look-up by key name.
#include <cstring>

#include "core/boundary.h"
#include "core/config_object.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "profiles/record_fields.h"

namespace ks {

namespace {

// keyname holds 31 characters and its terminator.
constexpr std::size_t kMaxEventKeyName = sizeof(_KSEVENT::keyname) - 1;

std::string EventProfilesPath(BSTR hardware) {
    return JoinKey(DeviceKeyPath(ToAnsi(hardware)), kEventProfilesKey);
}

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::LoadEventInfo(BSTR hardware, LONG* count) noexcept {
    const StateLock lock = LockState();
    if (count == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        std::string path = EventProfilesPath(hardware);
        *count = 0;
        UniqueHKey key = OpenKey(HKEY_CURRENT_USER, path, kReadAccess);
        if (!key) return S_OK;  // the list loaded before stays usable
        events_.Clear();
        ForEachSubkey(key.get(), kMaxEventKeyName, [&](HKEY subkey, const std::string& name) {
            _KSEVENT event;
            std::memset(&event, 0, sizeof(event));  // hwguid is never stored: it stays null
            CopyToField(event.keyname, sizeof(event.keyname), name);
            ReadFields(subkey, EventFields(), &event, TextRule::StringOnly);
            events_.Append(event);  // a full list drops silently
        });
        *count = events_.Count();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetEvent(LONG index, _KSEVENT* pevent) noexcept {
    const StateLock lock = LockState();
    if (pevent == nullptr) return E_POINTER;
    return events_.CopyOut(index, pevent) ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreEventInfo(BSTR hardware, _KSEVENT* pevent) noexcept {
    if (pevent == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        std::string keyName = FieldText(pevent->keyname);
        // Without a key name the values would land on "EventProfiles" itself.
        if (keyName.empty()) return E_INVALIDARG;
        UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(EventProfilesPath(hardware), keyName));
        if (key) WriteFields(key.get(), EventFields(), pevent);  // registry failures stay silent
        return S_OK;  // the event list is a snapshot: it shows this only after the next load
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetEventDetails(LPSTR hw, LPSTR event, _KSEVENT* pevent) noexcept {
    const StateLock lock = LockState();
    if (pevent == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        UniqueBstr hardware = MakeBstrOrNull(hw);
        // Through the interface, so the event list is reloaded for `hw`.
        IKeystrelConfig* self = this;
        LONG count = 0;
        if (FAILED(self->LoadEventInfo(hardware.get(), &count)) || count < 1) return E_INVALIDARG;
        return FindByKeyName(count, [&](LONG i, _KSEVENT* record) { return self->GetEvent(i, record); }, pevent, event);
    });
}

}  // namespace ks
