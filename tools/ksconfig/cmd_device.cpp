// Commands that show a scanner's calibration tables, copy-to-folder settings and driver
// settings files, and the link engines.
#include "calibration/calibration.h"
#include "core/pure/profiles_file.h"
#include "device/device.h"
#include "ksconfig.h"
#include "links/link_service.h"

namespace ksconfig {
namespace {

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string WithPresence(const std::string& path) { return path + (FileExists(path) ? " (present)" : " (missing)"); }

// A folder the store makes on first use, and whether it exists now: made while a command only
// looks, it is removed again (when still empty).
struct FirstUseFolder {
    explicit FirstUseFolder(const std::optional<std::string>& folder)
        : path(folder.value_or("")), existed(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {}
    void RemoveIfMade() const {
        if (!existed && !path.empty()) RemoveDirectoryA(path.c_str());
    }
    std::string path;
    bool existed;
};

}  // namespace

int Calibration(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG gamma = 0;
    const HRESULT hr = store->GetDefualtGamma(name.get(), &gamma);
    if (FAILED(hr) && hr != E_FAIL) return StoreFailure("GetDefualtGamma", hr);
    const bool hasGamma = hr == S_OK;
    // No method lists the tables: they are read from the registry, tables first in number order,
    // each with whether the store's own table reader takes it.
    ks::UniqueHKey key = OpenPath(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kCalibrationProfilesKey));
    std::vector<RegValue> tables = key ? SortedValues(key.get()) : std::vector<RegValue>();
    std::stable_sort(tables.begin(), tables.end(), [](const RegValue& a, const RegValue& b) {
        const std::optional<LONG> x = TableNumber(a.name), y = TableNumber(b.name);
        return x && (!y || *x < *y);
    });
    std::vector<std::string> items;
    std::vector<std::vector<std::string>> rows;
    bool currentShown = false;
    for (const RegValue& t : tables) {
        const std::optional<LONG> number = TableNumber(t.name);
        std::vector<unsigned char> bytes(t.data.size() + 1);
        const bool read = number && ks::QueryTable(key.get(), *number, static_cast<LONG>(t.data.size()), bytes.data());
        const bool current = hasGamma && number == gamma;
        currentShown = currentShown || current;
        items.push_back(json::Obj({{"name", JsonText(t.name)},
                                   {"size", json::Num(static_cast<long long>(t.data.size()))},
                                   {"type", json::Str(ks::TypeName(t.type))},
                                   {"readAsTable", json::Bool(read)},
                                   {"current", json::Bool(current)}}));
        rows.push_back({t.name, Count(static_cast<long>(t.data.size()), "byte") +
                                    (read ? "" : ", " + ks::TypeName(t.type) + " (not read as a table)") +
                                    (current ? " (current)" : "")});
    }
    if (args.Has("--json")) {
        return PrintJson({{"hardware", JsonText(hardware)},
                          {"currentGamma", hasGamma ? json::Num(gamma) : json::Null()},
                          {"tables", json::Arr(items)}});
    }
    std::printf("calibration of \"%s\": %s, %s\n", hardware.c_str(),
                hasGamma ? ("current gamma " + std::to_string(gamma)).c_str() : "no current gamma",
                Count(static_cast<long>(tables.size()), "table").c_str());
    PrintTable(rows);
    if (hasGamma && !currentShown) std::printf("  the current table \"%s\" is missing\n", ks::TableName(gamma).c_str());
    return kOk;
}

int CopySettings(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware), path;
    // Received as bits: the stored options need not be members of the enumeration.
    std::uint32_t bits = 0;
    LONG count = 0;
    const FirstUseFolder defaultFolder(ks::DefaultCopyFolder());
    const HRESULT hr = store->CopyToFolderSettings(name.get(), reinterpret_cast<_KSCPYFLAG*>(&bits), path.put(), &count);
    if (FAILED(hr)) return StoreFailure("CopyToFolderSettings", hr);
    const std::string folder = ks::ToAnsi(path.get());
    // The store writes its defaults (and makes the folder) when there is no readable path.
    const ks::Field& pathField = ks::CopySettingsFields()[ks::kCopyPathField];
    const bool firstUse = store.Wrote(ks::DeviceKeyPath(hardware), pathField.value);
    if (firstUse && folder == defaultFolder.path) defaultFolder.RemoveIfMade();
    if (args.Has("--json")) {
        return PrintJson({{"path", JsonText(folder)},
                          {"flags", json::Num(bits)},
                          {"flagNames", json::StrArr(DecodeBits(bits, ks::CopyFlagNames()))},
                          {"count", json::Num(count)},
                          {"firstUse", json::Bool(firstUse)}});
    }
    PrintField("path", folder);
    PrintField("flags", FlagsText(bits, ks::CopyFlagNames()));
    PrintField("count", std::to_string(count));
    if (firstUse) std::printf("(first-use defaults: a client's first call writes them; nothing was written)\n");
    return kOk;
}

int DriverFiles(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware), installBstr, twain, isis;
    HRESULT hr = store->GetKSInstallFolder(installBstr.put());
    if (FAILED(hr)) return StoreFailure("GetKSInstallFolder", hr);
    const std::string install = ks::ToAnsi(installBstr.get());
    // Each file with its JSON member and its label. No template path for a name that would lead out
    // of the Profiles folder: the store uses none.
    struct File {
        const char *member, *label;
        std::string path;
        bool firstUse = false;
    };
    std::vector<File> files = {
        {"isisTemplate", "ISIS template", ks::ProfilesFilePath(install, hardware, ".isis", ks::IsAnsiLeadByte).value_or("")},
        {"twainTemplate", "TWAIN template", ks::ProfilesFilePath(install, hardware, ".twain", ks::IsAnsiLeadByte).value_or("")}};
    // A settings file the store makes on first use is deleted again (it was made while looking).
    const FirstUseFolder filesFolder(ks::DriverFilesFolder());
    auto settingsFile = [&](const char* member, const char* label, const std::string& key, BSTR file) {
        File f{member, label, ks::ToAnsi(file)};
        f.firstUse = !f.path.empty() && store.Wrote(key, ks::DriverFields()[ks::kIniFileField].value);
        if (f.firstUse) DeleteFileA(f.path.c_str());
        files.push_back(f);
    };
    hr = store->GetTwainConfigurationFile(name.get(), twain.put());
    if (FAILED(hr)) return StoreFailure("GetTwainConfigurationFile", hr);
    settingsFile("twainSettings", "TWAIN settings", ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kTwainSettingsKey), twain.get());
    if (args.options.count("--ui-profile") != 0) {
        short scanMode = 0, deviceMode = 0;
        ks::UniqueBstr profile = ks::MakeBstr(args.Option("--ui-profile"));
        if (hr = store->SetUIInterfaceProfile(profile.get()); FAILED(hr)) return StoreFailure("SetUIInterfaceProfile", hr);
        hr = store->UIInterfaceStartupSettings(name.get(), &scanMode, &deviceMode, isis.put());
        if (FAILED(hr)) return StoreFailure("UIInterfaceStartupSettings", hr);
        settingsFile("isisSettings", "ISIS settings", ks::JoinKey(ks::UIInterfaceProfilesPath(), args.Option("--ui-profile")),
                     isis.get());
    }
    filesFolder.RemoveIfMade();
    json::Members m = {{"installFolder", JsonText(install)}};
    if (!args.Has("--json")) PrintField("install folder", install);
    for (const File& f : files) {
        json::Members file = {{"path", f.firstUse || f.path.empty() ? json::Null() : JsonText(f.path)},
                              {"present", json::Bool(!f.firstUse && FileExists(f.path))}};
        if (f.firstUse) file.push_back({"firstUse", json::Bool(true)});
        m.push_back({f.member, json::Obj(file)});
        if (args.Has("--json")) continue;
        PrintField(f.label, f.firstUse       ? "none yet (a client's first call copies the template into a new file)"
                            : f.path.empty() ? "(none)"
                                             : WithPresence(f.path));
    }
    return args.Has("--json") ? PrintJson(m) : kOk;
}

int Links(const Arguments& args) {
    Store store;
    if (int rc = store.Open(); rc != kOk) return rc;
    // The engine keys, read as the store reads them, with the container the store names for each.
    std::vector<std::string> items, lines, classes;
    std::vector<LinkSeen> links;
    HRESULT hr = S_OK;
    if (ks::UniqueHKey root = OpenPath(kSettingsRoot)) {
        ForEachChild(root.get(), [&](HKEY key, const std::string& name) {
            if (!ks::IsEngineKey(key) || FAILED(hr)) return;
            ks::EngineSettings engine{};
            ks::ReadFields(key, ks::EngineFields(), &engine);
            ks::UniqueBstr bname = ks::MakeBstr(name), container;
            hr = store->GetLinkEngineContainer(bname.get(), container.put());
            const std::string cache = ks::FieldText(engine.linkCache);
            items.push_back(json::Obj({{"key", JsonText(name)},
                                       {"settings", RecordJson(&engine, ks::EngineFields())},
                                       {"linkCachePresent", json::Bool(FileExists(cache))},
                                       {"container", JsonText(ks::ToAnsi(container.get()))}}));
            lines.push_back("  " + name + "\n    GUID       " + ks::FieldText(engine.engineClass) + "\n    LinkCache  " +
                            WithPresence(cache) + "\n    container  " + ks::ToAnsi(container.get()));
        }, &links);
    }
    if (FAILED(hr)) return StoreFailure("GetLinkEngineContainer", hr);
    IStorage* storage = nullptr;
    const HRESULT load = store->LoadLinkInfo(0, &storage);
    if (load == E_NOTIMPL) return StoreFailure("LoadLinkInfo", load);
    if (storage != nullptr) storage->Release();
    GUID clsid{};
    for (ULONG i = 0; (hr = store->GetLinkEngineCLSID(i, &clsid)) == S_OK; ++i) classes.push_back(ks::GuidText(clsid));
    if (FAILED(hr) && hr != E_FAIL && hr != E_INVALIDARG) return StoreFailure("GetLinkEngineCLSID", hr);
    ks::UniqueBstr profiles;
    if (hr = store->GetLinkCustomProfile(profiles.put()); FAILED(hr)) return StoreFailure("GetLinkCustomProfile", hr);
    if (args.Has("--json")) {
        return PrintJson({{"engines", json::Arr(items)},
                          {"loadLinkInfo", json::Str(HresultText(load))},
                          {"linkCacheOpened", json::Bool(storage != nullptr)},
                          {"engineClasses", json::StrArr(classes)},
                          {"linkProfiles", JsonText(ks::ToAnsi(profiles.get()))}});
    }
    std::printf("%s\n", Count(static_cast<long>(lines.size()), "link engine key").c_str());
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    PrintField("link cache", (storage != nullptr ? "opened: " : "not opened: ") + DescribeHresult(load));
    std::string classList;
    for (const std::string& c : classes) classList += (classList.empty() ? "" : ", ") + c;
    PrintField("engine classes", classes.empty() ? std::string("none found in the category") : classList);
    PrintField("link profiles", ks::ToAnsi(profiles.get()));
    for (const LinkSeen& l : links) std::printf("registry link, not followed: %s -> %s\n", l.path.c_str(), l.target.c_str());
    return kOk;
}

}  // namespace ksconfig
