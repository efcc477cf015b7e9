#include "support/ks_test.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <type_traits>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);

namespace kstest {

namespace {
// The tests read the registry with the platform's own calls, not the store's, so a fault in the
// store's readers cannot hide itself.
ks::UniqueHKey Open(HKEY root, const std::string& path, REGSAM access = KEY_READ) {
    ks::UniqueHKey key;
    RegOpenKeyExA(root, path.c_str(), 0, access, key.put());
    return key;
}
}  // namespace

const StoreDll& Dll() {
    static StoreDll dll = [] {
        StoreDll d;
        d.module = LoadLibraryA("Registry.dll");
        auto get = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                d.module ? reinterpret_cast<void*>(GetProcAddress(d.module, name)) : nullptr);
        };
        get(d.getClassObject, "DllGetClassObject");
        get(d.canUnloadNow, "DllCanUnloadNow");
        get(d.registerServer, "DllRegisterServer");
        get(d.unregisterServer, "DllUnregisterServer");
        return d;
    }();
    return dll;
}

Ref<IClassFactory> Factory() {
    Ref<IClassFactory> factory;
    if (Dll().getClassObject == nullptr) {
        ADD_FAILURE() << "Registry.dll not loaded";
    } else {
        EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void()), S_OK);
    }
    return factory;
}

Ref<IKeystrelConfig> NewConfig() {
    Ref<IKeystrelConfig> config;
    if (Ref<IClassFactory> factory = Factory())
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKeystrelConfig, config.put_void()), S_OK);
    return config;
}

static DWORD WINAPI CallBack(void* object) {
    auto* config = static_cast<IKeystrelConfig*>(object);
    struct { LONG count; _KSCONFIG profile; _KSEVENT event; GUID engine; } out;
    config->LoadConfigInfo(nullptr, KSCNFGFLAG_ALL, &out.count), config->LoadEventInfo(nullptr, &out.count);
    config->GetConfig(0, &out.profile), config->GetEvent(0, &out.event), config->GetLinkEngineCLSID(0, &out.engine);
    return config->Release(), 0;
}

bool CallsBackInTime(IKeystrelConfig* config) {
    config->AddRef();  // the thread's own: it may outlive the call out, and the test
    ks::UniqueHandle thread(CreateThread(nullptr, 0, CallBack, config, 0, nullptr));
    return thread && WaitForSingleObject(thread.get(), 5000) == WAIT_OBJECT_0;
}

bool KeyExists(const std::string& path, HKEY root) { return static_cast<bool>(Open(root, path)); }

void CreateKeyPath(const std::string& path, HKEY root, Here where) {
    SetValue(path, nullptr, REG_NONE, nullptr, 0, root, where);
}

void DeleteKeyTree(const std::string& path, HKEY root) {
    RegDeleteTreeA(root, path.c_str());
    RegDeleteKeyA(root, path.c_str());
}

// A value of an open key, whatever its size.
static std::optional<RegValue> Query(HKEY key, const char* name) {
    RegValue value;
    DWORD size = 0;
    if (!key || RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    value.data.resize(size);
    if (RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    value.data.resize(size);
    return value;
}

std::optional<RegValue> GetValue(const std::string& path, const char* name, HKEY root) {
    return Query(Open(root, path).get(), name);
}

// Creates the key; with a name, writes the value too. A failure is reported where the test called.
void SetValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size, HKEY root,
              Here where) {
    ks::UniqueHKey key;
    LSTATUS error =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (error == ERROR_SUCCESS && name != nullptr)
        error = RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (error != ERROR_SUCCESS)
        ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << path << " " << (name ? name : "") << ": "
                                                                         << error;
}

void SetString(const std::string& path, const char* name, const std::string& text, HKEY root,
               Here where) {
    SetValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1), root, where);
}

void SetDword(const std::string& path, const char* name, DWORD value, HKEY root, Here where) {
    SetValue(path, name, REG_DWORD, &value, sizeof(value), root, where);
}

std::optional<std::string> GetString(const std::string& path, const char* name) {
    auto v = GetValue(path, name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return std::nullopt;
    std::string s(v->data.begin(), v->data.end());
    if (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

std::optional<DWORD> GetDword(const std::string& path, const char* name) {
    auto v = GetValue(path, name);
    DWORD d = 0;
    if (!v || v->type != REG_DWORD || v->data.size() != sizeof(d)) return std::nullopt;
    std::memcpy(&d, v->data.data(), sizeof(d));
    return d;
}

// Subkey names (values == false) or value names of an open key, in the platform's order.
static std::vector<std::string> Names(HKEY key, bool values) {
    std::vector<std::string> names;
    std::vector<char> name(16384);  // the longest value name, with its terminator
    for (DWORD i = 0; key; ++i) {
        DWORD len = static_cast<DWORD>(name.size());
        LSTATUS error = values ? RegEnumValueA(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr)
                               : RegEnumKeyExA(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS) break;
        names.emplace_back(name.data(), len);
    }
    return names;
}

std::vector<std::string> SubkeyNames(const std::string& path, HKEY root) { return Names(Open(root, path).get(), false); }
std::vector<std::string> ValueNames(const std::string& path, HKEY root) { return Names(Open(root, path).get(), true); }

std::vector<std::string> DumpTree(const std::string& path, HKEY root) {
    std::vector<std::string> lines;
    // Each key is opened as itself, through its parent's handle: a link is dumped as the key it is.
    auto openItself = [](HKEY parent, const std::string& name) {
        ks::UniqueHKey key;
        RegOpenKeyExA(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, key.put());
        return key;
    };
    std::function<void(HKEY, const std::string&)> walk = [&](HKEY key, const std::string& sub) {
        for (const std::string& name : Names(key, true)) {
            const std::optional<RegValue> v = Query(key, name.c_str());
            std::string hex;
            for (BYTE byte : v ? v->data : std::vector<BYTE>{})
                hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
            lines.push_back(sub + "|" + name + "|" + std::to_string(v ? v->type : 0xFFFFFFFF) + "|" + hex);
        }
        for (const std::string& child : Names(key, false)) {
            const std::string childSub = sub.empty() ? child : sub + "\\" + child;
            lines.push_back(childSub + "|<key>");
            if (ks::UniqueHKey open = openItself(key, child)) walk(open.get(), childSub);
        }
    };
    if (ks::UniqueHKey top = openItself(root, path)) walk(top.get(), "");
    std::sort(lines.begin(), lines.end());
    return lines;
}

RegistryLink::RegistryLink(const std::string& path, const std::string& target) {
    ks::UniqueHKey key = Open(HKEY_CURRENT_USER, target);
    const std::wstring name = key ? ks::KeyFullName(key.get()).value_or(L"") : L"";
    EXPECT_FALSE(name.empty()) << target;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr,
                              link_.put(), nullptr), ERROR_SUCCESS) << path;
    EXPECT_EQ(RegSetValueExW(link_.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(name.data()),
                             static_cast<DWORD>(name.size() * sizeof(wchar_t))), ERROR_SUCCESS);
}

RegistryLink::~RegistryLink() { NtDeleteKey(link_.get()); }

std::string RootPath(const std::string& below) { return std::string(kRoot) + "\\" + below; }

std::string ProfilesFolder() {
    char dll[MAX_PATH];
    const std::string path(dll, GetModuleFileNameA(Dll().module, dll, MAX_PATH));
    return path.substr(0, path.find_last_of('\\')) + "\\Profiles";
}

void StoreTest::SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

namespace {
constexpr const char* kScratchRoot = "Software\\KsTest Scratch";
std::string NewScratchPath() {
    static int counter = 0;
    return std::string(kScratchRoot) + "\\" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
}
}  // namespace

void StoreTest::SetUp() {
    ASSERT_NE(Dll().module, nullptr) << "Registry.dll must sit beside the test executable";
    scratch_ = NewScratchPath();
    CreateKeyPath(scratch_);
    ks::UniqueHKey key = Open(HKEY_CURRENT_USER, scratch_, KEY_ALL_ACCESS);
    ASSERT_EQ(redirect_.emplace(key.get()).Error(), ERROR_SUCCESS) << "the test's own HKEY_CURRENT_USER";
}

void StoreTest::TearDown() {
    redirect_.reset();
    if (!scratch_.empty()) DeleteKeyTree(scratch_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kScratchRoot);  // only when no other process still has one below it
}

// Copies the tree at `from` to `to` (both below HKEY_CURRENT_USER) and deletes `from`; nothing when absent.
static void MoveTree(const std::string& from, const std::string& to) {
    if (!KeyExists(from)) return;
    CreateKeyPath(to);
    EXPECT_EQ(RegCopyTreeA(HKEY_CURRENT_USER, from.c_str(), Open(HKEY_CURRENT_USER, to, KEY_ALL_ACCESS).get()),
              ERROR_SUCCESS)
        << from;
    DeleteKeyTree(from);
}

SavedSettings::SavedSettings() : aside_(NewScratchPath()) {
    for (const char* path : {kRoot, kBackup}) MoveTree(path, aside_ + "\\" + path);
}

SavedSettings::~SavedSettings() {
    for (const char* path : {kRoot, kBackup}) {
        DeleteKeyTree(path);
        MoveTree(aside_ + "\\" + path, path);
    }
    DeleteKeyTree(aside_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kScratchRoot);
}

}  // namespace kstest
