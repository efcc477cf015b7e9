#include "names.h"

#include <bit>
#include <cstdio>

namespace ksconfig {

const std::vector<EnumMember>& ConfigFlagNames() {
    static const std::vector<EnumMember> table = {
        {"KSCNFGFLAG_UNDEF", 0x0},          {"KSCNFGFLAG_IMAGES", 0x1},       {"KSCNFGFLAG_TEXT", 0x2},
        {"KSCNFGFLAG_PDF", 0x4},            {"KSCNFGFLAG_EMAIL", 0x8},        {"KSCNFGFLAG_FAX", 0x10},
        {"KSCNFGFLAG_COPY", 0x20},          {"KSCNFGFLAG_STORE", 0x40},       {"KSCNFGFLAG_DOCS", 0x80},
        {"KSCNFGFLAG_STI", 0x100},          {"KSCNFGFLAG_ALL", 0x1FF},        {"KSCNFGFLAG_SHOWALL", 0x1000},
        {"KSCNFGFLAG_MKCOPY", 0x2000},      {"KSCNFGFLAG_SWPRGSS", 0x4000},   {"KSCNFGFLAG_SWSTATS", 0x8000},
        {"KSCNFGFLAG_BCNFG", 0xF000},       {"KSCNFGFLAG_USEADF", 0x100000},  {"KSCNFGFLAG_USEFB", 0x200000},
        {"KSCNFGFLAG_LOCK", 0x1000000},     {"KSCNFGFLAG_SAVE", 0x10000000},  {"KSCNFGFLAG_USEREDIT", 0x20000000},
        {"KSCNFGFLAG_NOCOPY", 0x2000000},   {"KSCNFGFLAG_PRELOCK", 0x4000000}, {"KSCNFGFLAG_RETRY", 0x8000000},
        {"KSCNFGFLAG_REMOVE", 0x80000000},
    };
    return table;
}

const std::vector<EnumMember>& ConfigModeNames() {
    static const std::vector<EnumMember> table = {
        {"KSCNFGMODE_BITONAL", 0x1},   {"KSCNFGMODE_GREY", 0x2},      {"KSCNFGMODE_COLOR", 0x4},
        {"KSCNFGMODE_GREY16", 0x8},    {"KSCNFGMODE_COLOR48", 0x10},  {"KSCNFGMODE_ISIS", 0x10000},
        {"KSCNFGMODE_WIA", 0x20000},   {"KSCNFGMODE_TWAIN", 0x40000}, {"KSCNFGMODE_KOFAX", 0x80000},
        {"KSCNFGMODE_AUTOSCAN", 0x100},
    };
    return table;
}

const std::vector<EnumMember>& TransferNames() {
    static const std::vector<EnumMember> table = {
        {"KSTRANSFER_UNDEF", 0x0},       {"KSTRANSFER_BMP", 0x20001},    {"KSTRANSFER_JPG", 0x20002},
        {"KSTRANSFER_TIFF", 0x30004},    {"KSTRANSFER_PDF", 0x10008},    {"KSTRANSFER_TXT", 0x10},
        {"KSTRANSFER_RTF", 0x20},        {"KSTRANSFER_DOC", 0x40},       {"KSTRANSFER_CSV", 0x80},
        {"KSTRANSFER_XLS", 0x100},       {"KSTRANSFER_HTML", 0x200},     {"KSTRANSFER_SPDF", 0x400},
        {"KSTRANSFER_IPDF", 0x800},      {"KSTRANSFER_MPSUPP", 0x10000}, {"KSTRANSFER_MTSUPP", 0x20000},
        {"KSTRANSFER_MPAGE", 0x100000},  {"KSTRANSFER_MTASK", 0x200000}, {"KSTRANSFER_OCR", 0x400000},
    };
    return table;
}

const std::vector<EnumMember>& CopyFlagNames() {
    static const std::vector<EnumMember> table = {
        {"KSCPYFLAG_BYWEEK", 1}, {"KSCPYFLAG_BYMONTH", 2}, {"KSCPYFLAG_BYBUTTON", 4}, {"KSCPYFLAG_BYTYPE", 8},
    };
    return table;
}

std::vector<std::string> DecodeBits(std::uint32_t value, const std::vector<EnumMember>& table) {
    std::vector<std::string> names;
    if (value == 0) {
        for (const EnumMember& m : table) {
            if (m.value == 0) return {std::string(m.name)};
        }
        return {"0"};
    }
    // Widest members first decide what is covered; the names then come out in table order.
    std::vector<bool> chosen(table.size(), false);
    std::uint32_t covered = 0;
    for (int width = 32; width >= 1; --width) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            std::uint32_t m = table[i].value;
            if (m == 0 || std::popcount(m) != width) continue;
            if ((value & m) == m && (m & ~covered) != 0) {
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

std::uint32_t UndefinedBits(std::uint32_t value, const std::vector<EnumMember>& table) {
    for (const EnumMember& m : table) value &= ~m.value;
    return value;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty()) out += '|';
        out += n;
    }
    return out;
}

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", static_cast<unsigned>(value));
    return text;
}

std::optional<std::uint32_t> ProfileTypeFilter(std::string_view word) {
    static const struct {
        std::string_view word;
        std::uint32_t bits;
    } kTypes[] = {{"images", 0x1}, {"text", 0x2},   {"pdf", 0x4},  {"email", 0x8}, {"fax", 0x10},
                  {"copy", 0x20},  {"store", 0x40}, {"docs", 0x80}, {"sti", 0x100}, {"all", 0x1FF}};
    for (const auto& t : kTypes) {
        if (t.word == word) return t.bits;
    }
    return std::nullopt;
}

}  // namespace ksconfig
