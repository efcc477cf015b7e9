#include "store.h"
#include "output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace ksconfig {

int Store::OpenForDevice(const std::string& hardware) {
    if (int rc = Open(); rc != kOk) return rc;
    return RequireDevice(hardware);
}

int Store::Open() {
    HRESULT hr = CoCreateInstance(CLSID_KeystrelConfig, nullptr, CLSCTX_INPROC_SERVER, IID_IKeystrelConfig,
                                  config_.put_void());
    if (SUCCEEDED(hr)) {
        registered_ = true;
        return kOk;
    }
    if (hr != REGDB_E_CLASSNOTREG) return StoreFailure("CoCreateInstance(KeystrelConfig)", hr);

    std::string path = ExeFolder() + "\\Registry.dll";
    std::fprintf(stderr,
                 "ksconfig: the KeystrelConfig class is not registered (register it with \"regsvr32 Registry.dll\");\n"
                 "ksconfig: using %s directly\n",
                 path.c_str());
    dll_ = LoadLibraryA(path.c_str());
    if (dll_ == nullptr) return StoreFailure("loading Registry.dll", HRESULT_FROM_WIN32(GetLastError()));
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllGetClassObject")));
    if (getClassObject == nullptr) return StoreFailure("finding DllGetClassObject", HRESULT_FROM_WIN32(GetLastError()));
    ks::ComPtr<IClassFactory> factory;
    hr = getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return StoreFailure("DllGetClassObject", hr);
    hr = factory->CreateInstance(nullptr, IID_IKeystrelConfig, config_.put_void());
    if (FAILED(hr)) return StoreFailure("IClassFactory::CreateInstance", hr);
    return kOk;
}

Store::~Store() {
    config_.reset();
    // The DLL stays loaded: COM may still hold its factory until CoUninitialize.
}

std::string DescribeHresult(HRESULT hr) {
    static const struct {
        HRESULT hr;
        const char* name;
        const char* words;
    } kKnown[] = {
        {S_OK, "S_OK", "success"},
        {S_FALSE, "S_FALSE", "nothing was done"},
        {E_INVALIDARG, "E_INVALIDARG", "an index is out of range or a name was not found"},
        {E_POINTER, "E_POINTER", "a required pointer was null"},
        {E_FAIL, "E_FAIL", "unspecified failure (an empty list or a missing registry value)"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
        {E_NOTIMPL, "E_NOTIMPL", "not implemented in this build of the store"},
        {E_UNEXPECTED, "E_UNEXPECTED", "unexpected failure inside the store"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "class not registered"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", "class does not support aggregation"},
        {STG_E_FILENOTFOUND, "STG_E_FILENOTFOUND", "file not found"},
        {STG_E_PATHNOTFOUND, "STG_E_PATHNOTFOUND", "path not found"},
        {STG_E_FILEALREADYEXISTS, "STG_E_FILEALREADYEXISTS", "not a compound file"},
    };
    char text[32];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    for (const auto& k : kKnown) {
        if (k.hr == hr) return std::string(text) + " (" + k.name + ": " + k.words + ")";
    }
    char* message = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string words;
    if (n != 0 && message != nullptr) {
        words.assign(message, n);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                                  words.back() == '.')) {
            words.pop_back();
        }
    }
    if (message != nullptr) LocalFree(message);
    if (words.empty()) words = "unknown error";
    return std::string(text) + " (" + words + ")";
}

int StoreFailure(const char* what, HRESULT hr) {
    std::fprintf(stderr, "ksconfig: %s failed: %s\n", what, DescribeHresult(hr).c_str());
    return kStoreError;
}

std::string Utf8FromAnsi(const std::string& ansi) {
    if (ansi.empty()) return {};
    int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), w.data(), wide);
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
}

ks::UniqueBstr BstrFromAnsi(const std::string& ansi) {
    int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    ks::UniqueBstr out(SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
    if (out && wide > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.get(), wide);
    return out;
}

std::string AnsiFromBstr(BSTR text) {
    if (text == nullptr) return {};
    int len = static_cast<int>(SysStringLen(text));
    int n = WideCharToMultiByte(CP_ACP, 0, text, len, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, len, out.data(), n, nullptr, nullptr);
    return out;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool NameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

bool KeyExists(const std::string& path) { return static_cast<bool>(OpenRead(path)); }

ks::UniqueHKey OpenRead(const std::string& path) {
    ks::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) key.release();
    return key;
}

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    DWORD count = 0, longest = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::vector<char> buffer(longest + 2);
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(buffer.size());
        LONG rc = RegEnumKeyExA(key, i, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 2);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        names.emplace_back(buffer.data(), length);
    }
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

std::vector<RegValue> Values(HKEY key) {
    std::vector<RegValue> values;
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return values;
    }
    std::vector<char> name(longestName + 2);
    std::vector<std::uint8_t> data(longestData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG rc = RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (rc == ERROR_MORE_DATA) {
            // Someone wrote meanwhile: grow and ask again for the same index.
            name.resize(name.size() * 2);
            data.resize(std::max<std::size_t>(data.size() * 2, dataLength));
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        values.push_back({std::string(name.data(), nameLength), type,
                          std::vector<std::uint8_t>(data.begin(), data.begin() + dataLength)});
    }
    std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) { return NameLess(a.name, b.name); });
    return values;
}

std::optional<std::string> ReadText(HKEY key, const char* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::string text(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    text.resize(size);
    if (std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

std::vector<std::string> DeviceNames() {
    std::vector<std::string> devices;
    ks::UniqueHKey root = OpenRead(kRoot);
    if (!root) return devices;
    for (const std::string& name : SubkeyNames(root.get())) {
        if (_stricmp(name.c_str(), "LinkProfiles") == 0 || _stricmp(name.c_str(), "UIInterfaceProfiles") == 0 ||
            _stricmp(name.c_str(), "Ferrovane 4.0") == 0) {
            continue;
        }
        ks::UniqueHKey sub;
        if (RegOpenKeyExA(root.get(), name.c_str(), 0, KEY_READ, sub.put()) != ERROR_SUCCESS) continue;
        std::optional<std::string> kind = ReadText(sub.get(), nullptr);
        if (kind && *kind == "LINKENGINE") continue;
        devices.push_back(name);
    }
    return devices;
}

std::string ExeFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string text(path, n);
    std::size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

}  // namespace ksconfig
