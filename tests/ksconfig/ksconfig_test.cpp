// ksconfig.exe, run as a separate process against prepared settings trees: what it shows and its exit codes, that
// looking leaves root and backup alone, that no command follows a registry link, that a refused command writes
// nothing and an edit only its record, the registry editor files both ways (with Wine's own reg tool), the strict
// import, check and the backup commands, and the one shape of its JSON errors.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

struct Result { DWORD exit = 0; std::string out, err; bool finished = true; };

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

// Runs a program with its output in files; one still running after `seconds` is ended and reported unfinished.
Result Launch(const std::string& program, const std::vector<std::string>& args, DWORD seconds = 20) {
    static int runs = 0;
    const std::string base = "ksconfig" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++runs);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Result result;
    {
        ks::UniqueFile out(CreateFileA((base + ".out").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        ks::UniqueFile err(CreateFileA((base + ".err").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOA start{};
        start.cb = sizeof(start);
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        start.hStdOutput = out.get();
        start.hStdError = err.get();
        std::string line = "\"" + program + "\"";
        for (const std::string& a : args) line += " \"" + a + "\"";
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
            ADD_FAILURE() << "cannot start " << line << ": error " << GetLastError();
            return result;
        }
        result.finished = WaitForSingleObject(process.hProcess, seconds * 1000) == WAIT_OBJECT_0;
        if (!result.finished) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        GetExitCodeProcess(process.hProcess, &result.exit);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    result.out = ReadText(base + ".out");
    result.err = ReadText(base + ".err");
    for (const char* kind : {".out", ".err"}) DeleteFileA((base + kind).c_str());
    return result;
}
Result Ksconfig(const std::vector<std::string>& args) { return Launch("ksconfig.exe", args); }

// Exit code `exit` and `shown` in what the command printed: exactly its standard output for a success unless only
// `part` of it, else anywhere in standard output or error. The failure names the command.
::testing::AssertionResult Runs(const std::vector<std::string>& args, const std::string& shown, DWORD exit = 0,
                                bool part = false) {
    const Result run = Ksconfig(args);
    const bool found = exit == 0 && !part ? run.out == shown : (run.out + run.err).find(shown) != std::string::npos;
    if (run.finished && run.exit == exit && found) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (args.empty() ? "" : args[0]) << (run.finished ? "" : " did not finish,")
                                         << " exited " << run.exit << ", printed\n" << run.out << run.err;
}

const char* kScanner = "Test Scanner";
std::string Device(const std::string& below) { return RootPath(std::string(kScanner) + below); }
std::string Backup(const std::string& below) { return std::string(kBackup) + "\\" + kScanner + below; }

// The lines of a DumpTree() that are (`inside`) or are not the record at `record` (a subpath) and what is below it.
std::vector<std::string> Part(const std::vector<std::string>& dump, const std::string& record, bool inside) {
    std::vector<std::string> out;
    for (const std::string& line : dump) {
        const bool in = line.rfind(record + "|", 0) == 0 || line.rfind(record + "\\", 0) == 0;
        if (in == inside) out.push_back(line);
    }
    return out;
}

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

const std::string kReg5 = "Windows Registry Editor Version 5.00\r\n\r\n";
std::string Section(const std::string& below) { return "[HKEY_CURRENT_USER\\" + below + "]\r\n"; }

// One listing per command family, in text or JSON (key names match in any letter case); usage errors exit 2 and
// what is not there exits 1, each with the reason, as JSON when asked for, and nothing is created.
TEST_F(KsconfigTest, CommandsShowTheRecordedSettingsOrExitWithTheirCodes) {
    PrepareTree();
    SetValue(Device("\\CalibrationProfiles"), "A note", REG_SZ, "x", 2);  // no table: listed after the tables
    Fill(Device(""), {{"CopyFlags", 6}, {"CopyCount", 5}}, {{"CopyPath", "C:\\Scans"}});
    char twain[MAX_PATH];
    GetFullPathNameA("ksconfig twain.ini", MAX_PATH, twain, nullptr);
    WriteFile(twain, "[Twain]\r\n");
    SetString(Device("\\TwainSettings"), "IniFile", twain);
    const struct { std::vector<std::string> args; std::string shown; DWORD exit = 0; bool part = false; } cases[] = {
        {{"scanners"}, "1 scanner with settings\n"
                       "  Test Scanner: 3 scan profiles, 1 event, current gamma 2\n"},
        {{"profile", kScanner, "p1", "--json"},
         R"("keyName":"P1","name":"Colour","linkConfig":"","uiConfig":"","flags":5,"flagNames":["KSCNFGFLAG_IMAGES","KSCNFGFLAG_PDF"],)",
         0, true},
        // P2 is shown for every type, P3 is not an image profile.
        {{"profiles", kScanner, "--type", "KSCNFGFLAG_IMAGES"}, "2 scan profiles of \"Test Scanner\" (type KSCNFGFLAG_IMAGES)\n"
         "  P1  \"Colour\"  KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF   KSCNFGMODE_COLOR                     300x300 dpi\n"
         "  P2  \"Fax\"     KSCNFGFLAG_FAX|KSCNFGFLAG_SHOWALL  KSCNFGMODE_BITONAL|KSCNFGMODE_TWAIN  200x200 dpi\n"},
        {{"profiles", kScanner, "--json"}, R"("keyName":"P3","name":"Text","linkConfig":"","uiConfig":"","flags":2,)", 0, true},
        {{"events", kScanner},
        "1 event of \"Test Scanner\"\n  Button1  \"Scan to PDF\"  profile \"P1\"  KSTRANSFER_TIFF  link \"Archive\"\n"},
        {{"calibration", kScanner}, "calibration of \"Test Scanner\": current gamma 2, 3 tables\n"
         "  Gamma - 1  4 bytes\n  Gamma - 2  20 bytes (current)\n  A note     2 bytes, REG_SZ (not read as a table)\n"},
        // Settings the store reads as they are: no first-use defaults, and the recorded file stays.
        {{"copy-settings", kScanner}, "path            C:\\Scans\nflags           0x00000006 KSCPYFLAG_BYMONTH|KSCPYFLAG_BYBUTTON\n"
                                      "count           5\n"},
        {{"driver-files", kScanner}, "TWAIN settings  " + std::string(twain) + " (present)\n", 0, true},
        {{"driver-files", kScanner, "--ui-profile", "UI", "--json"},
         R"("isisSettings":{"path":null,"present":false,"firstUse":true})", 0, true},
        // The lines after the engine keys hold what the platform says of the cache file and the engine category.
        {{"links"}, "1 link engine key\n  Mail Engine\n    GUID       {0B7C39E4-3C1A-4C8E-9A3B-5D6E7F8091A2}\n"
                    "    LinkCache  C:\\nowhere\\mail.cache (missing)\n", 0, true},
        {{"links", "--json"}, R"("loadLinkInfo":"0x8)", 0, true}, {{"links", "--json"}, R"("linkCacheOpened":false,)", 0, true},
        {{"--version"}, "ksconfig 4.", 0, true},
        {{"--help"}, "  set-profile    change fields of a scan profile through the store\n", 0, true},
        {{}, "no command given", 2}, {{"frobnicate"}, "unknown command", 2}, {{"export", "-o"}, "-o needs a value", 2},
        {{"profiles", kScanner, "--type", "paper"}, "--type: \"paper\" is not a member", 2}, {{"profile", kScanner}, "missing", 2},
        {{"backup-status", "--hex"}, "unknown option --hex", 2},
        {{"profile", kScanner, "colour"}, "has no scan profile with the key name \"colour\": that is the display name of "
                                          "P1; give the key name", 1},
        {{"profile", kScanner, "P9"}, "; its scan profiles are P1, P2, P3", 1},
        {{"calibration", "Nope"}, "no settings for scanner \"Nope\"", 1}, {{"set-profile", kScanner, "P1"}, "missing", 2},
        // After "--" a name that starts with "-" is a name, not an option.
        {{"calibration", "--", "-Nope"}, "no settings for scanner \"-Nope\"", 1},
    };
    for (const auto& c : cases) EXPECT_TRUE(Runs(c.args, c.shown, c.exit, c.part));
    EXPECT_FALSE(KeyExists(RootPath("Nope")));
    EXPECT_TRUE(DeleteFileA(twain));
}

union Record {
    _KSCONFIG profile;
    _KSEVENT event;
};

// A field of a record as ksconfig prints it for people ("300", "\"Colour\"", "0x00001010 ...") or in JSON.
std::string Shown(const ks::Field& f, const Record& record, bool json) {
    const char* at = reinterpret_cast<const char*>(&record) + f.offset;
    DWORD n = 0;
    std::memcpy(&n, at, sizeof(n));
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08lx", static_cast<unsigned long>(n));
    if (f.kind == ks::Field::Kind::Text) return "\"" + ks::FieldText(at, f.size) + "\"";
    if (f.kind == ks::Field::Kind::Bits && !json) return hex;
    return f.kind == ks::Field::Kind::Long ? std::to_string(static_cast<LONG>(n)) : std::to_string(n);
}

// Odd values of every kind a field is read by, one at a time: GetConfigDetails and GetEventDetails hand a client what
// `read` says (profile texts of any type, cut at a NUL or to the field; event texts only as strings; numbers as up to
// 4 bytes of any type; a value larger than the field as missing), profile --json and event --json show just that (a
// profile the store does not list as not listed), and check flags exactly the values not as the store writes them,
// saying that the store reads the field as the client gets it, or takes the value as missing.
TEST_F(KsconfigTest, ProfileEventAndCheckAgreeWithWhatTheStoreHandsAClient) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    using S = std::string;
    const S n63(63, 'n'), y63(63, 'y');
    const struct { bool event; const char* field; DWORD type; S bytes; bool flagged; S read; } cases[] = {
        {false, "xResolution", REG_DWORD, S("\x2c\x01\0\0", 4), false, "300"},
        {false, "xResolution", REG_SZ, S("300\0", 4), true, "3158067"}, {false, "xResolution", REG_DWORD, S("\x2c\x01", 2), true, "300"},
        {false, "xResolution", REG_BINARY, S(5, '\1'), true, "0"}, {false, "xResolution", REG_QWORD, S(8, '\1'), true, "0"},
        {false, "toneMap.hue", REG_DWORD_BIG_ENDIAN, S("\0\0\1\0", 4), true, "65536"}, {false, "pageWidth", REG_NONE, "", true, "0"},
        {false, "name", REG_SZ, S("Colour\0", 7), false, "\"Colour\""}, {false, "name", REG_BINARY, S("Colour\0junk", 11), true, "\"Colour\""},
        {false, "name", REG_SZ, "Colour", true, "\"Colour\""}, {false, "name", REG_SZ, S("Co\0lour\0", 8), true, "\"Co\""},
        {false, "name", REG_SZ, S(64, 'n') + S(1, '\0'), true, "\"\""}, {false, "name", REG_SZ, n63 + S(1, '\0'), false, "\"" + n63 + "\""},
        {false, "name", REG_BINARY, S(64, 'y'), true, "\"" + y63 + "\""},  // no terminator: one is made
        {false, "name", REG_MULTI_SZ, S("a\0b\0\0", 5), true, "\"a\""}, {false, "name", REG_EXPAND_SZ, S("%x%\0", 4), false, "\"%x%\""},
        {false, "flags", REG_QWORD, S("\1\0\0\0\0\0\0\0", 8), true, ""}, {false, "flags", REG_BINARY, S("\x10\x10", 2), true, "4112"},
        {true, "name", REG_BINARY, S("Button\0", 7), true, "\"\""}, {true, "name", REG_SZ, S(31, 'n') + S(1, '\0'), false, "\"" + S(31, 'n') + "\""},
        {true, "name", REG_SZ, S(32, 'n') + S(1, '\0'), true, "\"\""}, {true, "config", REG_SZ, "P1", true, "\"\""},
        {true, "link", REG_EXPAND_SZ, S("x\0", 2), false, "\"x\""}, {true, "link", REG_BINARY, S("abc\0", 4), true, "\"\""},
        {true, "jpgQuality", REG_SZ, S("75\0", 3), true, "13623"}, {true, "transfer", REG_DWORD, S("\4\0\3\0", 4), false, "196612"},
    };
    for (const auto& c : cases) {
        const std::span<const ks::Field> table = c.event ? ks::EventFields() : ks::ProfileFields();
        const ks::Field& field = *std::find_if(table.begin(), table.end(), [&](const ks::Field& f) { return f.display == S(c.field); });
        const std::string key = Device(c.event ? "\\EventProfiles\\E" : "\\ScanProfiles\\P");
        DeleteKeyTree(kRoot);
        if (!c.event) SetDword(key, "Flags", KSCNFGFLAG_IMAGES);
        // A byte past the value that is no NUL: the platform would otherwise add the terminator a case leaves out.
        const std::string padded = c.bytes + "#";
        SetValue(key, field.value, c.type, padded.data(), static_cast<DWORD>(c.bytes.size()));
        // The client's view, then nothing of it left behind: the object's release took a backup.
        Record record{};
        HRESULT hr = c.event ? NewConfig()->GetEventDetails(const_cast<LPSTR>(kScanner), const_cast<LPSTR>("E"), &record.event)
                             : NewConfig()->GetConfigDetails(const_cast<LPSTR>(kScanner), const_cast<LPSTR>("P"), &record.profile);
        DeleteKeyTree(kBackup);
        const std::string trace = std::string(c.field) + " " + std::to_string(c.type) + " " + std::to_string(c.bytes.size());
        const Result shown = Ksconfig({c.event ? "event" : "profile", kScanner, c.event ? "E" : "P", "--json"});
        const Result check = Ksconfig({"check", kScanner});
        const std::string line = (c.event ? "EventProfiles\\E \"" : "ScanProfiles\\P \"") + S(field.value) + "\": ";
        const std::size_t at = check.out.find(line);
        EXPECT_EQ(at != std::string::npos, c.flagged) << trace << "\n" << check.out;
        if (hr == E_INVALIDARG) {  // not listed: no record for a client
            EXPECT_NE(check.out.find("ScanProfiles\\P: the store does not list it"), std::string::npos) << trace << check.out;
            continue;
        }
        ASSERT_EQ(hr, S_OK) << trace;
        EXPECT_EQ(Shown(field, record, true), c.read) << trace;
        EXPECT_NE(shown.out.find("\"" + S(c.field) + "\":" + c.read + ","), std::string::npos) << trace << "\n" << shown.out;
        if (at == std::string::npos) continue;
        const std::string said = check.out.substr(at, check.out.find('\n', at) - at);
        auto says = [&](const std::string& what) {  // a whole part of the line
            const std::size_t found = said.find(what);
            return found != std::string::npos && (found + what.size() == said.size() || said[found + what.size()] == ' ');
        };
        EXPECT_TRUE(says(": it reads " + Shown(field, record, false)) ||
                    (says(": it takes it as missing") && Shown(field, record, false) == Shown(field, Record{}, false)))
            << trace << "\n" << said;
    }
    CoUninitialize();
}

const std::string kOutside = "Software\\Ks Outside";

// Links go before the settings are put back (the platform's tree delete would follow them).
class KsconfigLinkTest : public KsconfigTest {
protected:
    ~KsconfigLinkTest() override {
        links_.clear();
        DeleteKeyTree(kOutside);
    }
    void Link(const std::string& path, const std::string& target) {
        links_.push_back(std::make_unique<RegistryLink>(path, target));
    }
    std::vector<std::unique_ptr<RegistryLink>> links_;
};

// A link that loops back to the settings root and one to a key outside the settings, in the root and in the
// backup, and a device key that is a link, beside a bad value in the root that the backup does not have, a profile
// the store does not list, and settings the store makes on first use: every command finishes within seconds, shows
// the links and problems it meets, and leaves root, backup and the outside key as they were (looking works on a
// scratch copy, which goes with the command); an edit beside them writes its record.
TEST_F(KsconfigLinkTest, EveryCommandFinishesShowsTheLinksAndFollowsNone) {
    PrepareTree(true);
    SetString(Device("\\ScanProfiles\\P3"), "Xresolution", "abc");
    SetString(Device("\\ScanProfiles\\Hidden"), "Name", "no flags");
    Fill(kOutside + "\\Below", {{"Secret", 7}});
    Link(Device("\\ScanProfiles\\Loop"), kRoot);
    Link(RootPath("Outside"), kOutside);
    Link(RootPath("Looped Scanner"), kRoot);
    Link(Backup("\\ScanProfiles\\Loop"), kBackup);
    Link(std::string(kBackup) + "\\Outside", kOutside);
    Fill(RootPath("Second Scanner\\ScanProfiles\\S1"), {{"Flags", 1}});  // whose backup is a link out of the settings
    Link(std::string(kBackup) + "\\Second Scanner", kOutside);
    Fill(std::string(kBackup) + "\\Looped Scanner", {{"Kept", 1}});  // whose root is a link
    const std::string file = "ksconfig links.reg", saved = "ksconfig links saved.reg";
    WriteFile(file, kReg5 + Section(RootPath("Outside\\Planted")) + "\"A\"=\"1\"\r\n");
    const std::vector<std::string> root = DumpTree(kRoot), backup = DumpTree(kBackup), outside = DumpTree(kOutside);
    ASSERT_NE(std::find_if(root.begin(), root.end(), [](const std::string& l) { return l.starts_with("Test Scanner\\ScanProfiles\\Loop|SymbolicLinkValue|6|"); }), root.end());
    const std::string toRoot = "a registry link to HKEY_CURRENT_USER\\" + std::string(kRoot);
    const std::string toOutside = "a registry link to HKEY_CURRENT_USER\\" + kOutside;
    const std::string loopPath = "HKEY_CURRENT_USER\\" + Device("\\ScanProfiles\\Loop");
    const struct { std::vector<std::string> args; std::string shown; DWORD exit; } runs[] = {
        {{"scanners"}, "  Looped Scanner: " + toRoot + ", not followed\n  Outside: " + toOutside + ", not followed\n", 0},
        {{"profiles", kScanner}, "  Loop  " + toRoot + ", not followed\n", 0},
        {{"profile", kScanner, "Loop"}, loopPath + " is " + toRoot + ", which ksconfig does not follow", 1},
        {{"events", "Looped Scanner"}, "Keystrel 4.0\\Looped Scanner is " + toRoot + ", which ksconfig does not follow", 1},
        {{"profile", kScanner, "P3"}, "\"Xresolution\": REG_SZ of 4 bytes where the store reads a REG_DWORD: it reads 6513249", 0},
        {{"profile", kScanner, "hidden", "--json"}, R"("problem":"the store does not list it for any type: it has no \"Flags\" value")", 0},
        {{"event", kScanner, "Button1"}, "Scan to PDF", 0}, {{"calibration", kScanner}, "current gamma 2", 0},
        {{"copy-settings", kScanner}, "(first-use defaults: a client's first call writes them; nothing was written)", 0},
        {{"driver-files", kScanner, "--ui-profile", "UI"}, "none yet (a client's first call copies the template", 0},
        {{"links"}, "registry link, not followed: Outside -> HKEY_CURRENT_USER\\" + kOutside + "\n", 0},
        {{"export"}, "; registry link, not followed: " + loopPath + " -> HKEY_CURRENT_USER\\" + kRoot + "\n", 0},
        {{"export", "--format", "reg", "-o", saved}, "left out HKEY_CURRENT_USER\\" + RootPath("Outside") + ", " + toOutside, 0},
        {{"check"}, "  Outside: " + toOutside + ": not followed; the store leaves it out of its lists and of the backup\n", 1},
        {{"check", kScanner}, "  Test Scanner\\ScanProfiles\\Loop: in the backup tree: a registry link to "
                              "HKEY_CURRENT_USER\\Software\\Stellwick Backup: not followed", 1},
        {{"backup-status"}, "  Outside: in the backup tree: " + toOutside + ": not followed; a rebuilt settings root leaves it "
                            "out\n", 4},
        {{"import", file, "--dry-run"}, ":3: HKEY_CURRENT_USER\\" + RootPath("Outside") + " is " + toOutside, 1},
        {{"set-profile", kScanner, "Loop", "name=x"}, loopPath + " is " + toRoot, 1},
        {{"delete-profile", kScanner, "Loop"}, "nothing was deleted; " + loopPath + " is " + toRoot, 1},
        {{"set-profile", "Second Scanner", "S1", "name=x"}, "nothing was written; HKEY_CURRENT_USER\\Software\\Stellwick Backup\\"
                                                           "Second Scanner is " + toOutside, 1},
        {{"delete-profile", "Second Scanner", "S1"}, "nothing was deleted; HKEY_CURRENT_USER\\Software\\Stellwick Backup", 1},
        {{"delete-event", "Looped Scanner", "Button1"}, "which ksconfig does not follow", 1},
        {{"restore", "--scanner", "Looped Scanner"}, "nothing was restored; HKEY_CURRENT_USER\\" + RootPath("Looped Scanner") +
                                                    " is " + toRoot, 1},
        {{"restore", "--scanner", "Second Scanner"}, "there is no backup (HKEY_CURRENT_USER\\Software\\Stellwick Backup\\"
                                                    "Second Scanner) to restore", 1},
        {{"restore"}, "the settings root is present", 1},
    };
    for (const auto& r : runs) {
        EXPECT_TRUE(Runs(r.args, r.shown, r.exit, true));
        EXPECT_EQ(DumpTree(kRoot), root) << r.args[0];
        EXPECT_EQ(DumpTree(kBackup), backup) << r.args[0];
        EXPECT_EQ(DumpTree(kOutside), outside) << r.args[0];
    }
    EXPECT_TRUE(SubkeyNames("Software\\ksconfig scratch").empty());
    const std::string exported = ReadBytes(saved);
    EXPECT_NE(exported.find(std::string(";\0 \0r\0e\0g\0i\0s\0t\0r\0y\0 \0l\0i\0n\0k\0", 30)), std::string::npos);

    const std::string p1 = std::string(kScanner) + "\\ScanProfiles\\P1";
    EXPECT_TRUE(Runs({"set-profile", kScanner, "P1", "name=Beside links"}, "  name                \"Beside links\" (was \"Colour\")\n", 0, true));
    EXPECT_EQ(Part(DumpTree(kRoot), p1, false), Part(root, p1, false));
    EXPECT_EQ(Part(DumpTree(kBackup), p1, false), Part(backup, p1, false));
    const std::vector<std::string> edited = DumpTree(kBackup);
    // A whole root restored from the backup: the root's links are deleted as links, the backup's are not copied.
    EXPECT_TRUE(Runs({"restore", "--force", "-o", saved}, "rebuilt the settings root", 0, true));
    EXPECT_EQ(DumpTree(kOutside), outside);
    EXPECT_EQ(DumpTree(kBackup), edited);
    const std::vector<std::string> rebuilt = DumpTree(kRoot);
    EXPECT_TRUE(std::none_of(rebuilt.begin(), rebuilt.end(), [](const std::string& l) { return l.find("|SymbolicLinkValue|") != std::string::npos; }));
    EXPECT_EQ(GetDword(RootPath("Looped Scanner"), "Kept"), 1u);
    EXPECT_EQ(GetString(Device("\\ScanProfiles\\P1"), "Name"), "Beside links");
    DeleteFileA(file.c_str());
    DeleteFileA(saved.c_str());
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
    EXPECT_EQ(import.out.rfind("imported 14 keys and ", 0), 0u) << import.out << import.err;
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
    WriteFile(file, "REGEDIT4\r\n\r\n" + Section(odd) + "\"Path\"=\"C:\\\\x\"\r\n\"Expand\"=hex(2):25,54,00\r\n");
    EXPECT_EQ(Ksconfig({"import", file}).exit, 0u);
    EXPECT_EQ(GetValue(odd, "Path"), Sz("C:\\x"));
    EXPECT_EQ(GetValue(odd, "Expand"), (RegValue{REG_EXPAND_SZ, {'%', 'T', 0}}));
    DeleteFileA(file.c_str());
}

// A damaged file writes nothing and names each bad line; only the settings and their backup may be written; a dry
// run lists the changes, marking what check would flag.
TEST_F(KsconfigTest, ImportRefusesDamagedFilesAndOtherRootsWritingNothing) {
    PrepareTree();
    const std::string key = Section(Device(""));
    const std::string reg5 = kReg5 + key;
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

    WriteFile(file, reg5 + "\"CurrentGamma\"=dword:00000007\r\n\"New\"=\"x\"\r\n" + Section(Device("\\ScanProfiles\\P1")) +
                    "\"Xresolution\"=\"300\"\r\n");
    EXPECT_TRUE(Runs({"import", file, "--dry-run"}, "would import 2 keys and 3 values from " + file + " (registry editor file, "
                     "version 5):\n  changed    Software\\Stellwick\\Keystrel 4.0\\Test Scanner \"CurrentGamma\" = "
                     "dword:00000007 (was dword:00000002)\n  new value  Software\\Stellwick\\Keystrel 4.0\\Test Scanner "
                     "\"New\" = \"x\"\n  changed    Software\\Stellwick\\Keystrel 4.0\\Test Scanner\\ScanProfiles\\P1 "
                     "\"Xresolution\" = \"300\" (was dword:0000012c)\n             check would flag it: REG_SZ of 4 bytes "
                     "where the store reads a REG_DWORD: it reads 3158067\n"));
    EXPECT_EQ(DumpTree(kRoot), before);
    DeleteFileA(file.c_str());
}

// Root and backup that disagree (the root holds a bad text where the backup keeps the number): no refusal, for any
// reason, writes a byte into either.
TEST_F(KsconfigTest, ARefusedCommandLeavesRootAndBackupByteIdentical) {
    PrepareTree(true);
    SetString(Device("\\ScanProfiles\\P1"), "Xresolution", "300");
    SetDword(Backup(""), "CurrentGamma", 1);
    const std::string file = "ksconfig refused.reg";
    WriteFile(file, kReg5 + Section(Device("")) + "\"A\"=dword:xyz\r\n\"B\"=dword:1\r\n");
    const std::vector<std::string> root = DumpTree(kRoot), backup = DumpTree(kBackup);
    const struct { std::vector<std::string> args; std::string shown; } refused[] = {
        {{"set-profile", kScanner, "P1", "name=x"}, "\"Xresolution\": REG_SZ of 4 bytes where the store reads a REG_DWORD: "
                                                   "it reads 3158067; storing the record would keep that: set xResolution too"},
        {{"set-profile", kScanner, "P1", "Xresolution=abc"}, "xResolution: \"abc\" is not a number from -2147483648"},
        {{"set-profile", kScanner, "P1", "xResolution=300", "resolution=1"}, "no field \"resolution\"; the fields are hwGuid, "},
        {{"set-profile", kScanner, "P2", "dataType=99"}, "dataType: 0x00000063 holds bits no member of the field's enumeration "
                                                        "names (0x00000060); --force stores them all the same"},
        {{"set-profile", kScanner, "P2", "flags=KSCNFGFLAG_NOPE"}, "\"KSCNFGFLAG_NOPE\" is not a member"},
        {{"set-profile", kScanner, "P2", "LinkConfig=1"}, "\"LinkConfig\" could be linkConfig (registry value \"LinkInfo\") or hasLinkConfig"},
        {{"set-profile", kScanner, "P2", "linkSignature=x"}, "linkSignature is not kept by the store"},
        {{"set-profile", kScanner, "P2", "name=" + std::string(64, 'n')}, "name: 64 characters do not fit; at most 63"},
        {{"set-profile", kScanner, "Fax", "name=x"}, "that is the display name of P2; give the key name"},
        {{"set-profile", "Nope", "P1", "name=x"}, "no settings for scanner \"Nope\""},
        {{"set-event", kScanner, "Button1", "jpgQuality=-1"}, "jpgQuality: \"-1\" is not a number from 0"},
        {{"set-event", kScanner, "Button9", "jpgQuality=1"}, "has no event with the key name \"Button9\"; its events are Button1"},
        {{"delete-profile", kScanner, "P9"}, "\"P9\" in the settings root or the backup tree; its scan profiles are P1, P2, P3"},
        {{"import", file}, ":4: dword: needs 1 to 8 hexadecimal digits"},
    };
    for (const auto& r : refused) {
        EXPECT_TRUE(Runs(r.args, r.shown, 1));
        EXPECT_EQ(DumpTree(kRoot), root) << r.shown;
        EXPECT_EQ(DumpTree(kBackup), backup) << r.shown;
    }
    DeleteFileA(file.c_str());
}

// An edit writes its one record into root and backup, and nothing else of either (the backup's good copy of another
// record is evidence); deletions take the record from both; a root rebuilt from the backup keeps all of it.
TEST_F(KsconfigTest, AnAcceptedEditChangesOnlyItsRecordInRootAndBackupAndOutlastsARebuild) {
    PrepareTree(true);
    SetString(Device("\\ScanProfiles\\P1"), "Xresolution", "300");
    SetString(Backup("\\ScanProfiles\\P2"), "Name", "Old fax");
    SetDword(Backup(""), "CurrentGamma", 1);
    const std::string p2 = std::string(kScanner) + "\\ScanProfiles\\P2", button = std::string(kScanner) + "\\EventProfiles\\Button1";
    std::vector<std::string> root = DumpTree(kRoot), backup = DumpTree(kBackup);
    const auto onlyItsRecord = [&](const std::string& record) {
        EXPECT_EQ(Part(DumpTree(kRoot), record, false), Part(root, record, false)) << record;
        EXPECT_EQ(Part(DumpTree(kBackup), record, false), Part(backup, record, false)) << record;
        EXPECT_EQ(Part(DumpTree(kRoot), record, true), Part(DumpTree(kBackup), record, true)) << record;
        root = DumpTree(kRoot);
        backup = DumpTree(kBackup);
    };
    EXPECT_TRUE(Runs({"set-profile", kScanner, "p2", "XRESOLUTION=150", "dataType=0x40001", "name=Fax 2"},
                     "scan profile \"P2\" of \"Test Scanner\":\n  name                \"Fax 2\" (was \"Fax\")\n"
                     "  xResolution         150 (was 200)\n"));
    onlyItsRecord(p2);
    EXPECT_TRUE(Runs({"set-event", kScanner, "button1", "transfer=0x12345678", "--force"}, "transfer", 0, true));
    onlyItsRecord(button);
    EXPECT_EQ(GetDword(Backup("\\ScanProfiles\\P2"), "Xresolution"), 150u);
    EXPECT_EQ(GetDword(Backup("\\EventProfiles\\Button1"), "Transfer"), 0x12345678u);

    const std::string p1 = std::string(kScanner) + "\\ScanProfiles\\P1";
    EXPECT_TRUE(Runs({"delete-profile", kScanner, "p1"}, "deleted scan profile \"p1\" of \"Test Scanner\" from the settings "
                     "root and the backup tree\n"));
    EXPECT_EQ(DumpTree(kRoot), Part(root, p1, false));
    EXPECT_EQ(DumpTree(kBackup), Part(backup, p1, false));
    SetString(Device("\\ScanProfiles\\Hidden"), "Name", "no flags");  // not listed by the store, deleted all the same
    EXPECT_TRUE(Runs({"delete-profile", kScanner, "Hidden"}, "from the settings root\n", 0, true));
    EXPECT_TRUE(Runs({"delete-event", kScanner, "Button1"}, "from the settings root and the backup tree", 0, true));
    DeleteKeyTree(kRoot);
    EXPECT_TRUE(Runs({"restore"}, "rebuilt the settings root from the backup tree", 0, true));
    EXPECT_EQ(SubkeyNames(Device("\\ScanProfiles")), (std::vector<std::string>{"P2", "P3"}));
    EXPECT_EQ(GetString(Device("\\ScanProfiles\\P2"), "Name"), "Fax 2");
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
             "  Test Scanner\\ScanProfiles\\P3: the store does not list it for any type: it reads its \"Flags\" as 0x00002000 "
             "KSCNFGFLAG_MKCOPY\n",
             "  Test Scanner\\EventProfiles\\Button1 \"ScanConfig\": names the scan profile \"P9\", which the store does not find\n",
             "  Test Scanner\\CalibrationProfiles \"Gamma - 3\": REG_SZ: the store does not read it as a table\n",
             "  Test Scanner \"CurrentGamma\": names the table \"Gamma - 9\", which is missing\n",
             "  Test Scanner\\ScanProfiles\\P1 \"Xresolution\": differs from the backup: \"abc\" here, dword:0000012c there\n",
             "  Test Scanner\\ScanProfiles\\P2: only in the backup: a rebuilt settings root would have it again\n"}) {
        EXPECT_NE(check.out.find(line), std::string::npos) << line << check.out;
    }
    EXPECT_TRUE(Runs({"profiles", kScanner}, "ksconfig: 12 problems in the settings of \"Test Scanner\"", 0, true));
    EXPECT_TRUE(Runs({"check", "--json"}, R"({"key":"Test Scanner\\ScanProfiles\\P2","value":null,"problem":"only in the backup)",
                     1, true));
    EXPECT_TRUE(Runs({"backup-status"}, "  Test Scanner\\ScanProfiles\\P2: only in the backup: a rebuilt settings root would "
                     "have it again\nthe backup is behind the settings root\n", 4, true));

    const std::string saved = "ksconfig saved root.reg";
    EXPECT_TRUE(Runs({"restore"}, "the settings root is present; nothing was restored (--force replaces it)", 1));
    EXPECT_TRUE(Runs({"restore", "--force", "-o", saved}, "saved in ", 0, true));
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    EXPECT_TRUE(Runs({"check"}, "no problems in HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\n"));
    EXPECT_TRUE(Runs({"backup-status"}, "the backup holds everything of the settings root\n", 0, true));
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

// The registration of the class, pointed elsewhere for a test and put back.
class RegisteredPath {
public:
    explicit RegisteredPath(const std::string& dll) {
        const std::string key = "CLSID\\" + GuidText(CLSID_KeystrelConfig);
        created_ = !KeyExists(key, HKEY_CLASSES_ROOT);
        was_ = GetValue(key + "\\InprocServer32", "", HKEY_CLASSES_ROOT);
        SetString(key + "\\InprocServer32", "", dll, HKEY_CLASSES_ROOT);
    }
    ~RegisteredPath() {
        const std::string key = "CLSID\\" + GuidText(CLSID_KeystrelConfig);
        if (created_) {
            DeleteKeyTree(key, HKEY_CLASSES_ROOT);
        } else if (was_) {
            SetValue(key + "\\InprocServer32", "", was_->type, was_->data.data(), static_cast<DWORD>(was_->data.size()), HKEY_CLASSES_ROOT);
        }
    }

private:
    bool created_ = false;
    std::optional<RegValue> was_;
};

// With --json every failure is one object on standard output: its exit code (the process's own), its message, and
// the HRESULT exactly when a platform or store call failed; a store that is gone is named as such.
TEST_F(KsconfigTest, EveryErrorIsOneJsonObjectWithItsExitCodeAndTheFailedCallsHresult) {
    PrepareTree();
    const std::string lonely = "ksconfig lonely";  // ksconfig.exe without Registry.dll beside it
    CreateDirectoryA(lonely.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA("ksconfig.exe", (lonely + "\\ksconfig.exe").c_str(), FALSE));
    const std::regex shape(R"re(\{"error":\{"exitCode":(\d+),"message":"(?:[^"\\]|\\.)*")re"
                           R"re((?:,"hresult":"(0x[0-9A-F]{8})","hresultText":"(?:[^"\\]|\\.)*")?(?:,"\w+":.*)?\}\}\n)re");
    const struct { std::string program; std::vector<std::string> args; DWORD exit; std::string hresult, message; } errors[] = {
        {"ksconfig.exe", {"profile", kScanner, "P9", "--json"}, 1, "", "has no scan profile with the key name \\\"P9\\\""},
        {"ksconfig.exe", {"frobnicate", "--json"}, 2, "", "unknown command"},
        {"ksconfig.exe", {"set-profile", kScanner, "P1", "dataType=99", "--json"}, 1, "", "\"problems\":[\"dataType: 0x00000063"},
        {"ksconfig.exe", {"import", "no such file.reg", "--json"}, 1, "0x80070002", "no file no such file.reg"},
        {"ksconfig.exe", {"export", "--format", "reg", "-o", "no such folder\\x.reg", "--json"}, 3, "0x80070003", "writing"},
        {lonely + "\\ksconfig.exe", {"scanners", "--json"}, 3, "0x8007007E",
         "the registered Registry.dll (C:\\\\nowhere\\\\Registry.dll) is missing, and there is no Registry.dll beside"},
    };
    {
        RegisteredPath gone("C:\\nowhere\\Registry.dll");
        for (const auto& e : errors) {
            const Result run = Launch(e.program, e.args);
            std::smatch match;
            EXPECT_TRUE(std::regex_match(run.out, match, shape)) << run.out << run.err;
            EXPECT_EQ(run.exit, e.exit) << run.out;
            EXPECT_EQ(match.size() > 2 ? match[1].str() + " " + match[2].str() : "", std::to_string(e.exit) + " " + e.hresult);
            EXPECT_NE(run.out.find(e.message), std::string::npos) << run.out;
        }
        // Beside its own Registry.dll, ksconfig says what it uses and goes on.
        EXPECT_TRUE(Runs({"scanners"}, "ksconfig: the registered Registry.dll (C:\\nowhere\\Registry.dll) is missing; using ", 0, true));
    }
    EXPECT_TRUE(Runs({"--version", "--json"}, R"({"ksconfig":"4.)", 0, true));
    DeleteFileA((lonely + "\\ksconfig.exe").c_str());
    RemoveDirectoryA(lonely.c_str());
}

// The demo, then the README's support case as printed: the tree it describes (after the demo, a bad text where the
// store reads a number, a profile without its flags, one deleted from the root only), then each command of its
// transcript, with the exit code it notes and its lines (standard output and error, in any order; the demo's profile
// named by any GUID).
TEST_F(KsconfigTest, TheDemoAndTheReadmeSupportCaseRunAsPrinted) {
    const std::string readme = ReadText("..\\README.md");
    const std::size_t heading = readme.find("### A support case, end to end");
    ASSERT_NE(heading, std::string::npos) << "no support case in the README";
    const std::size_t start = readme.find("```\n", heading) + 4, end = readme.find("```", start);
    // The demo first: a client session against the sample scanner, whose saved profile and imported defaults are in
    // root and backup (the file's events are not imported).
    const Result demo = Ksconfig({"demo"});
    ASSERT_EQ(demo.exit, 0u);
    EXPECT_EQ(demo.out.rfind("A client session of the settings store with the sample scanner \"Sample Scanner\".\n\n1. Created "
                             "a KeystrelConfig object", 0), 0u) << demo.out;
    EXPECT_NE(demo.out.find("GetDefualtGamma -> 2; table \"Gamma - 2\" starts 00 0c 11 16"), std::string::npos) << demo.out;
    EXPECT_FALSE(KeyExists(RootPath("Sample Scanner\\EventProfiles")));
    EXPECT_EQ(DumpTree(RootPath("Sample Scanner")), DumpTree(std::string(kBackup) + "\\Sample Scanner"));
    const std::string device = RootPath("Sample Scanner\\ScanProfiles\\"), backup = std::string(kBackup) + "\\Sample Scanner\\ScanProfiles\\";
    for (const std::string& list : {device, backup}) {
        Fill(list + "Colour300", {{"Flags", 0x5}, {"DataType", 0x4}, {"Xresolution", 300}, {"Yresolution", 300}},
             {{"Name", "Colour document"}});
        Fill(list + "Bitonal200Fax", {{"Flags", 0x10}}, {{"Name", "Fax"}});
    }
    DeleteKeyTree(device + "Grey200Text");
    SetString(device + "Colour300", "Xresolution", "300");
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, (device + "Bitonal200Fax").c_str(), "Flags"), ERROR_SUCCESS);

    const std::regex guid(R"(\*[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\*)"), note(R"( {2,}\((exit (\d))?.*\)$)");
    auto lines = [&](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            // ksconfig names a class it could not use before it loads the DLL beside it: not the case's output.
            if (line.rfind("ksconfig: the KeystrelConfig class is not registered", 0) != 0 && !line.empty())
                out.push_back(std::regex_replace(line, guid, "*GUID*"));
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    std::istringstream transcript(readme.substr(start, end - start));
    std::string line, command, expected;
    auto check = [&] {
        if (command.empty()) return;
        std::smatch match;
        DWORD exit = 0;
        if (std::regex_search(command, match, note)) {
            if (match[2].matched) exit = static_cast<DWORD>(std::stoul(match[2]));
            command.erase(static_cast<std::size_t>(match.position(0)));
        }
        std::vector<std::string> args;
        const std::regex word(R"re("([^"]*)"|(\S+))re");
        for (auto it = std::sregex_iterator(command.begin() + 11, command.end(), word); it != std::sregex_iterator(); ++it)
            args.push_back((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
        const Result run = Ksconfig(args);
        EXPECT_EQ(run.exit, exit) << command << "\n" << run.out << run.err;
        EXPECT_EQ(lines(run.out + run.err), lines(expected)) << command;
        command.clear();
        expected.clear();
    };
    int commands = 0;
    while (std::getline(transcript, line)) {
        if (line.rfind("> ksconfig ", 0) == 0) {
            check();
            command = line;
            ++commands;
        } else {
            expected += line + "\n";
        }
    }
    check();
    EXPECT_EQ(commands, 7) << "the README's transcript changed: this test reads it";
    DeleteFileA("case 4711 before.reg");
}

}  // namespace
}  // namespace kstest
