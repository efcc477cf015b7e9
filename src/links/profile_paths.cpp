// Where other components of the utility keep their settings, and two questions of theirs.
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "links/link_service.h"

namespace ks {

std::string LinkCustomProfile() { return JoinKey(kSettingsRoot, kLinkProfilesKey); }

void LinkService::SetUIInterfaceProfile(std::string name) {
    const StateLock::Hold hold = lock_.Take();
    uiProfile_.swap(name);
}

std::string LinkService::UIInterfaceProfile() {
    const StateLock::Hold hold = lock_.Take();
    return uiProfile_;
}

namespace {
// The text-recognition component stores its switches as 119 for "on".
constexpr DWORD kOcrOn = 119;
}  // namespace

HRESULT GetOCRFlags(LONG* sendEmptyFile, LONG* showMessages) {
    UniqueHKey key = OpenKey(HKEY_CURRENT_USER, JoinKey(JoinKey(kSettingsRoot, kTextRecognitionKey), kTextDocumentsKey),
                             kReadWriteAccess);
    if (!key) return E_FAIL;
    HRESULT result = E_FAIL;
    DWORD value = 0;
    if (ReadDword(key.get(), "SendEmptyFile", &value)) {
        *sendEmptyFile = value == kOcrOn ? 1 : 0;
        result = S_OK;
    }
    if (ReadDword(key.get(), "ShowMessages", &value)) {
        *showMessages = value == kOcrOn ? 1 : 0;
        result = S_OK;
    }
    return result;
}

}  // namespace ks
