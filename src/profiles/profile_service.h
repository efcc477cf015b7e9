#pragma once
// Scan profiles, the active profile a client edits, and button events: the lists a client loaded
// and the process-wide active scanner. Knows nothing of COM objects: names arrive as 8-bit text,
// results leave through plain pointers; the caller has checked required pointers and run the root
// step. Every method keeps the contract of the interface method of the same name.
#include <mbstring.h>

#include <string>

#include "core/boundary.h"
#include "core/pure/growable_list.h"
#include "core/records.h"

namespace ks {

// The active scanner, one per process, shared by every object and set from any thread: its GUID
// and name are one value, replaced and read whole, so no reader pairs one caller's GUID with
// another's name. The name is kept as the setter's text became in its code page and is read back
// in the reader's, as a hardware argument would be.
struct ActiveScanner {
    GUID guid{};
    std::string name;  // empty when none is set
};
ActiveScanner CurrentScanner();
// Replaces GUID and name (null clears the name). When the name cannot be copied, the GUID alone
// is replaced and std::bad_alloc thrown.
void SetActiveScanner(const GUID& guid, const char* name);
// At unload: the name goes.
void ForgetActiveScanner();

// One object's profile state. Its lock is held only while the state is read or changed, never
// across a call out of the store (the scanner's device component); loads read the registry aside
// and put their list in place in one step.
class ProfileService {
public:
    ProfileService() = default;
    ProfileService(const ProfileService&) = delete;
    ProfileService& operator=(const ProfileService&) = delete;

    HRESULT LoadConfigInfo(const std::string& hardware, _KSCNFGFLAG flags, LONG* count);
    static void StoreConfigInfo(const std::string& hardware, _KSCONFIG* config);
    HRESULT GetConfig(LONG index, _KSCONFIG* out);
    HRESULT GetConfigDetails(const std::string& hardware, const char* keyName, _KSCONFIG* out);
    HRESULT SetActiveConfig(LONG index);
    HRESULT DeleteConfigInfo(LONG index);
    HRESULT GetActiveConfig(_KSCONFIG** out);
    HRESULT StoreActiveConfig();

    HRESULT LoadEventInfo(const std::string& hardware, LONG* count);
    HRESULT GetEvent(LONG index, _KSEVENT* out);
    static HRESULT StoreEventInfo(const std::string& hardware, _KSEVENT* event);
    HRESULT GetEventDetails(const std::string& hardware, const char* keyName, _KSEVENT* out);

private:
    StateLock lock_;
    GrowableList<_KSCONFIG> configs_;  // as the last load left it, plus new profiles made active
    GrowableList<_KSEVENT> events_;
    LONG activeIndex_ = -1;            // into configs_; -1 for none
    _KSCONFIG* activeCopy_ = nullptr;  // CoTaskMem block handed to the client; never freed at teardown
};

}  // namespace ks

namespace ks {

// Walks the records of `list` in order until one's key name equals `wanted` ignoring case,
// multi-byte aware. The record at `out` holds the last one examined; a null name matches nothing.
// E_INVALIDARG when none matches.
template <class Record>
HRESULT FindByKeyName(const GrowableList<Record>& list, Record* out, const char* wanted) {
    for (LONG i = 0; list.CopyOut(i, out); ++i) {
        if (wanted != nullptr && _mbsicmp(reinterpret_cast<const unsigned char*>(out->keyname),
                                          reinterpret_cast<const unsigned char*>(wanted)) == 0) {
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

}  // namespace ks
