// Button events of a scanner: one registry key each under its device key's "EventProfiles",
// the object's list of them, and look-up by key name.
#include <cstring>

#include "core/pure/key_path.h"
#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "profiles/profile_service.h"

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
    ListSubkeys(key.get(), kMaxEventKeyName, [&](HKEY subkey, const std::string& name) {
        _KSEVENT event;
        std::memset(&event, 0, sizeof(event));  // hwguid is never stored: it stays null
        CopyToField(event.keyname, sizeof(event.keyname), name);
        ReadFields(subkey, EventFields(), &event);
        loaded.Append(event);
    });
    return true;
}

}  // namespace

HRESULT ProfileService::LoadEventInfo(const std::string& hardware, LONG* count) {
    *count = 0;
    GrowableList<_KSEVENT> loaded;
    if (!ReadEvents(hardware, loaded)) return S_OK;  // the list loaded before stays usable
    const StateLock::Hold hold = lock_.Take();
    events_.Swap(loaded);  // the old list goes with `loaded`
    *count = events_.Count();
    return S_OK;
}

HRESULT ProfileService::GetEvent(LONG index, _KSEVENT* out) {
    const StateLock::Hold hold = lock_.Take();
    return events_.CopyOut(index, out) ? S_OK : E_INVALIDARG;
}

HRESULT ProfileService::StoreEventInfo(const std::string& hardware, _KSEVENT* event) {
    std::string keyName = FieldText(event->keyname);
    // Without a key name the values would land on "EventProfiles" itself.
    if (keyName.empty()) return E_INVALIDARG;
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(EventProfilesPath(hardware), keyName));
    if (key) WriteFields(key.get(), EventFields(), event);  // registry failures stay silent
    return S_OK;  // the event list is a snapshot: it shows this only after the next load
}

HRESULT ProfileService::GetEventDetails(const std::string& hardware, const char* keyName, _KSEVENT* out) {
    GrowableList<_KSEVENT> loaded;
    if (!ReadEvents(hardware, loaded)) return E_INVALIDARG;  // the list stays
    HRESULT found = FindByKeyName(loaded, out, keyName);
    const StateLock::Hold hold = lock_.Take();
    events_.Swap(loaded);
    return found;
}

}  // namespace ks
