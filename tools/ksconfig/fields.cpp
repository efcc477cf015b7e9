#include "ksconfig.h"

#include <cstdlib>
#include <cstring>

#include "calibration/calibration.h"

namespace ksconfig {
namespace {

using Kind = ks::Field::Kind;

const char* At(const void* record, const ks::Field& f) { return static_cast<const char*>(record) + f.offset; }

std::uint32_t Number(const char* bytes) {
    std::uint32_t n = 0;
    std::memcpy(&n, bytes, sizeof(n));
    return n;
}

}  // namespace

const ks::Field& FieldNamed(Fields table, std::string_view display) {
    for (const ks::Field& f : table) {
        if (display == f.display) return f;
    }
    std::abort();  // a name of this file's own, never one people gave
}

std::string FieldText(const char* bytes, const ks::Field& f) {
    GUID guid;
    switch (f.kind) {
        case Kind::KeyName:
        case Kind::Text: return Quoted(ks::FieldText(bytes, f.size));
        case Kind::Bits: return FlagsText(Number(bytes), f.names);
        case Kind::Long: return std::to_string(static_cast<std::int32_t>(Number(bytes)));
        case Kind::ULong: return std::to_string(Number(bytes));
        case Kind::Guid: break;
    }
    std::memcpy(&guid, bytes, sizeof(guid));
    return ks::GuidText(guid);
}

std::string FieldJson(const char* bytes, const ks::Field& f) {
    switch (f.kind) {
        case Kind::Guid: return json::Str(FieldText(bytes, f));
        case Kind::KeyName:
        case Kind::Text: return JsonText(ks::FieldText(bytes, f.size));
        case Kind::Long: return json::Num(static_cast<std::int32_t>(Number(bytes)));
        default: return json::Num(Number(bytes));
    }
}

std::string RecordJson(const void* record, Fields table) {
    json::Members members;
    for (const ks::Field& f : table) {
        members.push_back({f.display, FieldJson(At(record, f), f)});
        // A field's bits by their names too: "flagNames", "dataTypeNames".
        const std::string names = (f.display == std::string_view("flags") ? "flag" : std::string(f.display)) + "Names";
        if (f.kind == Kind::Bits) members.push_back({names, json::StrArr(DecodeBits(Number(At(record, f)), f.names))});
    }
    return json::Obj(members);
}

void PrintRecord(const void* record, Fields table) {
    for (const ks::Field& f : table) std::printf("%-19s %s\n", f.display, FieldText(At(record, f), f).c_str());
}

bool ApplySettings(void* record, Fields table, const std::vector<std::string>& settings, bool force,
                   std::vector<std::string>& errors, std::set<const ks::Field*>& named) {
    std::vector<FieldName> names;
    for (const ks::Field& f : table) names.push_back({f.display, f.value != nullptr ? f.value : ""});
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        std::string why;
        const std::optional<std::size_t> found = FindField(names, setting.substr(0, equals), why);
        const ks::Field* field = found ? &table[*found] : nullptr;
        if (field != nullptr) named.insert(field);
        const std::string text = equals == std::string::npos ? "" : setting.substr(equals + 1);
        char* at = field != nullptr ? static_cast<char*>(record) + field->offset : nullptr;
        std::optional<std::uint32_t> n;
        if (equals == std::string::npos) {
            errors.push_back("\"" + setting + "\" is not <field>=<value>");
        } else if (field == nullptr) {
            errors.push_back(why);
        } else if (field->rule == ks::ReadRule::None) {
            errors.push_back(std::string(field->display) + " is not kept by the store, so it cannot be set");
        } else if (field->kind == Kind::Text && text.size() >= field->size) {
            errors.push_back(std::string(field->display) + ": " + std::to_string(text.size()) +
                             " characters do not fit; at most " + std::to_string(field->size - 1));
        } else if (field->kind == Kind::Text) {
            ks::CopyToField(at, field->size, text);
        } else if (!(n = ParseNumber(text, field->kind == Kind::Long, field->names, why))) {
            errors.push_back(std::string(field->display) + ": " + why);
        } else if (const std::uint32_t undefined = field->names.empty() ? 0 : UndefinedBits(*n, field->names);
                   undefined != 0 && !force) {
            errors.push_back(std::string(field->display) + ": " + Hex32(*n) + " holds bits no member of the field's " +
                             "enumeration names (" + Hex32(undefined) + "); --force stores them all the same");
        } else {
            std::memcpy(at, &*n, sizeof(*n));
        }
    }
    return errors.empty();
}

void ReadRecord(HKEY key, const std::string& keyName, void* record, Fields table) {
    const ks::Field& name = FieldNamed(table, "keyName");
    ks::CopyToField(static_cast<char*>(record) + name.offset, name.size, keyName);
    ks::ReadFields(key, table, record);
}

std::optional<LONG> TableNumber(const std::string& valueName) {
    const std::size_t prefix = std::strlen(ks::kGammaTablePrefix);
    const LONG n = std::strtol(valueName.c_str() + std::min(prefix, valueName.size()), nullptr, 10);
    return ks::TableName(n) == valueName ? std::optional<LONG>(n) : std::nullopt;
}

}  // namespace ksconfig
