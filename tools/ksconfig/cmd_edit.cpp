// Edits that last: set-profile and set-event change fields through the store, delete-profile and
// delete-event remove a record from the settings root and from the backup tree, so that a root
// rebuilt from the backup cannot bring it back.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "commands.h"
#include "core/settings_tree.h"
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
    std::string Below() const { return ks::JoinKey(ks::JoinKey(hardware, list), keyName); }
    std::string RootPath() const { return ks::JoinKey(kSettingsRoot, Below()); }
    std::string BackupPath() const { return ks::JoinKey(kBackupRoot, Below()); }
};

Target MakeTarget(const Arguments& args, bool event) {
    return {event ? "event" : "scan profile", event ? ks::kEventProfilesKey : ks::kScanProfilesKey, args.positional[0],
            args.positional[1]};
}

// The record's key as the store left it in the scratch copy, into the settings root and the
// backup tree: that one record, and nothing else of either tree. A registry link on the way to
// either writes nothing anywhere.
int WriteRecordOut(const ScratchHive& scratch, const Target& t) {
    ks::UniqueHKey written = scratch.Open(t.RootPath());
    if (!written) return Fail(kStoreError, "the store wrote no key for " + t.keyName);
    for (const std::string& path : {t.RootPath(), t.BackupPath()}) {
        LinkSeen link;
        OpenRead(path, &link);
        if (!link.path.empty()) return Fail(kRefused, "nothing was written" + NotFollowed(link));
    }
    for (const std::string& path : {t.RootPath(), t.BackupPath()}) {
        LONG error = ERROR_SUCCESS;
        ks::UniqueHKey to = CreatePath(path, nullptr, &error);
        if (!to || !ks::CopyTree(to.get(), written.get())) {
            return Fail(kStoreError, "writing HKEY_CURRENT_USER\\" + path + " failed",
                        HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT));
        }
    }
    return kOk;
}

int SetRecord(const Arguments& args, bool event) {
    Target t = MakeTarget(args, event);
    const std::vector<std::string> settings(args.positional.begin() + 2, args.positional.end());
    if (settings.empty()) return UsageError("no <field>=<value> given");
    if (t.keyName.empty() || t.keyName.find('\\') != std::string::npos) {
        return UsageError("a key name is one key: not empty, without \"\\\"");
    }
    // The edit goes into the root as it is; rebuilding a missing one is restore's to do.
    LinkSeen link;
    if (!OpenRead(kSettingsRoot, &link)) {
        return Fail(kNotFound, "there is no settings root (\"ksconfig restore\" rebuilds it from the backup)" + NotFollowed(link));
    }
    // The store runs on the scratch copy, where its release copies nothing into the real backup.
    Store store;
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
        if (!key) return RecordNotFound(t.hardware, event, t.keyName);
        profile = {};
        ReadRecord(key.get(), t.keyName, &profile, ProfileFields());
        std::fprintf(stderr, "ksconfig: the store does not list this profile; it was read from its key\n");
    } else if (FAILED(hr)) {
        return StoreFailure(event ? "GetEventDetails" : "GetConfigDetails", hr);
    }
    t.keyName = event ? Field(ev.keyname) : Field(profile.keyname);  // as the key is named

    const std::vector<FieldDef>& table = event ? EventFields() : ProfileFields();
    _KSCONFIG profileBefore = profile;
    _KSEVENT eventBefore = ev;
    const void* before = event ? static_cast<const void*>(&eventBefore) : static_cast<const void*>(&profileBefore);
    std::vector<std::string> errors;
    std::set<std::string> named;
    ApplySettings(record, table, settings, args.Has("--force"), errors, named);
    // The store writes the whole record: a value it reads wrongly would be stored as what it
    // read, and the evidence lost, unless the same command sets it.
    std::vector<Problem> problems;
    if (ks::UniqueHKey key = OpenRead(t.RootPath())) CheckValues(key.get(), t.RootPath(), table, problems);
    for (const Problem& p : problems) {
        for (const FieldDef& f : table) {
            if (f.value != nullptr && lstrcmpiA(f.value, p.value.c_str()) == 0 && named.count(f.key) == 0) {
                errors.push_back("\"" + p.value + "\": " + p.text + "; storing the record would keep that: set " + f.key + " too");
            }
        }
    }
    if (!errors.empty()) {
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
    store.Close();
    if (int rc = WriteRecordOut(store.Scratch(), t); rc != kOk) return rc;

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

// The record's key goes from the settings root and from the backup tree, which the backup step
// never deletes from, so a rebuilt root cannot bring it back.
int DeleteRecord(const Arguments& args, bool event) {
    const Target t = MakeTarget(args, event);
    if (t.keyName.empty() || t.keyName.find('\\') != std::string::npos) {
        return UsageError("a key name is one key: not empty, without \"\\\"");
    }
    LinkSeen rootLink, backupLink;
    const bool inRoot = static_cast<bool>(OpenRead(t.RootPath(), &rootLink));
    const bool inBackup = static_cast<bool>(OpenRead(t.BackupPath(), &backupLink));
    if (!rootLink.path.empty() || !backupLink.path.empty()) {
        return Fail(kRefused, "nothing was deleted" + NotFollowed(rootLink.path.empty() ? backupLink : rootLink));
    }
    if (!inRoot && !inBackup) return RecordNotFound(t.hardware, event, t.keyName, " in the settings root or the backup tree");
    for (const auto& [present, path] : {std::pair(inRoot, t.RootPath()), std::pair(inBackup, t.BackupPath())}) {
        if (LONG error = present ? DeletePath(path) : ERROR_SUCCESS; error != ERROR_SUCCESS) {
            return StoreFailure(("deleting HKEY_CURRENT_USER\\" + path).c_str(), HRESULT_FROM_WIN32(error));
        }
    }
    // Events that still name a deleted profile.
    std::vector<std::string> naming;
    if (ks::UniqueHKey events = OpenRead(ks::JoinKey(ks::DeviceKeyPath(t.hardware), ks::kEventProfilesKey)); events && !event) {
        ForEachChild(events.get(), [&](HKEY key, const std::string& name) {
            std::optional<std::string> config = ks::ReadString(key, "ScanConfig", 64);
            if (config && lstrcmpiA(config->c_str(), t.keyName.c_str()) == 0) naming.push_back(Utf8FromAnsi(name));
        });
    }
    const char* where = inRoot && inBackup ? "the settings root and the backup tree" : inRoot ? "the settings root" : "the backup tree";
    if (args.Has("--json")) {
        std::printf("%s\n", json::Obj({{"hardware", json::Str(Utf8FromAnsi(t.hardware))},
                                       {"keyName", json::Str(Utf8FromAnsi(t.keyName))},
                                       {"deletedFromRoot", json::Bool(inRoot)},
                                       {"deletedFromBackup", json::Bool(inBackup)},
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
