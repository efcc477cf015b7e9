// check: every record under the settings root against what the store reads and lists, and the
// settings root against its backup.

#include "calibration/calibration.h"
#include "ksconfig.h"
#include "links/link_service.h"

namespace ksconfig {
namespace {

std::string Below(const std::string& path, const std::string& child) { return path + "\\" + child; }

// The key names of the profiles (`event`: events) the store lists for a scanner, every type.
std::set<std::string> Listed(Store& store, const std::string& hardware, bool event) {
    std::set<std::string> names;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG count = 0;
    const HRESULT hr =
        event ? store->LoadEventInfo(name.get(), &count) : store->LoadConfigInfo(name.get(), KSCNFGFLAG_ALL, &count);
    Record r{};
    for (LONG i = 0; SUCCEEDED(hr) && i < count; ++i) {
        if (SUCCEEDED(event ? store->GetEvent(i, &r.event) : store->GetConfig(i, &r.profile))) {
            names.insert(event ? ks::FieldText(r.event.keyname) : ks::FieldText(r.profile.keyname));
        }
    }
    return names;
}

void CheckRecords(Store& store, const std::string& hardware, bool event, std::vector<Problem>& out) {
    const char* list = event ? ks::kEventProfilesKey : ks::kScanProfilesKey;
    const std::set<std::string> listed = Listed(store, hardware, event);
    if (ks::UniqueHKey key = OpenPath(ks::JoinKey(ks::DeviceKeyPath(hardware), list))) {
        ForEachChild(key.get(), [&](HKEY record, const std::string& name) {
            CheckRecord(record, Below(Below(hardware, list), name), event, listed.count(name) != 0, out);
        });
    }
    if (!event) return;
    // An event names its scan profile by key name: one the store cannot find for a client is a problem.
    const ks::Field& config = FieldNamed(ks::EventFields(), "config");
    std::string name = hardware;
    _KSEVENT e{};
    for (LONG i = 0; SUCCEEDED(store->GetEvent(i, &e)); ++i) {
        _KSCONFIG c{};
        if (e.config[0] != '\0' && store->GetConfigDetails(name.data(), e.config, &c) == E_INVALIDARG) {
            out.push_back({Below(Below(hardware, list), ks::FieldText(e.keyname)), config.value,
                           "names the scan profile \"" + ks::FieldText(e.config) + "\", which the store does not find"});
        }
    }
}

void CheckCalibration(HKEY device, const std::string& hardware, std::vector<Problem>& out) {
    const std::string path = Below(hardware, ks::kCalibrationProfilesKey);
    ks::UniqueHKey tables = OpenPath(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kCalibrationProfilesKey));
    for (const RegValue& v : tables ? SortedValues(tables.get()) : std::vector<RegValue>()) {
        std::vector<unsigned char> bytes(v.data.size() + 1);
        const std::optional<LONG> gamma = TableNumber(v.name);
        const std::string noName = "not a table name (\"" + ks::TableName(1) + "\" and so on): the store never reads it";
        if (!gamma || !ks::QueryTable(tables.get(), *gamma, static_cast<LONG>(v.data.size()), bytes.data())) {
            out.push_back({path, v.name, gamma ? ks::TypeName(v.type) + ": the store does not read it as a table" : noName});
        }
    }
    const LONG gamma = ks::CurrentGamma(device);
    const std::string table = ks::TableName(gamma);
    if (gamma != 0 && (!tables || ks::QueryValue(tables.get(), table.c_str(), nullptr, nullptr, nullptr) != ERROR_SUCCESS)) {
        out.push_back({hardware, ks::kCurrentGammaValue, "names the table \"" + table + "\", which is missing"});
    }
}

}  // namespace

void CheckBackup(const std::string& below, std::vector<Problem>& out) {
    auto under = [&](const char* top) { return below.empty() ? std::string(top) : ks::JoinKey(top, below); };
    const Tree root = ReadTree(under(kSettingsRoot)), backup = ReadTree(under(kBackupRoot));
    auto full = [&](const std::string& path) { return below.empty() ? path : path.empty() ? below : below + "\\" + path; };
    for (const Tree* t : {&root, &backup}) {
        const std::string where = t == &root ? "" : "in the backup tree: ";
        for (const LinkSeen& l : t->links) {
            out.push_back({full(l.path), "", where + "a registry link to " + l.target + ": not followed; " +
                                                 (t == &root ? "the store leaves it out of its lists and of the backup"
                                                             : "a rebuilt settings root leaves it out")});
        }
        for (const auto& [path, error] : t->unread) {
            out.push_back({full(path), "", where + "could not be read, " + DescribeHresult(HRESULT_FROM_WIN32(error))});
        }
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

namespace {

// Device values, profiles, events and calibration tables: the records of one scanner.
void CheckDevice(Store& store, const std::string& hardware, std::vector<Problem>& out) {
    ks::UniqueHKey device = OpenPath(ks::DeviceKeyPath(hardware));
    if (!device) return;
    for (Fields table : FieldsAt(hardware)) CheckFields(device.get(), hardware, table, out);
    CheckRecords(store, hardware, false, out);
    CheckRecords(store, hardware, true, out);
    CheckCalibration(device.get(), hardware, out);
    const std::string twain = Below(hardware, ks::kTwainSettingsKey);
    if (ks::UniqueHKey key = OpenPath(ks::JoinKey(kSettingsRoot, twain))) CheckFields(key.get(), twain, ks::DriverFields(), out);
}

// The engine keys and the interface profiles beside the device keys.
void CheckOtherKeys(std::vector<Problem>& out) {
    if (ks::UniqueHKey root = OpenPath(kSettingsRoot)) {
        ForEachChild(root.get(), [&](HKEY key, const std::string& name) {
            if (ks::IsEngineKey(key)) CheckFields(key, name, ks::EngineFields(), out);
        });
    }
    if (ks::UniqueHKey profiles = OpenPath(ks::UIInterfaceProfilesPath())) {
        ForEachChild(profiles.get(), [&](HKEY key, const std::string& name) {
            CheckFields(key, Below(ks::kUIInterfaceProfilesKey, name), ks::DriverFields(), out);
        });
    }
}

}  // namespace

std::vector<Fields> FieldsAt(const std::string& below) {
    const std::size_t last = below.rfind('\\');
    if (last == std::string::npos) {
        return ks::IsOtherComponentKey(below) ? std::vector<Fields>()
                                              : std::vector<Fields>{ks::CopySettingsFields(), ks::CalibrationFields()};
    }
    const std::string parent = Fold(below.substr(0, last));  // <hardware>\<list> for a record
    const std::size_t slash = parent.rfind('\\');
    const std::string list = slash == std::string::npos || slash == 0 ? "" : parent.substr(slash + 1);
    if (list == Fold(ks::kScanProfilesKey) || list == Fold(ks::kEventProfilesKey)) {
        return {list == Fold(ks::kScanProfilesKey) ? ks::ProfileFields() : ks::EventFields()};
    }
    const bool driver =
        parent == Fold(ks::kUIInterfaceProfilesKey) || Fold(below.substr(last + 1)) == Fold(ks::kTwainSettingsKey);
    return driver ? std::vector<Fields>{ks::DriverFields()} : std::vector<Fields>();
}

void CheckFields(HKEY key, const std::string& path, Fields table, std::vector<Problem>& out) {
    for (const ks::Field& f : table) {
        if (f.rule == ks::ReadRule::None) continue;
        const ks::StoreReading read = ks::WhatTheStoreReads(key, f);
        if (read.why.empty()) continue;
        std::string text =
            read.why + ": " + (read.taken ? "it reads " + FieldText(read.field.data(), f) : "it takes it as missing");
        if (Fold(f.display) != Fold(f.value)) text += std::string(" for ") + f.display;
        out.push_back({path, f.value, text, &f});
    }
}

void CheckRecord(HKEY key, const std::string& path, bool event, bool listed, std::vector<Problem>& out) {
    const Fields table = event ? ks::EventFields() : ks::ProfileFields();
    CheckFields(key, path, table, out);
    if (listed) return;
    // Why, as far as the record tells: a key name that does not fit it, or the flags the store reads.
    const std::size_t keyNameSize = FieldNamed(table, "keyName").size;
    const ks::Field& flags = FieldNamed(table, "flags");
    const ks::StoreReading read = ks::WhatTheStoreReads(key, flags);
    const std::string why =
        path.size() - path.rfind('\\') > keyNameSize
            ? ": its key name is longer than the record's " + std::to_string(keyNameSize - 1) + " characters"
        : event        ? std::string()
        : read.present ? " for any type: it reads its " + Quoted(flags.value) + " as " + FieldText(read.field.data(), flags)
                       : " for any type: it has no " + Quoted(flags.value) + " value";
    out.push_back({path, "", "the store does not list it" + why});
}

std::vector<Problem> CheckScanner(Store& store, const std::string& hardware) {
    std::vector<Problem> out;
    CheckDevice(store, hardware, out);
    CheckBackup(hardware, out);
    return out;
}

std::string ProblemLine(const Problem& p) {
    return (p.key.empty() ? std::string("(settings root)") : p.key) + (p.value.empty() ? "" : " \"" + p.value + "\"") + ": " +
           p.text;
}

std::string ProblemsJson(const std::vector<Problem>& problems) {
    std::vector<std::string> items;
    for (const Problem& p : problems) {
        items.push_back(json::Obj({{"key", JsonText(p.key)},
                                   {"value", p.value.empty() ? json::Null() : JsonText(p.value)},
                                   {"problem", JsonText(p.text)}}));
    }
    return json::Arr(items);
}

int Check(const Arguments& args) {
    std::vector<Problem> problems;
    std::string scope = std::string("HKEY_CURRENT_USER\\") + kSettingsRoot;
    const std::string hardware = args.positional.empty() ? "" : args.positional[0];
    // A scanner only in the backup is checked against it.
    if (!hardware.empty() && !KeyExists(ks::DeviceKeyPath(hardware)) && !KeyExists(ks::JoinKey(kBackupRoot, hardware))) {
        return RequireDevice(hardware);
    }
    Store store;
    if (int rc = store.Open(); rc != kOk) return rc;
    if (!hardware.empty()) {
        problems = CheckScanner(store, hardware);
        scope += "\\" + hardware;
    } else {
        for (const std::string& device : DeviceNames()) CheckDevice(store, device, problems);
        CheckOtherKeys(problems);
        CheckBackup("", problems);
    }
    if (args.Has("--json")) {
        PrintJson({{"scope", JsonText(scope)}, {"problems", ProblemsJson(problems)}});
    } else if (problems.empty()) {
        std::printf("no problems in %s\n", scope.c_str());
    } else {
        std::printf("%s in %s:\n", Count(static_cast<long>(problems.size()), "problem").c_str(), scope.c_str());
        for (const Problem& p : problems) std::printf("  %s\n", ProblemLine(p).c_str());
    }
    return problems.empty() ? kOk : kRefused;
}

}  // namespace ksconfig
