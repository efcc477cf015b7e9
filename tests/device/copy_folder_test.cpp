// Copy-to-folder settings of a scanner: first-use defaults, reading, storing and counting.
#include <shlobj.h>

#include "device_test_util.h"

namespace kstest {
namespace {

constexpr const char* kHw = "CopyScanner";
constexpr LONG kUntouched = 0x55555555;

class CopyFolderTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        defaultFolder_ = ShellFolder(CSIDL_PERSONAL) + "\\My Scanned Documents";
    }
    void TearDown() override {
        RemoveDirectoryA(defaultFolder_.c_str());  // only when the test left it empty
        StoreTest::TearDown();
    }

    struct Result {
        HRESULT hr;
        LONG flags;
        std::string path;
        bool pathSet;
        LONG count;
    };
    // Calls CopyToFolderSettings with out-values preset to kUntouched and a null path.
    Result Read(const char* hw = kHw) {
        Ref<IKeystrelConfig> config = NewConfig();
        Result r{E_UNEXPECTED, kUntouched, {}, false, kUntouched};
        BSTR path = nullptr;
        r.hr = config->CopyToFolderSettings(Bstr(hw).get(), reinterpret_cast<_KSCPYFLAG*>(&r.flags), &path, &r.count);
        r.pathSet = path != nullptr;
        if (path != nullptr) {
            Bstr owned;
            *owned.put() = path;
            r.path = owned.Ansi();
        }
        return r;
    }
    std::string DeviceKey() const { return RootPath(kHw); }

    std::string defaultFolder_;
};

TEST_F(CopyFolderTest, FirstUseWritesDefaultsAndCreatesTheFolder) {
    RemoveDirectoryA(defaultFolder_.c_str());
    ASSERT_FALSE(DirectoryExists(defaultFolder_));

    Result r = Read();
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.path, defaultFolder_);
    EXPECT_EQ(r.flags, 10);
    EXPECT_EQ(r.count, 0);
    EXPECT_TRUE(DirectoryExists(defaultFolder_));
    std::string text = defaultFolder_ + '\0';
    EXPECT_EQ(GetValue(DeviceKey(), "CopyPath"), (RegValue{REG_SZ, {text.begin(), text.end()}}));
    EXPECT_EQ(GetValue(DeviceKey(), "CopyFlags"), (RegValue{REG_DWORD, {10, 0, 0, 0}}));
    EXPECT_EQ(GetValue(DeviceKey(), "CopyCount"), (RegValue{REG_DWORD, {0, 0, 0, 0}}));

    // Later calls only read, and an existing folder is no obstacle.
    SetDword(DeviceKey(), "CopyCount", 41);
    r = Read();
    EXPECT_EQ(r.path, defaultFolder_);
    EXPECT_EQ(r.count, 41);
}

TEST_F(CopyFolderTest, UnreadableCopyPathResetsAllThreeValues) {
    const std::string tooLong(260, 'p');
    const struct {
        const char* what;
        DWORD type;
        std::string bytes;
    } cases[] = {
        {"number", REG_DWORD, std::string("\x01\x00\x00\x00", 4)},
        {"binary text", REG_BINARY, std::string("C:\\Scans\0", 9)},
        {"260 characters", REG_SZ, tooLong + '\0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetValue(DeviceKey(), "CopyPath", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        SetDword(DeviceKey(), "CopyFlags", 4);
        SetDword(DeviceKey(), "CopyCount", 77);
        Result r = Read();
        EXPECT_EQ(r.path, defaultFolder_);
        EXPECT_EQ(r.flags, 10);
        EXPECT_EQ(r.count, 0);
        EXPECT_EQ(GetString(DeviceKey(), "CopyPath"), defaultFolder_);
        EXPECT_EQ(GetDword(DeviceKey(), "CopyFlags"), 10u);
        EXPECT_EQ(GetDword(DeviceKey(), "CopyCount"), 0u);
    }
}

TEST_F(CopyFolderTest, ReadableCopyPathIsReturnedAsStored) {
    const std::string longest(259, 'q');
    const struct {
        const char* what;
        DWORD type;
        std::string text;
    } cases[] = {
        {"empty", REG_SZ, ""},
        {"259 characters", REG_SZ, longest},
        {"expandable, not expanded", REG_EXPAND_SZ, "%TEMP%\\Scans"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetValue(DeviceKey(), "CopyPath", c.type, c.text.c_str(), static_cast<DWORD>(c.text.size() + 1));
        SetDword(DeviceKey(), "CopyFlags", 5);
        SetDword(DeviceKey(), "CopyCount", 6);
        Result r = Read();
        EXPECT_TRUE(r.pathSet);
        EXPECT_EQ(r.path, c.text);
        EXPECT_EQ(r.flags, 5);
        EXPECT_EQ(r.count, 6);
    }
}

TEST_F(CopyFolderTest, FlagsAndCountAreReadWhateverTheirTypeWhenTheyFit) {
    const struct {
        const char* what;
        DWORD type;
        std::string bytes;  // empty: value missing
        LONG expected;
    } cases[] = {
        {"missing", REG_NONE, "", kUntouched},
        {"4-byte binary", REG_BINARY, std::string("\x04\x00\x00\x00", 4), 4},
        {"2-byte binary fills the low bytes only", REG_BINARY, std::string("\x08\x00", 2), 0x55550008},
        {"short text", REG_SZ, std::string("ab\0", 3), 0x55006261},
        {"8-byte number is not taken", REG_QWORD, std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8), kUntouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(DeviceKey());
        SetString(DeviceKey(), "CopyPath", "D:\\Scans");
        if (!c.bytes.empty()) {
            SetValue(DeviceKey(), "CopyFlags", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
            SetValue(DeviceKey(), "CopyCount", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        }
        std::vector<std::string> before = DumpTree(DeviceKey());
        Result r = Read();
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.path, "D:\\Scans");
        EXPECT_EQ(r.flags, c.expected);
        EXPECT_EQ(r.count, c.expected);
        EXPECT_EQ(DumpTree(DeviceKey()), before) << "a readable path means nothing is written";
    }
}

TEST_F(CopyFolderTest, StoredOptionsAreReadBackWithTheEarlierCount) {
    Ref<IKeystrelConfig> config = NewConfig();
    ASSERT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), 5), S_OK);
    ASSERT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), static_cast<_KSCPYFLAG>(KSCPYFLAG_BYWEEK | KSCPYFLAG_BYBUTTON),
                                             Bstr("D:\\Scans\\Out").get()),
              S_OK);
    EXPECT_EQ(GetValue(DeviceKey(), "CopyPath"), (RegValue{REG_SZ, {'D', ':', '\\', 'S', 'c', 'a', 'n', 's', '\\', 'O', 'u', 't', 0}}));
    EXPECT_EQ(GetValue(DeviceKey(), "CopyFlags"), (RegValue{REG_DWORD, {5, 0, 0, 0}}));
    Result r = Read();
    EXPECT_EQ(r.path, "D:\\Scans\\Out");
    EXPECT_EQ(r.flags, 5);
    EXPECT_EQ(r.count, 5);

    // A null path stores the empty text, which reads back as a valid, empty folder.
    ASSERT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), KSCPYFLAG_BYTYPE, nullptr), S_OK);
    EXPECT_EQ(GetValue(DeviceKey(), "CopyPath"), (RegValue{REG_SZ, {0}}));
    r = Read();
    EXPECT_TRUE(r.pathSet);
    EXPECT_EQ(r.path, "");
    EXPECT_EQ(r.flags, 8);

    // Too long to read back: stored unchanged, then replaced by the defaults on the next read.
    const std::string longPath = "D:\\" + std::string(300, 'x');
    ASSERT_EQ(config->StoreCopyFolderOptions(Bstr(kHw).get(), KSCPYFLAG_BYWEEK, Bstr(longPath.c_str()).get()), S_OK);
    EXPECT_EQ(GetString(DeviceKey(), "CopyPath"), longPath);
    r = Read();
    EXPECT_EQ(r.path, defaultFolder_);
    EXPECT_EQ(r.flags, 10);
    EXPECT_EQ(r.count, 0);
}

TEST_F(CopyFolderTest, CountAddsInThirtyTwoBitsAndWraps) {
    const struct {
        const char* what;
        std::optional<DWORD> start;  // empty: no "CopyCount" (and no device key)
        LONG add;
        DWORD expected;
    } cases[] = {
        {"from nothing", std::nullopt, 3, 3},
        {"lowered", 3, -1, 2},
        {"past the largest count", 0x7FFFFFFF, 1, 0x80000000},
        {"below the smallest count", 0x80000000, -1, 0x7FFFFFFF},
        {"all bits plus one", 0xFFFFFFFF, 1, 0},
    };
    Ref<IKeystrelConfig> config = NewConfig();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(DeviceKey());
        if (c.start) SetDword(DeviceKey(), "CopyCount", *c.start);
        EXPECT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), c.add), S_OK);
        EXPECT_EQ(GetValue(DeviceKey(), "CopyCount"),
                  (RegValue{REG_DWORD, {static_cast<BYTE>(c.expected), static_cast<BYTE>(c.expected >> 8),
                                        static_cast<BYTE>(c.expected >> 16), static_cast<BYTE>(c.expected >> 24)}}));
    }
    // A count stored in fewer bytes is read over zero.
    DeleteKeyTree(DeviceKey());
    SetValue(DeviceKey(), "CopyCount", REG_BINARY, "\x07", 1);
    EXPECT_EQ(config->UpdateCopyCount(Bstr(kHw).get(), 1), S_OK);
    EXPECT_EQ(GetDword(DeviceKey(), "CopyCount"), 8u);
}

TEST_F(CopyFolderTest, NullOutPointers) {
    Ref<IKeystrelConfig> config = NewConfig();
    LONG flags = kUntouched, count = kUntouched;
    BSTR path = nullptr;
    EXPECT_EQ(config->CopyToFolderSettings(Bstr(kHw).get(), nullptr, &path, &count), E_POINTER);
    EXPECT_EQ(config->CopyToFolderSettings(Bstr(kHw).get(), reinterpret_cast<_KSCPYFLAG*>(&flags), &path, nullptr),
              E_POINTER);
    EXPECT_EQ(path, nullptr);
    EXPECT_FALSE(KeyExists(DeviceKey()));

    // A null path only means the caller does not want it: the defaults are still written.
    EXPECT_EQ(config->CopyToFolderSettings(Bstr(kHw).get(), reinterpret_cast<_KSCPYFLAG*>(&flags), nullptr, &count),
              S_OK);
    EXPECT_EQ(flags, 10);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(GetString(DeviceKey(), "CopyPath"), defaultFolder_);
}

TEST_F(CopyFolderTest, DocumentsFolderAtADriveRootGetsNoSecondBackslash) {
    ShellFolderOverride personal("Personal", "C:\\");
    Result r = Read();
    EXPECT_EQ(r.path, "C:\\My Scanned Documents");
    EXPECT_TRUE(DirectoryExists("C:\\My Scanned Documents"));
    RemoveDirectoryA("C:\\My Scanned Documents");
}

TEST_F(CopyFolderTest, DocumentsFolderTooLongForTheCopyFolderIsRefused) {
    // 239 characters + "\My Scanned Documents" is one more than a path may hold; 238 just fits.
    {
        DeepFolder documents(239);
        ShellFolderOverride personal("Personal", documents.path());
        Result r = Read();
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_FALSE(r.pathSet);
        EXPECT_EQ(r.flags, kUntouched);
        EXPECT_EQ(r.count, kUntouched);
        EXPECT_TRUE(ValueNames(DeviceKey()).empty());
        EXPECT_FALSE(DirectoryExists(documents.path() + "\\My Scanned Documents"));
    }
    {
        DeepFolder documents(238);
        ShellFolderOverride personal("Personal", documents.path());
        Result r = Read();
        EXPECT_EQ(r.path, documents.path() + "\\My Scanned Documents");
        EXPECT_EQ(r.path.size(), 259u);
        EXPECT_TRUE(DirectoryExists(r.path));
        RemoveDirectoryA(r.path.c_str());
    }
}

}  // namespace
}  // namespace kstest
