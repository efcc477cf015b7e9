#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::LoadConfigInfo(BSTR, _KSCNFGFLAG, LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::StoreConfigInfo(BSTR, _KSCONFIG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetConfig(LONG, _KSCONFIG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetConfigDetails(LPSTR, LPSTR, _KSCONFIG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::SetActiveConfig(LONG) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::DeleteConfigInfo(LONG) { return E_NOTIMPL; }

}  // namespace ks
