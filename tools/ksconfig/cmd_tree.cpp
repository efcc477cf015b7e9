// Commands on the whole settings tree: the backup's state, and rebuilding the settings root.
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "json.h"
#include "output.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

// A registry tree flattened for comparison: names folded to lower case as the registry
// compares them, display names kept.
struct Tree {
    bool present = false;
    std::map<std::string, std::string> keys;  // folded path -> path (the top key itself left out)
    struct Entry {
        std::string path, name;
        DWORD type;
        std::vector<std::uint8_t> data;
    };
    std::map<std::string, Entry> values;  // folded path + "\x01" + folded name
};

std::string Fold(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Collect(HKEY key, const std::string& path, Tree& tree) {
    for (RegValue& v : SortedValues(key)) {
        tree.values[Fold(path) + '\x01' + Fold(v.name)] = {path, v.name, v.type, std::move(v.data)};
    }
    for (const std::string& name : SortedSubkeyNames(key)) {
        std::string child = path.empty() ? name : path + "\\" + name;
        tree.keys[Fold(child)] = child;
        if (ks::UniqueHKey sub = ks::OpenKey(key, name, ks::kReadAccess)) Collect(sub.get(), child, tree);
    }
}

Tree ReadTree(const char* top) {
    Tree tree;
    if (ks::UniqueHKey key = OpenRead(top)) {
        tree.present = true;
        Collect(key.get(), "", tree);
    }
    return tree;
}

struct Difference {
    std::string kind;  // "key" or "value"
    std::string path, name;
    std::string change;  // "missing" or "differs"
};

// What `from` holds that `to` lacks or holds otherwise.
std::vector<Difference> Missing(const Tree& from, const Tree& to, bool withChanged) {
    std::vector<Difference> out;
    for (const auto& [folded, path] : from.keys) {
        if (to.keys.count(folded) == 0) out.push_back({"key", path, "", "missing"});
    }
    for (const auto& [folded, e] : from.values) {
        auto it = to.values.find(folded);
        if (it == to.values.end()) {
            out.push_back({"value", e.path, e.name, "missing"});
        } else if (withChanged && (it->second.type != e.type || it->second.data != e.data)) {
            out.push_back({"value", e.path, e.name, "differs"});
        }
    }
    return out;
}

std::string TreeSummary(const Tree& t) {
    if (!t.present) return "missing";
    return "present, " + Count(static_cast<long>(t.keys.size()), "key") + ", " +
           Count(static_cast<long>(t.values.size()), "value");
}

void PrintDifferences(const std::vector<Difference>& list) {
    for (const Difference& d : list) {
        if (d.kind == "key") {
            std::printf("  key    %s\n", d.path.c_str());
        } else {
            std::printf("  value  %s \"%s\"%s\n", d.path.empty() ? "(top key)" : d.path.c_str(), d.name.c_str(),
                        d.change == "differs" ? " (differs)" : "");
        }
    }
}

std::string DifferencesJson(const std::vector<Difference>& list) {
    std::vector<std::string> items;
    for (const Difference& d : list) {
        json::Members m = {{"kind", json::Str(d.kind)}, {"path", json::Str(Utf8FromAnsi(d.path))}};
        if (d.kind == "value") {
            m.push_back({"name", json::Str(Utf8FromAnsi(d.name))});
            m.push_back({"change", json::Str(d.change)});
        }
        items.push_back(json::Obj(m));
    }
    return json::Arr(items);
}

std::string TreeJson(const Tree& t) {
    return json::Obj({{"present", json::Bool(t.present)},
                      {"keys", json::Num(static_cast<long long>(t.keys.size()))},
                      {"values", json::Num(static_cast<long long>(t.values.size()))}});
}

}  // namespace

int BackupStatus(const Arguments& args) {
    Tree root = ReadTree(kSettingsRoot);
    Tree backup = ReadTree(kBackupRoot);
    std::vector<Difference> behind = root.present ? Missing(root, backup, true) : std::vector<Difference>{};
    std::vector<Difference> onlyBackup = backup.present ? Missing(backup, root, false) : std::vector<Difference>{};
    bool current = root.present && backup.present && behind.empty();
    if (args.Has("--json")) {
        std::printf("%s\n", json::Obj({{"root", TreeJson(root)},
                                       {"backup", TreeJson(backup)},
                                       {"notInBackup", DifferencesJson(behind)},
                                       {"onlyInBackup", DifferencesJson(onlyBackup)},
                                       {"current", json::Bool(current)}})
                                .c_str());
        return kOk;
    }
    PrintField("settings root", TreeSummary(root));
    PrintField("backup tree", TreeSummary(backup));
    if (!root.present) {
        std::printf(backup.present ? "the settings root is missing: \"ksconfig restore\" rebuilds it from the backup\n"
                                   : "there are no settings\n");
        return kOk;
    }
    if (!behind.empty()) {
        std::printf("not yet in the backup (the next release of a store object copies them):\n");
        PrintDifferences(behind);
    }
    if (!onlyBackup.empty()) {
        std::printf("only in the backup (kept by the merge; a rebuilt root would have them again):\n");
        PrintDifferences(onlyBackup);
    }
    std::printf(current ? "the backup holds everything of the settings root\n"
                        : "the backup is behind the settings root\n");
    return kOk;
}

int Restore(const Arguments&) {
    if (KeyExists(kSettingsRoot)) {
        std::printf("the settings root is present; nothing to restore\n");
        return kOk;
    }
    if (!KeyExists(kBackupRoot)) {
        std::fprintf(stderr, "ksconfig: there is no backup tree (HKEY_CURRENT_USER\\%s) to restore from\n", kBackupRoot);
        return kNotFound;
    }
    {
        Store store(Store::kEdit);  // creating the object rebuilds the root from the backup
        if (int rc = store.Open(); rc != kOk) return rc;
    }
    Tree root = ReadTree(kSettingsRoot);
    if (!root.present) {
        std::fprintf(stderr, "ksconfig: the store did not rebuild the settings root\n");
        return kStoreError;
    }
    std::printf("rebuilt the settings root from the backup tree: %s, %s\n",
                Count(static_cast<long>(root.keys.size()), "key").c_str(),
                Count(static_cast<long>(root.values.size()), "value").c_str());
    return kOk;
}

}  // namespace ksconfig
