// Button events of a scanner: one registry key each under its device key's "EventProfiles",
// the object's list of them, and look-up by key name.
#include <cstring>

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

std::string EventProfilesPath(const std::string& hardware) {
    return JoinKey(DeviceKeyPath(hardware), kEventProfilesKey);
}

// Reads the events of the device's EventProfiles key into `loaded`, in the registry's order (a list
// that cannot grow drops an event silently). False when the key is missing.
bool ReadEvents(const std::string& hardware, GrowableList<_KSEVENT>& loaded) {
    UniqueHKey key = OpenKey(HKEY_CURRENT_USER, EventProfilesPath(hardware), kReadAccess);
    if (!key) return false;
    ForEachSubkey(key.get(), kMaxEventKeyName, [&](HKEY subkey, const std::string& name) {
        _KSEVENT event;
        std::memset(&event, 0, sizeof(event));  // hwguid is never stored: it stays null
        CopyToField(event.keyname, sizeof(event.keyname), name);
        ReadFields(subkey, EventFields(), &event, TextRule::StringOnly);
        loaded.Append(event);
    });
    return true;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::LoadEventInfo(BSTR hardware, LONG* count) noexcept {
    return Call(nullptr, {count}, [&] {
        EnsureSettingsRoot();
        std::string name = ToAnsi(hardware);
        *count = 0;
        GrowableList<_KSEVENT> loaded;
        if (!ReadEvents(name, loaded)) return S_OK;  // the list loaded before stays usable
        const StateLock::Hold hold = lock_.Take();
        profiles_.events.Swap(loaded);  // the old list goes with `loaded`
        *count = profiles_.events.Count();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetEvent(LONG index, _KSEVENT* pevent) noexcept {
    return Locked({pevent}, [&] { return profiles_.events.CopyOut(index, pevent) ? S_OK : E_INVALIDARG; });
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreEventInfo(BSTR hardware, _KSEVENT* pevent) noexcept {
    return Call(nullptr, {pevent}, [&] {
        EnsureSettingsRoot();
        std::string keyName = FieldText(pevent->keyname);
        // Without a key name the values would land on "EventProfiles" itself.
        if (keyName.empty()) return E_INVALIDARG;
        UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(EventProfilesPath(ToAnsi(hardware)), keyName));
        if (key) WriteFields(key.get(), EventFields(), pevent);  // registry failures stay silent
        return S_OK;  // the event list is a snapshot: it shows this only after the next load
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetEventDetails(LPSTR hw, LPSTR event, _KSEVENT* pevent) noexcept {
    return Call(nullptr, {pevent}, [&] {
        EnsureSettingsRoot();
        // The name goes the way of a client's BSTR, so the same text arrives as for LoadEventInfo.
        std::string hardware = ToAnsi(MakeBstrOrNull(hw).get());
        GrowableList<_KSEVENT> loaded;
        if (!ReadEvents(hardware, loaded)) return E_INVALIDARG;  // the list stays
        HRESULT found = FindByKeyName(loaded, pevent, event);
        const StateLock::Hold hold = lock_.Take();
        profiles_.events.Swap(loaded);
        return found;
    });
}

}  // namespace ks
