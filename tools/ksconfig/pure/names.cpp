#include "names.h"

#include <bit>
#include <cstdio>

namespace ksconfig {

std::vector<std::string> DecodeBits(std::uint32_t value, Names table) {
    std::vector<std::string> names;
    if (value == 0) {
        for (const ks::EnumName& m : table) {
            if (m.value == 0) return {m.name};
        }
        return {"0"};
    }
    // Widest members first decide what is covered; the names then come out in table order.
    std::vector<bool> chosen(table.size(), false);
    std::uint32_t covered = 0;
    for (int width = 32; width >= 1; --width) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const std::uint32_t m = table[i].value;
            if (m != 0 && std::popcount(m) == width && (value & m) == m && (m & ~covered) != 0) {
                chosen[i] = true;
                covered |= m;
            }
        }
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (chosen[i]) names.emplace_back(table[i].name);
    }
    if (std::uint32_t rest = value & ~covered; rest != 0) names.push_back(Hex32(rest));
    return names;
}

std::uint32_t UndefinedBits(std::uint32_t value, Names table) {
    for (const ks::EnumName& m : table) value &= ~m.value;
    return value;
}

std::string JoinNames(const std::vector<std::string>& names, const char* separator) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : separator) + n;
    return out;
}

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", static_cast<unsigned>(value));
    return text;
}

}  // namespace ksconfig
