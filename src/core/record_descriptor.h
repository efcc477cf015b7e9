#pragma once
// Each stored record described once: per field its registry value, type, read rule, size, range,
// display name and enumeration names. The store's loads and stores go through these tables, and a
// tool that shows, sets or checks a record reads the same tables and the same reader, so it cannot
// describe the store otherwise than the store behaves.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/pure/enum_name.h"
#include "core/records.h"
#include "core/registry_io.h"

namespace ks {

// How the store reads a value into a field (the rules are those of core/registry_io.h).
enum class ReadRule {
    None,     // not stored: the record's GUID and key name, the link signature
    String,   // ReadString: REG_SZ or REG_EXPAND_SZ fitting the field with its terminator
    AnyText,  // ReadAnyText: any type fitting the field, cut at its first NUL
    Number,   // ReadNumber: up to 4 bytes of any type
    Dword,    // ReadDword: a REG_DWORD only
};

struct Field {
    // Guid and KeyName are not stored as values; Long is signed 32-bit, ULong and Bits unsigned
    // (Bits with the enumeration's names), Text an 8-bit text of at most size - 1 characters.
    enum class Kind { Guid, KeyName, Text, Long, ULong, Bits };
    const char* display;   // the name people and scripts use: "xResolution", "toneMap.hue"
    const char* value;     // the registry value; null when the store keeps none
    Kind kind;
    ReadRule rule;
    std::size_t offset;    // in the record
    std::size_t size;      // in the record; a text's array with its NUL, which is also its read limit
    std::span<const EnumName> names = {};  // Bits: the enumeration, in type-library order
};

// _KSCONFIG: its GUID and key name, the 33 stored values in the order the store writes and reads
// them, then the link signature, which it never stores.
std::span<const Field> ProfileFields();
// _KSEVENT: GUID and key name, then its 7 values in store order.
std::span<const Field> EventFields();

// The device key's copy-to-folder values.
struct CopySettings {
    char path[260];
    DWORD flags;  // _KSCPYFLAG bits, any of which a client or the registry may set
    LONG count;
};
enum CopyField { kCopyPathField, kCopyFlagsField, kCopyCountField };
std::span<const Field> CopySettingsFields();

// The device key's calibration number, as the table look-up reads it and as GetDefualtGamma does.
struct CalibrationSettings {
    LONG currentGamma;
};
enum CalibrationField { kCurrentGammaField, kDefaultGammaField };
std::span<const Field> CalibrationFields();

// An engine key's values: the engine's class identifier and its link cache file, each a string
// that fits.
struct EngineSettings {
    char engineClass[64];
    char linkCache[260];
};
enum EngineField { kEngineClassField, kLinkCacheField };
std::span<const Field> EngineFields();

// A driver settings key (a scanner's TwainSettings, an interface profile's key): the modes the
// interface saved (read over the caller's "never saved" marker) and the settings file.
struct DriverSettings {
    DWORD scanMode;
    DWORD deviceMode;
    char iniFile[260];
};
enum DriverField { kScanModeField, kDeviceModeField, kIniFileField };
std::span<const Field> DriverFields();

std::span<const EnumName> ConfigFlagNames();  // _KSCNFGFLAG
std::span<const EnumName> ConfigModeNames();  // _KSCNFGMODE
std::span<const EnumName> TransferNames();    // _KSTRANSFER
std::span<const EnumName> CopyFlagNames();    // _KSCPYFLAG

// Reads one field from `key` into the record at `record` by the field's rule; a value that is
// missing or that the rule refuses leaves the field as it was. Tells what was stored and what the
// rule made of it.
ValueSeen ReadField(HKEY key, const Field& field, void* record);
void ReadFields(HKEY key, std::span<const Field> fields, void* record);

// What the store reads for `field` from `key`, and why that differs from what is stored.
struct StoreReading {
    bool present = false;         // the value exists
    std::vector<char> field;      // the field's bytes as the store reads them into a zeroed record
    std::string why;              // "REG_SZ of 4 bytes where the store reads a REG_DWORD"; empty
                                  // when the store reads the value as it is stored
    bool taken = false;           // the store took the value into the field (perhaps cut); when
                                  // false it reads the field as if the value were missing
};
StoreReading WhatTheStoreReads(HKEY key, const Field& field);

// Writes one field as the store does (a text as REG_SZ with its terminator, a number as a 4-byte
// REG_DWORD); fields without a value are skipped. Returns the platform's result.
LONG WriteField(HKEY key, const Field& field, const void* record);
// Every stored field in table order; individual failures are ignored (the store saves what it can).
void WriteFields(HKEY key, std::span<const Field> fields, const void* record);

// "REG_SZ", "REG_DWORD", ... or "type <n>".
std::string TypeName(DWORD type);

}  // namespace ks
