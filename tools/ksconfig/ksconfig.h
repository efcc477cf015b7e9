#pragma once
// ksconfig's own parts, shared by its commands: the connection to the store and the scratch copy it
// looks through, errors and exit codes; what it reads and writes in the registry itself, through the
// store's registry layer, walker and names; the records as it shows, sets and checks them, all from
// the store's record descriptor; and the commands with the text output they share.
//
// It is used on broken settings, so no path it opens and no walk it makes goes through a registry
// link: a link is met, named with its target and left alone, and a cycle of links costs nothing.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "KsRegistry.h"
#include "core/pure/key_path.h"
#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "json.h"
#include "pure/names.h"
#include "pure/reg_text.h"
#include "pure/values.h"
#include "server/bstr.h"

namespace ksconfig {

using ks::kBackupRoot;
using ks::kSettingsRoot;
using RegValue = ks::RegistryValue;
using Fields = std::span<const ks::Field>;

// ---- The store, the scratch copy and errors

// kRefused: what was named is not there, a file or value was refused (nothing written), or check
// found problems. kBehind: backup-status found the backup behind the settings root.
enum Exit : int { kOk = 0, kNotFound = 1, kRefused = 1, kUsage = 2, kStoreError = 3, kBehind = 4 };

// A store object. Made through the registered class when there is one; otherwise from
// Registry.dll beside ksconfig.exe, with a note on stderr, so an unregistered build still works.
//
// Looking changes nothing. A reading command (kLook) runs the store against a scratch copy of the
// settings root (or, while the root is missing, of the backup tree, which the store then reads to
// rebuild it): this process's HKEY_CURRENT_USER is pointed at the copy, and the store, being
// in-process, follows. What it writes there (first-use defaults, a rebuilt root, the backup taken
// when the object is released) goes away with the copy; an edit copies its one record out of it.
// kEdit: the store works on the real settings, as any client: the demo, and the rebuild of a root.
class Store {
public:
    enum Mode { kLook, kEdit };
    explicit Store(Mode mode = kLook) : mode_(mode) {}
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store();  // releases the object, puts HKEY_CURRENT_USER back and deletes the copy
    // Creating the object runs the store's ensure-root step. Returns the failure's exit code
    // after printing it, or kOk.
    int Open();
    // Open() for a command on one scanner: also kNotFound (after a message) when the scanner has
    // no device key, so a mistyped name never makes settings for it.
    int OpenForDevice(const std::string& hardware);
    IKeystrelConfig* operator->() const { return config_.get(); }
    // Releasing runs the store's backup step (the settings root is copied into the backup).
    void Close() { config_.reset(); }
    // The scratch copy of `path`, for reading; empty when absent.
    ks::UniqueHKey OpenCopy(const std::string& path) const;
    // Whether value `name` of `path` holds something in the copy that the real hive does not: the
    // store wrote it.
    bool Wrote(const std::string& path, const char* name) const;

private:
    int Factory(ks::ComPtr<IClassFactory>& factory);
    // Copies (without registry links, with the store's own tree copy) and redirects; the
    // platform's error when that fails (nothing is redirected then).
    LONG EnterCopy();

    Mode mode_;
    ks::UniqueHKey scratch_;
    std::string scratchPath_;  // below the real HKEY_CURRENT_USER
    std::optional<ks::CurrentUserRedirect> redirect_;
    ks::ComPtr<IKeystrelConfig> config_;
};

// kOk when the scanner has a device key (or, while the root is missing, a key in the backup);
// else reports it (Fail) and gives kNotFound.
int RequireDevice(const std::string& hardware);

// "0x80004001 (E_NOTIMPL: not implemented)".
std::string DescribeHresult(HRESULT hr);
// "0x80004005": how HRESULTs are written for scripts.
std::string HresultText(HRESULT hr);

// Set when --json is given: failures are then reported as one JSON object on standard output,
// {"error":{"exitCode":..,"message":..,"hresult":..}}, instead of text on standard error.
inline bool g_jsonErrors = false;

// Reports a failure ("ksconfig: <message>", with the HRESULT when there is one) and gives
// `exitCode`. `details` are printed as lines before the message in text; `extra` members are added
// to the JSON error object.
int Fail(int exitCode, const std::string& message, std::optional<HRESULT> hr = std::nullopt,
         const std::vector<std::string>& details = {}, const json::Members& extra = {});
// Fail(kStoreError, "<what> failed", hr).
int StoreFailure(const std::string& what, HRESULT hr);

// The DLL the registered class names (its InprocServer32 path); empty when not registered.
std::string RegisteredStorePath();
// The folder of ksconfig.exe, without a trailing backslash.
std::string ExeFolder();

// ---- The registry, where the interface has no method

// The user's own hive, opened once before a command points HKEY_CURRENT_USER at a scratch key:
// every path below is read and written here, never in the scratch copy.
HKEY User();

// The key at `path` below the user's hive, each key on the way opened (or, with `create`, made) as
// itself: empty when one is missing or a registry link (then named in `*link`, when given).
ks::UniqueHKey OpenPath(const std::wstring& path, bool create = false, LinkSeen* link = nullptr);
ks::UniqueHKey OpenPath(const std::string& path, bool create = false, LinkSeen* link = nullptr);
inline bool KeyExists(const std::string& path) { return static_cast<bool>(OpenPath(path)); }
// "; <path> is a registry link to <target>, which ksconfig does not follow", or "" when `link`
// names none: what a message adds when a path could not be opened.
inline std::string NotFollowed(const LinkSeen& link) {
    return link.path.empty() ? std::string() : "; " + link.Text() + ", which ksconfig does not follow";
}
// Deletes the tree at `path` (a link on the way deletes nothing); the platform's code.
LONG DeletePath(const std::string& path, LinkSeen* link = nullptr);

// The store's walk below `top`, at most `depth` levels: `key` gets each key with its path below
// `top` ("" for `top` itself) and answers whether to walk its subkeys; `link` gets each registry
// link met, with its target; `failed` each subkey that could not be opened.
void Walk(HKEY top, std::size_t depth, const std::function<bool(HKEY key, const std::wstring& below)>& key,
          const std::function<void(const std::wstring& below, const std::string& target)>& link,
          const std::function<void(const std::wstring& below, LONG error)>& failed = {});
// The subkeys of `key` (one level of Walk), ANSI names; links to `links` when given (else skipped).
void ForEachChild(HKEY key, const std::function<void(HKEY child, const std::string& name)>& visit,
                  std::vector<LinkSeen>* links = nullptr);

// The device keys: subkeys of the settings root (of the backup tree while the root is missing,
// as a client's first call would rebuild it) that are neither the store's engine keys nor the
// settings of other components. Links to `links` when given.
std::vector<std::string> DeviceNames(std::vector<LinkSeen>* links = nullptr);

// The tree at `top` below the user's hive, flattened for comparison.
Tree ReadTree(const std::string& top);
// The tree at `path`, each key named "HKEY_CURRENT_USER\<path>..." with its values read through the
// wide calls (byte for byte), sorted by name; registry links to `links`.
std::vector<regtext::Key> ReadKeys(const std::string& path, std::vector<LinkSeen>& links);

// A key's values sorted by name, letter case ignored.
std::vector<RegValue> SortedValues(HKEY key);

// Text at the platform's edge, through the store's one pair of conversions: the registry's 8-bit
// names are in the ANSI code page, files and JSON in UTF-16 and UTF-8.
std::string Ansi(std::wstring_view wide);
std::string AnsiFromUtf16(std::u16string_view text);
std::u16string Utf16FromAnsi(std::string_view ansi);
std::string Utf8FromAnsi(std::string_view ansi);
std::string AnsiFromUtf8(std::string_view utf8);
// A JSON string of an ANSI text.
std::string JsonText(std::string_view ansi);

// ---- Records

// A scan profile or an event, where one command handles either.
union Record {
    _KSCONFIG profile;
    _KSEVENT event;
};

// The field of `table` whose display name is `display` (the table must have it).
const ks::Field& FieldNamed(Fields table, std::string_view display);

// One field's value as people read it (a quoted text, a number, flags with their names) and as
// JSON; `bytes` are the field's own.
std::string FieldText(const char* bytes, const ks::Field& field);
std::string FieldJson(const char* bytes, const ks::Field& field);
// The record as one JSON object, and as "field   value" lines for people.
std::string RecordJson(const void* record, Fields table);
void PrintRecord(const void* record, Fields table);

// Applies "field=value" settings to a record, each checked against its field's type and range
// (and, unless `force`, against its enumeration's members). False on any refusal, with `errors`
// saying why, one line a setting: the record is then half set and not to be stored. Fields are
// found by FindField(); those found go to `named`.
bool ApplySettings(void* record, Fields table, const std::vector<std::string>& settings, bool force,
                   std::vector<std::string>& errors, std::set<const ks::Field*>& named);

// Reads the record at an open key as the store's loads read one: for records its lists leave out.
void ReadRecord(HKEY key, const std::string& keyName, void* record, Fields table);

// The gamma number whose table a value of a device's CalibrationProfiles key is, if it is one.
std::optional<LONG> TableNumber(const std::string& valueName);

struct Problem {
    std::string key;    // below the settings root
    std::string value;  // the value's name; empty for the key itself
    std::string text;
    const ks::Field* field = nullptr;  // the field the value is read into, if any
};

// The records kept at `below` (a path below the settings root or the backup tree): a device key's
// copy-to-folder and calibration settings, a scan profile or an event; none for other keys.
std::vector<Fields> FieldsAt(const std::string& below);
// The values of an open key that the store reads other than they are stored, for the fields of
// `table`, each with what the store reads instead.
void CheckFields(HKEY key, const std::string& path, Fields table, std::vector<Problem>& out);
// A profile or event key (`event`): its values, and, when the store does not list it, why.
void CheckRecord(HKEY key, const std::string& path, bool event, bool listed, std::vector<Problem>& out);
// Where the settings root (or its key `below`) and the backup tree disagree, and the registry links
// in either, as check lists them.
void CheckBackup(const std::string& below, std::vector<Problem>& out);
// The problems of one scanner's settings, as "check <hardware>" lists them.
std::vector<Problem> CheckScanner(Store& store, const std::string& hardware);

// "Dev\ScanProfiles\P1 "Xresolution": <text>", and a list of problems in JSON.
std::string ProblemLine(const Problem& p);
std::string ProblemsJson(const std::vector<Problem>& problems);

// ---- Commands and their output

struct Arguments {
    std::vector<std::string> positional;
    std::set<std::string> flags;                 // "--json", "--force"
    std::map<std::string, std::string> options;  // "--type" -> "images"
    bool Has(const char* flag) const { return flags.count(flag) != 0; }
    std::string Option(const char* name, const std::string& fallback = {}) const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

int Scanners(const Arguments& args);
int Profiles(const Arguments& args);
int Profile(const Arguments& args);
int Events(const Arguments& args);
int Event(const Arguments& args);
int Calibration(const Arguments& args);
int CopySettings(const Arguments& args);
int DriverFiles(const Arguments& args);
int Links(const Arguments& args);
int Export(const Arguments& args);
int Import(const Arguments& args);
int BackupStatus(const Arguments& args);
int Check(const Arguments& args);
int SetProfile(const Arguments& args);
int SetEvent(const Arguments& args);
int DeleteProfile(const Arguments& args);
int DeleteEvent(const Arguments& args);
int Restore(const Arguments& args);
int Demo(const Arguments& args);

// Writes the tree at `path` (below the current user's hive) as a registry editor file.
int SaveAsRegFile(const std::string& path, const std::string& file);

// Prints one JSON document, an object or an array; kOk.
int PrintJson(const json::Members& members);

// Reports a usage problem of the command being run and gives the usage exit code.
int UsageError(const std::string& problem);

// Reports (Fail) a record that is not there, `where` added to the message, with a hint: the key
// whose display name was given, or the key names there are. Gives kNotFound.
int RecordNotFound(const std::string& hardware, bool event, const std::string& keyName, const std::string& where = {});

// "1 event", "2 events".
inline std::string Count(long n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "0x00000005 KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF".
inline std::string FlagsText(std::uint32_t value, Names table) {
    return Hex32(value) + " " + JoinNames(DecodeBits(value, table));
}

// One "label           value" line.
inline void PrintField(const char* label, const std::string& value) { std::printf("%-15s %s\n", label, value.c_str()); }

// Rows of cells, indented by two, each column but the last padded to its widest cell.
inline void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line = " ";
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += ' ' + row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 1, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace ksconfig
