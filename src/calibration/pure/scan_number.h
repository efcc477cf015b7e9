#pragma once
// Numbers read from profile text the way the C library's scanf conversions read them, so that
// text from a file is never handed to scanf itself.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ks {

// "%<width>X" (width 1..8): optional leading white space (C locale, not counted in the width),
// then within the width an optional sign, an optional "0x"/"0X" after a leading "0", and hex
// digits. A "-" negates modulo 2^32. Empty optional when nothing converts (no digit at all: the
// caller's number keeps its value); a "0x" without digits after it still converts as 0.
// `*used` (when given) receives the characters consumed, leading white space included.
std::optional<std::uint32_t> ScanHex(std::string_view text, std::size_t width, std::size_t* used = nullptr);

struct ScannedInt {
    int value;
    std::size_t used;  // characters consumed, leading white space included
};

// "%d" without a width: optional leading white space, an optional sign, decimal digits. Empty
// optional when there is no digit. Out-of-range numbers saturate at INT_MIN / INT_MAX (the C
// library leaves overflow undefined; saturating keeps the result sane).
std::optional<ScannedInt> ScanDecimal(std::string_view text);

}  // namespace ks
