// The Windows-free logic: the store's list and new-profile naming; the importer's line logic, gamma format and
// placeholders, with the writer's lines reading back through it unchanged; the registration script parser.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "calibration/pure/integer_format.h"
#include "calibration/pure/profile_text.h"
#include "calibration/pure/profile_writer.h"
#include "core/pure/growable_list.h"
#include "core/pure/profiles_file.h"
#include "profiles/pure/new_profile.h"
#include "server/pure/registration_script.h"

namespace ks {
namespace {

struct Record { char text[12]; long number; };
std::string Show(const Record& r) { return r.text + std::to_string(r.number); }

int g_growthsLeft = 0;  // reallocations that succeed before one fails

void* FailingRealloc(void* block, std::size_t bytes) {
    if (bytes == 0) std::free(block);
    return bytes != 0 && g_growthsLeft-- > 0 ? std::realloc(block, bytes) : nullptr;
}

TEST(GrowableListTest, CapacityDoublesFromOneFailedGrowthDropsOnlyTheNewRecordAndBadIndexesTouchNothing) {
    const ReallocFn saved = std::exchange(g_listRealloc, &FailingRealloc);
    {
        GrowableList<Record> list;
        g_growthsLeft = 4;  // capacities 1, 2, 4 and 8 succeed, 16 fails
        for (long i = 0; i < 9; ++i) EXPECT_EQ(list.Append({{'r', char('0' + i)}, i}), i < 8);
        EXPECT_EQ(std::pair(list.Count(), list.Capacity()), std::pair(8L, 8L));
        const Record sentinel{"sentinel", 77};
        Record out = sentinel;
        for (long index : {-1L, 8L}) EXPECT_FALSE(list.CopyOut(index, &out) || list.Replace(index, {"x", 5})) << index;
        EXPECT_EQ(std::memcmp(&out, &sentinel, sizeof(out)), 0);
        EXPECT_TRUE(list.Replace(7, {"b", 4}) && list.CopyOut(7, &out));
        EXPECT_EQ(Show(out), "b4");  // copied whole
        list.Clear();
        EXPECT_TRUE(list.Count() == 0 && list.Capacity() == 0 && !list.CopyOut(0, &out));
    }
    g_listRealloc = saved;
}

TEST(NewProfileTest, CandidateSkipsEveryTakenNameInTurn) {
    // Case-sensitive, only the key-style form counts, and numbers only once the plain name is taken (the profile
    // tests under Wine pin "*X0*" after "*X*").
    const std::set<std::string> taken{"*base*", "Base", "*Base0*", "*Base1*"};
    EXPECT_EQ(FreeNameCandidate("Base", [&](const std::string& n) { return taken.count(n) != 0; }), "*Base*");
    EXPECT_EQ(FreeNameCandidate("Base", [](const std::string& n) { return n != "*Base10*"; }), "*Base10*");
    EXPECT_EQ(DisplayNameOf(FreeNameCandidate("a*b", [](const std::string&) { return false; })), "ab");
}

TEST(NewProfileTest, PageSizeIsComputedInSigned32BitArithmetic) {
    // Toward zero (a positive page is pinned by the profile tests under Wine); 0 without resolution; 2147484000
    // wraps past INT32_MAX, INT32_MIN * 1000 to 0, 2^28 * 1000 to exactly INT32_MIN, whose negation does not fit.
    const std::int32_t cases[][3] = {{-1, 3, -333}, {1, -3, -333}, {850, 0, 0}, {2147484, 1, -2147483296},
                                     {INT32_MIN, 1, 0}, {268435456, 1, INT32_MIN}, {268435456, -1, 0}};
    for (const auto& [extent, resolution, page] : cases) {
        EXPECT_EQ(PageThousandths(extent, resolution), page) << extent << " / " << resolution;
    }
}

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
        {"v=hex:,,0a,,ff,", "v|hex|0aff"}, {"v=hex:zz,1", "v|hex|0001"}, {"v=dword:+0a", "v|dword|0a000000"},
        {"v=dword:-1", "v|dword|ffffffff"},
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

// The whole-text reader that the support tool's import shares with the store: the store's grammar
// ("dword:0x1e", "dword:-1", quotes taken as they stand), and for a strict caller each line the import
// would skip or read other than written, by number; without a sink the same values are read.
TEST(ProfileTextTest, StrictReaderReportsWhatTheImportSkipsOrReadsOtherwise) {
    const std::string d = "[HKEY_CURRENT_USER\\D]\r\n";
    const struct { std::string text; std::string read; std::vector<std::pair<std::size_t, std::string>> problems; } cases[] = {
        {d + "N=dword:0x1e\nM=dword:-1\n; note\n\n\"S\"=string:x\"y\nQ=\"a\nG=hex:0a,1B,\\\n  ff\n",
         "[HKEY_CURRENT_USER\\D] N|dword|1e000000 M|dword|ffffffff S|sz|x\"y Q|sz|a G|hex|0a1bff", {}},
        {d + "A=dword:\nB=dword:123456789\nC=hex:0g,,6,\n", "[HKEY_CURRENT_USER\\D] A|dword|00000000 B|dword|78563412 C|hex|0006",
         {{2, "\"\" is not a number of 1 to 8 hexadecimal digits: it is read as 00000000"}, {3, "is read as 12345678"},
          {4, "\"0g\" is not a byte of two hexadecimal digits: it is read as 00"}}},
        {d + "A=D:\\Scans\nB\n", "[HKEY_CURRENT_USER\\D]", {{2, "unknown value type \"D\""}, {3, "no \"=\""}}},
        {"\x01\x02garbage\nA=\"x\"\n[HKCU\\x]\n[HKEY_USERS\\y\nB=hex:01\n[HKEY_USERS\\z]\nC=hex:01,\\\n",
         "[HKCU\\x] [HKEY_USERS\\z]",
         {{1, "no \"=\""}, {2, "outside any section"}, {3, "no registry root"}, {4, "without its closing ]"},
          {7, "continued past the end of its section"}}},
    };
    for (const auto& c : cases) {
        std::vector<TextProblem> problems;
        auto show = [](const std::vector<ProfileSection>& sections) {
            std::string out;
            for (const ProfileSection& section : sections) {
                out += (out.empty() ? "[" : " [") + section.header + "]";
                for (const ValueLine& v : section.values) {
                    out += " " + v.name + (v.kind == K::String ? "|sz|" : v.kind == K::Dword ? "|dword|" : "|hex|");
                    if (v.kind == K::String) out += std::string(v.bytes.begin(), v.bytes.end() - 1);
                    for (std::uint8_t x : v.kind == K::String ? Bytes{} : v.bytes)
                        out += {"0123456789abcdef"[x >> 4], "0123456789abcdef"[x & 15]};
                }
            }
            return out;
        };
        EXPECT_EQ(show(ReadProfileText(c.text, nullptr, &problems)), c.read) << c.text;
        EXPECT_EQ(show(ReadProfileText(c.text)), c.read) << "without a sink";
        ASSERT_EQ(problems.size(), c.problems.size()) << c.text;
        for (std::size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].line, c.problems[i].first) << problems[i].reason;
            EXPECT_NE(problems[i].reason.find(c.problems[i].second), std::string::npos) << problems[i].reason;
        }
    }
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
        {"%lX", "FFFFFFFF", nullptr, -1}, {"%+hd", "-1", nullptr, 65535}, {"%-4hhd|", "-1  |", nullptr, 255},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatInteger(c.format, c.value, c.isLead), c.out) << c.format;
    // Refused: the placeholder is then left as it stands (the default-profile rows below).
    for (const char* format : {"", "text", "%%", "%n", "%c", "%.*d", "%1$d", "%d%d", "%lld", "%jd", "%hhhd", "%I64d",
                               "%", "%d%", "%5%", "%65d", "%.65d", "%.99999999999999999999d"}) {
        EXPECT_EQ(FormatInteger(format, 22), std::nullopt) << format;
    }
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
        {"a\n[R\\eventprofiles]\n[R\\EventProfiles\\X]\n", "a\n[R\\eventprofiles]\n[R\\EventProfiles\\X]\n"},
        // Double-byte characters hide placeholder bytes.
        {dbcs, "\x81x=2;\x81R;R"}, {dbcs, "\x81%GAMMA_VALUES=1,2,3,<%d>%x=%GAMMA%;\x81%ROOT%;R", DoubleByteLead},
    };
    for (const auto& c : cases) EXPECT_EQ(FillDefaultProfile(c.text, "R", c.isLead), c.filled) << c.text;
    EXPECT_EQ(FillDefaultProfile("a\n[%ROOT%\\EventProfiles]\n", "\x81\\", DoubleByteLead), "a\n");  // also in the root
}

// A hardware name becomes a file name in the Profiles folder only when it cannot lead anywhere else.
TEST(ProfilesFileTest, NamesThatWouldLeaveTheFolderOrNameADeviceHaveNoFile) {
    EXPECT_EQ(ProfilesFilePath("C:\\K", "Scanner", ".ks4", nullptr), "C:\\K\\Profiles\\Scanner.ks4");
    for (const char* name : {"", "...", "a.", "CONSOLE", "NULL.x", "COM10", "LPT", "x CON", "\x95\\"})
        EXPECT_TRUE(ProfilesFilePath("F", name, ".ks4", DoubleByteLead)) << name;  // 0x5C trails 0x95 there
    for (const char* name : {".", "..", "..\\x", "../x", "a\\..\\..\\x", "C:x", "a:s", "\x95\\", "CON", "nul.txt",
                             "Aux  .x", "com1", "LPT0", "COM\xB9", "conout$"})
        EXPECT_FALSE(ProfilesFilePath("F", name, ".ks4", nullptr)) << name;
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

using namespace rgs;

// Keys in one line: <flag> after the name, ='text' for a default, braces around values and subkeys.
std::string Show(const std::vector<Key>& keys) {
    static const char* const flags[] = {"", "<NoRemove>", "<ForceRemove>", "<Delete>"};
    std::string out;
    for (const Key& key : keys) {
        out += (out.empty() ? "" : " ") + key.name + flags[static_cast<int>(key.flag)];
        if (key.hasDefault) out += "='" + key.defaultText + "'";
        if (key.values.empty() && key.children.empty()) continue;
        out += "{";
        for (const NamedValue& value : key.values) out += "val " + value.name + "='" + value.text + "' ";
        out += Show(key.children) + "}";
    }
    return out;
}

TEST(RegistrationScriptTest, NamesValuesFlagsNestingAndReplacements) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""}, {"HKCR\n{\n\tplain\n}", "plain"}, {"HKCR { 'it''s' = s 'can''t' }", "it's='can't'"},
        // Keywords only count when bare and are matched without regard to case.
        {"hkey_classes_root { noremove A { } 'NoRemove' 'val' }", "A<NoRemove> NoRemove val"},
        {"HKCR { NoRemove A { ForceRemove {B-1} = s 'x' { val V = s '1' val 'with space' = s '''q''' C = s '' }"
         " Delete D } }",
         "A<NoRemove>{{B-1}<ForceRemove>='x'{val V='1' val with space=''q'' C=''} D<Delete>}"},
        // Root blocks are joined; '}' and '=' stand alone only at the start of a word, else a word runs to white space.
        {"HKCR { a =s 'x'}HKCR {\nb\n}", "a='x' b"}, {"HKCR { x{ a=b }", "x{ a=b"},
        // Replacement names ignore case; only MODULE doubles quotes, so the raw path's quote ends the string early.
        {"HKCR { k = s '%module%' }", "k='C:\\O'Brien's\\Registry.dll'"}, {"HKCR { '%APPID%' }", "{APP}"},
        {"HKCR { k = s '100%% %AppId%%APPID%' }", "k='100% {APP}{APP}'"},
        {"HKCR { k = s '%Module_Raw%' }", "k='C:\\O' Brien's\\Registry.dll'"},
    };
    const Replacements replacements = ModuleReplacements("C:\\O'Brien's\\Registry.dll", "{APP}");
    for (const auto& [text, tree] : cases) {
        auto result = ParseScript(text, replacements);
        const Script* script = std::get_if<Script>(&result);
        EXPECT_EQ(script ? Show(script->keys) : "refused", tree) << text;
    }
}

TEST(RegistrationScriptTest, MalformedScriptsAreRefusedWithThePlaceInTheOriginalText) {
    std::string deep = "HKCR {";
    for (int i = 0; i < 10000; ++i) deep += " k {";
    const struct { std::string_view text; std::size_t line, column; const char* messagePart; } cases[] = {
        {"HKCR { a", 1, 9, "missing '}'"}, {"HKLM { a }", 1, 1, "unsupported root key 'HKLM'"},
        {"HKCR {\n  a = s 'open\n}", 2, 9, "unterminated quoted string"}, {"HKCR { '' }", 1, 8, "empty key name"},
        {"HKCR { a = S 'x' }", 1, 12, "unknown value type 'S'"}, {"HKCR { a = d '5' }", 1, 12, "not supported"},
        {"HKCR { a = s b }", 1, 14, "expected a quoted string"}, {"HKCR { a { val v s 'x' } }", 1, 18, "expected '='"},
        {"HKCR { val v = s 'x' }", 1, 8, "takes no values"}, {"HKCR { NoRemove val a = s 'x' }", 1, 17, "one flag"},
        {"HKCR {\n k = s '%NOPE%' }", 2, 9, "replacement %NOPE%"}, {"HKCR { k = s '%MODULE' }", 1, 15, "unterminated"},
        {"HKCR { '%APPID%' = x }", 1, 20, "unknown value type"},  // place in the text before replacing
        {std::string_view("HKCR { a\0 }", 11), 1, 9, "NUL character"}, {deep, 1, 262, "nested too deeply"},
    };
    const Replacements replacements = ModuleReplacements("C:\\a much longer module path\\Registry.dll", "{G}");
    for (const auto& c : cases) {
        auto result = ParseScript(c.text, replacements);
        const ParseError* error = std::get_if<ParseError>(&result);
        ASSERT_NE(error, nullptr) << c.text.substr(0, 40);
        EXPECT_EQ(std::pair(error->line, error->column), std::pair(c.line, c.column)) << error->Describe();
        EXPECT_NE(error->message.find(c.messagePart), std::string::npos) << error->Describe();
    }
}

}  // namespace
}  // namespace ks
