#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

Key MakeKey(std::string name, KeyFlag flag = KeyFlag::None) {
    Key key;
    key.name = std::move(name);
    key.flag = flag;
    return key;
}

Key WithDefault(Key key, std::string text) {
    key.hasDefault = true;
    key.defaultText = std::move(text);
    return key;
}

TEST(RegistrationScriptTest, NamesValuesFlagsAndNesting) {
    struct Case {
        const char* text;
        std::vector<Key> keys;
    };
    Key nested = MakeKey("A", KeyFlag::NoRemove);
    Key b = WithDefault(MakeKey("{B-1}", KeyFlag::ForceRemove), "x");
    b.values = {{"V", "1"}, {"with space", "'q'"}};
    b.children = {WithDefault(MakeKey("C"), "")};
    nested.children = {b, MakeKey("D", KeyFlag::Delete)};
    const Case cases[] = {
        {"", {}},
        {"HKCR { }", {}},
        {"HKCR\n{\n\tplain\n}", {MakeKey("plain")}},
        {"HKCR { 'quoted name' }", {MakeKey("quoted name")}},
        {"HKCR { 'it''s' = s 'can''t' }", {WithDefault(MakeKey("it's"), "can't")}},
        // Keywords only count when bare and are matched without regard to case.
        {"hkey_classes_root { noremove A { } 'NoRemove' 'val' }",
         {MakeKey("A", KeyFlag::NoRemove), MakeKey("NoRemove"), MakeKey("val")}},
        {"HKCR { NoRemove A { ForceRemove {B-1} = s 'x' { val V = s '1' val 'with space' = s '''q''' C = s '' }"
         " Delete D } }",
         {nested}},
        // Two root blocks are joined; '}' and '=' stand alone at the start of a word.
        {"HKCR { a =s 'x'}HKCR {\nb\n}", {WithDefault(MakeKey("a"), "x"), MakeKey("b")}},
        // Otherwise a word runs to white space, so braces and '=' inside a name stay part of it.
        {"HKCR { x{ a=b }", {MakeKey("x{"), MakeKey("a=b")}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.text).keys, c.keys) << c.text;
    }
}

TEST(RegistrationScriptTest, ReplacementsIgnoreCaseAndOnlyModuleDoublesQuotes) {
    const std::string path = "C:\\O'Brien's\\Registry.dll";
    const Replacements replacements = ModuleReplacements(path, "{APP}");
    struct Case {
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"HKCR { k = s '%MODULE%' }", path},
        {"HKCR { k = s '%module%' }", path},
        {"HKCR { k = s '%Module_Raw%' }", "C:\\plain\\Registry.dll"},
        {"HKCR { k = s '%AppId%' }", "{APP}"},
        {"HKCR { k = s '100%% %APPID%%APPID%' }", "100% {APP}{APP}"},
    };
    Replacements plainRaw = replacements;
    plainRaw[1].second = "C:\\plain\\Registry.dll";
    for (const Case& c : cases) {
        Script script = Parse(c.text, plainRaw);
        ASSERT_EQ(script.keys.size(), 1u) << c.text;
        EXPECT_EQ(script.keys[0].defaultText, c.expected) << c.text;
    }
    // The raw path goes in unquoted: its quote ends the string early.
    Script raw = Parse("HKCR { k = s '%MODULE_RAW%' }", replacements);
    ASSERT_EQ(raw.keys.size(), 2u);
    EXPECT_EQ(raw.keys[0].defaultText, "C:\\O");
    // A replacement also works in a key name.
    EXPECT_EQ(Parse("HKCR { NoRemove AppID { '%APPID%' = s 'R' } }", replacements).keys[0].children[0].name,
              "{APP}");
}

TEST(RegistrationScriptTest, MalformedScriptsAreRefusedWithThePlaceInTheOriginalText) {
    struct Case {
        const char* text;
        std::size_t line, column;
        const char* messagePart;
    };
    const Case cases[] = {
        {"HKCR { a", 1, 9, "missing '}'"},
        {"HKCR { a } }", 1, 12, "expected the root key"},
        {"HKLM { a }", 1, 1, "unsupported root key 'HKLM'"},
        {"HKCR a", 1, 6, "expected '{'"},
        {"HKCR {\n  a = s 'open\n}", 2, 9, "unterminated quoted string"},
        {"HKCR { a = d '5' }", 1, 12, "not supported"},
        {"HKCR { a = S 'x' }", 1, 12, "unknown value type 'S'"},
        {"HKCR { a = s bare }", 1, 14, "expected a quoted string"},
        {"HKCR { a = }", 1, 12, "expected the value type"},
        {"HKCR { val v = s 'x' }", 1, 8, "HKCR itself takes no values"},
        {"HKCR { a { val v s 'x' } }", 1, 18, "expected '='"},
        {"HKCR { a { val } }", 1, 16, "expected a value name"},
        {"HKCR { NoRemove ForceRemove a }", 1, 17, "one flag per key"},
        {"HKCR { NoRemove val a = s 'x' }", 1, 17, "one flag per key"},
        {"HKCR { '' }", 1, 8, "empty key name"},
        {"HKCR { = s 'x' }", 1, 8, "expected a key name"},
        {"HKCR { { } }", 1, 8, "expected a key name"},
        {"HKCR {\n k = s '%NOPE%' }", 2, 9, "unknown replacement %NOPE%"},
        {"HKCR { k = s '%MODULE' }", 1, 15, "unterminated replacement"},
        // Positions after a replacement still point into the original text.
        {"HKCR { '%APPID%' = x }", 1, 20, "unknown value type"},
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
}

TEST(RegistrationScriptTest, NestingIsBounded) {
    std::string deep = "HKCR {";
    for (int i = 0; i < 10000; ++i) deep += " k {";
    auto result = ParseScript(deep, {});
    ASSERT_TRUE(std::holds_alternative<ParseError>(result));
    EXPECT_NE(std::get<ParseError>(result).message.find("nested too deeply"), std::string::npos);
}

std::string ReadSource(const char* relative) {
    std::ifstream in(std::string(KS_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RegistrationScriptTest, ShippedScriptsGiveTheRegistrationTables) {
    const std::string path = "C:\\Program Files\\Stell'wick\\Registry.dll";
    const Replacements replacements = ModuleReplacements(path, "{APPID-GUID}");

    Script appId = Parse(ReadSource("src/server/AppId.rgs"), replacements);
    Key appIdRoot = MakeKey("AppID", KeyFlag::NoRemove);
    Key dllKey = MakeKey("Registry.DLL");
    dllKey.values = {{"AppID", "{APPID-GUID}"}};
    appIdRoot.children = {WithDefault(MakeKey("{APPID-GUID}"), "Registry"), dllKey};
    EXPECT_EQ(appId.keys, std::vector<Key>{appIdRoot});

    const std::string clsid = "{A194F1B8-8B0F-478E-8E46-683880B528E0}";
    Script cls = Parse(ReadSource("src/server/KeystrelConfig.rgs"), replacements);
    Key progId = WithDefault(MakeKey("StwKs4.EventConfig.1"), "KeystrelConfig Class");
    progId.children = {WithDefault(MakeKey("CLSID"), clsid)};
    Key independent = WithDefault(MakeKey("StwKs4.EventConfig"), "KeystrelConfig Class");
    independent.children = {WithDefault(MakeKey("CLSID"), clsid)};
    Key server = WithDefault(MakeKey("InprocServer32"), path);
    server.values = {{"ThreadingModel", "both"}};
    Key classKey = WithDefault(MakeKey(clsid, KeyFlag::ForceRemove), "KeystrelConfig Class");
    classKey.children = {WithDefault(MakeKey("ProgID"), "StwKs4.EventConfig.1"),
                         WithDefault(MakeKey("VersionIndependentProgID"), "StwKs4.EventConfig"), server};
    Key clsidRoot = MakeKey("CLSID", KeyFlag::NoRemove);
    clsidRoot.children = {classKey};
    EXPECT_EQ(cls.keys, (std::vector<Key>{progId, independent, clsidRoot}));
}

}  // namespace
}  // namespace ks::rgs
