// ksconfig: a client of the settings store that shows it working for real.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "KsRegistry.h"

namespace {

const char* kRoot = "Software\\Stellwick\\Keystrel 4.0";
const char* kBackup = "Software\\Stellwick Backup";

void PrintTree(HKEY key, const std::string& indent) {
    char name[1024];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof(name);
        DWORD dataLength = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        if (type == REG_SZ) {
            std::printf("%s\"%s\" = \"%.*s\"\n", indent.c_str(), name, static_cast<int>(dataLength ? dataLength - 1 : 0),
                        reinterpret_cast<char*>(data));
        } else if (type == REG_DWORD && dataLength == 4) {
            DWORD v;
            std::memcpy(&v, data, 4);
            std::printf("%s\"%s\" = dword:%08lx\n", indent.c_str(), name, static_cast<unsigned long>(v));
        } else {
            std::printf("%s\"%s\" = type %lu, %lu bytes\n", indent.c_str(), name, static_cast<unsigned long>(type),
                        static_cast<unsigned long>(dataLength));
        }
    }
    for (DWORD j = 0;; ++j) {
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, j, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::printf("%s[%s]\n", indent.c_str(), name);
        HKEY child = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            PrintTree(child, indent + "  ");
            RegCloseKey(child);
        }
    }
}

int Demo() {
    std::printf("Loading Registry.dll\n");
    HMODULE dll = LoadLibraryA("Registry.dll");
    if (dll == nullptr) {
        std::fprintf(stderr, "cannot load Registry.dll (error %lu)\n", static_cast<unsigned long>(GetLastError()));
        return 3;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject ? getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, reinterpret_cast<void**>(&factory))
                                : E_FAIL;
    if (FAILED(hr)) {
        std::fprintf(stderr, "DllGetClassObject failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 3;
    }
    IKeystrelConfig* config = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IKeystrelConfig, reinterpret_cast<void**>(&config));
    factory->Release();
    if (FAILED(hr)) {
        std::fprintf(stderr, "CreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 3;
    }
    std::printf("Created a KeystrelConfig object\n");

    // Give the demo scanner a value so the backup step has something to copy.
    HKEY device = nullptr;
    std::string devicePath = std::string(kRoot) + "\\Demo Scanner";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, devicePath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &device,
                        nullptr) == ERROR_SUCCESS) {
        DWORD gamma = 1;
        RegSetValueExA(device, "CurrentGamma", 0, REG_DWORD, reinterpret_cast<BYTE*>(&gamma), sizeof(gamma));
        RegCloseKey(device);
    }
    GUID scanner = {0x6b1c2f10, 0x1d2e, 0x4a5b, {0x8c, 0x9d, 0x0e, 0x1f, 0x2a, 0x3b, 0x4c, 0x5d}};
    hr = config->SetActiveHardware(scanner, const_cast<LPSTR>("Demo Scanner"));
    std::printf("SetActiveHardware(\"Demo Scanner\") -> 0x%08lX\n", static_cast<unsigned long>(hr));
    config->Release();
    std::printf("Released the object; the backup step wrote:\n");
    HKEY backup = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBackup, 0, KEY_READ, &backup) != ERROR_SUCCESS) {
        std::printf("  (no backup tree)\n");
        return 0;
    }
    std::printf("[HKEY_CURRENT_USER\\%s]\n", kBackup);
    PrintTree(backup, "  ");
    RegCloseKey(backup);
    return 0;
}

void Usage() {
    std::printf("usage: ksconfig demo\n"
                "  demo   create a configuration object, set the active scanner, release it and\n"
                "         print what the backup step wrote\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        Usage();
        return argc < 2 ? 2 : 0;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = 2;
    if (std::strcmp(argv[1], "demo") == 0) {
        rc = Demo();
    } else {
        Usage();
    }
    CoUninitialize();
    return rc;
}
