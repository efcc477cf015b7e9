#include "fields.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <span>

#include "KsRegistry.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/record_descriptor.h"
#include "json.h"
#include "output.h"
#include "pure/values.h"
#include "store.h"

namespace ksconfig {
namespace {

using Kind = FieldDef::Kind;

// The registry value of a field is not named here: it comes from the store's own table (by the
// field's place in the record), so that the tool and the store never name a value differently.
#define KS_FIELD(rec, key, kind, member) \
    FieldDef { key, nullptr, kind, offsetof(rec, member), sizeof(rec::member) }
#define KS_BITS(rec, key, member, names) \
    FieldDef { key, nullptr, Kind::Bits, offsetof(rec, member), sizeof(rec::member), &names() }

std::vector<FieldDef> WithStoredNames(std::vector<FieldDef> fields, std::span<const ks::Field> stored) {
    for (FieldDef& f : fields) {
        for (const ks::Field& s : stored) {
            if (s.offset == f.offset && s.value != nullptr) f.value = s.value;
        }
    }
    return fields;
}

std::uint32_t Number(const void* record, const FieldDef& f) {
    std::uint32_t n = 0;
    std::memcpy(&n, static_cast<const char*>(record) + f.offset, sizeof(n));
    return n;
}

std::string Text(const void* record, const FieldDef& f) {
    const char* p = static_cast<const char*>(record) + f.offset;
    return std::string(p, strnlen(p, f.size));
}

// The member name of a nested key ("toneMap.hue" -> "hue") and its group ("toneMap").
std::pair<std::string, std::string> Split(const char* key) {
    const char* dot = std::strchr(key, '.');
    if (dot == nullptr) return {"", key};
    return {std::string(key, dot), dot + 1};
}

}  // namespace

std::string FieldJson(const void* record, const FieldDef& f) {
    switch (f.kind) {
        case Kind::Guid: {
            GUID g;
            std::memcpy(&g, static_cast<const char*>(record) + f.offset, sizeof(g));
            return json::Str(GuidText(g));
        }
        case Kind::KeyName:
        case Kind::Text: return json::Str(Utf8FromAnsi(Text(record, f)));
        case Kind::Long: return json::Num(static_cast<std::int32_t>(Number(record, f)));
        default: return json::Num(Number(record, f));
    }
}

const std::vector<FieldDef>& ProfileFields() {
    using R = _KSCONFIG;
    static const std::vector<FieldDef> table = WithStoredNames({
        KS_FIELD(R, "hwGuid", Kind::Guid, hwguid),
        KS_FIELD(R, "keyName", Kind::KeyName, keyname),
        KS_FIELD(R, "name", Kind::Text, name),
        KS_BITS(R, "flags", flags, ConfigFlagNames),
        KS_BITS(R, "dataType", DataType, ConfigModeNames),
        KS_FIELD(R, "pixelBits", Kind::Long, PixelBits),
        KS_FIELD(R, "intensity", Kind::Long, Intensity),
        KS_FIELD(R, "contrast", Kind::Long, Contrast),
        KS_FIELD(R, "xResolution", Kind::Long, Xresolution),
        KS_FIELD(R, "yResolution", Kind::Long, Yresolution),
        KS_FIELD(R, "pageWidth", Kind::Long, PageWidth),
        KS_FIELD(R, "pageHeight", Kind::Long, PageHeight),
        KS_FIELD(R, "scanHardware", Kind::Long, ScanHardware),
        KS_FIELD(R, "duplex", Kind::Long, Duplex),
        KS_FIELD(R, "colorDropOut", Kind::Long, ColorDropOut),
        KS_FIELD(R, "negative", Kind::Long, Negative),
        KS_FIELD(R, "mirror", Kind::Long, Mirror),
        KS_FIELD(R, "crop", Kind::Long, Crop),
        KS_FIELD(R, "deskew", Kind::Long, Deskew),
        KS_FIELD(R, "moire", Kind::Long, Moire),
        KS_FIELD(R, "autorotate90", Kind::Long, Autorotate90),
        KS_FIELD(R, "useToneMap", Kind::Long, UseToneMap),
        KS_FIELD(R, "toneMap.saturation", Kind::Long, ToneMap.Saturation),
        KS_FIELD(R, "toneMap.sharpen", Kind::Long, ToneMap.Sharpen),
        KS_FIELD(R, "toneMap.hue", Kind::Long, ToneMap.Hue),
        KS_FIELD(R, "toneMap.redGamma", Kind::Long, ToneMap.RedGamma),
        KS_FIELD(R, "toneMap.greenGamma", Kind::Long, ToneMap.GreenGamma),
        KS_FIELD(R, "toneMap.blueGamma", Kind::Long, ToneMap.BlueGamma),
        KS_FIELD(R, "toneMap.greyGamma", Kind::Long, ToneMap.GreyGamma),
        KS_FIELD(R, "showProgress", Kind::Long, ShowProgress),
        // The switches and their texts cross over: "LinkConfig" holds the switch, "LinkInfo" the text.
        KS_FIELD(R, "hasLinkConfig", Kind::Long, HasLinkConfig),
        KS_FIELD(R, "linkConfig", Kind::Text, LinkConfig),
        KS_FIELD(R, "linkSignature", Kind::Text, LinkSignature),
        KS_FIELD(R, "hasUiConfig", Kind::Long, HasUIConfig),
        KS_FIELD(R, "uiConfig", Kind::Text, UIConfig),
        KS_FIELD(R, "vrsConfig", Kind::Text, VRSConfig),
    }, ks::ProfileFields());
    return table;
}

const std::vector<FieldDef>& EventFields() {
    using R = _KSEVENT;
    static const std::vector<FieldDef> table = WithStoredNames({
        KS_FIELD(R, "hwGuid", Kind::Guid, hwguid),
        KS_FIELD(R, "keyName", Kind::KeyName, keyname),
        KS_FIELD(R, "name", Kind::Text, name),
        KS_BITS(R, "flags", flags, ConfigFlagNames),
        KS_FIELD(R, "config", Kind::Text, config),
        KS_FIELD(R, "link", Kind::Text, Link),
        KS_BITS(R, "transfer", transfer, TransferNames),
        KS_FIELD(R, "jpgQuality", Kind::ULong, JPGQuality),
        KS_FIELD(R, "pdfQuality", Kind::ULong, PDFQuality),
    }, ks::EventFields());
    return table;
}

const std::vector<FieldDef>& DeviceFields() {
    static const std::vector<FieldDef> table = {
        {"currentGamma", ks::kCurrentGammaValue, Kind::Long, 0, 4},
        {"copyPath", ks::kCopyPathValue, Kind::Text, 0, MAX_PATH},
        {"copyFlags", ks::kCopyFlagsValue, Kind::Bits, 0, 4, &CopyFlagNames()},
        {"copyCount", ks::kCopyCountValue, Kind::Long, 0, 4},
    };
    return table;
}

std::string RecordJson(const void* record, const std::vector<FieldDef>& table) {
    json::Members members;
    std::map<std::string, json::Members> groups;
    for (const FieldDef& f : table) {
        auto [group, name] = Split(f.key);
        json::Members& into = group.empty() ? members : groups[group];
        if (!group.empty() && into.empty()) members.push_back({group, ""});  // placed where its first member is
        into.push_back({name, FieldJson(record, f)});
        if (f.kind == Kind::Bits) {
            into.push_back({(name == "flags" ? std::string("flag") : name) + "Names",
                            json::StrArr(DecodeBits(Number(record, f), *f.names))});
        }
    }
    for (auto& [name, value] : members) {
        if (value.empty()) value = json::Obj(groups[name]);
    }
    return json::Obj(members);
}

std::string FieldText(const void* record, const FieldDef& f) {
    switch (f.kind) {
        case Kind::KeyName:
        case Kind::Text: return Quoted(Text(record, f));
        case Kind::Bits: return FlagsText(Number(record, f), *f.names);
        case Kind::Long: return std::to_string(static_cast<std::int32_t>(Number(record, f)));
        case Kind::ULong: return std::to_string(Number(record, f));
        case Kind::Guid: break;
    }
    GUID g;
    std::memcpy(&g, static_cast<const char*>(record) + f.offset, sizeof(g));
    return GuidText(g);
}

void PrintRecord(const void* record, const std::vector<FieldDef>& table) {
    for (const FieldDef& f : table) std::printf("%-19s %s\n", f.key, FieldText(record, f).c_str());
}

bool ApplySettings(void* record, const std::vector<FieldDef>& table, const std::vector<std::string>& settings,
                   bool force, std::vector<std::string>& errors, std::set<std::string>& named) {
    std::vector<FieldName> names;
    for (const FieldDef& f : table) names.push_back({f.key, f.value != nullptr ? f.value : ""});
    std::vector<std::pair<const FieldDef*, std::vector<char>>> bytes;
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        std::string why;
        std::optional<std::size_t> found = FindField(names, setting.substr(0, equals), why);
        const FieldDef* field = found ? &table[*found] : nullptr;
        if (field != nullptr) named.insert(field->key);
        const std::string text = equals == std::string::npos ? "" : setting.substr(equals + 1);
        if (equals == std::string::npos) {
            errors.push_back("\"" + setting + "\" is not <field>=<value>");
        } else if (field == nullptr) {
            errors.push_back(why);
        } else if (field->value == nullptr) {
            errors.push_back(std::string(field->key) + " is not kept by the store, so it cannot be set");
        } else if (field->kind == Kind::Text) {
            if (text.size() >= field->size) {
                errors.push_back(std::string(field->key) + ": " + std::to_string(text.size()) +
                                 " characters do not fit; at most " + std::to_string(field->size - 1));
                continue;
            }
            std::vector<char> value(field->size, '\0');
            std::memcpy(value.data(), text.data(), text.size());
            bytes.push_back({field, value});
        } else if (std::optional<std::uint32_t> n = ParseNumber(text, field->kind == Kind::Long, field->names, why)) {
            const std::uint32_t undefined = field->names != nullptr ? UndefinedBits(*n, *field->names) : 0;
            if (undefined != 0 && !force) {
                errors.push_back(std::string(field->key) + ": " + Hex32(*n) + " holds bits no member of the field's " +
                                 "enumeration names (" + Hex32(undefined) + "); --force stores them all the same");
                continue;
            }
            std::vector<char> value(4);
            std::memcpy(value.data(), &*n, 4);
            bytes.push_back({field, value});
        } else {
            errors.push_back(std::string(field->key) + ": " + why);
        }
    }
    if (!errors.empty()) return false;
    for (const auto& [field, value] : bytes) std::memcpy(static_cast<char*>(record) + field->offset, value.data(), value.size());
    return true;
}

void ReadRecord(HKEY key, const std::string& keyName, void* record, const std::vector<FieldDef>& table) {
    for (const FieldDef& f : table) {
        char* at = static_cast<char*>(record) + f.offset;
        if (f.kind == Kind::KeyName) {
            std::snprintf(at, f.size, "%s", keyName.c_str());
        } else if (f.value != nullptr && f.kind == Kind::Text) {
            if (std::optional<std::string> text = ks::ReadString(key, f.value, static_cast<DWORD>(f.size))) {
                std::snprintf(at, f.size, "%s", text->c_str());
            }
        } else if (f.value != nullptr) {
            ks::ReadNumber(key, f.value, at);
        }
    }
}

std::optional<std::string> ValueProblem(const FieldDef& f, DWORD type, const std::vector<BYTE>& data) {
    if (f.kind == Kind::Text) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) return TypeName(type) + " where the store reads text: it reads \"\"";
        if (data.size() > f.size) {
            return std::to_string(data.size()) + " bytes, more than the " + std::to_string(f.size) +
                   " the store reads: it reads \"\"";
        }
        if (data.empty() || data.back() != 0) return "text without its terminating NUL: the store reads \"\"";
        return std::nullopt;
    }
    if (type == REG_DWORD && data.size() == 4) return std::nullopt;
    if (data.size() > 4) return TypeName(type) + " of " + std::to_string(data.size()) + " bytes where the store reads a REG_DWORD: it reads 0";
    std::uint32_t n = 0;
    std::memcpy(&n, data.data(), data.size());
    return TypeName(type) + " of " + std::to_string(data.size()) + " bytes where the store reads a REG_DWORD: it reads " +
           (f.kind == Kind::Long ? std::to_string(static_cast<std::int32_t>(n)) : std::to_string(n));
}

}  // namespace ksconfig
