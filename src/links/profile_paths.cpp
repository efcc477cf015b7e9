// Where other components of the utility keep their settings, and two questions of theirs.
#include "core/boundary.h"
#include "core/config_object.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"

namespace ks {

HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkCustomProfile(BSTR* path) noexcept {
    return Boundary([&] {
        EnsureSettingsRoot();
        StoreBstr(path, JoinKey(kSettingsRoot, kLinkProfilesKey));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetUIInterfaceProfile(BSTR* path) noexcept {
    return Boundary([&] {
        EnsureSettingsRoot();
        StoreBstr(path, JoinKey(kSettingsRoot, kUIInterfaceProfilesKey));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::SetUIInterfaceProfile(BSTR profile) noexcept {
    const StateLock lock = LockState();
    return Boundary([&] {
        uiProfile_ = ToAnsi(profile);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::CanUIInterfaceCloseOnScan(LONG* closeUI) noexcept {
    if (closeUI == nullptr) return E_POINTER;
    *closeUI = 1;
    return S_OK;
}

namespace {
// The text-recognition component stores its switches as 119 for "on".
constexpr DWORD kOcrOn = 119;
}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::GetOCRFlags(LONG* lSendEmptyFile, LONG* lShowMessages) noexcept {
    if (lSendEmptyFile == nullptr || lShowMessages == nullptr) return E_POINTER;
    return Boundary([&] {
        UniqueHKey key = OpenKey(HKEY_CURRENT_USER, JoinKey(JoinKey(kSettingsRoot, kTextRecognitionKey), kTextDocumentsKey),
                                 kReadWriteAccess);
        if (!key) return E_FAIL;
        HRESULT result = E_FAIL;
        DWORD value = 0;
        if (ReadDword(key.get(), "SendEmptyFile", &value)) {
            *lSendEmptyFile = value == kOcrOn ? 1 : 0;
            result = S_OK;
        }
        if (ReadDword(key.get(), "ShowMessages", &value)) {
            *lShowMessages = value == kOcrOn ? 1 : 0;
            result = S_OK;
        }
        return result;
    });
}

}  // namespace ks
