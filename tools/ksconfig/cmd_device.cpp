// Commands that show a scanner's calibration tables, copy-to-folder settings and driver
// settings files, and the link engines.
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "json.h"
#include "pure/names.h"
#include "output.h"
#include "core/pure/profiles_file.h"
#include "core/text.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A folder below one of the user's shell folders, and whether it exists now.
struct ShellSubfolder {
    std::string path;
    bool existed = false;
};
ShellSubfolder Subfolder(int csidl, const char* name) {
    char folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
    std::string path = std::string(folder) + (folder[0] && folder[std::strlen(folder) - 1] == '\\' ? "" : "\\") + name;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return {path, attributes != INVALID_FILE_ATTRIBUTES};
}

std::string WithPresence(const std::string& path) {
    return path + (FileExists(path) ? " (present)" : " (missing)");
}

std::string HexBytes(const std::vector<std::uint8_t>& data, std::size_t from, std::size_t count) {
    std::string out;
    char piece[4];
    for (std::size_t i = from; i < from + count && i < data.size(); ++i) {
        std::snprintf(piece, sizeof(piece), "%02x", data[i]);
        if (!out.empty()) out += ' ';
        out += piece;
    }
    return out;
}

}  // namespace

int Calibration(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG gamma = 0;
    HRESULT hr = store->GetDefualtGamma(name.get(), &gamma);
    if (FAILED(hr) && hr != E_FAIL) return StoreFailure("GetDefualtGamma", hr);
    bool hasGamma = hr == S_OK;

    // No method lists the tables: they are read from the registry.
    std::vector<RegValue> tables;
    if (ks::UniqueHKey key = OpenRead(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kCalibrationProfilesKey))) tables = SortedValues(key.get());
    std::stable_sort(tables.begin(), tables.end(), [](const RegValue& a, const RegValue& b) {
        std::optional<long> x = GammaNumber(a.name), y = GammaNumber(b.name);
        if (x && y) return *x < *y;
        return x.has_value() && !y.has_value();
    });

    bool hex = args.Has("--hex");
    if (args.Has("--json")) {
        std::vector<std::string> items;
        for (const RegValue& t : tables) {
            std::optional<long> number = GammaNumber(t.name);
            json::Members m = {{"name", json::Str(Utf8FromAnsi(t.name))},
                               {"gamma", number ? json::Num(*number) : json::Null()},
                               {"size", json::Num(static_cast<long long>(t.data.size()))},
                               {"type", json::Num(t.type)},
                               {"current", json::Bool(hasGamma && number && *number == gamma)}};
            if (hex) m.push_back({"hex", json::Str(HexBytes(t.data, 0, t.data.size()))});
            items.push_back(json::Obj(m));
        }
        std::printf("%s\n", json::Obj({{"hardware", json::Str(Utf8FromAnsi(hardware))},
                                       {"currentGamma", hasGamma ? json::Num(gamma) : json::Null()},
                                       {"tables", json::Arr(items)}})
                                .c_str());
        return kOk;
    }
    std::printf("calibration of \"%s\": %s, %s\n", hardware.c_str(),
                hasGamma ? ("current gamma " + std::to_string(gamma)).c_str() : "no current gamma",
                Count(static_cast<long>(tables.size()), "table").c_str());
    std::size_t width = 0;
    for (const RegValue& t : tables) width = std::max(width, t.name.size());
    for (const RegValue& t : tables) {
        std::optional<long> number = GammaNumber(t.name);
        std::string line = "  " + t.name + std::string(width - t.name.size(), ' ') + "  " +
                           Count(static_cast<long>(t.data.size()), "byte");
        if (t.type != REG_BINARY) line += ", registry type " + std::to_string(t.type) + " (not read as a table)";
        if (hasGamma && number && *number == gamma) line += " (current)";
        std::printf("%s\n", line.c_str());
        if (hex) {
            for (std::size_t i = 0; i < t.data.size(); i += 16) std::printf("    %s\n", HexBytes(t.data, i, 16).c_str());
        }
    }
    if (hasGamma && std::none_of(tables.begin(), tables.end(), [&](const RegValue& t) {
            std::optional<long> number = GammaNumber(t.name);
            return number && *number == gamma;
        })) {
        std::printf("  the current table \"Gamma - %ld\" is missing\n", static_cast<long>(gamma));
    }
    return kOk;
}

int CopySettings(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    // Received as bits: the stored options need not be members of the enumeration.
    std::uint32_t bits = 0;
    ks::UniqueBstr path;
    LONG count = 0;
    const ShellSubfolder defaultFolder = Subfolder(CSIDL_PERSONAL, "My Scanned Documents");
    HRESULT hr = store->CopyToFolderSettings(name.get(), reinterpret_cast<_KSCPYFLAG*>(&bits), path.put(), &count);
    if (FAILED(hr)) return StoreFailure("CopyToFolderSettings", hr);
    std::string folder = ks::ToAnsi(path.get());
    // The store writes its defaults (and makes the folder) when there is no readable path.
    const bool firstUse = store.Wrote(ks::DeviceKeyPath(hardware), ks::kCopyPathValue);
    if (firstUse && folder == defaultFolder.path) RemoveMadeFolder(folder, defaultFolder.existed);
    if (args.Has("--json")) {
        std::printf("%s\n", json::Obj({{"path", json::Str(Utf8FromAnsi(folder))},
                                       {"flags", json::Num(bits)},
                                       {"flagNames", json::StrArr(DecodeBits(bits, CopyFlagNames()))},
                                       {"count", json::Num(count)},
                                       {"firstUse", json::Bool(firstUse)}})
                                .c_str());
    } else {
        PrintField("path", folder);
        PrintField("flags", FlagsText(bits, CopyFlagNames()));
        PrintField("count", std::to_string(count));
        if (firstUse) std::printf("(first-use defaults: a client's first call writes them; nothing was written)\n");
    }
    return kOk;
}

int DriverFiles(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    ks::UniqueBstr installBstr;
    HRESULT hr = store->GetKSInstallFolder(installBstr.put());
    if (FAILED(hr)) return StoreFailure("GetKSInstallFolder", hr);
    std::string install = ks::ToAnsi(installBstr.get());
    // No template path for a name that would lead out of the Profiles folder: the store uses none.
    std::string isisTemplate = ks::ProfilesFilePath(install, hardware, ".isis", ks::IsAnsiLeadByte).value_or("");
    std::string twainTemplate = ks::ProfilesFilePath(install, hardware, ".twain", ks::IsAnsiLeadByte).value_or("");
    // A settings file the store makes on first use is deleted again (it was made while looking).
    const ShellSubfolder filesFolder = Subfolder(CSIDL_APPDATA, "Keystrel 4.0");
    auto unmade = [&](const std::string& key, std::string& file) {
        if (file.empty() || !store.Wrote(key, "IniFile")) return false;
        DeleteFileA(file.c_str());
        file.clear();
        return true;
    };
    ks::UniqueBstr twainBstr;
    hr = store->GetTwainConfigurationFile(name.get(), twainBstr.put());
    if (FAILED(hr)) return StoreFailure("GetTwainConfigurationFile", hr);
    std::string twain = ks::ToAnsi(twainBstr.get());
    const bool twainFirstUse = unmade(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kTwainSettingsKey), twain);

    bool withProfile = args.options.count("--ui-profile") != 0;
    std::string uiProfile = args.Option("--ui-profile");
    short scanMode = 0, deviceMode = 0;
    std::string isis;
    if (withProfile) {
        ks::UniqueBstr profile = ks::MakeBstr(uiProfile);
        hr = store->SetUIInterfaceProfile(profile.get());
        if (FAILED(hr)) return StoreFailure("SetUIInterfaceProfile", hr);
        ks::UniqueBstr isisBstr;
        hr = store->UIInterfaceStartupSettings(name.get(), &scanMode, &deviceMode, isisBstr.put());
        if (FAILED(hr)) return StoreFailure("UIInterfaceStartupSettings", hr);
        isis = ks::ToAnsi(isisBstr.get());
    }
    const bool isisFirstUse =
        withProfile && unmade(ks::JoinKey(ks::JoinKey(kSettingsRoot, ks::kUIInterfaceProfilesKey), uiProfile), isis);
    RemoveMadeFolder(filesFolder.path, filesFolder.existed);

    if (args.Has("--json")) {
        auto file = [](const std::string& path, bool firstUse = false) {
            json::Members m = {{"path", path.empty() ? json::Null() : json::Str(Utf8FromAnsi(path))},
                               {"present", json::Bool(!path.empty() && FileExists(path))}};
            if (firstUse) m.push_back({"firstUse", json::Bool(true)});
            return json::Obj(m);
        };
        json::Members m = {{"installFolder", json::Str(Utf8FromAnsi(install))},
                           {"isisTemplate", file(isisTemplate)},
                           {"twainTemplate", file(twainTemplate)},
                           {"twainSettings", twain.empty() && !twainFirstUse ? json::Null() : file(twain, twainFirstUse)}};
        if (withProfile) {
            m.push_back({"uiProfile", json::Obj({{"name", json::Str(Utf8FromAnsi(uiProfile))},
                                                 {"scanMode", json::Num(scanMode)},
                                                 {"deviceMode", json::Num(deviceMode)},
                                                 {"isisSettings", isis.empty() && !isisFirstUse
                                                                      ? json::Null()
                                                                      : file(isis, isisFirstUse)}})});
        }
        std::printf("%s\n", json::Obj(m).c_str());
        return kOk;
    }
    PrintField("install folder", install);
    PrintField("ISIS template", WithPresence(isisTemplate));
    PrintField("TWAIN template", WithPresence(twainTemplate));
    const char* kFirstUse = "none yet (a client's first call copies the template into a new file)";
    PrintField("TWAIN settings", twainFirstUse ? kFirstUse : twain.empty() ? "(none)" : WithPresence(twain));
    if (withProfile) {
        PrintField("UI profile", Quoted(uiProfile) + ": scan mode " + std::to_string(scanMode) + ", device mode " +
                                     std::to_string(deviceMode));
        PrintField("ISIS settings", isisFirstUse ? kFirstUse : isis.empty() ? "(none)" : WithPresence(isis));
    }
    return kOk;
}

int Links(const Arguments& args) {
    Store store;
    if (int rc = store.Open(); rc != kOk) return rc;

    struct Engine {
        std::string key, guid, cache, container;
    };
    std::vector<Engine> engines;
    std::vector<LinkSeen> links;
    HRESULT failed = S_OK;
    if (ks::UniqueHKey root = OpenRead(kSettingsRoot)) {
        ForEachChild(root.get(), [&](HKEY key, const std::string& name) {
            if (!IsEngineKey(key) || FAILED(failed)) return;
            Engine e{name, ReadText(key, ks::kEngineClassValue).value_or(""), ReadText(key, ks::kLinkCacheValue).value_or(""), ""};
            ks::UniqueBstr bname = ks::MakeBstr(name);
            ks::UniqueBstr container;
            failed = store->GetLinkEngineContainer(bname.get(), container.put());
            e.container = ks::ToAnsi(container.get());
            engines.push_back(e);
        }, &links);
    }
    if (FAILED(failed)) return StoreFailure("GetLinkEngineContainer", failed);

    IStorage* storage = nullptr;
    HRESULT load = store->LoadLinkInfo(0, &storage);
    if (load == E_NOTIMPL) return StoreFailure("LoadLinkInfo", load);
    bool opened = storage != nullptr;
    if (storage != nullptr) storage->Release();

    std::vector<std::string> classes;
    for (ULONG i = 0;; ++i) {
        GUID clsid{};
        HRESULT hr = store->GetLinkEngineCLSID(i, &clsid);
        if (hr == E_FAIL || hr == E_INVALIDARG) break;
        if (FAILED(hr)) return StoreFailure("GetLinkEngineCLSID", hr);
        classes.push_back(GuidText(clsid));
    }

    ks::UniqueBstr profilesKey;
    HRESULT hr = store->GetLinkCustomProfile(profilesKey.put());
    if (FAILED(hr)) return StoreFailure("GetLinkCustomProfile", hr);
    std::string linkProfiles = ks::ToAnsi(profilesKey.get());

    if (args.Has("--json")) {
        std::vector<std::string> items;
        for (const Engine& e : engines) {
            items.push_back(json::Obj({{"key", json::Str(Utf8FromAnsi(e.key))},
                                       {"guid", json::Str(Utf8FromAnsi(e.guid))},
                                       {"linkCache", json::Str(Utf8FromAnsi(e.cache))},
                                       {"linkCachePresent", json::Bool(FileExists(e.cache))},
                                       {"container", json::Str(Utf8FromAnsi(e.container))}}));
        }
        std::printf("%s\n", json::Obj({{"engines", json::Arr(items)},
                                       {"loadLinkInfo", json::Str(HresultText(load))},
                                       {"linkCacheOpened", json::Bool(opened)},
                                       {"engineClasses", json::StrArr(classes)},
                                       {"linkProfiles", json::Str(Utf8FromAnsi(linkProfiles))}})
                                .c_str());
        return kOk;
    }
    std::printf("%s\n", Count(static_cast<long>(engines.size()), "link engine key").c_str());
    for (const Engine& e : engines) {
        std::printf("  %s\n", e.key.c_str());
        std::printf("    GUID       %s\n", e.guid.c_str());
        std::printf("    LinkCache  %s\n", WithPresence(e.cache).c_str());
        std::printf("    container  %s\n", e.container.c_str());
    }
    PrintField("link cache", (opened ? "opened: " : "not opened: ") + DescribeHresult(load));
    std::string classList;
    for (const std::string& c : classes) classList += (classList.empty() ? "" : ", ") + c;
    PrintField("engine classes", classes.empty() ? std::string("none found in the category") : classList);
    PrintField("link profiles", linkProfiles);
    for (const LinkSeen& l : links) std::printf("registry link, not followed: %s -> %s\n", l.path.c_str(), l.target.c_str());
    return kOk;
}

}  // namespace ksconfig
