// GetKSInstallFolder: reports the install folder; it runs no ensure-root step and touches no key.
#include "core/config_object.h"
#include "core/module.h"
#include "core/text.h"

namespace ks {

HRESULT STDMETHODCALLTYPE ConfigObject::GetKSInstallFolder(BSTR* folder) noexcept {
    return Call(nullptr, {}, [&] {
        std::optional<std::string> installFolder = InstallFolder();
        if (!installFolder) return E_FAIL;
        StoreBstr(folder, *installFolder);
        return S_OK;
    });
}

}  // namespace ks
