#pragma once
#include <windows.h>
#include <unknwn.h>

namespace ks {

// The class factory of KeystrelConfig, made once per process (the first creation is serialised)
// and cached by the module; returns its HRESULT and an unowned pointer to the cached IUnknown.
HRESULT CachedClassFactory(IUnknown** factory);

// Called at unload: releases the module's cached reference to the factory.
void ReleaseCachedClassFactory();

}  // namespace ks
