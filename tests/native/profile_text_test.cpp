// The importer's line logic, gamma format and placeholders; the writer's lines must read back through it unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration/pure/integer_format.h"
#include "calibration/pure/profile_text.h"
#include "calibration/pure/profile_writer.h"

namespace ks {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using K = ValueLine::Kind;

// Lead bytes of a Japanese double-byte code page; 0x5C ("\\") is a valid trail byte there.
bool DoubleByteLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// A parsed value line as "name|type|data", the data as sz text (its NUL checked) or bytes in hex; "-": ignored.
std::string Show(std::string_view line, LeadBytePredicate isLead = nullptr) {
    const auto v = ParseValueLine(line, isLead);
    if (!v) return "-";
    static const char* const kinds[] = {"|sz|", "|dword|", "|hex|"};
    std::string out = v->name + kinds[static_cast<int>(v->kind)];
    const Bytes& b = v->bytes;
    if (v->kind == K::String) return b.empty() || b.back() ? "<no NUL>" : out + std::string(b.begin(), b.end() - 1);
    for (std::uint8_t x : b) out += {"0123456789abcdef"[x >> 4], "0123456789abcdef"[x & 15]};
    return out;
}

TEST(ValueLineTest, NamesQuotesTypeWordsAndNumberWidths) {
    const struct { std::string line, parsed; LeadBytePredicate isLead = nullptr; } cases[] = {
        // Quotes around a name or text: the first goes and one trailing one if any (a lone one: the empty name).
        {"\"=hex", "|hex|"}, {"\"a\"\"=hex", "a\"|hex|"}, {"a=\"x", "a|sz|x"}, {"a=\"\"x\"\"", "a|sz|\"x\""},
        {"a=string:\"q\"", "a|sz|\"q\""}, {"a=string:b=c:d", "a|sz|b=c:d"},
        // No "=", or a type word that is unknown (they are case-sensitive): the line is ignored.
        {"no equals sign", "-"}, {"a=DWORD:1", "-"}, {"a= dword:1", "-"},
        // Numbers read like scanf "%08X" (dword) and "%02X" (hex pieces, split like strtok on ","), as the fuzzer
        // checks; pinned here: the widths, and that a piece without a digit gives 0.
        {"a=dword", "a|dword|00000000"}, {"v=dword:0x123456789", "v|dword|56341200"}, {"v=hex:1ff", "v|hex|1f"},
        {"v=hex:,,0a,,ff,", "v|hex|0aff"}, {"v=hex:zz,1", "v|hex|0001"},
        // "\x81=", "\x81:", "\x81\"" and "\x81," are single characters only with the double-byte code page.
        {"\x81=x=hex", "\x81=x|hex|", DoubleByteLead}, {"a=dword\x81:1", "-", DoubleByteLead},
        {"\"\x81\"=hex", "\x81\"|hex|", DoubleByteLead}, {"a=\"\x81\"", "a|sz|\x81\"", DoubleByteLead},
        {"a=hex:\x81,01", "a|hex|0001"}, {"a=hex:\x81,01", "a|hex|00", DoubleByteLead},
    };
    for (const auto& c : cases) EXPECT_EQ(Show(c.line, c.isLead), c.parsed) << c.line;
}

TEST(JoinSectionLinesTest, JoinsOnlyContinuedHexLines) {
    const struct { std::string delivered; Lines lines; LeadBytePredicate isLead = nullptr; } cases[] = {
        {"a=hex:01,\\\0 02\0b=dword:1\0"s, {"a=hex:01, 02", "b=dword:1"}},
        {"a=dword:1\\\0b=string:y\\\0"s, {"a=dword:1\\", "b=string:y\\"}},
        {"a=hex(2):00\\\0b\0a=HEX:0\\\0c\0"s, {"a=hex(2):00\\", "b", "a=HEX:0\\", "c"}},
        // An empty line ends a continuation unless the line still ends in a backslash.
        {"a=hex:01,\\\0\0b=dword:1\0"s, {"a=hex:01,", "b=dword:1"}}, {"a=hex:01\\\\\0\0x\0"s, {"a=hex:01x"}},
        // A line that never ended is dropped: cut off without its NUL, or continued by a line that never came.
        {"a=dword:1\0b=dwo"s, {"a=dword:1"}}, {"a=dword:1\0b=hex:01,\\\0" "02,\\\0"s, {"a=dword:1"}},
        // A backslash or "=" that is a trail byte neither continues nor starts "=hex:".
        {"a=hex:01,\x81\\\0" "02\0"s, {"a=hex:01,\x81\\", "02"}, DoubleByteLead},
        {"\x81=hex:01\\\0" "02\0"s, {"\x81=hex:01\\", "02"}, DoubleByteLead},
    };
    for (const auto& c : cases) EXPECT_EQ(JoinSectionLines(c.delivered, c.isLead), c.lines) << c.delivered;
}

TEST(SectionHeaderTest, SplitsAtFirstBackslashAndKnowsOnlyLongRootNames) {
    const auto target = ParseSectionHeader("HKEY_LOCAL_MACHINE\\a\\\\b\\", DoubleByteLead);
    EXPECT_TRUE(target && target->root == RootKey::LocalMachine && target->path == "a\\\\b\\");
    for (const char* header : {"HKEY_USERS", "hkey_users\\a", " HKEY_USERS\\a", "HKEY_USERS \\a", "HKLM\\a"}) {
        EXPECT_FALSE(ParseSectionHeader(header)) << header;
    }
}

TEST(IntegerFormatTest, AcceptsOneIntegerConversionWithinTheLimitsOnly) {
    const std::string longest(kMaxFormatLength - 2, 'a');  // the fuzzer compares accepted formats with snprintf
    const struct { std::string format; std::optional<std::string> out; LeadBytePredicate isLead = nullptr;
                   int value = 22; } cases[] = {
        {"%%%d%%", "%22%"}, {"%-5.3x|", "016  |"}, {"%64d", std::string(62, ' ') + "22"},
        {"%.64d", std::string(62, '0') + "22"}, {longest + "%d", longest + "22"}, {longest + "a%d", {}},
        // "\x81%" is one character in the double-byte code page, so "%%d" becomes "%d" there.
        {"\x81%%d", "\x81%22", DoubleByteLead}, {"\x81%%d", {}},
        // Length modifiers that still take one 32-bit int; "h" and "hh" narrow it as printf does.
        {"%lX", "FFFFFFFF", nullptr, -1}, {"%hX", "1170", nullptr, 70000}, {"%+hd", "-1", nullptr, 65535},
        {"%hhu", "44", nullptr, 300}, {"%-4hhd|", "-1  |", nullptr, 255},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatInteger(c.format, c.value, c.isLead), c.out) << c.format;
    // More hostile formats go through the whole import in the fault tests.
    for (const char* format : {"", "text", "%%", "%n", "%c", "%.*d", "%1$d", "%d%d", "%lld", "%jd", "%hhhd", "%I64d",
                               "%", "%d%", "%5%", "%65d", "%.65d", "%.99999999999999999999d"}) {
        EXPECT_EQ(FormatInteger(format, 22), std::nullopt) << format;
    }
    EXPECT_EQ(FormatInteger("%zd", 22).has_value(), sizeof(std::size_t) == 4);  // where size_t is 32 bits
}

TEST(DefaultProfileTest, PlaceholdersAreFilledAndTextIsCutAtEventSection) {
    const std::string g = "x%GAMMA_VALUES=", dbcs = "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;%ROOT%";
    const struct { std::string text, filled; LeadBytePredicate isLead = nullptr; } cases[] = {  // the root is "R"
        {"%GAMMA_VALUES=10,22,30,<%d>%a=%GAMMA%", "%GAMMA_VALUES=10,22,30,<%d>%a=%GAMMA%"},  // at byte 0
        {g + "10,22,30,<%d>a=%GAMMA%", g + "10,22,30,<%d>a=%GAMMA%"},                        // never closed
        {g + "1,2,3,<%d>%y%GAMMA_VALUES=4,5,6,<%d>%%GAMMA%", "xy%GAMMA_VALUES=4,5,6,<%d>%2"},
        {g + "1,2,3,<%d>%y%GAMMA_VALUES=1,2,3,<%d>%z", "xyz"},  // every copy goes
        {g + "1,2,3,<%%ROOT%%_%04x>%%GAMMA%", "xR_0002"}, {g + "1,2,3,<<%d>>%%GAMMA%", "x<2>"},
        // The second number of "%d,%d,%d" read from the text before the last comma; out of range saturates.
        {g + "10 ,22,30,<%d>%%GAMMA%", "x0"}, {g + "10,22,<%d>%%GAMMA%", "x22"}, {g + "1,2,3,<a,%d>%%GAMMA%", "xa,2"},
        {g + "1,99999999999,3,<%d>%%GAMMA%", "x2147483647"}, {g + "1,-99999999999,3,<%d>%%GAMMA%", "x-2147483648"},
        // A refused format keeps "%GAMMA%" as it is; the placeholder goes all the same.
        {g + "1,2,3,<%n>%b=%GAMMA%", "xb=%GAMMA%"}, {g + "1,2,3,%d>%b=%GAMMA%", "xb=%GAMMA%"},
        // The event section header cuts, also when written out in full; only that exact header does.
        {"[%ROOT%]\nv=\"%ROOT%%ROOT%\"\n%ROOT", "[R]\nv=\"RR\"\n%ROOT"}, {"a\n[R\\EventProfiles]\nb", "a\n"},
        {"a\n[R\\eventprofiles]\n", "a\n[R\\eventprofiles]\n"},
        {"a\n[R\\EventProfiles\\X]\n", "a\n[R\\EventProfiles\\X]\n"},
        // Double-byte characters hide placeholder bytes.
        {dbcs, "\x81x=2;\x81R;R"}, {dbcs, "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;R", DoubleByteLead},
    };
    for (const auto& c : cases) EXPECT_EQ(FillDefaultProfile(c.text, "R", c.isLead), c.filled) << c.text;
    EXPECT_EQ(FillDefaultProfile("a\n[%ROOT%\\EventProfiles]\n", "\x81\\", DoubleByteLead), "a\n");  // also in the root
}

Bytes Text(const std::string& s) { Bytes b(s.begin(), s.end()); b.push_back(0); return b; }
Bytes Counting(std::size_t n) { Bytes b(n); for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(i * 7); return b; }

TEST(ProfileWriterTest, ValuesReadBackIdenticallyOrAreRefused) {
    constexpr std::uint32_t kSz = kLineTypeString, kDw = kLineTypeDword, kBin = kLineTypeBinary;
    const struct { std::string name; std::uint32_t type; Bytes data; std::size_t lines; } cases[] = {
        {"E", kSz, Text(""), 1}, {"q\"", kSz, Text("\""), 1}, {"\"lead", kSz, Text(" s "), 1},
        {"F", kDw, {0x1e, 0, 0, 0x80}, 1}, {"G", kBin, {}, 1}, {"Gm", kBin, Counting(1040), 42},
        {std::string(70, 'n'), kBin, Counting(40), 3},  // the first line holds the name and one byte
        // No lines: what the importer cannot read back is refused, with a reason.
        {"a=b", kSz, Text("x"), 0}, {"line\nbreak", kDw, {0, 0, 0, 0}, 0}, {std::string("nul\0name", 8), kBin, {}, 0},
        {"T", kSz, Text("two\r\nlines"), 0}, {"T", kSz, {'a', 0, 'b', 0}, 0}, {"T", kSz, {'a', 'b'}, 0},
        {"T", kSz, {}, 0}, {"D", kDw, {1, 2}, 0}, {"D", kDw, {1, 2, 3, 4, 5}, 0}, {"E", 2, Text("%TEMP%"), 0},
    };
    for (const auto& c : cases) {
        const WrittenValue written = WriteValueLines(c.name, c.type, c.data);
        const Lines& lines = written.lines;
        ASSERT_EQ(lines.size(), c.lines) << c.name;
        EXPECT_EQ(written.refusal.empty(), c.lines != 0) << c.name;
        std::string delivered;  // as the platform's section reader hands it over: trimmed, NUL-separated
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            // Continued after ",\", indented by two; only a first line holding the name and one byte runs over.
            EXPECT_TRUE((i + 1 == lines.size() || line.ends_with(",\\")) && (i == 0 || line.starts_with("  ")) &&
                        (line.size() <= kValueLineWidth || line.find("hex:") + 8 == line.size())) << line;
            delivered += line.substr(line.find_first_not_of(' ')) + '\0';
        }
        if (c.lines == 0) continue;
        const Lines joined = JoinSectionLines(delivered);
        const std::optional<ValueLine> read = joined.size() == 1 ? ParseValueLine(joined[0]) : std::nullopt;
        const K kind = c.type == kSz ? K::String : c.type == kDw ? K::Dword : K::Binary;
        EXPECT_TRUE(read && read->name == c.name && read->kind == kind && read->bytes == c.data) << c.name;
    }
    std::string why;
    EXPECT_TRUE(!WriteSectionHeader("HKEY_CURRENT_USER\\x]y", &why) && !why.empty());
    EXPECT_FALSE(WriteSectionHeader("HKEY_CURRENT_USER\\x\ny", nullptr).has_value());
    EXPECT_EQ(DeliveredSectionLength({"\"a\"=\"b\"", "  cc,dd", "   "}), 8u + 6u);
}

}  // namespace
}  // namespace ks
