#pragma once
// The commands of ksconfig, each run with its parsed arguments; each returns an exit code.
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ksconfig {

struct Arguments {
    std::vector<std::string> positional;
    std::set<std::string> flags;                 // "--json", "--hex"
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

// Reports a usage problem of the command being run (stderr) and gives the usage exit code.
int UsageError(const std::string& problem);

}  // namespace ksconfig
