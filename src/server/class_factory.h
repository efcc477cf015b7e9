#pragma once
#include <windows.h>
#include <unknwn.h>

namespace ks {

// Makes the class factory of KeystrelConfig and hands its IUnknown (the module's one cached
// reference) through `factory`.
HRESULT CreateClassFactory(IUnknown** factory);

}  // namespace ks
