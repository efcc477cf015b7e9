// Commands on the whole settings tree: export and import as profile text, the backup's state,
// and rebuilding a missing settings root.
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "calibration/pure/profile_writer.h"
#include "commands.h"
#include "json.h"
#include "output.h"
#include "registry_view.h"
#include "store.h"

#if __has_include("calibration/profile_importer.h")
#include "calibration/profile_importer.h"
#define KSCONFIG_HAS_IMPORTER 1
#endif

namespace ksconfig {
namespace {

// Appends the sections of `key` (named `path` below HKEY_CURRENT_USER) and of its subkeys.
void ExportKey(HKEY key, const std::string& path, std::string& out, int& skipped) {
    std::string refusal;
    std::optional<std::string> header = ks::WriteSectionHeader("HKEY_CURRENT_USER\\" + path, &refusal);
    if (!header) {
        std::fprintf(stderr, "ksconfig: left out key %s and everything below it: %s\n", path.c_str(), refusal.c_str());
        ++skipped;
        return;
    }
    std::vector<std::string> lines;
    for (const RegValue& v : SortedValues(key)) {
        ks::WrittenValue written = ks::WriteValueLines(v.name, v.type, v.data);
        if (written.lines.empty()) {
            std::fprintf(stderr, "ksconfig: left out value \"%s\" of %s: %s\n", v.name.c_str(), path.c_str(),
                         written.refusal.c_str());
            ++skipped;
            continue;
        }
        lines.insert(lines.end(), written.lines.begin(), written.lines.end());
    }
    if (std::size_t length = ks::DeliveredSectionLength(lines); length > ks::kImportedSectionLength) {
        std::fprintf(stderr,
                     "ksconfig: section %s holds %zu characters; the importer reads only the first %zu,\n"
                     "ksconfig: so its later values would not be imported\n",
                     header->c_str(), length, ks::kImportedSectionLength);
    }
    if (!out.empty()) out += '\n';
    out += *header + '\n';
    for (const std::string& line : lines) out += line + '\n';
    for (const std::string& name : SortedSubkeyNames(key)) {
        ks::UniqueHKey sub = ks::OpenKey(key, name, ks::kReadAccess);
        if (!sub) {
            std::fprintf(stderr, "ksconfig: cannot open %s\\%s\n", path.c_str(), name.c_str());
            ++skipped;
            continue;
        }
        ExportKey(sub.get(), path + "\\" + name, out, skipped);
    }
}

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

int Export(const Arguments& args) {
    std::string path = kSettingsRoot;
    if (!args.positional.empty()) path += "\\" + args.positional[0];
    ks::UniqueHKey top = OpenRead(path);
    if (!top) {
        if (args.positional.empty()) {
            std::fprintf(stderr, "ksconfig: there is no settings root (HKEY_CURRENT_USER\\%s)\n", kSettingsRoot);
        } else {
            std::fprintf(stderr, "ksconfig: no settings for scanner \"%s\"\n", args.positional[0].c_str());
        }
        return kNotFound;
    }
    std::string text;
    int skipped = 0;
    ExportKey(top.get(), path, text, skipped);
    if (skipped > 0) std::fprintf(stderr, "ksconfig: %s left out of the export\n", Count(skipped, "item").c_str());

    std::string file = args.Option("-o");
    if (file.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kOk;
    }
    // Profile files are read by the platform's profile functions: plain ANSI text, CR LF lines.
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "ksconfig: cannot write %s\n", file.c_str());
        return kNotFound;
    }
    bool ok = std::fwrite(crlf.data(), 1, crlf.size(), out) == crlf.size();
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "ksconfig: writing %s failed\n", file.c_str());
        return kStoreError;
    }
    return kOk;
}

int Import(const Arguments& args) {
    // The profile functions look for a bare file name in the Windows folder: pass a full path.
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(args.positional[0].c_str(), sizeof(full), full, nullptr);
    if (n == 0 || n >= sizeof(full)) return UsageError("cannot make a full path of " + args.positional[0]);
    DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        std::fprintf(stderr, "ksconfig: no file %s\n", full);
        return kNotFound;
    }
#ifdef KSCONFIG_HAS_IMPORTER
    std::vector<char> names(5000);
    DWORD got;
    while ((got = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), full)) ==
           names.size() - 2) {
        names.resize(names.size() * 2);
    }
    long sections = 0;
    for (DWORD i = 0; i < got; ++i) {
        if (names[i] == '\0' && (i == 0 || names[i - 1] != '\0')) ++sections;
    }
    ks::RegistryProfileImporter(full).ImportFile();
    std::printf("imported %s from %s\n", Count(sections, "section").c_str(), full);
    return kOk;
#else
    std::fprintf(stderr, "ksconfig: this build has no profile importer (it comes with the calibration code)\n");
    return kStoreError;
#endif
}

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
