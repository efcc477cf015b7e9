#include <gtest/gtest.h>

#include "server/pure/registration_script.h"

namespace ks::rgs {
namespace {

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
        {"HKCR { val v = s 'x' }", 1, 8, "HKCR itself takes no values"},
        {"HKCR { NoRemove val a = s 'x' }", 1, 17, "one flag per key"},
        {"HKCR {\n k = s '%NOPE%' }", 2, 9, "unknown replacement %NOPE%"},
        {"HKCR { k = s '%MODULE' }", 1, 15, "unterminated replacement"},
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
}  // namespace ks::rgs
