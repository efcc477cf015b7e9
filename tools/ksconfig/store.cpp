#include "store.h"
#include "core/registry_io.h"
#include "json.h"
#include "output.h"
#include "registry_view.h"

#include <cstdio>

namespace ksconfig {

int Store::OpenForDevice(const std::string& hardware) {
    if (int rc = RequireDevice(hardware); rc != kOk) return rc;
    return Open();
}

int Store::Factory(ks::ComPtr<IClassFactory>& factory) {
    HRESULT hr = CoGetClassObject(CLSID_KeystrelConfig, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                  factory.put_void());
    if (SUCCEEDED(hr)) {
        registered_ = true;
        return kOk;
    }
    // COM names a registered DLL that is gone only by a code of its own (Wine: access denied).
    const std::string registered = RegisteredStorePath();
    if (!registered.empty() && GetFileAttributesA(registered.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return StoreFailure("CoGetClassObject(KeystrelConfig)", hr);
    }
    const std::string why = registered.empty()
                                ? "the KeystrelConfig class is not registered (\"regsvr32 Registry.dll\" registers it)"
                                : "the registered Registry.dll (" + registered + ") is missing";
    const std::string path = ExeFolder() + "\\Registry.dll";
    dll_ = LoadLibraryA(path.c_str());
    if (dll_ == nullptr) {
        return Fail(kStoreError, why + ", and there is no Registry.dll beside ksconfig.exe (" + path + ")",
                    HRESULT_FROM_WIN32(GetLastError()));
    }
    std::fprintf(stderr, "ksconfig: %s; using %s\n", why.c_str(), path.c_str());
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllGetClassObject")));
    if (getClassObject == nullptr) return StoreFailure("finding DllGetClassObject", HRESULT_FROM_WIN32(GetLastError()));
    hr = getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return StoreFailure("DllGetClassObject", hr);
    return kOk;
}

int Store::Open() {
    // The class is found before HKEY_CURRENT_USER is redirected: its registration is not copied.
    ks::ComPtr<IClassFactory> factory;
    if (int rc = Factory(factory); rc != kOk) return rc;
    if (mode_ == kLook) {
        if (LONG error = scratch_.Enter(); error != ERROR_SUCCESS) {
            return StoreFailure("copying the settings into a scratch key", HRESULT_FROM_WIN32(error));
        }
    }
    HRESULT hr = factory->CreateInstance(nullptr, IID_IKeystrelConfig, config_.put_void());
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
    const std::string text = HresultText(hr);
    for (const auto& k : kKnown) {
        if (k.hr == hr) return text + " (" + k.name + ": " + k.words + ")";
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
    return text + " (" + words + ")";
}

namespace {
bool g_jsonErrors = false;
}  // namespace

void ReportErrorsAsJson(bool json) { g_jsonErrors = json; }
bool ErrorsAsJson() { return g_jsonErrors; }

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

namespace {

int Report(int exitCode, const std::string& message, std::optional<HRESULT> hr, const std::string& usage,
           const std::vector<std::string>& details, const json::Members& extra) {
    if (g_jsonErrors) {
        json::Members m = {{"exitCode", json::Num(exitCode)}, {"message", json::Str(Utf8FromAnsi(message))}};
        if (hr) {
            m.push_back({"hresult", json::Str(HresultText(*hr))});
            m.push_back({"hresultText", json::Str(Utf8FromAnsi(DescribeHresult(*hr)))});
        }
        if (!usage.empty()) m.push_back({"usage", json::Str(Utf8FromAnsi(usage))});
        m.insert(m.end(), extra.begin(), extra.end());
        std::printf("%s\n", json::Obj({{"error", json::Obj(m)}}).c_str());
    } else {
        for (const std::string& line : details) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "ksconfig: %s%s\n", message.c_str(), hr ? (": " + DescribeHresult(*hr)).c_str() : "");
        if (!usage.empty()) std::fprintf(stderr, "usage: %s\n", usage.c_str());
    }
    return exitCode;
}

}  // namespace

int Fail(int exitCode, const std::string& message, std::optional<HRESULT> hr, const std::string& usage) {
    return Report(exitCode, message, hr, usage, {}, {});
}

int FailWith(int exitCode, const std::string& message, const std::vector<std::string>& details,
             const json::Members& extra, std::optional<HRESULT> hr) {
    return Report(exitCode, message, hr, {}, details, extra);
}

int StoreFailure(const char* what, HRESULT hr) { return Fail(kStoreError, std::string(what) + " failed", hr); }

std::string Utf8FromAnsi(const std::string& ansi) { return Narrow(Widen(ansi, CP_ACP), CP_UTF8); }

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string RegisteredStorePath() {
    ks::UniqueHKey key = ks::OpenKey(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(CLSID_KeystrelConfig) + "\\InprocServer32", KEY_READ);
    return key ? ks::ReadString(key.get(), nullptr, MAX_PATH).value_or("") : "";
}

std::string ExeFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string text(path, n);
    std::size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

}  // namespace ksconfig
