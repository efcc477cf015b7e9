#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::GetActiveConfig(_KSCONFIG**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::StoreActiveConfig() { return E_NOTIMPL; }

}  // namespace ks
