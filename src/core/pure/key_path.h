#pragma once
// The settings tree's key and value names, each written once for the store, its tools and its
// benchmark (all relative to the current user's hive), and the rule that joins them into paths.
#include <string>
#include <string_view>

namespace ks {

inline constexpr char kSettingsRoot[] = "Software\\Stellwick\\Keystrel 4.0";
inline constexpr char kBackupRoot[] = "Software\\Stellwick Backup";

// Below a device key.
inline constexpr char kScanProfilesKey[] = "ScanProfiles";
inline constexpr char kEventProfilesKey[] = "EventProfiles";
inline constexpr char kCalibrationProfilesKey[] = "CalibrationProfiles";
inline constexpr char kTwainSettingsKey[] = "TwainSettings";
inline constexpr char kCurrentGammaValue[] = "CurrentGamma";
// The copy-to-folder settings, values of the device key.
inline constexpr char kCopyPathValue[] = "CopyPath";
inline constexpr char kCopyFlagsValue[] = "CopyFlags";
inline constexpr char kCopyCountValue[] = "CopyCount";
// A calibration table is the value "Gamma - <n>", the number signed and in decimal.
inline constexpr char kGammaTablePrefix[] = "Gamma - ";

// Engine keys: subkeys of the settings root whose default value is the marker.
inline constexpr char kEngineMarker[] = "LINKENGINE";
inline constexpr char kEngineClassValue[] = "GUID";
inline constexpr char kLinkCacheValue[] = "LinkCache";

// Settings of other components below the settings root; neither device nor engine keys.
inline constexpr char kLinkProfilesKey[] = "LinkProfiles";
inline constexpr char kUIInterfaceProfilesKey[] = "UIInterfaceProfiles";
inline constexpr char kTextRecognitionKey[] = "Ferrovane 4.0";
inline constexpr char kTextDocumentsKey[] = "Text Documents";

// "<parent>\<child>": names are used exactly as given (no trimming, no check for backslashes,
// so a child holding a backslash addresses a deeper key and an empty child leaves a trailing "\").
std::string JoinKey(std::string_view parent, std::string_view child);

// The device key of a scanner: the settings root, one backslash, the hardware name.
std::string DeviceKeyPath(std::string_view hardwareName);

// "<settings root>\UIInterfaceProfiles", the key below which interface profiles live.
std::string UIInterfaceProfilesPath();

// True for the names of the other components' keys below the settings root (compared ignoring
// ASCII case, as the registry does), which are never device keys.
bool IsOtherComponentKey(std::string_view name);

}  // namespace ks
