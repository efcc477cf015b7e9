#pragma once
// Checks the stored records against the layout the store reads: what a client would be handed
// wrongly or not at all, and where the settings root and its backup disagree.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "fields.h"

namespace ksconfig {

struct Problem {
    std::string key;    // below the settings root
    std::string value;  // the value's name; empty for the key itself
    std::string text;
};

// The problems of one scanner's settings, as "check <hardware>" lists them: device values,
// profiles, events, calibration tables, registry links, and differences from the backup.
std::vector<Problem> CheckScanner(const std::string& hardware);

// Values of an open key that the store would read wrongly, for the fields of `table`.
void CheckValues(HKEY key, const std::string& path, const std::vector<FieldDef>& table, std::vector<Problem>& out);

// The values of an open profile or event key (`event`), and whether the store lists the profile.
void CheckRecordKey(HKEY key, const std::string& path, bool event, std::vector<Problem>& out);

// What check says of a value `name` (its type and ANSI bytes) at `path` below HKEY_CURRENT_USER,
// a record's key in the settings root or the backup tree; empty for nothing, or for other keys.
std::optional<std::string> StoredValueProblem(const std::string& path, const std::string& name, DWORD type,
                                              const std::vector<BYTE>& data);

// "Dev\ScanProfiles\P1 "Xresolution": <text>".
std::string ProblemLine(const Problem& p);
std::string ProblemsJson(const std::vector<Problem>& problems);

}  // namespace ksconfig
