#pragma once
// The part of a configuration object's state that belongs to the profiles: the lists its client
// loaded and the active scan profile. The object's lock guards it; loads read the registry aside
// and put their list in place in one step (scan_profiles.cpp, events.cpp, active_config.cpp).
#include "core/pure/growable_list.h"
#include "core/records.h"

namespace ks {

struct ProfileState {
    GrowableList<_KSCONFIG> configs;  // as the last load left it, plus new profiles made active
    GrowableList<_KSEVENT> events;
    LONG activeIndex = -1;             // into `configs`; -1 for none
    _KSCONFIG* activeCopy = nullptr;   // CoTaskMem block handed to the client; never freed at teardown
};

}  // namespace ks
