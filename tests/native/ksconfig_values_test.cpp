// ksconfig's Windows-free logic: numbers as people type them for a field, fields found by the names people give
// them, enumeration bits named and refused, registry values shown in one line, and two trees compared.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ksconfig/pure/names.h"
#include "ksconfig/pure/values.h"

namespace ksconfig {
namespace {

// Enumerations in the shape of the interface's (the record descriptor holds the real ones).
constexpr ks::EnumName kFlags[] = {{"KSCNFGFLAG_UNDEF", 0},    {"KSCNFGFLAG_IMAGES", 0x1}, {"KSCNFGFLAG_PDF", 0x4},
                                   {"KSCNFGFLAG_FAX", 0x10},   {"KSCNFGFLAG_ALL", 0x1FF},  {"KSCNFGFLAG_SHOWALL", 0x1000},
                                   {"KSCNFGFLAG_BCNFG", 0xF000}, {"KSCNFGFLAG_REMOVE", 0x80000000}};
constexpr ks::EnumName kModes[] = {{"KSCNFGMODE_BITONAL", 0x1}, {"KSCNFGMODE_GREY", 0x2}, {"KSCNFGMODE_COLOR", 0x4}};
constexpr ks::EnumName kTransfers[] = {{"KSTRANSFER_BMP", 0x20001}, {"KSTRANSFER_TIFF", 0x30004}};

TEST(KsconfigValuesTest, NumbersAreReadWithinTheFieldsRangeAndNothingElse) {
    const Names flags = kFlags, none;
    const struct { const char* text; bool isSigned; Names names; std::optional<std::uint32_t> n; } cases[] = {
        {"0", true, none, 0}, {"-2147483648", true, none, 0x80000000}, {"2147483647", true, none, 0x7FFFFFFF},
        {"2147483648", true, none, {}}, {"-2147483649", true, none, {}}, {"4294967295", false, none, 0xFFFFFFFF},
        {"4294967296", false, none, {}}, {"-1", false, none, {}}, {"-0", true, none, 0},
        {"000000000000300", true, none, 300}, {"99999999999999999999", false, none, {}},
        {"0xFFFFFFFF", true, none, 0xFFFFFFFF}, {"0x0000000012c", false, none, 300}, {"0x100000000", true, none, {}},
        {"0x", false, none, {}}, {"0xg1", false, none, {}}, {"0x-1", true, none, {}}, {"", true, none, {}},
        {"-", true, none, {}}, {" 5", true, none, {}}, {"5 ", true, none, {}}, {"+5", true, none, {}},
        {"3e2", true, none, {}}, {"KSCNFGFLAG_IMAGES", false, none, {}},
        {"KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF", false, flags, 5}, {"KSCNFGFLAG_REMOVE", false, flags, 0x80000000},
        {"KSCNFGFLAG_UNDEF", false, flags, 0}, {"KSCNFGFLAG_IMAGES|", false, flags, {}}, {"|KSCNFGFLAG_PDF", false, flags, {}},
        {"KSCNFGFLAG_images", false, flags, {}}, {"KSCNFGFLAG_IMAGES|5", false, flags, {}}, {"0x10", false, flags, 16},
        {"17", false, flags, 17},
    };
    for (const auto& c : cases) {
        std::string why = "stale";
        EXPECT_EQ(ParseNumber(c.text, c.isSigned, c.names, why), c.n) << '"' << c.text << '"';
        EXPECT_EQ(why.empty(), c.n.has_value()) << '"' << c.text << "\": " << why;
    }
    std::string why;
    ParseNumber("4294967296", false, none, why);
    EXPECT_EQ(why, "\"4294967296\" is not a number from 0 to 4294967295 (or 0x and hexadecimal digits up to 0xffffffff)");
    ParseNumber("KSCNFGFLAG_NOPE|KSCNFGFLAG_PDF", false, flags, why);
    EXPECT_EQ(why, "\"KSCNFGFLAG_NOPE\" is not a member of the field's enumeration (KSCNFGFLAG_UNDEF, ...)");
}

TEST(KsconfigValuesTest, AFieldIsFoundByItsKeyOrRegistryValueInAnyCaseUnlessTwoFieldsFit) {
    // The switches and texts cross over: the value "LinkConfig" holds hasLinkConfig, "LinkInfo" the text linkConfig.
    const std::vector<FieldName> fields = {{"xResolution", "Xresolution"}, {"linkConfig", "LinkInfo"},
                                           {"hasLinkConfig", "LinkConfig"}, {"linkSignature", ""}, {"name", "Name"}};
    const struct { const char* wanted; std::optional<std::size_t> index; const char* why; } cases[] = {
        {"xResolution", 0, ""}, {"XRESOLUTION", 0, ""}, {"Xresolution", 0, ""}, {"linkConfig", 1, ""}, {"LINKINFO", 1, ""},
        {"hasLinkConfig", 2, ""}, {"linksignature", 3, ""}, {"NAME", 4, ""},
        {"LinkConfig", {}, "\"LinkConfig\" could be linkConfig (registry value \"LinkInfo\") or hasLinkConfig (registry "
                           "value \"LinkConfig\"): give the field's exact name"},
        {"resolution", {}, "no field \"resolution\"; the fields are xResolution, linkConfig, hasLinkConfig, linkSignature, name"},
        {"", {}, "no field \"\"; the fields are xResolution, linkConfig, hasLinkConfig, linkSignature, name"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(FindField(fields, c.wanted, why), c.index) << c.wanted;
        EXPECT_EQ(why, c.why) << c.wanted;
    }
}

TEST(KsconfigValuesTest, BitsAreNamedByTheWidestMembersAndUndefinedOnesAreTold) {
    const struct { std::uint32_t value; Names table; const char* names; std::uint32_t undefined; } cases[] = {
        {0x1FF, kFlags, "KSCNFGFLAG_ALL", 0}, {0, kFlags, "KSCNFGFLAG_UNDEF", 0}, {0, kModes, "0", 0},
        {0x80000005, kFlags, "KSCNFGFLAG_IMAGES|KSCNFGFLAG_PDF|KSCNFGFLAG_REMOVE", 0},
        {0xF010, kFlags, "KSCNFGFLAG_FAX|KSCNFGFLAG_BCNFG", 0}, {0x400, kFlags, "0x00000400", 0x400},
        {99, kModes, "KSCNFGMODE_BITONAL|KSCNFGMODE_GREY|0x00000060", 0x60}, {0x30004, kTransfers, "KSTRANSFER_TIFF", 0},
        {0x30005, kTransfers, "KSTRANSFER_BMP|KSTRANSFER_TIFF", 0}, {0x8, kTransfers, "0x00000008", 0x8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinNames(DecodeBits(c.value, c.table)), c.names) << Hex32(c.value);
        EXPECT_EQ(UndefinedBits(c.value, c.table), c.undefined) << Hex32(c.value);
    }
}

std::string Narrowed(std::u16string_view text) { return std::string(text.begin(), text.end()); }  // ASCII only here

TEST(KsconfigValuesTest, AValueIsShownAsTextOrNumberOnlyWhenItIsExactlyOne) {
    using Bytes = std::vector<std::uint8_t>;
    Bytes seventeen(17);
    for (std::size_t i = 0; i < seventeen.size(); ++i) seventeen[i] = static_cast<std::uint8_t>(i);
    const struct { std::uint32_t type; Bytes data; bool wide; const char* shown; } cases[] = {
        {4, {0x2c, 1, 0, 0}, false, "dword:0000012c"}, {4, {0x2c, 1, 0}, false, "hex(4):2c,01,00"},
        {1, {'3', '0', '0', 0}, false, "\"300\""}, {1, {'3', '0', '0'}, false, "hex(1):33,30,30"},
        {1, {'a', 0, 'b', 0}, false, "hex(1):61,00,62,00"}, {1, {}, false, "hex(1):"}, {1, {0}, false, "\"\""},
        {2, {'%', 'x', '%', 0}, false, "expand:\"%x%\""}, {3, seventeen, false,
        "hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,... (17 bytes)"},
        {1, {'3', 0, '0', 0, 0, 0}, true, "\"30\""}, {1, {'3', 0, '0', 0}, true, "hex(1):33,00,30,00"},
        {1, {'3', 0, 0}, true, "hex(1):33,00,00"}, {1, {'a', 0, 0, 0, 'b', 0, 0, 0}, true, "hex(1):61,00,00,00,62,00,00,00"},
        {11, {1, 2, 3, 4, 5, 6, 7, 8}, false, "hex(b):01,02,03,04,05,06,07,08"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShowValue(c.type, c.data, c.wide ? Narrowed : nullptr), c.shown) << c.shown;
}

TEST(KsconfigValuesTest, TreesDifferByKeyAndValueIgnoringLetterCaseAndAMissingKeyStandsForWhatIsBelowIt) {
    Tree root, backup;
    for (const char* key : {"Dev", "Dev\\ScanProfiles", "Dev\\ScanProfiles\\P1", "Dev\\ScanProfiles\\P1\\Deep"}) root.AddKey(key);
    for (const char* key : {"dev", "DEV\\scanprofiles"}) backup.AddKey(key);
    root.AddValue({"Dev\\ScanProfiles\\P1", "Flags", 4, {5, 0, 0, 0}});
    root.AddValue({"Dev\\ScanProfiles\\P1\\Deep", "X", 4, {1, 0, 0, 0}});
    root.AddValue({"Dev", "Xresolution", 1, {'3', '0', '0', 0}});
    root.AddValue({"Dev", "Same", 4, {1, 0, 0, 0}});
    root.AddValue({"", "Top", 4, {1, 0, 0, 0}});
    backup.AddValue({"dev", "XRESOLUTION", 4, {0x2c, 1, 0, 0}});
    backup.AddValue({"DEV", "same", 4, {1, 0, 0, 0}});
    backup.AddValue({"dev", "Old", 3, {1}});

    auto lines = [](const std::vector<Difference>& list) {
        std::vector<std::string> out;
        for (const Difference& d : list) {
            out.push_back((d.key ? "key " : "value ") + d.path + "|" + d.name + "|" + (d.changed ? "changed " : "") + d.data +
                          (d.changed ? " vs " + d.otherData : ""));
        }
        return out;
    };
    const std::vector<std::string> behind = {"key Dev\\ScanProfiles\\P1||", "key Dev\\ScanProfiles\\P1\\Deep||",
        "value |Top|dword:00000001", "value Dev|Xresolution|changed \"300\" vs dword:0000012c",
        "value Dev\\ScanProfiles\\P1|Flags|dword:00000005", "value Dev\\ScanProfiles\\P1\\Deep|X|dword:00000001"};
    EXPECT_EQ(lines(Missing(root, backup, true)), behind);
    EXPECT_EQ(lines(Collapsed(Missing(root, backup, true))), (std::vector<std::string>{"key Dev\\ScanProfiles\\P1||",
        "value |Top|dword:00000001", "value Dev|Xresolution|changed \"300\" vs dword:0000012c"}));
    EXPECT_EQ(lines(Missing(backup, root, false)), (std::vector<std::string>{"value dev|Old|hex:01"}));
    EXPECT_TRUE(Missing(root, root, true).empty());
}

}  // namespace
}  // namespace ksconfig
