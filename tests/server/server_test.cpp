// Self-registration of the real DLL below HKEY_CLASSES_ROOT, read back through this process's own
// registry view (a 32-bit registration lands in the 32-bit view, so each bitness tests itself).
// The executable doubles as the separate client process: run with --create-by-progid it creates
// the class by its programmatic identifiers and exits with the first failure. For the package
// test, --dump-registration and --dump-settings print the entries in this process's view.
#include <process.h>

#include <cstdio>

#include "support/ks_test.h"

namespace kstest {
namespace {


const std::string kAppId = GuidText(APPID_KeystrelRegistry);
const std::string kClassKey = "CLSID\\" + GuidText(CLSID_KeystrelConfig);
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

// What registration writes that depends on the module: where it is and how it is reached (the
// programmatic identifiers are resolved by the client process). The scripts' other rows are
// compared whole with the package's generated ones by the package test.
void ExpectScriptEntries(const std::string& modulePath) {
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "", HKEY_CLASSES_ROOT), Sz(modulePath));
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "ThreadingModel", HKEY_CLASSES_ROOT), Sz("both"));
}

class RegistrationTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        for (const std::string& key : kOwnedKeys) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
    }
    void TearDown() override {
        for (const std::string& key : kOwnedKeys) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
        StoreTest::TearDown();
    }
    SavedSettings saved_;  // the client process keeps its settings in the real hive
    const std::string path_ = DllPath(Dll().module);
};

// Registering again equals registering once, except that the class key is rebuilt from scratch
// (keys without ForceRemove are only opened: what else they hold stays). Unregistering removes
// exactly the entries, also when some are already gone; HKCR\CLSID and HKCR\AppID stay.
TEST_F(RegistrationTest, RegisterRebuildsTheClassKeyAndUnregisterRemovesExactlyTheEntries) {
    ASSERT_EQ(Dll().registerServer(), S_OK);
    CreateKeyPath(kClassKey + "\\Stray\\Deeper", HKEY_CLASSES_ROOT);
    SetString(kClassKey + "\\InprocServer32", "Extra", "x", HKEY_CLASSES_ROOT);
    SetString("StwKs4.EventConfig", "Kept", "y", HKEY_CLASSES_ROOT);
    ASSERT_EQ(Dll().registerServer(), S_OK);
    EXPECT_EQ(GetValue("StwKs4.EventConfig", "Kept", HKEY_CLASSES_ROOT), Sz("y"));
    ExpectScriptEntries(path_);
    EXPECT_FALSE(KeyExists(kClassKey + "\\Stray", HKEY_CLASSES_ROOT)) << "the class key is rebuilt";
    EXPECT_EQ(GetValue(kClassKey + "\\InprocServer32", "Extra", HKEY_CLASSES_ROOT), std::nullopt);
    Bstr registeredPath;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_KSREGISTRY, 1, 0, 0, registeredPath.put()), S_OK);
    EXPECT_EQ(registeredPath.Ansi(), path_) << "the library embedded in the module";
    EXPECT_EQ(GetValue(kTypeLibKey + "\\1.0\\HELPDIR", "", HKEY_CLASSES_ROOT),
              Sz(path_.substr(0, path_.find_last_of('\\'))));

    SetString("AppID\\Registry.DLL", "Other", "z", HKEY_CLASSES_ROOT);
    ASSERT_EQ(Dll().unregisterServer(), S_OK);
    ExpectNoOwnedKeys();
    EXPECT_TRUE(KeyExists("CLSID", HKEY_CLASSES_ROOT) && KeyExists("AppID", HKEY_CLASSES_ROOT)) << "shared keys stay";
    ASSERT_EQ(Dll().registerServer(), S_OK);
    for (const std::string& key : kOwnedKeys) {
        if (key != kTypeLibKey) DeleteKeyTree(key, HKEY_CLASSES_ROOT);
    }
    EXPECT_EQ(Dll().unregisterServer(), S_OK);
    ExpectNoOwnedKeys();
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
    const std::string regsvr32 = std::string(system) + "\\regsvr32.exe", self = DllPath(nullptr);
    const std::string quoted = "\"" + copy + "\"";
    EXPECT_EQ(_spawnl(_P_WAIT, regsvr32.c_str(), "regsvr32", "/s", quoted.c_str(), nullptr), 0);
    ExpectScriptEntries(copy);
    EXPECT_EQ(_spawnl(_P_WAIT, self.c_str(), "client", "--create-by-progid", quoted.c_str(), nullptr), 0);
    EXPECT_EQ(_spawnl(_P_WAIT, regsvr32.c_str(), "regsvr32", "/u", "/s", quoted.c_str(), nullptr), 0);
    ExpectNoOwnedKeys();
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
        // The install folder is that copy's, not this program's.
        Bstr folder;
        const std::string dll = expectedDll;
        if (config->GetKSInstallFolder(folder.put()) != S_OK || folder.Ansi() != dll.substr(0, dll.rfind('\\')))
            return E_FAIL;
    }
    CoUninitialize();
    return 0;
}

// One line per value and subkey of each key, or "<absent>"; CLSID and AppID only by presence.
int Dump(const std::vector<std::string>& keys, HKEY root) {
    for (const std::string& key : keys) {
        if (!KeyExists(key, root) || key == "CLSID" || key == "AppID") {
            std::printf("%s <%s>\n", key.c_str(), KeyExists(key, root) ? "present" : "absent");
            continue;
        }
        for (const std::string& line : DumpTree(key, root)) std::printf("%s|%s\n", key.c_str(), line.c_str());
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
