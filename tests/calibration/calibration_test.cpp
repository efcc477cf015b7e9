// Gamma calibration tables through the real DLL: storing, reading from the caller's own hive,
// and the fallback to the device's default profile imported into that hive.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

#include "support/calibration_fixture.h"

namespace kstest {
namespace {

class CalibrationTest : public CalibrationFixture {
protected:
    void SetUp() override {
        CalibrationFixture::SetUp();
        config_ = NewConfig();
        ASSERT_TRUE(config_);
    }
};

// Each store adds a table under its signed number and makes it current; older tables stay.
TEST_F(CalibrationTest, StoredTablesReadBackUnderTheirSignedNumbers) {
    const LONG numbers[] = {3, -2, INT_MAX, INT_MIN};
    for (BYTE i = 0; i < 4; ++i) {
        const LONG gamma = numbers[i];
        SCOPED_TRACE(gamma);
        const Bytes table = {i, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xFF};
        ASSERT_EQ(Store("Scanner", gamma, table), S_OK);
        EXPECT_EQ(GetDword(RootPath("Scanner"), "CurrentGamma"), static_cast<DWORD>(gamma));
        const std::string name = "Gamma - " + std::to_string(gamma);
        EXPECT_EQ(GetValue(RootPath("Scanner\\CalibrationProfiles"), name.c_str()), (RegValue{REG_BINARY, table}));
        Bytes read;
        EXPECT_EQ(Read("Scanner", table.size(), &read), S_OK);
        EXPECT_EQ(read, table);
        LONG current = 0;
        EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &current), S_OK);
        EXPECT_EQ(current, gamma);
    }
    EXPECT_EQ(ValueNames(RootPath("Scanner\\CalibrationProfiles")).size(), 4u);
}

// Own-hive reads with no default profile to fall back on: S_OK, whatever the buffer got.
TEST_F(CalibrationTest, OwnHiveReadsWithoutADefaultProfile) {
    const std::string tables = RootPath("Scanner\\CalibrationProfiles");
    Bytes read;
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, Bytes(4, kUntouched));
    EXPECT_FALSE(KeyExists(RootPath("Scanner"))) << "a read without a device key creates none";

    SetDword(RootPath("Scanner"), "CurrentGamma", 5);  // no tables key: the read leaves an empty one
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_TRUE(KeyExists(tables));
    EXPECT_TRUE(ValueNames(tables).empty());

    // A current number of any type up to 4 bytes names the table; a shorter table fills the front.
    SetValue(RootPath("Scanner"), "CurrentGamma", REG_BINARY, "\x05\x00", 2);
    SetValue(tables, "Gamma - 5", REG_BINARY, "\x09\x08\x07", 3);
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, (Bytes{9, 8, 7, kUntouched}));

    ASSERT_EQ(Store("Scanner", 0, {1, 2, 3, 4}), S_OK);  // gamma 0 is stored but means "no current table"
    EXPECT_TRUE(GetValue(tables, "Gamma - 0"));
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, Bytes(4, kUntouched));
}

TEST_F(CalibrationTest, NegativeSizesAreRefusedBeforeAnyWrite) {
    BYTE data[4] = {};
    EXPECT_EQ(config_->StoreCalibrationData(Bstr("Scanner").get(), 1, -1, data), E_INVALIDARG);
    EXPECT_EQ(config_->GetCalibrationData(Bstr("Scanner").get(), -1, data), E_INVALIDARG);
    EXPECT_FALSE(KeyExists(RootPath("Scanner")));
}

TEST_F(CalibrationTest, DefaultGammaFailsUnlessFourByteDwordAndLeavesOutValue) {
    LONG gamma = 77;
    EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &gamma), E_FAIL) << "no device key";
    const struct {
        DWORD type;  // REG_NONE: no value
        Bytes bytes;
    } cases[] = {{REG_NONE, {}}, {REG_SZ, {'3', 0}}, {REG_BINARY, {3, 0, 0, 0}}, {REG_DWORD, Bytes(8, 3)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
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

// A default profile as shipped: placeholders for the device path and the gamma number, a section
// with a root name the importer does not know, the event section last.
std::string SampleProfile(const char* currentGamma, const char* table, const char* gammaValues = "10,22,30,<%d>") {
    return std::string("; %GAMMA_VALUES=") + gammaValues + "%\r\n[%ROOT%]\r\n\"CurrentGamma\"=dword:" + currentGamma +
           "\r\n[%ROOT%\\CalibrationProfiles]\r\n\"Gamma - %GAMMA%\"=hex:" + table + "\r\n"
           "[%ROOT%\\ScanProfiles\\Default\\Deep]\r\n\"Resolution\"=dword:12c\r\n"
           "[HKCU\\Software\\Stellwick\\Keystrel 4.0\\Short Root]\r\n\"Lost\"=dword:1\r\n"
           "[%ROOT%\\EventProfiles]\r\n\"Button\"=\"1\"\r\n"
           "[%ROOT%\\After Events]\r\n\"Never\"=dword:1\r\n";
}

// An own device key without a current number goes to the default profile (never to the console
// user). The import fills the placeholders, overwrites same-named values, keeps the others, and
// stops at the event section.
TEST_F(CalibrationTest, ImportBringsInFilledProfileUpToTheEventSection) {
    SetDword(RootPath("Test Scanner"), "Other", 1);
    SetValue(RootPath("Test Scanner\\CalibrationProfiles"), "Gamma - 22", REG_BINARY, "\x55\x55", 2);
    DefaultProfileFile file("Test Scanner", SampleProfile("00000016", "0a,1b,\\\r\nff,00"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 6, &read), S_OK);
    EXPECT_EQ(read, (Bytes{0x0A, 0x1B, 0xFF, 0x00, kUntouched, kUntouched}));
    std::vector<std::string> expected = {
        "|CurrentGamma|4|16000000",
        "|Other|4|01000000",
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

// The default profile's table counts only when its whole text arrived and its gamma format
// named it (the current number is 22).
TEST_F(CalibrationTest, TableLargerThanBufferFallsBackToTheDefaultProfile) {
    const Bytes abcd = {0xA, 0xB, 0xC, 0xD, kUntouched, kUntouched, kUntouched, kUntouched};
    const bool narrowSize = sizeof(size_t) == 4;  // "z" takes a 32-bit int on the 32-bit build only
    const struct {
        const char* defaultTable;  // null: no default profile file
        HRESULT result;
        Bytes read;
        const char* gammaValues = "10,22,30,<%d>";
    } cases[] = {
        {"0a,0b,0c,0d", S_OK, abcd},
        {"01,02,03,04,05,06,07,08,09", E_FAIL, Bytes(8, kUntouched)},
        {nullptr, S_OK, Bytes(8, kUntouched)},
        // A continued line whose next line never comes (the last of its section) is not imported.
        {"0a,0b,0c,0d\r\n\"Gamma - 22\"=hex:01,\\", S_OK, abcd},
        {"0a,0b,0c,0d", S_OK, abcd, "1,22,3,<%ld>"},
        {"0a,0b,0c,0d", S_OK, abcd, "1,65558,3,<%hu>"},  // 65558 is 22 as an unsigned short
        {"0a,0b,0c,0d", narrowSize ? S_OK : E_FAIL, narrowSize ? abcd : Bytes(8, kUntouched), "1,22,3,<%zd>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.defaultTable ? c.defaultTable : "no default profile") + " " + c.gammaValues);
        DeleteKeyTree(kRoot);
        ASSERT_EQ(Store("Test Scanner", 22, Bytes(16, 0x55)), S_OK);
        std::optional<DefaultProfileFile> file;
        if (c.defaultTable != nullptr) file.emplace("Test Scanner", SampleProfile("16", c.defaultTable, c.gammaValues));
        Bytes read;
        EXPECT_EQ(Read("Test Scanner", 8, &read), c.result);
        EXPECT_EQ(read, c.read);
    }
}

TEST_F(CalibrationTest, ProfileWithoutTableImportsAgainOnEveryRead) {
    DefaultProfileFile file("Test Scanner", SampleProfile("0", "01"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 4, &read), E_FAIL);
    const std::vector<std::string> first = DumpTree(RootPath("Test Scanner"));
    SetDword(RootPath("Test Scanner\\ScanProfiles\\Default\\Deep"), "Resolution", 600);
    EXPECT_EQ(Read("Test Scanner", 4, &read), E_FAIL);
    EXPECT_EQ(DumpTree(RootPath("Test Scanner")), first);
}

}  // namespace
}  // namespace kstest
