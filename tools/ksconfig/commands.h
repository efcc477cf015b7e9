#pragma once
// The commands of ksconfig, each run with its parsed arguments; each returns an exit code. And
// the text output they share.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pure/names.h"

namespace ksconfig {

struct Arguments {
    std::vector<std::string> positional;
    std::set<std::string> flags;                 // "--json", "--force"
    std::map<std::string, std::string> options;  // "--type" -> "images"
    bool Has(const char* flag) const { return flags.count(flag) != 0; }
    std::string Option(const char* name, const std::string& fallback = {}) const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

int Scanners(const Arguments& args);
int Profiles(const Arguments& args);
int Profile(const Arguments& args);
int Events(const Arguments& args);
int Event(const Arguments& args);
int Calibration(const Arguments& args);
int CopySettings(const Arguments& args);
int DriverFiles(const Arguments& args);
int Links(const Arguments& args);
int Export(const Arguments& args);
int Import(const Arguments& args);
int BackupStatus(const Arguments& args);
int Check(const Arguments& args);
int SetProfile(const Arguments& args);
int SetEvent(const Arguments& args);
int DeleteProfile(const Arguments& args);
int DeleteEvent(const Arguments& args);
int Restore(const Arguments& args);
int Demo(const Arguments& args);

// Writes the tree at `path` (below the current user's hive) as a registry editor file.
int SaveAsRegFile(const std::string& path, const std::string& file);

// Reports a usage problem of the command being run and gives the usage exit code.
int UsageError(const std::string& problem);

// Reports (Fail) a record that is not there, `where` added to the message, with a hint: the key
// whose display name was given, or the key names there are. Gives kNotFound.
int RecordNotFound(const std::string& hardware, bool event, const std::string& keyName, const std::string& where = {});

// "1 event", "2 events".
inline std::string Count(long n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "0x00000005 KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF".
inline std::string FlagsText(std::uint32_t value, Names table) { return Hex32(value) + " " + JoinNames(DecodeBits(value, table)); }

// One "label           value" line.
inline void PrintField(const char* label, const std::string& value) { std::printf("%-15s %s\n", label, value.c_str()); }

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
            line += ' ' + row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 1, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace ksconfig
