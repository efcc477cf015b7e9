#include "calibration/pure/profile_writer.h"

#include <cstdio>

namespace ks {

namespace {

bool HasLineBreakOrNul(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

std::string HexByte(std::uint8_t b) {
    static const char kDigits[] = "0123456789abcdef";
    return {kDigits[b >> 4], kDigits[b & 0xF]};
}

}  // namespace

WrittenValue WriteValueLines(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data) {
    WrittenValue out;
    if (name.find('=') != std::string_view::npos) {
        out.refusal = "its name holds \"=\"";
        return out;
    }
    if (HasLineBreakOrNul(name)) {
        out.refusal = "its name holds a line break or NUL";
        return out;
    }
    std::string prefix = "\"" + std::string(name) + "\"=";
    switch (type) {
        case kLineTypeString: {
            if (data.empty() || data.back() != 0) {
                out.refusal = "its text is not NUL-terminated";
                return out;
            }
            std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
            if (HasLineBreakOrNul(text)) {
                out.refusal = "its text holds a line break or NUL";
                return out;
            }
            out.lines.push_back(prefix + "\"" + std::string(text) + "\"");
            return out;
        }
        case kLineTypeDword: {
            if (data.size() != 4) {
                out.refusal = "a number of " + std::to_string(data.size()) + " bytes";
                return out;
            }
            std::uint32_t v = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                              static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
            char digits[16];
            std::snprintf(digits, sizeof(digits), "%08x", static_cast<unsigned>(v));
            out.lines.push_back(prefix + "dword:" + digits);
            return out;
        }
        case kLineTypeBinary: {
            std::string line = prefix + "hex:";
            bool anyOnLine = false;
            for (std::size_t i = 0; i < data.size(); ++i) {
                std::string piece = HexByte(data[i]);
                if (i + 1 < data.size()) piece += ',';
                // Keep room for the continuation backslash.
                if (anyOnLine && line.size() + piece.size() + 1 > kValueLineWidth) {
                    out.lines.push_back(line + "\\");
                    line = "  ";
                }
                line += piece;
                anyOnLine = true;
            }
            out.lines.push_back(line);
            return out;
        }
        default:
            out.refusal = "registry type " + std::to_string(type) + " has no value line form";
            return out;
    }
}

std::optional<std::string> WriteSectionHeader(std::string_view key, std::string* refusal) {
    if (key.find(']') != std::string_view::npos) {
        if (refusal) *refusal = "its name holds \"]\"";
        return std::nullopt;
    }
    if (HasLineBreakOrNul(key)) {
        if (refusal) *refusal = "its name holds a line break or NUL";
        return std::nullopt;
    }
    return "[" + std::string(key) + "]";
}

std::size_t DeliveredSectionLength(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines) {
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;  // blank lines are not delivered
        std::size_t last = line.find_last_not_of(" \t");
        total += last - first + 1 + 1;
    }
    return total;
}

}  // namespace ks
