#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::LoadLinkInfo(LONG, IStorage**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkEngineCLSID(ULONG, GUID*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkEngineContainer(BSTR, BSTR*) { return E_NOTIMPL; }

}  // namespace ks
