// Gamma calibration tables through the real DLL: storing, reading from the caller's own hive,
// and the fallback to the device's default profile imported into that hive.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <set>

#include "support/ks_test.h"
#include "support/profile_files.h"

namespace kstest {
namespace {

using Bytes = std::vector<BYTE>;

constexpr BYTE kUntouched = 0xCC;

std::string Hex(const void* data, size_t size) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(b, sizeof(b), "%02x", static_cast<const BYTE*>(data)[i]);
        out += b;
    }
    return out;
}

std::string Hex(const std::string& text) { return Hex(text.c_str(), text.size() + 1); }

// The own-hive device key path the store fills "%ROOT%" with.
std::string RootText(const std::string& hardware) { return "HKEY_CURRENT_USER\\" + RootPath(hardware); }

class CalibrationTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        copiesBefore_ = TemporaryProfileCopies();
        config_ = NewConfig();
        ASSERT_TRUE(config_);
    }
    void TearDown() override {
        config_.reset();
        EXPECT_EQ(TemporaryProfileCopies(), copiesBefore_) << "a ~KS temporary file was left behind";
        StoreTest::TearDown();
    }

    HRESULT Store(const char* hardware, LONG gamma, Bytes table) {
        return config_->StoreCalibrationData(Bstr(hardware).get(), gamma, static_cast<LONG>(table.size()),
                                             table.data());
    }
    // Reads into a buffer of `size` bytes that starts filled with kUntouched.
    HRESULT Read(const char* hardware, size_t size, Bytes* out) {
        out->assign(size, kUntouched);
        return config_->GetCalibrationData(Bstr(hardware).get(), static_cast<LONG>(size), out->data());
    }

    Ref<IKeystrelConfig> config_;
    std::set<std::string> copiesBefore_;
};

TEST_F(CalibrationTest, StoredTableReadsBackUnderItsSignedNumber) {
    const Bytes table = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xFF};
    for (LONG gamma : {3, -1, -2, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(gamma);
        DeleteKeyTree(kRoot);
        ASSERT_EQ(Store("Scanner", gamma, table), S_OK);
        const std::string name = "Gamma - " + std::to_string(gamma);
        EXPECT_EQ(GetValue(RootPath("Scanner\\CalibrationProfiles"), name.c_str()), (RegValue{REG_BINARY, table}));
        EXPECT_EQ(GetDword(RootPath("Scanner"), "CurrentGamma"), static_cast<DWORD>(gamma));

        Bytes read;
        EXPECT_EQ(Read("Scanner", table.size(), &read), S_OK);
        EXPECT_EQ(read, table);
        LONG current = 0;
        EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &current), S_OK);
        EXPECT_EQ(current, gamma);
    }
}

TEST_F(CalibrationTest, StoringAnotherNumberKeepsOldTablesAndMovesCurrent) {
    ASSERT_EQ(Store("Scanner", 1, {1, 1}), S_OK);
    ASSERT_EQ(Store("Scanner", 2, {2, 2, 2}), S_OK);
    EXPECT_EQ(GetValue(RootPath("Scanner\\CalibrationProfiles"), "Gamma - 1"), (RegValue{REG_BINARY, {1, 1}}));
    Bytes read;
    EXPECT_EQ(Read("Scanner", 3, &read), S_OK);
    EXPECT_EQ(read, (Bytes{2, 2, 2}));
}

TEST_F(CalibrationTest, GammaZeroIsStoredButNeverReadFromOwnHive) {
    ASSERT_EQ(Store("Scanner", 0, {1, 2, 3, 4}), S_OK);
    EXPECT_TRUE(GetValue(RootPath("Scanner\\CalibrationProfiles"), "Gamma - 0"));
    Bytes read;
    // No default profile either: S_OK, buffer as it was.
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, Bytes(4, kUntouched));
}

TEST_F(CalibrationTest, ShorterTableFillsOnlyTheFrontOfTheBuffer) {
    ASSERT_EQ(Store("Scanner", 4, {1, 2, 3, 4, 5, 6, 7, 8}), S_OK);
    Bytes read;
    EXPECT_EQ(Read("Scanner", 16, &read), S_OK);
    EXPECT_EQ(read, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched,
                           kUntouched, kUntouched, kUntouched}));
}

TEST_F(CalibrationTest, CurrentNumberOfAnyTypeUpToFourBytesNamesTheTable) {
    const BYTE shortNumber[] = {5, 0};
    SetValue(RootPath("Scanner"), "CurrentGamma", REG_BINARY, shortNumber, sizeof(shortNumber));
    const BYTE table[] = {9, 8};
    SetValue(RootPath("Scanner\\CalibrationProfiles"), "Gamma - 5", REG_BINARY, table, sizeof(table));
    Bytes read;
    EXPECT_EQ(Read("Scanner", 2, &read), S_OK);
    EXPECT_EQ(read, (Bytes{9, 8}));
}

TEST_F(CalibrationTest, ReadLeavesEmptyTablesKeyWhereNoneWas) {
    SetDword(RootPath("Scanner"), "CurrentGamma", 5);
    Bytes read;
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);  // nothing anywhere, no default profile
    EXPECT_EQ(read, Bytes(4, kUntouched));
    EXPECT_TRUE(KeyExists(RootPath("Scanner\\CalibrationProfiles")));
    EXPECT_TRUE(ValueNames(RootPath("Scanner\\CalibrationProfiles")).empty());
}

TEST_F(CalibrationTest, NothingAnywhereAnswersOkAndChangesNothing) {
    Bytes read;
    EXPECT_EQ(Read("Unknown Scanner", 8, &read), S_OK);
    EXPECT_EQ(read, Bytes(8, kUntouched));
    EXPECT_FALSE(KeyExists(RootPath("Unknown Scanner")));
}

TEST_F(CalibrationTest, BadPointersAndSizesAreRefusedBeforeAnyWrite) {
    BYTE data[4] = {};
    LONG gamma = 0;
    Bstr name("Scanner");
    EXPECT_EQ(config_->StoreCalibrationData(name.get(), 1, 4, nullptr), E_POINTER);
    EXPECT_EQ(config_->StoreCalibrationData(name.get(), 1, -1, data), E_INVALIDARG);
    EXPECT_EQ(config_->GetCalibrationData(name.get(), 4, nullptr), E_POINTER);
    EXPECT_EQ(config_->GetCalibrationData(name.get(), -1, data), E_INVALIDARG);
    EXPECT_EQ(config_->GetDefualtGamma(name.get(), nullptr), E_POINTER);
    EXPECT_FALSE(KeyExists(RootPath("Scanner")));
    EXPECT_EQ(config_->GetDefualtGamma(name.get(), &gamma), E_FAIL);
}

TEST_F(CalibrationTest, DefaultGammaFailsUnlessFourByteDword) {
    struct Case {
        const char* what;
        DWORD type;
        Bytes bytes;  // empty with REG_NONE: no value at all
    };
    const Case cases[] = {
        {"no value", REG_NONE, {}},
        {"text", REG_SZ, {'3', 0}},
        {"binary", REG_BINARY, {3, 0, 0, 0}},
        {"eight-byte dword", REG_DWORD, {3, 0, 0, 0, 0, 0, 0, 0}},
    };
    LONG gamma = 77;
    EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &gamma), E_FAIL) << "no device key";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kRoot);
        CreateKeyPath(RootPath("Scanner"));
        if (c.type != REG_NONE) {
            SetValue(RootPath("Scanner"), "CurrentGamma", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        }
        EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &gamma), E_FAIL);
        EXPECT_EQ(gamma, 77);
    }
}

// --- The default profile --------------------------------------------------------------------

// A default profile in the form the utility ships: placeholders for the device path and the
// gamma number, the event section last.
std::string SampleProfile(const char* currentGamma, const char* table) {
    return std::string("; Default settings of the test scanner\r\n"
                       "; %GAMMA_VALUES=10,22,30,<%d>%\r\n"
                       "[%ROOT%]\r\n"
                       "\"CurrentGamma\"=dword:") + currentGamma + "\r\n"
           "\"Model\"=\"%ROOT% %GAMMA%\"\r\n"
           "[%ROOT%\\CalibrationProfiles]\r\n"
           "\"Gamma - %GAMMA%\"=hex:" + table + "\r\n"
           "[%ROOT%\\ScanProfiles\\Default\\Deep]\r\n"
           "\"Resolution\"=dword:12c\r\n"
           "[HKCU\\Software\\Stellwick\\Keystrel 4.0\\Short Root]\r\n"
           "\"Lost\"=dword:1\r\n"
           "[%ROOT%\\EventProfiles]\r\n"
           "\"Button\"=\"1\"\r\n"
           "[%ROOT%\\EventProfiles\\Scan]\r\n"
           "\"Link\"=\"Printer\"\r\n"
           "[%ROOT%\\After Events]\r\n"
           "\"Never\"=dword:1\r\n";
}

TEST_F(CalibrationTest, ImportBringsInFilledProfileUpToTheEventSection) {
    DefaultProfileFile file("Test Scanner", SampleProfile("00000016", "0a,1b,\\\r\nff,00"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 6, &read), S_OK);
    EXPECT_EQ(read, (Bytes{0x0A, 0x1B, 0xFF, 0x00, kUntouched, kUntouched}));

    std::vector<std::string> expected = {
        "|CurrentGamma|4|16000000",
        "|Model|1|" + Hex(RootText("Test Scanner") + " 22"),
        "CalibrationProfiles|<key>",
        "CalibrationProfiles|Gamma - 22|3|0a1bff00",
        "ScanProfiles|<key>",
        "ScanProfiles\\Default|<key>",
        "ScanProfiles\\Default\\Deep|<key>",
        "ScanProfiles\\Default\\Deep|Resolution|4|2c010000",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(DumpTree(RootPath("Test Scanner")), expected);
    EXPECT_FALSE(KeyExists(RootPath("Short Root")));
}

TEST_F(CalibrationTest, OwnDeviceKeyWithoutCurrentNumberImportsTheDefaults) {
    SetDword(RootPath("Test Scanner"), "Other", 1);
    DefaultProfileFile file("Test Scanner", SampleProfile("16", "01,02"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 2, &read), S_OK);
    EXPECT_EQ(read, (Bytes{1, 2}));
    EXPECT_EQ(GetDword(RootPath("Test Scanner"), "Other"), 1u) << "the import adds, it never deletes";
}

TEST_F(CalibrationTest, TableLargerThanBufferFallsBackToTheDefaultProfile) {
    struct Case {
        const char* what;
        const char* defaultTable;  // null: no default profile file
        HRESULT result;
        Bytes read;
    };
    const Case cases[] = {
        {"default table fits", "0a,0b,0c,0d", S_OK, {0xA, 0xB, 0xC, 0xD, kUntouched, kUntouched, kUntouched, kUntouched}},
        {"default table too long as well", "01,02,03,04,05,06,07,08,09", E_FAIL, Bytes(8, kUntouched)},
        {"no default profile", nullptr, S_OK, Bytes(8, kUntouched)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kRoot);
        ASSERT_EQ(Store("Test Scanner", 22, Bytes(16, 0x55)), S_OK);
        std::optional<DefaultProfileFile> file;
        if (c.defaultTable != nullptr) file.emplace("Test Scanner", SampleProfile("16", c.defaultTable));
        Bytes read;
        EXPECT_EQ(Read("Test Scanner", 8, &read), c.result);
        EXPECT_EQ(read, c.read);
    }
}

TEST_F(CalibrationTest, ImportOverwritesSameNamedOwnValues) {
    ASSERT_EQ(Store("Test Scanner", 22, Bytes(16, 0x55)), S_OK);
    SetString(RootPath("Test Scanner"), "Model", "mine");
    DefaultProfileFile file("Test Scanner", SampleProfile("16", "07"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 4, &read), S_OK);
    EXPECT_EQ(GetValue(RootPath("Test Scanner\\CalibrationProfiles"), "Gamma - 22"), (RegValue{REG_BINARY, {7}}));
    EXPECT_EQ(GetString(RootPath("Test Scanner"), "Model"), RootText("Test Scanner") + " 22");
}

TEST_F(CalibrationTest, ProfileWithoutTableImportsAgainOnEveryReadToTheSameTree) {
    DefaultProfileFile file("Test Scanner", SampleProfile("0", "01"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 4, &read), E_FAIL);
    const std::vector<std::string> first = DumpTree(RootPath("Test Scanner"));
    ASSERT_FALSE(first.empty());
    SetDword(RootPath("Test Scanner\\ScanProfiles\\Default\\Deep"), "Resolution", 600);
    EXPECT_EQ(Read("Test Scanner", 4, &read), E_FAIL);
    EXPECT_EQ(DumpTree(RootPath("Test Scanner")), first);
}

TEST_F(CalibrationTest, SectionLongerThanItsBufferImportsOnlyWholeLinesThatFit) {
    // 120 lines of 49 characters (50 with the separating NUL): lines 0..98 end within the
    // 4998 characters a section can deliver, line 99 is cut, the rest never arrives.
    std::string text = "[%ROOT%]\r\n\"CurrentGamma\"=dword:0\r\n[%ROOT%\\Long]\r\n";
    const std::string filler(40, 'x');
    char name[8];
    for (int i = 0; i < 120; ++i) {
        snprintf(name, sizeof(name), "V%03d", i);
        text += std::string("\"") + name + "\"=\"" + filler + "\"\r\n";
    }
    text += "[%ROOT%\\EventProfiles]\r\n";
    DefaultProfileFile file("Long Scanner", text);
    Bytes read;
    EXPECT_EQ(Read("Long Scanner", 4, &read), E_FAIL);
    const std::vector<std::string> names = ValueNames(RootPath("Long Scanner\\Long"));
    EXPECT_EQ(names.size(), 99u);
    for (int i = 0; i < 120; ++i) {
        snprintf(name, sizeof(name), "V%03d", i);
        std::optional<std::string> value = GetString(RootPath("Long Scanner\\Long"), name);
        if (i < 99) {
            EXPECT_EQ(value, filler) << name;
        } else {
            EXPECT_EQ(value, std::nullopt) << name;
        }
    }
}

TEST_F(CalibrationTest, EverySectionArrivesWhenTheirNamesOutgrowTheFirstBuffer) {
    // About 11000 characters of filled-in section names: the list must be asked for three times.
    std::string text;
    char line[64];
    for (int i = 0; i < 150; ++i) {
        snprintf(line, sizeof(line), "[%%ROOT%%\\Section %03d]\r\n\"Index\"=dword:%x\r\n", i, i);
        text += line;
    }
    // The table comes last: finding it proves the last section was imported.
    text += "[%ROOT%]\r\n\"CurrentGamma\"=dword:7\r\n[%ROOT%\\CalibrationProfiles]\r\n\"Gamma - 7\"=hex:42\r\n"
            "[%ROOT%\\EventProfiles]\r\n";
    DefaultProfileFile file("Names Scanner", text);
    Bytes read;
    EXPECT_EQ(Read("Names Scanner", 1, &read), S_OK);
    EXPECT_EQ(read, Bytes{0x42});
    EXPECT_EQ(SubkeyNames(RootPath("Names Scanner")).size(), 151u);
    EXPECT_EQ(GetDword(RootPath("Names Scanner\\Section 149"), "Index"), 149u);
}

TEST_F(CalibrationTest, UnopenableProfileNameAnswersOkWithBufferUntouched) {
    // A hardware name that cannot be part of a file name.
    Bytes read;
    EXPECT_EQ(Read("Bad|Name?", 4, &read), S_OK);
    EXPECT_EQ(read, Bytes(4, kUntouched));
}

}  // namespace
}  // namespace kstest
