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
// %d %i %u %x %X %o with flags from "-+ #0", an optional width, an optional "." precision and
// a C length modifier under which the argument is still one 32-bit int on the target: "h" and
// "hh" (the value is narrowed as printf does), "l" (long is 32 bits on Windows), and "z" and "t"
// on the 32-bit build only. Refused (empty optional): no conversion or a second one, "*", "%n",
// any other conversion, modifiers of a 64-bit argument ("ll", "j", "z" and "t" on the 64-bit
// build) and all others ("L", Microsoft's "I", "I32", "I64"), a "%" at the very end, and
// formats or fields beyond the limits above.
std::optional<std::string> FormatInteger(std::string_view format, int value, LeadBytePredicate isLead = nullptr);

}  // namespace ks
