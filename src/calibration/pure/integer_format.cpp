#include "calibration/pure/integer_format.h"

#include <cstdint>
#include <string_view>

#include "calibration/pure/ansi_search.h"

namespace ks {
namespace {

// How the int argument is narrowed before it is printed ("h", "hh").
enum class Narrowing { None, Short, Char };

struct Conversion {
    bool leftAlign = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zeroPad = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    Narrowing narrowing = Narrowing::None;
    char type = 0;
};

// Reads the C length modifier at `pos`, if any; false for one whose argument is not a 32-bit
// int on this build. "l" is one everywhere (long is 32 bits on every Windows target); "z" and "t"
// only where size_t and ptrdiff_t are (the 32-bit build). "ll", "j", "L" and the Microsoft-only
// "I", "I32" and "I64" are refused.
bool ReadLengthModifier(std::string_view format, std::size_t& pos, Narrowing& narrowing) {
    if (pos >= format.size()) {
        return true;
    }
    switch (format[pos]) {
        case 'h':
            ++pos;
            narrowing = Narrowing::Short;
            if (pos < format.size() && format[pos] == 'h') {
                ++pos;
                narrowing = Narrowing::Char;
            }
            return true;
        case 'l':
            ++pos;
            return pos >= format.size() || format[pos] != 'l';
        case 'z':
            ++pos;
            return sizeof(std::size_t) == sizeof(std::uint32_t);
        case 't':
            ++pos;
            return sizeof(std::ptrdiff_t) == sizeof(std::int32_t);
        default:
            return true;
    }
}

// Reads decimal digits starting at `pos`; false when the number exceeds kMaxFormatField.
bool ReadField(std::string_view format, std::size_t& pos, std::size_t& field) {
    field = 0;
    for (; pos < format.size() && format[pos] >= '0' && format[pos] <= '9'; ++pos) {
        field = field * 10 + static_cast<std::size_t>(format[pos] - '0');
        if (field > kMaxFormatField) {
            return false;
        }
    }
    return true;
}

// Parses the conversion whose "%" is at `pos` (not "%%"); on success `pos` is past it.
std::optional<Conversion> ParseConversion(std::string_view format, std::size_t& pos) {
    Conversion conv;
    ++pos;
    for (; pos < format.size(); ++pos) {
        const char c = format[pos];
        if (c == '-') conv.leftAlign = true;
        else if (c == '+') conv.plus = true;
        else if (c == ' ') conv.space = true;
        else if (c == '#') conv.alternate = true;
        else if (c == '0') conv.zeroPad = true;
        else break;
    }
    if (!ReadField(format, pos, conv.width)) {
        return std::nullopt;
    }
    if (pos < format.size() && format[pos] == '.') {
        ++pos;
        std::size_t precision = 0;
        if (!ReadField(format, pos, precision)) {
            return std::nullopt;
        }
        conv.precision = precision;
    }
    if (!ReadLengthModifier(format, pos, conv.narrowing) || pos >= format.size()) {
        return std::nullopt;
    }
    switch (format[pos]) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
            conv.type = format[pos];
            ++pos;
            return conv;
        default:  // "*", "n", "s", a second length modifier, anything else
            return std::nullopt;
    }
}

std::string Digits(std::uint32_t magnitude, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    while (magnitude != 0) {
        out.insert(out.begin(), digits[magnitude % base]);
        magnitude /= base;
    }
    return out;
}

// The argument as printf sees it after "h" or "hh": converted to (unsigned) short or char.
int Narrow(int value, Narrowing narrowing, bool isSigned) {
    switch (narrowing) {
        case Narrowing::Short:
            return isSigned ? static_cast<short>(value) : static_cast<unsigned short>(value);
        case Narrowing::Char:
            return isSigned ? static_cast<signed char>(value) : static_cast<unsigned char>(value);
        case Narrowing::None:
            break;
    }
    return value;
}

std::string Apply(const Conversion& conv, int argument) {
    const bool isSigned = conv.type == 'd' || conv.type == 'i';
    const int value = Narrow(argument, conv.narrowing, isSigned);
    std::string sign;
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    if (isSigned) {
        if (value < 0) {
            sign = "-";
            magnitude = 0u - magnitude;
        } else if (conv.plus) {
            sign = "+";
        } else if (conv.space) {
            sign = " ";
        }
    }
    const unsigned base = conv.type == 'o' ? 8 : (conv.type == 'x' || conv.type == 'X') ? 16 : 10;
    std::string digits = Digits(magnitude, base, conv.type == 'X');
    const std::size_t precision = conv.precision.value_or(1);
    if (digits.size() < precision) {
        digits.insert(0, precision - digits.size(), '0');
    }
    std::string prefix = sign;
    if (conv.alternate) {
        if (conv.type == 'o' && (digits.empty() || digits[0] != '0')) {
            digits.insert(digits.begin(), '0');
        } else if ((conv.type == 'x' || conv.type == 'X') && magnitude != 0) {
            prefix += conv.type == 'x' ? "0x" : "0X";
        }
    }
    const std::size_t length = prefix.size() + digits.size();
    if (length >= conv.width) {
        return prefix + digits;
    }
    const std::size_t padding = conv.width - length;
    if (conv.leftAlign) {
        return prefix + digits + std::string(padding, ' ');
    }
    if (conv.zeroPad && !conv.precision) {
        return prefix + std::string(padding, '0') + digits;
    }
    return std::string(padding, ' ') + prefix + digits;
}

}  // namespace

std::optional<std::string> FormatInteger(std::string_view format, int value, LeadBytePredicate isLead) {
    if (format.size() > kMaxFormatLength) {
        return std::nullopt;
    }
    std::string out;
    bool converted = false;
    std::size_t pos = 0;
    while (pos < format.size()) {
        if (format[pos] != '%') {
            const std::size_t next = NextCharPos(format, pos, isLead);
            out.append(format.substr(pos, next - pos));
            pos = next;
        } else if (pos + 1 < format.size() && format[pos + 1] == '%') {
            out.push_back('%');
            pos += 2;
        } else {
            const auto conv = ParseConversion(format, pos);
            if (!conv || converted) {
                return std::nullopt;
            }
            converted = true;
            out += Apply(*conv, value);
        }
    }
    if (!converted) {
        return std::nullopt;
    }
    return out;
}

}  // namespace ks
