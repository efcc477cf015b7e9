#pragma once
// Text output shared by the commands.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pure/names.h"

namespace ksconfig {

// "1 event", "2 events".
inline std::string Count(long n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "0x00000005 KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF".
inline std::string FlagsText(std::uint32_t value, const std::vector<EnumMember>& table) {
    return Hex32(value) + " " + JoinNames(DecodeBits(value, table));
}

// One "label           value" line of a record.
inline void PrintField(const char* label, const std::string& value) {
    std::printf("%-15s %s\n", label, value.c_str());
}

// Rows of cells, indented by two, each column but the last padded to its widest cell.
inline void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line = " ";
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += ' ';
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 1, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

// kOk when the scanner has a device key; else reports it (Fail) and gives kNotFound.
int RequireDevice(const std::string& hardware);

// Reports (Fail) a record that is not there, `where` added to the message, with a hint: the key
// whose display name was given, or the key names there are. Gives kNotFound.
int RecordNotFound(const std::string& hardware, bool event, const std::string& keyName, const std::string& where = {});

}  // namespace ksconfig
