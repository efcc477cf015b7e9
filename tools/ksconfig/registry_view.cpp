#include "registry_view.h"

#include <algorithm>
#include <cctype>

namespace ksconfig {

namespace {
constexpr DWORD kShownTextLimit = 1024;
}  // namespace

ks::UniqueHKey OpenRead(const std::string& path) { return ks::OpenKey(HKEY_CURRENT_USER, path, ks::kReadAccess); }

bool KeyExists(const std::string& path) { return static_cast<bool>(OpenRead(path)); }

bool NameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

std::vector<std::string> SortedSubkeyNames(HKEY key) {
    std::vector<std::string> names = ks::SubkeyNames<char>(key);
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

std::vector<RegValue> SortedValues(HKEY key) {
    std::vector<RegValue> values = ks::Values(key);
    std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) { return NameLess(a.name, b.name); });
    return values;
}

std::optional<std::string> ReadText(HKEY key, const char* name) { return ks::ReadString(key, name, kShownTextLimit); }

bool IsEngineKey(HKEY key) {
    std::optional<std::string> kind = ReadText(key, nullptr);
    return kind && *kind == ks::kEngineMarker;
}

std::vector<std::string> DeviceNames() {
    std::vector<std::string> devices;
    ks::UniqueHKey root = OpenRead(kSettingsRoot);
    if (!root) return devices;
    for (const std::string& name : SortedSubkeyNames(root.get())) {
        if (ks::IsOtherComponentKey(name)) continue;
        ks::UniqueHKey sub = ks::OpenKey(root.get(), name, ks::kReadAccess);
        if (!sub || IsEngineKey(sub.get())) continue;
        devices.push_back(name);
    }
    return devices;
}

}  // namespace ksconfig
