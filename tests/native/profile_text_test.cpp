#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration/pure/integer_format.h"
#include "calibration/pure/profile_text.h"

namespace ks {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

// Lead bytes of a Japanese double-byte code page; 0x5C ("\\") is a valid trail byte there.
bool DoubleByteLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// A parsed value line as "name|type|data", the data as written: sz text (its NUL checked, not shown), or
// bytes in hex; "-" when the line is ignored.
std::string Show(std::string_view line, LeadBytePredicate isLead = nullptr) {
    const auto value = ParseValueLine(line, isLead);
    if (!value) return "-";
    static const char* const kinds[] = {"|sz|", "|dword|", "|hex|"};
    std::string out = value->name + kinds[static_cast<int>(value->kind)];
    const auto& b = value->bytes;
    if (value->kind == ValueLine::Kind::String) {
        return b.empty() || b.back() != 0 ? out + "<no NUL>" : out + std::string(b.begin(), b.end() - 1);
    }
    for (std::uint8_t byte : b) out += "0123456789abcdef"[byte >> 4], out += "0123456789abcdef"[byte & 15];
    return out;
}

TEST(ValueLineTest, NamesQuotesAndTypeWords) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"=string:x", "|sz|x"},               // lone quote: the empty name
        {"\"a\"\"=dword:1", "a\"|dword|01000000"},  // only one trailing quote goes
        {"a\"=dword:1", "a\"|dword|01000000"},      // unquoted names stay as they are
        {"@=\"x\"", "@|sz|x"}, {"a=\"", "a|sz|"}, {"a=\"x", "a|sz|x"}, {"a=\"\"x\"\"", "a|sz|\"x\""},
        {"a=\"C:\\\\S\\\\\"", "a|sz|C:\\\\S\\\\"},  // no escapes
        {"a=string:\"q\"", "a|sz|\"q\""},           // this form keeps its quotes
        {"a=string:b=c:d", "a|sz|b=c:d"}, {"a=string", "a|sz|"}, {"a=dword", "a|dword|00000000"},
        {"a=hex", "a|hex|"},
        // No "=", an unknown type word (they are case-sensitive), or an empty one: the line is ignored.
        {"no equals sign", "-"}, {"Folder=D:\\Scans", "-"}, {"a=b=c", "-"}, {"a=String:x", "-"},
        {"a=DWORD:1", "-"}, {"a=hex(2):41,00", "-"}, {"a=:x", "-"}, {"a= dword:1", "-"},
        // Dword data reads like scanf "%08X", each hex piece like "%02X": leading white space is free;
        // within the width an optional sign, after a leading "0" an optional "x" (taken even without
        // digits after it), then hex digits; "-" negates; no digit at all leaves 0. Pieces split like
        // strtok on ",".
        {"v=dword:", "v|dword|00000000"}, {"v=dword:16", "v|dword|16000000"},
        {"v=dword:123456789", "v|dword|78563412"}, {"v=dword:\t\n\v\f\r-1", "v|dword|ffffffff"},
        {"v=dword:0x", "v|dword|00000000"}, {"v=dword:00x10", "v|dword|00000000"},
        {"v=dword:-FFFFFFFF", "v|dword|010000f0"},  // the sign uses one of the 8
        {"v=dword:0x123456789", "v|dword|56341200"},  // the prefix uses two
        {"v=hex:,,0a,,ff,", "v|hex|0aff"}, {"v=hex:1ff", "v|hex|1f"}, {"v=hex:a, b ,c", "v|hex|0a0b0c"},
        {"v=hex:zz,1", "v|hex|0001"}, {"v=hex:-f", "v|hex|f1"}, {"v=hex:0x1F", "v|hex|00"},
        {"v=hex:,", "v|hex|"},
        // Without a double-byte code page, "\x81" is a character of its own.
        {"\x81=x=dword:1", "-"}, {"\"\x81\"=dword:1", "\x81|dword|01000000"}, {"a=hex:\x81,01", "a|hex|0001"},
    };
    for (const auto& [line, parsed] : cases) EXPECT_EQ(Show(line), parsed) << line;
    // With the double-byte code page, "\x81=" and "\x81\"" and "\x81," are single characters.
    const std::pair<const char*, const char*> doubleByte[] = {
        {"\x81=x=dword:1", "\x81=x|dword|01000000"}, {"\"\x81\"=dword:1", "\x81\"|dword|01000000"},
        {"a=\"\x81\"", "a|sz|\x81\""}, {"a=hex:\x81,01", "a|hex|00"}, {"a=dword\x81:1", "-"},
    };
    for (const auto& [line, parsed] : doubleByte) EXPECT_EQ(Show(line, DoubleByteLead), parsed) << line;
}

TEST(JoinSectionLinesTest, JoinsOnlyContinuedHexLines) {
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"a=hex:01,\\\0 02\0b=dword:1\0"s, {"a=hex:01, 02", "b=dword:1"}},
        {"a=dword:1\\\0b=string:y\\\0"s, {"a=dword:1\\", "b=string:y\\"}},
        {"a=hex(2):00\\\0b\0a=HEX:0\\\0c\0"s, {"a=hex(2):00\\", "b", "a=HEX:0\\", "c"}},
        {"x=hex:01,\\\0=hex:\\\0" "02\0"s, {"x=hex:01,=hex:02"}},
        {"\0\0a=dword:1\0\0\0b=dword:2\0\0"s, {"a=dword:1", "b=dword:2"}},
        // An empty line ends a continuation unless the line still ends in a backslash.
        {"a=hex:01,\\\0\0b=dword:1\0"s, {"a=hex:01,", "b=dword:1"}}, {"a=hex:01\\\\\0\0x\0"s, {"a=hex:01x"}},
        // A line cut off without its NUL is dropped; an open continuation is kept as joined.
        {"a=dword:1\0b=dwo"s, {"a=dword:1"}}, {"a=hex:01,\\\0"s, {"a=hex:01,"}},
        {"a=hex:01,\\\0000"s, {"a=hex:01,"}},
    };
    for (const auto& [delivered, lines] : cases) EXPECT_EQ(JoinSectionLines(delivered), lines) << delivered;
    // A backslash or "=" that is a trail byte neither continues nor starts "=hex:".
    const std::string delivered = "a=hex:01,\x81\\\0" "02\0"s;
    EXPECT_EQ(JoinSectionLines(delivered, DoubleByteLead), (Lines{"a=hex:01,\x81\\", "02"}));
    EXPECT_EQ(JoinSectionLines(delivered), (Lines{"a=hex:01,\x81" "02"}));
    EXPECT_EQ(JoinSectionLines("\x81=hex:01\\\0" "02\0"s, DoubleByteLead), (Lines{"\x81=hex:01\\", "02"}));
}

TEST(SectionHeaderTest, SplitsAtFirstBackslashAndKnowsOnlyLongRootNames) {
    const std::vector<std::tuple<std::string, RootKey, std::string>> cases = {
        {"HKEY_CLASSES_ROOT\\a", RootKey::ClassesRoot, "a"}, {"HKEY_CURRENT_CONFIG\\a", RootKey::CurrentConfig, "a"},
        {"HKEY_CURRENT_USER\\S\\C", RootKey::CurrentUser, "S\\C"}, {"HKEY_USERS\\", RootKey::Users, ""},
        {"HKEY_LOCAL_MACHINE\\a\\\\b\\", RootKey::LocalMachine, "a\\\\b\\"},
    };
    for (const auto& [header, root, path] : cases) {
        const auto target = ParseSectionHeader(header, DoubleByteLead);
        ASSERT_TRUE(target) << header;
        EXPECT_EQ(target->root, root) << header;
        EXPECT_EQ(target->path, path) << header;
    }
    for (const char* header :
         {"HKEY_CURRENT_USER", "hkey_current_user\\a", "HKCU\\a", " HKEY_USERS\\a", "HKEY_USERS \\a", "\\a"}) {
        EXPECT_FALSE(ParseSectionHeader(header)) << header;
    }
}

TEST(IntegerFormatTest, AcceptsOneIntegerConversionOnly) {
    const std::string longest(kMaxFormatLength - 2, 'a');
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"Gamma - %d", "Gamma - 22"}, {"%%%d%%", "%22%"}, {"%-5.3x|", "016  |"}, {"%#X", "0X16"}, {"%+i", "+22"},
        {"%64d", std::string(62, ' ') + "22"}, {"%.64d", std::string(62, '0') + "22"},
        {longest + "%d", longest + "22"},
    };
    for (const auto& [format, expected] : accepted) EXPECT_EQ(FormatInteger(format, 22), expected) << format;
    for (const std::string& format :
         {""s, "text"s, "%%"s, "%n"s, "%s"s, "%c"s, "%e"s, "%p"s, "%d%d"s, "%d%n"s, "%*d"s, "%.*d"s, "%1$d"s, "%ld"s,
          "%hd"s, "%lld"s, "%I64d"s, "%"s, "%d%"s, "%5%"s, "%65d"s, "%.65d"s, "%99999999d"s,
          "%.99999999999999999999d"s, longest + "a%d"}) {
        EXPECT_EQ(FormatInteger(format, 22), std::nullopt) << format;
    }
    // "\x81%" is one character in the double-byte code page, so "%%d" becomes "%d" there.
    EXPECT_EQ(FormatInteger("\x81%%d", 22, DoubleByteLead), "\x81%22");
    EXPECT_EQ(FormatInteger("\x81%%d", 22), std::nullopt);
}

TEST(DefaultProfileTest, PlaceholdersAreFilledAndTextIsCutAtEventSection) {
    const std::string r = "HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0\\Scan 1";
    const std::pair<std::string, std::string> cases[] = {
        {"%GAMMA_VALUES=10,22,30,<%d>%a=%GAMMA%", "%GAMMA_VALUES=10,22,30,<%d>%a=%GAMMA%"},  // at byte 0
        {"x%GAMMA_VALUES=10,22,30,<%d>a=%GAMMA%", "x%GAMMA_VALUES=10,22,30,<%d>a=%GAMMA%"},  // never closed
        {"x%GAMMA_VALUES=1,2,3,<%d>%y%GAMMA_VALUES=4,5,6,<%d>%%GAMMA%", "xy%GAMMA_VALUES=4,5,6,<%d>%2"},
        {"x%GAMMA_VALUES=1,2,3,<%d>%y%GAMMA_VALUES=1,2,3,<%d>%z", "xyz"},  // every copy goes
        {"x%GAMMA_VALUES=1,2,3,<%%ROOT%%_%04x>%%GAMMA%", "x" + r + "_0002"},  // the gamma text is filled too
        {"x%GAMMA_VALUES=1,2,3,<<%d>>%%GAMMA%", "x<2>"},                      // first "<" to the closing ">"
        // The second number of "%d,%d,%d" read from the text before the last comma; out of range saturates.
        {"x%GAMMA_VALUES=10, -22 ,30,<%d>%%GAMMA%", "x-22"}, {"x%GAMMA_VALUES=10 ,22,30,<%d>%%GAMMA%", "x0"},
        {"x%GAMMA_VALUES=10,22,<%d>%%GAMMA%", "x22"}, {"x%GAMMA_VALUES=<%d>%%GAMMA%", "x0"},
        {"x%GAMMA_VALUES=1,2,3,<a,%d>%%GAMMA%", "xa,2"},
        {"x%GAMMA_VALUES=1,99999999999,3,<%d>%%GAMMA%", "x2147483647"},
        {"x%GAMMA_VALUES=1,-99999999999,3,<%d>%%GAMMA%", "x-2147483648"},
        // A refused format keeps "%GAMMA%" as it is; the placeholder goes all the same.
        {"a%GAMMA_VALUES=1,2,3,<%n>%b=%GAMMA%", "ab=%GAMMA%"}, {"a%GAMMA_VALUES=1,2,3,%d>%b=%GAMMA%", "ab=%GAMMA%"},
        {"[%ROOT%]\nv=\"%ROOT%%ROOT%\"\n%ROOT", "[" + r + "]\nv=\"" + r + r + "\"\n%ROOT"},
        {"a=1\n[" + r + "\\EventProfiles]\nb=2", "a=1\n"},  // written out in full
        // Only that exact header cuts.
        {"a=1\n[%ROOT%\\eventprofiles]\nb", "a=1\n[" + r + "\\eventprofiles]\nb"},
        {"a=1\n[Other\\EventProfiles]\nb", "a=1\n[Other\\EventProfiles]\nb"},
        {"a=1\n[%ROOT%\\EventProfiles\\X]\n", "a=1\n[" + r + "\\EventProfiles\\X]\n"},
    };
    for (const auto& [text, filled] : cases) EXPECT_EQ(FillDefaultProfile(text, r), filled) << text;
    // Double-byte characters hide placeholder bytes, also in the root.
    const std::string text = "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;%ROOT%";
    EXPECT_EQ(FillDefaultProfile(text, "R", DoubleByteLead), "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;R");
    EXPECT_EQ(FillDefaultProfile(text, "R"), "\x81x=2;\x81R;R");
    EXPECT_EQ(FillDefaultProfile("a\n[%ROOT%\\EventProfiles]\n", "\x81\\", DoubleByteLead), "a\n");
}

}  // namespace
}  // namespace ks
