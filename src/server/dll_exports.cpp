// Entry points of Registry.dll.
#include <windows.h>

#include "core/module.h"
#include "core/records.h"
#include "profiles/profile_service.h"
#include "server/class_factory.h"
#include "server/registration.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ks::g_module.Initialize(instance);
    if (reason == DLL_PROCESS_DETACH) {
        ks::ReleaseCachedClassFactory();
        ks::g_module.Shutdown();
        ks::ForgetActiveScanner();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (ks::g_module.IsShutDown()) return E_UNEXPECTED;
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_KeystrelConfig)) return CLASS_E_CLASSNOTAVAILABLE;
    IUnknown* factory = nullptr;
    HRESULT hr = ks::CachedClassFactory(&factory);
    if (FAILED(hr)) return hr;
    hr = factory->QueryInterface(riid, object);
    if (SUCCEEDED(hr) && *object == nullptr) hr = CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return ks::g_module.LockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return ks::RegisterServer();
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return ks::UnregisterServer();
}
