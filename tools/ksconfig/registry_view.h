#pragma once
// What ksconfig reads and writes in the registry itself, where the interface has no method:
// through the store's own registry layer, walker and names. It is used on broken settings, so no
// path it opens and no walk it makes goes through a registry link: a link is met, named with its
// target and left alone, and a cycle of links costs nothing.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "pure/reg_text.h"
#include "pure/values.h"

namespace ksconfig {

using ks::kBackupRoot;
using ks::kSettingsRoot;
using RegValue = ks::RegistryValue;

// The user's own hive, opened once before a command points HKEY_CURRENT_USER at a scratch key:
// every path below is read and written here, never in the scratch copy.
HKEY User();

// The key at `path` below the user's hive, each key on the way opened (or, with `create`, made) as
// itself: empty when one is missing or a registry link (then named in `*link`, when given).
ks::UniqueHKey OpenPath(const std::wstring& path, bool create = false, LinkSeen* link = nullptr);
ks::UniqueHKey OpenPath(const std::string& path, bool create = false, LinkSeen* link = nullptr);
bool KeyExists(const std::string& path);
// "; <path> is a registry link to <target>, which ksconfig does not follow", or "" when `link`
// names none: what a message adds when a path could not be opened.
std::string NotFollowed(const LinkSeen& link);
// Deletes the tree at `path` (a link on the way deletes nothing); the platform's code.
LONG DeletePath(const std::string& path, LinkSeen* link = nullptr);

// The store's walk below `top`, at most `depth` levels: `key` gets each key with its path below
// `top` ("" for `top` itself) and answers whether to walk its subkeys; `link` gets each registry
// link met, with its target; `failed` each subkey that could not be opened.
void Walk(HKEY top, std::size_t depth, const std::function<bool(HKEY key, const std::wstring& below)>& key,
          const std::function<void(const std::wstring& below, const std::string& target)>& link,
          const std::function<void(const std::wstring& below, LONG error)>& failed = {});
// The subkeys of `key` (one level of Walk), ANSI names; links to `links` when given (else skipped).
void ForEachChild(HKEY key, const std::function<void(HKEY child, const std::string& name)>& visit,
                  std::vector<LinkSeen>* links = nullptr);

// The device keys: subkeys of the settings root (of the backup tree while the root is missing,
// as a client's first call would rebuild it) that are neither the store's engine keys nor the
// settings of other components. Links to `links` when given.
std::vector<std::string> DeviceNames(std::vector<LinkSeen>* links = nullptr);

// The tree at `top` below the user's hive, flattened for comparison.
Tree ReadTree(const std::string& top);
// The tree at `path`, each key named "HKEY_CURRENT_USER\<path>..." with its values read through the
// wide calls (byte for byte), sorted by name; registry links to `links`.
std::vector<regtext::Key> ReadKeys(const std::string& path, std::vector<LinkSeen>& links);

// A key's values sorted by name, letter case ignored.
std::vector<RegValue> SortedValues(HKEY key);

// Text at the platform's edge, through the store's one pair of conversions: the registry's 8-bit
// names are in the ANSI code page, files and JSON in UTF-16 and UTF-8.
std::string Ansi(std::wstring_view wide);
std::string AnsiFromUtf16(std::u16string_view text);
std::u16string Utf16FromAnsi(std::string_view ansi);
std::string Utf8FromAnsi(std::string_view ansi);
std::string AnsiFromUtf8(std::string_view utf8);

}  // namespace ksconfig
