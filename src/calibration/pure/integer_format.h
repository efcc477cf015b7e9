#pragma once
// Formatting one integer with a printf-style format that comes from a file. The format is
// checked and applied by our own code; it never reaches printf.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "calibration/pure/profile_text.h"

namespace ks {

// Limits on what a file's format may ask for; anything beyond is refused, not clamped.
inline constexpr std::size_t kMaxFormatLength = 256;  // bytes of the whole format
inline constexpr std::size_t kMaxFormatField = 64;    // width and precision, each

// Formats `value` as printf would with `format` and that one int argument. Accepted: literal
// text (double-byte characters copied whole), any number of "%%", and exactly one conversion
// %d %i %u %x %X %o with flags from "-+ #0", an optional width and an optional "." precision.
// Refused (empty optional): no conversion or a second one, "*", "%n", any other conversion,
// length modifiers (h, l, ll, ...: the argument is a plain int), a "%" at the very end, and
// formats or fields beyond the limits above.
std::optional<std::string> FormatInteger(std::string_view format, int value, LeadBytePredicate isLead = nullptr);

}  // namespace ks
