#include "core/pure/key_path.h"

namespace ks {

std::string JoinKey(std::string_view parent, std::string_view child) {
    std::string path;
    path.reserve(parent.size() + 1 + child.size());
    path.append(parent).append(1, '\\').append(child);
    return path;
}

std::string DeviceKeyPath(std::string_view hardwareName) {
    return JoinKey(kSettingsRoot, hardwareName);
}

}  // namespace ks
