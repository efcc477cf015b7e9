#include "server/registration.h"

namespace ks {

// Not built yet: self-registration answers E_NOTIMPL until its script registrar lands.
HRESULT RegisterServer() { return E_NOTIMPL; }
HRESULT UnregisterServer() { return E_NOTIMPL; }

}  // namespace ks
