// ksconfig: a command-line client of the settings store, for the people who ship and support
// the scanner utility. It works through the store's own interface; it reads the registry itself
// only where the interface has no method (listing device keys, comparing root and backup,
// exporting the tree).

#include <cstring>

#include "ksconfig.h"

namespace ksconfig {
namespace {

struct CommandDef {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* details;  // more lines for "<command> --help"
    const char* methods;  // the store methods the command calls
    std::size_t minArgs, maxArgs;
    std::vector<std::string> flags;
    std::vector<std::string> options;  // each takes a value
    int (*run)(const Arguments&);
};

const std::vector<CommandDef>& Commands() {
    const std::vector<std::string> json = {"--json"}, forced = {"--json", "--force"};
    static const std::vector<CommandDef> commands = {
        {"scanners", "scanners [--json]", "scanners that have settings, with a summary of each",
         "", "LoadConfigInfo, LoadEventInfo, GetDefualtGamma", 0, 0, json, {}, Scanners},
        {"profiles", "profiles <hardware> [--type <flags>] [--json]",
         "the scan profiles of a scanner", "--type takes the types as set-profile takes flags (KSCNFGFLAG_ALL by default).",
         "LoadConfigInfo, GetConfig", 1, 1, json, {"--type"}, Profiles},
        {"profile", "profile <hardware> <keyname> [--json]", "every field of one scan profile",
         "Finds the profile by its key name (letter case ignored), with the values the store reads other\n"
         "than they are stored; a key the store does not list is shown as it would read it, and why.",
         "GetConfigDetails", 2, 2, json, {}, Profile},
        {"events", "events <hardware> [--json]", "the button events of a scanner", "", "LoadEventInfo, GetEvent", 1, 1,
         json, {}, Events},
        {"event", "event <hardware> <keyname> [--json]", "every field of one button event", "As profile, for an event.",
         "GetEventDetails", 2, 2, json, {}, Event},
        {"set-profile", "set-profile <hardware> <keyname> <field>=<value>... [--force] [--json]",
         "change fields of a scan profile through the store",
         "Fields are named as profile --json prints them (toneMap.hue), in any letter case, or by their\n"
         "registry value. Texts must fit; numbers are decimal or 0x hexadecimal within 32 bits; flag\n"
         "fields also take member names joined with |. A value that does not fit, or bits no member\n"
         "names (unless --force), write nothing (exit 1). The store writes the profile on a scratch\n"
         "copy; that one profile's key then goes into the settings root and the backup tree.",
         "GetConfigDetails, StoreConfigInfo", 3, 64, forced, {}, SetProfile},
        {"set-event", "set-event <hardware> <keyname> <field>=<value>... [--force] [--json]",
         "change fields of a button event through the store", "As set-profile, for an event.",
         "GetEventDetails, StoreEventInfo", 3, 64, forced, {}, SetEvent},
        {"delete-profile", "delete-profile <hardware> <keyname> [--json]",
         "delete a scan profile from the settings root and the backup tree",
         "Deletes its key from both (the backup step only adds), so a rebuilt root cannot bring it back;\n"
         "nothing else is touched (check lists the events that still name it).",
         "none (deletes the keys, as DeleteConfigInfo does)", 2, 2, json, {}, DeleteProfile},
        {"delete-event", "delete-event <hardware> <keyname> [--json]",
         "delete a button event from the settings root and the backup tree", "As delete-profile, for an event.",
         "none (deletes the keys)", 2, 2, json, {}, DeleteEvent},
        {"calibration", "calibration <hardware> [--json]", "current gamma number and the calibration tables of a scanner", "",
         "GetDefualtGamma (the tables themselves are read from the registry)", 1, 1, json, {}, Calibration},
        {"copy-settings", "copy-settings <hardware> [--json]", "copy-to-folder path, options and count",
         "The store's first-use defaults are shown as such, and not written.", "CopyToFolderSettings", 1, 1, json, {},
         CopySettings},
        {"driver-files", "driver-files <hardware> [--ui-profile <name>] [--json]",
         "driver settings templates and the per-user settings files",
         "The install folder, the templates and the TWAIN settings file; with --ui-profile also that\n"
         "interface profile's modes and ISIS settings file. A file the store makes on first use is not made.",
         "GetKSInstallFolder, GetTwainConfigurationFile; SetUIInterfaceProfile and\n"
         "UIInterfaceStartupSettings with --ui-profile",
         1, 1, json, {"--ui-profile"}, DriverFiles},
        {"links", "links [--json]", "link engines, their link caches and the link profiles key", "",
         "LoadLinkInfo, GetLinkEngineContainer, GetLinkEngineCLSID, GetLinkCustomProfile", 0, 0, json, {}, Links},
        {"export", "export [<hardware>] [--format text|reg] [-o <file> [--json]]",
         "the settings tree (or one scanner) as profile text or a registry editor file",
         "--format reg writes what the registry editor and \"reg import\" read, every value byte for byte\n"
         "(to a terminal, as text); --format text the store's profile text, reporting what it leaves out.",
         "none (reads the registry)", 0, 1, json, {"-o", "--format"}, Export},
        {"import", "import <file> [--dry-run] [--json]", "load a registry editor file or profile text into the settings",
         "Either export format, \"reg export\" files and REGEDIT4 files. A line that cannot be read, or a key\n"
         "outside the settings root and the backup tree, is reported with its number and nothing is\n"
         "written (exit 1). Values are added or overwritten, never deleted; each change is listed,\n"
         "marked when check would flag it. --dry-run writes nothing.",
         "none (writes the registry directly)", 1, 1, {"--dry-run", "--json"}, {}, Import},
        {"check", "check [<hardware>] [--json]", "problems in the settings, one line each",
         "Values the store reads other than they are stored (and what it reads), records it does not\n"
         "list or find, tables it does not read, registry links, and every difference between the\n"
         "settings root and the backup tree. Exit 1 when there is any problem.",
         "LoadConfigInfo, GetConfig, LoadEventInfo, GetEvent, GetConfigDetails", 0, 1, json, {}, Check},
        {"backup-status", "backup-status [--json]", "what differs between the settings root and its backup",
         "Exit 4 when the backup is behind the settings root (the next release of a store object copies it).",
         "none (reads the registry; creates no store object)", 0, 0, json, {}, BackupStatus},
        {"restore", "restore [--force | --scanner <hardware>] [-o <file>] [--json]",
         "rebuild the settings root (or one scanner) from the backup tree",
         "Without options only a missing root is rebuilt (by the store's ensure-root step). --force\n"
         "replaces a present root, --scanner one scanner's key; either saves what it replaces first (-o,\n"
         "or \"ksconfig saved <time>.reg\"), which import loads back.",
         "object creation (the rebuild of a whole root)", 0, 0, {"--force", "--json"}, {"--scanner", "-o"}, Restore},
        {"demo", "demo", "a typical client session against the sample scanner",
         "Active scanner, profiles, the active profile edited and saved, calibration through the default\n"
         "profile import, release; it starts by removing the sample scanner's settings.",
         "SetActiveHardware, LoadConfigInfo, GetConfig, GetActiveConfig, StoreActiveConfig,\n"
         "GetCalibrationData, GetDefualtGamma, GetKSInstallFolder",
         0, 0, {}, {}, Demo},
    };
    return commands;
}

const CommandDef* g_current = nullptr;

int PrintOverview() {
    std::printf("usage: ksconfig <command> [arguments]\n"
                "       ksconfig <command> --help\n\n"
                "A client of the settings store (Registry.dll). Commands, and the store methods\n"
                "each one needs:\n\n");
    for (const CommandDef& c : Commands()) {
        std::string methods = c.methods;
        for (std::size_t at = 0; (at = methods.find('\n', at)) != std::string::npos; ++at) methods.insert(at + 1, 24, ' ');
        std::printf("  %-14s %s\n                 needs: %s\n", c.name, c.summary, methods.c_str());
    }
    std::printf("\n--json (every command but demo) writes one JSON document to standard output instead\n"
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
                "Looking changes nothing (the store works on a scratch copy); an edit writes its one record\n"
                "into the root and the backup; a refused command writes nothing; no registry link is followed.\n");
    return kOk;
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
    const std::string own = FileVersion(std::string(self, GetModuleFileNameA(nullptr, self, sizeof(self))));
    const std::string registered = RegisteredStorePath();
    const std::string dll = registered.empty() ? ExeFolder() + "\\Registry.dll" : registered;
    const std::string version = FileVersion(dll);
    if (asJson) {
        return PrintJson({{"ksconfig", own.empty() ? json::Null() : json::Str(own)},
                          {"registryDll", json::Obj({{"path", JsonText(dll)},
                                                     {"registered", json::Bool(!registered.empty())},
                                                     {"version", version.empty() ? json::Null() : json::Str(version)}})}});
    }
    std::printf("ksconfig %s\nRegistry.dll %s (%s%s)\n", own.empty() ? "(no version resource)" : own.c_str(),
                version.empty() ? "not found" : version.c_str(), dll.c_str(),
                registered.empty() ? ", beside ksconfig.exe: the class is not registered" : "");
    return kOk;
}

int Run(int argc, char** argv) {
    if (argc < 2) return UsageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") return PrintOverview();
    if (command == "--version") return PrintVersion(argc > 2 && std::strcmp(argv[2], "--json") == 0);
    for (const CommandDef& c : Commands()) {
        if (command == c.name) g_current = &c;
    }
    if (g_current == nullptr) return UsageError("unknown command \"" + command + "\"");
    const CommandDef& def = *g_current;
    Arguments args;
    bool onlyPositional = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool isOption = std::find(def.options.begin(), def.options.end(), a) != def.options.end();
        const bool isFlag = std::find(def.flags.begin(), def.flags.end(), a) != def.flags.end();
        if (onlyPositional || a.size() < 2 || a[0] != '-') {
            args.positional.push_back(a);
        } else if (a == "--") {  // a hardware name may start with "-"
            onlyPositional = true;
        } else if (a == "--help" || a == "-h") {
            std::printf("usage: ksconfig %s\n\n%s.\n%s%s\nStore methods: %s.\n", def.synopsis, def.summary, def.details,
                        *def.details ? "\n" : "", def.methods);
            return kOk;
        } else if (isOption && i + 1 < argc) {
            args.options[a] = argv[++i];
        } else if (isOption) {
            return UsageError(a + " needs a value");
        } else if (isFlag) {
            args.flags.insert(a);
        } else {
            return UsageError("unknown option " + a);
        }
    }
    if (args.positional.size() < def.minArgs) return UsageError("missing arguments");
    if (args.positional.size() > def.maxArgs) return UsageError("too many arguments");
    return def.run(args);
}

}  // namespace

int UsageError(const std::string& problem) {
    const std::string usage = g_current != nullptr ? std::string("ksconfig ") + g_current->synopsis
                                                   : "ksconfig <command> [arguments] (ksconfig --help lists the commands)";
    Fail(kUsage, problem, std::nullopt, {}, {{"usage", JsonText(usage)}});
    if (!g_jsonErrors) std::fprintf(stderr, "usage: %s\n", usage.c_str());
    return kUsage;
}

}  // namespace ksconfig

int main(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) ksconfig::g_jsonErrors = true;
    }
    ksconfig::User();  // the real hive, before any command points HKEY_CURRENT_USER elsewhere
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
