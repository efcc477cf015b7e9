// The console user's hive as the second source of calibration tables. The platform's answer
// cannot be steered under test, so the store's one seam names a test user whose keys the test
// writes below HKEY_USERS. This executable links the store itself to reach that seam.
#include <windows.h>
#include <sddl.h>

#include <functional>
#include <optional>

#include "calibration/console_user.h"
#include "core/config_object.h"
#include "core/module.h"
#include "support/calibration_fixture.h"

namespace kstest {
namespace {

constexpr const char* kSid = "S-1-5-21-1000-2000-3000-1999";

std::string ConsolePath(const std::string& below) { return std::string(kSid) + "\\" + RootPath(below); }

void SetConsoleTable(LONG gamma, const Bytes& table, DWORD type = REG_BINARY) {
    SetDword(ConsolePath("Scanner"), "CurrentGamma", static_cast<DWORD>(gamma), HKEY_USERS);
    const std::string name = "Gamma - " + std::to_string(gamma);
    SetValue(ConsolePath("Scanner\\CalibrationProfiles"), name.c_str(), type, table.data(),
             static_cast<DWORD>(table.size()), HKEY_USERS);
}

// Grants everyone read access only, so that a read-write open of the key fails.
void MakeReadOnly(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
    RegCloseKey(key);
    LocalFree(descriptor);
    ASSERT_NE(RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
}

class ConsoleUserTest : public CalibrationFixture {
protected:
    void SetUp() override {
        CalibrationFixture::SetUp();
        ks::g_module.SetInstance(GetModuleHandle(nullptr));
        ks::g_consoleUserSid = [] { return std::optional<std::string>(kSid); };
        ASSERT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config_.put_void()), S_OK);
    }
    void TearDown() override {
        config_.reset();
        ks::g_consoleUserSid = ks::QueryConsoleUserSid;
        DeleteKeyTree(kSid, HKEY_USERS);
        CalibrationFixture::TearDown();
    }
};

// The console user's table is read (with KEY_READ only) when the own hive lacks the device key;
// every miss falls through to the default profile, whose table is {0D 0E}.
TEST_F(ConsoleUserTest, ConsoleTableIsReadOnlyWithoutOwnDeviceKeyAndNeverCopied) {
    const Bytes imported = {0xD, 0xE, kUntouched, kUntouched};
    const struct {
        const char* what;
        std::function<void()> arrange;
        Bytes expected;
    } cases[] = {
        {"gamma 0 names a table",
         [] {
             CreateKeyPath(ConsolePath("Scanner"), HKEY_USERS);
             SetValue(ConsolePath("Scanner\\CalibrationProfiles"), "Gamma - 0", REG_BINARY, "\x09", 1, HKEY_USERS);
         },
         {9, kUntouched, kUntouched, kUntouched}},
        {"own device key present",
         [] {
             SetConsoleTable(4, {1});
             SetDword(RootPath("Scanner"), "Other", 1);
         },
         imported},
        {"no console device key", [] {}, imported},
        {"console table too long", [] { SetConsoleTable(4, Bytes(5, 1)); }, imported},
        // A fitting value of another type is copied all the same but does not count.
        {"console table not binary", [] { SetConsoleTable(4, {'a', 'b', 0}, REG_SZ); }, {0xD, 0xE, 0, kUntouched}},
        {"negative number, keys read-only",  // last: the keys may resist deletion now
         [] {
             SetConsoleTable(-3, {1, 2, 3});
             MakeReadOnly(ConsolePath("Scanner"));
             MakeReadOnly(ConsolePath("Scanner\\CalibrationProfiles"));
         },
         {1, 2, 3, kUntouched}},
    };
    DefaultProfileFile file("Scanner", "[%ROOT%]\r\n\"CurrentGamma\"=dword:2\r\n[%ROOT%\\CalibrationProfiles]\r\n"
                                       "\"Gamma - 2\"=hex:0d,0e\r\n[%ROOT%\\EventProfiles]\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kRoot);
        DeleteKeyTree(kSid, HKEY_USERS);
        c.arrange();
        const std::vector<std::string> consoleBefore = DumpTree(kSid, HKEY_USERS);
        Bytes read;
        EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
        EXPECT_EQ(read, c.expected);
        EXPECT_EQ(DumpTree(kSid, HKEY_USERS), consoleBefore);
        // Nothing is copied from the console user: the own hive holds only what was imported.
        EXPECT_EQ(GetDword(RootPath("Scanner"), "CurrentGamma"),
                  c.expected[0] == 0xD ? std::optional<DWORD>(2) : std::nullopt);
    }
}

// The real chain, unreplaced: the platform's console session runs under the caller's own account
// here, so the answer must be the SID of this process's user.
TEST(ConsoleUserChain, AnswersTheSidOfTheUserAtTheConsole) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE user[256];
    DWORD length = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof(user), &length));
    CloseHandle(token);
    LPSTR own = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &own));
    const std::string expected(own);
    LocalFree(own);
    EXPECT_EQ(ks::QueryConsoleUserSid(), std::optional<std::string>(expected));
}

}  // namespace
}  // namespace kstest
