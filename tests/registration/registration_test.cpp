// Self-registration of the real DLL below HKEY_CLASSES_ROOT, read back through this process's own
// registry view (a 32-bit registration lands in the 32-bit view, so each bitness tests itself).
// The executable doubles as the separate client process: run with --create-by-progid it creates
// the class by its programmatic identifiers and exits with the first failure.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
// The application identifier is declared by the interface header only.
#include <initguid.h>
#include "KsRegistry.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/ks_test.h"

namespace kstest {
namespace {

std::string GuidText(REFGUID guid) {
    wchar_t wide[40];
    int length = StringFromGUID2(guid, wide, 40);
    std::string text;
    for (int i = 0; i + 1 < length; ++i) text.push_back(static_cast<char>(wide[i]));
    return text;
}

const std::string kClsid = GuidText(CLSID_KeystrelConfig);
const std::string kAppId = GuidText(APPID_KeystrelRegistry);
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kTypeLibKey = "TypeLib\\" + GuidText(LIBID_KSREGISTRY);

// Every key that registration owns (the type library's included); none of them is shared.
std::vector<std::string> OwnedKeys() {
    return {"AppID\\" + kAppId, "AppID\\Registry.DLL", "StwKs4.EventConfig.1", "StwKs4.EventConfig", kClassKey,
            kTypeLibKey};
}

void RemoveOwnedKeys() {
    for (const std::string& key : OwnedKeys()) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
}

std::vector<std::string> DumpOwnedKeys() {
    std::vector<std::string> lines;
    for (const std::string& key : OwnedKeys()) {
        lines.push_back(key + (KeyExists(key, HKEY_CLASSES_ROOT) ? " present" : " absent"));
        for (const std::string& line : DumpTree(key, HKEY_CLASSES_ROOT)) lines.push_back(key + ">" + line);
    }
    return lines;
}

std::optional<std::string> ClassesString(const std::string& path, const char* name) {
    std::optional<RegValue> value = GetValue(path, name, HKEY_CLASSES_ROOT);
    if (!value || value->type != REG_SZ || value->data.empty() || value->data.back() != 0) return std::nullopt;
    return std::string(value->data.begin(), value->data.end() - 1);
}

std::string DllPath(HMODULE module) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length);
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// The two tables of the registration scripts, key by key: exact values, exact subkeys.
void ExpectScriptEntries(const std::string& modulePath) {
    struct Entry {
        std::string path;
        std::vector<std::pair<std::string, std::string>> values;  // "" is the default value
        std::vector<std::string> subkeys;
    };
    const std::string className = "KeystrelConfig Class";
    const Entry entries[] = {
        {"AppID\\" + kAppId, {{"", "Registry"}}, {}},
        {"AppID\\Registry.DLL", {{"AppID", kAppId}}, {}},
        {"StwKs4.EventConfig.1", {{"", className}}, {"CLSID"}},
        {"StwKs4.EventConfig.1\\CLSID", {{"", kClsid}}, {}},
        {"StwKs4.EventConfig", {{"", className}}, {"CLSID"}},  // no CurVer
        {"StwKs4.EventConfig\\CLSID", {{"", kClsid}}, {}},
        // No AppID value and no TypeLib subkey in the class key.
        {kClassKey, {{"", className}}, {"InprocServer32", "ProgID", "VersionIndependentProgID"}},
        {kClassKey + "\\ProgID", {{"", "StwKs4.EventConfig.1"}}, {}},
        {kClassKey + "\\VersionIndependentProgID", {{"", "StwKs4.EventConfig"}}, {}},
        {kClassKey + "\\InprocServer32", {{"", modulePath}, {"ThreadingModel", "both"}}, {}},
    };
    for (const Entry& entry : entries) {
        ASSERT_TRUE(KeyExists(entry.path, HKEY_CLASSES_ROOT)) << entry.path;
        std::vector<std::string> names = ValueNames(entry.path, HKEY_CLASSES_ROOT);
        std::vector<std::string> expectedNames;
        for (const auto& [name, text] : entry.values) {
            expectedNames.push_back(name);
            EXPECT_EQ(ClassesString(entry.path, name.c_str()), text) << entry.path << " value '" << name << "'";
        }
        std::sort(names.begin(), names.end());
        std::sort(expectedNames.begin(), expectedNames.end());
        EXPECT_EQ(names, expectedNames) << entry.path;
        std::vector<std::string> subkeys = SubkeyNames(entry.path, HKEY_CLASSES_ROOT);
        std::sort(subkeys.begin(), subkeys.end());
        EXPECT_EQ(subkeys, entry.subkeys) << entry.path;
    }
}

// Runs a command line to its end; its exit code, or ~0u when it could not run.
DWORD Run(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot run " << commandLine << ": " << GetLastError();
        return ~0u;
    }
    DWORD code = ~0u;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The system's regsvr32; a 32-bit process is given the 32-bit one by the file system redirection.
DWORD Regsvr32(const std::string& arguments, const std::string& dll) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    return Run("\"" + std::string(system) + "\\regsvr32.exe\" " + arguments + " \"" + dll + "\"");
}

// Creation by programmatic identifier in a separate process, which must load `dll`.
DWORD CreateByProgIdElsewhere(const std::string& dll) {
    return Run("\"" + DllPath(nullptr) + "\" --create-by-progid \"" + dll + "\"");
}

// Loads a copy of the DLL from another folder and calls its entry points.
class DllCopy {
public:
    explicit DllCopy(std::string folder) : folder_(std::move(folder)), path_(folder_ + "\\Registry.dll") {
        CreateDirectoryA(folder_.c_str(), nullptr);
        if (!CopyFileA(DllPath(Dll().module).c_str(), path_.c_str(), FALSE)) return;
        module_ = LoadLibraryA(path_.c_str());
    }
    ~DllCopy() {
        if (module_ != nullptr) FreeLibrary(module_);
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    HMODULE Module() const { return module_; }
    const std::string& Path() const { return path_; }
    HRESULT Call(const char* entry) const {
        auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, entry)));
        return function != nullptr ? function() : E_NOTIMPL;
    }

private:
    std::string folder_;
    std::string path_;
    HMODULE module_ = nullptr;
};

std::string TempFolder(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + name + " " + std::to_string(GetCurrentProcessId());
}

class RegistrationTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        RemoveOwnedKeys();
        path_ = DllPath(Dll().module);
    }
    void TearDown() override {
        Dll().unregisterServer();
        RemoveOwnedKeys();
        StoreTest::TearDown();
    }
    std::string path_;
};

TEST_F(RegistrationTest, RegisterWritesBothTablesAndTheTypeLibrary) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    ExpectScriptEntries(path_);

    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, lib.put()), S_OK);
    Bstr name;
    ASSERT_EQ(lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Ansi(), "KSREGISTRY");
    Bstr registeredPath;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, registeredPath.put()), S_OK);
    EXPECT_EQ(registeredPath.Ansi(), path_);
    EXPECT_EQ(ClassesString(kTypeLibKey + "\\1.0", ""), "Registry 1.0 Type Library");
    EXPECT_EQ(ClassesString(kTypeLibKey + "\\1.0\\HELPDIR", ""), FolderOf(path_));
}

TEST_F(RegistrationTest, RegisteringTwiceEqualsRegisteringOnce) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    std::vector<std::string> once = DumpOwnedKeys();
    ASSERT_EQ(Dll().registerServer(), S_OK);
    EXPECT_EQ(DumpOwnedKeys(), once);
}

TEST_F(RegistrationTest, ReRegistrationRebuildsOnlyTheClassKey) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    CreateKeyPath(kClassKey + "\\Stray\\Deeper", HKEY_CLASSES_ROOT);
    SetString(kClassKey, "AppID", kAppId, HKEY_CLASSES_ROOT);
    SetString(kClassKey + "\\InprocServer32", "Extra", "x", HKEY_CLASSES_ROOT);
    // Keys without ForceRemove are only opened: what else they hold stays.
    SetString("StwKs4.EventConfig", "Kept", "y", HKEY_CLASSES_ROOT);

    ASSERT_EQ(Dll().registerServer(), S_OK);
    EXPECT_FALSE(KeyExists(kClassKey + "\\Stray", HKEY_CLASSES_ROOT));
    EXPECT_EQ(GetValue(kClassKey, "AppID", HKEY_CLASSES_ROOT), std::nullopt);
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "Extra", HKEY_CLASSES_ROOT), std::nullopt);
    EXPECT_EQ(ClassesString("StwKs4.EventConfig", "Kept"), "y");
}

TEST_F(RegistrationTest, UnregisterRemovesExactlyTheEntries) {
    const std::string appIdSibling = "AppID\\{0D1E5C7A-3B40-4E8B-9B7E-2F65A4D1C3E9}";
    const std::string clsidSibling = "CLSID\\{0D1E5C7A-3B40-4E8B-9B7E-2F65A4D1C3E9}";
    ASSERT_EQ(Dll().registerServer(), S_OK);
    CreateKeyPath(appIdSibling, HKEY_CLASSES_ROOT);
    CreateKeyPath(clsidSibling, HKEY_CLASSES_ROOT);
    CreateKeyPath(kClassKey + "\\Stray\\Deeper", HKEY_CLASSES_ROOT);
    CreateKeyPath("StwKs4.EventConfig\\CurVer", HKEY_CLASSES_ROOT);
    SetString("AppID\\Registry.DLL", "Other", "z", HKEY_CLASSES_ROOT);

    ASSERT_EQ(Dll().unregisterServer(), S_OK);
    for (const std::string& key : OwnedKeys()) EXPECT_FALSE(KeyExists(key, HKEY_CLASSES_ROOT)) << key;
    EXPECT_TRUE(KeyExists("CLSID", HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists("AppID", HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists(appIdSibling, HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists(clsidSibling, HKEY_CLASSES_ROOT));
    Ref<ITypeLib> lib;
    EXPECT_NE(LoadRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, lib.put()), S_OK);
    DeleteKeyTree(appIdSibling, HKEY_CLASSES_ROOT);
    DeleteKeyTree(clsidSibling, HKEY_CLASSES_ROOT);
}

TEST_F(RegistrationTest, UnregisterSucceedsWhenTheScriptEntriesAreAlreadyGone) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    for (const std::string& key : OwnedKeys()) {
        if (key != kTypeLibKey) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
    }
    EXPECT_EQ(Dll().unregisterServer(), S_OK);
    for (const std::string& key : OwnedKeys()) EXPECT_FALSE(KeyExists(key, HKEY_CLASSES_ROOT)) << key;
}

TEST_F(RegistrationTest, UnregisterStopsAtTheTypeLibraryWithoutUndoingTheClass) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    // The platform's answer for a library that is not registered (it differs between versions).
#ifdef _WIN64
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    ASSERT_EQ(UnRegisterTypeLib(LIBID_KSREGISTRY, 1, 0, 0, kind), S_OK);
    HRESULT notRegistered = UnRegisterTypeLib(LIBID_KSREGISTRY, 1, 0, 0, kind);
    ASSERT_TRUE(FAILED(notRegistered));

    EXPECT_EQ(Dll().unregisterServer(), notRegistered);
    EXPECT_FALSE(KeyExists(kClassKey, HKEY_CLASSES_ROOT));
    EXPECT_FALSE(KeyExists("StwKs4.EventConfig", HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists("AppID\\" + kAppId, HKEY_CLASSES_ROOT)) << "the last step never ran";
    EXPECT_TRUE(KeyExists("AppID\\Registry.DLL", HKEY_CLASSES_ROOT));
}

TEST_F(RegistrationTest, ModulePathWithASingleQuoteIsRegisteredUnchanged) {
    DllCopy copy(TempFolder("ks reg 'quoted''"));
    ASSERT_NE(copy.Module(), nullptr) << copy.Path();
    ASSERT_NE(copy.Module(), Dll().module);
    ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
    ExpectScriptEntries(copy.Path());
    Bstr registeredPath;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, registeredPath.put()), S_OK);
    EXPECT_EQ(registeredPath.Ansi(), copy.Path());
    EXPECT_EQ(CreateByProgIdElsewhere(copy.Path()), 0u);
    EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(KeyExists(kClassKey, HKEY_CLASSES_ROOT));
}

TEST_F(RegistrationTest, ModulePathThatFillsTheBufferFailsBeforeWritingAnything) {
    // Long paths need the \\?\ form to be created; the loader is given the same form.
    std::wstring folder = L"\\\\?\\";
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder += temp;
    }
    folder += L"ks-long-" + std::to_wstring(GetCurrentProcessId());
    std::vector<std::wstring> created;
    while (folder.size() - 4 + std::wstring(L"\\Registry.dll").size() < 280) {
        folder += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str(), nullptr);
        created.push_back(folder.substr(0, folder.rfind(L'\\')));
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    created.push_back(folder);
    std::wstring dll = folder + L"\\Registry.dll";
    wchar_t original[MAX_PATH];
    GetModuleFileNameW(Dll().module, original, MAX_PATH);
    CopyFileW(original, dll.c_str(), FALSE);
    HMODULE module = LoadLibraryW(dll.c_str());
    auto cleanup = [&] {
        if (module != nullptr) FreeLibrary(module);
        DeleteFileW(dll.c_str());
        for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(it->c_str());
    };
    if (module == nullptr) {
        cleanup();
        GTEST_SKIP() << "the loader refuses a path this long";
    }
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    EXPECT_EQ(registerServer(), static_cast<HRESULT>(0x8007007A));
    for (const std::string& key : OwnedKeys()) EXPECT_FALSE(KeyExists(key, HKEY_CLASSES_ROOT)) << key;
    cleanup();
}

TEST_F(RegistrationTest, Regsvr32RegistersForASeparateClientAndUnregisters) {
    ASSERT_EQ(Regsvr32("/s", path_), 0u);
    ExpectScriptEntries(path_);
    EXPECT_EQ(CreateByProgIdElsewhere(path_), 0u);

    ASSERT_EQ(Regsvr32("/u /s", path_), 0u);
    for (const std::string& key : OwnedKeys()) EXPECT_FALSE(KeyExists(key, HKEY_CLASSES_ROOT)) << key;
    EXPECT_EQ(CreateByProgIdElsewhere(path_), static_cast<DWORD>(CO_E_CLASSSTRING));
}

// The client: both programmatic identifiers lead to the class, served by the expected file.
int CreateByProgId(const char* expectedDll) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return hr;
    for (const wchar_t* progId : {L"StwKs4.EventConfig", L"StwKs4.EventConfig.1"}) {
        CLSID clsid{};
        hr = CLSIDFromProgID(progId, &clsid);
        if (FAILED(hr)) return hr;
        if (!IsEqualCLSID(clsid, CLSID_KeystrelConfig)) return E_UNEXPECTED;
        Ref<IKeystrelConfig> config;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKeystrelConfig, config.put_void());
        if (FAILED(hr)) return hr;
        HMODULE served = GetModuleHandleA("Registry.dll");
        if (served == nullptr || lstrcmpiA(DllPath(served).c_str(), expectedDll) != 0) return E_FAIL;
    }
    CoUninitialize();
    return 0;
}

}  // namespace
}  // namespace kstest

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--create-by-progid") return kstest::CreateByProgId(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
