#include "calibration/pure/scan_number.h"

#include <climits>

namespace ks {
namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::size_t SkipSpace(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsCSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

}  // namespace

std::optional<std::uint32_t> ScanHex(std::string_view text, std::size_t width, std::size_t* used) {
    std::size_t pos = SkipSpace(text);
    std::size_t left = width;
    bool negative = false;
    bool converted = false;  // a digit (the "0" of a prefix included) has been read
    if (left > 0 && pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
        --left;
    }
    if (left > 0 && pos < text.size() && text[pos] == '0') {
        converted = true;
        ++pos;
        --left;
        // The "x" is taken even when no hex digit follows it (then the number is 0).
        if (left > 0 && pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
            ++pos;
            --left;
        }
    }
    std::uint32_t number = 0;
    for (; left > 0 && pos < text.size() && HexDigit(text[pos]) >= 0; ++pos, --left) {
        number = number * 16u + static_cast<std::uint32_t>(HexDigit(text[pos]));
        converted = true;
    }
    if (used != nullptr) {
        *used = converted ? pos : 0;
    }
    if (!converted) {
        return std::nullopt;
    }
    return negative ? 0u - number : number;
}

std::optional<ScannedInt> ScanDecimal(std::string_view text) {
    std::size_t pos = SkipSpace(text);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t digitsStart = pos;
    // Magnitude capped just above what an int can hold, so it never overflows.
    const long long cap = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > cap) {
            magnitude = cap;
        }
    }
    if (pos == digitsStart) {
        return std::nullopt;
    }
    long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) value = INT_MAX;
    return ScannedInt{static_cast<int>(value), pos};
}

}  // namespace ks
