// Value lines and section line joining on arbitrary bytes; the number readers are checked
// against the C library's own scanf on the same text.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "calibration/pure/profile_text.h"
#include "calibration/pure/scan_number.h"

namespace {

bool DoubleByteLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckAgainstScanf(std::string_view input) {
    const std::string text(input.substr(0, input.find('\0')));
    unsigned wide = 0;
    unsigned narrow = 0;
    std::sscanf(text.c_str(), "%08X", &wide);
    std::sscanf(text.c_str(), "%02X", &narrow);
    Check(ks::ScanHex(text, 8).value_or(0) == wide);
    Check(ks::ScanHex(text, 2).value_or(0) == narrow);
    // Only numbers that fit an int: on overflow we saturate where the C library does not.
    const long long exact = std::strtoll(text.c_str(), nullptr, 10);
    if (exact >= INT_MIN && exact <= INT_MAX) {
        int number = 0;
        int used = 0;
        const bool converted = std::sscanf(text.c_str(), "%d%n", &number, &used) == 1;
        const auto scanned = ks::ScanDecimal(text);
        Check(scanned.has_value() == converted);
        Check(!converted || (scanned->value == number && scanned->used == static_cast<std::size_t>(used)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const ks::LeadBytePredicate isLead = (data[0] & 1) ? DoubleByteLead : nullptr;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    CheckAgainstScanf(input);
    (void)ks::ParseValueLine(input, isLead);  // its results' shape is pinned by the native table
    std::size_t total = 0;
    for (const auto& line : ks::JoinSectionLines(input, isLead)) {
        Check(!line.empty() && line.find('\0') == std::string::npos);
        total += line.size();
        (void)ks::ParseValueLine(line, isLead);
    }
    Check(total <= input.size());
    return 0;
}
