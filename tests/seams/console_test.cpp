// The console user's hive as the second source of calibration tables. The platform's answer
// cannot be steered under test, so the store's one seam names a test user whose keys the test
// writes below HKEY_USERS. This executable links the store itself to reach that seam.
#include <windows.h>
#include <sddl.h>

#include <optional>

#include "calibration/console_user.h"
#include "server/config_object.h"
#include "core/module.h"
#include "support/calibration_fixture.h"

namespace kstest {
namespace {

constexpr const char* kSid = "S-1-5-21-1000-2000-3000-1999";
using Sid = std::optional<std::string>;

std::string ConsolePath(const std::string& below) { return std::string(kSid) + "\\" + RootPath(below); }

// Grants everyone read access only to a device key and its tables, so that read-write opens fail.
void MakeReadOnly(const std::string& device) {
    ks::UniqueLocal descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                     descriptor.put(), nullptr));
    for (const std::string& path : {device, device + "\\CalibrationProfiles"}) {
        ks::UniqueHKey key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
        EXPECT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get()), ERROR_SUCCESS);
        ASSERT_NE(RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_READ | KEY_WRITE, key.put()), ERROR_SUCCESS);
    }
}

class ConsoleUserTest : public CalibrationFixture {
protected:
    void SetUp() override {
        CalibrationFixture::SetUp();
        // An object of the store linked into this executable, which the seam reaches.
        ks::g_module.SetInstance(GetModuleHandle(nullptr));
        ASSERT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config_.put_void()), S_OK);
    }
    void TearDown() override {
        ks::g_consoleUserSid = ks::QueryConsoleUserSid;
        DeleteKeyTree(kSid, HKEY_USERS);
        CalibrationFixture::TearDown();
    }
};

// The console user's table (its number made current) is read, with KEY_READ only, when the own
// hive lacks the device key; every miss falls through to the default profile, whose table is {0D 0E}.
TEST_F(ConsoleUserTest, ConsoleTableIsReadOnlyWithoutOwnDeviceKeyAndNeverCopied) {
    const Bytes imported = {0xD, 0xE, kUntouched, kUntouched};
    const struct {
        const char* what;
        LONG gamma;
        Bytes table, expected;  // the console user's table under `gamma`, made current; what the read gives
        DWORD type = REG_BINARY;
        bool ownKey = false, readOnly = false, noUser = false;
    } cases[] = {
        {.what = "gamma 0 is a table", .gamma = 0, .table = {9}, .expected = {9, kUntouched, kUntouched, kUntouched}},
        {.what = "own device key present", .gamma = 4, .table = {1}, .expected = imported, .ownKey = true},
        {.what = "no user at the console", .gamma = 4, .table = {1}, .expected = imported, .noUser = true},
        // A fitting value of another type is copied all the same but does not count. (A table too
        // long for the buffer is looked up by the same code as the own hive's, pinned there.)
        {.what = "console table not binary", .gamma = 4, .table = {'a', 'b', 0}, .expected = {0xD, 0xE, 0, kUntouched},
         .type = REG_SZ},
        {.what = "negative number, keys read-only", .gamma = -3, .table = {1, 2, 3}, .expected = {1, 2, 3, kUntouched},
         .readOnly = true},  // last: the keys may resist deletion now
    };
    DefaultProfileFile file("Scanner", "[%ROOT%]\r\n\"CurrentGamma\"=dword:2\r\n[%ROOT%\\CalibrationProfiles]\r\n"
                                       "\"Gamma - 2\"=hex:0d,0e\r\n[%ROOT%\\EventProfiles]\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ks::g_consoleUserSid = c.noUser ? +[] { return Sid(); } : +[] { return Sid(kSid); };
        DeleteKeyTree(kRoot);
        DeleteKeyTree(kSid, HKEY_USERS);
        const std::string name = "Gamma - " + std::to_string(c.gamma);
        SetDword(ConsolePath("Scanner"), "CurrentGamma", static_cast<DWORD>(c.gamma), HKEY_USERS);
        SetValue(ConsolePath("Scanner\\CalibrationProfiles"), name.c_str(), c.type, c.table.data(),
                 static_cast<DWORD>(c.table.size()), HKEY_USERS);
        if (c.ownKey) SetDword(RootPath("Scanner"), "Other", 1);
        if (c.readOnly) MakeReadOnly(ConsolePath("Scanner"));
        Bytes read;
        EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
        EXPECT_EQ(read, c.expected);
        // Nothing is copied from the console user: the own hive holds only what was imported.
        EXPECT_EQ(GetDword(RootPath("Scanner"), "CurrentGamma"),
                  c.expected[0] == 0xD ? std::optional<DWORD>(2) : std::nullopt);
    }
}

// The real chain, unreplaced: the platform's console session runs under the caller's own account
// here, so the answer must be the SID of this process's user.
TEST(ConsoleUserChain, AnswersTheSidOfTheUserAtTheConsole) {
    ks::UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    BYTE user[256];
    DWORD length = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &length));
    LPSTR own = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &own));
    ks::UniqueLocal owner(own);
    EXPECT_EQ(ks::QueryConsoleUserSid(), Sid(own));
}

}  // namespace
}  // namespace kstest
