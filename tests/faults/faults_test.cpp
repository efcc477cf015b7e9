// Faults a client process can meet: a settings root deleted under it, refused names, null pointers.
#include "support/ks_test.h"

#include <cstring>
#include <functional>
#include <tuple>

namespace kstest {
namespace {

// One interface call per table row, named in failure messages by its own text.
struct Call { const char* text; std::function<HRESULT(IKeystrelConfig*)> run; };
#define CALL(...) Call{#__VA_ARGS__, [&](IKeystrelConfig* c) -> HRESULT { return c->__VA_ARGS__; }}

// Arguments for the tables; out-values start as sentinels.
class FaultTest : public ConfigTest {
protected:
    Bstr hw{"Scanner"}, out;
    char hwText[8] = "Scanner", name[8] = "missing";
    LONG n = 5, m = 5, gamma = -7;
    short mode = 0;
    _KSCONFIG profile{};
    _KSEVENT event{};
    // A combination no read of a missing key gives, and inside the enumeration's range (0-15):
    // a value outside it would be undefined, and clang folds the comparison below away.
    _KSCPYFLAG flag = static_cast<_KSCPYFLAG>(13);
    BYTE table[4] = {1, 2, 3, 4};
};

// Every method that restores a missing settings root as its first step brings it back from the
// backup, even where its own key would be made anyway.
TEST_F(FaultTest, SettingsRootDeletedBetweenCallsComesBackFromTheBackup) {
    std::strcpy(profile.keyname, "k");
    std::strcpy(event.keyname, "e");
    ks::UniqueTaskMem<_KSCONFIG> active;
    Ref<IStorage> storage;
    const std::vector<Call> restoring = {
        CALL(LoadConfigInfo(hw.get(), KSCNFGFLAG_ALL, &n)), CALL(StoreConfigInfo(hw.get(), &profile)),
        Call{"GetActiveConfig",
             [&](IKeystrelConfig* c) { c->GetActiveConfig(active.put()); return c->SetActiveConfig(-1); }},
        CALL(StoreActiveConfig()), CALL(DeleteConfigInfo(0)), CALL(GetConfigDetails(hwText, name, &profile)),
        CALL(LoadEventInfo(hw.get(), &n)), CALL(StoreEventInfo(hw.get(), &event)), CALL(UIInterfaceSaveSettings(1, 1)),
        CALL(GetEventDetails(hwText, name, &event)), CALL(LoadLinkInfo(0, storage.put())),
        CALL(CopyToFolderSettings(hw.get(), &flag, out.put(), &n)), CALL(GetLinkCustomProfile(out.put())),
        CALL(StoreCopyFolderOptions(hw.get(), KSCPYFLAG_BYWEEK, hw.get())), CALL(UpdateCopyCount(hw.get(), 1)),
        CALL(GetDefualtGamma(hw.get(), &n)), CALL(StoreCalibrationData(hw.get(), 1, 2, table)),
        CALL(GetTwainConfigurationFile(hw.get(), out.put())),
    };
    SetString(RootPath("Scanner"), "Marker", "from the backup");
    NewConfig();  // released at once: the backup now holds the marker
    for (const Call& call : restoring) {
        DeleteKeyTree(kRoot);
        call.run(config_.get());
        EXPECT_EQ(GetString(RootPath("Scanner"), "Marker"), "from the backup") << call.text;
    }
}

// The registry refuses a key name of 300 characters: each method reports what it documents for a
// key it cannot create or open, leaves its out-values alone, and writes nothing anywhere.
TEST_F(FaultTest, HardwareNameTheRegistryRefusesGivesDocumentedResults) {
    Bstr longHw(std::string(300, 'x').c_str());
    BSTR path = reinterpret_cast<BSTR>(0x1);
    CreateKeyPath(kRoot);
    const BSTR h = longHw.get();
    const std::pair<HRESULT, std::vector<Call>> results[] = {
        {E_FAIL, {CALL(StoreCalibrationData(h, 1, 4, table)), CALL(GetDefualtGamma(h, &gamma))}},
        {S_OK, {
            CALL(LoadConfigInfo(h, KSCNFGFLAG_ALL, &n)), CALL(StoreConfigInfo(h, &profile)),
            CALL(CopyToFolderSettings(h, &flag, &path, &m)), CALL(StoreCopyFolderOptions(h, KSCPYFLAG_BYTYPE, h)),
            CALL(UpdateCopyCount(h, 3)),
        }},
    };
    for (const auto& [expected, calls] : results) {
        for (const Call& call : calls) EXPECT_EQ(call.run(config_.get()), expected) << call.text;
    }
    EXPECT_EQ(std::tuple(n, gamma, m), std::tuple(0L, -7L, 5L));
    EXPECT_TRUE(table[0] == 1 && flag == 13 && path == reinterpret_cast<BSTR>(0x1));
    config_.reset();
    EXPECT_TRUE(SubkeyNames(kRoot).empty()) << "nothing may appear under the settings root";
}

// Every pointer argument that the interface leaves unchecked gets a clear answer, never a crash.
TEST_F(FaultTest, NullPointersGiveClearResults) {
    const std::pair<HRESULT, std::vector<Call>> cases[] = {
        {E_POINTER, {
            CALL(LoadLinkInfo(1, nullptr)), CALL(LoadConfigInfo(hw.get(), KSCNFGFLAG_ALL, nullptr)),
            CALL(StoreConfigInfo(hw.get(), nullptr)), CALL(GetActiveConfig(nullptr)), CALL(GetConfig(0, nullptr)),
            CALL(LoadEventInfo(hw.get(), nullptr)), CALL(GetEvent(0, nullptr)), CALL(StoreEventInfo(hw.get(), nullptr)),
            CALL(GetEventDetails(hwText, name, nullptr)), CALL(GetConfigDetails(hwText, name, nullptr)),
            CALL(StoreCalibrationData(hw.get(), 1, 4, nullptr)), CALL(GetCalibrationData(hw.get(), 4, nullptr)),
            CALL(GetLinkEngineCLSID(0, nullptr)), CALL(CanUIInterfaceCloseOnScan(nullptr)),
            CALL(UIInterfaceStartupSettings(hw.get(), nullptr, &mode, nullptr)), CALL(GetOCRFlags(&n, nullptr)),
            CALL(CopyToFolderSettings(hw.get(), &flag, nullptr, nullptr)), CALL(GetDefualtGamma(hw.get(), nullptr)),
        }},
        {E_INVALIDARG, {CALL(GetConfigDetails(nullptr, nullptr, &profile))}},
        // Optional out-values (every text goes out through one helper) and null hardware names.
        {S_OK, {
            CALL(CopyToFolderSettings(hw.get(), &flag, nullptr, &n)), CALL(SetActiveHardware(GUID{}, nullptr)),
            CALL(UIInterfaceStartupSettings(hw.get(), &mode, &mode, nullptr)),
            CALL(StoreCalibrationData(nullptr, 1, 4, table)),
        }},
    };
    for (const auto& [expected, calls] : cases) {
        for (const Call& call : calls) EXPECT_EQ(call.run(config_.get()), expected) << call.text;
    }
}

}  // namespace
}  // namespace kstest
