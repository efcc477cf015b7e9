#pragma once
// What ksconfig reads and writes in the registry itself, where the interface has no method:
// through the store's own registry layer and names, sorted for people to read. It is used on
// broken settings, so no path it opens and no walk it makes goes through a registry link: a link
// is met, named with its target and left alone, and a cycle of links costs nothing.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "pure/reg_text.h"
#include "pure/values.h"

namespace ksconfig {

using ks::kBackupRoot;
using ks::kSettingsRoot;
using RegValue = ks::RegistryValue;

// The user's own hive, opened once before a command points HKEY_CURRENT_USER at a scratch key:
// every path below is read and written here, never in the scratch copy.
HKEY User();

// The key at `path` below the user's hive, each key on the way opened as itself: empty when
// absent, or when one of them is a registry link (then `*link`, when given).
ks::UniqueHKey OpenRead(const std::string& path, LinkSeen* link = nullptr);
// The subkey `name` of `parent`, opened as the key it names and never through a registry link
// (`*link` set instead), by the store's own test.
ks::UniqueHKey OpenSub(HKEY parent, const std::wstring& name, REGSAM access, bool* link = nullptr);
ks::UniqueHKey OpenSub(HKEY parent, const std::string& name, REGSAM access, bool* link = nullptr);
bool KeyExists(const std::string& path);
// As OpenRead, for writing, creating what is missing; nothing is created when a key on the way
// is a link. The platform's code in `*error` (ERROR_ACCESS_DENIED for a link).
ks::UniqueHKey CreatePath(const std::string& path, LinkSeen* link, LONG* error);
// "; <path> is a registry link to <target>, which ksconfig does not follow", or "" when `link`
// names none: what a message adds when a path could not be opened.
std::string NotFollowed(const LinkSeen& link);
// Deletes the tree at `path` (a link on the way deletes nothing); the platform's code.
LONG DeletePath(const std::string& path, LinkSeen* link = nullptr);

std::vector<RegValue> SortedValues(HKEY key);  // by name, case-insensitively
// A string value as ksconfig shows it (REG_SZ or REG_EXPAND_SZ, up to 1 KB); empty when absent.
std::optional<std::string> ReadText(HKEY key, const char* name);
// One value with its type and bytes, whatever its size; empty when absent.
std::optional<RegValue> ReadValue(HKEY key, const char* name);
// The gamma number of a value named "Gamma - <n>", when it is one.
std::optional<long> GammaNumber(const std::string& name);
// Whether an open subkey of the settings root is an engine key.
bool IsEngineKey(HKEY key);

// The one walk over a tree: `top`, then its subkeys depth first in name order (letter case
// ignored, as the registry compares names), at most `depth` levels below `top`, with the pending
// keys on the heap. `key` gets each key with its path below `top` ("" for `top` itself); `link`
// each registry link met, with its target, which is neither opened through nor entered.
void Walk(HKEY top, std::size_t depth, const std::function<void(HKEY key, const std::wstring& path)>& key,
          const std::function<void(const std::wstring& path, const std::string& target)>& link);

// The subkeys of `key` (one level of Walk), ANSI names; links to `links` when given (else skipped).
void ForEachChild(HKEY key, const std::function<void(HKEY child, const std::string& name)>& visit,
                  std::vector<LinkSeen>* links = nullptr);

// The device keys: subkeys of the settings root (of the backup tree while the root is missing,
// as a client's first call would rebuild it) that are not engine keys or the settings of other
// components (link profiles, interface profiles, text recognition). Links to `links` when given.
std::vector<std::string> DeviceNames(std::vector<LinkSeen>* links = nullptr);

// The tree at `path` below the current user's hive, each key named "HKEY_CURRENT_USER\<path>..."
// with its values read through the wide calls (byte for byte); registry links to `links`.
std::vector<regtext::Key> ReadKeys(const std::string& path, std::vector<LinkSeen>& links);

// The tree at `top` below the current user's hive.
Tree ReadTree(const std::string& top);

// Text conversions at the platform's edge: one pair between a code page and UTF-16, and the
// ANSI code page <-> UTF-16 and UTF-8 -> ANSI made from it.
std::u16string Widen(std::string_view text, UINT codePage);
std::string Narrow(std::u16string_view text, UINT codePage);
std::u16string Utf16FromAnsi(const std::string& ansi);
std::string AnsiFromUtf16(std::u16string_view text);
std::string AnsiFromWide(const std::wstring& text);
std::string AnsiFromUtf8(const std::string& utf8);

}  // namespace ksconfig
