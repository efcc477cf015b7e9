// Device application settings: the copy-to-folder values of a scanner and the per-user copies of
// its driver settings templates, in the shell's real per-user folders.
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <tuple>

#include "support/ks_test.h"

namespace kstest {
namespace {

constexpr const char* kHw = "CopyScanner";
constexpr LONG kKept = 0x55555555;  // what the caller put in an out-value
using Values = std::vector<std::optional<RegValue>>;
using Copy = std::tuple<HRESULT, LONG, LONG, std::string>;  // result, flags, count, path

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}
RegValue Dword(DWORD v) { return {REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}}; }
RegValue Raw(DWORD type, const std::string& bytes) { return {type, {bytes.begin(), bytes.end()}}; }
void Set(const std::string& key, const char* name, const RegValue& v) {
    SetValue(key, name, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
}
// CopyToFolderSettings over preset out-values; the path "<untouched>" when none is handed out.
Copy Read() {
    LONG flags = kKept, count = kKept;
    Bstr path, hw(kHw);
    auto* out = reinterpret_cast<_KSCPYFLAG*>(&flags);
    const HRESULT hr = NewConfig()->CopyToFolderSettings(hw.get(), out, path.put(), &count);
    return {hr, flags, count, path.get() != nullptr ? path.Ansi() : "<untouched>"};
}

class DeviceTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        CreateDirectoryA(profiles_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string& path : files_) DeleteFileA(path.c_str());
        for (const std::string& folder : {profiles_, documents_}) RemoveDirectoryA(folder.c_str());  // only when empty
        ConfigTest::TearDown();
    }
    Values CopyValues() const {
        return {GetValue(deviceKey_, "CopyPath"), GetValue(deviceKey_, "CopyFlags"), GetValue(deviceKey_, "CopyCount")};
    }
    using Modes = std::pair<short, short>;  // scan, device
    // UIInterfaceStartupSettings over preset modes: the modes and the file handed out.
    std::pair<Modes, std::string> StartUp(const char* hw) {
        Modes modes{-77, -77};
        Bstr file, name(hw);
        EXPECT_EQ(config_->UIInterfaceStartupSettings(name.get(), &modes.first, &modes.second, file.put()), S_OK);
        files_.push_back(file.get() != nullptr ? file.Ansi() : "<untouched>");
        return {modes, files_.back()};
    }
    void WriteTemplate(const std::string& name, const std::string& bytes) {
        files_.push_back(profiles_ + "\\" + name);
        std::ofstream(files_.back(), std::ios::binary) << bytes;
    }
    // The bytes of a new per-user copy, <copies>\K<upper-case GUID, no braces>S.ini; "<none>" when
    // the file does not exist.
    std::string CopyBytes(const std::string& path) const {
        static const std::regex name("K[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}S\\.ini");
        if (!path.starts_with(copies_ + "\\") || !std::regex_match(path.substr(copies_.size() + 1), name)) return path;
        std::ifstream in(path, std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
    }

    const std::string deviceKey_ = RootPath(kHw);
    const std::string documents_ = ShellFolder(CSIDL_PERSONAL) + "\\My Scanned Documents";
    const std::string copies_ = ShellFolder(CSIDL_APPDATA) + "\\Keystrel 4.0";
    const std::string profiles_ = ProfilesFolder();
    std::vector<std::string> files_;  // templates and copies, removed after the test
};

// "CopyPath" alone decides: without a readable one, the documents folder's "My Scanned Documents" is
// created and all three values are (re)written; a readable one, even empty, is returned as stored,
// flags and count as up to 4 bytes of any type into the out-values, and nothing is written.
TEST_F(DeviceTest, CopySettingsAreResetOnlyWhenTheCopyPathCannotBeReadAndStoredAsGiven) {
    // `number` is stored as both flags and count; `read` is what both read back as.
    struct Row { std::optional<RegValue> path, number; bool reset; LONG read; };
    const RegValue longest = Sz(std::string(259, 'q')), expand{REG_EXPAND_SZ, Sz("%TEMP%\\S").data};
    const Row rows[] = {
        {std::nullopt, std::nullopt, true, 0}, {Sz(std::string(260, 'p')), Dword(5), true, 0},
        {Sz(""), Dword(5), false, 5},          {longest, Raw(REG_BINARY, "\x08"), false, 0x55555508},
        {expand, Sz("ab"), false, 0x55006261}, {Sz("D:\\S"), Raw(REG_QWORD, std::string(8, '\1')), false, kKept}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.path));
        RemoveDirectoryA(documents_.c_str());
        DeleteKeyTree(deviceKey_);
        if (r.path) Set(deviceKey_, "CopyPath", *r.path);
        if (r.number) Set(deviceKey_, "CopyFlags", *r.number);
        if (r.number) Set(deviceKey_, "CopyCount", *r.number);
        const Values before = CopyValues();
        const char* text = r.reset ? "" : reinterpret_cast<const char*>(r.path->data.data());
        EXPECT_EQ(Read(), (r.reset ? Copy{S_OK, 10, 0, documents_} : Copy{S_OK, r.read, r.read, text}));
        EXPECT_EQ(CopyValues(), (r.reset ? Values{Sz(documents_), Dword(10), Dword(0)} : before));
        EXPECT_EQ(GetFileAttributesA(documents_.c_str()) != INVALID_FILE_ATTRIBUTES, r.reset) << "the folder made";
    }
    // The count adds over up to 4 readable bytes of any type and is stored as a REG_DWORD; options
    // are stored as given.
    const Bstr hw(kHw);
    Set(deviceKey_, "CopyCount", Raw(REG_BINARY, "\x07"));
    EXPECT_EQ(config_->UpdateCopyCount(hw.get(), 1), S_OK);
    EXPECT_EQ(config_->StoreCopyFolderOptions(hw.get(), static_cast<_KSCPYFLAG>(5), Bstr("D:\\Out").get()), S_OK);
    EXPECT_EQ(CopyValues(), (Values{Sz("D:\\Out"), Dword(5), Dword(8)}));
}

// The first start-up under a profile makes its key, reads the default modes 2 and 1, and copies the
// ".isis" template its hardware names; later the recorded path is returned as it is, whatever the
// hardware, as long as it has at most 259 characters. Modes are saved sign-extended, and read back
// over the sentinel 99 (which, even when stored, gives the default), taking the low 16 bits.
TEST_F(DeviceTest, IsisFileIsCopiedOnceFromItsTemplateAndModesReadThroughTheSentinel) {
    const std::string isisBytes("isis\r\n\0\x01\xFF", 9), key = RootPath("UIInterfaceProfiles\\Desk");
    WriteTemplate("First.isis", isisBytes);
    ASSERT_EQ(config_->SetUIInterfaceProfile(Bstr("Desk").get()), S_OK);
    EXPECT_EQ(config_->UIInterfaceSaveSettings(4, 4), S_OK) << "no profile key yet: nothing saved";
    const auto [modes, isis] = StartUp("First");
    EXPECT_EQ(modes, Modes(2, 1));
    EXPECT_EQ(CopyBytes(isis), isisBytes);
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"IniFile"}) << "the modes are not written";
    EXPECT_EQ(config_->UIInterfaceSaveSettings(-1, -32768), S_OK);
    const Values saved{GetValue(key, "ScanMode"), GetValue(key, "DeviceMode")};
    EXPECT_EQ(saved, (Values{Dword(~0u), Dword(0xFFFF8000)}));
    EXPECT_EQ(StartUp("Second"), std::pair(Modes(-1, -32768), isis));
    const std::string longest = "C:\\" + std::string(256, 'f');
    SetString(key, "IniFile", longest);
    SetDword(key, "ScanMode", 99);
    SetDword(key, "DeviceMode", 0x12345);
    EXPECT_EQ(StartUp("First"), std::pair(Modes(2, 0x2345), longest));
    SetString(key, "IniFile", longest + "f");
    EXPECT_EQ(CopyBytes(StartUp("NoTemplate").second), "<none>") << "a new path, but no file";
}

// TWAIN copies are made as the ISIS ones are; their own are the ".twain" template and the device
// key's "TwainSettings".
TEST_F(DeviceTest, TwainFileComesFromTheTwainTemplateAndIsRecordedUnderTheDevice) {
    const std::string bytes("twain\0template", 14);
    WriteTemplate("TwainScanner.twain", bytes);
    WriteTemplate("TwainScanner.isis", "isis");  // not the one to copy
    Bstr file;
    EXPECT_EQ(config_->GetTwainConfigurationFile(Bstr("TwainScanner").get(), file.put()), S_OK);
    files_.push_back(file.Ansi());
    EXPECT_EQ(CopyBytes(file.Ansi()), bytes);
    EXPECT_EQ(GetString(RootPath("TwainScanner\\TwainSettings"), "IniFile"), file.Ansi());
    // A name that would lead out of the Profiles folder has no template, whatever lies where it leads:
    // a path is made and recorded as for a missing template, with no file.
    WriteTemplate("..\\Planted.twain", bytes);
    for (const char* name : {"..\\Planted", "Missing/../../Planted"}) {
        EXPECT_EQ(config_->GetTwainConfigurationFile(Bstr(name).get(), file.put()), S_OK);
        files_.push_back(file.Ansi());
        EXPECT_EQ(CopyBytes(file.Ansi()), "<none>") << name;
    }
}

}  // namespace
}  // namespace kstest
