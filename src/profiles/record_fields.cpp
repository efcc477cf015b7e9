#include "profiles/record_fields.h"

#include <objbase.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "core/win_handles.h"

namespace ks {

namespace {

constexpr std::size_t kToneMap = offsetof(_KSCONFIG, ToneMap);

#define KS_TEXT(rec, value, field) {value, REG_SZ, offsetof(rec, field), sizeof(rec::field)}
#define KS_NUMBER(rec, value, field) {value, REG_DWORD, offsetof(rec, field), 4}
#define KS_TONE(value, field) {value, REG_DWORD, kToneMap + offsetof(_KSCFGMAP, field), 4}

// Note the cross-over: "LinkInfo"/"UIInfo" hold the texts, "LinkConfig"/"UIConfig" the switches;
// and Autorotate90 sits between PageHeight and ScanHardware. Clients and imported default
// profiles depend on these names and this order.
constexpr RecordField kProfileFields[] = {
    KS_TEXT(_KSCONFIG, "Name", name),
    KS_TEXT(_KSCONFIG, "LinkInfo", LinkConfig),
    KS_TEXT(_KSCONFIG, "UIInfo", UIConfig),
    KS_NUMBER(_KSCONFIG, "Flags", flags),
    KS_NUMBER(_KSCONFIG, "DataType", DataType),
    KS_NUMBER(_KSCONFIG, "PixelBits", PixelBits),
    KS_NUMBER(_KSCONFIG, "Intensity", Intensity),
    KS_NUMBER(_KSCONFIG, "Contrast", Contrast),
    KS_NUMBER(_KSCONFIG, "Xresolution", Xresolution),
    KS_NUMBER(_KSCONFIG, "Yresolution", Yresolution),
    KS_NUMBER(_KSCONFIG, "PageWidth", PageWidth),
    KS_NUMBER(_KSCONFIG, "PageHeight", PageHeight),
    KS_NUMBER(_KSCONFIG, "Autorotate90", Autorotate90),
    KS_NUMBER(_KSCONFIG, "ScanHardware", ScanHardware),
    KS_NUMBER(_KSCONFIG, "Duplex", Duplex),
    KS_NUMBER(_KSCONFIG, "ColorDropOut", ColorDropOut),
    KS_NUMBER(_KSCONFIG, "Negative", Negative),
    KS_NUMBER(_KSCONFIG, "Mirror", Mirror),
    KS_NUMBER(_KSCONFIG, "Crop", Crop),
    KS_NUMBER(_KSCONFIG, "Deskew", Deskew),
    KS_NUMBER(_KSCONFIG, "Moire", Moire),
    KS_NUMBER(_KSCONFIG, "ShowProgress", ShowProgress),
    KS_NUMBER(_KSCONFIG, "LinkConfig", HasLinkConfig),
    KS_NUMBER(_KSCONFIG, "UIConfig", HasUIConfig),
    KS_NUMBER(_KSCONFIG, "UseToneMap", UseToneMap),
    KS_TONE("TMap Saturation", Saturation),
    KS_TONE("TMap Sharpen", Sharpen),
    KS_TONE("TMap Hue", Hue),
    KS_TONE("TMap RedGamma", RedGamma),
    KS_TONE("TMap GreenGamma", GreenGamma),
    KS_TONE("TMap BlueGamma", BlueGamma),
    KS_TONE("TMap GreyGamma", GreyGamma),
    KS_TEXT(_KSCONFIG, "VRSConfig", VRSConfig),
};
static_assert(std::size(kProfileFields) == 33);

constexpr RecordField kEventFields[] = {
    KS_TEXT(_KSEVENT, "Name", name),
    KS_TEXT(_KSEVENT, "ScanConfig", config),
    KS_TEXT(_KSEVENT, "Link", Link),
    KS_NUMBER(_KSEVENT, "Flags", flags),
    KS_NUMBER(_KSEVENT, "Transfer", transfer),
    KS_NUMBER(_KSEVENT, "JPGQuality", JPGQuality),
    KS_NUMBER(_KSEVENT, "PDFQuality", PDFQuality),
};
static_assert(std::size(kEventFields) == 7);

#undef KS_TEXT
#undef KS_NUMBER
#undef KS_TONE

// A text of any registry type that fits the field; what came back is cut at its first NUL and
// the field's last byte is always a terminator, even for a value stored without one.
void ReadAnyTypeText(HKEY key, const char* name, char* field, std::size_t size) {
    std::vector<char> buffer(size + 1, '\0');
    DWORD length = static_cast<DWORD>(size);
    if (QueryValue(key, name, nullptr, buffer.data(), &length) != ERROR_SUCCESS || length > size) return;
    buffer[size - 1] = '\0';
    std::size_t text = std::strlen(buffer.data());
    std::memset(field, 0, size);
    std::memcpy(field, buffer.data(), text);
}

}  // namespace

std::span<const RecordField> ProfileFields() { return kProfileFields; }
std::span<const RecordField> EventFields() { return kEventFields; }

void ReadFields(HKEY key, std::span<const RecordField> fields, void* record, TextRule rule) {
    auto* bytes = static_cast<char*>(record);
    for (const RecordField& f : fields) {
        char* field = bytes + f.offset;
        if (f.type == REG_DWORD) {
            ReadNumber(key, f.name, field);
        } else if (rule == TextRule::AnyType) {
            ReadAnyTypeText(key, f.name, field, f.size);
        } else if (auto text = ReadString(key, f.name, static_cast<DWORD>(f.size))) {
            std::memset(field, 0, f.size);
            // NOLINTNEXTLINE(bugprone-not-null-terminated-result): zeroed above, and the text fits with its terminator
            std::memcpy(field, text->data(), text->size());
        }
    }
}

void WriteFields(HKEY key, std::span<const RecordField> fields, const void* record) {
    const auto* bytes = static_cast<const char*>(record);
    for (const RecordField& f : fields) {
        const char* field = bytes + f.offset;
        if (f.type == REG_DWORD) {
            DWORD value;
            std::memcpy(&value, field, sizeof(value));
            WriteDword(key, f.name, value);
        } else {
            WriteString(key, f.name, FieldText(field, f.size).c_str());
        }
    }
}

std::string FieldText(const char* field, std::size_t size) {
    if (size == 0) return {};
    const void* end = std::memchr(field, '\0', size - 1);
    return std::string(field, end ? static_cast<const char*>(end) - field : size - 1);
}

bool MakeGuidKeyName(char* field, std::size_t size) {
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) return false;
    UniqueTaskMem<OLECHAR> text;
    if (FAILED(StringFromCLSID(guid, text.put()))) return false;
    char narrow[64] = {};
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.get(), -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
    std::string name = FieldText(narrow, sizeof(narrow));
    if (auto open = name.find('{'); open != std::string::npos) name[open] = '*';
    if (auto close = name.find('}'); close != std::string::npos) name[close] = '*';
    std::memset(field, 0, size);
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): zeroed above, and the copy leaves the last byte
    std::memcpy(field, name.data(), name.size() < size ? name.size() : size - 1);
    return true;
}

}  // namespace ks
