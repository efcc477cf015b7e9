// The writing side of profile text must read back, through the importer's own line logic, into
// exactly the value that was written; what cannot is refused rather than written wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration/pure/profile_text.h"
#include "calibration/pure/profile_writer.h"

namespace ks {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = ValueLine::Kind;

Bytes Text(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

// What the platform's section reader hands the importer: each line trimmed, NUL-separated.
std::string Delivered(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        std::size_t first = line.find_first_not_of(" \t");
        std::size_t last = line.find_last_not_of(" \t");
        out += line.substr(first, last - first + 1);
        out += '\0';
    }
    return out;
}

Bytes Counting(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7);
    return b;
}

struct RoundTrip {
    std::string name;
    std::uint32_t type;
    Bytes data;
    Kind kind;
};

TEST(ProfileWriter, ValuesReadBackIdenticallyThroughTheImporterLineLogic) {
    const RoundTrip cases[] = {
        {"Name", kLineTypeString, Text("Colour document"), Kind::String},
        {"", kLineTypeString, Text("LINKENGINE"), Kind::String},  // the default value
        {"Path", kLineTypeString, Text("C:\\Scans\\\\double\\"), Kind::String},
        {"Quoted", kLineTypeString, Text("say \"hi\""), Kind::String},
        {"Empty", kLineTypeString, Text(""), Kind::String},
        {"Trailing quote\"", kLineTypeString, Text("\""), Kind::String},
        {"\"lead", kLineTypeString, Text("  spaced  "), Kind::String},
        {"TMap Hue", kLineTypeDword, {0x1e, 0, 0, 0}, Kind::Dword},
        {"Flags", kLineTypeDword, {0, 0, 0, 0x80}, Kind::Dword},
        {"Gamma - -1", kLineTypeBinary, {}, Kind::Binary},
        {"Gamma - 1", kLineTypeBinary, {0x0a}, Kind::Binary},
        {"Gamma - 2", kLineTypeBinary, Counting(25), Kind::Binary},
        {"Gamma - 3", kLineTypeBinary, Counting(1040), Kind::Binary},
        {"A name that is rather long so that the first hex line holds few bytes", kLineTypeBinary, Counting(40),
         Kind::Binary},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        WrittenValue written = WriteValueLines(c.name, c.type, c.data);
        ASSERT_FALSE(written.lines.empty()) << written.refusal;
        // Only the first line may run over: it holds the name and at least one byte.
        for (std::size_t i = 1; i < written.lines.size(); ++i) EXPECT_LE(written.lines[i].size(), kValueLineWidth);
        std::vector<std::string> joined = JoinSectionLines(Delivered(written.lines));
        ASSERT_EQ(joined.size(), 1u);
        std::optional<ValueLine> read = ParseValueLine(joined[0]);
        ASSERT_TRUE(read.has_value()) << joined[0];
        EXPECT_EQ(read->name, c.name);
        EXPECT_EQ(read->kind, c.kind);
        EXPECT_EQ(read->bytes, c.data);
    }
}

TEST(ProfileWriter, FormsAreThoseOfDefaultProfileFiles) {
    EXPECT_EQ(WriteValueLines("Name", kLineTypeString, Text("x")).lines, std::vector<std::string>{"\"Name\"=\"x\""});
    EXPECT_EQ(WriteValueLines("N", kLineTypeDword, Bytes{0x16, 0, 0, 0}).lines,
              std::vector<std::string>{"\"N\"=dword:00000016"});
    EXPECT_EQ(WriteValueLines("B", kLineTypeBinary, Bytes{0x0a, 0x1b, 0xff}).lines,
              std::vector<std::string>{"\"B\"=hex:0a,1b,ff"});
    EXPECT_EQ(WriteValueLines("E", kLineTypeBinary, Bytes{}).lines, std::vector<std::string>{"\"E\"=hex:"});
    // A long value continues after a comma and a backslash, on lines indented by two.
    std::vector<std::string> lines = WriteValueLines("G", kLineTypeBinary, Counting(40)).lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 2), ",\\");
    EXPECT_EQ(lines[1].substr(0, 2), "  ");
}

TEST(ProfileWriter, RefusesValuesTheImporterCannotReadBack) {
    const struct {
        std::string name;
        std::uint32_t type;
        Bytes data;
    } refused[] = {
        {"a=b", kLineTypeString, Text("x")},
        {"line\nbreak", kLineTypeDword, {0, 0, 0, 0}},
        {std::string("nul\0name", 8), kLineTypeBinary, {}},
        {"Text", kLineTypeString, Text("two\r\nlines")},
        {"Text", kLineTypeString, Bytes{'a', 0, 'b', 0}},
        {"Text", kLineTypeString, Bytes{'a', 'b'}},  // no terminator
        {"Text", kLineTypeString, Bytes{}},
        {"Short", kLineTypeDword, {1, 2}},
        {"Long", kLineTypeDword, {1, 2, 3, 4, 5}},
        {"Expand", 2, Text("%TEMP%")},
        {"Multi", 7, Text("a")},
        {"Qword", 11, Bytes(8, 0)},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        WrittenValue written = WriteValueLines(r.name, r.type, r.data);
        EXPECT_TRUE(written.lines.empty());
        EXPECT_FALSE(written.refusal.empty());
    }
}

TEST(ProfileWriter, SectionHeadersAndTheirLength) {
    std::string refusal;
    EXPECT_EQ(WriteSectionHeader("HKEY_CURRENT_USER\\Software\\A b", &refusal), "[HKEY_CURRENT_USER\\Software\\A b]");
    EXPECT_FALSE(WriteSectionHeader("HKEY_CURRENT_USER\\x]y", &refusal).has_value());
    EXPECT_FALSE(refusal.empty());
    EXPECT_FALSE(WriteSectionHeader("HKEY_CURRENT_USER\\x\ny", nullptr).has_value());

    EXPECT_EQ(DeliveredSectionLength({"\"a\"=\"b\"", "  cc,dd", "   "}), 8u + 6u);
    std::vector<std::string> big = WriteValueLines("G", kLineTypeBinary, Counting(1700)).lines;
    EXPECT_GT(DeliveredSectionLength(big), kImportedSectionLength);
}

}  // namespace
}  // namespace ks
