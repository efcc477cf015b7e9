// Device application settings: the copy-to-folder values of a scanner and the per-user copies of
// its driver settings templates, in the shell's real per-user folders (moved where a test needs).
#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>

#include "support/ks_test.h"

namespace kstest {
namespace {

constexpr const char* kHw = "CopyScanner";
constexpr LONG kKept = 0x55555555;  // what the caller put in an out-value
const std::string kIsisBytes("isis template\r\n\0\x01\xFF[Scanner]\r\n", 29);
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}
bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
RegValue Dword(DWORD v) { return {REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}}; }
RegValue Sz(const std::string& text) { return {REG_SZ, {text.c_str(), text.c_str() + text.size() + 1}}; }

// A path of `length` characters below the temporary folder.
std::string DeepPath(size_t length) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string path = temp + std::string("ksdeep") + std::to_string(GetCurrentProcessId());
    while (length - path.size() > 61) path += "\\" + std::string(59, 'd');
    return path + "\\" + std::string(length - path.size() - 1, 'd');
}

// Points one of the user's shell folders at `folder` for the object's life; the folders it had to
// create are removed again.
class MovedShellFolder {
public:
    MovedShellFolder(const char* name, const std::string& folder)
        : name_(name), folder_(folder), existing_(folder), old_(GetValue(kShellFolders, name)) {
        while (!Exists(existing_)) existing_.resize(existing_.rfind('\\'));
        SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
        SetValue(kShellFolders, name, REG_EXPAND_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
    }
    ~MovedShellFolder() {
        if (old_) SetValue(kShellFolders, name_, old_->type, old_->data.data(), static_cast<DWORD>(old_->data.size()));
        if (!old_) RegDeleteKeyValueA(HKEY_CURRENT_USER, kShellFolders, name_);
        for (std::string p = folder_; p.size() > existing_.size(); p.resize(p.rfind('\\'))) RemoveDirectoryA(p.c_str());
    }

private:
    const char* name_;
    std::string folder_, existing_;
    std::optional<RegValue> old_;
};

class DeviceTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        CreateDirectoryA(profiles_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string& path : files_) DeleteFileA(path.c_str());
        RemoveDirectoryA(profiles_.c_str());  // these two only when empty
        RemoveDirectoryA(documents_.c_str());
        StoreTest::TearDown();
    }

    struct Copy {
        HRESULT hr;
        LONG flags = kKept, count = kKept;
        std::string path;
    };
    static Copy Read() {
        Copy r;
        Bstr path;
        r.hr = NewConfig()->CopyToFolderSettings(Bstr(kHw).get(), reinterpret_cast<_KSCPYFLAG*>(&r.flags), path.put(),
                                                 &r.count);
        r.path = path.get() != nullptr ? path.Ansi() : "<untouched>";
        return r;
    }
    struct Startup {
        short scan = -77, device = -77;
        std::string file;
    };
    Startup StartUp(IKeystrelConfig* config, const char* hw) {
        Startup s;
        Bstr file;
        EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr(hw).get(), &s.scan, &s.device, file.put()), S_OK);
        files_.push_back(s.file = file.get() != nullptr ? file.Ansi() : "<untouched>");
        return s;
    }
    std::string Twain(IKeystrelConfig* config, const char* hw) {
        Bstr file;
        EXPECT_EQ(config->GetTwainConfigurationFile(Bstr(hw).get(), file.put()), S_OK);
        files_.push_back(file.Ansi());
        return files_.back();
    }
    void WriteTemplate(const std::string& name, const std::string& bytes) {
        files_.push_back(profiles_ + "\\" + name);
        std::ofstream(files_.back(), std::ios::binary) << bytes;
    }
    bool IsNewCopyName(const std::string& path) const {  // <copies>\K<upper-case GUID, no braces>S.ini
        static const std::regex name("K[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}S\\.ini");
        return path.rfind(copies_ + "\\", 0) == 0 && std::regex_match(path.substr(copies_.size() + 1), name);
    }

    const std::string deviceKey_ = RootPath(kHw);
    const std::string documents_ = ShellFolder(CSIDL_PERSONAL) + "\\My Scanned Documents";
    const std::string copies_ = ShellFolder(CSIDL_APPDATA) + "\\Keystrel 4.0";
    const std::string profiles_ = [] {
        char dll[MAX_PATH] = {};
        GetModuleFileNameA(Dll().module, dll, MAX_PATH);
        return std::string(dll, std::strrchr(dll, '\\')) + "\\Profiles";
    }();
    std::vector<std::string> files_;  // templates and copies, removed after the test
};

// "CopyPath" alone decides: without a readable one, the documents folder's "My Scanned Documents"
// is created and all three values are (re)written; a readable one, even empty, is returned as
// stored with the other two, and nothing is written.
TEST_F(DeviceTest, CopySettingsAreResetOnlyWhenTheCopyPathCannotBeRead) {
    const struct {
        DWORD type;  // REG_NONE: no values at all
        std::string bytes;
        bool readable;
    } cases[] = {
        {REG_NONE, "", false},
        {REG_DWORD, std::string("\x01\0\0\0", 4), false},  {REG_BINARY, std::string("C:\\Scans\0", 9), false},
        {REG_SZ, std::string(260, 'p') + '\0', false},      {REG_SZ, std::string(1, '\0'), true},
        {REG_SZ, std::string(259, 'q') + '\0', true},       {REG_EXPAND_SZ, std::string("%TEMP%\\Scans\0", 13), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        RemoveDirectoryA(documents_.c_str());
        DeleteKeyTree(deviceKey_);
        if (c.type != REG_NONE) {
            SetValue(deviceKey_, "CopyPath", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
            SetDword(deviceKey_, "CopyFlags", 5);
            SetDword(deviceKey_, "CopyCount", 6);
        }
        Copy r = Read();
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.path, c.readable ? c.bytes.substr(0, c.bytes.size() - 1) : documents_);
        EXPECT_EQ(r.flags, c.readable ? 5 : 10);
        EXPECT_EQ(r.count, c.readable ? 6 : 0);
        const RegValue stored{c.type, {c.bytes.begin(), c.bytes.end()}};
        EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), c.readable ? stored : Sz(documents_));
        EXPECT_EQ(GetValue(deviceKey_, "CopyFlags"), Dword(c.readable ? 5 : 10));
        EXPECT_EQ(GetValue(deviceKey_, "CopyCount"), Dword(c.readable ? 6 : 0));
        EXPECT_EQ(Exists(documents_), !c.readable);
    }
}

// Beside a readable path, flags and count are taken as up to 4 bytes of any type straight into the
// out-values.
TEST_F(DeviceTest, FlagsAndCountAreReadWhateverTheirTypeWhenTheyFit) {
    const struct {
        DWORD type;  // REG_NONE: values missing
        std::string bytes;
        LONG expected;
    } cases[] = {
        {REG_NONE, "", kKept}, {REG_BINARY, std::string("\x04\0\0\0", 4), 4}, {REG_BINARY, "\x08", 0x55555508},
        {REG_SZ, std::string("ab\0", 3), 0x55006261}, {REG_QWORD, std::string("\x01\0\0\0\0\0\0\0", 8), kKept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        DeleteKeyTree(deviceKey_);
        SetString(deviceKey_, "CopyPath", "D:\\Scans");
        for (const char* name : {"CopyFlags", "CopyCount"}) {
            if (c.type != REG_NONE) SetValue(deviceKey_, name, c.type, c.bytes.data(), DWORD(c.bytes.size()));
        }
        auto before = DumpTree(deviceKey_);
        Copy r = Read();
        EXPECT_EQ(r.flags, c.expected);
        EXPECT_EQ(r.count, c.expected);
        EXPECT_EQ(DumpTree(deviceKey_), before) << "a readable path means nothing is written";
    }
    // Null flags or count are refused; a null path only means the caller does not want it.
    Ref<IKeystrelConfig> config = NewConfig();
    LONG value = kKept;
    auto* flags = reinterpret_cast<_KSCPYFLAG*>(&value);
    DeleteKeyTree(deviceKey_);
    EXPECT_EQ(config->CopyToFolderSettings(Bstr(kHw).get(), nullptr, nullptr, &value), E_POINTER);
    EXPECT_EQ(config->CopyToFolderSettings(Bstr(kHw).get(), flags, nullptr, nullptr), E_POINTER);
    EXPECT_FALSE(KeyExists(deviceKey_));
    EXPECT_EQ(config->CopyToFolderSettings(Bstr(kHw).get(), flags, nullptr, &value), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), Sz(documents_));
}

TEST_F(DeviceTest, StoredOptionsKeepTheCountWhichAddsInThirtyTwoBits) {
    Ref<IKeystrelConfig> config = NewConfig();
    const struct {
        LONG add;
        DWORD expected;
    } counts[] = {{3, 3}, {-1, 2}, {0x7FFFFFFD, 0x7FFFFFFF}, {1, 0x80000000}, {-1, 0x7FFFFFFF}, {-0x7FFFFFFF, 0}};
    for (const auto& c : counts) {  // from no device key on
        EXPECT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), c.add), S_OK);
        EXPECT_EQ(GetValue(deviceKey_, "CopyCount"), Dword(c.expected)) << c.add;
    }
    SetValue(deviceKey_, "CopyCount", REG_BINARY, "\x07", 1);  // read over zero
    EXPECT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), 1), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyCount"), Dword(8));

    EXPECT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), static_cast<_KSCPYFLAG>(5), Bstr("D:\\Out").get()), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), Sz("D:\\Out"));
    EXPECT_EQ(GetValue(deviceKey_, "CopyFlags"), Dword(5));
    Copy r = Read();
    EXPECT_EQ(r.path, "D:\\Out");
    EXPECT_EQ(r.flags, 5);
    EXPECT_EQ(r.count, 8);
    // Stored unchecked: a null path as the empty text, a long one as it is.
    const std::string longPath = "D:\\" + std::string(300, 'x');
    EXPECT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), KSCPYFLAG_BYTYPE, nullptr), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), Sz(""));
    EXPECT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), KSCPYFLAG_BYWEEK, Bstr(longPath.c_str()).get()), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), Sz(longPath));
}

// The copy folder must fit 259 characters: a documents folder of 239 is refused (nothing written,
// out-values untouched) and 238 just fits; at a drive root no second backslash is added.
TEST_F(DeviceTest, CopyFolderIsMadeInsideTheDocumentsFolderWhenItFits) {
    {
        MovedShellFolder documents("Personal", DeepPath(239));
        RemoveDirectoryA((DeepPath(239) + "\\My Scanned Documents").c_str());  // left by an aborted run
        Copy r = Read();
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.path, "<untouched>");
        EXPECT_EQ(r.flags, kKept);
        EXPECT_EQ(r.count, kKept);
        EXPECT_EQ(ValueNames(deviceKey_), std::vector<std::string>{});
        EXPECT_FALSE(Exists(DeepPath(239) + "\\My Scanned Documents"));
    }
    for (auto [documents, folder] : {std::pair{DeepPath(238), DeepPath(238) + "\\My Scanned Documents"},
                                     std::pair{std::string("C:\\"), std::string("C:\\My Scanned Documents")}}) {
        MovedShellFolder moved("Personal", documents);
        DeleteKeyTree(deviceKey_);
        EXPECT_EQ(Read().path, folder);
        EXPECT_TRUE(Exists(folder));
        RemoveDirectoryA(folder.c_str());
    }
}

// The first start-up under a profile makes its key and a per-user copy of the ISIS template; from
// then on the recorded path is returned as it is, even when the file is gone.
TEST_F(DeviceTest, FirstStartupMakesTheProfileKeyAndCopiesTheIsisTemplateOnce) {
    WriteTemplate("IsisScanner.isis", kIsisBytes);
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Desk").get()), S_OK);
    const Startup s = StartUp(config.get(), "IsisScanner");
    EXPECT_EQ(s.scan, 2);
    EXPECT_EQ(s.device, 1);
    EXPECT_TRUE(IsNewCopyName(s.file)) << s.file;
    EXPECT_EQ(Contents(s.file), kIsisBytes);
    const std::string key = RootPath("UIInterfaceProfiles\\Desk");
    EXPECT_EQ(GetValue(key, "IniFile"), Sz(s.file));
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"IniFile"}) << "the modes are not written";
    ASSERT_TRUE(DeleteFileA(s.file.c_str()));
    EXPECT_EQ(StartUp(config.get(), "IsisScanner").file, s.file);
    EXPECT_FALSE(Exists(s.file));
}

// Modes are saved sign-extended into an existing profile key only, and read back as up to 4 bytes
// of any type over the sentinel 99 (which gives the defaults 2 and 1), taking the low 16 bits.
TEST_F(DeviceTest, ModesAreSavedSignExtendedAndReadBackThroughTheSentinel) {
    Ref<IKeystrelConfig> config = NewConfig();
    const std::string key = RootPath("UIInterfaceProfiles\\Modes");
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Modes").get()), S_OK);
    EXPECT_EQ(config->UIInterfaceSaveSettings(4, 4), S_OK);
    EXPECT_FALSE(KeyExists(key));
    StartUp(config.get(), "AnyScanner");
    const struct {
        short scan, device;
        DWORD storedScan, storedDevice;
        short readScan, readDevice;
    } saves[] = {{5, 3, 5, 3, 5, 3}, {-1, -32768, ~0u, 0xFFFF8000, -1, -32768}, {99, 99, 99, 99, 2, 1}};
    for (const auto& c : saves) {
        EXPECT_EQ(config->UIInterfaceSaveSettings(c.scan, c.device), S_OK);
        EXPECT_EQ(GetValue(key, "ScanMode"), Dword(c.storedScan));
        EXPECT_EQ(GetValue(key, "DeviceMode"), Dword(c.storedDevice));
        const Startup s = StartUp(config.get(), "AnyScanner");
        EXPECT_EQ(s.scan, c.readScan);
        EXPECT_EQ(s.device, c.readDevice);
    }
    const struct {
        DWORD type;
        std::string bytes;
        short scan, device;
    } stored[] = {
        {REG_DWORD, std::string("\x45\x23\x01\x00", 4), 0x2345, 0x2345}, {REG_BINARY, std::string("\x05\0", 2), 5, 5},
        {REG_BINARY, "\x07", 7, 7}, {REG_QWORD, std::string("\x05\0\0\0\0\0\0\0", 8), 2, 1},
        {REG_SZ, std::string("c\0", 2), 2, 1},  // 99 as text bytes
    };
    for (const auto& c : stored) {
        for (const char* name : {"ScanMode", "DeviceMode"}) {
            SetValue(key, name, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        }
        const Startup s = StartUp(config.get(), "AnyScanner");
        EXPECT_EQ(s.scan, c.scan) << c.bytes;
        EXPECT_EQ(s.device, c.device) << c.bytes;
    }
}

TEST_F(DeviceTest, NullModePointersAreRefusedButANullFileStillProvisions) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Nulls").get()), S_OK);
    short mode = -5;
    Bstr file;
    EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr("S").get(), nullptr, &mode, file.put()), E_POINTER);
    EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr("S").get(), &mode, nullptr, file.put()), E_POINTER);
    EXPECT_EQ(mode, -5);
    EXPECT_EQ(file.get(), nullptr);
    EXPECT_FALSE(KeyExists(RootPath("UIInterfaceProfiles")));
    EXPECT_EQ(config->UIInterfaceStartupSettings(Bstr("S").get(), &mode, &mode, nullptr), S_OK);
    files_.push_back(GetString(RootPath("UIInterfaceProfiles\\Nulls"), "IniFile").value_or(""));
    EXPECT_TRUE(IsNewCopyName(files_.back())) << files_.back();
}

TEST_F(DeviceTest, TwainFileIsProvisionedOncePerScannerWithOrWithoutATemplate) {
    const std::string twainBytes("twain\0template", 14);
    WriteTemplate("TwainScanner.twain", twainBytes);
    WriteTemplate("TwainScanner.isis", kIsisBytes);  // not the one to copy
    Ref<IKeystrelConfig> config = NewConfig();
    const std::string file = Twain(config.get(), "TwainScanner");
    EXPECT_TRUE(IsNewCopyName(file)) << file;
    EXPECT_EQ(Contents(file), twainBytes);
    EXPECT_EQ(GetValue(RootPath("TwainScanner\\TwainSettings"), "IniFile"), Sz(file));
    EXPECT_EQ(Twain(NewConfig().get(), "TwainScanner"), file);
    // Without a template the new path is recorded and returned all the same, but no file is made.
    const std::string missing = Twain(config.get(), "NoTemplateScanner");
    EXPECT_TRUE(IsNewCopyName(missing)) << missing;
    EXPECT_FALSE(Exists(missing));
    EXPECT_EQ(GetString(RootPath("NoTemplateScanner\\TwainSettings"), "IniFile"), missing);
}

// The file belongs to the object's interface profile: the hardware name only picks the template
// when the file is first made.
TEST_F(DeviceTest, EachInterfaceProfileGetsItsOwnCopyChosenByTheFirstHardwareName) {
    WriteTemplate("First.isis", "first scanner");
    WriteTemplate("Second.isis", "second scanner");
    Ref<IKeystrelConfig> config = NewConfig(), other = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Left").get()), S_OK);
    ASSERT_EQ(other->SetUIInterfaceProfile(Bstr("Right").get()), S_OK);
    const std::string left = StartUp(config.get(), "First").file, right = StartUp(other.get(), "First").file;
    EXPECT_NE(left, right);
    EXPECT_EQ(Contents(right), "first scanner");
    EXPECT_EQ(StartUp(config.get(), "Second").file, left);
    EXPECT_EQ(Contents(left), "first scanner");
}

// An "IniFile" that is empty, not a string or longer than 259 characters counts as absent.
TEST_F(DeviceTest, UnusableIniFileCountsAsAbsent) {
    const std::string key = RootPath("Odd\\TwainSettings"), longest = "C:\\" + std::string(256, 'f');
    const struct {
        DWORD type;
        std::string bytes;
    } cases[] = {{REG_SZ, std::string(1, '\0')}, {REG_DWORD, "\x01\x02\x03\x04"},
                 {REG_BINARY, std::string("C:\\a.ini\0", 9)}, {REG_SZ, longest + "f" + '\0'}};
    Ref<IKeystrelConfig> config = NewConfig();
    for (const auto& c : cases) {
        SetValue(key, "IniFile", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        const std::string file = Twain(config.get(), "Odd");
        EXPECT_TRUE(IsNewCopyName(file)) << c.bytes;
        EXPECT_EQ(GetString(key, "IniFile"), file);
    }
    SetString(key, "IniFile", longest);
    EXPECT_EQ(Twain(config.get(), "Odd"), longest);
}

// "\Keystrel 4.0\" and the 42-character name add 56 characters to the application-data folder; a
// copy path longer than 259 gives the template's path and records nothing.
TEST_F(DeviceTest, AppDataFolderTooLongForACopyGivesTheTemplatePath) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Deep").get()), S_OK);
    {
        MovedShellFolder appData("AppData", DeepPath(204));
        EXPECT_EQ(Twain(config.get(), "DeepScanner"), profiles_ + "\\DeepScanner.twain");
        EXPECT_EQ(StartUp(config.get(), "DeepScanner").file, profiles_ + "\\DeepScanner.isis");
        EXPECT_FALSE(GetString(RootPath("DeepScanner\\TwainSettings"), "IniFile"));
        EXPECT_FALSE(GetString(RootPath("UIInterfaceProfiles\\Deep"), "IniFile"));
        EXPECT_FALSE(Exists(DeepPath(204) + "\\Keystrel 4.0"));
    }
    MovedShellFolder appData("AppData", DeepPath(203));
    EXPECT_EQ(Twain(config.get(), "DeepScanner").size(), 259u);
    RemoveDirectoryA((DeepPath(203) + "\\Keystrel 4.0").c_str());
}

}  // namespace
}  // namespace kstest
