// The smallest client of the settings store: creates the class by its programmatic identifier,
// as the utility's components do, and prints the folder the store is installed in.
// Exit code: 0, or the failing HRESULT.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <cstdio>

#include "KsRegistry.h"

int main() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return static_cast<int>(hr);
    CLSID clsid{};
    hr = CLSIDFromProgID(L"StwKs4.EventConfig", &clsid);
    IKeystrelConfig* config = nullptr;
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKeystrelConfig,
                              reinterpret_cast<void**>(&config));
    }
    BSTR folder = nullptr;
    if (SUCCEEDED(hr)) hr = config->GetKSInstallFolder(&folder);
    if (SUCCEEDED(hr)) {
        // The folder is 8-bit text of the ANSI code page, as the store keeps it.
        char text[MAX_PATH * 2] = "";
        WideCharToMultiByte(CP_ACP, 0, folder, -1, text, sizeof(text), nullptr, nullptr);
        std::printf("%s\n", text);
    } else {
        std::fprintf(stderr, "ksclient: 0x%08lX\n", static_cast<unsigned long>(hr));
    }
    SysFreeString(folder);
    if (config != nullptr) config->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : static_cast<int>(hr);
}
