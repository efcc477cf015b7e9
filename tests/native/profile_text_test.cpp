#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "calibration/pure/integer_format.h"
#include "calibration/pure/profile_text.h"

namespace ks {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;
using Kind = ValueLine::Kind;

// Lead bytes of a Japanese double-byte code page; 0x5C ("\\") is a valid trail byte there.
bool DoubleByteLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct LineCase {
    std::string line;
    bool imported;
    std::string name;
    Kind kind;
    Bytes bytes;
};

void ExpectLines(const std::vector<LineCase>& cases, LeadBytePredicate isLead = nullptr) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto value = ParseValueLine(c.line, isLead);
        ASSERT_EQ(value.has_value(), c.imported);
        if (value) {
            EXPECT_EQ(value->name, c.name);
            EXPECT_EQ(value->kind, c.kind);
            EXPECT_EQ(value->bytes, c.bytes);
        }
    }
}

Bytes Sz(std::string_view text) {
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

Bytes Dword(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}

TEST(ValueLineTest, NamesQuotesAndTypeWords) {
    ExpectLines({
        {"\"Gamma - 1\"=hex:0a,1b,ff", true, "Gamma - 1", Kind::Binary, {0x0A, 0x1B, 0xFF}},
        {"\"=string:x", true, "", Kind::String, Sz("x")},              // lone quote: the empty name
        {"\"\"=dword:1", true, "", Kind::Dword, Dword(1)},
        {"\"a\"\"=dword:1", true, "a\"", Kind::Dword, Dword(1)},       // only one trailing quote goes
        {"a\"=dword:1", true, "a\"", Kind::Dword, Dword(1)},           // unquoted names stay as they are
        {" a =dword:1", true, " a ", Kind::Dword, Dword(1)},
        {"=dword:1", true, "", Kind::Dword, Dword(1)},
        {"@=\"x\"", true, "@", Kind::String, Sz("x")},
        {"a=\"", true, "a", Kind::String, Sz("")},                     // lone quote: empty text
        {"a=\"x", true, "a", Kind::String, Sz("x")},
        {"a=\"\"x\"\"", true, "a", Kind::String, Sz("\"x\"")},
        {"a=\"C:\\\\Scans\\\\\"", true, "a", Kind::String, Sz("C:\\\\Scans\\\\")},  // no escapes
        {"a=string:\"q\"", true, "a", Kind::String, Sz("\"q\"")},     // this form keeps its quotes
        {"a=string:b=c:d", true, "a", Kind::String, Sz("b=c:d")},
        {"a=string", true, "a", Kind::String, Sz("")},
        {"a=dword", true, "a", Kind::Dword, Dword(0)},
        {"a=hex", true, "a", Kind::Binary, {}},
        {"a=hex:", true, "a", Kind::Binary, {}},
        {"no equals sign", false, "", Kind::String, {}},
        {"Folder=D:\\Scans", false, "", Kind::String, {}},            // type word "D"
        {"a=b=c", false, "", Kind::String, {}},
        {"a=String:x", false, "", Kind::String, {}},
        {"a=DWORD:1", false, "", Kind::String, {}},
        {"a=hex(2):41,00", false, "", Kind::String, {}},
        {"a=:x", false, "", Kind::String, {}},
        {"a=", false, "", Kind::String, {}},
        {"a= dword:1", false, "", Kind::String, {}},
    });
}

// The dword and hex readers follow glibc's scanf "%08X" / "%02X" (checked against it): leading
// white space is free; within the width an optional sign, then after a leading "0" an optional
// "x"/"X" (taken even without digits after it), then hex digits; "-" negates modulo 2^32; a
// conversion without any digit leaves 0.
TEST(ValueLineTest, DwordDataReadsLikeScanfHex8) {
    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {"", 0},           {"16", 22},         {"00000016", 22},       {"123456789", 0x12345678},
        {"  ff", 0xFF},    {"\t\n\v\f\r7", 7}, {"FFFFFFFF", 0xFFFFFFFF}, {"-1", 0xFFFFFFFF},
        {"-f", 0xFFFFFFF1}, {"-FFFFFFFF", 0xF0000001},                 // the sign uses one of the 8
        {"+f", 0xF},       {"0x10", 0x10},     {"0X1f", 0x1F},         {"+0x1F", 0x1F},
        {"-0x10", 0xFFFFFFF0}, {"0x123456789", 0x123456},              // the prefix uses two
        {"0x", 0},         {"0xg", 0},         {"00x10", 0},           {"zz", 0},
        {"x10", 0},        {"-", 0},           {"+", 0},               {"- 1", 0},
        {"--1", 0},        {"12 34", 0x12},    {"1\\", 1},
    };
    for (const auto& [data, number] : cases) {
        SCOPED_TRACE(data);
        const auto value = ParseValueLine("v=dword:" + data);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->bytes, Dword(number));
    }
}

TEST(ValueLineTest, HexPiecesSplitLikeStrtokAndReadLikeScanfHex2) {
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {",,0a,,ff,", {0x0A, 0xFF}}, {",", {}},  {",,,", {}},        {"1ff", {0x1F}},
        {" 7", {0x07}},      {"a, b ,c", {0x0A, 0x0B, 0x0C}},        {"zz,1", {0x00, 0x01}},
        {"-1", {0xFF}},      {"+f", {0x0F}},     {"-f", {0xF1}},      {"0x1F", {0x00}},
        {"0", {0x00}},       {" ", {0x00}},      {"FF,ff,Ff", {0xFF, 0xFF, 0xFF}},
    };
    for (const auto& [data, bytes] : cases) {
        SCOPED_TRACE(data);
        const auto value = ParseValueLine("v=hex:" + data);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->bytes, bytes);
    }
}

TEST(ValueLineTest, DoubleByteCharactersAreSteppedOverWhole) {
    // With the double-byte code page, "\x81=" and "\x81\"" and "\x81," are single characters.
    ExpectLines(
        {
            {"\x81=x=dword:1", true, "\x81=x", Kind::Dword, Dword(1)},
            {"\"\x81\"=dword:1", true, "\x81\"", Kind::Dword, Dword(1)},
            {"a=\"\x81\"", true, "a", Kind::String, Sz("\x81\"")},
            {"a=hex:\x81,01", true, "a", Kind::Binary, {0x00}},
            {"a=dword\x81:1", false, "", Kind::String, {}},
        },
        DoubleByteLead);
    ExpectLines({
        {"\x81=x=dword:1", false, "", Kind::String, {}},
        {"\"\x81\"=dword:1", true, "\x81", Kind::Dword, Dword(1)},
        {"a=hex:\x81,01", true, "a", Kind::Binary, {0x00, 0x01}},
    });
}

TEST(JoinSectionLinesTest, JoinsOnlyContinuedHexLines) {
    struct Case {
        std::string delivered;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"\"Gamma - 1\"=hex:0a,\\\0001b,\\\0ff\0"s, {"\"Gamma - 1\"=hex:0a,1b,ff"}},
        {"a=hex:01,\\\0 02\0b=dword:1\0"s, {"a=hex:01, 02", "b=dword:1"}},
        {"a=dword:1\\\0b=dword:2\0"s, {"a=dword:1\\", "b=dword:2"}},
        {"a=\"x\\\0b=string:y\\\0"s, {"a=\"x\\", "b=string:y\\"}},
        {"a=hex(2):00\\\0b\0a=HEX:0\\\0c\0"s, {"a=hex(2):00\\", "b", "a=HEX:0\\", "c"}},
        {"x=hex:01,\\\0=hex:\\\0" "02\0"s, {"x=hex:01,=hex:02"}},
        {"\0\0a=dword:1\0\0\0b=dword:2\0\0"s, {"a=dword:1", "b=dword:2"}},
        {""s, {}},
        // An empty line ends a continuation unless the line still ends in a backslash.
        {"a=hex:01,\\\0\0b=dword:1\0"s, {"a=hex:01,", "b=dword:1"}},
        {"a=hex:01\\\\\0\0x\0"s, {"a=hex:01x"}},
        // A line cut off without its NUL is dropped; an open continuation is kept as joined.
        {"a=dword:1\0b=dwo"s, {"a=dword:1"}},
        {"a=hex:01,\\\0"s, {"a=hex:01,"}},
        {"a=hex:01,\\\0000"s, {"a=hex:01,"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.delivered);
        EXPECT_EQ(JoinSectionLines(c.delivered), c.lines);
    }
}

TEST(JoinSectionLinesTest, TrailByteBackslashDoesNotContinue) {
    const std::string delivered = "a=hex:01,\x81\\\0" "02\0"s;
    EXPECT_EQ(JoinSectionLines(delivered, DoubleByteLead), (std::vector<std::string>{"a=hex:01,\x81\\", "02"}));
    EXPECT_EQ(JoinSectionLines(delivered), (std::vector<std::string>{"a=hex:01,\x81" "02"}));
    // A "=" that is a trail byte does not start "=hex:".
    EXPECT_EQ(JoinSectionLines("\x81=hex:01\\\0" "02\0"s, DoubleByteLead),
              (std::vector<std::string>{"\x81=hex:01\\", "02"}));
}

TEST(SectionHeaderTest, SplitsAtFirstBackslashAndKnowsOnlyLongRootNames) {
    struct Case {
        std::string header;
        std::optional<RootKey> root;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"HKEY_CLASSES_ROOT\\a", RootKey::ClassesRoot, "a"},
        {"HKEY_CURRENT_CONFIG\\a", RootKey::CurrentConfig, "a"},
        {"HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\\S\\CalibrationProfiles", RootKey::CurrentUser,
         "Software\\Stellwick\\Keystrel 4.0\\S\\CalibrationProfiles"},
        {"HKEY_LOCAL_MACHINE\\a\\\\b\\", RootKey::LocalMachine, "a\\\\b\\"},
        {"HKEY_USERS\\", RootKey::Users, ""},
        {"HKEY_USERS\\\x81\\x", RootKey::Users, "\x81\\x"},
        {"HKEY_CURRENT_USER", std::nullopt, ""},
        {"hkey_current_user\\a", std::nullopt, ""},
        {"HKCU\\a", std::nullopt, ""},
        {" HKEY_USERS\\a", std::nullopt, ""},
        {"HKEY_USERS \\a", std::nullopt, ""},
        {"\\a", std::nullopt, ""},
        {"", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        const auto target = ParseSectionHeader(c.header, DoubleByteLead);
        ASSERT_EQ(target.has_value(), c.root.has_value());
        if (target) {
            EXPECT_EQ(target->root, *c.root);
            EXPECT_EQ(target->path, c.path);
        }
    }
}

TEST(IntegerFormatTest, AcceptsOneIntegerConversionOnly) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"%d", "22"},              {"Gamma - %d", "Gamma - 22"}, {"%%%d%%", "%22%"},
        {"%5.3x", "  016"},        {"%-4d|", "22  |"},           {"%04d", "0022"},
        {"%+i", "+22"},            {"% d", " 22"},               {"%#o", "026"},
        {"%#X", "0X16"},           {"%u", "22"},                 {"%64d", std::string(62, ' ') + "22"},
        {"%.64d", std::string(62, '0') + "22"},
        {"", std::nullopt},        {"text", std::nullopt},       {"%%", std::nullopt},
        {"%n", std::nullopt},      {"%s", std::nullopt},         {"%c", std::nullopt},
        {"%e", std::nullopt},      {"%p", std::nullopt},         {"%d%d", std::nullopt},
        {"%d%n", std::nullopt},    {"%*d", std::nullopt},        {"%.*d", std::nullopt},
        {"%1$d", std::nullopt},    {"%ld", std::nullopt},        {"%hd", std::nullopt},
        {"%lld", std::nullopt},    {"%I64d", std::nullopt},      {"%", std::nullopt},
        {"%d%", std::nullopt},     {"%5%", std::nullopt},        {"%65d", std::nullopt},
        {"%.65d", std::nullopt},   {"%99999999d", std::nullopt}, {"%.99999999999999999999d", std::nullopt},
        {std::string(kMaxFormatLength - 2, 'a') + "%d", std::string(kMaxFormatLength - 2, 'a') + "22"},
        {std::string(kMaxFormatLength - 1, 'a') + "%d", std::nullopt},
    };
    for (const auto& [format, expected] : cases) {
        SCOPED_TRACE(format);
        EXPECT_EQ(FormatInteger(format, 22), expected);
    }
    // "\x81%" is one character in the double-byte code page, so "%%d" becomes "%d" there.
    EXPECT_EQ(FormatInteger("\x81%%d", 22, DoubleByteLead), "\x81%22");
    EXPECT_EQ(FormatInteger("\x81%%d", 22), std::nullopt);
}

TEST(IntegerFormatTest, MatchesPrintfForEveryAcceptedShape) {
    const std::string flagSet = "-+ #0";
    const std::vector<std::string> widths = {"", "1", "7"};
    const std::vector<std::string> precisions = {"", ".", ".0", ".3"};
    const std::vector<int> values = {0, 1, -1, 22, 255, INT_MIN, INT_MAX};
    for (unsigned mask = 0; mask < 32; ++mask) {
        std::string flags;
        for (unsigned bit = 0; bit < 5; ++bit) {
            if (mask & (1u << bit)) flags += flagSet[bit];
        }
        for (const char type : std::string("diuxXo")) {
            if (flags.find('#') != std::string::npos && (type == 'd' || type == 'i' || type == 'u')) {
                continue;  // undefined in C
            }
            for (const auto& width : widths) {
                for (const auto& precision : precisions) {
                    const std::string format = "<%" + flags + width + precision + type + ">";
                    for (const int value : values) {
                        char expected[128];
                        std::snprintf(expected, sizeof expected, format.c_str(), value);
                        EXPECT_EQ(FormatInteger(format, value), std::string(expected)) << format << " " << value;
                    }
                }
            }
        }
    }
}

struct FillCase {
    std::string text;
    std::string filled;
};

void ExpectFilled(const std::vector<FillCase>& cases, std::string_view root = "R",
                  LeadBytePredicate isLead = nullptr) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FillDefaultProfile(c.text, root, isLead), c.filled);
    }
}

TEST(DefaultProfileTest, GammaPlaceholderDefinesGamma) {
    ExpectFilled({
        {"[%ROOT%\\C]\nx=%GAMMA%\n%GAMMA_VALUES=10,22,30,<%d>%\ny=\"Gamma - %GAMMA%\"\n",
         "[R\\C]\nx=22\n\ny=\"Gamma - 22\"\n"},
        {"a=%GAMMA%", "a=%GAMMA%"},                                                     // no placeholder
        {"%GAMMA_VALUES=10,22,30,<%d>%a=%GAMMA%", "%GAMMA_VALUES=10,22,30,<%d>%a=%GAMMA%"},  // at byte 0
        {"x%GAMMA_VALUES=10,22,30,<%d>a=%GAMMA%", "x%GAMMA_VALUES=10,22,30,<%d>a=%GAMMA%"},  // never closed
        {"x%GAMMA_VALUES=1,2,3,<%d>%y%GAMMA_VALUES=1,2,3,<%d>%z", "xyz"},               // every copy goes
        {"x%GAMMA_VALUES=1,2,3,<%d>%y%GAMMA_VALUES=4,5,6,<%d>%%GAMMA%", "xy%GAMMA_VALUES=4,5,6,<%d>%2"},
        {"x%GAMMA_VALUES=1,2,3,<%04x>%%GAMMA%", "x0002"},
        {"x%GAMMA_VALUES=1,2,3,<%%ROOT%%_%d>%%GAMMA%", "xR_2"},  // the gamma text is filled too
        {"x%GAMMA_VALUES=1,2,3,<<%d>>%%GAMMA%", "x<2>"},         // first "<" to the closing ">"
    });
}

TEST(DefaultProfileTest, GammaNumbersReadLikeScanfDecimal) {
    // The second of "GAMMA_VALUES=%d,%d,%d" read from the text before the last comma;
    // numbers out of int range saturate.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"10, -22 ,30", "-22"},  {"10,+22,30", "22"},      {"10 ,22,30", "0"},
        {"10,,30", "0"},         {"10,0x16,30", "0"},      {"", "0"},
        {"10,22", "22"},         {"1,99999999999,3", "2147483647"},
        {"1,-99999999999,3", "-2147483648"},                {"1,2147483647,3", "2147483647"},
    };
    for (const auto& [numbers, gamma] : cases) {
        SCOPED_TRACE(numbers);
        EXPECT_EQ(FillDefaultProfile("x%GAMMA_VALUES=" + numbers + ",<%d>%%GAMMA%", "R"), "x" + gamma);
    }
    EXPECT_EQ(FillDefaultProfile("x%GAMMA_VALUES=<%d>%%GAMMA%", "R"), "x0");            // no comma at all
    EXPECT_EQ(FillDefaultProfile("x%GAMMA_VALUES=1,2,3,<a,%d>%%GAMMA%", "R"), "xa,2");  // comma in the format
}

TEST(DefaultProfileTest, RefusedFormatKeepsGammaButRemovesPlaceholder) {
    for (const std::string format : {"%n", "%s", "%d%d", "%*d", "%99999999d", "", "%ld", "%", "x"}) {
        SCOPED_TRACE(format);
        EXPECT_EQ(FillDefaultProfile("a%GAMMA_VALUES=1,2,3,<" + format + ">%b=%GAMMA%", "R"), "ab=%GAMMA%");
    }
    EXPECT_EQ(FillDefaultProfile("a%GAMMA_VALUES=1,2,3,%d>%b=%GAMMA%", "R"), "ab=%GAMMA%");  // no "<"
}

TEST(DefaultProfileTest, RootIsFilledEverywhereAndTextIsCutAtEventSection) {
    const std::string root = "HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\\Scan 1";
    ExpectFilled(
        {
            {"[%ROOT%]\n[%ROOT%\\C]\nv=\"%ROOT%%ROOT%\"\n%ROOT",
             "[" + root + "]\n[" + root + "\\C]\nv=\"" + root + root + "\"\n%ROOT"},
            {"[%ROOT%\\C]\na=1\n[%ROOT%\\EventProfiles]\nb=2\n[%ROOT%\\D]\nc=3\n", "[" + root + "\\C]\na=1\n"},
            {"a=1\n[" + root + "\\EventProfiles]\nb=2", "a=1\n"},              // written out in full
            {"a=1\n[%ROOT%\\eventprofiles]\nb=2", "a=1\n[" + root + "\\eventprofiles]\nb=2"},
            {"a=1\n[Other\\EventProfiles]\nb=2", "a=1\n[Other\\EventProfiles]\nb=2"},
            {"a=1\n[%ROOT%\\EventProfiles\\X]\n", "a=1\n[" + root + "\\EventProfiles\\X]\n"},
            {"[%ROOT%\\EventProfiles]", ""},
        },
        root);
}

TEST(DefaultProfileTest, DoubleByteCharactersHidePlaceholderBytes) {
    const std::string text = "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;%ROOT%";
    EXPECT_EQ(FillDefaultProfile(text, "R", DoubleByteLead), "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;R");
    EXPECT_EQ(FillDefaultProfile(text, "R"), "\x81x=2;\x81R;R");
    // The root itself may hold double-byte characters; its event header is found all the same.
    EXPECT_EQ(FillDefaultProfile("a\n[%ROOT%\\EventProfiles]\n", "\x81\\", DoubleByteLead), "a\n");
}

}  // namespace
}  // namespace ks
