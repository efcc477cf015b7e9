// Commands that show scan profiles, events and the scanners that have them.

#include "ksconfig.h"

namespace ksconfig {
namespace {

std::string ListPath(const std::string& hardware, bool event) {
    return ks::JoinKey(ks::DeviceKeyPath(hardware), event ? ks::kEventProfilesKey : ks::kScanProfilesKey);
}

// The problems of one scanner's settings, noted on standard error when a listing shows them.
void NoteProblems(Store& store, const std::string& hardware) {
    if (std::size_t n = CheckScanner(store, hardware).size(); n > 0) {
        std::fprintf(stderr, "ksconfig: %s in the settings of \"%s\" (ksconfig check \"%s\" lists them)\n",
                     Count(static_cast<long>(n), "problem").c_str(), hardware.c_str(), hardware.c_str());
    }
}

// profiles and events: the store's list, then the registry links among the records, which it leaves out.
int ListRecords(const Arguments& args, bool event) {
    const std::string& hardware = args.positional[0];
    // The types a client asks for, as the flags field takes them: KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF.
    const std::string type = args.Option("--type", "KSCNFGFLAG_ALL");
    std::string why;
    const std::optional<std::uint32_t> filter = ParseNumber(type, false, ks::ConfigFlagNames(), why);
    if (!filter) return UsageError("--type: " + why);
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG count = 0;
    HRESULT hr = event ? store->LoadEventInfo(name.get(), &count)
                       : store->LoadConfigInfo(name.get(), static_cast<_KSCNFGFLAG>(*filter), &count);
    if (FAILED(hr)) return StoreFailure(event ? "LoadEventInfo" : "LoadConfigInfo", hr);
    std::vector<std::string> json;
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG c{};
        _KSEVENT e{};
        hr = event ? store->GetEvent(i, &e) : store->GetConfig(i, &c);
        if (FAILED(hr)) return StoreFailure(event ? "GetEvent" : "GetConfig", hr);
        json.push_back(event ? RecordJson(&e, ks::EventFields()) : RecordJson(&c, ks::ProfileFields()));
        if (event) {
            rows.push_back({ks::FieldText(e.keyname), Quoted(ks::FieldText(e.name)), "profile " + Quoted(ks::FieldText(e.config)),
                            JoinNames(DecodeBits(static_cast<std::uint32_t>(e.transfer), ks::TransferNames())),
                            "link " + Quoted(ks::FieldText(e.Link))});
        } else {
            rows.push_back({ks::FieldText(c.keyname), Quoted(ks::FieldText(c.name)),
                            JoinNames(DecodeBits(static_cast<std::uint32_t>(c.flags), ks::ConfigFlagNames())),
                            JoinNames(DecodeBits(static_cast<std::uint32_t>(c.DataType), ks::ConfigModeNames())),
                            std::to_string(c.Xresolution) + "x" + std::to_string(c.Yresolution) + " dpi"});
        }
    }
    std::vector<LinkSeen> links;
    if (ks::UniqueHKey key = OpenPath(ListPath(hardware, event))) {
        ForEachChild(key.get(), [](HKEY, const std::string&) {}, &links);
    }
    if (args.Has("--json")) {
        for (const LinkSeen& l : links) {
            json.push_back(json::Obj({{"keyName", JsonText(l.path)}, {"registryLink", JsonText(l.target)}}));
        }
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s of \"%s\"%s\n", Count(count, event ? "event" : "scan profile").c_str(), hardware.c_str(),
                    event ? "" : (" (type " + type + ")").c_str());
        PrintTable(rows);
        for (const LinkSeen& l : links) {
            std::printf("  %s  a registry link to %s, not followed\n", l.path.c_str(), l.target.c_str());
        }
    }
    NoteProblems(store, hardware);
    return kOk;
}

// profile and event: the record a client gets, or, for a key the store does not list, the record
// as the store would read it; with the problems of its key.
int ShowRecord(const Arguments& args, bool event) {
    std::string hardware = args.positional[0], keyName = args.positional[1];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    Record record{};
    const Fields table = event ? ks::EventFields() : ks::ProfileFields();
    const HRESULT hr = event ? store->GetEventDetails(hardware.data(), keyName.data(), &record.event)
                             : store->GetConfigDetails(hardware.data(), keyName.data(), &record.profile);
    ks::UniqueHKey key = OpenPath(ks::JoinKey(ListPath(hardware, event), keyName));
    if (hr == E_INVALIDARG && !key) return RecordNotFound(hardware, event, keyName);
    if (FAILED(hr) && hr != E_INVALIDARG) return StoreFailure(event ? "GetEventDetails" : "GetConfigDetails", hr);
    std::vector<Problem> problems;
    if (hr == E_INVALIDARG) {  // the last record the store looked at: read the key instead
        record = {};
        ReadRecord(key.get(), keyName, &record, table);
    }
    const std::string path = hardware + "\\" + (event ? ks::kEventProfilesKey : ks::kScanProfilesKey) + "\\" + keyName;
    if (key) CheckRecord(key.get(), path, event, hr == S_OK, problems);
    if (args.Has("--json")) {
        std::string object = RecordJson(&record, table);
        object.pop_back();
        std::printf("%s,\"problems\":%s}\n", object.c_str(), ProblemsJson(problems).c_str());
        return kOk;
    }
    PrintRecord(&record, table);
    for (const Problem& p : problems) std::fprintf(stderr, "ksconfig: warning: %s\n", ProblemLine(p).c_str());
    return kOk;
}

}  // namespace

int RecordNotFound(const std::string& hardware, bool event, const std::string& keyName, const std::string& where) {
    const std::string kind = event ? "event" : "scan profile";
    std::string message = "scanner \"" + hardware + "\" has no " + kind + " with the key name \"" + keyName + "\"" + where;
    // A display name given for a key name, or else the key names there are.
    std::vector<std::string> keys, named;
    LinkSeen link;
    OpenPath(ks::JoinKey(ListPath(hardware, event), keyName), false, &link);
    const ks::Field& name = FieldNamed(event ? ks::EventFields() : ks::ProfileFields(), "name");
    if (ks::UniqueHKey key = OpenPath(ListPath(hardware, event))) {
        ForEachChild(key.get(), [&](HKEY record, const std::string& child) {
            keys.push_back(child);
            const ks::StoreReading read = ks::WhatTheStoreReads(record, name);
            if (lstrcmpiA(ks::FieldText(read.field.data(), name.size).c_str(), keyName.c_str()) == 0) named.push_back(child);
        });
    }
    if (!named.empty()) {
        message += ": that is the display name of " + JoinNames(named, ", ") + "; give the key name";
    } else if (!keys.empty()) {
        message += "; its " + kind + "s are " + JoinNames(keys, ", ");
    }
    return Fail(kNotFound, message + NotFollowed(link));
}

int Scanners(const Arguments& args) {
    Store store;
    if (int rc = store.Open(); rc != kOk) return rc;
    std::vector<std::string> json, lines;
    std::vector<LinkSeen> links;
    const std::vector<std::string> devices = DeviceNames(&links);
    for (const std::string& device : devices) {
        ks::UniqueBstr name = ks::MakeBstr(device);
        LONG profiles = 0, events = 0, gamma = 0;
        HRESULT hr = store->LoadConfigInfo(name.get(), KSCNFGFLAG_ALL, &profiles);
        if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
        if (hr = store->LoadEventInfo(name.get(), &events); FAILED(hr)) return StoreFailure("LoadEventInfo", hr);
        hr = store->GetDefualtGamma(name.get(), &gamma);
        const bool hasGamma = hr == S_OK;
        if (FAILED(hr) && hr != E_FAIL) return StoreFailure("GetDefualtGamma", hr);
        lines.push_back("  " + device + ": " + Count(profiles, "scan profile") + ", " + Count(events, "event") + ", " +
                        (hasGamma ? "current gamma " + std::to_string(gamma) : std::string("no current gamma")));
        json.push_back(json::Obj({{"name", JsonText(device)},
                                  {"profiles", json::Num(profiles)},
                                  {"events", json::Num(events)},
                                  {"currentGamma", hasGamma ? json::Num(gamma) : json::Null()}}));
    }
    for (const LinkSeen& l : links) {
        lines.push_back("  " + l.path + ": a registry link to " + l.target + ", not followed");
        json.push_back(json::Obj({{"name", JsonText(l.path)}, {"registryLink", JsonText(l.target)}}));
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
        return kOk;
    }
    std::printf("%s with settings\n", Count(static_cast<long>(devices.size()), "scanner").c_str());
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return kOk;
}

int Profiles(const Arguments& args) { return ListRecords(args, false); }
int Events(const Arguments& args) { return ListRecords(args, true); }
int Profile(const Arguments& args) { return ShowRecord(args, false); }
int Event(const Arguments& args) { return ShowRecord(args, true); }

}  // namespace ksconfig
