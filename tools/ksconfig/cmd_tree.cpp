// Commands on the whole settings tree: the backup's state, and rebuilding the settings root.

#include "ksconfig.h"
#include "core/settings_tree.h"

namespace ksconfig {
namespace {

std::string TreeSummary(const Tree& t) {
    if (!t.present) return "missing";
    return "present, " + Count(static_cast<long>(t.keys.size()), "key") + ", " +
           Count(static_cast<long>(t.values.size()), "value");
}

// `from` and `to` name the two sides of Missing(from, to).
void PrintDifferences(const std::vector<Difference>& list, const char* from, const char* to) {
    for (const Difference& d : list) {
        const char* path = d.path.empty() ? "(top key)" : d.path.c_str();
        if (d.key) {
            std::printf("  key    %s\n", d.path.c_str());
        } else if (d.changed) {
            std::printf("  value  %s \"%s\": %s %s, %s %s\n", path, d.name.c_str(), from, d.data.c_str(), to, d.otherData.c_str());
        } else {
            std::printf("  value  %s \"%s\" = %s\n", path, d.name.c_str(), d.data.c_str());
        }
    }
}

std::string DifferencesJson(const std::vector<Difference>& list, const char* from, const char* to) {
    std::vector<std::string> items;
    for (const Difference& d : list) {
        json::Members m = {{"kind", json::Str(d.key ? "key" : "value")}, {"path", JsonText(d.path)}};
        if (!d.key) {
            m.push_back({"name", JsonText(d.name)});
            m.push_back({"change", json::Str(d.changed ? "differs" : "missing")});
            m.push_back({from, JsonText(d.data)});
            if (d.changed) m.push_back({to, JsonText(d.otherData)});
        }
        items.push_back(json::Obj(m));
    }
    return json::Arr(items);
}

// Where restore saves what it replaces: -o, or a file in the current folder named by the time.
std::string SavedFileName(const Arguments& args) {
    std::string file = args.Option("-o");
    if (file.empty()) {
        SYSTEMTIME t;
        GetLocalTime(&t);
        char name[64];
        std::snprintf(name, sizeof(name), "ksconfig saved %04u%02u%02u-%02u%02u%02u.reg", t.wYear, t.wMonth, t.wDay, t.wHour,
                      t.wMinute, t.wSecond);
        file = name;
    }
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(file.c_str(), sizeof(full), full, nullptr);
    return n != 0 && n < sizeof(full) ? std::string(full) : file;
}

std::string TreeJson(const Tree& t) {
    std::vector<std::string> links;
    for (const LinkSeen& l : t.links) {
        links.push_back(json::Obj({{"path", JsonText(l.path)}, {"target", JsonText(l.target)}}));
    }
    return json::Obj({{"present", json::Bool(t.present)},
                      {"keys", json::Num(static_cast<long long>(t.keys.size()))},
                      {"values", json::Num(static_cast<long long>(t.values.size()))},
                      {"links", json::Arr(links)}});
}

}  // namespace

int BackupStatus(const Arguments& args) {
    Tree root = ReadTree(kSettingsRoot);
    Tree backup = ReadTree(kBackupRoot);
    std::vector<Difference> behind = root.present ? Missing(root, backup, true) : std::vector<Difference>{};
    std::vector<Difference> onlyBackup = backup.present ? Missing(backup, root, false) : std::vector<Difference>{};
    bool current = root.present && backup.present && behind.empty();
    const int rc = root.present && !current ? kBehind : kOk;
    if (args.Has("--json")) {
        PrintJson({{"root", TreeJson(root)},
                   {"backup", TreeJson(backup)},
                   {"notInBackup", DifferencesJson(behind, "rootData", "backupData")},
                   {"onlyInBackup", DifferencesJson(onlyBackup, "backupData", "rootData")},
                   {"current", json::Bool(current)}});
        return rc;
    }
    PrintField("settings root", TreeSummary(root));
    PrintField("backup tree", TreeSummary(backup));
    for (const Tree* t : {&root, &backup}) {
        for (const LinkSeen& l : t->links) {
            std::printf("registry link, not followed (the backup step copies none): %s%s%s -> %s\n",
                        t == &root ? kSettingsRoot : kBackupRoot, l.path.empty() ? "" : "\\", l.path.c_str(), l.target.c_str());
        }
    }
    if (!root.present) {
        std::printf(backup.present ? "the settings root is missing: \"ksconfig restore\" rebuilds it from the backup\n"
                                   : "there are no settings\n");
        return rc;
    }
    if (!behind.empty()) {
        std::printf("not yet in the backup (the next release of a store object copies them):\n");
        PrintDifferences(behind, "root", "backup");
    }
    if (!onlyBackup.empty()) {
        std::printf("only in the backup (kept by the merge; a rebuilt root would have them again):\n");
        PrintDifferences(onlyBackup, "backup", "root");
    }
    std::printf(current ? "the backup holds everything of the settings root\n"
                        : "the backup is behind the settings root\n");
    return rc;
}

int Restore(const Arguments& args) {
    const bool force = args.Has("--force"), oneScanner = args.options.count("--scanner") != 0;
    if (force && oneScanner) return UsageError("--force and --scanner do not go together");
    const std::string hardware = args.Option("--scanner");
    const std::string rootPath = oneScanner ? ks::DeviceKeyPath(hardware) : std::string(kSettingsRoot);
    const std::string backupPath = oneScanner ? ks::JoinKey(kBackupRoot, hardware) : std::string(kBackupRoot);
    const std::string what = oneScanner ? "the settings of scanner \"" + hardware + "\"" : std::string("the settings root");
    LinkSeen link;
    ks::UniqueHKey from = OpenPath(backupPath, false, &link);
    if (!from) {
        return Fail(kNotFound, "there is no backup (HKEY_CURRENT_USER\\" + backupPath + ") to restore " + what + " from" +
                                   NotFollowed(link));
    }
    if (OpenPath(rootPath, false, &link); !link.path.empty()) return Fail(kRefused, "nothing was restored" + NotFollowed(link));
    std::string saved;
    if (KeyExists(rootPath)) {
        if (!force && !oneScanner) {
            if (args.Has("--json")) {
                std::printf("{\"restored\":false,\"reason\":\"the settings root is present\"}\n");
            } else {
                std::printf("the settings root is present; nothing to restore (--force replaces it)\n");
            }
            return kOk;
        }
        saved = SavedFileName(args);
        if (int rc = SaveAsRegFile(rootPath, saved); rc != kOk) return rc;
        if (LONG error = DeletePath(rootPath); error != ERROR_SUCCESS) {
            return StoreFailure("deleting " + what, HRESULT_FROM_WIN32(error));
        }
    }
    if (oneScanner) {
        // The store rebuilds only a whole missing root; one scanner's key is copied here, as the
        // store copies, leaving registry links out.
        ks::UniqueHKey to = OpenPath(rootPath, true);
        if (!to || !ks::CopyTree(to.get(), from.get())) {
            return Fail(kStoreError, "copying " + what + " failed", HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
        }
    } else {
        Store store(Store::kEdit);  // creating the object rebuilds the root from the backup
        if (int rc = store.Open(); rc != kOk) return rc;
    }
    Tree root = ReadTree(rootPath);
    if (!root.present) return Fail(kStoreError, "the store did not rebuild the settings root");
    if (args.Has("--json")) {
        return PrintJson({{"restored", json::Bool(true)},
                          {"scanner", oneScanner ? JsonText(hardware) : json::Null()},
                          {"keys", json::Num(static_cast<long long>(root.keys.size()))},
                          {"values", json::Num(static_cast<long long>(root.values.size()))},
                          {"savedTo", saved.empty() ? json::Null() : JsonText(saved)}});
    }
    std::printf("rebuilt %s from the backup tree: %s, %s\n", what.c_str(),
                Count(static_cast<long>(root.keys.size()), "key").c_str(),
                Count(static_cast<long>(root.values.size()), "value").c_str());
    if (!saved.empty()) std::printf("what it replaced is saved in %s (ksconfig import loads it back)\n", saved.c_str());
    return kOk;
}

}  // namespace ksconfig
