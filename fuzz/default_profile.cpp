// Default profile filling on arbitrary text and root; the first input byte picks the code page,
// the root runs to the first newline. The text is also tried as a gamma format and, when our
// formatter accepts it, compared with printf's result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "calibration/pure/integer_format.h"
#include "calibration/pure/profile_text.h"

namespace {

bool DoubleByteLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

void Check(bool condition) {
    if (!condition) std::abort();
}

// An accepted format has one conversion; its "l" means a 32-bit long, as on Windows, so the C
// library here (where long is 64 bits) gets the format without it and the same int.
std::string AsPlainInt(std::string format) {
    std::size_t pos = 0;
    while (format[pos] != '%' || format[pos + 1] == '%') pos += format[pos] == '%' ? 2 : 1;
    const std::size_t modifier = format.find_first_not_of("-+ #0123456789.", pos + 1);
    if (format[modifier] == 'l') format.erase(modifier, 1);
    return format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const ks::LeadBytePredicate isLead = (data[0] & 1) ? DoubleByteLead : nullptr;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t newline = input.find('\n');
    const std::string_view root = newline == std::string_view::npos ? std::string_view() : input.substr(0, newline);
    const std::string_view text = newline == std::string_view::npos ? input : input.substr(newline + 1);

    // What the filled text holds is pinned by the native table; here only the sanitizers watch.
    (void)ks::FillDefaultProfile(text, root, isLead);

    if (text.find('\0') == std::string_view::npos) {
        const int value = static_cast<int>(data[0]) - 128;
        if (const auto formatted = ks::FormatInteger(text, value)) {
            const std::string format = AsPlainInt(std::string(text));
            char expected[1024];
            std::snprintf(expected, sizeof expected, format.c_str(), value);
            Check(*formatted == expected);
        }
    }
    return 0;
}
