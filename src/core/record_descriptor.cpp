#include "core/record_descriptor.h"

#include <cstring>
#include <iterator>

#include "core/pure/key_path.h"
#include "core/text.h"

namespace ks {

namespace {

using Kind = Field::Kind;
#define KS_NAME(member) EnumName{#member, static_cast<std::uint32_t>(member)}

constexpr EnumName kConfigFlags[] = {
    KS_NAME(KSCNFGFLAG_UNDEF),   KS_NAME(KSCNFGFLAG_IMAGES),  KS_NAME(KSCNFGFLAG_TEXT),     KS_NAME(KSCNFGFLAG_PDF),
    KS_NAME(KSCNFGFLAG_EMAIL),   KS_NAME(KSCNFGFLAG_FAX),     KS_NAME(KSCNFGFLAG_COPY),     KS_NAME(KSCNFGFLAG_STORE),
    KS_NAME(KSCNFGFLAG_DOCS),    KS_NAME(KSCNFGFLAG_STI),     KS_NAME(KSCNFGFLAG_ALL),      KS_NAME(KSCNFGFLAG_SHOWALL),
    KS_NAME(KSCNFGFLAG_MKCOPY),  KS_NAME(KSCNFGFLAG_SWPRGSS), KS_NAME(KSCNFGFLAG_SWSTATS),  KS_NAME(KSCNFGFLAG_BCNFG),
    KS_NAME(KSCNFGFLAG_USEADF),  KS_NAME(KSCNFGFLAG_USEFB),   KS_NAME(KSCNFGFLAG_LOCK),     KS_NAME(KSCNFGFLAG_SAVE),
    KS_NAME(KSCNFGFLAG_USEREDIT), KS_NAME(KSCNFGFLAG_NOCOPY), KS_NAME(KSCNFGFLAG_PRELOCK),  KS_NAME(KSCNFGFLAG_RETRY),
    KS_NAME(KSCNFGFLAG_REMOVE),
};
constexpr EnumName kConfigModes[] = {
    KS_NAME(KSCNFGMODE_BITONAL), KS_NAME(KSCNFGMODE_GREY), KS_NAME(KSCNFGMODE_COLOR),  KS_NAME(KSCNFGMODE_GREY16),
    KS_NAME(KSCNFGMODE_COLOR48), KS_NAME(KSCNFGMODE_ISIS), KS_NAME(KSCNFGMODE_WIA),    KS_NAME(KSCNFGMODE_TWAIN),
    KS_NAME(KSCNFGMODE_KOFAX),   KS_NAME(KSCNFGMODE_AUTOSCAN),
};
constexpr EnumName kTransfers[] = {
    KS_NAME(KSTRANSFER_UNDEF), KS_NAME(KSTRANSFER_BMP),    KS_NAME(KSTRANSFER_JPG),    KS_NAME(KSTRANSFER_TIFF),
    KS_NAME(KSTRANSFER_PDF),   KS_NAME(KSTRANSFER_TXT),    KS_NAME(KSTRANSFER_RTF),    KS_NAME(KSTRANSFER_DOC),
    KS_NAME(KSTRANSFER_CSV),   KS_NAME(KSTRANSFER_XLS),    KS_NAME(KSTRANSFER_HTML),   KS_NAME(KSTRANSFER_SPDF),
    KS_NAME(KSTRANSFER_IPDF),  KS_NAME(KSTRANSFER_MPSUPP), KS_NAME(KSTRANSFER_MTSUPP), KS_NAME(KSTRANSFER_MPAGE),
    KS_NAME(KSTRANSFER_MTASK), KS_NAME(KSTRANSFER_OCR),
};
constexpr EnumName kCopyFlags[] = {
    KS_NAME(KSCPYFLAG_BYWEEK), KS_NAME(KSCPYFLAG_BYMONTH), KS_NAME(KSCPYFLAG_BYBUTTON), KS_NAME(KSCPYFLAG_BYTYPE),
};
#undef KS_NAME

constexpr std::size_t kToneMap = offsetof(_KSCONFIG, ToneMap);
#define KS_FIELD(rec, display, value, kind, rule, member) \
    Field { display, value, kind, rule, offsetof(rec, member), sizeof(rec::member) }
#define KS_BITS(rec, display, value, member, names) \
    Field { display, value, Kind::Bits, ReadRule::Number, offsetof(rec, member), 4, names }
#define KS_LONG(display, value, member) KS_FIELD(_KSCONFIG, display, value, Kind::Long, ReadRule::Number, member)
#define KS_TONE(display, value, member) \
    Field { display, value, Kind::Long, ReadRule::Number, kToneMap + offsetof(_KSCFGMAP, member), 4 }

// Note the cross-over: "LinkInfo"/"UIInfo" hold the texts, "LinkConfig"/"UIConfig" the switches;
// and Autorotate90 sits between PageHeight and ScanHardware. Clients and imported default
// profiles depend on these names and this order. Profile texts are read whatever their type.
const Field kProfileFields[] = {
    KS_FIELD(_KSCONFIG, "hwGuid", nullptr, Kind::Guid, ReadRule::None, hwguid),
    KS_FIELD(_KSCONFIG, "keyName", nullptr, Kind::KeyName, ReadRule::None, keyname),
    KS_FIELD(_KSCONFIG, "name", "Name", Kind::Text, ReadRule::AnyText, name),
    KS_FIELD(_KSCONFIG, "linkConfig", "LinkInfo", Kind::Text, ReadRule::AnyText, LinkConfig),
    KS_FIELD(_KSCONFIG, "uiConfig", "UIInfo", Kind::Text, ReadRule::AnyText, UIConfig),
    KS_BITS(_KSCONFIG, "flags", "Flags", flags, kConfigFlags),
    KS_BITS(_KSCONFIG, "dataType", "DataType", DataType, kConfigModes),
    KS_LONG("pixelBits", "PixelBits", PixelBits),
    KS_LONG("intensity", "Intensity", Intensity),
    KS_LONG("contrast", "Contrast", Contrast),
    KS_LONG("xResolution", "Xresolution", Xresolution),
    KS_LONG("yResolution", "Yresolution", Yresolution),
    KS_LONG("pageWidth", "PageWidth", PageWidth),
    KS_LONG("pageHeight", "PageHeight", PageHeight),
    KS_LONG("autorotate90", "Autorotate90", Autorotate90),
    KS_LONG("scanHardware", "ScanHardware", ScanHardware),
    KS_LONG("duplex", "Duplex", Duplex),
    KS_LONG("colorDropOut", "ColorDropOut", ColorDropOut),
    KS_LONG("negative", "Negative", Negative),
    KS_LONG("mirror", "Mirror", Mirror),
    KS_LONG("crop", "Crop", Crop),
    KS_LONG("deskew", "Deskew", Deskew),
    KS_LONG("moire", "Moire", Moire),
    KS_LONG("showProgress", "ShowProgress", ShowProgress),
    KS_LONG("hasLinkConfig", "LinkConfig", HasLinkConfig),
    KS_LONG("hasUiConfig", "UIConfig", HasUIConfig),
    KS_LONG("useToneMap", "UseToneMap", UseToneMap),
    KS_TONE("toneMap.saturation", "TMap Saturation", Saturation),
    KS_TONE("toneMap.sharpen", "TMap Sharpen", Sharpen),
    KS_TONE("toneMap.hue", "TMap Hue", Hue),
    KS_TONE("toneMap.redGamma", "TMap RedGamma", RedGamma),
    KS_TONE("toneMap.greenGamma", "TMap GreenGamma", GreenGamma),
    KS_TONE("toneMap.blueGamma", "TMap BlueGamma", BlueGamma),
    KS_TONE("toneMap.greyGamma", "TMap GreyGamma", GreyGamma),
    KS_FIELD(_KSCONFIG, "vrsConfig", "VRSConfig", Kind::Text, ReadRule::AnyText, VRSConfig),
    KS_FIELD(_KSCONFIG, "linkSignature", nullptr, Kind::Text, ReadRule::None, LinkSignature),
};
static_assert(std::size(kProfileFields) == 33 + 3);

// Event texts must be strings.
const Field kEventFields[] = {
    KS_FIELD(_KSEVENT, "hwGuid", nullptr, Kind::Guid, ReadRule::None, hwguid),
    KS_FIELD(_KSEVENT, "keyName", nullptr, Kind::KeyName, ReadRule::None, keyname),
    KS_FIELD(_KSEVENT, "name", "Name", Kind::Text, ReadRule::String, name),
    KS_FIELD(_KSEVENT, "config", "ScanConfig", Kind::Text, ReadRule::String, config),
    KS_FIELD(_KSEVENT, "link", "Link", Kind::Text, ReadRule::String, Link),
    KS_BITS(_KSEVENT, "flags", "Flags", flags, kConfigFlags),
    KS_BITS(_KSEVENT, "transfer", "Transfer", transfer, kTransfers),
    KS_FIELD(_KSEVENT, "jpgQuality", "JPGQuality", Kind::ULong, ReadRule::Number, JPGQuality),
    KS_FIELD(_KSEVENT, "pdfQuality", "PDFQuality", Kind::ULong, ReadRule::Number, PDFQuality),
};
static_assert(std::size(kEventFields) == 7 + 2);

// "CopyPath" alone decides whether the settings exist; a path too long to read back counts as none.
const Field kCopyFields[] = {
    KS_FIELD(CopySettings, "copyPath", kCopyPathValue, Kind::Text, ReadRule::String, path),
    KS_BITS(CopySettings, "copyFlags", kCopyFlagsValue, flags, kCopyFlags),
    KS_FIELD(CopySettings, "copyCount", kCopyCountValue, Kind::Long, ReadRule::Number, count),
};

// The table look-up takes the number of any type; GetDefualtGamma only a REG_DWORD.
const Field kCalibrationFields[] = {
    KS_FIELD(CalibrationSettings, "currentGamma", kCurrentGammaValue, Kind::Long, ReadRule::Number, currentGamma),
    KS_FIELD(CalibrationSettings, "defaultGamma", kCurrentGammaValue, Kind::Long, ReadRule::Dword, currentGamma),
};

const Field kEngineFields[] = {
    KS_FIELD(EngineSettings, "engineClass", kEngineClassValue, Kind::Text, ReadRule::String, engineClass),
    KS_FIELD(EngineSettings, "linkCache", kLinkCacheValue, Kind::Text, ReadRule::String, linkCache),
};

// The modes are 16-bit codes in 4-byte numbers of any type.
const Field kDriverFields[] = {
    KS_FIELD(DriverSettings, "scanMode", "ScanMode", Kind::Long, ReadRule::Number, scanMode),
    KS_FIELD(DriverSettings, "deviceMode", "DeviceMode", Kind::Long, ReadRule::Number, deviceMode),
    KS_FIELD(DriverSettings, "iniFile", "IniFile", Kind::Text, ReadRule::String, iniFile),
};

#undef KS_FIELD
#undef KS_BITS
#undef KS_LONG
#undef KS_TONE

}  // namespace

std::span<const Field> ProfileFields() { return kProfileFields; }
std::span<const Field> EventFields() { return kEventFields; }
std::span<const Field> CopySettingsFields() { return kCopyFields; }
std::span<const Field> CalibrationFields() { return kCalibrationFields; }
std::span<const Field> EngineFields() { return kEngineFields; }
std::span<const Field> DriverFields() { return kDriverFields; }
std::span<const EnumName> ConfigFlagNames() { return kConfigFlags; }
std::span<const EnumName> ConfigModeNames() { return kConfigModes; }
std::span<const EnumName> TransferNames() { return kTransfers; }
std::span<const EnumName> CopyFlagNames() { return kCopyFlags; }

ValueSeen ReadField(HKEY key, const Field& f, void* record) {
    char* field = static_cast<char*>(record) + f.offset;
    const DWORD size = static_cast<DWORD>(f.size);
    ValueSeen seen;
    std::optional<std::string> text;
    DWORD number = 0;
    switch (f.rule) {
        case ReadRule::None: return seen;
        case ReadRule::String: text = ReadString(key, f.value, size, &seen); break;
        case ReadRule::AnyText: text = ReadAnyText(key, f.value, size, &seen); break;
        case ReadRule::Number: ReadNumber(key, f.value, field, &seen); break;
        case ReadRule::Dword:
            if (ReadDword(key, f.value, &number, &seen)) std::memcpy(field, &number, sizeof(number));
            break;
    }
    if (text) CopyToField(field, f.size, *text);
    return seen;
}

void ReadFields(HKEY key, std::span<const Field> fields, void* record) {
    for (const Field& f : fields) ReadField(key, f, record);
}

StoreReading WhatTheStoreReads(HKEY key, const Field& f) {
    StoreReading reading;
    std::vector<char> record(f.offset + f.size, '\0');
    const ValueSeen seen = ReadField(key, f, record.data());
    reading.field.assign(record.begin() + static_cast<std::ptrdiff_t>(f.offset), record.end());
    reading.present = seen.verdict != ValueSeen::Verdict::Absent;
    reading.taken = seen.verdict == ValueSeen::Verdict::Read || seen.verdict == ValueSeen::Verdict::Cut ||
                    (seen.verdict == ValueSeen::Verdict::OtherType && f.rule == ReadRule::Number);
    const std::string stored = TypeName(seen.type) + " of " + std::to_string(seen.size) + " bytes";
    const bool isText = f.kind == Kind::Text;
    switch (seen.verdict) {
        case ValueSeen::Verdict::Absent:
        case ValueSeen::Verdict::Read: break;
        case ValueSeen::Verdict::Cut:
            reading.why = seen.type != REG_SZ && seen.type != REG_EXPAND_SZ
                              ? stored + " where the store writes a REG_SZ: taken as text up to its first NUL"
                              : "text that does not end at its only NUL: cut there or to the field";
            break;
        case ValueSeen::Verdict::OtherType:
            reading.why = isText ? TypeName(seen.type) + " where the store reads text"
                                 : stored + " where the store reads a REG_DWORD";
            break;
        case ValueSeen::Verdict::TooLarge:
            reading.why = stored + ", more than the " + std::to_string(isText ? f.size : 4) + " the store reads";
            break;
        case ValueSeen::Verdict::Unterminated: reading.why = "text without its terminating NUL"; break;
    }
    return reading;
}

LONG WriteField(HKEY key, const Field& f, const void* record) {
    const char* field = static_cast<const char*>(record) + f.offset;
    if (f.value == nullptr || f.rule == ReadRule::None) return ERROR_SUCCESS;
    if (f.kind == Kind::Text) return WriteString(key, f.value, FieldText(field, f.size).c_str());
    DWORD number;
    std::memcpy(&number, field, sizeof(number));
    return WriteDword(key, f.value, number);
}

void WriteFields(HKEY key, std::span<const Field> fields, const void* record) {
    for (const Field& f : fields) WriteField(key, f, record);
}

std::string TypeName(DWORD type) {
    static const char* const kNames[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                         "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
    if (type < std::size(kNames)) return kNames[type];
    return type == REG_QWORD ? "REG_QWORD" : "type " + std::to_string(type);
}

}  // namespace ks
