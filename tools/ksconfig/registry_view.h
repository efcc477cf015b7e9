#pragma once
// What ksconfig reads from the registry directly, where the interface has no method: through the
// store's own registry layer and names, sorted for people to read.
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "pure/reg_text.h"

namespace ksconfig {

using ks::kBackupRoot;
using ks::kSettingsRoot;
using RegValue = ks::RegistryValue;

// Opened for reading below the current user's hive; empty when absent.
ks::UniqueHKey OpenRead(const std::string& path);
bool KeyExists(const std::string& path);
std::vector<std::string> SortedSubkeyNames(HKEY key);  // case-insensitively
std::vector<RegValue> SortedValues(HKEY key);          // by name, case-insensitively
// A string value as ksconfig shows it (REG_SZ or REG_EXPAND_SZ, up to 1 KB); empty when absent.
std::optional<std::string> ReadText(HKEY key, const char* name);
// One value with its type and bytes, whatever its size; empty when absent.
std::optional<RegValue> ReadValue(HKEY key, const char* name);
// The gamma number of a value named "Gamma - <n>", when it is one.
std::optional<long> GammaNumber(const std::string& name);
// Whether an open subkey of the settings root is an engine key.
bool IsEngineKey(HKEY key);

// The device keys: subkeys of the settings root that are not engine keys or the settings of
// other components (link profiles, interface profiles, text recognition).
std::vector<std::string> DeviceNames();

// Case-insensitive order, as the registry compares names.
bool NameLess(const std::string& a, const std::string& b);

// The tree at `path` below the current user's hive, each key named "HKEY_CURRENT_USER\<path>..."
// with its values read through the wide calls (byte for byte), keys and values sorted by name.
// Empty when the key is absent.
std::vector<regtext::Key> ReadKeys(const std::string& path);

// A registry tree flattened for comparison: names folded to lower case as the registry
// compares them, display names kept.
struct Tree {
    bool present = false;
    std::map<std::string, std::string> keys;  // folded path -> path (the top key itself left out)
    struct Entry {
        std::string path, name;
        DWORD type;
        std::vector<std::uint8_t> data;
    };
    std::map<std::string, Entry> values;  // folded path + "\x01" + folded name
};

// The tree at `top` below the current user's hive.
Tree ReadTree(const std::string& top);

struct Difference {
    std::string kind;  // "key" or "value"
    std::string path, name;
    std::string change;  // "missing" or "differs"
    std::string data, otherData;  // the value as ShowValue() shows it, on this side and the other
};

// What `from` holds that `to` lacks (keys and values), or holds otherwise (`withChanged`).
std::vector<Difference> Missing(const Tree& from, const Tree& to, bool withChanged);

// A value as one short text: "text", dword:0000001e or hex(n):0a,1b,... (at most 16 bytes shown,
// then the size). `wide`: read through the wide calls, so texts are UTF-16.
std::string ShowValue(DWORD type, const std::vector<BYTE>& data, bool wide);

// Text conversions at the platform's edge: one pair between a code page and UTF-16, and the
// ANSI code page <-> UTF-16 and UTF-8 -> ANSI made from it.
std::u16string Widen(std::string_view text, UINT codePage);
std::string Narrow(std::u16string_view text, UINT codePage);
std::u16string Utf16FromAnsi(const std::string& ansi);
std::string AnsiFromUtf16(std::u16string_view text);
std::string AnsiFromUtf8(const std::string& utf8);

}  // namespace ksconfig
