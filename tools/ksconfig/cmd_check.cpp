// check: every record under the settings root against the layout the store reads, and the
// settings root against its backup.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "check.h"
#include "commands.h"
#include "fields.h"
#include "json.h"
#include "output.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

constexpr std::size_t kProfileKeyNameMax = 39;  // the record's key name field, less its NUL
constexpr std::size_t kEventKeyNameMax = 31;
constexpr std::size_t kListedNameLimit = 64;    // the store's listing buffer: a longer name ends it

// Subkeys of `parent` (records of one kind), each checked; their names folded into `names`.
void CheckRecords(HKEY device, const std::string& devicePath, const char* parent, bool event, std::set<std::string>* names,
                  std::vector<Problem>& out) {
    ks::UniqueHKey list = OpenSub(device, parent, KEY_READ);
    if (!list) return;
    const std::size_t keyNameMax = event ? kEventKeyNameMax : kProfileKeyNameMax;
    ForEachChild(list.get(), [&](HKEY key, const std::string& name) {
        const std::string path = devicePath + "\\" + parent + "\\" + name;
        if (names != nullptr) names->insert(Fold(name));
        if (name.size() >= kListedNameLimit) {
            out.push_back({path, "", "a key name of 64 or more characters ends the store's listing: neither it nor the "
                                     "keys listed after it are read"});
        } else if (name.size() > keyNameMax) {
            out.push_back({path, "", "a key name longer than " + std::to_string(keyNameMax) +
                                         " characters does not fit the record: the store skips it"});
        }
        CheckRecordKey(key, path, event, out);
    });
}

void CheckCalibration(HKEY device, const std::string& devicePath, std::vector<Problem>& out) {
    const std::string path = devicePath + "\\" + ks::kCalibrationProfilesKey;
    ks::UniqueHKey tables = OpenSub(device, ks::kCalibrationProfilesKey, KEY_READ);
    std::vector<RegValue> values = tables ? SortedValues(tables.get()) : std::vector<RegValue>{};
    // A scanner's tables share one size: the one most of them have is taken as right.
    std::map<std::size_t, std::size_t> sizes;
    for (const RegValue& v : values) {
        if (v.type == REG_BINARY && GammaNumber(v.name)) ++sizes[v.data.size()];
    }
    auto common = std::max_element(sizes.begin(), sizes.end(), [](auto& a, auto& b) { return a.second < b.second; });
    const bool majority = common != sizes.end() && common->second * 2 > values.size();
    for (const RegValue& v : values) {
        if (!GammaNumber(v.name)) {
            out.push_back({path, v.name, "not a table name (\"Gamma - <number>\"): the store never reads it"});
        } else if (v.type != REG_BINARY) {
            out.push_back({path, v.name, TypeName(v.type) + " where the store reads a REG_BINARY table: it finds no table"});
        } else if (majority && v.data.size() != common->first) {
            out.push_back({path, v.name, Count(static_cast<long>(v.data.size()), "byte") + " where the scanner's other tables have " +
                                             std::to_string(common->first)});
        }
    }
    DWORD gamma = 0;
    if (ks::ReadDword(device, ks::kCurrentGammaValue, &gamma) && gamma != 0) {
        const std::string table = ks::kGammaTablePrefix + std::to_string(static_cast<LONG>(gamma));
        if (!tables || !ReadValue(tables.get(), table.c_str())) {
            out.push_back({devicePath, ks::kCurrentGammaValue, "names the table \"" + table + "\", which is missing"});
        }
    }
}

void CheckBackup(const std::string& below, std::vector<Problem>& out) {
    const std::string rootPath = below.empty() ? std::string(kSettingsRoot) : ks::JoinKey(kSettingsRoot, below);
    const std::string backupPath = below.empty() ? std::string(kBackupRoot) : ks::JoinKey(kBackupRoot, below);
    const Tree root = ReadTree(rootPath), backup = ReadTree(backupPath);
    auto full = [&](const std::string& path) { return below.empty() ? path : path.empty() ? below : below + "\\" + path; };
    for (const LinkSeen& l : root.links) {
        out.push_back({full(l.path), "", "a registry link to " + l.target + ": not followed; the store leaves it out "
                                         "of its lists and of the backup"});
    }
    for (const LinkSeen& l : backup.links) {
        out.push_back({full(l.path), "", "a registry link in the backup tree to " + l.target +
                                         ": not followed; a rebuilt settings root leaves it out"});
    }
    if (!backup.present) {
        if (root.present) out.push_back({below, "", "not in the backup tree"});
        return;
    }
    if (!root.present) {
        out.push_back({below, "", below.empty() ? "the settings root is missing: the next client rebuilds it from the backup"
                                                : "only in the backup tree: a rebuilt settings root would have it"});
        return;
    }
    for (const Difference& d : Collapsed(Missing(root, backup, true))) {
        out.push_back({full(d.path), d.name, d.changed ? "differs from the backup: " + d.data + " here, " + d.otherData + " there"
                                                       : "not in the backup"});
    }
    for (const Difference& d : Collapsed(Missing(backup, root, false))) {
        out.push_back({full(d.path), d.name, "only in the backup: a rebuilt settings root would have it again"});
    }
}

void CheckOtherKeys(std::vector<Problem>& out) {
    static const std::vector<FieldDef> kEngine = {{"guid", ks::kEngineClassValue, FieldDef::Kind::Text, 0, MAX_PATH},
                                                  {"linkCache", ks::kLinkCacheValue, FieldDef::Kind::Text, 0, MAX_PATH}};
    static const std::vector<FieldDef> kInterface = {{"scanMode", "ScanMode", FieldDef::Kind::Long, 0, 4},
                                                     {"deviceMode", "DeviceMode", FieldDef::Kind::Long, 0, 4},
                                                     {"iniFile", "IniFile", FieldDef::Kind::Text, 0, MAX_PATH}};
    ks::UniqueHKey root = OpenRead(kSettingsRoot);
    if (!root) return;
    ForEachChild(root.get(), [&](HKEY key, const std::string& name) {
        if (IsEngineKey(key)) CheckValues(key, name, kEngine, out);
    });
    ks::UniqueHKey profiles = OpenSub(root.get(), ks::kUIInterfaceProfilesKey, KEY_READ);
    if (!profiles) return;
    ForEachChild(profiles.get(), [&](HKEY key, const std::string& name) {
        CheckValues(key, std::string(ks::kUIInterfaceProfilesKey) + "\\" + name, kInterface, out);
    });
}

}  // namespace

void CheckValues(HKEY key, const std::string& path, const std::vector<FieldDef>& table, std::vector<Problem>& out) {
    for (const FieldDef& f : table) {
        if (f.value == nullptr) continue;
        if (std::optional<RegValue> v = ReadValue(key, f.value)) {
            if (std::optional<std::string> problem = ValueProblem(f, v->type, v->data)) out.push_back({path, f.value, *problem});
        }
    }
}

void CheckRecordKey(HKEY key, const std::string& path, bool event, std::vector<Problem>& out) {
    CheckValues(key, path, event ? EventFields() : ProfileFields(), out);
    if (event) return;
    // The store lists a profile only for its type bits or KSCNFGFLAG_SHOWALL.
    std::optional<RegValue> flags = ReadValue(key, "Flags");
    DWORD bits = 0;
    if (flags && flags->data.size() <= 4) std::copy(flags->data.begin(), flags->data.end(), reinterpret_cast<BYTE*>(&bits));
    if (!flags) {
        out.push_back({path, "Flags", "missing: the store lists no profile without it"});
    } else if ((bits & (KSCNFGFLAG_ALL | KSCNFGFLAG_SHOWALL)) == 0) {
        out.push_back({path, "Flags", "no profile type and no KSCNFGFLAG_SHOWALL: the store lists it for no type"});
    }
}

namespace {

// Device values, profiles, events, calibration tables, driver settings: the records of one scanner.
void CheckDevice(const std::string& hardware, std::vector<Problem>& out) {
    if (ks::UniqueHKey device = OpenRead(ks::DeviceKeyPath(hardware))) {
        CheckValues(device.get(), hardware, DeviceFields(), out);
        std::set<std::string> profiles;
        CheckRecords(device.get(), hardware, ks::kScanProfilesKey, false, &profiles, out);
        CheckRecords(device.get(), hardware, ks::kEventProfilesKey, true, nullptr, out);
        // Events name their scan profile by its key name.
        if (ks::UniqueHKey events = OpenSub(device.get(), ks::kEventProfilesKey, KEY_READ)) {
            ForEachChild(events.get(), [&](HKEY key, const std::string& name) {
                std::optional<std::string> config = ks::ReadString(key, "ScanConfig", 64);
                if (config && !config->empty() && profiles.count(Fold(*config)) == 0) {
                    out.push_back({hardware + "\\" + ks::kEventProfilesKey + "\\" + name, "ScanConfig",
                                   "names the scan profile \"" + *config + "\", which is missing"});
                }
            });
        }
        CheckCalibration(device.get(), hardware, out);
        if (ks::UniqueHKey twain = OpenSub(device.get(), ks::kTwainSettingsKey, KEY_READ)) {
            static const std::vector<FieldDef> kTwain = {{"iniFile", "IniFile", FieldDef::Kind::Text, 0, MAX_PATH}};
            CheckValues(twain.get(), hardware + "\\" + ks::kTwainSettingsKey, kTwain, out);
        }
    }
}

}  // namespace

std::vector<Problem> CheckScanner(const std::string& hardware) {
    std::vector<Problem> out;
    CheckDevice(hardware, out);
    CheckBackup(hardware, out);
    return out;
}

std::optional<std::string> StoredValueProblem(const std::string& path, const std::string& name, DWORD type,
                                              const std::vector<BYTE>& data) {
    std::vector<std::string> parts;  // below the root or the backup: hardware, and list and key
    for (const char* top : {kSettingsRoot, kBackupRoot}) {
        const std::string prefix = Fold(std::string(top) + "\\");
        if (Fold(path.substr(0, prefix.size())) != prefix) continue;
        for (std::size_t start = prefix.size(); start <= path.size();) {
            const std::size_t end = std::min(path.find('\\', start), path.size());
            parts.push_back(Fold(path.substr(start, end - start)));
            start = end + 1;
        }
    }
    const std::size_t n = parts.size();
    const std::vector<FieldDef>* table = n == 1 && !ks::IsOtherComponentKey(parts[0]) ? &DeviceFields()
                                         : n >= 3 && parts[n - 2] == Fold(ks::kScanProfilesKey) ? &ProfileFields()
                                         : n >= 3 && parts[n - 2] == Fold(ks::kEventProfilesKey) ? &EventFields()
                                                                                                  : nullptr;
    for (const FieldDef& f : table != nullptr ? *table : std::vector<FieldDef>()) {
        if (f.value != nullptr && lstrcmpiA(f.value, name.c_str()) == 0) return ValueProblem(f, type, data);
    }
    return std::nullopt;
}

std::string ProblemLine(const Problem& p) {
    return (p.key.empty() ? std::string("(settings root)") : p.key) + (p.value.empty() ? "" : " \"" + p.value + "\"") + ": " + p.text;
}

std::string ProblemsJson(const std::vector<Problem>& problems) {
    std::vector<std::string> items;
    for (const Problem& p : problems) {
        items.push_back(json::Obj({{"key", json::Str(Utf8FromAnsi(p.key))},
                                   {"value", p.value.empty() ? json::Null() : json::Str(Utf8FromAnsi(p.value))},
                                   {"problem", json::Str(Utf8FromAnsi(p.text))}}));
    }
    return json::Arr(items);
}

int Check(const Arguments& args) {
    std::vector<Problem> problems;
    std::string scope = std::string("HKEY_CURRENT_USER\\") + kSettingsRoot;
    if (!args.positional.empty()) {
        const std::string& hardware = args.positional[0];
        if (!KeyExists(ks::DeviceKeyPath(hardware)) && !KeyExists(ks::JoinKey(kBackupRoot, hardware))) {
            return RequireDevice(hardware);
        }
        problems = CheckScanner(hardware);
        scope += "\\" + hardware;
    } else {
        for (const std::string& device : DeviceNames()) CheckDevice(device, problems);
        CheckOtherKeys(problems);
        CheckBackup("", problems);
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Obj({{"scope", json::Str(Utf8FromAnsi(scope))}, {"problems", ProblemsJson(problems)}}).c_str());
    } else if (problems.empty()) {
        std::printf("no problems in %s\n", scope.c_str());
    } else {
        std::printf("%s in %s:\n", Count(static_cast<long>(problems.size()), "problem").c_str(), scope.c_str());
        for (const Problem& p : problems) std::printf("  %s\n", ProblemLine(p).c_str());
    }
    return problems.empty() ? kOk : kRefused;
}

}  // namespace ksconfig
