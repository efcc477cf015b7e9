// Edits that last: set-profile and set-event change fields through the store, delete-profile and
// delete-event remove a record from the settings root and from the backup tree, so that a root
// rebuilt from the backup cannot bring it back.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "commands.h"
#include "core/text.h"
#include "fields.h"
#include "json.h"
#include "output.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

struct Target {
    const char* kind;  // "scan profile" or "event"
    const char* list;  // its key below the device key
    std::string hardware, keyName;
    std::string RootPath() const { return ks::JoinKey(ks::JoinKey(ks::DeviceKeyPath(hardware), list), keyName); }
    std::string BackupPath() const {
        return ks::JoinKey(ks::JoinKey(ks::JoinKey(kBackupRoot, hardware), list), keyName);
    }
};

Target MakeTarget(const Arguments& args, bool event) {
    return {event ? "event" : "scan profile", event ? ks::kEventProfilesKey : ks::kScanProfilesKey, args.positional[0],
            args.positional[1]};
}

int NotFound(const Target& t, const char* where) {
    return Fail(kNotFound, "scanner \"" + t.hardware + "\" has no " + t.kind + " with the key name \"" + t.keyName + "\"" + where);
}

// The store deletes a profile of the active scanner by its index in the loaded list.
HRESULT DeleteThroughStore(Store& store, const Target& t, bool& listed) {
    HRESULT hr = store->SetActiveHardware(GUID_NULL, const_cast<char*>(t.hardware.c_str()));
    if (FAILED(hr)) return hr;
    ks::UniqueBstr name = ks::MakeBstr(t.hardware);
    LONG count = 0;
    if (FAILED(hr = store->LoadConfigInfo(name.get(), KSCNFGFLAG_ALL, &count))) return hr;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG c{};
        if (FAILED(hr = store->GetConfig(i, &c))) return hr;
        if (lstrcmpiA(c.keyname, t.keyName.c_str()) == 0) {
            listed = true;
            return store->DeleteConfigInfo(i);
        }
    }
    return S_OK;
}

int SetRecord(const Arguments& args, bool event) {
    const Target t = MakeTarget(args, event);
    const std::vector<std::string> settings(args.positional.begin() + 2, args.positional.end());
    if (settings.empty()) return UsageError("no <field>=<value> given");
    Store store(Store::kEdit);
    if (int rc = store.OpenForDevice(t.hardware); rc != kOk) return rc;
    _KSCONFIG profile{};
    _KSEVENT ev{};
    void* record = event ? static_cast<void*>(&ev) : static_cast<void*>(&profile);
    std::string hardware = t.hardware, keyName = t.keyName;
    HRESULT hr = event ? store->GetEventDetails(hardware.data(), keyName.data(), &ev)
                       : store->GetConfigDetails(hardware.data(), keyName.data(), &profile);
    if (hr == E_INVALIDARG) {
        // A profile the store does not list (no type flags) is read as the store reads one, so
        // that setting its flags can make it visible.
        ks::UniqueHKey key = event ? ks::UniqueHKey() : OpenRead(t.RootPath());
        if (!key) return NotFound(t, "");
        profile = {};
        ReadRecord(key.get(), t.keyName, &profile, ProfileFields());
        std::fprintf(stderr, "ksconfig: the store does not list this profile; it was read from its key\n");
    } else if (FAILED(hr)) {
        return StoreFailure(event ? "GetEventDetails" : "GetConfigDetails", hr);
    }

    const std::vector<FieldDef>& table = event ? EventFields() : ProfileFields();
    // The store writes the whole record: a value it reads wrongly would be stored as what it
    // read, and the evidence lost, unless the same command sets it.
    std::vector<std::string> errors;
    std::vector<Problem> problems;
    if (ks::UniqueHKey key = OpenRead(t.RootPath())) CheckValues(key.get(), t.RootPath(), table, problems);
    for (const Problem& p : problems) {
        for (const FieldDef& f : table) {
            if (f.value == nullptr || lstrcmpiA(f.value, p.value.c_str()) != 0) continue;
            const std::string prefix = std::string(f.key) + "=";
            if (std::none_of(settings.begin(), settings.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; })) {
                errors.push_back("\"" + p.value + "\": " + p.text + "; storing the record would keep that: set " + f.key + " too");
            }
        }
    }
    _KSCONFIG profileBefore = profile;
    _KSEVENT eventBefore = ev;
    const void* before = event ? static_cast<const void*>(&eventBefore) : static_cast<const void*>(&profileBefore);
    if (!ApplySettings(record, table, settings, errors) || !errors.empty()) {
        std::vector<std::string> lines, items;
        for (const std::string& e : errors) {
            lines.push_back("ksconfig: " + e);
            items.push_back(json::Str(Utf8FromAnsi(e)));
        }
        return FailWith(kRefused, "nothing was written", lines, {{"problems", json::Arr(items)}});
    }
    ks::UniqueBstr name = ks::MakeBstr(t.hardware);
    hr = event ? store->StoreEventInfo(name.get(), &ev) : store->StoreConfigInfo(name.get(), &profile);
    if (FAILED(hr)) return StoreFailure(event ? "StoreEventInfo" : "StoreConfigInfo", hr);
    store.Close();  // the release copies the change into the backup too

    std::vector<std::string> items;
    int changed = 0;
    if (!args.Has("--json")) std::printf("%s \"%s\" of \"%s\":\n", t.kind, t.keyName.c_str(), t.hardware.c_str());
    for (const FieldDef& f : table) {
        const std::string was = FieldText(before, f), now = FieldText(record, f);
        if (was == now) continue;
        ++changed;
        if (args.Has("--json")) {
            items.push_back(json::Obj({{"field", json::Str(f.key)}, {"was", FieldJson(before, f)}, {"now", FieldJson(record, f)}}));
        } else {
            std::printf("  %-19s %s (was %s)\n", f.key, now.c_str(), was.c_str());
        }
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Obj({{"hardware", json::Str(Utf8FromAnsi(t.hardware))},
                                       {"keyName", json::Str(Utf8FromAnsi(t.keyName))},
                                       {"changed", json::Arr(items)},
                                       {"record", RecordJson(record, table)}})
                                .c_str());
    } else if (changed == 0) {
        std::printf("  (every field already held its value; the record was stored again)\n");
    }
    return kOk;
}

int DeleteRecord(const Arguments& args, bool event) {
    const Target t = MakeTarget(args, event);
    if (t.keyName.empty() || t.keyName.find('\\') != std::string::npos) {
        return UsageError("a key name is one key: not empty, without \"\\\"");
    }
    const bool inRoot = KeyExists(t.RootPath());
    if (!inRoot && !KeyExists(t.BackupPath())) return NotFound(t, " in the settings root or the backup tree");
    bool listed = false;
    if (inRoot) {
        Store store(Store::kEdit);
        if (!event) {
            if (int rc = store.Open(); rc != kOk) return rc;
            if (HRESULT hr = DeleteThroughStore(store, t, listed); FAILED(hr)) return StoreFailure("DeleteConfigInfo", hr);
        }
        // The store has no method for events, nor lists a profile without type flags: deleted
        // here, before the store object's release copies the root into the backup.
        if (KeyExists(t.RootPath())) {
            if (LONG error = ks::DeleteTree(HKEY_CURRENT_USER, t.RootPath().c_str()); error != ERROR_SUCCESS) {
                return StoreFailure("deleting the key", HRESULT_FROM_WIN32(error));
            }
        }
    }
    // The backup step merges and never deletes, so the backup's copy goes here too.
    const bool inBackup = KeyExists(t.BackupPath());
    if (inBackup) {
        if (LONG error = ks::DeleteTree(HKEY_CURRENT_USER, t.BackupPath().c_str()); error != ERROR_SUCCESS) {
            return StoreFailure("deleting the backup's key", HRESULT_FROM_WIN32(error));
        }
    }
    // Events that still name a deleted profile.
    std::vector<std::string> naming;
    if (ks::UniqueHKey events = OpenRead(ks::JoinKey(ks::DeviceKeyPath(t.hardware), ks::kEventProfilesKey)); events && !event) {
        for (const std::string& name : SortedSubkeyNames(events.get())) {
            ks::UniqueHKey key = ks::OpenKey(events.get(), name, KEY_READ);
            std::optional<std::string> config = key ? ks::ReadString(key.get(), "ScanConfig", 64) : std::nullopt;
            if (config && lstrcmpiA(config->c_str(), t.keyName.c_str()) == 0) naming.push_back(Utf8FromAnsi(name));
        }
    }
    const char* where = inRoot && inBackup ? "the settings root and the backup tree" : inRoot ? "the settings root" : "the backup tree";
    if (args.Has("--json")) {
        std::printf("%s\n", json::Obj({{"hardware", json::Str(Utf8FromAnsi(t.hardware))},
                                       {"keyName", json::Str(Utf8FromAnsi(t.keyName))},
                                       {"deletedFromRoot", json::Bool(inRoot)},
                                       {"deletedFromBackup", json::Bool(inBackup)},
                                       {"throughStore", json::Bool(listed)},
                                       {"eventsNamingIt", json::StrArr(naming)}})
                                .c_str());
        return kOk;
    }
    std::printf("deleted %s \"%s\" of \"%s\" from %s\n", t.kind, t.keyName.c_str(), t.hardware.c_str(), where);
    for (const std::string& e : naming) {
        std::printf("  event \"%s\" still names it (ksconfig set-event to change)\n", AnsiFromUtf8(e).c_str());
    }
    return kOk;
}

}  // namespace

int SetProfile(const Arguments& args) { return SetRecord(args, false); }
int SetEvent(const Arguments& args) { return SetRecord(args, true); }
int DeleteProfile(const Arguments& args) { return DeleteRecord(args, false); }
int DeleteEvent(const Arguments& args) { return DeleteRecord(args, true); }

}  // namespace ksconfig
