// Commands on the whole settings tree: the backup's state, and rebuilding the settings root.

#include "ksconfig.h"
#include "core/settings_tree.h"

namespace ksconfig {
namespace {

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

}  // namespace

int BackupStatus(const Arguments& args) {
    const Tree root = ReadTree(kSettingsRoot), backup = ReadTree(kBackupRoot);
    std::vector<Problem> problems;  // as check lists them: links apart, the differences both ways
    CheckBackup("", problems);
    const bool current = root.present && backup.present && Missing(root, backup, true).empty();
    auto summary = [](const Tree& t) {
        return t.present ? "present, " + Count(static_cast<long>(t.keys.size()), "key") + ", " +
                               Count(static_cast<long>(t.values.size()), "value")
                         : std::string("missing");
    };
    if (args.Has("--json")) {
        PrintJson({{"root", json::Str(summary(root))},
                   {"backup", json::Str(summary(backup))},
                   {"problems", ProblemsJson(problems)},
                   {"current", json::Bool(current)}});
    } else {
        PrintField("settings root", summary(root));
        PrintField("backup tree", summary(backup));
        for (const Problem& p : problems) std::printf("  %s\n", ProblemLine(p).c_str());
        std::printf("%s\n", !root.present ? backup.present ? "\"ksconfig restore\" rebuilds the settings root from the backup"
                                                          : "there are no settings"
                            : current  ? "the backup holds everything of the settings root"
                                       : "the backup is behind the settings root");
    }
    return root.present && !current ? kBehind : kOk;
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
            return Fail(kRefused, "the settings root is present; nothing was restored (--force replaces it)");
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
    if (!KeyExists(rootPath)) return Fail(kStoreError, "the store did not rebuild the settings root");
    if (args.Has("--json")) {
        return PrintJson({{"restored", JsonText(what)}, {"savedTo", saved.empty() ? json::Null() : JsonText(saved)}});
    }
    std::printf("rebuilt %s from the backup tree\n", what.c_str());
    if (!saved.empty()) std::printf("what it replaced is saved in %s (ksconfig import loads it back)\n", saved.c_str());
    return kOk;
}

}  // namespace ksconfig
