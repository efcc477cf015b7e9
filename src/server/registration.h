#pragma once
#include <windows.h>

namespace ks {

// Self-registration: application identifier, class, programmatic identifiers, type library.
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace ks
