// Device application settings: the copy-to-folder values of a scanner and the per-user copies of
// its driver settings templates, in the shell's real per-user folders.
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
using Values = std::vector<std::optional<RegValue>>;

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}
bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
RegValue Dword(DWORD v) { return {REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}}; }
RegValue Sz(const std::string& text) { return {REG_SZ, {text.c_str(), text.c_str() + text.size() + 1}}; }
RegValue Raw(DWORD type, const std::string& bytes) { return {type, {bytes.begin(), bytes.end()}}; }
void Set(const std::string& key, const char* name, const RegValue& v) {
    SetValue(key, name, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
}

class DeviceTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        CreateDirectoryA(profiles_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string& path : files_) DeleteFileA(path.c_str());
        for (const std::string& folder : {profiles_, documents_}) RemoveDirectoryA(folder.c_str());  // only when empty
        StoreTest::TearDown();
    }

    struct Copy {  // what a read gives back; the defaults are the untouched out-values
        HRESULT hr = S_OK;
        LONG flags = kKept, count = kKept;
        std::string path = "<untouched>";
        bool operator==(const Copy&) const = default;
        friend void PrintTo(const Copy& c, std::ostream* os) { *os << c.flags << ' ' << c.count << ' ' << c.path; }
    };
    static Copy Read() {
        Copy r;
        Bstr path;
        auto* flags = reinterpret_cast<_KSCPYFLAG*>(&r.flags);
        r.hr = NewConfig()->CopyToFolderSettings(Bstr(kHw).get(), flags, path.put(), &r.count);
        if (path.get() != nullptr) r.path = path.Ansi();
        return r;
    }
    Values CopyValues() const {
        return {GetValue(deviceKey_, "CopyPath"), GetValue(deviceKey_, "CopyFlags"), GetValue(deviceKey_, "CopyCount")};
    }
    using Modes = std::pair<short, short>;  // scan, device
    struct Startup { Modes modes{-77, -77}; std::string file; };
    Startup StartUp(IKeystrelConfig* config, const char* hw) {
        Startup s;
        Bstr file, name(hw);
        EXPECT_EQ(config->UIInterfaceStartupSettings(name.get(), &s.modes.first, &s.modes.second, file.put()), S_OK);
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
    const std::string profiles_ = [] {
        char dll[MAX_PATH] = {};
        GetModuleFileNameA(Dll().module, dll, MAX_PATH);
        return std::string(dll, std::strrchr(dll, '\\')) + "\\Profiles";
    }();
    std::vector<std::string> files_;  // templates and copies, removed after the test
};

// "CopyPath" alone decides: without a readable one, the documents folder's "My Scanned Documents" is
// created and all three values are (re)written; a readable one, even empty, is returned as stored,
// flags and count as up to 4 bytes of any type into the out-values, and nothing is written.
TEST_F(DeviceTest, CopySettingsAreResetOnlyWhenTheCopyPathCannotBeRead) {
    // `number` is stored as both flags and count; `read` is what both read back as.
    const struct { std::optional<RegValue> path, number; bool reset; LONG read; } cases[] = {
        {std::nullopt, std::nullopt, true, 0}, {Dword(1), Dword(5), true, 0}, {Sz("D:"), std::nullopt, false, kKept},
        {Raw(REG_BINARY, std::string("C:\\S\0", 5)), Dword(5), true, 0}, {Sz(std::string(260, 'p')), Dword(5), true, 0},
        {Sz(""), Dword(5), false, 5}, {Sz(std::string(259, 'q')), Raw(REG_BINARY, "\x08"), false, 0x55555508},
        {RegValue{REG_EXPAND_SZ, Sz("%TEMP%\\S").data}, Sz("ab"), false, 0x55006261},
        {Sz("D:\\S"), Raw(REG_QWORD, std::string("\x01\0\0\0\0\0\0\0", 8)), false, kKept}};
    for (const auto& [path, number, reset, read] : cases) {
        SCOPED_TRACE(testing::PrintToString(path));
        RemoveDirectoryA(documents_.c_str());
        DeleteKeyTree(deviceKey_);
        if (path) Set(deviceKey_, "CopyPath", *path);
        for (const char* name : {"CopyFlags", "CopyCount"}) {
            if (number) Set(deviceKey_, name, *number);
        }
        const Values before = CopyValues();
        const char* text = reset ? "" : reinterpret_cast<const char*>(path->data.data());
        EXPECT_EQ(Read(), (reset ? Copy{S_OK, 10, 0, documents_} : Copy{S_OK, read, read, text}));
        EXPECT_EQ(CopyValues(), (reset ? Values{Sz(documents_), Dword(10), Dword(0)} : before));
        EXPECT_EQ(Exists(documents_), reset);
    }
}

// Null flags, count or modes are refused before anything is touched; a null path or file only
// means the caller does not want it.
TEST_F(DeviceTest, NullOutNumbersAreRefusedButNullTextsAreNot) {
    Ref<IKeystrelConfig> c = NewConfig();
    ASSERT_EQ(c->SetUIInterfaceProfile(Bstr("Nulls").get()), S_OK);
    LONG n = kKept;
    short m = -5;
    auto* f = reinterpret_cast<_KSCPYFLAG*>(&n);
    Bstr hw(kHw), file;
    for (HRESULT hr : {c->CopyToFolderSettings(hw.get(), nullptr, nullptr, &n),
                       c->CopyToFolderSettings(hw.get(), f, nullptr, nullptr),
                       c->UIInterfaceStartupSettings(hw.get(), nullptr, &m, file.put()),
                       c->UIInterfaceStartupSettings(hw.get(), &m, nullptr, file.put())}) {
        EXPECT_EQ(hr, E_POINTER);
    }
    EXPECT_TRUE(n == kKept && m == -5 && file.get() == nullptr && !KeyExists(kRoot));
    EXPECT_EQ(c->CopyToFolderSettings(hw.get(), f, nullptr, &n), S_OK);
    EXPECT_EQ(c->UIInterfaceStartupSettings(hw.get(), &m, &m, nullptr), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), Sz(documents_));
    files_.push_back(GetString(RootPath("UIInterfaceProfiles\\Nulls"), "IniFile").value_or(""));
    EXPECT_EQ(CopyBytes(files_.back()), "<none>");  // no template
}

// The count adds in 32 bits (from no key, or over any readable bytes); options are stored as given.
TEST_F(DeviceTest, StoredOptionsKeepTheCountWhichAddsInThirtyTwoBits) {
    Ref<IKeystrelConfig> config = NewConfig();
    const std::pair<LONG, DWORD> counts[] = {{3, 3},          {-1, 2},          {0x7FFFFFFD, 0x7FFFFFFF},
                                             {1, 0x80000000}, {-1, 0x7FFFFFFF}, {-0x7FFFFFFF, 0}};
    for (const auto& [add, expected] : counts) {
        EXPECT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), add), S_OK);
        EXPECT_EQ(GetValue(deviceKey_, "CopyCount"), Dword(expected)) << add;
    }
    Set(deviceKey_, "CopyCount", Raw(REG_BINARY, "\x07"));
    EXPECT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), 1), S_OK);
    EXPECT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), static_cast<_KSCPYFLAG>(5), Bstr("D:\\Out").get()), S_OK);
    EXPECT_EQ(CopyValues(), (Values{Sz("D:\\Out"), Dword(5), Dword(8)}));
    EXPECT_EQ(Read(), (Copy{S_OK, 5, 8, "D:\\Out"}));
    EXPECT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), KSCPYFLAG_BYTYPE, nullptr), S_OK);
    EXPECT_EQ(GetValue(deviceKey_, "CopyPath"), Sz(""));  // a null path is the empty text
}

// The first start-up under a profile makes its key and a copy of the template its hardware names;
// later the recorded path is returned as it is, whatever the hardware and even when the file is gone.
TEST_F(DeviceTest, FirstStartupOfAProfileCopiesItsIsisTemplateOnce) {
    WriteTemplate("First.isis", kIsisBytes);
    WriteTemplate("Second.isis", "second scanner");
    Ref<IKeystrelConfig> config = NewConfig(), other = NewConfig();
    ASSERT_EQ(config->SetUIInterfaceProfile(Bstr("Desk").get()), S_OK);
    ASSERT_EQ(other->SetUIInterfaceProfile(Bstr("Other").get()), S_OK);
    const Startup s = StartUp(config.get(), "First");
    EXPECT_EQ(s.modes, Modes(2, 1));
    EXPECT_EQ(CopyBytes(s.file), kIsisBytes);
    const std::string key = RootPath("UIInterfaceProfiles\\Desk");
    EXPECT_EQ(GetValue(key, "IniFile"), Sz(s.file));
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"IniFile"}) << "the modes are not written";
    const std::string otherFile = StartUp(other.get(), "First").file;
    EXPECT_NE(otherFile, s.file);
    EXPECT_EQ(CopyBytes(otherFile), kIsisBytes);
    ASSERT_TRUE(DeleteFileA(s.file.c_str()));
    EXPECT_EQ(StartUp(config.get(), "Second").file, s.file);
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
    // Modes saved (or else the values written as they stand), the values then stored, the modes read back.
    const struct { std::optional<Modes> save; RegValue scan, device; Modes read; } cases[] = {
        {Modes{5, 3}, Dword(5), Dword(3), {5, 3}}, {Modes{-1, -32768}, Dword(~0u), Dword(0xFFFF8000), {-1, -32768}},
        {Modes{99, 99}, Dword(99), Dword(99), {2, 1}}, {{}, Dword(0x12345), Raw(REG_BINARY, "\x07"), {0x2345, 7}},
        {{}, Raw(REG_QWORD, std::string("\x05\0\0\0\0\0\0\0", 8)), Sz("c") /* 99 as text */, {2, 1}}};
    for (const auto& [save, scan, device, read] : cases) {
        if (save) {
            EXPECT_EQ(config->UIInterfaceSaveSettings(save->first, save->second), S_OK);
        } else {
            Set(key, "ScanMode", scan);
            Set(key, "DeviceMode", device);
        }
        EXPECT_EQ((Values{GetValue(key, "ScanMode"), GetValue(key, "DeviceMode")}), (Values{scan, device}));
        EXPECT_EQ(StartUp(config.get(), "AnyScanner").modes, read) << scan.type << ' ' << device.type;
    }
}

// TWAIN copies live in the device key's "TwainSettings" and come from the ".twain" template.
TEST_F(DeviceTest, TwainFileIsProvisionedOncePerScannerWithOrWithoutATemplate) {
    const std::string twainBytes("twain\0template", 14);
    WriteTemplate("TwainScanner.twain", twainBytes);
    WriteTemplate("TwainScanner.isis", kIsisBytes);  // not the one to copy
    Ref<IKeystrelConfig> config = NewConfig();
    const std::string file = Twain(config.get(), "TwainScanner");
    EXPECT_EQ(CopyBytes(file), twainBytes);
    EXPECT_EQ(GetValue(RootPath("TwainScanner\\TwainSettings"), "IniFile"), Sz(file));
    EXPECT_EQ(Twain(NewConfig().get(), "TwainScanner"), file);
    // Without a usable "IniFile" (none, not a string, or longer than 259 characters) a new path is
    // recorded and returned; without a template no file is made.
    const std::string key = RootPath("Plain\\TwainSettings"), longest = "C:\\" + std::string(256, 'f');
    for (const std::optional<RegValue>& odd : Values{std::nullopt, Dword(0x04030201), Sz(longest + "f")}) {
        if (odd) Set(key, "IniFile", *odd);
        const std::string fresh = Twain(config.get(), "Plain");
        EXPECT_EQ(CopyBytes(fresh), "<none>");
        EXPECT_EQ(GetString(key, "IniFile"), fresh);
    }
    SetString(key, "IniFile", longest);
    EXPECT_EQ(Twain(config.get(), "Plain"), longest);
}

}  // namespace
}  // namespace kstest
