#include "core/config_object.h"

namespace ks {

// Not built yet: these methods answer E_NOTIMPL until their subsystem lands.
HRESULT STDMETHODCALLTYPE ConfigObject::CopyToFolderSettings(BSTR, _KSCPYFLAG*, BSTR*, LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::StoreCopyFolderOptions(BSTR, _KSCPYFLAG, BSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE ConfigObject::UpdateCopyCount(BSTR, LONG) { return E_NOTIMPL; }

}  // namespace ks
