#pragma once
// Windows-free logic of ksconfig: a field's number as people type it, a field found by the name
// people give it, a registry value in one short text, and the difference of two registry trees.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "names.h"

namespace ksconfig {

// A field's number: decimal (from INT32_MIN for a signed field, else from 0, to the field's 32
// bits) or 0x and hexadecimal digits up to 0xffffffff; for a field with member names (`names`), names
// joined with "|". Nothing else around it, no space or "+". Empty, with the reason in `why`,
// otherwise.
std::optional<std::uint32_t> ParseNumber(std::string_view text, bool isSigned, Names names, std::string& why);

// A field as people name it: by the key --json prints, or by the registry value the store keeps
// it in (empty when none), as check prints it.
struct FieldName {
    std::string_view key;
    std::string_view value;
};

// The field `wanted` names: the one whose key it is exactly, else the one whose key or registry
// value it is with ASCII letter case ignored. Empty when no field or more than one field fits:
// `why` then names the candidates, or lists every key.
std::optional<std::size_t> FindField(std::span<const FieldName> fields, std::string_view wanted, std::string& why);

// Turns a UTF-16 text into the text ksconfig prints.
using Narrower = std::string (*)(std::u16string_view);

// A value as one short text: "text", expand:"text", dword:0000001e, or hex:/hex(n): with at most
// 16 bytes shown, then the size. A text is shown as a text only when its data is one text ending
// in its NUL. With `wide`, texts are UTF-16 and `wide` makes them printable; else they are 8-bit.
std::string ShowValue(std::uint32_t type, std::span<const std::uint8_t> data, Narrower wide = nullptr);

// A registry link met: its path and the key it names (the current user's hive by that name).
struct LinkSeen {
    std::string path, target;
    std::string Text() const { return path + " is a registry link to " + target; }
};

// A registry tree flattened for comparison: paths below its top key, names folded to lower case as
// the registry compares them, the names as found kept for display. Links are registry links met
// below the top (path and target): never entered, so nothing below one is in the tree.
struct Tree {
    struct Value {
        std::string path, name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };
    bool present = false;
    std::map<std::string, std::string> keys;  // folded path -> path (the top key itself left out)
    std::map<std::string, Value> values;      // folded path + "\x01" + folded name
    std::vector<LinkSeen> links;  // a link in place of the top key has the path ""
    std::vector<std::pair<std::string, long>> unread;  // keys that could not be opened or listed, and why
    void AddKey(const std::string& path);
    void AddValue(Value value);
};

struct Difference {
    bool key = false;  // a key, else a value
    std::string path, name;
    bool changed = false;         // a value on both sides, otherwise stored; else missing on the other side
    std::string data, otherData;  // the value as ShowValue() shows it, on this side and the other
};

// What `from` holds that `to` lacks (keys and values), or holds otherwise (`withChanged`), in path
// order.
std::vector<Difference> Missing(const Tree& from, const Tree& to, bool withChanged);

// The list without what lies below a key that is itself in the list: a missing key is one
// difference, not one more for each of its values and subkeys.
std::vector<Difference> Collapsed(const std::vector<Difference>& list);

// ASCII lower case, as the registry compares names.
std::string Fold(std::string_view text);

}  // namespace ksconfig
