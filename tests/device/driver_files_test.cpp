// Driver settings files: the per-user copies of the ISIS and TWAIN templates, and the saved modes
// of the user interface's profiles.
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "device_test_util.h"

namespace kstest {
namespace {

const std::string kIsisBytes("isis template\r\n\0\x01\xFF[Scanner]\r\n", 29);
const std::string kTwainBytes("twain\0template", 14);

class DriverFilesTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        profiles_ = DllFolder() + "\\Profiles";
        createdProfiles_ = CreateDirectoryA(profiles_.c_str(), nullptr) != 0;
        copies_ = ShellFolder(CSIDL_APPDATA) + "\\Keystrel 4.0";
        hadCopies_ = DirectoryExists(copies_);
        existing_ = FileNames(copies_);
    }
    void TearDown() override {
        for (const std::string& path : templates_) DeleteFileA(path.c_str());
        if (createdProfiles_) RemoveDirectoryA(profiles_.c_str());
        for (const std::string& name : NewCopies()) DeleteFileA((copies_ + "\\" + name).c_str());
        if (!hadCopies_) RemoveDirectoryA(copies_.c_str());
        StoreTest::TearDown();
    }

    std::string TemplatePath(const std::string& hw, const char* extension) const {
        return profiles_ + "\\" + hw + extension;
    }
    void WriteTemplate(const std::string& hw, const char* extension, const std::string& bytes) {
        templates_.push_back(TemplatePath(hw, extension));
        WriteFileBytes(templates_.back(), bytes);
    }
    // Files that appeared in the copies folder since the test began.
    std::vector<std::string> NewCopies() const {
        std::vector<std::string> now = FileNames(copies_), added;
        std::set_difference(now.begin(), now.end(), existing_.begin(), existing_.end(), std::back_inserter(added));
        return added;
    }

    struct Startup {
        HRESULT hr;
        short scanmode;
        short devicemode;
        std::string file;  // "<untouched>" when nothing was handed out
    };
    static Startup StartUp(IKeystrelConfig* config, const char* hw) {
        Startup s{E_UNEXPECTED, -77, -77, "<untouched>"};
        BSTR file = nullptr;
        s.hr = config->UIInterfaceStartupSettings(Bstr(hw).get(), &s.scanmode, &s.devicemode, &file);
        if (file != nullptr) {
            Bstr owned;
            *owned.put() = file;
            s.file = owned.Ansi();
        }
        return s;
    }
    static std::string Twain(IKeystrelConfig* config, const char* hw) {
        Bstr file;
        EXPECT_EQ(config->GetTwainConfigurationFile(Bstr(hw).get(), file.put()), S_OK);
        EXPECT_NE(file.get(), nullptr);
        return file.Ansi();
    }
    static std::string ProfileKey(const std::string& profile) { return RootPath("UIInterfaceProfiles\\" + profile); }

    // The name must be "K" + an upper-case GUID without braces + "S.ini", in the copies folder.
    void ExpectGeneratedName(const std::string& path) const {
        ASSERT_EQ(path.rfind('\\'), copies_.size()) << path;
        EXPECT_EQ(path.substr(0, copies_.size()), copies_);
        std::string name = path.substr(copies_.size() + 1);
        ASSERT_EQ(name.size(), 42u) << name;
        EXPECT_EQ(name.front(), 'K');
        EXPECT_EQ(name.substr(37), "S.ini");
        for (size_t i = 1; i < 37; ++i) {
            if (i == 9 || i == 14 || i == 19 || i == 24) {
                EXPECT_EQ(name[i], '-') << name;
            } else {
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(name[i])) && !std::islower(name[i])) << name;
            }
        }
    }

    std::string profiles_;
    std::string copies_;
    bool createdProfiles_ = false;
    bool hadCopies_ = false;
    std::vector<std::string> existing_;
    std::vector<std::string> templates_;
};

TEST_F(DriverFilesTest, FirstStartupCreatesTheProfileKeyWithDefaultsAndAnIsisCopy) {
    WriteTemplate("IsisScanner", ".isis", kIsisBytes);
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Desk").get()), S_OK);

    Startup s = StartUp(config.get(), "IsisScanner");
    EXPECT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.scanmode, 2);
    EXPECT_EQ(s.devicemode, 1);
    ExpectGeneratedName(s.file);
    EXPECT_EQ(ReadFileBytes(s.file), kIsisBytes);
    EXPECT_EQ(GetString(ProfileKey("Desk"), "IniFile"), s.file);
    EXPECT_EQ(ValueNames(ProfileKey("Desk")), std::vector<std::string>{"IniFile"}) << "the modes are not written";
    EXPECT_EQ(NewCopies().size(), 1u);

    // Once provisioned, the recorded path is returned as it is, even when the file is gone.
    EXPECT_EQ(StartUp(config.get(), "IsisScanner").file, s.file);
    EXPECT_EQ(NewCopies().size(), 1u);
    ASSERT_TRUE(DeleteFileA(s.file.c_str()));
    EXPECT_EQ(StartUp(config.get(), "IsisScanner").file, s.file);
    EXPECT_TRUE(NewCopies().empty());
}

TEST_F(DriverFilesTest, SavedModesAreSignExtendedAndReadBackThroughTheSentinel) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Modes").get()), S_OK);
    ASSERT_EQ(StartUp(config.get(), "AnyScanner").hr, S_OK);  // makes the key

    const struct {
        short scan, device;
        DWORD storedScan, storedDevice;
        short readScan, readDevice;
    } saves[] = {
        {5, 3, 5, 3, 5, 3},
        {-1, -32768, 0xFFFFFFFF, 0xFFFF8000, -1, -32768},
        {99, 99, 99, 99, 2, 1},  // the read-back sentinel cannot be told from "never saved"
        {0, 32767, 0, 32767, 0, 32767},
    };
    for (const auto& c : saves) {
        SCOPED_TRACE(c.scan);
        EXPECT_EQ(config->UIInterfaceSaveSettings(c.scan, c.device), S_OK);
        EXPECT_EQ(GetValue(ProfileKey("Modes"), "ScanMode"),
                  (RegValue{REG_DWORD, {static_cast<BYTE>(c.storedScan), static_cast<BYTE>(c.storedScan >> 8),
                                        static_cast<BYTE>(c.storedScan >> 16), static_cast<BYTE>(c.storedScan >> 24)}}));
        EXPECT_EQ(GetDword(ProfileKey("Modes"), "DeviceMode"), c.storedDevice);
        Startup s = StartUp(config.get(), "AnyScanner");
        EXPECT_EQ(s.scanmode, c.readScan);
        EXPECT_EQ(s.devicemode, c.readDevice);
    }
}

TEST_F(DriverFilesTest, StoredModesOfOtherTypesAndSizes) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Odd").get()), S_OK);
    const struct {
        const char* what;
        DWORD type;
        std::string bytes;
        short expected;  // scan mode; the same bytes as device mode give the same, or 1 for the default
        bool isDefault;
    } cases[] = {
        {"low 16 bits of a larger number", REG_DWORD, std::string("\x45\x23\x01\x00", 4), 0x2345, false},
        {"2-byte binary over the sentinel", REG_BINARY, std::string("\x05\x00", 2), 5, false},
        {"1 byte over the sentinel", REG_BINARY, std::string("\x07", 1), 0x07, false},
        {"8 bytes do not fit", REG_QWORD, std::string("\x05\0\0\0\0\0\0\0", 8), 2, true},
        {"99 as text bytes", REG_SZ, std::string("c\0", 2), 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetValue(ProfileKey("Odd"), "ScanMode", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        SetValue(ProfileKey("Odd"), "DeviceMode", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        Startup s = StartUp(config.get(), "AnyScanner");
        EXPECT_EQ(s.scanmode, c.expected);
        EXPECT_EQ(s.devicemode, c.isDefault ? 1 : c.expected);
    }
}

TEST_F(DriverFilesTest, SaveBeforeStartupCreatesNothing) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Fresh").get()), S_OK);
    EXPECT_EQ(config->UIInterfaceSaveSettings(4, 4), S_OK);
    EXPECT_FALSE(KeyExists(ProfileKey("Fresh")));
    EXPECT_TRUE(NewCopies().empty());
}

TEST_F(DriverFilesTest, NullModePointersAreRejectedAndANullFileStillProvisions) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Nulls").get()), S_OK);
    short mode = -5;
    BSTR file = nullptr;
    EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr("S").get(), nullptr, &mode, &file), E_POINTER);
    EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr("S").get(), &mode, nullptr, &file), E_POINTER);
    EXPECT_EQ(mode, -5);
    EXPECT_EQ(file, nullptr);
    EXPECT_FALSE(KeyExists(ProfileKey("Nulls")));

    short scan = 0, device = 0;
    EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr("S").get(), &scan, &device, nullptr), S_OK);
    EXPECT_EQ(scan, 2);
    EXPECT_EQ(device, 1);
    std::optional<std::string> recorded = GetString(ProfileKey("Nulls"), "IniFile");
    ASSERT_TRUE(recorded);
    ExpectGeneratedName(*recorded);

    EXPECT_EQ(config->GetTwainConfigurationFile(Bstr("S").get(), nullptr), S_OK);
    EXPECT_TRUE(GetString(RootPath("S\\TwainSettings"), "IniFile"));
}

TEST_F(DriverFilesTest, TwainFileIsProvisionedOncePerScanner) {
    WriteTemplate("TwainScanner", ".twain", kTwainBytes);
    WriteTemplate("TwainScanner", ".isis", kIsisBytes);  // must not be the one copied
    Ref<IKeystrelConfig> config = NewConfig();
    std::string file = Twain(config.get(), "TwainScanner");
    ExpectGeneratedName(file);
    EXPECT_EQ(ReadFileBytes(file), kTwainBytes);
    EXPECT_EQ(GetValue(RootPath("TwainScanner\\TwainSettings"), "IniFile"),
              (RegValue{REG_SZ, std::vector<BYTE>(file.c_str(), file.c_str() + file.size() + 1)}));
    EXPECT_EQ(Twain(NewConfig().get(), "TwainScanner"), file);
    EXPECT_EQ(NewCopies().size(), 1u);

    // Without a template the path is recorded and returned all the same, but no file is made.
    std::string missing = Twain(config.get(), "NoTemplateScanner");
    ExpectGeneratedName(missing);
    EXPECT_NE(missing, file);
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ(GetString(RootPath("NoTemplateScanner\\TwainSettings"), "IniFile"), missing);
    EXPECT_EQ(Twain(config.get(), "NoTemplateScanner"), missing);
}

TEST_F(DriverFilesTest, EachInterfaceProfileGetsItsOwnCopyChosenByTheFirstHardwareName) {
    WriteTemplate("First", ".isis", "first scanner");
    WriteTemplate("Second", ".isis", "second scanner");
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Left").get()), S_OK);
    std::string left = StartUp(config.get(), "First").file;
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Right").get()), S_OK);
    std::string right = StartUp(config.get(), "First").file;
    EXPECT_NE(left, right);
    EXPECT_EQ(ReadFileBytes(left), "first scanner");
    EXPECT_EQ(ReadFileBytes(right), "first scanner");

    // The file belongs to the profile: another scanner's name does not change it.
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Left").get()), S_OK);
    EXPECT_EQ(StartUp(config.get(), "Second").file, left);
    EXPECT_EQ(ReadFileBytes(left), "first scanner");
    EXPECT_EQ(NewCopies().size(), 2u);

    // Profile names are per object.
    Ref<IKeystrelConfig> other = NewConfig();
    ASSERT_EQ(other->SetUIInterfaceProfile(Bstr("Right").get()), S_OK);
    EXPECT_EQ(StartUp(other.get(), "Second").file, right);
}

TEST_F(DriverFilesTest, UnusableIniFileCountsAsAbsent) {
    const std::string tooLong = "C:\\" + std::string(257, 'f');  // 260 characters
    const struct {
        const char* what;
        DWORD type;
        std::string bytes;
    } cases[] = {
        {"empty", REG_SZ, std::string(1, '\0')},
        {"number", REG_DWORD, std::string("\x01\x02\x03\x04", 4)},
        {"binary text", REG_BINARY, std::string("C:\\a.ini\0", 9)},
        {"260 characters", REG_SZ, tooLong + '\0'},
    };
    Ref<IKeystrelConfig> config = NewConfig();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetValue(RootPath("Odd\\TwainSettings"), "IniFile", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        std::string file = Twain(config.get(), "Odd");
        ExpectGeneratedName(file);
        EXPECT_EQ(GetString(RootPath("Odd\\TwainSettings"), "IniFile"), file);
    }
    // The longest path that fits is taken as it is.
    const std::string longest = "C:\\" + std::string(256, 'f');
    SetString(RootPath("Odd\\TwainSettings"), "IniFile", longest);
    EXPECT_EQ(Twain(config.get(), "Odd"), longest);
}

TEST_F(DriverFilesTest, AppDataFolderTooLongForACopyGivesTheTemplatePath) {
    // "\Keystrel 4.0\" + 42-character name = 56 more characters than the folder.
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Deep").get()), S_OK);
    {
        DeepFolder appData(204);
        ShellFolderOverride override("AppData", appData.path());
        EXPECT_EQ(Twain(config.get(), "DeepScanner"), TemplatePath("DeepScanner", ".twain"));
        EXPECT_FALSE(GetString(RootPath("DeepScanner\\TwainSettings"), "IniFile"));
        EXPECT_EQ(StartUp(config.get(), "DeepScanner").file, TemplatePath("DeepScanner", ".isis"));
        EXPECT_FALSE(GetString(ProfileKey("Deep"), "IniFile"));
        EXPECT_FALSE(DirectoryExists(appData.path() + "\\Keystrel 4.0"));
    }
    {
        DeepFolder appData(203);
        ShellFolderOverride override("AppData", appData.path());
        std::string file = Twain(config.get(), "DeepScanner");
        EXPECT_EQ(file.size(), 259u);
        EXPECT_EQ(GetString(RootPath("DeepScanner\\TwainSettings"), "IniFile"), file);
        RemoveDirectoryA((appData.path() + "\\Keystrel 4.0").c_str());
    }
}

}  // namespace
}  // namespace kstest
