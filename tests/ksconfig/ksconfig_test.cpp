// ksconfig.exe, run as a separate process against prepared settings trees: exact text output,
// parsed --json output, exit codes, and the export/import round trip.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "json_reader.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

struct Result {
    DWORD exit = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::string ExeFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string text(path, n);
    return text.substr(0, text.find_last_of('\\'));
}

std::string ReadAll(HANDLE file) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

HANDLE TempOutput() {
    char folder[MAX_PATH], name[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    GetTempFileNameA(folder, "ksc", 0, name);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Runs ksconfig.exe from the test's own folder with these arguments.
Result Ksconfig(const std::vector<std::string>& args) {
    std::string exe = ExeFolder() + "\\ksconfig.exe";
    std::string line = "\"" + exe + "\"";
    for (const std::string& a : args) line += " \"" + a + "\"";
    HANDLE out = TempOutput();
    HANDLE err = TempOutput();
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    Result run;
    if (CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0) << line;
        GetExitCodeProcess(process.hProcess, &run.exit);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << exe;
    }
    run.out = ReadAll(out);
    run.err = ReadAll(err);
    CloseHandle(out);
    CloseHandle(err);
    return run;
}

Json ParsedJson(const Result& run) {
    EXPECT_EQ(run.exit, 0u) << run.err;
    std::optional<Json> json = ParseJson(run.out);
    EXPECT_TRUE(json.has_value()) << run.out;
    return json.value_or(Json{});
}

const char* kScanner = "Test Scanner";
std::string Device(const std::string& below = "") {
    return RootPath(kScanner) + (below.empty() ? "" : "\\" + below);
}

void SetBinary(const std::string& path, const char* name, const std::vector<BYTE>& bytes) {
    SetValue(path, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

class KsconfigTest : public StoreTest {
protected:
    // A scanner with three profiles (one shown for every type), one event, two calibration
    // tables, copy settings and a recorded TWAIN settings file; one link engine key; the keys of
    // other components beside it.
    void PrepareTree() {
        std::string p1 = Device("ScanProfiles\\P1");
        SetString(p1, "Name", "Colour");
        SetString(p1, "LinkInfo", "Archive");
        SetDword(p1, "Flags", 0x5);
        SetDword(p1, "DataType", 0x4);
        SetDword(p1, "PixelBits", 24);
        SetDword(p1, "Xresolution", 300);
        SetDword(p1, "Yresolution", 300);
        SetDword(p1, "LinkConfig", 1);
        SetDword(p1, "TMap Hue", 0xFFFFFFFF);
        std::string p2 = Device("ScanProfiles\\P2");
        SetString(p2, "Name", "Fax");
        SetDword(p2, "Flags", 0x1010);
        SetDword(p2, "DataType", 0x40001);
        SetDword(p2, "Xresolution", 200);
        SetDword(p2, "Yresolution", 200);
        std::string p3 = Device("ScanProfiles\\P3");
        SetString(p3, "Name", "Text");
        SetDword(p3, "Flags", 0x2);
        SetDword(p3, "DataType", 0x2);
        SetDword(p3, "Xresolution", 300);
        SetDword(p3, "Yresolution", 300);
        std::string e = Device("EventProfiles\\Button1");
        SetString(e, "Name", "Scan to PDF");
        SetString(e, "ScanConfig", "P1");
        SetString(e, "Link", "Archive");
        SetDword(e, "Flags", 0x4);
        SetDword(e, "Transfer", 0x30004);
        SetDword(e, "JPGQuality", 80);
        SetDword(e, "PDFQuality", 50);
        SetDword(Device(), "CurrentGamma", 2);
        SetBinary(Device("CalibrationProfiles"), "Gamma - 1", {1, 2, 3, 4});
        std::vector<BYTE> table;
        for (int i = 0; i < 20; ++i) table.push_back(static_cast<BYTE>(i * 13));
        SetBinary(Device("CalibrationProfiles"), "Gamma - 2", table);
        SetString(Device(), "CopyPath", "C:\\Scans");
        SetDword(Device(), "CopyFlags", 5);
        SetDword(Device(), "CopyCount", 7);
        SetString(Device("TwainSettings"), "IniFile", "C:\\drivers\\twain.ini");
        std::string engine = RootPath("Mail Engine");
        SetString(engine, "", "LINKENGINE");
        SetString(engine, "GUID", "{0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}");
        SetString(engine, "LinkCache", "C:\\nowhere\\mail.cache");
        CreateKeyPath(RootPath("LinkProfiles"));
        CreateKeyPath(RootPath("UIInterfaceProfiles"));
    }
};

TEST_F(KsconfigTest, ScannersListsDeviceKeysOnly) {
    PrepareTree();
    Result run = Ksconfig({"scanners"});
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out,
              "1 scanner with settings\n"
              "  Test Scanner: 3 scan profiles, 1 event, current gamma 2, 2 calibration tables\n");

    Json json = ParsedJson(Ksconfig({"scanners", "--json"}));
    ASSERT_EQ(json.items.size(), 1u);
    EXPECT_EQ(json[0]["name"].text, kScanner);
    EXPECT_EQ(json[0]["profiles"].number, 3);
    EXPECT_EQ(json[0]["events"].number, 1);
    EXPECT_EQ(json[0]["currentGamma"].number, 2);
    EXPECT_EQ(json[0]["calibrationTables"].number, 2);
}

TEST_F(KsconfigTest, ProfilesListFollowsTheTypeFilter) {
    PrepareTree();
    Result all = Ksconfig({"profiles", kScanner});
    EXPECT_EQ(all.exit, 0u) << all.err;
    EXPECT_EQ(all.out, R"(3 scan profiles of "Test Scanner" (type all)
  P1  "Colour"  KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF   KSCNFGMODE_COLOR                     300x300 dpi
  P2  "Fax"     KSCNFGFLAG_FAX|KSCNFGFLAG_SHOWALL  KSCNFGMODE_BITONAL|KSCNFGMODE_TWAIN  200x200 dpi
  P3  "Text"    KSCNFGFLAG_TEXT                    KSCNFGMODE_GREY                      300x300 dpi
)");
    Result text = Ksconfig({"profiles", kScanner, "--type", "text"});
    EXPECT_EQ(text.out, R"(2 scan profiles of "Test Scanner" (type text)
  P2  "Fax"   KSCNFGFLAG_FAX|KSCNFGFLAG_SHOWALL  KSCNFGMODE_BITONAL|KSCNFGMODE_TWAIN  200x200 dpi
  P3  "Text"  KSCNFGFLAG_TEXT                    KSCNFGMODE_GREY                      300x300 dpi
)");

    Json json = ParsedJson(Ksconfig({"profiles", kScanner, "--type", "images", "--json"}));
    ASSERT_EQ(json.items.size(), 2u);  // P1, and P2 that is shown for every type
    EXPECT_EQ(json[0]["keyname"].text, "P1");
    EXPECT_EQ(json[0]["LinkConfig"].text, "Archive");
    EXPECT_EQ(json[0]["ToneMap"]["Hue"].number, -1);
    EXPECT_EQ(json[1]["flags"].number, 0x1010);
    ASSERT_EQ(json[1]["flagNames"].items.size(), 2u);
    EXPECT_EQ(json[1]["flagNames"][1].text, "KSCNFGFLAG_SHOWALL");
    EXPECT_EQ(json[1]["DataTypeNames"][1].text, "KSCNFGMODE_TWAIN");
}

TEST_F(KsconfigTest, ProfileShowsEveryFieldByName) {
    PrepareTree();
    Result run = Ksconfig({"profile", kScanner, "p1"});  // key names match in any letter case
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, R"(hwguid          {00000000-0000-0000-0000-000000000000}
keyname         "P1"
name            "Colour"
flags           0x00000005 KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF
DataType        0x00000004 KSCNFGMODE_COLOR
PixelBits       24
Intensity       0
Contrast        0
Xresolution     300
Yresolution     300
PageWidth       0
PageHeight      0
ScanHardware    0
Duplex          0
ColorDropOut    0
Negative        0
Mirror          0
Crop            0
Deskew          0
Moire           0
Autorotate90    0
UseToneMap      0
ToneMap         Saturation 0, Sharpen 0, Hue -1, RedGamma 0, GreenGamma 0, BlueGamma 0, GreyGamma 0
ShowProgress    0
HasLinkConfig   1
LinkConfig      "Archive"
LinkSignature   ""
HasUIConfig     0
UIConfig        ""
VRSConfig       ""
)");
    Json json = ParsedJson(Ksconfig({"profile", kScanner, "P1", "--json"}));
    EXPECT_EQ(json["name"].text, "Colour");
    EXPECT_EQ(json["HasLinkConfig"].number, 1);
    EXPECT_EQ(json.members.size(), 32u);  // the 30 fields, and the names of flags and mode
}

TEST_F(KsconfigTest, EventsAndEvent) {
    PrepareTree();
    Result list = Ksconfig({"events", kScanner});
    EXPECT_EQ(list.exit, 0u) << list.err;
    EXPECT_EQ(list.out, R"(1 event of "Test Scanner"
  Button1  "Scan to PDF"  profile "P1"  KSTRANSFER_TIFF  link "Archive"
)");
    Result one = Ksconfig({"event", kScanner, "BUTTON1"});
    EXPECT_EQ(one.exit, 0u) << one.err;
    EXPECT_EQ(one.out, R"(hwguid          {00000000-0000-0000-0000-000000000000}
keyname         "Button1"
name            "Scan to PDF"
flags           0x00000004 KSCNFGFLAG_PDF
config          "P1"
Link            "Archive"
transfer        0x00030004 KSTRANSFER_TIFF
JPGQuality      80
PDFQuality      50
)");
    Json json = ParsedJson(Ksconfig({"events", kScanner, "--json"}));
    ASSERT_EQ(json.items.size(), 1u);
    EXPECT_EQ(json[0]["transferNames"][0].text, "KSTRANSFER_TIFF");
    EXPECT_EQ(json[0]["JPGQuality"].number, 80);
}

TEST_F(KsconfigTest, CalibrationShowsSizesAndBytesOnlyOnRequest) {
    PrepareTree();
    Result run = Ksconfig({"calibration", kScanner});
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, R"(calibration of "Test Scanner": current gamma 2, 2 tables
  Gamma - 1  4 bytes
  Gamma - 2  20 bytes (current)
)");
    Result hex = Ksconfig({"calibration", kScanner, "--hex"});
    EXPECT_EQ(hex.out, R"(calibration of "Test Scanner": current gamma 2, 2 tables
  Gamma - 1  4 bytes
    01 02 03 04
  Gamma - 2  20 bytes (current)
    00 0d 1a 27 34 41 4e 5b 68 75 82 8f 9c a9 b6 c3
    d0 dd ea f7
)");
    Json json = ParsedJson(Ksconfig({"calibration", kScanner, "--json", "--hex"}));
    EXPECT_EQ(json["currentGamma"].number, 2);
    ASSERT_EQ(json["tables"].items.size(), 2u);
    EXPECT_EQ(json["tables"][0]["hex"].text, "01 02 03 04");
    EXPECT_TRUE(json["tables"][1]["current"].boolean);
}

TEST_F(KsconfigTest, CopySettingsAndDriverFiles) {
    PrepareTree();
    Result copy = Ksconfig({"copy-settings", kScanner});
    EXPECT_EQ(copy.exit, 0u) << copy.err;
    EXPECT_EQ(copy.out, R"(path            C:\Scans
flags           0x00000005 KSCPYFLAG_BYWEEK|KSCPYFLAG_BYBUTTON
count           7
)");
    Result files = Ksconfig({"driver-files", kScanner});
    EXPECT_EQ(files.exit, 0u) << files.err;
    // The recorded settings file is returned as it is, present or not; nothing is provisioned.
    std::string bin = ExeFolder();
    EXPECT_EQ(files.out, "install folder  " + bin + "\n" +
                             "ISIS template   " + bin + "\\Profiles\\Test Scanner.isis (missing)\n" +
                             "TWAIN template  " + bin + "\\Profiles\\Test Scanner.twain (missing)\n" +
                             "TWAIN settings  C:\\drivers\\twain.ini (missing)\n");
    Json json = ParsedJson(Ksconfig({"copy-settings", kScanner, "--json"}));
    EXPECT_EQ(json["path"].text, "C:\\Scans");
    EXPECT_EQ(json["count"].number, 7);
}

TEST_F(KsconfigTest, LinksShowsEngineKeys) {
    PrepareTree();
    Result run = Ksconfig({"links"});
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, R"(1 link engine key
  Mail Engine
    GUID       {0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}
    LinkCache  C:\nowhere\mail.cache (missing)
    container  Software\Stellwick\Keystrel 4.0\Mail Engine
link cache      not opened: 0x80030003 (STG_E_PATHNOTFOUND: path not found)
engine classes  none found in the category
link profiles   Software\Stellwick\Keystrel 4.0\LinkProfiles
)");
    Json json = ParsedJson(Ksconfig({"links", "--json"}));
    ASSERT_EQ(json["engines"].items.size(), 1u);
    EXPECT_EQ(json["engines"][0]["key"].text, "Mail Engine");
    EXPECT_FALSE(json["linkCacheOpened"].boolean);
}

TEST_F(KsconfigTest, BadArgumentsAreUsageErrors) {
    const std::vector<std::string> cases[] = {
        {},
        {"frobnicate"},
        {"profiles"},
        {"profiles", kScanner, "--type", "paper"},
        {"profiles", kScanner, "--type"},
        {"profile", kScanner},
        {"event", kScanner, "a", "b"},
        {"scanners", "extra"},
        {"calibration", kScanner, "--bogus"},
        {"export", "a", "b"},
        {"export", "-o"},
        {"import"},
        {"backup-status", "--hex"},
        {"demo", "now"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const std::string& a : args) line += a + " ";
        SCOPED_TRACE(line);
        Result run = Ksconfig(args);
        EXPECT_EQ(run.exit, 2u);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("usage: ksconfig"), std::string::npos) << run.err;
    }
}

TEST_F(KsconfigTest, EveryCommandHasHelp) {
    Result overview = Ksconfig({"--help"});
    EXPECT_EQ(overview.exit, 0u);
    for (const char* command : {"scanners", "profiles", "profile", "events", "event", "calibration", "copy-settings",
                                "driver-files", "links", "export", "import", "backup-status", "restore", "demo"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos);
        Result help = Ksconfig({command, "--help"});
        EXPECT_EQ(help.exit, 0u);
        EXPECT_EQ(help.out.rfind(std::string("usage: ksconfig ") + command, 0), 0u) << help.out;
        EXPECT_NE(help.out.find("Store methods: "), std::string::npos);
    }
}

TEST_F(KsconfigTest, MissingThingsAreNotFound) {
    PrepareTree();
    const std::vector<std::string> cases[] = {
        {"profiles", "No Such Scanner"},
        {"profile", kScanner, "Colour"},  // a display name, not a key name
        {"profile", "No Such Scanner", "P1"},
        {"event", kScanner, "Button2"},
        {"calibration", "No Such Scanner"},
        {"copy-settings", "No Such Scanner"},
        {"export", "No Such Scanner"},
        {"import", "no such file.ks4"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        Result run = Ksconfig(args);
        EXPECT_EQ(run.exit, 1u) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(run.err.empty());
    }
    // Looking did not make a device key for the unknown scanner.
    EXPECT_FALSE(KeyExists(RootPath("No Such Scanner")));
}

TEST_F(KsconfigTest, ExportWritesValueLinesAndLeavesOutWhatCannotReadBack) {
    std::string tiny = RootPath("Tiny");
    SetString(tiny, "", "default");
    SetString(tiny, "Name", "C:\\a \"b\"");
    SetDword(tiny, "Count", 30);
    std::vector<BYTE> bytes;
    for (int i = 0; i < 30; ++i) bytes.push_back(static_cast<BYTE>(i));
    SetBinary(tiny + "\\Tables", "Gamma - 1", bytes);
    SetValue(tiny, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);
    SetString(tiny, "Two lines", "a\r\nb");
    CreateKeyPath(tiny + "\\Empty");

    Result run = Ksconfig({"export", "Tiny"});
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, R"([HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\Tiny]
""="default"
"Count"=dword:0000001e
"Name"="C:\a "b""

[HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\Tiny\Empty]

[HKEY_CURRENT_USER\Software\Stellwick\Keystrel 4.0\Tiny\Tables]
"Gamma - 1"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\
  14,15,16,17,18,19,1a,1b,1c,1d
)");
    EXPECT_NE(run.err.find("left out value \"Expand\""), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("left out value \"Two lines\""), std::string::npos) << run.err;
}

TEST_F(KsconfigTest, ExportDeleteImportExportGivesTheSameText) {
    PrepareTree();
    std::vector<BYTE> big;
    for (int i = 0; i < 700; ++i) big.push_back(static_cast<BYTE>(i));
    SetBinary(Device("CalibrationProfiles"), "Gamma - 3", big);
    SetString(Device("ScanProfiles\\P1"), "VRSConfig", "quote \" and backslash \\\\ stay raw");
    std::string file = ExeFolder() + "\\ksconfig export.txt";
    Result first = Ksconfig({"export", "-o", file});
    ASSERT_EQ(first.exit, 0u) << first.err;
    std::vector<std::string> before = DumpTree(kRoot);

    DeleteKeyTree(kRoot);
    DeleteKeyTree(kBackup);
    ASSERT_FALSE(KeyExists(kRoot));
    Result import = Ksconfig({"import", file});
    EXPECT_EQ(import.exit, 0u) << import.err;
    EXPECT_EQ(import.out.rfind("imported 13 sections from ", 0), 0u) << import.out;
    EXPECT_EQ(DumpTree(kRoot), before);

    Result second = Ksconfig({"export"});
    EXPECT_EQ(second.exit, 0u) << second.err;
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string exported = ReadAll(h);
    CloseHandle(h);
    DeleteFileA(file.c_str());
    EXPECT_EQ(second.out, exported);
}

TEST_F(KsconfigTest, BackupStatusNamesWhatDiffers) {
    SetDword(RootPath("Dev\\A"), "x", 1);
    SetString(RootPath("Dev\\New"), "y", "new");
    SetDword(std::string(kBackup) + "\\Dev\\A", "x", 2);
    CreateKeyPath(std::string(kBackup) + "\\Dev\\Old");
    Result run = Ksconfig({"backup-status"});
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, R"(settings root   present, 3 keys, 2 values
backup tree     present, 3 keys, 1 value
not yet in the backup (the next release of a store object copies them):
  key    Dev\New
  value  Dev\A "x" (differs)
  value  Dev\New "y"
only in the backup (kept by the merge; a rebuilt root would have them again):
  key    Dev\Old
the backup is behind the settings root
)");
    Json json = ParsedJson(Ksconfig({"backup-status", "--json"}));
    EXPECT_FALSE(json["current"].boolean);
    EXPECT_EQ(json["notInBackup"].items.size(), 3u);
    ASSERT_EQ(json["onlyInBackup"].items.size(), 1u);
    EXPECT_EQ(json["onlyInBackup"][0]["path"].text, "Dev\\Old");
    // backup-status creates no store object, so nothing was copied meanwhile.
    EXPECT_EQ(GetDword(std::string(kBackup) + "\\Dev\\A", "x"), 2u);
}

TEST_F(KsconfigTest, RestoreRebuildsAMissingRootThroughTheStore) {
    Result none = Ksconfig({"restore"});
    EXPECT_EQ(none.exit, 1u);
    SetDword(std::string(kBackup) + "\\Dev\\Deep", "x", 5);
    SetString(std::string(kBackup) + "\\Dev", "Name", "d");
    Result run = Ksconfig({"restore"});
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, "rebuilt the settings root from the backup tree: 2 keys, 2 values\n");
    EXPECT_EQ(GetDword(RootPath("Dev\\Deep"), "x"), 5u);
    Result again = Ksconfig({"restore"});
    EXPECT_EQ(again.exit, 0u);
    EXPECT_EQ(again.out, "the settings root is present; nothing to restore\n");
}

TEST_F(KsconfigTest, DemoRunsTheTypicalSessionAgainstTheSampleScanner) {
    ASSERT_NE(GetFileAttributesA((ExeFolder() + "\\Profiles\\Sample Scanner.ks4").c_str()), INVALID_FILE_ATTRIBUTES);
    Result run = Ksconfig({"demo"});
    ASSERT_EQ(run.exit, 0u) << run.out << run.err;
    for (const char* line : {"   LoadConfigInfo(\"Sample Scanner\", KSCNFGFLAG_ALL) -> 0 profiles\n",
                             "   StoreActiveConfig -> 0x00000000 (S_OK: success)\n",
                             "6. GetCalibrationData(\"Sample Scanner\", 256 bytes) -> 0x00000000 (S_OK: success)\n",
                             "   GetDefualtGamma -> 2; table \"Gamma - 2\" starts 00 0c 11 16",
                             "   LoadConfigInfo(\"Sample Scanner\", KSCNFGFLAG_ALL) -> 4 profiles\n",
                             "(the backup now holds \"Sample Scanner\")"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    // The saved profile and the imported defaults are in the registry and in the backup; the
    // events of the default profile file are not imported.
    EXPECT_EQ(SubkeyNames(RootPath("Sample Scanner\\ScanProfiles")).size(), 4u);
    EXPECT_EQ(GetDword(RootPath("Sample Scanner"), "CurrentGamma"), 2u);
    EXPECT_FALSE(KeyExists(RootPath("Sample Scanner\\EventProfiles")));
    EXPECT_EQ(DumpTree(RootPath("Sample Scanner")), DumpTree(std::string(kBackup) + "\\Sample Scanner"));
}

}  // namespace
}  // namespace kstest
