#include "core/pure/profiles_file.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ks {

namespace {

bool LeavesFolder(std::string_view name, LeadBytePredicate isLead) {
    if (name == "." || name == "..") return true;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (isLead != nullptr && isLead(byte)) {
            ++i;  // its trail byte may look like a backslash
            continue;
        }
        if (byte == '\\' || byte == '/' || byte == ':') return true;
    }
    return false;
}

// The platform maps these names to devices in every folder, whatever follows the first dot, and
// ignores trailing spaces before it. COM and LPT count with a digit or a superscript 1, 2 or 3 of
// the Western code page.
bool IsDeviceName(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    base.erase(base.find_last_not_of(' ') + 1);
    std::transform(base.begin(), base.end(), base.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    static constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) return true;
    if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
    const auto last = static_cast<unsigned char>(base[3]);
    return std::isdigit(last) || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

}  // namespace

std::optional<std::string> ProfilesFilePath(std::string_view installFolder, std::string_view hardwareName,
                                            std::string_view extension, LeadBytePredicate isLead) {
    if (LeavesFolder(hardwareName, isLead) || IsDeviceName(hardwareName)) return std::nullopt;
    std::string path;
    path.append(installFolder).append("\\Profiles\\").append(hardwareName).append(extension);
    return path;
}

}  // namespace ks
