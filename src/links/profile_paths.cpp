#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkCustomProfile(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::SetUIInterfaceProfile(BSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::CanUIInterfaceCloseOnScan(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetUIInterfaceProfile(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetOCRFlags(LONG*, LONG*) { return E_NOTIMPL; }

}  // namespace ks
