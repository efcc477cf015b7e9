#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::LoadEventInfo(BSTR, LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetEvent(LONG, _KSEVENT*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::StoreEventInfo(BSTR, _KSEVENT*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetEventDetails(LPSTR, LPSTR, _KSEVENT*) { return E_NOTIMPL; }

}  // namespace ks
