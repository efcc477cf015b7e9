#pragma once
// The stored records as ksconfig shows, sets and checks them, all from the store's record
// descriptor (core/record_descriptor.h): field names, kinds, sizes, enumeration names and the
// store's own readers, so that ksconfig cannot describe a record otherwise than the store reads it.
#include <windows.h>

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/record_descriptor.h"

namespace ksconfig {

class Store;
using Fields = std::span<const ks::Field>;

// The field of `table` whose display name is `display` (the table must have it).
const ks::Field& FieldNamed(Fields table, std::string_view display);

// One field's value as people read it (a quoted text, a number, flags with their names) and as
// JSON; `bytes` are the field's own.
std::string FieldText(const char* bytes, const ks::Field& field);
std::string FieldJson(const char* bytes, const ks::Field& field);
// The record as one JSON object, and as "field   value" lines for people.
std::string RecordJson(const void* record, Fields table);
void PrintRecord(const void* record, Fields table);

// Applies "field=value" settings to a record, each checked against its field's type and range
// first (and, unless `force`, against its enumeration's members): on any refusal the record is
// left as it was and `errors` says why, one line a setting. Fields are found by FindField(); those
// found go to `named`.
bool ApplySettings(void* record, Fields table, const std::vector<std::string>& settings, bool force,
                   std::vector<std::string>& errors, std::set<const ks::Field*>& named);

// Reads the record at an open key as the store's loads read one: for records its lists leave out.
void ReadRecord(HKEY key, const std::string& keyName, void* record, Fields table);

// The gamma number whose table a value of a device's CalibrationProfiles key is, if it is one.
std::optional<LONG> TableNumber(const std::string& valueName);

struct Problem {
    std::string key;    // below the settings root
    std::string value;  // the value's name; empty for the key itself
    std::string text;
    const ks::Field* field = nullptr;  // the field the value is read into, if any
};

// The records kept at `below` (a path below the settings root or the backup tree): a device key's
// copy-to-folder and calibration settings, a scan profile or an event; none for other keys.
std::vector<Fields> FieldsAt(const std::string& below);
// The values of an open key that the store reads other than they are stored, for the fields of
// `table`, each with what the store reads instead.
void CheckFields(HKEY key, const std::string& path, Fields table, std::vector<Problem>& out);
// A profile or event key (`event`): its values, and, when the store does not list it, why.
void CheckRecord(HKEY key, const std::string& path, bool event, bool listed, std::vector<Problem>& out);
// The problems of one scanner's settings, as "check <hardware>" lists them.
std::vector<Problem> CheckScanner(Store& store, const std::string& hardware);

// "Dev\ScanProfiles\P1 "Xresolution": <text>", and a list of problems in JSON.
std::string ProblemLine(const Problem& p);
std::string ProblemsJson(const std::vector<Problem>& problems);

}  // namespace ksconfig
