// ksconfig: a command-line client of the settings store, for the people who ship and support
// the scanner utility. It works through the store's own interface; it reads the registry itself
// only where the interface has no method (listing device keys, comparing root and backup,
// exporting the tree).
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

struct CommandDef {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* details;  // more lines for "<command> --help"
    const char* methods;  // the store methods the command calls
    std::size_t minArgs;
    std::size_t maxArgs;
    std::vector<std::string> flags;
    std::vector<std::string> options;  // each takes a value
    int (*run)(const Arguments&);
};

const char* kCreates =
    "An edit (set-profile, set-event) runs the store on that copy too, then writes the one\n"
    "record it changed into the settings root and the backup tree, and nothing else; delete-*\n"
    "deletes the one record from both. A refused command writes nothing anywhere.";

const std::vector<CommandDef>& Commands() {
    static const std::vector<CommandDef> commands = {
        {"scanners", "scanners [--json]", "scanners that have settings, with a summary of each",
         "Lists the device keys of the settings root (engine keys and the keys of other\n"
         "components are left out): scan profiles, events, current gamma, calibration tables.",
         "LoadConfigInfo, LoadEventInfo, GetDefualtGamma", 0, 0, {"--json"}, {}, Scanners},
        {"profiles", "profiles <hardware> [--type images|text|pdf|email|fax|copy|store|docs|sti|all] [--json]",
         "the scan profiles of a scanner",
         "Loads the profiles of the given types as a client does (profiles marked to show\n"
         "always are listed for every type). --json gives every field of each profile.",
         "LoadConfigInfo, GetConfig", 1, 1, {"--json"}, {"--type"}, Profiles},
        {"profile", "profile <hardware> <keyname> [--json]", "every field of one scan profile",
         "Finds the profile by its key name (letter case ignored), not its display name;\n"
         "flags and modes are shown with their enumeration names. Values the store would\n"
         "read wrongly are warned about; a key the store does not list (no type flags) is\n"
         "shown as the store would read it, with the reason.",
         "GetConfigDetails", 2, 2, {"--json"}, {}, Profile},
        {"events", "events <hardware> [--json]", "the button events of a scanner", "",
         "LoadEventInfo, GetEvent", 1, 1, {"--json"}, {}, Events},
        {"event", "event <hardware> <keyname> [--json]", "every field of one button event",
         "Finds the event by its key name (letter case ignored); values the store would read\n"
         "wrongly are warned about.",
         "GetEventDetails", 2, 2, {"--json"}, {}, Event},
        {"set-profile", "set-profile <hardware> <keyname> <field>=<value>... [--force] [--json]",
         "change fields of a scan profile through the store",
         "Fields are named as profile --json prints them (toneMap.hue for nested ones).\n"
         "Texts must fit their field; numbers are decimal or 0x hexadecimal within the\n"
         "field's 32 bits; flag fields also take member names joined with |, for example\n"
         "flags=KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF; a field is also found by its name in any\n"
         "letter case, or by its registry value's name. Every value is checked first: one\n"
         "that does not fit, or bits no member of the field's enumeration names (unless\n"
         "--force), write nothing (exit 1). The store writes the whole profile on a scratch\n"
         "copy; that one profile's key then goes into the settings root and the backup tree.",
         "GetConfigDetails, StoreConfigInfo", 3, 64, {"--json", "--force"}, {}, SetProfile},
        {"set-event", "set-event <hardware> <keyname> <field>=<value>... [--force] [--json]",
         "change fields of a button event through the store", "As set-profile, with the fields event --json prints.",
         "GetEventDetails, StoreEventInfo", 3, 64, {"--json", "--force"}, {}, SetEvent},
        {"delete-profile", "delete-profile <hardware> <keyname> [--json]",
         "delete a scan profile from the settings root and the backup tree",
         "Its key is deleted from the settings root and from the backup tree (the backup step\n"
         "only adds), so a root rebuilt from the backup cannot bring it back; nothing else is\n"
         "touched. Events that still name the profile are listed.",
         "none (deletes the keys, as DeleteConfigInfo does)", 2, 2, {"--json"}, {}, DeleteProfile},
        {"delete-event", "delete-event <hardware> <keyname> [--json]",
         "delete a button event from the settings root and the backup tree",
         "The store has no method that deletes an event: its keys are deleted directly, from\n"
         "the settings root and the backup tree.",
         "none (deletes the keys)", 2, 2, {"--json"}, {}, DeleteEvent},
        {"calibration", "calibration <hardware> [--hex] [--json]",
         "current gamma number and the calibration tables of a scanner",
         "Shows each table's size; its bytes only with --hex. Reads the tables of the\n"
         "caller's own hive and never imports the default profile (see demo for that).",
         "GetDefualtGamma (the tables themselves are read from the registry)", 1, 1, {"--hex", "--json"}, {},
         Calibration},
        {"copy-settings", "copy-settings <hardware> [--json]", "copy-to-folder path, options and count",
         "The store writes its defaults (documents folder, by month and type, count 0) on\n"
         "first use, as it does for any client.",
         "CopyToFolderSettings", 1, 1, {"--json"}, {}, CopySettings},
        {"driver-files", "driver-files <hardware> [--ui-profile <name>] [--json]",
         "driver settings templates and the per-user settings files",
         "Shows the install folder, the ISIS and TWAIN templates in its Profiles folder and\n"
         "the TWAIN settings file; with --ui-profile also that interface profile's scan and\n"
         "device modes and its ISIS settings file. The store copies a template into a new\n"
         "settings file on first use, as it does for any client.",
         "GetKSInstallFolder, GetTwainConfigurationFile; SetUIInterfaceProfile and\n"
         "UIInterfaceStartupSettings with --ui-profile",
         1, 1, {"--json"}, {"--ui-profile"}, DriverFiles},
        {"links", "links [--json]", "link engines, their link caches and the link profiles key",
         "Engine keys are read from the registry; then the store opens the link cache as a\n"
         "client asks it to (without asking the engines to refresh).",
         "LoadLinkInfo, GetLinkEngineContainer, GetLinkEngineCLSID, GetLinkCustomProfile", 0, 0, {"--json"}, {},
         Links},
        {"export", "export [<hardware>] [--format text|reg] [-o <file> [--json]]",
         "the settings tree (or one scanner) as profile text or a registry editor file",
         "--format reg writes what the registry editor and \"reg import\" read: the version 5\n"
         "header, UTF-16 with its byte-order mark, escaped texts, dword: and hex(n): values,\n"
         "every value byte for byte. --format text (the default) writes the store's profile\n"
         "text: sections [HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\\...] with value\n"
         "lines \"name\"=\"text\", \"name\"=dword:0000001e and \"name\"=hex:0a,1b,... (long hex\n"
         "values continue on the next line after a backslash), raw texts without escapes:\n"
         "values it cannot hold (texts holding line breaks or NULs, names holding \"=\", types\n"
         "other than text, number and binary) are left out, each reported on stderr, and a\n"
         "section longer than the store's importer reads (4998 characters) is reported too.\n"
         "Keys and values are sorted by name.",
         "none (reads the registry)", 0, 1, {"--json"}, {"-o", "--format"}, Export},
        {"import", "import <file> [--dry-run] [--json]",
         "load a registry editor file or profile text into the settings",
         "Reads files written by export (either format), by \"reg export\" and the registry\n"
         "editor (version 5 in UTF-16, REGEDIT4 in ANSI), telling them apart by their first\n"
         "line. The whole file is read first: every line that cannot be read (a bad number,\n"
         "byte, quote, escape or header, a deletion) and every key outside the settings root\n"
         "and the backup tree is reported with its line number, and then nothing is written\n"
         "(exit 1). Otherwise keys are created and values added or overwritten, never\n"
         "deleted, and each change is listed; --dry-run lists them and writes nothing.",
         "none (writes the registry directly)", 1, 1, {"--dry-run", "--json"}, {}, Import},
        {"check", "check [<hardware>] [--json]", "problems in the settings, one line each",
         "Checks every record under the settings root (or one scanner's) against the layout\n"
         "the store reads: values of the wrong type or size (with what the store reads\n"
         "instead), profiles the store does not list (no Flags, no type), events naming a\n"
         "missing profile, key names too long for a record, calibration tables of another\n"
         "size than the scanner's others or of the wrong type, a current gamma without its\n"
         "table, and every difference between the settings root and the backup tree.\n"
         "Exit 1 when there is any problem.",
         "none (reads the registry)", 0, 1, {"--json"}, {}, Check},
        {"backup-status", "backup-status [--json]", "what differs between the settings root and its backup",
         "Keys and values only in the settings root or changed there are not yet in the\n"
         "backup (the next release of a store object copies them); changed values are shown\n"
         "with both sides. Those only in the backup are kept by the merge and would come\n"
         "back if the root were rebuilt. Exit 4 when the backup is behind the settings root.",
         "none (reads the registry; creates no store object)", 0, 0, {"--json"}, {}, BackupStatus},
        {"restore", "restore [--force | --scanner <hardware>] [-o <file>] [--json]",
         "rebuild the settings root (or one scanner) from the backup tree",
         "Without options only a missing settings root is rebuilt, by creating a store\n"
         "object (its ensure-root step does it). --force replaces a present settings root,\n"
         "--scanner <hardware> only that scanner's key; either saves what it replaces first,\n"
         "as a registry editor file (-o, or \"ksconfig saved <time>.reg\" in the current\n"
         "folder) that the message names and import can load back.",
         "object creation (the rebuild of a whole root)", 0, 0, {"--force", "--json"}, {"--scanner", "-o"}, Restore},
        {"demo", "demo", "a typical client session against the sample scanner",
         "Sets the active scanner, loads its profiles, gets and edits the active profile,\n"
         "saves it, reads calibration through the default profile import and releases the\n"
         "object, printing each step. Starts by removing the sample scanner's settings.\n"
         "Needs Profiles\\Sample Scanner.ks4 beside Registry.dll.",
         "SetActiveHardware, LoadConfigInfo, GetConfig, GetActiveConfig, StoreActiveConfig,\n"
         "GetCalibrationData, GetDefualtGamma, GetKSInstallFolder",
         0, 0, {}, {}, Demo},
    };
    return commands;
}

const CommandDef* g_current = nullptr;

void PrintOverview(FILE* out) {
    std::fprintf(out, "usage: ksconfig <command> [arguments]\n"
                      "       ksconfig <command> --help\n\n"
                      "A client of the settings store (Registry.dll). Commands, and the store methods\n"
                      "each one needs:\n\n");
    for (const CommandDef& c : Commands()) {
        std::fprintf(out, "  %-14s %s\n", c.name, c.summary);
        std::string methods = c.methods;
        const std::string indent = "\n                        ";
        for (std::size_t pos = 0; (pos = methods.find('\n', pos)) != std::string::npos; pos += indent.size()) {
            methods.replace(pos, 1, indent);
        }
        std::fprintf(out, "                 needs: %s\n", methods.c_str());
    }
    std::fprintf(out, "\n--json (every command but demo) writes one JSON document to standard output instead\n"
                      "of text, errors too: {\"error\":{\"exitCode\":..,\"message\":..}}, with \"hresult\" (and\n"
                      "\"hresultText\") when a platform or store call failed. Keys are camelCase; HRESULTs\n"
                      "are 0x%%08X text.\n\n"
                      "Exit codes:\n"
                      "  0  done (check: no problem; backup-status: the backup holds the settings root)\n"
                      "  1  not found or refused: no such scanner, record or file; a file or value that\n"
                      "     was refused (nothing written); check found problems\n"
                      "  2  usage error\n"
                      "  3  store or system error (with its HRESULT)\n"
                      "  4  backup-status: the backup is behind the settings root\n\n"
                      "Commands that only look (listings, check, export, backup-status) change neither the\n"
                      "settings root nor the backup: their store object works on a scratch copy. No command\n"
                      "follows a registry link: it is shown with its target and left alone.\n"
                      "%s\n",
                 kCreates);
}

void PrintCommandHelp(const CommandDef& c) {
    std::printf("usage: ksconfig %s\n\n%s.\n", c.synopsis, c.summary);
    if (*c.details != '\0') std::printf("%s\n", c.details);
    std::printf("\nStore methods: %s.\n", c.methods);
}

// A module file's version from its version resource, "a.b.c.d", or empty when it has none.
std::string FileVersion(const std::string& path) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr)
        return {};
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// ksconfig's own version, and that of the store it would use: both from their version resources,
// which the build writes from its one version number.
int PrintVersion(bool asJson) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof(self));
    const std::string own = n > 0 && n < sizeof(self) ? FileVersion(std::string(self, n)) : std::string();
    const std::string registered = RegisteredStorePath();
    const std::string dll = registered.empty() ? ExeFolder() + "\\Registry.dll" : registered;
    const std::string version = FileVersion(dll);
    if (asJson) {
        std::printf("%s\n", json::Obj({{"ksconfig", own.empty() ? json::Null() : json::Str(own)},
                                       {"registryDll", json::Obj({{"path", json::Str(Utf8FromAnsi(dll))},
                                                                  {"registered", json::Bool(!registered.empty())},
                                                                  {"version", version.empty() ? json::Null() : json::Str(version)}})}})
                                .c_str());
    } else {
        std::printf("ksconfig %s\nRegistry.dll %s (%s%s)\n", own.empty() ? "(no version resource)" : own.c_str(),
                    version.empty() ? "not found" : version.c_str(), dll.c_str(),
                    registered.empty() ? ", beside ksconfig.exe: the class is not registered" : "");
    }
    return kOk;
}

}  // namespace

int UsageError(const std::string& problem) {
    return Fail(kUsage, problem, std::nullopt,
                g_current != nullptr ? std::string("ksconfig ") + g_current->synopsis
                                     : "ksconfig <command> [arguments] (ksconfig --help lists the commands)");
}

namespace {

int Run(int argc, char** argv) {
    if (argc < 2) return UsageError("no command given");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintOverview(stdout);
        return kOk;
    }
    if (command == "--version") return PrintVersion(argc > 2 && std::strcmp(argv[2], "--json") == 0);
    for (const CommandDef& c : Commands()) {
        if (command == c.name) g_current = &c;
    }
    if (g_current == nullptr) return UsageError("unknown command \"" + command + "\"");
    const CommandDef& def = *g_current;

    Arguments args;
    bool onlyPositional = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (onlyPositional) {
            args.positional.push_back(a);
            continue;
        }
        if (a == "--") {  // a hardware name may start with "-"
            onlyPositional = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            PrintCommandHelp(def);
            return kOk;
        }
        bool isOption = false;
        for (const std::string& o : def.options) isOption = isOption || a == o;
        bool isFlag = false;
        for (const std::string& f : def.flags) isFlag = isFlag || a == f;
        if (isOption) {
            if (i + 1 >= argc) return UsageError(a + " needs a value");
            args.options[a] = argv[++i];
        } else if (isFlag) {
            args.flags.insert(a);
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option " + a);
        } else {
            args.positional.push_back(a);
        }
    }
    if (args.positional.size() < def.minArgs) return UsageError("missing arguments");
    if (args.positional.size() > def.maxArgs) return UsageError("too many arguments");
    return def.run(args);
}

}  // namespace
}  // namespace ksconfig

int main(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) ksconfig::ReportErrorsAsJson(true);
    }
    ksconfig::User();  // the real hive, before any command points HKEY_CURRENT_USER elsewhere
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return ksconfig::StoreFailure("CoInitializeEx", hr);
    int rc;
    try {
        rc = ksconfig::Run(argc, argv);
    } catch (const std::bad_alloc&) {
        rc = ksconfig::Fail(ksconfig::kStoreError, "out of memory", E_OUTOFMEMORY);
    }
    std::fflush(stdout);
    CoUninitialize();
    return rc;
}
