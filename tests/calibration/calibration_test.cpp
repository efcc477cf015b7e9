// Gamma calibration tables through the real DLL: storing, reading from the caller's own hive,
// and the fallback to the device's default profile imported into that hive.
#include <climits>

#include "support/calibration_fixture.h"

namespace kstest {
namespace {

class CalibrationTest : public CalibrationFixture {};

// Each store adds a table under its signed number and makes it current; older tables stay.
TEST_F(CalibrationTest, StoredTablesReadBackUnderTheirSignedNumbersAndNameTheDefaultGamma) {
    for (const LONG gamma : {3, -2, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(gamma);
        Bytes table = {static_cast<BYTE>(gamma), 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xFF};
        ASSERT_EQ(config_->StoreCalibrationData(Bstr("Scanner").get(), gamma, 16, table.data()), S_OK);
        EXPECT_EQ(GetDword(RootPath("Scanner"), "CurrentGamma"), static_cast<DWORD>(gamma));
        const std::string name = "Gamma - " + std::to_string(gamma);
        EXPECT_EQ(GetValue(RootPath("Scanner\\CalibrationProfiles"), name.c_str()), (RegValue{REG_BINARY, table}));
        Bytes read;
        EXPECT_EQ(Read("Scanner", table.size(), &read), S_OK);
        EXPECT_EQ(read, table);
    }
    EXPECT_EQ(ValueNames(RootPath("Scanner\\CalibrationProfiles")).size(), 4u);
    LONG current = 77;
    EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &current), S_OK);
    EXPECT_EQ(current, INT_MIN) << "the last number stored, sign and all";
    // Only a DWORD counts as the default gamma; a failure leaves the out-value alone. (A missing
    // device key fails alike: the fault tests give it a name the registry refuses.)
    SetValue(RootPath("Scanner"), "CurrentGamma", REG_BINARY, "\x03\x00\x00\x00", 4);
    EXPECT_EQ(config_->GetDefualtGamma(Bstr("Scanner").get(), &current), E_FAIL);
    EXPECT_EQ(current, INT_MIN);
}

// Own-hive reads with no default profile to fall back on: S_OK, whatever the buffer got. A current
// number of any type up to 4 bytes names the table (a shorter table fills the front); 0 names none.
// A negative size is refused before anything is written; an empty buffer is no error.
TEST_F(CalibrationTest, OwnHiveReadsWithoutADefaultProfileAndNegativeSizesRefused) {
    BYTE table[] = {1, 2, 3, 4};
    EXPECT_EQ(config_->StoreCalibrationData(Bstr("Scanner").get(), 1, -1, table), E_INVALIDARG);
    EXPECT_EQ(config_->GetCalibrationData(Bstr("Scanner").get(), -1, table), E_INVALIDARG);
    EXPECT_EQ(config_->GetCalibrationData(Bstr("Scanner").get(), 0, table), S_OK);
    Bytes read;
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, Bytes(4, kUntouched));
    EXPECT_FALSE(KeyExists(RootPath("Scanner"))) << "neither a refused call nor a read creates a device key";
    SetValue(RootPath("Scanner"), "CurrentGamma", REG_BINARY, "\x05\x00", 2);
    SetValue(RootPath("Scanner\\CalibrationProfiles"), "Gamma - 5", REG_BINARY, "\x09\x08\x07", 3);
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, (Bytes{9, 8, 7, kUntouched}));
    ASSERT_EQ(config_->StoreCalibrationData(Bstr("Scanner").get(), 0, 4, table), S_OK);  // stored as "Gamma - 0"
    EXPECT_EQ(Read("Scanner", 4, &read), S_OK);
    EXPECT_EQ(read, Bytes(4, kUntouched));
    EXPECT_EQ(config_->StoreCalibrationData(Bstr("Scanner").get(), 1, 0, table), S_OK);
}

// A default profile as shipped: placeholders for the device path and the gamma number, a section
// with a root name the importer does not know, the event section last.
std::string SampleProfile(const char* table) {
    return std::string("; %GAMMA_VALUES=10,22,30,<%d>%\r\n[%ROOT%]\r\n\"CurrentGamma\"=dword:00000016\r\n"
                       "[%ROOT%\\CalibrationProfiles]\r\n\"Gamma - %GAMMA%\"=hex:") + table + "\r\n"
           "[%ROOT%\\ScanProfiles\\Default\\Deep]\r\n\"Resolution\"=dword:12c\r\n"
           "[HKCU\\Software\\Stellwick\\Keystrel 4.0\\Short Root]\r\n\"Lost\"=dword:1\r\n"
           "[%ROOT%\\EventProfiles]\r\n\"Button\"=\"1\"\r\n"
           "[%ROOT%\\After Events]\r\n\"Never\"=dword:1\r\n";
}

// An own device key without a current number goes to the default profile (never to the console
// user), found only inside the Profiles folder. The import fills the placeholders, overwrites
// same-named values, keeps the others, and stops at the event section.
TEST_F(CalibrationTest, ImportBringsInFilledProfileUpToTheEventSection) {
    SetDword(RootPath("Test Scanner"), "Other", 1);
    SetValue(RootPath("Test Scanner\\CalibrationProfiles"), "Gamma - 22", REG_BINARY, "\x55\x55", 2);
    DefaultProfileFile file("Test Scanner", SampleProfile("0a,1b,\\\r\nff,00"));
    Bytes read;
    EXPECT_EQ(Read("Test Scanner", 6, &read), S_OK);
    EXPECT_EQ(read, (Bytes{0x0A, 0x1B, 0xFF, 0x00, kUntouched, kUntouched}));
    const std::vector<std::string> expected = {  // sorted as DumpTree sorts
        "CalibrationProfiles|<key>", "CalibrationProfiles|Gamma - 22|3|0a1bff00",
        "ScanProfiles\\Default\\Deep|<key>", "ScanProfiles\\Default\\Deep|Resolution|4|2c010000",
        "ScanProfiles\\Default|<key>", "ScanProfiles|<key>", "|CurrentGamma|4|16000000", "|Other|4|01000000"};
    EXPECT_EQ(DumpTree(RootPath("Test Scanner")), expected);
    // A table larger than the buffer sends every read back to the default profile, imported again
    // over the caller's edits; its table counts only when it fits.
    SetDword(RootPath("Test Scanner\\ScanProfiles\\Default\\Deep"), "Resolution", 600);
    EXPECT_EQ(Read("Test Scanner", 3, &read), E_FAIL);
    EXPECT_EQ(DumpTree(RootPath("Test Scanner")), expected);
    // A name that would lead out of the Profiles folder has no default profile, whatever lies where it leads.
    DefaultProfileFile planted("..\\Planted", SampleProfile("01"));
    for (const char* name : {"..\\Planted", "../Planted", "Missing\\..\\..\\Planted", "Missing/../../Planted"}) {
        EXPECT_EQ(Read(name, 4, &read), S_OK);
        EXPECT_EQ(read, Bytes(4, kUntouched)) << name;
    }
}

}  // namespace
}  // namespace kstest
