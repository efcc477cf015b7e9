#include <gtest/gtest.h>

#include "server/pure/registration_script.h"

namespace ks::rgs {
namespace {

Script Parse(std::string_view text, const Replacements& replacements = {}) {
    auto result = ParseScript(text, replacements);
    if (auto* error = std::get_if<ParseError>(&result)) {
        ADD_FAILURE() << error->Describe() << "\n" << text;
        return {};
    }
    return std::get<Script>(result);
}

Key K(std::string name, const char* defaultText = nullptr, KeyFlag flag = KeyFlag::None) {
    return {std::move(name), flag, defaultText != nullptr, defaultText ? defaultText : "", {}, {}};
}

TEST(RegistrationScriptTest, NamesValuesFlagsAndNesting) {
    Key nested = K("A", nullptr, KeyFlag::NoRemove);
    Key b = K("{B-1}", "x", KeyFlag::ForceRemove);
    b.values = {{"V", "1"}, {"with space", "'q'"}};
    b.children = {K("C", "")};
    nested.children = {b, K("D", nullptr, KeyFlag::Delete)};
    const std::pair<const char*, std::vector<Key>> cases[] = {
        {"", {}},
        {"HKCR\n{\n\tplain\n}", {K("plain")}},
        {"HKCR { 'it''s' = s 'can''t' }", {K("it's", "can't")}},
        // Keywords only count when bare and are matched without regard to case.
        {"hkey_classes_root { noremove A { } 'NoRemove' 'val' }",
         {K("A", nullptr, KeyFlag::NoRemove), K("NoRemove"), K("val")}},
        {"HKCR { NoRemove A { ForceRemove {B-1} = s 'x' { val V = s '1' val 'with space' = s '''q''' C = s '' }"
         " Delete D } }",
         {nested}},
        // Two root blocks are joined; '}' and '=' stand alone at the start of a word.
        {"HKCR { a =s 'x'}HKCR {\nb\n}", {K("a", "x"), K("b")}},
        // Otherwise a word runs to white space, so braces and '=' inside a name stay part of it.
        {"HKCR { x{ a=b }", {K("x{"), K("a=b")}},
    };
    for (const auto& [text, keys] : cases) EXPECT_EQ(Parse(text).keys, keys) << text;
}

TEST(RegistrationScriptTest, ReplacementsIgnoreCaseAndOnlyModuleDoublesQuotes) {
    const std::string path = "C:\\O'Brien's\\Registry.dll";
    const Replacements replacements = ModuleReplacements(path, "{APP}");
    const std::pair<std::string, std::string> cases[] = {
        {"%module%", path}, {"%AppId%", "{APP}"}, {"100%% %APPID%%APPID%", "100% {APP}{APP}"}};
    for (const auto& [text, expected] : cases) {
        const Script script = Parse("HKCR { k = s '" + text + "' }", replacements);
        ASSERT_EQ(script.keys.size(), 1u) << text;
        EXPECT_EQ(script.keys[0].defaultText, expected) << text;
    }
    // The raw path goes in unquoted: its quote ends the string early.
    const Script raw = Parse("HKCR { k = s '%Module_Raw%' }", replacements);
    ASSERT_EQ(raw.keys.size(), 2u);
    EXPECT_EQ(raw.keys[0].defaultText, "C:\\O");
    // A replacement also works in a key name.
    EXPECT_EQ(Parse("HKCR { '%APPID%' }", replacements).keys[0].name, "{APP}");
}

TEST(RegistrationScriptTest, MalformedScriptsAreRefusedWithThePlaceInTheOriginalText) {
    struct Case {
        const char* text;
        std::size_t line, column;
        const char* messagePart;
    } cases[] = {
        {"HKCR { a", 1, 9, "missing '}'"},
        {"HKCR { a } }", 1, 12, "expected the root key"},
        {"HKLM { a }", 1, 1, "unsupported root key 'HKLM'"},
        {"HKCR a", 1, 6, "expected '{'"},
        {"HKCR {\n  a = s 'open\n}", 2, 9, "unterminated quoted string"},
        {"HKCR { a = d '5' }", 1, 12, "not supported"},
        {"HKCR { a = S 'x' }", 1, 12, "unknown value type 'S'"},
        {"HKCR { a = s bare }", 1, 14, "expected a quoted string"},
        {"HKCR { val v = s 'x' }", 1, 8, "HKCR itself takes no values"},
        {"HKCR { a { val v s 'x' } }", 1, 18, "expected '='"},
        {"HKCR { a { val } }", 1, 16, "expected a value name"},
        {"HKCR { NoRemove val a = s 'x' }", 1, 17, "one flag per key"},
        {"HKCR { '' }", 1, 8, "empty key name"},
        {"HKCR { = s 'x' }", 1, 8, "expected a key name"},
        {"HKCR {\n k = s '%NOPE%' }", 2, 9, "unknown replacement %NOPE%"},
        {"HKCR { k = s '%MODULE' }", 1, 15, "unterminated replacement"},
        {"HKCR { '%APPID%' = x }", 1, 20, "unknown value type"},  // place in the text before replacing
    };
    const Replacements replacements = ModuleReplacements("C:\\a much longer module path\\Registry.dll", "{G}");
    for (const Case& c : cases) {
        auto result = ParseScript(c.text, replacements);
        const ParseError* error = std::get_if<ParseError>(&result);
        ASSERT_NE(error, nullptr) << c.text;
        EXPECT_EQ(error->line, c.line) << c.text << ": " << error->Describe();
        EXPECT_EQ(error->column, c.column) << c.text << ": " << error->Describe();
        EXPECT_NE(error->message.find(c.messagePart), std::string::npos) << c.text << ": " << error->Describe();
    }
    auto withNul = ParseScript(std::string_view("HKCR { a\0 }", 11), {});
    ASSERT_TRUE(std::holds_alternative<ParseError>(withNul));
    EXPECT_EQ(std::get<ParseError>(withNul).offset, 8u);
    std::string deep = "HKCR {";
    for (int i = 0; i < 10000; ++i) deep += " k {";
    auto tooDeep = ParseScript(deep, {});
    ASSERT_TRUE(std::holds_alternative<ParseError>(tooDeep));
    EXPECT_NE(std::get<ParseError>(tooDeep).message.find("nested too deeply"), std::string::npos);
}

}  // namespace
}  // namespace ks::rgs
