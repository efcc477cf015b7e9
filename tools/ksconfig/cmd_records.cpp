// Commands that show scan profiles, events and the scanners that have them.
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "commands.h"
#include "fields.h"
#include "json.h"
#include "pure/names.h"
#include "output.h"
#include "core/text.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

// The problems of one scanner's settings, noted on standard error when a listing shows them.
void NoteProblems(const std::string& hardware) {
    if (std::size_t n = CheckScanner(hardware).size(); n > 0) {
        std::fprintf(stderr, "ksconfig: %s in the settings of \"%s\" (ksconfig check \"%s\" lists them)\n",
                     Count(static_cast<long>(n), "problem").c_str(), hardware.c_str(), hardware.c_str());
    }
}

// The registry links among the records of a listing: shown, never followed (nor listed by the store).
void PrintLinks(const std::string& hardware, const char* list) {
    std::vector<LinkSeen> links;
    if (ks::UniqueHKey key = OpenRead(ks::JoinKey(ks::DeviceKeyPath(hardware), list))) {
        ForEachChild(key.get(), [](HKEY, const std::string&) {}, &links);
    }
    for (const LinkSeen& l : links) std::printf("  %s  a registry link to %s, not followed\n", l.path.c_str(), l.target.c_str());
}

// Shows one record with the problems of its key: warnings on standard error, or a "problems"
// member in JSON.
void ShowRecord(const void* record, const std::vector<FieldDef>& table, const std::vector<Problem>& problems,
                bool asJson) {
    if (asJson) {
        std::string object = RecordJson(record, table);
        object.pop_back();
        std::printf("%s,\"problems\":%s}\n", object.c_str(), ProblemsJson(problems).c_str());
        return;
    }
    PrintRecord(record, table);
    for (const Problem& p : problems) std::fprintf(stderr, "ksconfig: warning: %s\n", ProblemLine(p).c_str());
}

int CalibrationTableCount(const std::string& hardware) {
    ks::UniqueHKey key = OpenRead(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kCalibrationProfilesKey));
    return key ? static_cast<int>(SortedValues(key.get()).size()) : 0;
}

}  // namespace

int RequireDevice(const std::string& hardware) {
    LinkSeen link;
    if (OpenRead(ks::DeviceKeyPath(hardware), &link)) return kOk;
    // A missing root is rebuilt from the backup by a client's first call.
    if (link.path.empty() && !KeyExists(kSettingsRoot) && KeyExists(ks::JoinKey(kBackupRoot, hardware))) return kOk;
    return Fail(kNotFound, "no settings for scanner \"" + hardware + "\"" + NotFollowed(link));
}

int RecordNotFound(const std::string& hardware, bool event, const std::string& keyName, const std::string& where) {
    const std::string kind = event ? "event" : "scan profile";
    std::string message = "scanner \"" + hardware + "\" has no " + kind + " with the key name \"" + keyName + "\"" + where;
    // A display name given for a key name, or else the key names there are.
    std::vector<std::string> keys, named;
    LinkSeen link;
    const std::string list = ks::JoinKey(ks::DeviceKeyPath(hardware), event ? ks::kEventProfilesKey : ks::kScanProfilesKey);
    OpenRead(ks::JoinKey(list, keyName), &link);
    if (ks::UniqueHKey key = OpenRead(list)) {
        ForEachChild(key.get(), [&](HKEY record, const std::string& name) {
            keys.push_back(name);
            if (lstrcmpiA(ReadText(record, "Name").value_or("").c_str(), keyName.c_str()) == 0) named.push_back(name);
        });
    }
    auto join = [](const std::vector<std::string>& names) {
        std::string out;
        for (std::size_t i = 0; i < names.size() && i < 12; ++i) out += (i ? ", " : "") + names[i];
        return names.size() > 12 ? out + " and " + std::to_string(names.size() - 12) + " more" : out;
    };
    if (!named.empty()) {
        message += ": that is the display name of " + join(named) + "; give the key name";
    } else if (!keys.empty()) {
        message += "; its " + kind + "s are " + join(keys);
    }
    return Fail(kNotFound, message + NotFollowed(link));
}

int Scanners(const Arguments& args) {
    Store store;
    if (int rc = store.Open(); rc != kOk) return rc;
    std::vector<std::string> json;
    std::vector<std::string> lines;
    std::vector<LinkSeen> links;
    std::vector<std::string> devices = DeviceNames(&links);
    for (const std::string& device : devices) {
        ks::UniqueBstr name = ks::MakeBstr(device);
        LONG profiles = 0, events = 0, gamma = 0;
        HRESULT hr = store->LoadConfigInfo(name.get(), KSCNFGFLAG_ALL, &profiles);
        if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
        hr = store->LoadEventInfo(name.get(), &events);
        if (FAILED(hr)) return StoreFailure("LoadEventInfo", hr);
        hr = store->GetDefualtGamma(name.get(), &gamma);
        bool hasGamma = hr == S_OK;
        if (FAILED(hr) && hr != E_FAIL) return StoreFailure("GetDefualtGamma", hr);
        int tables = CalibrationTableCount(device);
        lines.push_back("  " + device + ": " + Count(profiles, "scan profile") + ", " + Count(events, "event") + ", " +
                        (hasGamma ? "current gamma " + std::to_string(gamma) : std::string("no current gamma")) +
                        ", " + Count(tables, "calibration table"));
        json.push_back(json::Obj({{"name", json::Str(Utf8FromAnsi(device))},
                                  {"profiles", json::Num(profiles)},
                                  {"events", json::Num(events)},
                                  {"currentGamma", hasGamma ? json::Num(gamma) : json::Null()},
                                  {"calibrationTables", json::Num(tables)}}));
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s with settings\n", Count(static_cast<long>(devices.size()), "scanner").c_str());
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
        for (const LinkSeen& l : links) std::printf("  %s: a registry link to %s, not followed\n", l.path.c_str(), l.target.c_str());
    }
    return kOk;
}

int Profiles(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    std::string type = args.Option("--type", "all");
    std::optional<std::uint32_t> filter = ProfileTypeFilter(type);
    if (!filter) return UsageError("unknown profile type \"" + type + "\"");
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG count = 0;
    HRESULT hr = store->LoadConfigInfo(name.get(), static_cast<_KSCNFGFLAG>(*filter), &count);
    if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
    std::vector<std::string> json;
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG c{};
        hr = store->GetConfig(i, &c);
        if (FAILED(hr)) return StoreFailure("GetConfig", hr);
        json.push_back(RecordJson(&c, ProfileFields()));
        rows.push_back({Field(c.keyname), Quoted(Field(c.name)),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(c.flags), ConfigFlagNames())),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(c.DataType), ConfigModeNames())),
                        std::to_string(c.Xresolution) + "x" + std::to_string(c.Yresolution) + " dpi"});
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s of \"%s\" (type %s)\n", Count(count, "scan profile").c_str(), hardware.c_str(), type.c_str());
        PrintTable(rows);
        PrintLinks(hardware, ks::kScanProfilesKey);
    }
    NoteProblems(hardware);
    return kOk;
}

int Profile(const Arguments& args) {
    std::string hardware = args.positional[0];
    std::string keyname = args.positional[1];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    _KSCONFIG c{};
    HRESULT hr = store->GetConfigDetails(hardware.data(), keyname.data(), &c);
    const std::string path = ks::JoinKey(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kScanProfilesKey), keyname);
    ks::UniqueHKey key = OpenRead(path);
    if (hr == E_INVALIDARG && !key) return RecordNotFound(hardware, false, keyname);
    if (FAILED(hr) && hr != E_INVALIDARG) return StoreFailure("GetConfigDetails", hr);
    std::vector<Problem> problems;
    if (key) CheckRecordKey(key.get(), hardware + "\\" + ks::kScanProfilesKey + "\\" + keyname, false, problems);
    if (hr == E_INVALIDARG) {  // a key the store does not list: shown as the store would read it
        c = {};
        ReadRecord(key.get(), keyname, &c, ProfileFields());
    }
    ShowRecord(&c, ProfileFields(), problems, args.Has("--json"));
    return kOk;
}

int Events(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG count = 0;
    HRESULT hr = store->LoadEventInfo(name.get(), &count);
    if (FAILED(hr)) return StoreFailure("LoadEventInfo", hr);
    std::vector<std::string> json;
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSEVENT e{};
        hr = store->GetEvent(i, &e);
        if (FAILED(hr)) return StoreFailure("GetEvent", hr);
        json.push_back(RecordJson(&e, EventFields()));
        rows.push_back({Field(e.keyname), Quoted(Field(e.name)), "profile " + Quoted(Field(e.config)),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(e.transfer), TransferNames())),
                        "link " + Quoted(Field(e.Link))});
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s of \"%s\"\n", Count(count, "event").c_str(), hardware.c_str());
        PrintTable(rows);
        PrintLinks(hardware, ks::kEventProfilesKey);
    }
    NoteProblems(hardware);
    return kOk;
}

int Event(const Arguments& args) {
    std::string hardware = args.positional[0];
    std::string keyname = args.positional[1];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    _KSEVENT e{};
    HRESULT hr = store->GetEventDetails(hardware.data(), keyname.data(), &e);
    if (hr == E_INVALIDARG) return RecordNotFound(hardware, true, keyname);
    if (FAILED(hr)) return StoreFailure("GetEventDetails", hr);
    const std::string path = ks::JoinKey(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kEventProfilesKey), keyname);
    std::vector<Problem> problems;
    if (ks::UniqueHKey key = OpenRead(path)) {
        CheckRecordKey(key.get(), hardware + "\\" + ks::kEventProfilesKey + "\\" + keyname, true, problems);
    }
    ShowRecord(&e, EventFields(), problems, args.Has("--json"));
    return kOk;
}

}  // namespace ksconfig
