// Faults a client process can meet: a settings root deleted under it, names the registry
// refuses, null pointers, and default profile files that are garbage or hostile.
#include "support/ks_test.h"
#include "support/profile_files.h"

#include <cstring>
#include <functional>
#include <random>

namespace kstest {
namespace {

class FaultTest : public StoreTest {};

struct MethodCall {
    const char* name;
    std::function<void(IKeystrelConfig*)> call;
};

// Every method that restores a missing settings root as its first step, and the ones that don't.
TEST_F(FaultTest, SettingsRootDeletedBetweenCallsComesBackOnlyThroughTheMethodsThatRestoreIt) {
    Bstr hw("Scanner");
    static char hwText[] = "Scanner";
    static char missing[] = "missing";
    const std::vector<MethodCall> restoring = {
        {"LoadConfigInfo", [&](IKeystrelConfig* c) { LONG n; c->LoadConfigInfo(hw.get(), KSCNFGFLAG_ALL, &n); }},
        {"StoreConfigInfo", [&](IKeystrelConfig* c) { _KSCONFIG r{}; std::strcpy(r.keyname, "k"); c->StoreConfigInfo(hw.get(), &r); }},
        {"GetActiveConfig", [&](IKeystrelConfig* c) { _KSCONFIG* p = nullptr; c->GetActiveConfig(&p); c->SetActiveConfig(-1); CoTaskMemFree(p); }},
        {"StoreActiveConfig", [&](IKeystrelConfig* c) { c->StoreActiveConfig(); }},
        {"DeleteConfigInfo", [&](IKeystrelConfig* c) { c->DeleteConfigInfo(0); }},
        {"GetConfigDetails", [&](IKeystrelConfig* c) { _KSCONFIG r{}; c->GetConfigDetails(hwText, missing, &r); }},
        {"LoadEventInfo", [&](IKeystrelConfig* c) { LONG n; c->LoadEventInfo(hw.get(), &n); }},
        {"StoreEventInfo", [&](IKeystrelConfig* c) { _KSEVENT e{}; std::strcpy(e.keyname, "e"); c->StoreEventInfo(hw.get(), &e); }},
        {"GetEventDetails", [&](IKeystrelConfig* c) { _KSEVENT e{}; c->GetEventDetails(hwText, missing, &e); }},
        {"LoadLinkInfo", [&](IKeystrelConfig* c) { IStorage* s = nullptr; c->LoadLinkInfo(0, &s); if (s) s->Release(); }},
        {"GetLinkEngineContainer", [&](IKeystrelConfig* c) { Bstr out; c->GetLinkEngineContainer(hw.get(), out.put()); }},
        {"GetLinkCustomProfile", [&](IKeystrelConfig* c) { Bstr out; c->GetLinkCustomProfile(out.put()); }},
        {"GetUIInterfaceProfile", [&](IKeystrelConfig* c) { Bstr out; c->GetUIInterfaceProfile(out.put()); }},
        {"UIInterfaceSaveSettings", [&](IKeystrelConfig* c) { c->UIInterfaceSaveSettings(1, 1); }},
        {"CopyToFolderSettings", [&](IKeystrelConfig* c) { _KSCPYFLAG f; Bstr p; LONG n; c->CopyToFolderSettings(hw.get(), &f, p.put(), &n); }},
        {"StoreCopyFolderOptions", [&](IKeystrelConfig* c) { c->StoreCopyFolderOptions(hw.get(), KSCPYFLAG_BYWEEK, hw.get()); }},
        {"UpdateCopyCount", [&](IKeystrelConfig* c) { c->UpdateCopyCount(hw.get(), 1); }},
        {"GetDefualtGamma", [&](IKeystrelConfig* c) { LONG g; c->GetDefualtGamma(hw.get(), &g); }},
        {"StoreCalibrationData", [&](IKeystrelConfig* c) { BYTE b[2] = {1, 2}; c->StoreCalibrationData(hw.get(), 1, 2, b); }},
    };
    const std::vector<MethodCall> nonRestoring = {
        {"SetActiveConfig", [&](IKeystrelConfig* c) { c->SetActiveConfig(0); }},
        {"GetConfig", [&](IKeystrelConfig* c) { _KSCONFIG r; c->GetConfig(0, &r); }},
        {"GetEvent", [&](IKeystrelConfig* c) { _KSEVENT e; c->GetEvent(0, &e); }},
        {"SetActiveHardware", [&](IKeystrelConfig* c) { c->SetActiveHardware(GUID{}, hwText); }},
        {"GetLinkEngineCLSID", [&](IKeystrelConfig* c) { GUID g; c->GetLinkEngineCLSID(0, &g); }},
        {"SetUIInterfaceProfile", [&](IKeystrelConfig* c) { c->SetUIInterfaceProfile(hw.get()); }},
        {"CanUIInterfaceCloseOnScan", [&](IKeystrelConfig* c) { LONG v; c->CanUIInterfaceCloseOnScan(&v); }},
        {"GetKSInstallFolder", [&](IKeystrelConfig* c) { Bstr out; c->GetKSInstallFolder(out.put()); }},
        {"GetOCRFlags", [&](IKeystrelConfig* c) { LONG a, b; c->GetOCRFlags(&a, &b); }},
    };

    SetString(RootPath("Scanner"), "Marker", "from the backup");
    Ref<IKeystrelConfig> config = NewConfig();
    config.reset();  // the backup now holds the marker
    config = NewConfig();
    for (const MethodCall& m : restoring) {
        DeleteKeyTree(kRoot);
        m.call(config.get());
        EXPECT_EQ(GetString(RootPath("Scanner"), "Marker"), "from the backup") << m.name;
    }
    for (const MethodCall& m : nonRestoring) {
        DeleteKeyTree(kRoot);
        m.call(config.get());
        EXPECT_FALSE(KeyExists(kRoot)) << m.name << " must not restore the settings root";
    }
}

// The registry refuses a key name of 300 characters: every method reports what it documents for
// a key it cannot create or open, and nothing is written anywhere.
TEST_F(FaultTest, HardwareNameTheRegistryRefusesGivesDocumentedResults) {
    std::string longName(300, 'x');
    Bstr hw(longName.c_str());
    CreateKeyPath(kRoot);
    Ref<IKeystrelConfig> config = NewConfig();
    LONG count = 5;
    EXPECT_EQ(config->LoadConfigInfo(hw.get(), KSCNFGFLAG_ALL, &count), S_OK);
    EXPECT_EQ(count, 0);
    _KSCONFIG profile{};
    EXPECT_EQ(config->StoreConfigInfo(hw.get(), &profile), S_OK);
    EXPECT_EQ(std::strlen(profile.keyname), 38u) << "the key name is made before the key fails";
    EXPECT_EQ(config->LoadEventInfo(hw.get(), &count), S_OK);
    EXPECT_EQ(count, 0);
    _KSEVENT event{};
    std::strcpy(event.keyname, "Button");
    EXPECT_EQ(config->StoreEventInfo(hw.get(), &event), S_OK);
    BYTE table[4] = {1, 2, 3, 4};
    EXPECT_EQ(config->StoreCalibrationData(hw.get(), 1, 4, table), E_FAIL);
    BYTE buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(config->GetCalibrationData(hw.get(), 4, buffer), S_OK) << "no default profile can be prepared";
    EXPECT_EQ(buffer[0], 9);
    LONG gamma = -7;
    EXPECT_EQ(config->GetDefualtGamma(hw.get(), &gamma), E_FAIL);
    EXPECT_EQ(gamma, -7);
    _KSCPYFLAG flag = static_cast<_KSCPYFLAG>(77);
    BSTR path = reinterpret_cast<BSTR>(0x1);
    count = 55;
    EXPECT_EQ(config->CopyToFolderSettings(hw.get(), &flag, &path, &count), S_OK);
    EXPECT_EQ(flag, 77);
    EXPECT_EQ(path, reinterpret_cast<BSTR>(0x1));
    EXPECT_EQ(count, 55);
    EXPECT_EQ(config->StoreCopyFolderOptions(hw.get(), KSCPYFLAG_BYTYPE, hw.get()), S_OK);
    EXPECT_EQ(config->UpdateCopyCount(hw.get(), 3), S_OK);
    BSTR file = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(config->GetTwainConfigurationFile(hw.get(), &file), S_OK);
    EXPECT_EQ(file, reinterpret_cast<BSTR>(0x1));
    Bstr container;
    EXPECT_EQ(config->GetLinkEngineContainer(hw.get(), container.put()), S_OK);
    EXPECT_EQ(container.Ansi(), std::string(kRoot) + "\\" + longName);

    std::vector<char> active(longName.begin(), longName.end());
    active.push_back('\0');
    EXPECT_EQ(config->SetActiveHardware(GUID{}, active.data()), S_OK);
    _KSCONFIG* copy = nullptr;
    ASSERT_EQ(config->GetActiveConfig(&copy), S_OK);
    copy->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_IMAGES | KSCNFGFLAG_SAVE);
    EXPECT_EQ(config->StoreActiveConfig(), S_OK);
    EXPECT_EQ(config->DeleteConfigInfo(0), S_OK);
    config.reset();
    EXPECT_TRUE(SubkeyNames(kRoot).empty()) << "nothing may appear under the settings root";
}

// Every pointer argument that the interface leaves unchecked gets a clear answer, never a crash.
TEST_F(FaultTest, NullPointersGiveClearResults) {
    Ref<IKeystrelConfig> config = NewConfig();
    Bstr hw("Scanner");
    static char hwText[] = "Scanner";
    static char name[] = "name";
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    _KSCONFIG profile{};
    _KSEVENT event{};
    LONG number = 0;
    short mode = 0;
    BYTE data[4] = {};
    const Case cases[] = {
        {"LoadLinkInfo pStore", [&] { return config->LoadLinkInfo(1, nullptr); }, E_POINTER},
        {"LoadConfigInfo count", [&] { return config->LoadConfigInfo(hw.get(), KSCNFGFLAG_ALL, nullptr); }, E_POINTER},
        {"StoreConfigInfo config", [&] { return config->StoreConfigInfo(hw.get(), nullptr); }, E_POINTER},
        {"GetActiveConfig pconfig", [&] { return config->GetActiveConfig(nullptr); }, E_POINTER},
        {"GetConfig pconfig", [&] { return config->GetConfig(0, nullptr); }, E_POINTER},
        {"LoadEventInfo count", [&] { return config->LoadEventInfo(hw.get(), nullptr); }, E_POINTER},
        {"GetEvent pevent", [&] { return config->GetEvent(0, nullptr); }, E_POINTER},
        {"StoreEventInfo pevent", [&] { return config->StoreEventInfo(hw.get(), nullptr); }, E_POINTER},
        {"GetEventDetails pevent", [&] { return config->GetEventDetails(hwText, name, nullptr); }, E_POINTER},
        {"GetEventDetails hw and event", [&] { return config->GetEventDetails(nullptr, nullptr, &event); }, E_INVALIDARG},
        {"GetConfigDetails pconfig", [&] { return config->GetConfigDetails(hwText, name, nullptr); }, E_POINTER},
        {"GetConfigDetails hw and config", [&] { return config->GetConfigDetails(nullptr, nullptr, &profile); }, E_INVALIDARG},
        {"SetActiveHardware hwname", [&] { return config->SetActiveHardware(GUID{}, nullptr); }, S_OK},
        {"StoreCalibrationData data", [&] { return config->StoreCalibrationData(hw.get(), 1, 4, nullptr); }, E_POINTER},
        {"GetCalibrationData data", [&] { return config->GetCalibrationData(hw.get(), 4, nullptr); }, E_POINTER},
        {"GetLinkEngineContainer container", [&] { return config->GetLinkEngineContainer(hw.get(), nullptr); }, S_OK},
        {"GetLinkEngineCLSID clsid", [&] { return config->GetLinkEngineCLSID(0, nullptr); }, E_POINTER},
        {"GetLinkCustomProfile path", [&] { return config->GetLinkCustomProfile(nullptr); }, S_OK},
        {"CanUIInterfaceCloseOnScan closeUI", [&] { return config->CanUIInterfaceCloseOnScan(nullptr); }, E_POINTER},
        {"UIInterfaceStartupSettings scanmode", [&] { return config->UIInterfaceStartupSettings(hw.get(), nullptr, &mode, nullptr); }, E_POINTER},
        {"UIInterfaceStartupSettings devicemode", [&] { return config->UIInterfaceStartupSettings(hw.get(), &mode, nullptr, nullptr); }, E_POINTER},
        {"GetUIInterfaceProfile path", [&] { return config->GetUIInterfaceProfile(nullptr); }, S_OK},
        {"CopyToFolderSettings flag", [&] { return config->CopyToFolderSettings(hw.get(), nullptr, nullptr, &number); }, E_POINTER},
        {"CopyToFolderSettings count", [&] { _KSCPYFLAG f; return config->CopyToFolderSettings(hw.get(), &f, nullptr, nullptr); }, E_POINTER},
        {"GetTwainConfigurationFile configfile", [&] { return config->GetTwainConfigurationFile(hw.get(), nullptr); }, S_OK},
        {"GetDefualtGamma gamma", [&] { return config->GetDefualtGamma(hw.get(), nullptr); }, E_POINTER},
        {"GetKSInstallFolder folder", [&] { return config->GetKSInstallFolder(nullptr); }, S_OK},
        {"GetOCRFlags both", [&] { return config->GetOCRFlags(nullptr, nullptr); }, E_POINTER},
        {"GetConfigRegistryBinary", [&] { return config->GetConfigRegistryBinary(nullptr, nullptr, nullptr); }, S_OK},
        {"null hardware BSTRs", [&] { return config->StoreCalibrationData(nullptr, 1, 4, data); }, S_OK},
    };
    for (const Case& c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
}

class HostileProfileTest : public StoreTest {
protected:
    // Imports `text` as the default profile of "Hostile" and returns the result of the read.
    HRESULT ReadThrough(const std::string& text, BYTE (&buffer)[8]) {
        DefaultProfileFile file("Hostile", text);
        Ref<IKeystrelConfig> config = NewConfig();
        Bstr hw("Hostile");
        std::memset(buffer, 0xEE, sizeof(buffer));
        return config->GetCalibrationData(hw.get(), sizeof(buffer), buffer);
    }
};

TEST_F(HostileProfileTest, EmptyAndRandomFilesImportNothingHarmful) {
    BYTE buffer[8];
    EXPECT_EQ(ReadThrough("", buffer), E_FAIL);
    EXPECT_EQ(buffer[0], 0xEE);

    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::string text(4096 + round * 512, '\0');
        for (char& ch : text) ch = static_cast<char>(random() & 0xFF);
        HRESULT hr = ReadThrough(text, buffer);
        EXPECT_TRUE(hr == E_FAIL || hr == S_OK) << "round " << round;
    }
    EXPECT_TRUE(TemporaryProfileCopies().empty());
}

TEST_F(HostileProfileTest, HostileGammaFormatsLeaveTheGammaPlaceholderUntouched) {
    const char* formats[] = {"%n", "%s", "%d%d", "%*d", "%99999999d", "%ls", "%p%n%n%n", "%.1000000d", "%lld"};
    for (const char* format : formats) {
        std::string text = std::string("; defaults\r\n%GAMMA_VALUES=1,2,3,<") + format +
                           ">%\r\n[%ROOT%]\r\n\"CurrentGamma\"=dword:00000002\r\n\"Seen\"=\"%GAMMA%\"\r\n"
                           "[%ROOT%\\EventProfiles]\r\n\"Skipped\"=\"1\"\r\n";
        BYTE buffer[8];
        EXPECT_EQ(ReadThrough(text, buffer), E_FAIL) << format;
        EXPECT_EQ(GetString(RootPath("Hostile"), "Seen"), "%GAMMA%") << format;
        EXPECT_FALSE(KeyExists(RootPath("Hostile\\EventProfiles"))) << format;
        DeleteKeyTree(kRoot);
    }
    // The one supported form still fills it.
    BYTE buffer[8];
    ReadThrough("; x\r\n%GAMMA_VALUES=1,2,3,<G%03d>%\r\n[%ROOT%]\r\n\"Seen\"=\"%GAMMA%\"\r\n[%ROOT%\\EventProfiles]\r\n",
                buffer);
    EXPECT_EQ(GetString(RootPath("Hostile"), "Seen"), "G002");
}

}  // namespace
}  // namespace kstest
