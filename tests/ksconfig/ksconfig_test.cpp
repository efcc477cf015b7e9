// ksconfig.exe, run as a separate process against prepared settings trees: exact text and JSON
// output, exit codes, and the export/import round trip.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/ks_test.h"

namespace kstest {
namespace {

struct Result { DWORD exit = 0; std::string out, err; };

std::string Bin() {  // the tests' working folder, where ksconfig.exe sits too
    char path[MAX_PATH];
    return std::string(path, GetCurrentDirectoryA(MAX_PATH, path));
}

std::string ReadText(const std::string& path) {  // without the CRs of text mode
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Runs ksconfig.exe through the command interpreter, which passes its exit code on.
Result Ksconfig(const std::vector<std::string>& args) {
    std::string line = "ksconfig.exe";
    for (const std::string& a : args) line += " \"" + a + "\"";
    DWORD exit = static_cast<DWORD>(std::system((line + " >ksconfig.out 2>ksconfig.err").c_str()));
    return {exit, ReadText("ksconfig.out"), ReadText("ksconfig.err")};
}

// Exit code 0 and exactly `expected` on standard output; the failure names the command.
::testing::AssertionResult Outputs(const std::vector<std::string>& args, const std::string& expected) {
    Result run = Ksconfig(args);
    if (run.exit == 0 && run.out == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (args.empty() ? "" : args[0]) << " exited " << run.exit << ", printed\n"
                                         << run.out << run.err;
}

const char* kScanner = "Test Scanner";
std::string Device(const std::string& below) { return RootPath(std::string(kScanner) + below); }

// ksconfig.exe reads the real hive, so the settings there are moved aside, not overridden.
class KsconfigTest : public ::testing::Test {
    SavedSettings saved_;
};

void Fill(const std::string& key, std::initializer_list<std::pair<const char*, DWORD>> numbers,
          std::initializer_list<std::pair<const char*, const char*>> texts = {}) {
    for (const auto& [name, value] : numbers) SetDword(key, name, value);
    for (const auto& [name, text] : texts) SetString(key, name, text);
}

// Three profiles (P2 is shown for every type), one event, two calibration tables, copy
// settings, a recorded TWAIN settings file, one link engine key and other components' keys.
void PrepareTree() {
    Fill(Device("\\ScanProfiles\\P1"), {{"Flags", 0x5}, {"DataType", 0x4}, {"PixelBits", 24}, {"Xresolution", 300},
         {"Yresolution", 300}, {"LinkConfig", 1}, {"TMap Hue", 0xFFFFFFFF}},
         {{"Name", "Colour"}, {"LinkInfo", "Archive"}});
    Fill(Device("\\ScanProfiles\\P2"), {{"Flags", 0x1010}, {"DataType", 0x40001}, {"Xresolution", 200},
         {"Yresolution", 200}}, {{"Name", "Fax"}});
    Fill(Device("\\ScanProfiles\\P3"), {{"Flags", 0x2}, {"DataType", 0x2}, {"Xresolution", 300},
         {"Yresolution", 300}}, {{"Name", "Text"}});
    Fill(Device("\\EventProfiles\\Button1"), {{"Flags", 0x4}, {"Transfer", 0x30004}, {"JPGQuality", 80},
         {"PDFQuality", 50}}, {{"Name", "Scan to PDF"}, {"ScanConfig", "P1"}, {"Link", "Archive"}});
    Fill(Device(""), {{"CurrentGamma", 2}, {"CopyFlags", 5}, {"CopyCount", 7}}, {{"CopyPath", "C:\\Scans"}});
    Fill(Device("\\TwainSettings"), {}, {{"IniFile", "C:\\drivers\\twain.ini"}});
    Fill(RootPath("Mail Engine"), {}, {{"", "LINKENGINE"}, {"GUID", "{0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}"},
         {"LinkCache", "C:\\nowhere\\mail.cache"}});
    BYTE table[20];
    for (int i = 0; i < 20; ++i) table[i] = static_cast<BYTE>(i * 13);
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 1", REG_BINARY, "\1\2\3\4", 4);
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 2", REG_BINARY, table, sizeof(table));
    CreateKeyPath(RootPath("LinkProfiles"));
    CreateKeyPath(RootPath("UIInterfaceProfiles"));
}

// One listing per command family, in text or JSON; key names match in any letter case.
TEST_F(KsconfigTest, ListingsShowTheRecordedSettings) {
    PrepareTree();
    const std::string bin = Bin();
    const struct { std::vector<std::string> args; std::string out; } cases[] = {
        {{"scanners"}, "1 scanner with settings\n"
                       "  Test Scanner: 3 scan profiles, 1 event, current gamma 2, 2 calibration tables\n"},
        {{"profile", kScanner, "p1", "--json"},
         R"({"hwguid":"{00000000-0000-0000-0000-000000000000}","keyname":"P1","name":"Colour","flags":5,)"
         R"("flagNames":["KSCNFGFLAG_IMAGES","KSCNFGFLAG_PDF"],"DataType":4,"DataTypeNames":["KSCNFGMODE_COLOR"],)"
         R"("PixelBits":24,"Intensity":0,"Contrast":0,"Xresolution":300,"Yresolution":300,"PageWidth":0,)"
         R"("PageHeight":0,"ScanHardware":0,"Duplex":0,"ColorDropOut":0,"Negative":0,"Mirror":0,"Crop":0,)"
         R"("Deskew":0,"Moire":0,"Autorotate90":0,"UseToneMap":0,"ToneMap":{"Saturation":0,"Sharpen":0,"Hue":-1,)"
         R"("RedGamma":0,"GreenGamma":0,"BlueGamma":0,"GreyGamma":0},"ShowProgress":0,"HasLinkConfig":1,)"
         R"("LinkConfig":"Archive","LinkSignature":"","HasUIConfig":0,"UIConfig":"","VRSConfig":""})" "\n"},
        {{"events", kScanner},
         "1 event of \"Test Scanner\"\n  Button1  \"Scan to PDF\"  profile \"P1\"  KSTRANSFER_TIFF  link \"Archive\"\n"},
        {{"calibration", kScanner, "--hex"}, "calibration of \"Test Scanner\": current gamma 2, 2 tables\n"
         "  Gamma - 1  4 bytes\n    01 02 03 04\n  Gamma - 2  20 bytes (current)\n"
         "    00 0d 1a 27 34 41 4e 5b 68 75 82 8f 9c a9 b6 c3\n    d0 dd ea f7\n"},
        {{"copy-settings", kScanner, "--json"},
         R"({"path":"C:\\Scans","flags":5,"flagNames":["KSCPYFLAG_BYWEEK","KSCPYFLAG_BYBUTTON"],"count":7})" "\n"},
        // The recorded settings file is shown as it is, present or not; nothing is provisioned.
        {{"driver-files", kScanner}, "install folder  " + bin + "\nISIS template   " + bin +
         "\\Profiles\\Test Scanner.isis (missing)\nTWAIN template  " + bin +
         "\\Profiles\\Test Scanner.twain (missing)\nTWAIN settings  C:\\drivers\\twain.ini (missing)\n"},
        {{"links"}, "1 link engine key\n  Mail Engine\n    GUID       {0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}\n"
         "    LinkCache  C:\\nowhere\\mail.cache (missing)\n    container  Software\\Stellwick\\Keystrel 4.0\\Mail Engine\n"
         "link cache      not opened: 0x80030003 (STG_E_PATHNOTFOUND: path not found)\n"
         "engine classes  none found in the category\nlink profiles   Software\\Stellwick\\Keystrel 4.0\\LinkProfiles\n"},
    };
    for (const auto& c : cases) EXPECT_TRUE(Outputs(c.args, c.out));
    // Images: P2, shown for every type, but not P3.
    const std::string images = Ksconfig({"profiles", kScanner, "--type", "images", "--json"}).out;
    EXPECT_TRUE(images.find(R"("keyname":"P2")") != std::string::npos &&
                images.find(R"("keyname":"P3")") == std::string::npos) << images;
}

// Usage errors exit 2 with the usage on standard error; what is not there exits 1 and creates nothing.
TEST_F(KsconfigTest, UsageErrorsAndNotFoundExitWithTheirCodes) {
    PrepareTree();
    const struct { std::vector<std::string> args; DWORD exit; } cases[] = {
        {{}, 2}, {{"frobnicate"}, 2}, {{"profiles", kScanner, "--type", "paper"}, 2}, {{"profile", kScanner}, 2},
        {{"export", "-o"}, 2}, {{"backup-status", "--hex"}, 2},
        {{"profile", kScanner, "Colour"}, 1},  // a display name, not a key name
        {{"event", kScanner, "Button2"}, 1}, {{"calibration", "No Such Scanner"}, 1},
        {{"import", "no such file.ks4"}, 1}};
    for (const auto& c : cases) {
        Result run = Ksconfig(c.args);
        EXPECT_TRUE(run.exit == c.exit && run.out.empty() &&
                    (c.exit == 1 ? !run.err.empty() : run.err.find("usage: ksconfig") != std::string::npos))
            << (c.args.empty() ? "" : c.args.back()) << ": " << run.exit << " " << run.out << run.err;
    }
    EXPECT_FALSE(KeyExists(RootPath("No Such Scanner")));
}

TEST_F(KsconfigTest, ExportDeleteImportExportGivesTheSameTextAndLeavesOutWhatCannotReadBack) {
    PrepareTree();
    std::string tiny = RootPath("Tiny");
    Fill(tiny, {{"Count", 30}}, {{"", "default"}, {"Name", "C:\\a\\\\b \"c\" stay raw"}});
    std::vector<BYTE> bytes(700);
    for (int i = 0; i < 700; ++i) bytes[i] = static_cast<BYTE>(i);
    SetValue(tiny + "\\Tables", "Gamma - 1", REG_BINARY, bytes.data(), 30);
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 3", REG_BINARY, bytes.data(), 700);
    CreateKeyPath(tiny + "\\Empty");
    const std::string tinyText = R"([HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\Tiny]
""="default"
"Count"=dword:0000001e
"Name"="C:\a\\b "c" stay raw"

[HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\Tiny\Empty]

[HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\Tiny\Tables]
"Gamma - 1"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\
  14,15,16,17,18,19,1a,1b,1c,1d
)";
    EXPECT_TRUE(Outputs({"export", "Tiny"}, tinyText));

    std::string file = Bin() + "\\ksconfig export.txt";
    ASSERT_EQ(Ksconfig({"export", "-o", file}).exit, 0u);
    std::vector<std::string> before = DumpTree(kRoot);
    DeleteKeyTree(kRoot);
    DeleteKeyTree(kBackup);
    Result import = Ksconfig({"import", file});
    EXPECT_EQ(import.exit, 0u) << import.err;
    EXPECT_EQ(import.out.rfind("imported 16 sections from ", 0), 0u) << import.out;
    EXPECT_EQ(DumpTree(kRoot), before);
    EXPECT_TRUE(Outputs({"export"}, ReadText(file)));
    DeleteFileA(file.c_str());

    SetValue(tiny, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);
    SetString(tiny, "Two lines", "a\r\nb");
    Result run = Ksconfig({"export", "Tiny"});
    EXPECT_TRUE(run.exit == 0 && run.out == tinyText) << run.out;
    EXPECT_NE(run.err.find("left out value \"Expand\""), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("left out value \"Two lines\""), std::string::npos) << run.err;
}

TEST_F(KsconfigTest, BackupStatusAndRestore) {
    SetDword(RootPath("Dev\\A"), "x", 1);
    SetString(RootPath("Dev\\New"), "y", "new");
    SetDword(std::string(kBackup) + "\\Dev\\A", "x", 2);
    CreateKeyPath(std::string(kBackup) + "\\Dev\\Old");
    EXPECT_TRUE(Outputs({"backup-status"}, R"(settings root   present, 3 keys, 2 values
backup tree     present, 3 keys, 1 value
not yet in the backup (the next release of a store object copies them):
  key    Dev\New
  value  Dev\A "x" (differs)
  value  Dev\New "y"
only in the backup (kept by the merge; a rebuilt root would have them again):
  key    Dev\Old
the backup is behind the settings root
)"));
    EXPECT_EQ(GetDword(std::string(kBackup) + "\\Dev\\A", "x"), 2u);  // no store object, so nothing copied

    DeleteKeyTree(kRoot);
    DeleteKeyTree(kBackup);
    EXPECT_EQ(Ksconfig({"restore"}).exit, 1u);  // neither root nor backup
    SetDword(std::string(kBackup) + "\\Dev\\Deep", "x", 5);
    SetString(std::string(kBackup) + "\\Dev", "Name", "d");
    EXPECT_TRUE(Outputs({"restore"}, "rebuilt the settings root from the backup tree: 2 keys, 2 values\n"));
    EXPECT_EQ(GetDword(RootPath("Dev\\Deep"), "x"), 5u);
    EXPECT_TRUE(Outputs({"restore"}, "the settings root is present; nothing to restore\n"));
}

TEST_F(KsconfigTest, DemoRunsTheTypicalSessionAgainstTheSampleScanner) {
    Result run = Ksconfig({"demo"});
    ASSERT_EQ(run.exit, 0u) << run.out << run.err;
    for (const char* line : {"   LoadConfigInfo(\"Sample Scanner\", KSCNFGFLAG_ALL) -> 0 profiles\n",
                             "   StoreActiveConfig -> 0x00000000 (S_OK: success)\n",
                             "6. GetCalibrationData(\"Sample Scanner\", 256 bytes) -> 0x00000000 (S_OK: success)\n",
                             "   GetDefualtGamma -> 2; table \"Gamma - 2\" starts 00 0c 11 16"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    // The saved profile and imported defaults are in root and backup; the file's events are not imported.
    EXPECT_EQ(SubkeyNames(RootPath("Sample Scanner\\ScanProfiles")).size(), 4u);
    EXPECT_EQ(GetDword(RootPath("Sample Scanner"), "CurrentGamma"), 2u);
    EXPECT_FALSE(KeyExists(RootPath("Sample Scanner\\EventProfiles")));
    EXPECT_EQ(DumpTree(RootPath("Sample Scanner")), DumpTree(std::string(kBackup) + "\\Sample Scanner"));
}

}  // namespace
}  // namespace kstest
