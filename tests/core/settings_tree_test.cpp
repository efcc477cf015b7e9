// The settings root, its backup tree and the restore between them.
#include <algorithm>

#include "support/ks_test.h"

namespace kstest {
namespace {

class SettingsTreeTest : public StoreTest {
protected:
    // Every registry type the store writes, at several depths; names and values at and past the copy
    // buffers (259 characters, 1040 bytes), with values on both sides: none may end the value phase.
    static void FillSample(const std::string& top) {
        std::vector<BYTE> huge(70000);
        for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<BYTE>(i * 7);
        const std::string key = top + "\\Scanner A\\CalibrationProfiles";
        SetValue(key, "A before", REG_DWORD, "\1\0\0\0", 4);
        SetValue(key, std::string(259, 'n').c_str(), REG_BINARY, huge.data(), 1040);
        SetValue(key, std::string(300, 'm').c_str(), REG_SZ, "x", 2);
        SetValue(key, "Gamma - 2", REG_BINARY, huge.data(), static_cast<DWORD>(huge.size()));
        SetValue(key, "Z after", REG_DWORD, "\2\0\0\0", 4);
        SetString(top, "Top", "top text");
        SetValue(top + "\\Scanner A\\ScanProfiles\\*P1*\\Deep\\Deeper", "", REG_EXPAND_SZ, "%X%", 4);
        CreateKeyPath(top + "\\Empty key");
    }
};

TEST_F(SettingsTreeTest, CreationRestoresOnlyAMissingRootFromTheBackupAtEveryDepthWithTypes) {
    NewConfig();  // created and released
    EXPECT_FALSE(KeyExists(kRoot)) << "with both trees missing neither is created";
    EXPECT_FALSE(KeyExists(kBackup));
    FillSample(kBackup);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    DeleteKeyTree(kRoot);
    SetDword(kRoot, "Only", 1);
    Ref<IKeystrelConfig> second = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), std::vector<std::string>{"|Only|4|01000000"}) << "a present root is left alone";
}

TEST_F(SettingsTreeTest, EveryReleaseMergesTheRootIntoTheBackupWithoutDeletingExtraKeys) {
    FillSample(kRoot);
    SetDword(kBackup, "Top", 99);  // overwritten, its type changing to REG_SZ (checked below)
    SetString(std::string(kBackup) + "\\Old scanner", "Keep", "me");
    Ref<IKeystrelConfig> first = NewConfig(), second = NewConfig();
    first.reset();
    EXPECT_EQ(GetString(std::string(kBackup) + "\\Old scanner", "Keep"), "me");
    const auto backup = DumpTree(kBackup);
    for (const std::string& line : DumpTree(kRoot))
        EXPECT_NE(std::find(backup.begin(), backup.end(), line), backup.end()) << line.substr(0, 80);
    SetDword(kRoot, "N", 2);
    second.reset();
    EXPECT_EQ(GetDword(kBackup, "N"), 2u) << "not only the last object takes a backup";
}

}  // namespace
}  // namespace kstest
