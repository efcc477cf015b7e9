// Paths of the other components' keys, the text-recognition flags and the install folder.
#include "support/ks_test.h"

namespace kstest {
namespace {

class ProfilePathsTest : public StoreTest {};

const std::string kOcrKey = RootPath("Ferrovane 4.0\\Text Documents");

TEST_F(ProfilePathsTest, PathsNameTheKeysWithoutCreatingThem) {
    Ref<IKeystrelConfig> config = NewConfig();
    Bstr links;
    Bstr ui;
    EXPECT_EQ(config->GetLinkCustomProfile(links.put()), S_OK);
    EXPECT_EQ(config->GetUIInterfaceProfile(ui.put()), S_OK);
    EXPECT_EQ(links.Ansi(), RootPath("LinkProfiles"));
    EXPECT_EQ(ui.Ansi(), RootPath("UIInterfaceProfiles"));
    EXPECT_FALSE(KeyExists(RootPath("LinkProfiles")));
    EXPECT_FALSE(KeyExists(RootPath("UIInterfaceProfiles")));
}

TEST_F(ProfilePathsTest, NullOutPointersAndTheCloseAnswer) {
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(config->GetLinkCustomProfile(nullptr), S_OK);
    EXPECT_EQ(config->GetUIInterfaceProfile(nullptr), S_OK);
    EXPECT_EQ(config->GetKSInstallFolder(nullptr), S_OK);
    EXPECT_EQ(config->CanUIInterfaceCloseOnScan(nullptr), E_POINTER);
    LONG close = 0;
    EXPECT_EQ(config->CanUIInterfaceCloseOnScan(&close), S_OK);
    EXPECT_EQ(close, 1);
    SetDword(kOcrKey, "SendEmptyFile", 119);
    LONG flag = -7;
    EXPECT_EQ(config->GetOCRFlags(nullptr, &flag), E_POINTER);
    EXPECT_EQ(config->GetOCRFlags(&flag, nullptr), E_POINTER);
    EXPECT_EQ(flag, -7);
}

TEST_F(ProfilePathsTest, OnlyThePathOperationsRestoreAMissingRoot) {
    struct Case {
        const char* what;
        bool restores;
        HRESULT hr;
        HRESULT (*call)(IKeystrelConfig*);
    } cases[] = {
        {"GetLinkCustomProfile", true, S_OK, [](IKeystrelConfig* c) { return c->GetLinkCustomProfile(Bstr().put()); }},
        {"GetUIInterfaceProfile", true, S_OK,
         [](IKeystrelConfig* c) { return c->GetUIInterfaceProfile(Bstr().put()); }},
        {"GetLinkEngineContainer", true, S_OK,
         [](IKeystrelConfig* c) { return c->GetLinkEngineContainer(nullptr, Bstr().put()); }},
        {"SetUIInterfaceProfile", false, S_OK,
         [](IKeystrelConfig* c) { return c->SetUIInterfaceProfile(Bstr("P").get()); }},
        {"CanUIInterfaceCloseOnScan", false, S_OK,
         [](IKeystrelConfig* c) { LONG v; return c->CanUIInterfaceCloseOnScan(&v); }},
        {"GetKSInstallFolder", false, S_OK, [](IKeystrelConfig* c) { return c->GetKSInstallFolder(Bstr().put()); }},
        {"GetLinkEngineCLSID", false, E_FAIL, [](IKeystrelConfig* c) { GUID g; return c->GetLinkEngineCLSID(0, &g); }},
        // The flags are only in the backup: a restore would make them readable.
        {"GetOCRFlags", false, E_FAIL, [](IKeystrelConfig* c) { LONG a, b; return c->GetOCRFlags(&a, &b); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Ref<IKeystrelConfig> config = NewConfig();
        DeleteKeyTree(kRoot);
        DeleteKeyTree(kBackup);
        SetDword(std::string(kBackup) + "\\Ferrovane 4.0\\Text Documents", "ShowMessages", 119);
        EXPECT_EQ(c.call(config.get()), c.hr);
        EXPECT_EQ(KeyExists(kRoot), c.restores);
    }
}

TEST_F(ProfilePathsTest, OcrFlagsAreOnOnlyFor119InARegDword) {
    constexpr LONG kKept = -7;  // what the caller put there
    struct Stored {
        DWORD type;  // REG_NONE: value missing
        DWORD number;
    };
    struct Case {
        const char* what;
        Stored send;
        Stored show;
        HRESULT hr;
        LONG sendOut;
        LONG showOut;
    } cases[] = {
        {"119 and 1", {REG_DWORD, 119}, {REG_DWORD, 1}, S_OK, 1, 0},
        {"both 119", {REG_DWORD, 119}, {REG_DWORD, 119}, S_OK, 1, 1},
        {"0 and 0x177", {REG_DWORD, 0}, {REG_DWORD, 0x177}, S_OK, 0, 0},
        {"only ShowMessages", {REG_NONE, 0}, {REG_DWORD, 0}, S_OK, kKept, 0},
        {"text and missing", {REG_SZ, 0}, {REG_NONE, 0}, E_FAIL, kKept, kKept},
        {"binary 119 and big-endian 119", {REG_BINARY, 119}, {REG_DWORD_BIG_ENDIAN, 119}, E_FAIL, kKept, kKept},
        {"binary and 119", {REG_BINARY, 119}, {REG_DWORD, 119}, S_OK, kKept, 1},
        {"both missing", {REG_NONE, 0}, {REG_NONE, 0}, E_FAIL, kKept, kKept},
    };
    Ref<IKeystrelConfig> config = NewConfig();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kOcrKey);
        CreateKeyPath(kOcrKey);
        for (auto [name, stored] : {std::pair{"SendEmptyFile", c.send}, std::pair{"ShowMessages", c.show}}) {
            if (stored.type == REG_SZ) SetString(kOcrKey, name, "119");
            if (stored.type != REG_NONE && stored.type != REG_SZ) {
                SetValue(kOcrKey, name, stored.type, &stored.number, sizeof(stored.number));
            }
        }
        LONG send = kKept;
        LONG show = kKept;
        EXPECT_EQ(config->GetOCRFlags(&send, &show), c.hr);
        EXPECT_EQ(send, c.sendOut);
        EXPECT_EQ(show, c.showOut);
    }

    DeleteKeyTree(RootPath("Ferrovane 4.0"));
    LONG send = kKept;
    LONG show = kKept;
    EXPECT_EQ(config->GetOCRFlags(&send, &show), E_FAIL) << "key missing";
    EXPECT_EQ(send, kKept);
    EXPECT_EQ(show, kKept);
}

TEST_F(ProfilePathsTest, InstallFolderIsTheFolderOfTheLoadedDll) {
    char path[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(Dll().module, path, sizeof(path)), 0u);
    std::string expected(path);
    expected.resize(expected.rfind('\\'));
    Ref<IKeystrelConfig> config = NewConfig();
    Bstr folder;
    EXPECT_EQ(config->GetKSInstallFolder(folder.put()), S_OK);
    EXPECT_EQ(folder.Ansi(), expected);
}

// A copy of the module in another folder reports that folder, not the one of the program or of
// the first copy.
TEST_F(ProfilePathsTest, InstallFolderFollowsTheModuleNotTheProgram) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    const std::string folder = std::string(temp) + "ks links copy " + std::to_string(GetCurrentProcessId());
    const std::string copy = folder + "\\Registry.dll";
    char original[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(Dll().module, original, sizeof(original)), 0u);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(original, copy.c_str(), FALSE));
    HMODULE module = LoadLibraryA(copy.c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_NE(module, Dll().module);
    {
        auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        Ref<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void()), S_OK);
        Ref<IKeystrelConfig> config;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKeystrelConfig, config.put_void()), S_OK);
        Bstr reported;
        EXPECT_EQ(config->GetKSInstallFolder(reported.put()), S_OK);
        EXPECT_EQ(reported.Ansi(), folder);
    }
    FreeLibrary(module);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace kstest
