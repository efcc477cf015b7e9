// Edits that last: set-profile and set-event change fields through the store, delete-profile and
// delete-event remove a record from the settings root and from the backup tree, so that a root
// rebuilt from the backup cannot bring it back.

#include "ksconfig.h"
#include "core/settings_tree.h"

namespace ksconfig {
namespace {

// The record the command line names.
struct Target {
    Target(const Arguments& args, bool event) : event(event), hardware(args.positional[0]), keyName(args.positional[1]) {}
    bool event;
    std::string hardware, keyName;
    const char* Kind() const { return event ? "event" : "scan profile"; }
    std::string Below() const {
        return ks::JoinKey(ks::JoinKey(hardware, event ? ks::kEventProfilesKey : ks::kScanProfilesKey), keyName);
    }
    std::string RootPath() const { return ks::JoinKey(kSettingsRoot, Below()); }
    std::string BackupPath() const { return ks::JoinKey(kBackupRoot, Below()); }
    bool OneKey() const { return !keyName.empty() && keyName.find('\\') == std::string::npos; }
};
constexpr char kNotOneKey[] = "a key name is one key: not empty, without \"\\\"";

// The record's key as the store left it in the scratch copy, into the settings root and the
// backup tree: that one record, and nothing else of either tree. A registry link on the way to
// either writes nothing anywhere.
int WriteRecordOut(const Store& store, const Target& t) {
    ks::UniqueHKey written = store.OpenCopy(t.RootPath());
    if (!written) return Fail(kStoreError, "the store wrote no key for " + t.keyName);
    for (const std::string& path : {t.RootPath(), t.BackupPath()}) {
        LinkSeen link;
        OpenPath(path, false, &link);
        if (!link.path.empty()) return Fail(kRefused, "nothing was written" + NotFollowed(link));
    }
    for (const std::string& path : {t.RootPath(), t.BackupPath()}) {
        ks::UniqueHKey to = OpenPath(path, true);
        if (!to || !ks::CopyTree(to.get(), written.get())) {
            return Fail(kStoreError, "writing HKEY_CURRENT_USER\\" + path + " failed", HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
        }
    }
    return kOk;
}

int SetRecord(const Arguments& args, bool event) {
    Target t(args, event);
    if (!t.OneKey()) return UsageError(kNotOneKey);
    const std::vector<std::string> settings(args.positional.begin() + 2, args.positional.end());
    // The edit goes into the root as it is; rebuilding a missing one is restore's to do.
    LinkSeen link;
    if (!OpenPath(kSettingsRoot, false, &link)) {
        return Fail(kNotFound,
                    "there is no settings root (\"ksconfig restore\" rebuilds it from the backup)" + NotFollowed(link));
    }
    // The store runs on the scratch copy, where its release copies nothing into the real backup.
    Store store;
    if (int rc = store.OpenForDevice(t.hardware); rc != kOk) return rc;
    Record record{};
    const Fields table = event ? ks::EventFields() : ks::ProfileFields();
    std::string hardware = t.hardware, keyName = t.keyName;
    HRESULT hr = event ? store->GetEventDetails(hardware.data(), keyName.data(), &record.event)
                       : store->GetConfigDetails(hardware.data(), keyName.data(), &record.profile);
    ks::UniqueHKey key = OpenPath(t.RootPath());
    if (hr == E_INVALIDARG) {
        // A record the store does not list (a profile without type flags) is read as the store
        // reads one, so that setting its flags can make it visible.
        if (!key) return RecordNotFound(t.hardware, event, t.keyName);
        record = {};
        ReadRecord(key.get(), t.keyName, &record, table);
        std::fprintf(stderr, "ksconfig: the store does not list this %s; it was read from its key\n", t.Kind());
    } else if (FAILED(hr)) {
        return StoreFailure(event ? "GetEventDetails" : "GetConfigDetails", hr);
    }
    const ks::Field& keyField = FieldNamed(table, "keyName");  // the key as it is named
    t.keyName = ks::FieldText(reinterpret_cast<const char*>(&record) + keyField.offset, keyField.size);
    const Record before = record;
    std::vector<std::string> errors;
    std::set<const ks::Field*> named;
    ApplySettings(&record, table, settings, args.Has("--force"), errors, named);
    // The store writes the whole record: a value it reads wrongly would be stored as what it
    // read, and the evidence lost, unless the same command sets it.
    std::vector<Problem> problems;
    if (key) CheckFields(key.get(), t.RootPath(), table, problems);
    for (const Problem& p : problems) {
        if (named.count(p.field) == 0) {
            errors.push_back("\"" + p.value + "\": " + p.text + "; storing the record would keep that: set " +
                             p.field->display + " too");
        }
    }
    if (!errors.empty()) {
        std::vector<std::string> lines, items;
        for (const std::string& e : errors) {
            lines.push_back("ksconfig: " + e);
            items.push_back(JsonText(e));
        }
        return Fail(kRefused, "nothing was written", std::nullopt, lines, {{"problems", json::Arr(items)}});
    }
    ks::UniqueBstr name = ks::MakeBstr(t.hardware);
    hr = event ? store->StoreEventInfo(name.get(), &record.event) : store->StoreConfigInfo(name.get(), &record.profile);
    if (FAILED(hr)) return StoreFailure(event ? "StoreEventInfo" : "StoreConfigInfo", hr);
    store.Close();
    if (int rc = WriteRecordOut(store, t); rc != kOk) return rc;

    std::vector<std::string> items;
    if (!args.Has("--json")) std::printf("%s \"%s\" of \"%s\":\n", t.Kind(), t.keyName.c_str(), t.hardware.c_str());
    for (const ks::Field& f : table) {
        const char* was = reinterpret_cast<const char*>(&before) + f.offset;
        const char* now = reinterpret_cast<const char*>(&record) + f.offset;
        if (FieldText(was, f) == FieldText(now, f)) continue;
        items.push_back(json::Obj({{"field", json::Str(f.display)}, {"was", FieldJson(was, f)}, {"now", FieldJson(now, f)}}));
        if (!args.Has("--json")) {
            std::printf("  %-19s %s (was %s)\n", f.display, FieldText(now, f).c_str(), FieldText(was, f).c_str());
        }
    }
    if (args.Has("--json")) {
        PrintJson({{"hardware", JsonText(t.hardware)},
                   {"keyName", JsonText(t.keyName)},
                   {"changed", json::Arr(items)},
                   {"record", RecordJson(&record, table)}});
    } else if (items.empty()) {
        std::printf("  (every field already held its value; the record was stored again)\n");
    }
    return kOk;
}

// The record's key goes from the settings root and from the backup tree, which the backup step
// never deletes from, so a rebuilt root cannot bring it back.
int DeleteRecord(const Arguments& args, bool event) {
    const Target t(args, event);
    if (!t.OneKey()) return UsageError(kNotOneKey);
    LinkSeen rootLink, backupLink;
    const bool inRoot = static_cast<bool>(OpenPath(t.RootPath(), false, &rootLink));
    const bool inBackup = static_cast<bool>(OpenPath(t.BackupPath(), false, &backupLink));
    if (!rootLink.path.empty() || !backupLink.path.empty()) {
        return Fail(kRefused, "nothing was deleted" + NotFollowed(rootLink.path.empty() ? backupLink : rootLink));
    }
    if (!inRoot && !inBackup) return RecordNotFound(t.hardware, event, t.keyName, " in the settings root or the backup tree");
    for (const auto& [present, path] : {std::pair(inRoot, t.RootPath()), std::pair(inBackup, t.BackupPath())}) {
        if (LONG error = present ? DeletePath(path) : ERROR_SUCCESS; error != ERROR_SUCCESS) {
            return StoreFailure("deleting HKEY_CURRENT_USER\\" + path, HRESULT_FROM_WIN32(error));
        }
    }
    if (args.Has("--json")) {
        return PrintJson({{"hardware", JsonText(t.hardware)},
                          {"keyName", JsonText(t.keyName)},
                          {"deletedFromRoot", json::Bool(inRoot)},
                          {"deletedFromBackup", json::Bool(inBackup)}});
    }
    const char* where = inRoot && inBackup ? "the settings root and the backup tree"
                        : inRoot           ? "the settings root"
                                           : "the backup tree";
    // An event that still names a deleted profile is one check lists.
    std::printf("deleted %s \"%s\" of \"%s\" from %s\n", t.Kind(), t.keyName.c_str(), t.hardware.c_str(), where);
    return kOk;
}

}  // namespace

int SetProfile(const Arguments& args) { return SetRecord(args, false); }
int SetEvent(const Arguments& args) { return SetRecord(args, true); }
int DeleteProfile(const Arguments& args) { return DeleteRecord(args, false); }
int DeleteEvent(const Arguments& args) { return DeleteRecord(args, true); }

}  // namespace ksconfig
