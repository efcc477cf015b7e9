#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::UIInterfaceSaveSettings(short, short) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::UIInterfaceStartupSettings(BSTR, short*, short*, BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::GetTwainConfigurationFile(BSTR, BSTR*) { return E_NOTIMPL; }

}  // namespace ks
