#include "profiles/pure/new_profile.h"

#include <climits>

namespace ks {

std::string FreeNameCandidate(std::string_view base, const std::function<bool(const std::string&)>& taken) {
    std::string candidate = "*" + std::string(base) + "*";
    // Every clash moves on to the next number; the list is finite, so this ends.
    for (long long n = 0; taken(candidate); ++n) {
        candidate = "*" + std::string(base) + std::to_string(n) + "*";
    }
    return candidate;
}

std::string DisplayNameOf(std::string_view candidate) {
    std::string name;
    for (char c : candidate) {
        if (c != '*') name += c;
    }
    return name;
}

std::int32_t PageThousandths(std::int32_t extent, std::int32_t resolution) {
    // The scanner component's figures are taken as a 32-bit program computes them.
    auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(extent) * 1000));
    if (resolution == 0 || (product == INT32_MIN && resolution == -1)) return 0;
    return product / resolution;
}

}  // namespace ks
