#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::StoreCalibrationData(BSTR, LONG, LONG, unsigned char*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetCalibrationData(BSTR, LONG, unsigned char*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetDefualtGamma(BSTR, LONG*) { return E_NOTIMPL; }

}  // namespace ks
