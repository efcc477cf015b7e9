// Gamma calibration tables of a device: stored in the caller's hive, read from there, else from
// the console user's hive, else from the device's default profile imported into the caller's hive.
#include <string>

#include "calibration/calibration.h"
#include "calibration/console_user.h"
#include "calibration/default_profile.h"
#include "calibration/profile_importer.h"
#include "core/pure/key_path.h"
#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"

namespace ks {

// "Gamma - <n>", the number signed and in decimal (so Gamma - -2 for -2).
std::string TableName(LONG gamma) { return kGammaTablePrefix + std::to_string(gamma); }

// The current gamma number of an open device key; 0 when the value is missing or does not fit.
LONG CurrentGamma(HKEY deviceKey) {
    CalibrationSettings settings{};
    ReadField(deviceKey, CalibrationFields()[kCurrentGammaField], &settings);
    return settings.currentGamma;
}

// Queries a table straight into the caller's buffer. Only a REG_BINARY that fits counts as found,
// though a fitting value of another type has been copied all the same.
bool QueryTable(HKEY tablesKey, LONG gamma, LONG size, unsigned char* data) {
    DWORD type = REG_NONE;
    DWORD length = static_cast<DWORD>(size);
    return QueryValue(tablesKey, TableName(gamma).c_str(), &type, data, &length) == ERROR_SUCCESS && type == REG_BINARY;
}

namespace {

// The table `gamma` of the caller's own hive; gamma number 0 means the device has no current table.
bool ReadOwnTable(const std::string& device, LONG gamma, LONG size, unsigned char* data) {
    if (gamma == 0) return false;
    // Created, not just opened: a read leaves an empty tables key where none was.
    UniqueHKey tables = CreateKey(HKEY_CURRENT_USER, JoinKey(device, kCalibrationProfilesKey));
    return tables && QueryTable(tables.get(), gamma, size, data);
}

// The console user's hive, read-only; nothing read there is copied into the caller's hive.
bool ReadConsoleUserTable(const std::string& device, LONG size, unsigned char* data) {
    std::optional<std::string> sid = g_consoleUserSid();
    if (!sid) return false;
    const std::string consoleDevice = JoinKey(*sid, device);
    LONG gamma = 0;
    {
        UniqueHKey deviceKey = OpenKey(HKEY_USERS, consoleDevice, kReadAccess);
        if (!deviceKey) return false;
        gamma = CurrentGamma(deviceKey.get());
    }
    // Here gamma number 0 names a table like any other.
    UniqueHKey tables = OpenKey(HKEY_USERS, JoinKey(consoleDevice, kCalibrationProfilesKey), kReadAccess);
    return tables && QueryTable(tables.get(), gamma, size, data);
}

HRESULT ReadCalibration(const std::string& name, LONG size, unsigned char* data, bool importDefaults) {
    const std::string device = DeviceKeyPath(name);
    if (UniqueHKey deviceKey = OpenKey(HKEY_CURRENT_USER, device, kReadWriteAccess)) {
        const LONG gamma = CurrentGamma(deviceKey.get());
        deviceKey.reset();
        if (ReadOwnTable(device, gamma, size, data)) return S_OK;
    } else if (ReadConsoleUserTable(device, size, data)) {
        // Only a caller whose hive lacks the device key at all borrows the console user's tables.
        return S_OK;
    }
    if (!importDefaults) return E_FAIL;

    std::optional<TemporaryFile> prepared = PrepareDefaultProfile(name);
    // With no default profile to fall back on, the caller keeps its buffer and is not told.
    if (!prepared) return S_OK;
    RegistryProfileImporter(prepared->Path()).ImportFile();
    prepared.reset();  // deletes the temporary file
    EnsureSettingsRoot();
    return ReadCalibration(name, size, data, false);
}

}  // namespace

HRESULT StoreCalibrationData(const std::string& hardware, LONG gamma, LONG size, unsigned char* data) {
    const std::string device = DeviceKeyPath(hardware);
    {
        UniqueHKey deviceKey = CreateKey(HKEY_CURRENT_USER, device);
        if (!deviceKey) return E_FAIL;
        const CalibrationSettings settings{gamma};
        WriteField(deviceKey.get(), CalibrationFields()[kCurrentGammaField], &settings);  // outcome not looked at
    }
    UniqueHKey tables = CreateKey(HKEY_CURRENT_USER, JoinKey(device, kCalibrationProfilesKey));
    if (!tables) return E_FAIL;
    // A refused table write still answers S_OK; the current number is already set.
    WriteValue(tables.get(), TableName(gamma).c_str(), REG_BINARY, data, static_cast<DWORD>(size));
    return S_OK;
}

HRESULT GetCalibrationData(const std::string& hardware, LONG size, unsigned char* data) {
    return ReadCalibration(hardware, size, data, true);
}

HRESULT GetDefualtGamma(const std::string& hardware, LONG* gamma) {
    UniqueHKey deviceKey = OpenKey(HKEY_CURRENT_USER, DeviceKeyPath(hardware), kReadWriteAccess);
    if (!deviceKey) return E_FAIL;
    CalibrationSettings settings{};
    const Field& field = CalibrationFields()[kDefaultGammaField];
    if (ReadField(deviceKey.get(), field, &settings).verdict != ValueSeen::Verdict::Read) return E_FAIL;
    *gamma = settings.currentGamma;
    return S_OK;
}

}  // namespace ks
