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

std::string ReadText(const std::string& path) {  // without the CRs of text mode
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Runs ksconfig.exe through the command interpreter, which passes its exit code on. Each run
// writes new files: under load, the command interpreter was seen refusing to reopen the previous
// run's output ("Sharing violation.").
Result Ksconfig(const std::vector<std::string>& args) {
    static int runs = 0;
    const std::string out = "ksconfig" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++runs);
    std::string line = "ksconfig.exe";
    for (const std::string& a : args) line += " \"" + a + "\"";
    DWORD exit = static_cast<DWORD>(std::system((line + " >" + out + ".out 2>" + out + ".err").c_str()));
    Result result{exit, ReadText(out + ".out"), ReadText(out + ".err")};
    for (const char* kind : {".out", ".err"}) DeleteFileA((out + kind).c_str());
    return result;
}

// Exit code `exit` and `shown` in what the command printed: all of standard output (only part of it with `part`)
// or, for a failing command, part of standard error with nothing on standard output. The failure names the command.
::testing::AssertionResult Runs(const std::vector<std::string>& args, const std::string& shown, DWORD exit = 0,
                                bool part = false) {
    const Result run = Ksconfig(args);
    const std::string& text = exit == 0 ? run.out : run.err;
    const bool found = exit == 0 && !part ? text == shown : text.find(shown) != std::string::npos;
    if (run.exit == exit && found && (exit == 0 || run.out.empty())) return ::testing::AssertionSuccess();
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

// Three profiles (P2 is shown for every type), one event, two calibration tables, one link
// engine key and other components' keys.
void PrepareTree() {
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
}

// One listing per command family, in text or JSON (key names match in any letter case); usage errors exit 2 and
// what is not there exits 1, each with the reason on standard error, and nothing is created.
TEST_F(KsconfigTest, CommandsShowTheRecordedSettingsOrExitWithTheirCodes) {
    PrepareTree();
    const struct { std::vector<std::string> args; std::string shown; DWORD exit = 0; bool part = false; } cases[] = {
        {{"scanners"}, "1 scanner with settings\n"
                       "  Test Scanner: 3 scan profiles, 1 event, current gamma 2, 2 calibration tables\n"},
        {{"profile", kScanner, "p1", "--json"},
         R"("keyname":"P1","name":"Colour","flags":5,"flagNames":["KSCNFGFLAG_IMAGES","KSCNFGFLAG_PDF"],)", 0, true},
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
        {{}, "no command given", 2}, {{"frobnicate"}, "unknown command", 2}, {{"export", "-o"}, "-o needs a value", 2},
        {{"profiles", kScanner, "--type", "paper"}, "unknown profile type", 2}, {{"profile", kScanner}, "missing", 2},
        {{"backup-status", "--hex"}, "unknown option --hex", 2}, {{"import", "no such file.ks4"}, "no file", 1},
        {{"profile", kScanner, "Colour"}, "no scan profile with the key name", 1},  // a display name, not a key name
        {{"event", kScanner, "Button2"}, "no event with the key", 1}, {{"calibration", "Nope"}, "no settings", 1},
    };
    for (const auto& c : cases) EXPECT_TRUE(Runs(c.args, c.shown, c.exit, c.part));
    EXPECT_FALSE(KeyExists(RootPath("Nope")));
}

// The value lines themselves are pinned by the writer's native test; here the whole tree must come back.
TEST_F(KsconfigTest, ExportThenImportRebuildsTheSameTreeAndWhatCannotReadBackIsLeftOut) {
    PrepareTree();
    const std::string tiny = RootPath("Tiny");  // a default value, raw text, an empty key, a continued hex line
    Fill(tiny, {{"Count", 30}}, {{"", "default"}, {"Name", "C:\\a\\\\b \"c\" stay raw"}});
    std::vector<BYTE> bytes(300);
    for (int i = 0; i < 300; ++i) bytes[i] = static_cast<BYTE>(i);
    SetValue(tiny + "\\Tables", "Gamma - 1", REG_BINARY, bytes.data(), 300);
    CreateKeyPath(tiny + "\\Empty");

    const std::string file = "ksconfig export.txt";  // relative: the importer is handed a full path by ksconfig
    ASSERT_EQ(Ksconfig({"export", "-o", file}).exit, 0u);
    std::vector<std::string> before = DumpTree(kRoot);
    DeleteKeyTree(kRoot);
    DeleteKeyTree(kBackup);
    Result import = Ksconfig({"import", file});
    EXPECT_EQ(import.exit, 0u) << import.err;
    EXPECT_EQ(import.out.rfind("imported 14 keys and ", 0), 0u) << import.out;
    EXPECT_EQ(DumpTree(kRoot), before);
    DeleteFileA(file.c_str());

    SetValue(tiny, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);  // why the writer refuses it is pinned natively
    Result run = Ksconfig({"export", "Tiny"});
    EXPECT_TRUE(run.exit == 0 && run.out.find("\"Count\"=dword:0000001e\n") != std::string::npos &&
                run.out.find("Expand") == std::string::npos) << run.out;
    EXPECT_NE(run.err.find("left out value \"Expand\""), std::string::npos) << run.err;
}

TEST_F(KsconfigTest, BackupStatusAndRestore) {
    SetDword(RootPath("Dev\\A"), "x", 1);
    SetString(RootPath("Dev\\New"), "y", "new");
    SetDword(std::string(kBackup) + "\\Dev\\A", "x", 2);
    CreateKeyPath(std::string(kBackup) + "\\Dev\\Old");
    EXPECT_TRUE(Runs({"backup-status"}, R"(settings root   present, 3 keys, 2 values
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
    EXPECT_TRUE(Runs({"restore"}, "rebuilt the settings root from the backup tree: 3 keys, 1 value\n"));
    EXPECT_EQ(GetDword(RootPath("Dev\\A"), "x"), 2u);
    EXPECT_TRUE(Runs({"restore"}, "the settings root is present; nothing to restore\n"));
    DeleteKeyTree(kRoot);
    DeleteKeyTree(kBackup);
    EXPECT_TRUE(Runs({"restore"}, "there is no backup tree", 1));
}

TEST_F(KsconfigTest, DemoRunsTheTypicalSessionAgainstTheSampleScanner) {
    EXPECT_TRUE(Runs({"demo"}, "GetDefualtGamma -> 2; table \"Gamma - 2\" starts 00 0c 11 16", 0, true));
    // The saved profile and imported defaults are in root and backup; the file's events are not imported.
    EXPECT_FALSE(KeyExists(RootPath("Sample Scanner\\EventProfiles")));
    EXPECT_EQ(DumpTree(RootPath("Sample Scanner")), DumpTree(std::string(kBackup) + "\\Sample Scanner"));
}

}  // namespace
}  // namespace kstest
