// Scanner driver settings files (ISIS and TWAIN): per-user copies of the templates shipped in the
// install folder, made on first request and recorded in "IniFile", plus the user interface's saved
// scan and device modes.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "core/module.h"
#include "core/pure/key_path.h"
#include "core/pure/profiles_file.h"
#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "device/device.h"
#include "device/shell_folder.h"

namespace ks {

namespace {

constexpr char kDriverFilesFolder[] = "Keystrel 4.0";
static_assert(sizeof(DriverSettings::iniFile) == kMaxPathLength + 1, "the settings file is read as any path");

// Read-back marker of a mode that was never saved, and the modes used then.
constexpr DWORD kModeUnset = 99;
constexpr short kDefaultScanMode = 2;
constexpr short kDefaultDeviceMode = 1;

// "K" + the 36 characters of a new GUID between its braces + "S"; empty when no GUID can be made.
std::string NewDriverFileName() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) return {};
    return "K" + GuidText(guid).substr(1, 36) + "S";
}

// Makes the per-user copy of the template "<install>\Profiles\<hardware><extension>" and records
// it in "IniFile" of `key`. Gives the copy's path; the template's path when no copy can be named
// (then nothing is recorded and the next request tries again); empty without an install folder.
// A hardware name that would lead out of the Profiles folder has no template: its copy is named
// and recorded as for a scanner whose template is missing, and no template path is handed out.
std::string ProvisionDriverFile(HKEY key, const std::string& hardware, const char* extension) {
    std::optional<std::string> install = InstallFolder();
    if (!install) return {};
    const std::optional<std::string> templatePath = ProfilesFilePath(*install, hardware, extension, IsAnsiLeadByte);
    const std::string fallback = templatePath.value_or(std::string());

    const std::optional<std::string> made = DriverFilesFolder();
    if (!made) return fallback;
    const std::string& folder = *made;
    // "\" + 38-character name + ".ini": a path that long would not fit the readers' buffers.
    if (folder.size() + 1 + 38 + 4 > kMaxPathLength) return fallback;
    CreateDirectoryA(folder.c_str(), nullptr);  // an existing folder is fine

    std::string name = NewDriverFileName();
    if (name.empty()) return fallback;
    std::string copyPath = JoinPath(folder, name + ".ini");
    // The copy's outcome is not checked: a scanner without a template still gets its path, and the
    // driver fills the file in itself.
    if (templatePath) CopyFileA(templatePath->c_str(), copyPath.c_str(), FALSE);
    WriteString(key, DriverFields()[kIniFileField].value, copyPath.c_str());
    return copyPath;
}

// The recorded driver settings file of `key`, provisioned when none is recorded. An "IniFile" that
// is not a string or does not fit counts as absent.
std::string DriverFilePath(HKEY key, const std::string& hardware, const char* extension) {
    DriverSettings settings{};
    ReadField(key, DriverFields()[kIniFileField], &settings);
    std::string path = FieldText(settings.iniFile);
    if (path.empty()) path = ProvisionDriverFile(key, hardware, extension);
    return path;
}

// A saved mode: up to 4 bytes of any type over the unset marker; its low 16 bits are the code.
short ReadMode(HKEY key, DriverField field, short fallback) {
    DriverSettings settings{kModeUnset, kModeUnset, {}};
    ReadField(key, DriverFields()[field], &settings);
    const DWORD value = field == kScanModeField ? settings.scanMode : settings.deviceMode;
    if (value == kModeUnset) return fallback;
    return static_cast<short>(static_cast<WORD>(value & 0xFFFF));
}

DWORD SignExtend(short mode) { return static_cast<DWORD>(static_cast<LONG>(mode)); }

// The interface profile's key, found as GetUIInterfaceProfile finds the profiles key (the root
// made sure of once more), with the profile name appended unchanged (an empty name leaves a
// trailing backslash).
std::string ProfileKeyPath(const std::string& profile) {
    EnsureSettingsRoot();
    return JoinKey(UIInterfaceProfilesPath(), profile);
}

}  // namespace

std::optional<std::string> DriverFilesFolder() {
    std::optional<std::string> appData = UserShellFolder(CSIDL_APPDATA);
    if (!appData) return std::nullopt;
    return JoinPath(*appData, kDriverFilesFolder);
}

void UIInterfaceSaveSettings(const std::string& profile, short scanMode, short deviceMode) {
    // The key is made by the start-up call; saving never creates it.
    UniqueHKey key = OpenKey(HKEY_CURRENT_USER, ProfileKeyPath(profile), kReadWriteAccess);
    if (!key) return;
    const DriverSettings settings{SignExtend(scanMode), SignExtend(deviceMode), {}};
    WriteField(key.get(), DriverFields()[kScanModeField], &settings);
    WriteField(key.get(), DriverFields()[kDeviceModeField], &settings);
}

std::optional<StartupSettings> UIInterfaceStartupSettings(const std::string& hardware, const std::string& profile) {
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, ProfileKeyPath(profile));
    if (!key) return std::nullopt;
    // The file belongs to the profile: the hardware name only picks the template when the file is
    // first made.
    return StartupSettings{ReadMode(key.get(), kScanModeField, kDefaultScanMode),
                           ReadMode(key.get(), kDeviceModeField, kDefaultDeviceMode),
                           DriverFilePath(key.get(), hardware, ".isis")};
}

std::optional<std::string> GetTwainConfigurationFile(const std::string& hardware) {
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, JoinKey(DeviceKeyPath(hardware), kTwainSettingsKey));
    if (!key) return std::nullopt;
    // Unlike the ISIS file, the caller always gets a string back, empty when nothing was found.
    return DriverFilePath(key.get(), hardware, ".twain");
}

}  // namespace ks
