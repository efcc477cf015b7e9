// The settings root, its backup tree and the restore between them.
#include <algorithm>

#include "support/ks_test.h"

namespace kstest {
namespace {

class SettingsTreeTest : public StoreTest {
protected:
    // A tree with every registry type the store writes, at several depths.
    static void FillSample(const std::string& top) {
        SetString(top, "Top", "top text");
        const BYTE table[] = {0, 1, 2, 0xFF, 0x80};
        SetValue(top + "\\Scanner A\\CalibrationProfiles", "Gamma - 3", REG_BINARY, table, sizeof(table));
        SetDword(top + "\\Scanner A\\ScanProfiles\\*P1*", "Flags", 3);
        SetValue(top + "\\Scanner A\\ScanProfiles\\*P1*\\Deep\\Deeper", "", REG_EXPAND_SZ, "%X%", 4);
        CreateKeyPath(top + "\\Empty key");
    }
};

TEST_F(SettingsTreeTest, CreationRestoresOnlyAMissingRootFromTheBackupAtEveryDepthWithTypes) {
    Ref<IKeystrelConfig> config = NewConfig();
    config.reset();
    EXPECT_FALSE(KeyExists(kRoot)) << "with both trees missing neither is created";
    EXPECT_FALSE(KeyExists(kBackup));

    FillSample(kBackup);
    config = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));

    DeleteKeyTree(kRoot);
    SetDword(kRoot, "Only", 1);
    Ref<IKeystrelConfig> second = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), std::vector<std::string>{"|Only|4|01000000"}) << "a present root is left alone";
}

TEST_F(SettingsTreeTest, EveryReleaseMergesTheRootIntoTheBackupWithoutDeletingExtraKeys) {
    FillSample(kRoot);
    SetDword(kBackup, "Top", 99);  // overwritten, its type changing to REG_SZ
    SetString(std::string(kBackup) + "\\Old scanner", "Keep", "me");
    Ref<IKeystrelConfig> first = NewConfig(), second = NewConfig();
    first.reset();
    EXPECT_EQ(GetString(kBackup, "Top"), "top text");
    EXPECT_EQ(GetString(std::string(kBackup) + "\\Old scanner", "Keep"), "me");
    const auto backup = DumpTree(kBackup);
    for (const std::string& line : DumpTree(kRoot))
        EXPECT_NE(std::find(backup.begin(), backup.end(), line), backup.end()) << line;

    SetDword(kRoot, "N", 2);
    second.reset();
    EXPECT_EQ(GetDword(kBackup, "N"), 2u) << "not only the last object takes a backup";
}

TEST_F(SettingsTreeTest, LongNamesAndValuesLargerThanTheCopyBuffersAreCopiedWhole) {
    const std::string longName(259, 'n'), longerName(300, 'm');
    std::vector<BYTE> exact(1040), huge(70000);
    for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<BYTE>(i * 7);
    for (size_t i = 0; i < exact.size(); ++i) exact[i] = static_cast<BYTE>(i);
    const std::string key = std::string(kBackup) + "\\Scanner\\CalibrationProfiles";
    SetValue(key, "A before", REG_DWORD, "\1\0\0\0", 4);
    SetValue(key, longName.c_str(), REG_BINARY, exact.data(), static_cast<DWORD>(exact.size()));
    SetValue(key, longerName.c_str(), REG_SZ, "x", 2);
    SetValue(key, "Gamma - 2", REG_BINARY, huge.data(), static_cast<DWORD>(huge.size()));
    SetValue(key, "Z after", REG_DWORD, "\2\0\0\0", 4);
    SetDword(key + "\\Sub", "Child", 5);

    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    const std::string rootKey = RootPath("Scanner\\CalibrationProfiles");
    EXPECT_EQ(GetValue(rootKey, "Gamma - 2")->data, huge);
    EXPECT_EQ(GetDword(rootKey + "\\Sub", "Child"), 5u);
}

}  // namespace
}  // namespace kstest
