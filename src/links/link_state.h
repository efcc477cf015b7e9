#pragma once
// The part of a configuration object's state that belongs to the links: the engines the last
// category search listed and the interface profile the client named. The object's lock guards it.
#include <string>

#include "core/pure/growable_list.h"
#include "core/records.h"

namespace ks {

struct LinkState {
    GrowableList<CLSID> engines;  // replaced whole by each category search
    std::string uiProfile;        // SetUIInterfaceProfile's name, for the UIInterface... calls
};

// "<settings root>\UIInterfaceProfiles", the key below which interface profiles live.
std::string InterfaceProfilesPath();

}  // namespace ks
