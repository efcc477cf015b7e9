// Written value lines must read back through the importer's own line logic into the same value;
// what cannot is refused rather than written wrong.
#include <gtest/gtest.h>

#include "calibration/pure/profile_text.h"
#include "calibration/pure/profile_writer.h"

namespace ks {
namespace {

using Bytes = std::vector<std::uint8_t>;
using K = ValueLine::Kind;
constexpr std::uint32_t kSz = kLineTypeString, kDw = kLineTypeDword, kBin = kLineTypeBinary;
Bytes Text(const std::string& s) { Bytes b(s.begin(), s.end()); b.push_back(0); return b; }
Bytes Counting(std::size_t n) { Bytes b(n); for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(i * 7); return b; }

TEST(ProfileWriter, ValuesReadBackIdenticallyAndLongHexLinesContinue) {
    const struct { std::string name; std::uint32_t type; Bytes data; K kind; std::size_t lines; } cases[] = {
        {"", kSz, Text("LINKENGINE"), K::String, 1}, {"P", kSz, Text("C:\\a\\\\b\\ \"hi\""), K::String, 1},
        {"E", kSz, Text(""), K::String, 1}, {"q\"", kSz, Text("\""), K::String, 1},
        {"\"lead", kSz, Text(" s "), K::String, 1}, {"F", kDw, {0x1e, 0, 0, 0x80}, K::Dword, 1},
        {"G", kBin, {}, K::Binary, 1}, {"Gm", kBin, Counting(1040), K::Binary, 42},
        {std::string(70, 'n'), kBin, Counting(40), K::Binary, 3},  // the first line holds the name and one byte
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines = WriteValueLines(c.name, c.type, c.data).lines;
        ASSERT_EQ(lines.size(), c.lines) << c.name;
        std::string delivered;  // as the platform's section reader hands it over: trimmed, NUL-separated
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            // Continued after ",\", indented by two; only a first line holding the name and one byte runs over.
            EXPECT_TRUE((i + 1 == lines.size() || line.ends_with(",\\")) && (i == 0 || line.starts_with("  ")) &&
                        (line.size() <= kValueLineWidth || line.find("hex:") + 8 == line.size())) << line;
            delivered += line.substr(line.find_first_not_of(' ')) + '\0';
        }
        std::vector<std::string> joined = JoinSectionLines(delivered);
        std::optional<ValueLine> read = joined.size() == 1 ? ParseValueLine(joined[0]) : std::nullopt;
        ASSERT_TRUE(read.has_value()) << c.name;
        EXPECT_TRUE(read->name == c.name && read->kind == c.kind && read->bytes == c.data) << c.name;
    }
}

TEST(ProfileWriter, RefusesWhatTheImporterCannotReadBack) {
    const struct { std::string name; std::uint32_t type; Bytes data; } refused[] = {
        {"a=b", kSz, Text("x")}, {"line\nbreak", kDw, {0, 0, 0, 0}}, {std::string("nul\0name", 8), kBin, {}},
        {"T", kSz, Text("two\r\nlines")}, {"T", kSz, {'a', 0, 'b', 0}}, {"T", kSz, {'a', 'b'}}, {"T", kSz, {}},
        {"D", kDw, {1, 2}}, {"D", kDw, {1, 2, 3, 4, 5}}, {"E", 2, Text("%TEMP%")}, {"Q", 11, Bytes(8, 0)},
    };
    for (const auto& r : refused) {
        WrittenValue written = WriteValueLines(r.name, r.type, r.data);
        EXPECT_TRUE(written.lines.empty() && !written.refusal.empty()) << r.name;
    }
    std::string why;
    EXPECT_TRUE(!WriteSectionHeader("HKEY_CURRENT_USER\\x]y", &why) && !why.empty());
    EXPECT_FALSE(WriteSectionHeader("HKEY_CURRENT_USER\\x\ny", nullptr).has_value());
    EXPECT_EQ(DeliveredSectionLength({"\"a\"=\"b\"", "  cc,dd", "   "}), 8u + 6u);
}

}  // namespace
}  // namespace ks
