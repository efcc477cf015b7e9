#pragma once
// What ksconfig reads from the registry directly, where the interface has no method: through the
// store's own registry layer and names, sorted for people to read.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"

namespace ksconfig {

using ks::kBackupRoot;
using ks::kSettingsRoot;
using RegValue = ks::RegistryValue;

// Opened for reading below the current user's hive; empty when absent.
ks::UniqueHKey OpenRead(const std::string& path);
bool KeyExists(const std::string& path);
std::vector<std::string> SortedSubkeyNames(HKEY key);  // case-insensitively
std::vector<RegValue> SortedValues(HKEY key);          // by name, case-insensitively
// A string value as ksconfig shows it (REG_SZ or REG_EXPAND_SZ, up to 1 KB); empty when absent.
std::optional<std::string> ReadText(HKEY key, const char* name);
// Whether an open subkey of the settings root is an engine key.
bool IsEngineKey(HKEY key);

// The device keys: subkeys of the settings root that are not engine keys or the settings of
// other components (link profiles, interface profiles, text recognition).
std::vector<std::string> DeviceNames();

// Case-insensitive order, as the registry compares names.
bool NameLess(const std::string& a, const std::string& b);

}  // namespace ksconfig
