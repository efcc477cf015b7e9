#pragma once
// Naming and page size of a profile the store makes itself (no profile active yet).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ks {

// The first free key-style candidate: "*<base>*", else "*<base><n>*" for n = 0, 1, ...
// `taken` answers whether a profile of the list already has that key name (case-sensitive).
std::string FreeNameCandidate(std::string_view base, const std::function<bool(const std::string&)>& taken);

// The display name of a candidate: the candidate with every '*' removed.
std::string DisplayNameOf(std::string_view candidate);

// extent x 1000 / resolution in signed 32-bit arithmetic: the product wraps, the quotient is
// truncated toward zero, and a zero resolution or a quotient that does not fit gives 0.
std::int32_t PageThousandths(std::int32_t extent, std::int32_t resolution);

}  // namespace ks
