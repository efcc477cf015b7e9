#include "core/pure/key_path.h"

#include <algorithm>
#include <cctype>

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

std::string UIInterfaceProfilesPath() { return JoinKey(kSettingsRoot, kUIInterfaceProfilesKey); }

bool IsOtherComponentKey(std::string_view name) {
    auto same = [name](std::string_view other) {
        return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    };
    return same(kLinkProfilesKey) || same(kUIInterfaceProfilesKey) || same(kTextRecognitionKey);
}

}  // namespace ks
