// Self-registration of the real DLL below HKEY_CLASSES_ROOT, read back through this process's own
// registry view (a 32-bit registration lands in the 32-bit view, so each bitness tests itself).
// The executable doubles as the separate client process: run with --create-by-progid it creates
// the class by its programmatic identifiers and exits with the first failure. For the package
// test, --dump-registration and --dump-settings print the entries in this process's view.
#include <algorithm>
#include <cstdio>

#include "support/ks_test.h"

namespace kstest {
namespace {

std::string GuidText(REFGUID guid) {
    wchar_t wide[40];
    int length = StringFromGUID2(guid, wide, 40);
    return std::string(wide, wide + length - 1);
}

const std::string kClsid = GuidText(CLSID_KeystrelConfig);
const std::string kAppId = GuidText(APPID_KeystrelRegistry);
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kTypeLibKey = "TypeLib\\" + GuidText(LIBID_KSREGISTRY);
// Every key that registration owns; none of them is shared.
const std::vector<std::string> kOwnedKeys = {"AppID\\" + kAppId,     "AppID\\Registry.DLL", "StwKs4.EventConfig.1",
                                             "StwKs4.EventConfig", kClassKey,              kTypeLibKey};

void ExpectNoOwnedKeys() {
    for (const std::string& key : kOwnedKeys) EXPECT_FALSE(KeyExists(key, HKEY_CLASSES_ROOT)) << key;
}

std::string DllPath(HMODULE module) {
    char path[MAX_PATH];
    return std::string(path, GetModuleFileNameA(module, path, MAX_PATH));
}

HRESULT Call(HMODULE module, const char* entry) {
    auto function =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    return function != nullptr ? function() : E_NOTIMPL;
}

RegValue Text(const std::string& text) {
    return {REG_SZ, std::vector<BYTE>(text.c_str(), text.c_str() + text.size() + 1)};
}

// What registration writes that depends on the module: where it is and how it is reached. The
// scripts' other rows are compared whole with the package's generated ones by the package test.
void ExpectScriptEntries(const std::string& modulePath) {
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "", HKEY_CLASSES_ROOT), Text(modulePath));
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "ThreadingModel", HKEY_CLASSES_ROOT), Text("both"));
    EXPECT_FALSE(GetValue(kClassKey, "AppID", HKEY_CLASSES_ROOT)) << "the class key is rebuilt";
    for (const char* progId : {"StwKs4.EventConfig.1", "StwKs4.EventConfig"}) {
        EXPECT_EQ(GetValue(std::string(progId) + "\\CLSID", "", HKEY_CLASSES_ROOT), Text(kClsid)) << progId;
    }
}

// Runs a command line to its end; its exit code, or ~0u when it could not run.
DWORD RunProcess(std::string commandLine) {
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

class RegistrationTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        for (const std::string& key : kOwnedKeys) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
    }
    void TearDown() override {
        Dll().unregisterServer();
        for (const std::string& key : kOwnedKeys) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
        StoreTest::TearDown();
    }
    SavedSettings saved_;  // the client process keeps its settings in the real hive
    const std::string path_ = DllPath(Dll().module);
};

// Registering again equals registering once, except that the class key is rebuilt from scratch
// (keys without ForceRemove are only opened: what else they hold stays).
TEST_F(RegistrationTest, RegisterWritesBothTablesAndTheTypeLibraryAndRebuildsTheClassKey) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    CreateKeyPath(kClassKey + "\\Stray\\Deeper", HKEY_CLASSES_ROOT);
    SetString(kClassKey, "AppID", kAppId, HKEY_CLASSES_ROOT);
    SetString(kClassKey + "\\InprocServer32", "Extra", "x", HKEY_CLASSES_ROOT);
    SetString("StwKs4.EventConfig", "Kept", "y", HKEY_CLASSES_ROOT);
    ASSERT_EQ(Dll().registerServer(), S_OK);
    EXPECT_EQ(GetValue("StwKs4.EventConfig", "Kept", HKEY_CLASSES_ROOT), Text("y"));
    RegDeleteKeyValueA(HKEY_CLASSES_ROOT, "StwKs4.EventConfig", "Kept");
    ExpectScriptEntries(path_);
    EXPECT_FALSE(KeyExists(kClassKey + "\\Stray", HKEY_CLASSES_ROOT));
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "Extra", HKEY_CLASSES_ROOT), std::nullopt);
    Ref<ITypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, lib.put()), S_OK);
    Bstr registeredPath;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, registeredPath.put()), S_OK);
    EXPECT_EQ(registeredPath.Ansi(), path_);
    EXPECT_EQ(GetValue(kTypeLibKey + "\\1.0", "", HKEY_CLASSES_ROOT), Text("Registry 1.0 Type Library"));
    EXPECT_EQ(GetValue(kTypeLibKey + "\\1.0\\HELPDIR", "", HKEY_CLASSES_ROOT),
              Text(path_.substr(0, path_.find_last_of('\\'))));
}

// Only the named entries go; HKCR\CLSID and HKCR\AppID stay. Absent entries are no error.
TEST_F(RegistrationTest, UnregisterRemovesExactlyTheEntries) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    CreateKeyPath(kClassKey + "\\Stray\\Deeper", HKEY_CLASSES_ROOT);
    CreateKeyPath("StwKs4.EventConfig\\CurVer", HKEY_CLASSES_ROOT);
    SetString("AppID\\Registry.DLL", "Other", "z", HKEY_CLASSES_ROOT);
    ASSERT_EQ(Dll().unregisterServer(), S_OK);
    ExpectNoOwnedKeys();
    EXPECT_TRUE(KeyExists("CLSID", HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists("AppID", HKEY_CLASSES_ROOT));

    ASSERT_EQ(Dll().registerServer(), S_OK);
    for (const std::string& key : kOwnedKeys) {
        if (key != kTypeLibKey) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
    }
    EXPECT_EQ(Dll().unregisterServer(), S_OK);
    ExpectNoOwnedKeys();
}

TEST_F(RegistrationTest, UnregisterStopsAtTheTypeLibraryWithoutUndoingTheClass) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    // The platform's answer for a library that is not registered (it differs between versions).
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    ASSERT_EQ(UnRegisterTypeLib(LIBID_KSREGISTRY, 1, 0, 0, kind), S_OK);
    HRESULT notRegistered = UnRegisterTypeLib(LIBID_KSREGISTRY, 1, 0, 0, kind);
    ASSERT_TRUE(FAILED(notRegistered));
    EXPECT_EQ(Dll().unregisterServer(), notRegistered);
    EXPECT_FALSE(KeyExists(kClassKey, HKEY_CLASSES_ROOT));
    EXPECT_FALSE(KeyExists("StwKs4.EventConfig", HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists("AppID\\" + kAppId, HKEY_CLASSES_ROOT)) << "the last step never ran";
    EXPECT_TRUE(KeyExists("AppID\\Registry.DLL", HKEY_CLASSES_ROOT));
}

TEST_F(RegistrationTest, ModulePathThatFillsTheBufferFailsBeforeWritingAnything) {
    // Long paths need the \\?\ form to be created; the loader is given the same form.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = L"\\\\?\\" + std::wstring(temp) + L"ks-long-" + std::to_wstring(GetCurrentProcessId());
    std::vector<std::wstring> created = {folder};
    while (folder.size() - 4 + 13 < 280) created.push_back(folder += L"\\" + std::wstring(40, L'd'));
    for (const std::wstring& each : created) CreateDirectoryW(each.c_str(), nullptr);
    const std::wstring dll = folder + L"\\Registry.dll";
    CopyFileW(std::wstring(path_.begin(), path_.end()).c_str(), dll.c_str(), FALSE);
    HMODULE module = LoadLibraryW(dll.c_str());
    if (module != nullptr) {
        EXPECT_EQ(Call(module, "DllRegisterServer"), static_cast<HRESULT>(0x8007007A));
        ExpectNoOwnedKeys();
        FreeLibrary(module);
    }
    DeleteFileW(dll.c_str());
    for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(it->c_str());
    if (module == nullptr) GTEST_SKIP() << "the loader refuses a path this long";
}

// regsvr32 itself on a copy whose path holds single quotes (registered unchanged), then creation
// by programmatic identifier in a separate process, which must load that copy.
TEST_F(RegistrationTest, Regsvr32RegistersAQuotedPathForASeparateClientAndUnregisters) {
    char temp[MAX_PATH], system[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetSystemDirectoryA(system, MAX_PATH);  // a 32-bit process is redirected to the 32-bit one
    const std::string folder = std::string(temp) + "ks reg 'quoted'' " + std::to_string(GetCurrentProcessId());
    const std::string copy = folder + "\\Registry.dll";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(path_.c_str(), copy.c_str(), FALSE));
    const std::string regsvr32 = "\"" + std::string(system) + "\\regsvr32.exe\" ";
    const std::string client = "\"" + DllPath(nullptr) + "\" --create-by-progid \"" + copy + "\"";
    EXPECT_EQ(RunProcess(regsvr32 + "/s \"" + copy + "\""), 0u);
    ExpectScriptEntries(copy);
    EXPECT_EQ(RunProcess(client), 0u);
    EXPECT_EQ(RunProcess(regsvr32 + "/u /s \"" + copy + "\""), 0u);
    ExpectNoOwnedKeys();
    EXPECT_EQ(RunProcess(client), static_cast<DWORD>(CO_E_CLASSSTRING));
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
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

// One line per value and subkey of each key, or "<absent>"; CLSID and AppID only by presence.
int Dump(const std::vector<std::string>& keys, HKEY root) {
    for (const std::string& key : keys) {
        if (!KeyExists(key, root)) {
            std::printf("%s <absent>\n", key.c_str());
        } else if (key == "CLSID" || key == "AppID") {
            std::printf("%s <present>\n", key.c_str());
        } else {
            for (const std::string& line : DumpTree(key, root)) std::printf("%s|%s\n", key.c_str(), line.c_str());
        }
    }
    return 0;
}

}  // namespace
}  // namespace kstest

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--create-by-progid") return kstest::CreateByProgId(argv[2]);
    if (argc == 2 && std::string(argv[1]) == "--dump-registration") {
        std::vector<std::string> keys = kstest::kOwnedKeys;
        keys.insert(keys.end(), {"CLSID", "AppID"});
        return kstest::Dump(keys, HKEY_CLASSES_ROOT);
    }
    if (argc == 2 && std::string(argv[1]) == "--dump-settings")
        return kstest::Dump({"Software\\Stellwick\\Keystrel 4.0", "Software\\Stellwick Backup"}, HKEY_CURRENT_USER);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
