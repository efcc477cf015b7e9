#include "registry_view.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <utility>

#include "core/text.h"

namespace ksconfig {

namespace {

constexpr DWORD kShownTextLimit = 1024;

bool WideLess(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

// What the link `name` of `parent` names: its "SymbolicLinkValue", with the current user's hive
// by that name.
std::string LinkTarget(HKEY parent, const std::wstring& name) {
    ks::UniqueHKey link = ks::OpenKey(parent, name, KEY_QUERY_VALUE, nullptr, ks::Link::Itself);
    std::vector<BYTE> data;
    if (link) {
        ks::ForEachValue<wchar_t>(link.get(), [&](std::wstring_view value, DWORD, std::span<const BYTE> bytes) {
            if (_wcsicmp(value.data(), L"SymbolicLinkValue") == 0) data.assign(bytes.begin(), bytes.end());
        });
    }
    std::wstring target(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    const std::wstring user = ks::KeyFullName(User()).value_or(L"");
    if (!user.empty() && _wcsnicmp(target.c_str(), user.c_str(), user.size()) == 0 &&
        (target.size() == user.size() || target[user.size()] == L'\\')) {
        target = L"HKEY_CURRENT_USER" + target.substr(user.size());
    }
    return target.empty() ? std::string("(no target)") : AnsiFromWide(target);
}

}  // namespace

ks::UniqueHKey OpenSub(HKEY parent, const std::wstring& name, REGSAM access, bool* link) {
    bool isLink = false;
    ks::UniqueHKey key = ks::OpenChild(parent, ks::KeyFullName(parent).value_or(L""), name, access, &isLink);
    if (link != nullptr) *link = isLink;
    return key;
}
ks::UniqueHKey OpenSub(HKEY parent, const std::string& name, REGSAM access, bool* link) {
    return OpenSub(parent, ks::Widen(name), access, link);
}

namespace {

// Opens (or creates) `path` one key at a time, each as itself, stopping at a registry link.
ks::UniqueHKey Descend(const std::string& path, bool create, LinkSeen* link, LONG* error) {
    ks::UniqueHKey key;
    HKEY at = User();
    std::string walked = "HKEY_CURRENT_USER";
    LONG rc = ERROR_SUCCESS;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;  // as the registry reads "a\\b" and "a\"
        walked += "\\" + name;
        bool isLink = false;
        ks::UniqueHKey next = OpenSub(at, name, create ? ks::kReadWriteAccess : ks::kReadAccess, &isLink);
        if (isLink) {
            const std::u16string wide = Utf16FromAnsi(name);
            if (link != nullptr) *link = {walked, LinkTarget(at, std::wstring(wide.begin(), wide.end()))};
            rc = ERROR_ACCESS_DENIED;
        } else if (!next && create) {
            next = ks::CreateKey(at, name, &rc, ks::Link::Itself);
        } else if (!next) {
            rc = ERROR_FILE_NOT_FOUND;
        }
        if (!next) {
            if (error != nullptr) *error = rc;
            return ks::UniqueHKey();
        }
        key = std::move(next);
        at = key.get();
    }
    if (error != nullptr) *error = rc;
    return key;
}

}  // namespace

HKEY User() {
    static HKEY user = [] {
        HKEY key = nullptr;
        return RegOpenCurrentUser(KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ? key : HKEY_CURRENT_USER;
    }();
    return user;
}

ks::UniqueHKey OpenRead(const std::string& path, LinkSeen* link) { return Descend(path, false, link, nullptr); }

bool KeyExists(const std::string& path) { return static_cast<bool>(OpenRead(path)); }

ks::UniqueHKey CreatePath(const std::string& path, LinkSeen* link, LONG* error) { return Descend(path, true, link, error); }

std::string NotFollowed(const LinkSeen& link) {
    return link.path.empty() ? std::string() : "; " + link.Text() + ", which ksconfig does not follow";
}

LONG DeletePath(const std::string& path, LinkSeen* link) {
    const std::size_t slash = path.find_last_of('\\');
    LONG error = ERROR_SUCCESS;
    ks::UniqueHKey parent = Descend(path.substr(0, slash == std::string::npos ? 0 : slash), false, link, &error);
    if (!parent) return error;
    return ks::DeleteTree(parent.get(), path.substr(slash + 1).c_str());
}

std::vector<RegValue> SortedValues(HKEY key) {
    std::vector<RegValue> values = ks::Values(key);
    std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) {
        return lstrcmpiA(a.name.c_str(), b.name.c_str()) < 0;
    });
    return values;
}

std::optional<std::string> ReadText(HKEY key, const char* name) { return ks::ReadString(key, name, kShownTextLimit); }

std::optional<RegValue> ReadValue(HKEY key, const char* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    RegValue value{name == nullptr ? "" : name, type, std::vector<BYTE>(size)};
    if (RegQueryValueExA(key, name, nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    value.data.resize(size);
    return value;
}

std::optional<long> GammaNumber(const std::string& name) {
    const std::string prefix = ks::kGammaTablePrefix;
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) return std::nullopt;
    const char* digits = name.c_str() + prefix.size();
    char* end = nullptr;
    long n = std::strtol(digits, &end, 10);
    if (*end != '\0' || end == digits) return std::nullopt;
    return n;
}

bool IsEngineKey(HKEY key) {
    std::optional<std::string> kind = ReadText(key, nullptr);
    return kind && *kind == ks::kEngineMarker;
}

void Walk(HKEY top, std::size_t depth, const std::function<void(HKEY key, const std::wstring& path)>& key,
          const std::function<void(const std::wstring& path, const std::string& target)>& link) {
    struct Level {
        ks::UniqueHKey owned;
        HKEY key;
        std::wstring path;
        std::vector<std::wstring> names;
        std::size_t next = 0;
    };
    std::vector<Level> pending;
    auto enter = [&](HKEY at, ks::UniqueHKey owned, std::wstring path) {
        key(at, path);
        std::vector<std::wstring> names;
        if (pending.size() < depth) names = ks::SubkeyNames<wchar_t>(at);
        std::sort(names.begin(), names.end(), WideLess);
        pending.push_back({std::move(owned), at, std::move(path), std::move(names)});
    };
    enter(top, ks::UniqueHKey(), L"");
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next == level.names.size()) {
            pending.pop_back();
            continue;
        }
        const std::wstring name = level.names[level.next++];
        std::wstring path = level.path.empty() ? name : level.path + L"\\" + name;
        bool isLink = false;
        ks::UniqueHKey child = OpenSub(level.key, name, ks::kReadAccess, &isLink);
        if (isLink) {
            link(path, LinkTarget(level.key, name));
        } else if (child) {
            HKEY at = child.get();
            enter(at, std::move(child), std::move(path));
        }
    }
}

void ForEachChild(HKEY key, const std::function<void(HKEY child, const std::string& name)>& visit,
                  std::vector<LinkSeen>* links) {
    Walk(key, 1, [&](HKEY child, const std::wstring& path) {
        if (!path.empty()) visit(child, AnsiFromWide(path));
    }, [&](const std::wstring& path, const std::string& target) {
        if (links != nullptr) links->push_back({AnsiFromWide(path), target});
    });
}

std::vector<std::string> DeviceNames(std::vector<LinkSeen>* links) {
    std::vector<std::string> devices;
    LinkSeen rootLink;
    ks::UniqueHKey root = OpenRead(kSettingsRoot, &rootLink);
    if (!root && rootLink.path.empty()) root = OpenRead(kBackupRoot, &rootLink);
    if (!root) {
        if (links != nullptr && !rootLink.path.empty()) links->push_back(rootLink);
        return devices;
    }
    ForEachChild(root.get(), [&](HKEY key, const std::string& name) {
        if (!ks::IsOtherComponentKey(name) && !IsEngineKey(key)) devices.push_back(name);
    }, links);
    return devices;
}

std::vector<regtext::Key> ReadKeys(const std::string& path, std::vector<LinkSeen>& links) {
    std::vector<regtext::Key> keys;
    ks::UniqueHKey top = OpenRead(path);
    if (!top) return keys;
    const std::u16string name = u"HKEY_CURRENT_USER\\" + Utf16FromAnsi(path);
    Walk(top.get(), SIZE_MAX, [&](HKEY key, const std::wstring& below) {
        std::vector<regtext::Value> values;
        ks::ForEachValue<wchar_t>(key, [&](std::wstring_view value, DWORD type, std::span<const BYTE> bytes) {
            values.push_back({std::u16string(value.begin(), value.end()), type, {bytes.begin(), bytes.end()}, 0});
        });
        std::sort(values.begin(), values.end(), [](const regtext::Value& a, const regtext::Value& b) {
            return WideLess({a.name.begin(), a.name.end()}, {b.name.begin(), b.name.end()});
        });
        keys.push_back({below.empty() ? name : name + u"\\" + std::u16string(below.begin(), below.end()), values, 0});
    }, [&](const std::wstring& below, const std::string& target) {
        links.push_back({path + "\\" + AnsiFromWide(below), target});
    });
    return keys;
}

Tree ReadTree(const std::string& top) {
    Tree tree;
    LinkSeen link;
    ks::UniqueHKey key = OpenRead(top, &link);
    if (!key) {
        if (!link.path.empty()) tree.links.push_back({"", link.target});
        return tree;
    }
    tree.present = true;
    Walk(key.get(), SIZE_MAX, [&](HKEY at, const std::wstring& below) {
        const std::string path = AnsiFromWide(below);
        if (!path.empty()) tree.AddKey(path);
        for (RegValue& v : ks::Values(at)) tree.AddValue({path, std::move(v.name), v.type, std::move(v.data)});
    }, [&](const std::wstring& below, const std::string& target) { tree.links.push_back({AnsiFromWide(below), target}); });
    return tree;
}

std::u16string Widen(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string Narrow(std::u16string_view text, UINT codePage) {
    if (text.empty()) return {};
    const wchar_t* w = reinterpret_cast<const wchar_t*>(text.data());
    int n = WideCharToMultiByte(codePage, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::u16string Utf16FromAnsi(const std::string& ansi) { return Widen(ansi, CP_ACP); }
std::string AnsiFromUtf16(std::u16string_view text) { return Narrow(text, CP_ACP); }
std::string AnsiFromWide(const std::wstring& text) {
    return Narrow(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()), CP_ACP);
}
std::string AnsiFromUtf8(const std::string& utf8) { return Narrow(Widen(utf8, CP_UTF8), CP_ACP); }

}  // namespace ksconfig
