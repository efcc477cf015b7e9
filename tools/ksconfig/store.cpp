#include "ksconfig.h"

#include <cstdlib>
#include <cstring>

#include "core/settings_tree.h"

namespace ksconfig {
namespace {

// One subkey per running ksconfig, named by its process id.
constexpr char kScratchParent[] = "Software\\ksconfig scratch";

// The copy of a tree that is absent stays absent, so the store sees the same missing root.
LONG CopyInto(HKEY scratch, const char* path) {
    ks::UniqueHKey source = OpenPath(path);
    if (!source) return ERROR_SUCCESS;
    LONG error = ERROR_SUCCESS;
    ks::UniqueHKey target = ks::CreateKey(scratch, path, &error);
    if (target) ks::CopyTree(target.get(), source.get());  // a value that cannot be copied costs only itself
    return error;
}

// Copies left by a ksconfig that was killed before it could delete its own.
void DeleteOrphans() {
    ks::UniqueHKey parent = ks::OpenKey(User(), kScratchParent, KEY_READ);
    for (const std::string& name : parent ? ks::SubkeyNames(parent.get()) : std::vector<std::string>()) {
        ks::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(name.c_str(), nullptr, 10)));
        if (!process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
            ks::DeleteTree(User(), (std::string(kScratchParent) + "\\" + name).c_str());
        }
    }
}

std::optional<RegValue> ValueOf(const ks::UniqueHKey& key, const char* name) {
    for (RegValue& v : key ? ks::Values(key.get()) : std::vector<RegValue>()) {
        if (lstrcmpiA(v.name.c_str(), name) == 0) return std::move(v);
    }
    return std::nullopt;
}

}  // namespace

LONG Store::EnterCopy() {
    DeleteOrphans();
    scratchPath_ = std::string(kScratchParent) + "\\" + std::to_string(GetCurrentProcessId());
    ks::DeleteTree(User(), scratchPath_.c_str());
    LONG error = ERROR_SUCCESS;
    scratch_ = ks::CreateKey(User(), scratchPath_, &error);
    if (!scratch_) return error;
    // The copy is most of what looking costs, so the backup is copied only when it is read.
    error = CopyInto(scratch_.get(), kSettingsRoot);
    if (error == ERROR_SUCCESS && !KeyExists(kSettingsRoot)) error = CopyInto(scratch_.get(), kBackupRoot);
    if (error == ERROR_SUCCESS) error = redirect_.emplace(scratch_.get()).Error();
    return error;  // a copy made in vain goes with the object
}

Store::~Store() {
    config_.reset();  // the DLL stays loaded: COM may still hold its factory until CoUninitialize
    if (!scratch_) return;
    redirect_.reset();
    scratch_.reset();
    ks::DeleteTree(User(), scratchPath_.c_str());
    RegDeleteKeyA(User(), kScratchParent);  // only when no other ksconfig has a copy below it
}

ks::UniqueHKey Store::OpenCopy(const std::string& path) const {
    return scratch_ ? ks::OpenKey(scratch_.get(), path, KEY_READ) : ks::UniqueHKey();
}

bool Store::Wrote(const std::string& path, const char* name) const {
    const std::optional<RegValue> copy = ValueOf(OpenCopy(path), name), real = ValueOf(OpenPath(path), name);
    return copy && (!real || real->type != copy->type || real->data != copy->data);
}

int Store::Factory(ks::ComPtr<IClassFactory>& factory) {
    HRESULT hr = CoGetClassObject(CLSID_KeystrelConfig, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                  factory.put_void());
    if (SUCCEEDED(hr)) return kOk;
    // COM names a registered DLL that is gone only by a code of its own (Wine: access denied).
    const std::string registered = RegisteredStorePath();
    if (!registered.empty() && GetFileAttributesA(registered.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return StoreFailure("CoGetClassObject(KeystrelConfig)", hr);
    }
    const std::string why = registered.empty()
                                ? "the KeystrelConfig class is not registered (\"regsvr32 Registry.dll\" registers it)"
                                : "the registered Registry.dll (" + registered + ") is missing";
    const std::string path = ExeFolder() + "\\Registry.dll";
    HMODULE dll = LoadLibraryA(path.c_str());
    if (dll == nullptr) {
        return Fail(kStoreError, why + ", and there is no Registry.dll beside ksconfig.exe (" + path + ")",
                    HRESULT_FROM_WIN32(GetLastError()));
    }
    std::fprintf(stderr, "ksconfig: %s; using %s\n", why.c_str(), path.c_str());
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (getClassObject == nullptr) return StoreFailure("finding DllGetClassObject", HRESULT_FROM_WIN32(GetLastError()));
    hr = getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void());
    return FAILED(hr) ? StoreFailure("DllGetClassObject", hr) : kOk;
}

int Store::Open() {
    // The class is found before HKEY_CURRENT_USER is redirected: its registration is not copied.
    ks::ComPtr<IClassFactory> factory;
    if (int rc = Factory(factory); rc != kOk) return rc;
    if (LONG error = mode_ == kLook ? EnterCopy() : ERROR_SUCCESS; error != ERROR_SUCCESS) {
        return StoreFailure("copying the settings into a scratch key", HRESULT_FROM_WIN32(error));
    }
    HRESULT hr = factory->CreateInstance(nullptr, IID_IKeystrelConfig, config_.put_void());
    return FAILED(hr) ? StoreFailure("IClassFactory::CreateInstance", hr) : kOk;
}

int Store::OpenForDevice(const std::string& hardware) {
    if (int rc = RequireDevice(hardware); rc != kOk) return rc;
    return Open();
}

int RequireDevice(const std::string& hardware) {
    LinkSeen link;
    if (OpenPath(ks::DeviceKeyPath(hardware), false, &link)) return kOk;
    // A missing root is rebuilt from the backup by a client's first call.
    if (link.path.empty() && !KeyExists(kSettingsRoot) && KeyExists(ks::JoinKey(kBackupRoot, hardware))) return kOk;
    return Fail(kNotFound, "no settings for scanner \"" + hardware + "\"" + NotFollowed(link));
}

std::string DescribeHresult(HRESULT hr) {
    // The store's own meanings of the codes it answers with; anything else as the platform words it.
    static const std::map<HRESULT, const char*> kKnown = {
        {S_OK, "S_OK: success"},
        {E_INVALIDARG, "E_INVALIDARG: an index is out of range or a name was not found"},
        {E_FAIL, "E_FAIL: unspecified failure (an empty list or a missing registry value)"},
        {E_NOTIMPL, "E_NOTIMPL: not implemented in this build of the store"},
        {E_UNEXPECTED, "E_UNEXPECTED: unexpected failure inside the store"},
        {STG_E_FILEALREADYEXISTS, "STG_E_FILEALREADYEXISTS: not a compound file"},
    };
    if (auto known = kKnown.find(hr); known != kKnown.end()) return HresultText(hr) + " (" + known->second + ")";
    char* message = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string words = n != 0 && message != nullptr ? std::string(message, n) : "unknown error";
    if (message != nullptr) LocalFree(message);
    while (!words.empty() && std::strchr("\r\n .", words.back()) != nullptr) words.pop_back();
    return HresultText(hr) + " (" + words + ")";
}

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

int Fail(int exitCode, const std::string& message, std::optional<HRESULT> hr, const std::vector<std::string>& details,
         const json::Members& extra) {
    if (g_jsonErrors) {
        json::Members m = {{"exitCode", json::Num(exitCode)}, {"message", JsonText(message)}};
        if (hr) {
            m.push_back({"hresult", json::Str(HresultText(*hr))});
            m.push_back({"hresultText", JsonText(DescribeHresult(*hr))});
        }
        m.insert(m.end(), extra.begin(), extra.end());
        std::printf("%s\n", json::Obj({{"error", json::Obj(m)}}).c_str());
    } else {
        for (const std::string& line : details) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "ksconfig: %s%s\n", message.c_str(), hr ? (": " + DescribeHresult(*hr)).c_str() : "");
    }
    return exitCode;
}

int PrintJson(const json::Members& members) {
    std::printf("%s\n", json::Obj(members).c_str());
    return kOk;
}

int StoreFailure(const std::string& what, HRESULT hr) { return Fail(kStoreError, what + " failed", hr); }

std::string RegisteredStorePath() {
    const std::string path = "CLSID\\" + ks::GuidText(CLSID_KeystrelConfig) + "\\InprocServer32";
    ks::UniqueHKey key = ks::OpenKey(HKEY_CLASSES_ROOT, path, KEY_READ);
    return key ? ks::ReadString(key.get(), nullptr, MAX_PATH).value_or("") : "";
}

std::string ExeFolder() {
    char path[MAX_PATH];
    const std::string text(path, GetModuleFileNameA(nullptr, path, sizeof(path)));
    const std::size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

}  // namespace ksconfig
