#pragma once
// Storing one scan profile, shared by StoreConfigInfo and the save of the active profile.
#include <string>

#include "core/records.h"

namespace ks {

// Writes the profile's values under "<device key of hardware>\ScanProfiles\<key name>", giving a
// profile with an empty key name a new GUID key name (written back into *config). Registry
// failures are silent.
void WriteProfile(const std::string& hardware, _KSCONFIG* config);

}  // namespace ks
