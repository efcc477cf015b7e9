#pragma once
// Registry key paths of the settings tree (all relative to the current user's hive).
#include <string>
#include <string_view>

namespace ks {

inline constexpr std::string_view kSettingsRoot = "Software\\Stellwick\\Keystrel 4.0";
inline constexpr std::string_view kBackupRoot = "Software\\Stellwick Backup";

// "<parent>\<child>": names are used exactly as given (no trimming, no check for backslashes,
// so a child holding a backslash addresses a deeper key and an empty child leaves a trailing "\").
std::string JoinKey(std::string_view parent, std::string_view child);

// The device key of a scanner: the settings root, one backslash, the hardware name.
std::string DeviceKeyPath(std::string_view hardwareName);

}  // namespace ks
