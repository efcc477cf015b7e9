// Registration script parser: any input either gives an error with a place inside the text or a
// tree that, written back as a script, reads back as the same tree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/pure/registration_script.h"

namespace {

using namespace ks::rgs;

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out.push_back(c);
        if (c == '\'' || c == '%') out.push_back(c);
    }
    return out + "'";
}

void Write(const Key& key, std::string& out) {
    static const char* const flags[] = {"", "NoRemove ", "ForceRemove ", "Delete "};  // in the order of KeyFlag
    out += flags[static_cast<int>(key.flag)] + Quote(key.name);
    if (key.hasDefault) out += " = s " + Quote(key.defaultText);
    out += "\n";
    if (key.values.empty() && key.children.empty()) return;  // a block would nest one level deeper
    out += "{\n";
    for (const NamedValue& value : key.values) out += "val " + Quote(value.name) + " = s " + Quote(value.text) + "\n";
    for (const Key& child : key.children) Write(child, out);
    out += "}\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto result = ParseScript(text, ModuleReplacements("C:\\It's here\\Registry.dll", "{APPID}"));
    if (auto* error = std::get_if<ParseError>(&result)) {
        if (error->offset > size || error->message.empty()) std::abort();
        return 0;
    }
    const Script& script = std::get<Script>(result);
    std::string written = "HKCR\n{\n";
    for (const Key& key : script.keys) Write(key, written);
    written += "}\n";
    auto again = ParseScript(written, {});
    if (!std::holds_alternative<Script>(again) || !(std::get<Script>(again) == script)) std::abort();
    return 0;
}
