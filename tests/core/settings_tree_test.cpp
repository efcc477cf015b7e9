// The settings root, its backup tree and the restore between them.
#include "support/ks_test.h"

namespace kstest {
namespace {

class SettingsTreeTest : public StoreTest {
protected:
    // A tree with every registry type the store writes, at several depths.
    static void FillSample(const std::string& top) {
        SetString(top, "Top", "top text");
        SetDword(top + "\\Scanner A", "CurrentGamma", 3);
        const BYTE table[] = {0, 1, 2, 0xFF, 0x80};
        SetValue(top + "\\Scanner A\\CalibrationProfiles", "Gamma - 3", REG_BINARY, table, sizeof(table));
        SetString(top + "\\Scanner A\\ScanProfiles\\*P1*", "Name", "Profile one");
        SetValue(top + "\\Scanner A\\ScanProfiles\\*P1*\\Deep\\Deeper", "", REG_EXPAND_SZ, "%X%", 4);
        CreateKeyPath(top + "\\Empty key");
    }

    static std::vector<std::string> TreeOf(const char* top) { return DumpTree(top); }
};

TEST_F(SettingsTreeTest, CreationRestoresMissingRootFromBackupAtEveryDepthWithTypes) {
    FillSample(kBackup);
    auto expected = TreeOf(kBackup);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(TreeOf(kRoot), expected);
}

TEST_F(SettingsTreeTest, PresentRootIsLeftAloneWhateverTheBackupHolds) {
    FillSample(kBackup);
    SetDword(kRoot, "Only", 1);
    Ref<IKeystrelConfig> config = NewConfig();
    config.reset();
    EXPECT_EQ(TreeOf(kRoot), std::vector<std::string>{"|Only|4|01000000"});
}

TEST_F(SettingsTreeTest, WithBothTreesMissingNeitherIsCreated) {
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_FALSE(KeyExists(kRoot));
    config.reset();
    EXPECT_FALSE(KeyExists(kRoot));
    EXPECT_FALSE(KeyExists(kBackup));
}

TEST_F(SettingsTreeTest, ReleaseMergesRootIntoBackupWithoutDeletingExtraKeys) {
    FillSample(kRoot);
    SetDword(kBackup, "Top", 99);                       // overwritten, type changes to REG_SZ
    SetString(kBackup + std::string("\\Old scanner"), "Keep", "me");  // exists only in the backup
    Ref<IKeystrelConfig> config = NewConfig();
    config.reset();
    EXPECT_EQ(GetString(kBackup, "Top"), "top text");
    EXPECT_EQ(GetString(kBackup + std::string("\\Old scanner"), "Keep"), "me");
    auto backup = TreeOf(kBackup);
    for (const std::string& line : TreeOf(kRoot)) {
        EXPECT_NE(std::find(backup.begin(), backup.end(), line), backup.end()) << line;
    }
}

TEST_F(SettingsTreeTest, DeletedProfileSurvivesInBackupAndComesBackOnRestore) {
    FillSample(kRoot);
    Ref<IKeystrelConfig> config = NewConfig();
    config.reset();
    DeleteKeyTree(RootPath("Scanner A\\ScanProfiles\\*P1*"));
    config = NewConfig();
    config.reset();
    EXPECT_EQ(GetString(kBackup + std::string("\\Scanner A\\ScanProfiles\\*P1*"), "Name"), "Profile one");
    DeleteKeyTree(kRoot);
    config = NewConfig();
    EXPECT_EQ(GetString(RootPath("Scanner A\\ScanProfiles\\*P1*"), "Name"), "Profile one");
}

TEST_F(SettingsTreeTest, EveryDestructionTakesABackup) {
    SetDword(kRoot, "N", 1);
    Ref<IKeystrelConfig> first = NewConfig();
    Ref<IKeystrelConfig> second = NewConfig();
    first.reset();
    EXPECT_EQ(GetDword(kBackup, "N"), 1u);
    SetDword(kRoot, "N", 2);
    second.reset();
    EXPECT_EQ(GetDword(kBackup, "N"), 2u);
}

TEST_F(SettingsTreeTest, LongNamesAndValuesLargerThanTheCopyBuffersAreCopiedWhole) {
    std::string longName(259, 'n');
    std::string longerName(300, 'm');
    std::vector<BYTE> exact(1040), large(5000), huge(70000);
    for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<BYTE>(i * 7);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<BYTE>(i * 13);
    for (size_t i = 0; i < exact.size(); ++i) exact[i] = static_cast<BYTE>(i);
    std::string key = std::string(kBackup) + "\\Scanner\\CalibrationProfiles";
    SetValue(key, "A before", REG_DWORD, "\1\0\0\0", 4);
    SetValue(key, longName.c_str(), REG_BINARY, exact.data(), static_cast<DWORD>(exact.size()));
    SetValue(key, "Gamma - 1", REG_BINARY, large.data(), static_cast<DWORD>(large.size()));
    SetValue(key, longerName.c_str(), REG_SZ, "x", 2);
    SetValue(key, "Gamma - 2", REG_BINARY, huge.data(), static_cast<DWORD>(huge.size()));
    SetValue(key, "Z after", REG_DWORD, "\2\0\0\0", 4);
    SetDword(std::string(kBackup) + "\\Scanner\\CalibrationProfiles\\Sub", "Child", 5);

    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(TreeOf(kRoot), TreeOf(kBackup));
    std::string rootKey = RootPath("Scanner\\CalibrationProfiles");
    EXPECT_EQ(GetValue(rootKey, "Gamma - 2")->data, huge);
    EXPECT_EQ(GetValue(rootKey, longName.c_str())->data, exact);
    EXPECT_EQ(GetDword(rootKey + "\\Sub", "Child"), 5u);
}

}  // namespace
}  // namespace kstest
