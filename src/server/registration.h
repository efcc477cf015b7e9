#pragma once
#include <windows.h>

namespace ks {

// Self-registration below HKEY_CLASSES_ROOT: the application identifier script, the class script
// (class, programmatic identifiers, in-process server) and the embedded type library. Each
// returns the HRESULT of its first failing step, or S_OK; steps already done are not undone.
// A registration script that does not parse writes nothing and fails with DISP_E_EXCEPTION.
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace ks
