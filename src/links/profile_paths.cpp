// Where other components of the utility keep their settings, and two questions of theirs.
#include "core/config_object.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"

namespace ks {

std::string InterfaceProfilesPath() { return JoinKey(kSettingsRoot, kUIInterfaceProfilesKey); }

HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkCustomProfile(BSTR* path) noexcept {
    return Call(nullptr, {}, [&] {
        EnsureSettingsRoot();
        StoreBstr(path, JoinKey(kSettingsRoot, kLinkProfilesKey));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetUIInterfaceProfile(BSTR* path) noexcept {
    return Call(nullptr, {}, [&] {
        EnsureSettingsRoot();
        StoreBstr(path, InterfaceProfilesPath());
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::SetUIInterfaceProfile(BSTR profile) noexcept {
    return Call(nullptr, {}, [&] {
        std::string name = ToAnsi(profile);
        const StateLock::Hold hold = lock_.Take();
        links_.uiProfile.swap(name);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::CanUIInterfaceCloseOnScan(LONG* closeUI) noexcept {
    return Call(nullptr, {closeUI}, [&] {
        *closeUI = 1;
        return S_OK;
    });
}

namespace {
// The text-recognition component stores its switches as 119 for "on".
constexpr DWORD kOcrOn = 119;
}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::GetOCRFlags(LONG* lSendEmptyFile, LONG* lShowMessages) noexcept {
    return Call(nullptr, {lSendEmptyFile, lShowMessages}, [&] {
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
