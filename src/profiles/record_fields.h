#pragma once
// Registry form of the stored records: one table per record lists each value's name, registry
// type and place in the record, and drives both reading and writing, so the two cannot drift.
#include <windows.h>
#include <mbstring.h>
#include <cstddef>
#include <span>
#include <string>

#include "core/pure/growable_list.h"
#include "core/records.h"
#include "core/registry_io.h"

namespace ks {

struct RecordField {
    const char* name;    // registry value name
    DWORD type;          // REG_SZ (text field) or REG_DWORD (4-byte number)
    std::size_t offset;  // into the record
    std::size_t size;    // of the field in bytes
};

// How a text value is taken when read.
enum class TextRule {
    // Any registry type, as long as it fits the field; the field always ends NUL-terminated.
    AnyType,
    // REG_SZ or REG_EXPAND_SZ only, fitting the field with its terminator as its last byte.
    StringOnly,
};

// The 33 values of a scan profile, in the order they are written and read.
std::span<const RecordField> ProfileFields();
// The 7 values of a button event, in the order they are written and read.
std::span<const RecordField> EventFields();

// Reads every field independently into `record`; a missing or unfitting value leaves its field
// as it was. Numbers take up to 4 bytes of any type.
void ReadFields(HKEY key, std::span<const RecordField> fields, void* record, TextRule rule);

// Writes every field in table order; individual failures are ignored (the store saves what it can).
void WriteFields(HKEY key, std::span<const RecordField> fields, const void* record);

// The text of a fixed char field: up to its first NUL, at most size - 1 characters, so a field
// that a client left unterminated never runs into the next one.
std::string FieldText(const char* field, std::size_t size);

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}

// Makes a new key name into `field`: a GUID in registry text form with its braces replaced by
// '*'. False, field untouched, when no GUID can be made.
bool MakeGuidKeyName(char* field, std::size_t size);

// Enumerates the subkeys of `key` (64-byte name buffer; the first failing index ends the walk)
// and calls `visit(subkey, name)` for each one whose name has at most `maxName` characters and
// which opens for reading and is no registry link. Longer names are skipped rather than cut, so
// a listed key name always addresses its own key.
inline constexpr DWORD kListNameBuffer = 64;
template <class Visit>
void ForEachSubkey(HKEY key, std::size_t maxName, Visit&& visit) {
    for (const std::string& name : SubkeyNames<char>(key, kListNameBuffer)) {
        if (name.size() > maxName) continue;
        UniqueHKey subkey = OpenChild(key, name, kReadAccess);
        if (!subkey) continue;
        visit(subkey.get(), name);
    }
}

// Walks the records of `list` in order until one's key name equals `wanted` ignoring case,
// multi-byte aware. The record at `out` holds the last one examined; a null name matches nothing.
// E_INVALIDARG when none matches.
template <class Record>
HRESULT FindByKeyName(const GrowableList<Record>& list, Record* out, const char* wanted) {
    for (LONG i = 0; list.CopyOut(i, out); ++i) {
        if (wanted != nullptr && _mbsicmp(reinterpret_cast<const unsigned char*>(out->keyname),
                                          reinterpret_cast<const unsigned char*>(wanted)) == 0) {
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

}  // namespace ks
