// ksconfig.exe, run as a separate process against prepared settings trees: what it shows and its exit codes, that
// looking leaves root and backup alone, the registry editor files both ways (with Wine's own reg tool), the strict
// import, lasting edits, check and the backup commands.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/registry_io.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

struct Result { DWORD exit = 0; std::string out, err; };

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {  // without the CRs of text mode
    std::string text = ReadBytes(path);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Runs a program through the command interpreter, which passes its exit code on. Each run writes new files: under
// load, the command interpreter was seen refusing to reopen the previous run's output ("Sharing violation.").
Result Launch(const std::string& program, const std::vector<std::string>& args) {
    static int runs = 0;
    const std::string out = "ksconfig" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++runs);
    std::string line = program;
    for (const std::string& a : args) line += " \"" + a + "\"";
    DWORD exit = static_cast<DWORD>(std::system((line + " >" + out + ".out 2>" + out + ".err").c_str()));
    Result result{exit, ReadText(out + ".out"), ReadText(out + ".err")};
    for (const char* kind : {".out", ".err"}) DeleteFileA((out + kind).c_str());
    return result;
}
Result Ksconfig(const std::vector<std::string>& args) { return Launch("ksconfig.exe", args); }

// Exit code `exit` and `shown` in what the command printed: exactly its standard output for a success unless only
// `part` of it, else anywhere in standard output or error. The failure names the command.
::testing::AssertionResult Runs(const std::vector<std::string>& args, const std::string& shown, DWORD exit = 0,
                                bool part = false) {
    const Result run = Ksconfig(args);
    const bool found = exit == 0 && !part ? run.out == shown : (run.out + run.err).find(shown) != std::string::npos;
    if (run.exit == exit && found) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (args.empty() ? "" : args[0]) << " exited " << run.exit << ", printed\n"
                                         << run.out << run.err;
}

const char* kScanner = "Test Scanner";
std::string Device(const std::string& below) { return RootPath(std::string(kScanner) + below); }
std::string Backup(const std::string& below) { return std::string(kBackup) + "\\" + kScanner + below; }

// ksconfig.exe reads the real hive, so the settings there are moved aside, not overridden.
class KsconfigTest : public ::testing::Test {
    SavedSettings saved_;
};

void Fill(const std::string& key, std::initializer_list<std::pair<const char*, DWORD>> numbers,
          std::initializer_list<std::pair<const char*, const char*>> texts = {}) {
    for (const auto& [name, value] : numbers) SetDword(key, name, value);
    for (const auto& [name, text] : texts) SetString(key, name, text);
}

// Three profiles (P2 is shown for every type), one event, two calibration tables, one link engine key and other
// components' keys; with `backup`, a backup tree that holds all of it.
void PrepareTree(bool backup = false) {
    Fill(Device("\\ScanProfiles\\P1"), {{"Flags", 0x5}, {"DataType", 0x4}, {"Xresolution", 300}, {"Yresolution", 300}},
         {{"Name", "Colour"}});
    Fill(Device("\\ScanProfiles\\P2"), {{"Flags", 0x1010}, {"DataType", 0x40001}, {"Xresolution", 200},
         {"Yresolution", 200}}, {{"Name", "Fax"}});
    Fill(Device("\\ScanProfiles\\P3"), {{"Flags", 0x2}}, {{"Name", "Text"}});
    Fill(Device("\\EventProfiles\\Button1"), {{"Transfer", 0x30004}},
         {{"Name", "Scan to PDF"}, {"ScanConfig", "P1"}, {"Link", "Archive"}});
    Fill(Device(""), {{"CurrentGamma", 2}});
    Fill(RootPath("Mail Engine"), {}, {{"", "LINKENGINE"}, {"GUID", "{0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}"},
         {"LinkCache", "C:\\nowhere\\mail.cache"}});
    BYTE table[20];
    for (int i = 0; i < 20; ++i) table[i] = static_cast<BYTE>(i * 13);
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 1", REG_BINARY, "\1\2\3\4", 4);
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 2", REG_BINARY, table, sizeof(table));
    CreateKeyPath(RootPath("UIInterfaceProfiles"));
    if (backup) {
        ASSERT_EQ(RegCopyTreeA(HKEY_CURRENT_USER, kRoot, ks::CreateKey(HKEY_CURRENT_USER, kBackup).get()), 0);
    }
}

// One listing per command family, in text or JSON (key names match in any letter case); usage errors exit 2 and
// what is not there exits 1, each with the reason, as JSON when asked for, and nothing is created.
TEST_F(KsconfigTest, CommandsShowTheRecordedSettingsOrExitWithTheirCodes) {
    PrepareTree();
    const struct { std::vector<std::string> args; std::string shown; DWORD exit = 0; bool part = false; } cases[] = {
        {{"scanners"}, "1 scanner with settings\n"
                       "  Test Scanner: 3 scan profiles, 1 event, current gamma 2, 2 calibration tables\n"},
        {{"profile", kScanner, "p1", "--json"},
         R"("keyName":"P1","name":"Colour","flags":5,"flagNames":["KSCNFGFLAG_IMAGES","KSCNFGFLAG_PDF"],)", 0, true},
        // P2 is shown for every type, P3 is not an image profile.
        {{"profiles", kScanner, "--type", "images"}, "2 scan profiles of \"Test Scanner\" (type images)\n"
         "  P1  \"Colour\"  KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF   KSCNFGMODE_COLOR                     300x300 dpi\n"
         "  P2  \"Fax\"     KSCNFGFLAG_FAX|KSCNFGFLAG_SHOWALL  KSCNFGMODE_BITONAL|KSCNFGMODE_TWAIN  200x200 dpi\n"},
        {{"events", kScanner},
        "1 event of \"Test Scanner\"\n  Button1  \"Scan to PDF\"  profile \"P1\"  KSTRANSFER_TIFF  link \"Archive\"\n"},
        {{"calibration", kScanner, "--hex"}, "calibration of \"Test Scanner\": current gamma 2, 2 tables\n"
         "  Gamma - 1  4 bytes\n    01 02 03 04\n  Gamma - 2  20 bytes (current)\n"
         "    00 0d 1a 27 34 41 4e 5b 68 75 82 8f 9c a9 b6 c3\n    d0 dd ea f7\n"},
        // The lines after the engine keys hold what the platform says of the cache file and the engine category.
        {{"links"}, "1 link engine key\n  Mail Engine\n    GUID       {0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}\n"
                    "    LinkCache  C:\\nowhere\\mail.cache (missing)\n", 0, true},
        {{"links", "--json"}, R"("loadLinkInfo":"0x8)", 0, true}, {{"--version"}, "ksconfig 4.", 0, true},
        {{}, "no command given", 2}, {{"frobnicate"}, "unknown command", 2}, {{"export", "-o"}, "-o needs a value", 2},
        {{"profiles", kScanner, "--type", "paper"}, "unknown profile type", 2}, {{"profile", kScanner}, "missing", 2},
        {{"backup-status", "--hex"}, "unknown option --hex", 2}, {{"import", "no such file.reg"}, "no file", 1},
        {{"profile", kScanner, "Colour"}, "no scan profile with the key name", 1},  // a display name, not a key name
        {{"event", kScanner, "Button2", "--json"}, R"({"error":{"exitCode":1,"message":"scanner \"Test Scanner\" has)", 1},
        {{"calibration", "Nope"}, "no settings", 1}, {{"set-profile", kScanner, "P1"}, "missing", 2},
    };
    for (const auto& c : cases) EXPECT_TRUE(Runs(c.args, c.shown, c.exit, c.part));
    EXPECT_FALSE(KeyExists(RootPath("Nope")));
}

// A bad value in the root that the backup does not have, a profile the store does not list, and settings the store
// makes on first use: every reading command shows them and leaves root and backup as they were.
TEST_F(KsconfigTest, LookingChangesNeitherTheRootNorTheBackup) {
    PrepareTree(true);
    SetString(Device("\\ScanProfiles\\P1"), "Xresolution", "abc");
    SetString(Device("\\ScanProfiles\\Hidden"), "Name", "no flags");
    const std::vector<std::string> root = DumpTree(kRoot), backup = DumpTree(kBackup);
    const struct { std::vector<std::string> args; std::string shown; DWORD exit = 0; } looks[] = {
        {{"scanners"}, "Test Scanner"}, {{"profiles", kScanner}, "(ksconfig check \"Test Scanner\" lists them)"},
        {{"profile", kScanner, "P1"}, "\"Xresolution\": REG_SZ of 4 bytes where the store reads a REG_DWORD: it reads 6513249"},
        {{"profile", kScanner, "hidden", "--json"}, R"("problem":"missing: the store lists no profile without it")"},
        {{"events", kScanner}, "Button1"}, {{"event", kScanner, "button1"}, "Scan to PDF"},
        {{"calibration", kScanner}, "current gamma 2"},
        {{"copy-settings", kScanner}, "(first-use defaults: a client's first call writes them; nothing was written)"},
        {{"driver-files", kScanner, "--ui-profile", "UI"}, "none yet (a client's first call copies the template"},
        {{"links"}, "Mail Engine"}, {{"export", "--format", "reg"}, ""}, {{"check"}, "problems in", 1},
        {{"backup-status"}, "the backup is behind the settings root", 4},
    };
    for (const auto& l : looks) {
        EXPECT_TRUE(Runs(l.args, l.shown, l.exit, true));
        EXPECT_EQ(DumpTree(kRoot), root) << l.args[0];
        EXPECT_EQ(DumpTree(kBackup), backup) << l.args[0];
    }
    EXPECT_TRUE(SubkeyNames("Software\\ksconfig scratch").empty());
}

// Files written by export read back into the same tree through Wine's own reg tool, and files written by that tool
// (and export's profile text) through ksconfig's import.
TEST_F(KsconfigTest, RegistryEditorFilesRoundTripWithTheRegTool) {
    PrepareTree();
    const std::string odd = RootPath("Odd");
    Fill(odd, {{"Count", 30}}, {{"", "default"}, {"Path", "C:\\a\\\\b \"c\" ; [x]"}});
    SetValue(odd, "Expand", REG_EXPAND_SZ, "%TEMP%\\x", 9);
    SetValue(odd, "Multi", REG_MULTI_SZ, "a\0b\0", 5);
    std::vector<BYTE> bytes(300);
    for (int i = 0; i < 300; ++i) bytes[i] = static_cast<BYTE>(i);
    SetValue(odd + "\\Tables", "Gamma - 1", REG_BINARY, bytes.data(), 300);
    CreateKeyPath(odd + "\\Empty");
    const std::vector<std::string> before = DumpTree(kRoot);
    const std::string file = "ksconfig round trip.reg";
    const std::string rootName = std::string("HKEY_CURRENT_USER\\") + kRoot;

    ASSERT_EQ(Ksconfig({"export", "--format", "reg", "-o", file}).exit, 0u);
    EXPECT_EQ(ReadBytes(file).substr(0, 6), std::string("\xFF\xFEW\0i\0", 6));  // UTF-16 after its byte-order mark
    DeleteKeyTree(kRoot);
    EXPECT_EQ(Launch("reg.exe", {"import", file}).exit, 0u);
    EXPECT_EQ(DumpTree(kRoot), before);

    ASSERT_EQ(Launch("reg.exe", {"export", rootName, file, "/y"}).exit, 0u);
    DeleteKeyTree(kRoot);
    Result import = Ksconfig({"import", file});
    EXPECT_EQ(import.out.rfind("imported 14 keys and ", 0), 0u)
        << import.out << import.err;
    EXPECT_EQ(DumpTree(kRoot), before);

    Result text = Ksconfig({"export", "-o", file});  // profile text leaves out what it cannot hold, and says so
    EXPECT_NE(text.err.find("left out value \"Expand\""), std::string::npos) << text.err;
    DeleteKeyTree(kRoot);
    EXPECT_EQ(Ksconfig({"import", file}).exit, 0u);
    std::vector<std::string> held = before;
    std::erase_if(held, [](const std::string& line) {
        return line.find("|Expand|") != std::string::npos || line.find("|Multi|") != std::string::npos;
    });
    EXPECT_EQ(DumpTree(kRoot), held);

    // REGEDIT4: 8-bit text, whose hex(2) bytes are 8-bit text too.
    WriteFile(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + std::string(kRoot) + "\\Odd]\r\n\"Path\"=\"C:\\\\x\"\r\n"
                    "\"Expand\"=hex(2):25,54,00\r\n");
    EXPECT_EQ(Ksconfig({"import", file}).exit, 0u);
    EXPECT_EQ(GetValue(odd, "Path"), Sz("C:\\x"));
    EXPECT_EQ(GetValue(odd, "Expand"), (RegValue{REG_EXPAND_SZ, {'%', 'T', 0}}));
    DeleteFileA(file.c_str());
}

// A damaged file writes nothing and names each bad line; only the settings and their backup may be written.
TEST_F(KsconfigTest, ImportRefusesDamagedFilesAndOtherRootsWritingNothing) {
    PrepareTree();
    const std::string key = std::string("[HKEY_CURRENT_USER\\") + kRoot + "\\Test Scanner]\r\n";
    const std::string reg5 = "Windows Registry Editor Version 5.00\r\n\r\n" + key;
    const std::string file = "ksconfig damaged.reg";
    ASSERT_EQ(Ksconfig({"export", kScanner, "--format", "reg", "-o", file}).exit, 0u);
    const std::string whole = ReadBytes(file);
    const std::size_t cut = whole.find(std::string("X\0r\0e\0s\0", 8));  // "Xresolution" of a profile, cut in two
    const struct { std::string text; std::string shown; } damaged[] = {
        {reg5 + "\"A\"=dword:xyz\r\n\"B\"=dword:1\r\n", ":4: dword: needs 1 to 8 hexadecimal digits"},
        {key + "\"A\"=hex:zz,01\r\n", ":2: \"zz\" is not a byte of two hexadecimal digits"},
        {key + "[HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\\X\r\n\"A\"=\"1\"\r\n", ":2: section header without its closing ]"},
        {key + "[HKEY_LOCAL_MACHINE\\Software\\Ks Test]\r\n\"A\"=\"1\"\r\n", ":2: \"HKEY_LOCAL_MACHINE\" is refused"},
        {reg5 + "[HKEY_CLASSES_ROOT\\Ks Test]\r\n", ":4: \"HKEY_CLASSES_ROOT\" is refused"},
        {whole.substr(0, cut + 7), "the file ends inside this line: cut short?"},  // and inside a UTF-16 character
        {"\x89PNG\r\n\x1a\n\x01\x02\xff", ":1: no \"=\" in a value line"},
    };
    const std::vector<std::string> before = DumpTree(kRoot);
    for (const auto& d : damaged) {
        WriteFile(file, d.text);
        EXPECT_TRUE(Runs({"import", file}, d.shown, 1));
        EXPECT_EQ(DumpTree(kRoot), before) << d.shown;
    }
    EXPECT_FALSE(KeyExists("Software\\Ks Test", HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(KeyExists("Ks Test", HKEY_CLASSES_ROOT));

    WriteFile(file, reg5 + "\"CurrentGamma\"=dword:00000007\r\n\"New\"=\"x\"\r\n");
    EXPECT_TRUE(Runs({"import", file, "--dry-run"}, "would import 1 key and 2 values from " + file + " (registry editor file, "
                     "version 5):\n  changed    Software\\Stellwick\\Keystrel 4.0\\Test Scanner \"CurrentGamma\" = "
                     "dword:00000007 (was dword:00000002)\n  new value  Software\\Stellwick\\Keystrel 4.0\\Test Scanner "
                     "\"New\" = \"x\"\n"));
    EXPECT_EQ(DumpTree(kRoot), before);
    DeleteFileA(file.c_str());
}

// Edits reach the root and the backup, so a root rebuilt from the backup keeps them; a value that does not fit its
// field writes nothing.
TEST_F(KsconfigTest, EditsAndDeletionsLastThroughARebuild) {
    PrepareTree(true);
    SetString(Device("\\ScanProfiles\\P1"), "Xresolution", "abc");
    // Storing the record would turn the text into the number the store reads, unless it is set too.
    EXPECT_TRUE(Runs({"set-profile", kScanner, "P1", "name=x"}, "\"Xresolution\": REG_SZ of 4 bytes where the store reads a "
                     "REG_DWORD: it reads 6513249; storing the record would keep that: set xResolution too", 1));
    EXPECT_EQ(GetString(Device("\\ScanProfiles\\P1"), "Xresolution"), "abc");
    EXPECT_TRUE(Runs({"set-profile", kScanner, "P1", "xResolution=600", "flags=KSCNFGFLAG_TEXT|KSCNFGFLAG_PDF",
                      "toneMap.hue=-5"}, "scan profile \"P1\" of \"Test Scanner\":\n"
                      "  flags               0x00000006 KSCNFGFLAG_TEXT|KSCNFGFLAG_PDF (was 0x00000005 KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF)\n"
                      "  xResolution         600 (was 6513249)\n  toneMap.hue         -5 (was 0)\n"));
    const std::vector<std::string> edited = DumpTree(kRoot);
    EXPECT_EQ(GetDword(Backup("\\ScanProfiles\\P1"), "Xresolution"), 600u);
    const struct { std::vector<std::string> args; std::string shown; DWORD exit; } refused[] = {
        {{"set-profile", kScanner, "P1", "xResolution=600", "pixelBits=4294967296"}, "pixelBits: \"4294967296\" is not a number", 1},
        {{"set-profile", kScanner, "P1", "name=" + std::string(64, 'n')}, "name: 64 characters do not fit; at most 63", 1},
        {{"set-profile", kScanner, "P1", "flags=KSCNFGFLAG_NOPE"}, "\"KSCNFGFLAG_NOPE\" is not a member", 1},
        {{"set-profile", kScanner, "P1", "linkSignature=x"}, "linkSignature is not kept by the store", 1},
        {{"set-event", kScanner, "Button1", "jpgQuality=-1"}, "jpgQuality: \"-1\" is not a number from 0", 1},
        {{"set-event", kScanner, "Button9", "jpgQuality=1"}, "has no event with the key name \"Button9\"", 1},
    };
    for (const auto& r : refused) EXPECT_TRUE(Runs(r.args, r.shown, r.exit));
    EXPECT_EQ(DumpTree(kRoot), edited);

    EXPECT_TRUE(Runs({"set-event", kScanner, "button1", "jpgQuality=90"}, "jpgQuality          90 (was 0)", 0, true));
    EXPECT_TRUE(Runs({"delete-profile", kScanner, "p1"}, "deleted scan profile \"p1\" of \"Test Scanner\" from the settings "
                     "root and the backup tree\n  event \"Button1\" still names it (ksconfig set-event to change)\n"));
    SetString(Device("\\ScanProfiles\\Hidden"), "Name", "no flags");  // not listed by the store, deleted all the same
    EXPECT_TRUE(Runs({"delete-profile", kScanner, "Hidden"}, "from the settings root\n", 0, true));
    EXPECT_TRUE(Runs({"delete-event", kScanner, "Button1"}, "from the settings root and the backup tree", 0, true));
    DeleteKeyTree(kRoot);
    EXPECT_TRUE(Runs({"restore"}, "rebuilt the settings root from the backup tree", 0, true));
    EXPECT_EQ(SubkeyNames(Device("\\ScanProfiles")), (std::vector<std::string>{"P2", "P3"}));
    EXPECT_FALSE(KeyExists(Device("\\EventProfiles\\Button1")));
}

TEST_F(KsconfigTest, CheckBackupStatusAndRestore) {
    PrepareTree(true);
    SetString(Device("\\ScanProfiles\\P1"), "Xresolution", "abc");
    SetDword(Device("\\ScanProfiles\\P3"), "Flags", 0x2000);
    SetString(Device("\\EventProfiles\\Button1"), "ScanConfig", "P9");
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 2", REG_BINARY, "\1\2\3\4", 4);
    SetValue(Device("\\CalibrationProfiles"), "Gamma - 3", REG_SZ, "x", 2);
    SetDword(Device(""), "CurrentGamma", 9);
    DeleteKeyTree(Device("\\ScanProfiles\\P2"));
    const Result check = Ksconfig({"check", kScanner});
    EXPECT_EQ(check.exit, 1u);
    for (const char* line : {
             "12 problems in HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\\Test Scanner:\n",
             "  Test Scanner\\ScanProfiles\\P1 \"Xresolution\": REG_SZ of 4 bytes where the store reads a REG_DWORD: it reads 6513249\n",
             "  Test Scanner\\ScanProfiles\\P3 \"Flags\": no profile type and no KSCNFGFLAG_SHOWALL: the store lists it for no type\n",
             "  Test Scanner\\EventProfiles\\Button1 \"ScanConfig\": names the scan profile \"P9\", which is missing\n",
             "  Test Scanner\\CalibrationProfiles \"Gamma - 3\": REG_SZ where the store reads a REG_BINARY table: it finds no table\n",
             "  Test Scanner \"CurrentGamma\": names the table \"Gamma - 9\", which is missing\n",
             "  Test Scanner\\ScanProfiles\\P1 \"Xresolution\": differs from the backup: \"abc\" here, dword:0000012c there\n",
             "  Test Scanner\\ScanProfiles\\P2: only in the backup: a rebuilt settings root would have it again\n"}) {
        EXPECT_NE(check.out.find(line), std::string::npos) << line << check.out;
    }
    EXPECT_TRUE(Runs({"check", "--json"}, R"({"key":"Test Scanner\\ScanProfiles\\P2","value":null,"problem":"only in the backup)",
                     1, true));
    EXPECT_TRUE(Runs({"backup-status"}, "  value  Test Scanner\\ScanProfiles\\P1 \"Xresolution\": root \"abc\", backup "
                     "dword:0000012c\n", 4, true));

    const std::string saved = "ksconfig saved root.reg";
    EXPECT_TRUE(Runs({"restore"}, "the settings root is present; nothing to restore (--force replaces it)\n"));
    EXPECT_TRUE(Runs({"restore", "--force", "-o", saved}, "saved in ", 0, true));
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    EXPECT_EQ(Ksconfig({"check"}).exit, 0u);
    EXPECT_TRUE(Runs({"import", saved}, "imported", 0, true));  // what was replaced comes back
    EXPECT_EQ(GetString(Device("\\ScanProfiles\\P1"), "Xresolution"), "abc");

    SetDword(Backup("\\ScanProfiles\\P1"), "Xresolution", 150);
    SetDword(RootPath("Other\\X"), "Kept", 1);
    EXPECT_TRUE(Runs({"restore", "--scanner", kScanner, "-o", saved}, "rebuilt the settings of scanner \"Test Scanner\"", 0, true));
    EXPECT_EQ(DumpTree(Device("")), DumpTree(Backup("")));
    EXPECT_EQ(GetDword(RootPath("Other\\X"), "Kept"), 1u);
    DeleteFileA(saved.c_str());
    DeleteKeyTree(kBackup);
    EXPECT_TRUE(Runs({"restore", "--force"}, "there is no backup", 1));
}

TEST_F(KsconfigTest, DemoRunsTheTypicalSessionAgainstTheSampleScanner) {
    EXPECT_TRUE(Runs({"demo"}, "GetDefualtGamma -> 2; table \"Gamma - 2\" starts 00 0c 11 16", 0, true));
    // The saved profile and imported defaults are in root and backup; the file's events are not imported.
    EXPECT_FALSE(KeyExists(RootPath("Sample Scanner\\EventProfiles")));
    EXPECT_EQ(DumpTree(RootPath("Sample Scanner")), DumpTree(std::string(kBackup) + "\\Sample Scanner"));
}

}  // namespace
}  // namespace kstest
