// ksconfig's registry editor files: read strictly (each bad line named), version 5 text written so that it reads
// back byte for byte, and the import's refusal of other roots. (Profile text is the store's: pure_logic_test.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ksconfig/pure/reg_text.h"

namespace ksconfig::regtext {
namespace {

const std::u16string kRoot = u"HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0";

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) { return {list.begin(), list.end()}; }

TEST(RegTextTest, EachFormatReadsItsValueFormsAndTheWriterReadsBackTheSame) {
    const std::u16string reg5 = u"Windows Registry Editor Version 5.00\r\n\r\n[" + kRoot +
        u"\\D]\r\n@=\"C:\\\\a \\\"b\\\"\"\r\n\"Gamma - 1\"=hex:0a,1B,\\\r\n  ff ; end\r\n\"N\"=dword:0000001e\r\n"
        u"\"E\"=hex(2):25,00,00,00\r\n\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n; note\r\n";
    const Document a = Parse(reg5);
    ASSERT_TRUE(a.problems.empty()) << a.problems.size();
    EXPECT_EQ(a.format, Format::Reg5);
    EXPECT_EQ(Parse(u"[" + kRoot + u"]\nA=dword:1\n").format, Format::ProfileText);  // left to the store's reader
    const Value text{u"", kTypeSz, Bytes({'C', 0, ':', 0, '\\', 0, 'a', 0, ' ', 0, '"', 0, 'b', 0, '"', 0, 0, 0})};
    const Value gamma{u"Gamma - 1", kTypeBinary, Bytes({0x0a, 0x1b, 0xff})};
    const Value number{u"N", kTypeDword, Bytes({0x1e, 0, 0, 0})};
    EXPECT_EQ(a.keys, (std::vector<Key>{{kRoot + u"\\D", {text, gamma, number,
        {u"E", kTypeExpandSz, Bytes({0x25, 0, 0, 0})}, {u"Q", 0xb, Bytes({1, 2, 3, 4, 5, 6, 7, 8})}}}}));
    EXPECT_EQ(Parse(u"REGEDIT4\n[" + kRoot + u"]\n\"A\"=\"1\"\n").format, Format::Reg4);

    // Texts that are not one NUL-terminated text, short dwords, names with quotes and line breaks, long binaries.
    std::vector<std::uint8_t> wide(300);
    for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<std::uint8_t>(i);
    const std::vector<Key> odd = {{kRoot + u"\\]odd[", {{u"a\"b\\c\r\nd", kTypeSz, Bytes({'x', 0})},
        {u"two", kTypeSz, Bytes({'x', 0, 0, 0, 'y', 0, 0, 0})}, {u"odd", kTypeSz, Bytes({'x', 0, 0})},
        {u"short", kTypeDword, Bytes({1, 2})}, {u"none", 0, {}}, {u"wide", kTypeBinary, wide},
        {u"lines", kTypeSz, Bytes({'\r', 0, '\n', 0, '"', 0, 0, 0})}}}, {kRoot + u"\\empty", {}}};
    const std::u16string written = Write(odd);
    EXPECT_EQ(written.rfind(u"Windows Registry Editor Version 5.00\r\n\r\n[", 0), 0u);
    const Document back = Parse(written);
    EXPECT_TRUE(back.problems.empty());
    EXPECT_EQ(back.keys, odd);
    std::vector<std::u16string> leftOut;
    EXPECT_EQ(Parse(Write({{u"A\nB", {}}, {u"C", {}}}, &leftOut)).keys, (std::vector<Key>{{u"C", {}}}));
    EXPECT_EQ(leftOut, std::vector<std::u16string>{u"A\nB"});
}

// Damaged input is never read as something else: every bad line is named, and the good lines around it still count.
TEST(RegTextTest, BadLinesAreReportedWithTheirNumbers) {
    const struct { std::u16string text; std::size_t line; std::string reason; } cases[] = {
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=dword:xyz\n", 3, "dword: needs 1 to 8"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=dword:123456789\n", 3, "1 to 8"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=hex:zz,01\n", 3, "\"zz\" is not a byte"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=hex:01,\\\n", 3, "past the end"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"\n\"A\"=\"x\"\n", 2, "without its closing ]"},
        {u"Windows Registry Editor Version 5.00\n\n\"A\"=\"x\"\n", 3, "outside any key"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A=\"x\"\n", 3, "no \"=\""},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=\"x\\q\"\n", 3, "unknown escape \\q"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=-\n", 3, "deleting values"},
        {u"Windows Registry Editor Version 5.00\n[-" + kRoot + u"]\n", 2, "deleting keys"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"\\\\x]\n", 2, "empty part"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\n\"A\"=word:1\n", 3, "unknown value type"},
        {u"Windows Registry Editor Version 5.00\n[" + kRoot + u"]\nA=\"x\"\n", 3, "not a key, value or comment"},
    };
    for (const auto& c : cases) {
        const Document doc = Parse(c.text);
        ASSERT_EQ(doc.problems.size(), 1u) << c.reason;
        EXPECT_EQ(doc.problems[0].line, c.line) << c.reason;
        EXPECT_NE(doc.problems[0].reason.find(c.reason), std::string::npos) << doc.problems[0].reason;
    }
}

TEST(RegTextTest, OnlyTheSettingsRootAndTheBackupTreeMayBeImported) {
    for (const char16_t* path : {u"HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.0",
                                 u"hkey_current_user\\software\\stellwick backup\\Dev\\ScanProfiles"}) {
        EXPECT_EQ(Refusal(path), "") << Utf8(path);
    }
    const struct { const char16_t* path; const char* reason; } refused[] = {
        {u"HKEY_LOCAL_MACHINE\\Software\\Stellwick\\Keystrel 4.0", "\"HKEY_LOCAL_MACHINE\" is refused"},
        {u"HKEY_CLASSES_ROOT\\CLSID", "\"HKEY_CLASSES_ROOT\" is refused"},
        {u"HKCU\\Software\\Stellwick\\Keystrel 4.0", "\"HKCU\" is refused"},
        {u"HKEY_CURRENT_USER\\Software\\Stellwick\\Keystrel 4.01", "is outside the settings"},
        {u"HKEY_CURRENT_USER\\Software\\Stellwick", "is outside the settings"},
    };
    for (const auto& r : refused) EXPECT_NE(Refusal(r.path).find(r.reason), std::string::npos) << Refusal(r.path);
}

TEST(RegTextTest, ReasonsAreUtf8WithALoneSurrogateReplaced) {
    EXPECT_EQ(Utf8(u"a\u00e9\u20ac\U0001F600\xD800x"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace ksconfig::regtext
