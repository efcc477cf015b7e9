#pragma once
// Registration scripts: the text form of the keys and values that self-registration writes below
// HKEY_CLASSES_ROOT. Parsing is kept apart from the registry so that a malformed script is
// rejected whole, before anything is written.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {guid} = s 'Class name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'both'
//               }
//           }
//       }
//   }
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ks::rgs {

// How unregistration and registration treat a key beyond creating or deleting it.
enum class KeyFlag {
    None,
    NoRemove,     // unregistration descends into the key but never deletes it
    ForceRemove,  // registration deletes the key's subtree first, then creates it afresh
    Delete,       // registration deletes the key's subtree and creates nothing below it
};

struct NamedValue {
    std::string name;
    std::string text;
    bool operator==(const NamedValue&) const = default;
};

struct Key {
    std::string name;
    KeyFlag flag = KeyFlag::None;
    bool hasDefault = false;
    std::string defaultText;         // meaningful when hasDefault
    std::vector<NamedValue> values;  // from `val`, in script order
    std::vector<Key> children;       // in script order
    bool operator==(const Key&) const = default;
};

// The keys directly below HKEY_CLASSES_ROOT, in script order (several root blocks are joined).
struct Script {
    std::vector<Key> keys;
    bool operator==(const Script&) const = default;
};

// Where and why a script was refused. Offsets, lines and columns (1-based) refer to the script
// text as given, before replacements.
struct ParseError {
    std::string message;
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t column = 1;
    std::string Describe() const;  // "line L, column C: message"
};

// Replacement names without their percent signs, matched without regard to case; each text is
// put into the script verbatim before the script is read, so quoting is the caller's concern.
using Replacements = std::vector<std::pair<std::string, std::string>>;

// The replacements of self-registration: MODULE (single quotes doubled, so that inside a quoted
// string the path comes out unchanged), MODULE_RAW (the path as is) and APPID.
Replacements ModuleReplacements(std::string_view modulePath, std::string_view appId);

// Every single quote doubled.
std::string DoubleQuotes(std::string_view text);

// Reads a whole script. "%%" stands for one percent sign; an unknown or unterminated
// replacement, a value type other than s, a root other than HKCR / HKEY_CLASSES_ROOT, an
// unbalanced brace, an empty key name or a NUL character refuses the script.
std::variant<Script, ParseError> ParseScript(std::string_view text, const Replacements& replacements);

}  // namespace ks::rgs
