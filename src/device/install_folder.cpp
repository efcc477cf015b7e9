#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::GetKSInstallFolder(BSTR*) { return E_NOTIMPL; }

}  // namespace ks
