#pragma once
// The fields of the interface's records as ksconfig shows, sets and checks them. One table per
// record gives each field's key (the name --json prints and set-profile / set-event take, nested
// members joined with "."), the registry value the store keeps it in and how it reads it.
#include <windows.h>

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "pure/names.h"

namespace ksconfig {

struct FieldDef {
    enum class Kind { Guid, KeyName, Text, Long, ULong, Bits };
    const char* key;
    const char* value;  // the registry value; null when the store keeps none
    Kind kind;
    std::size_t offset;  // in the record
    std::size_t size;    // in the record; a text's array with its NUL
    const std::vector<EnumMember>* names = nullptr;  // Bits: the enumeration
};

const std::vector<FieldDef>& ProfileFields();  // _KSCONFIG, in the order the store reads them
const std::vector<FieldDef>& EventFields();    // _KSEVENT
// The device key's own values: current gamma and the copy-to-folder settings.
const std::vector<FieldDef>& DeviceFields();

// One field's value as people read it: a quoted text, a number, flags with their names.
std::string FieldText(const void* record, const FieldDef& field);
std::string FieldJson(const void* record, const FieldDef& field);

// The record as one JSON object, and as "key   value" lines for people.
std::string RecordJson(const void* record, const std::vector<FieldDef>& table);
void PrintRecord(const void* record, const std::vector<FieldDef>& table);

// Applies "field=value" settings to a record, each checked against its field's type and range
// first (and, unless `force`, against its enumeration's members): on any refusal the record is
// left as it was and `errors` says why, one line a setting. Fields are found by FindField(); the
// keys of those found go to `named`.
bool ApplySettings(void* record, const std::vector<FieldDef>& table, const std::vector<std::string>& settings,
                   bool force, std::vector<std::string>& errors, std::set<std::string>& named);

// Reads a record from its open key as the store reads one (texts of a string type that fit,
// numbers of up to 4 bytes whatever their type): for records the store's own lists leave out.
void ReadRecord(HKEY key, const std::string& keyName, void* record, const std::vector<FieldDef>& table);

// What is wrong with a stored value for the field the store reads it into, or nothing: a type
// other than the one the store writes, a size it cannot read, a text it reads as empty.
std::optional<std::string> ValueProblem(const FieldDef& field, DWORD type, const std::vector<BYTE>& data);

}  // namespace ksconfig
