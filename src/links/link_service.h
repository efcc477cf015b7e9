#pragma once
// The link engine catalogue and the other components' profile paths and text-recognition flags.
// Knows nothing of COM objects: names arrive as 8-bit text, texts leave as 8-bit text; the caller
// has checked required pointers and run the root step. Every method keeps the contract of the
// interface method of the same name.
#include <optional>
#include <string>

#include "core/boundary.h"
#include "core/pure/growable_list.h"
#include "core/records.h"

namespace ks {

// One object's link state: the engines the last category search listed and the interface
// profile the client named. Its lock is held only while the state is read or changed, never
// across a call out of the store (link engines, category manager, StgOpenStorage).
class LinkService {
public:
    LinkService() = default;
    LinkService(const LinkService&) = delete;
    LinkService& operator=(const LinkService&) = delete;

    HRESULT LoadLinkInfo(LONG refresh, IStorage** store);
    HRESULT GetLinkEngineCLSID(ULONG index, GUID* clsid);
    void SetUIInterfaceProfile(std::string name);
    std::string UIInterfaceProfile();

private:
    StateLock lock_;
    GrowableList<CLSID> engines_;  // replaced whole by each category search
    std::string uiProfile_;        // for the UIInterface... calls
};

std::string LinkEngineContainer(const std::string& name);  // "<settings root>\<name>"
std::string LinkCustomProfile();                           // "<settings root>\LinkProfiles"
HRESULT GetOCRFlags(LONG* sendEmptyFile, LONG* showMessages);
// An engine key is told from the device keys beside it only by its default value, the marker.
bool IsEngineKey(HKEY key);

}  // namespace ks
