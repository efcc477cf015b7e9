// The console user's hive as the second source of calibration tables. The platform's answer
// cannot be steered under test, so the store's one seam names a test user whose keys the test
// writes below HKEY_USERS. This executable links the store itself to reach that seam.
#include <aclapi.h>

#include <optional>
#include <set>

#include "calibration/console_user.h"
#include "core/config_object.h"
#include "core/module.h"
#include "support/ks_test.h"
#include "support/profile_files.h"

namespace kstest {
namespace {

using Bytes = std::vector<BYTE>;
constexpr BYTE kUntouched = 0xCC;
constexpr const char* kConsoleSid = "S-1-5-21-1000-2000-3000-1999";

std::optional<std::string> TestConsoleUser() { return std::string(kConsoleSid); }
std::optional<std::string> NoConsoleUser() { return std::nullopt; }

// The console user's copy of a path below the settings root.
std::string ConsolePath(const std::string& below) { return std::string(kConsoleSid) + "\\" + RootPath(below); }

class ConsoleUserTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ks::g_module.SetInstance(GetModuleHandle(nullptr));
        ks::g_consoleUserSid = TestConsoleUser;
        DeleteKeyTree(kConsoleSid, HKEY_USERS);
        copiesBefore_ = TemporaryProfileCopies();
        ASSERT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config_.put_void()), S_OK);
    }
    void TearDown() override {
        config_.reset();
        ks::g_consoleUserSid = ks::QueryConsoleUserSid;
        DeleteKeyTree(kConsoleSid, HKEY_USERS);
        EXPECT_EQ(TemporaryProfileCopies(), copiesBefore_) << "a ~KS temporary file was left behind";
        StoreTest::TearDown();
    }

    static void SetConsoleTable(const char* hardware, DWORD gamma, const Bytes& table) {
        SetDword(ConsolePath(hardware), "CurrentGamma", gamma, HKEY_USERS);
        const std::string name = "Gamma - " + std::to_string(static_cast<LONG>(gamma));
        SetValue(ConsolePath(std::string(hardware) + "\\CalibrationProfiles"), name.c_str(), REG_BINARY, table.data(),
                 static_cast<DWORD>(table.size()), HKEY_USERS);
    }

    HRESULT Read(const char* hardware, size_t size, Bytes* out) {
        out->assign(size, kUntouched);
        return config_->GetCalibrationData(Bstr(hardware).get(), static_cast<LONG>(size), out->data());
    }

    Ref<IKeystrelConfig> config_;
    std::set<std::string> copiesBefore_;
};

TEST_F(ConsoleUserTest, MissingOwnDeviceKeyReadsConsoleTableAndCopiesNothing) {
    SetConsoleTable("Scanner", static_cast<DWORD>(-3), {1, 2, 3});
    const std::vector<std::string> consoleBefore = DumpTree(kConsoleSid, HKEY_USERS);
    Bytes read;
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, (Bytes{1, 2, 3, kUntouched}));
    EXPECT_FALSE(KeyExists(RootPath("Scanner")));
    EXPECT_EQ(DumpTree(kConsoleSid, HKEY_USERS), consoleBefore);
}

TEST_F(ConsoleUserTest, ConsoleGammaZeroNamesATableLikeAnyOther) {
    SetValue(ConsolePath("Scanner\\CalibrationProfiles"), "Gamma - 0", REG_BINARY, "\x09", 1, HKEY_USERS);
    CreateKeyPath(ConsolePath("Scanner"), HKEY_USERS);  // device key without "CurrentGamma"
    Bytes read;
    EXPECT_EQ(Read("Scanner", 1, &read), S_OK);
    EXPECT_EQ(read, Bytes{9});
}

TEST_F(ConsoleUserTest, ConsoleIsAskedOnlyWhenOwnHiveLacksTheDeviceKey) {
    SetConsoleTable("Scanner", 4, {1, 2, 3});
    SetDword(RootPath("Scanner"), "Other", 1);  // own device key, no usable table
    Bytes read;
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);  // no default profile: untouched
    EXPECT_EQ(read, Bytes(4, kUntouched));
}

TEST_F(ConsoleUserTest, ConsoleMissesFallThroughToTheDefaultProfile) {
    struct Case {
        const char* what;
        void (*arrange)();
        BYTE third = kUntouched;  // a fitting value of another type has been copied all the same
    };
    const Case cases[] = {
        {"no console user", [] { ks::g_consoleUserSid = NoConsoleUser; }},
        {"no console device key", [] {}},
        {"console tables key missing", [] { SetDword(ConsolePath("Test Scanner"), "CurrentGamma", 4, HKEY_USERS); }},
        {"console table too long", [] { SetConsoleTable("Test Scanner", 4, Bytes(9, 1)); }},
        {"console table not binary",
         [] {
             SetDword(ConsolePath("Test Scanner"), "CurrentGamma", 4, HKEY_USERS);
             SetString(ConsolePath("Test Scanner\\CalibrationProfiles"), "Gamma - 4", "ab", HKEY_USERS);
         },
         0},
    };
    DefaultProfileFile file("Test Scanner",
                            "[%ROOT%]\r\n\"CurrentGamma\"=dword:2\r\n"
                            "[%ROOT%\\CalibrationProfiles]\r\n\"Gamma - 2\"=hex:0d,0e\r\n"
                            "[%ROOT%\\EventProfiles]\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kRoot);
        DeleteKeyTree(kConsoleSid, HKEY_USERS);
        ks::g_consoleUserSid = TestConsoleUser;
        c.arrange();
        Bytes read;
        EXPECT_EQ(Read("Test Scanner", 8, &read), S_OK);
        EXPECT_EQ(read, (Bytes{0xD, 0xE, c.third, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched}));
        EXPECT_EQ(GetDword(RootPath("Test Scanner"), "CurrentGamma"), 2u) << "imported into the own hive";
    }
}

// Grants everyone read access only on a console key, so a read-write open of it fails where the
// platform enforces key security.
void MakeReadOnly(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPLICIT_ACCESS_A access{};
    char everyone[] = "EVERYONE";
    BuildExplicitAccessWithNameA(&access, everyone, KEY_READ, SET_ACCESS, NO_INHERITANCE);
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, &access, nullptr, &acl), ERROR_SUCCESS);
    EXPECT_EQ(SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, acl, nullptr),
              ERROR_SUCCESS);
    LocalFree(acl);
    RegCloseKey(key);
}

TEST_F(ConsoleUserTest, ConsoleKeysAreOpenedForReadingOnly) {
    SetConsoleTable("Scanner", 6, {7, 7});
    MakeReadOnly(ConsolePath("Scanner\\CalibrationProfiles"));
    MakeReadOnly(ConsolePath("Scanner"));
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, ConsolePath("Scanner").c_str(), 0, KEY_READ | KEY_WRITE, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "this platform does not enforce registry key security";
    }
    Bytes read;
    EXPECT_EQ(Read("Scanner", 2, &read), S_OK);
    EXPECT_EQ(read, (Bytes{7, 7}));
}

}  // namespace
}  // namespace kstest
