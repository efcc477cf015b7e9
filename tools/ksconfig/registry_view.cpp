#include "ksconfig.h"

#include <cwchar>

#include "links/link_service.h"

namespace ksconfig {

namespace {

// What the link `name` of `parent` names: its "SymbolicLinkValue", with the current user's hive
// by that name.
std::string LinkTarget(HKEY parent, const std::wstring& name) {
    ks::UniqueHKey link = ks::OpenKey(parent, name, KEY_QUERY_VALUE, nullptr, ks::Link::Itself);
    std::wstring target;
    ks::ForEachValue<wchar_t>(link.get(), [&](std::wstring_view value, DWORD, std::span<const BYTE> bytes) {
        if (_wcsicmp(value.data(), L"SymbolicLinkValue") == 0) {
            target.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        }
    });
    const std::wstring user = ks::KeyFullName(User()).value_or(L"");
    if (!user.empty() && _wcsnicmp(target.c_str(), user.c_str(), user.size()) == 0 &&
        (target.size() == user.size() || target[user.size()] == L'\\')) {
        target = L"HKEY_CURRENT_USER" + target.substr(user.size());
    }
    return target.empty() ? std::string("(no target)") : Ansi(target);
}

}  // namespace

HKEY User() {
    static HKEY key = nullptr;
    static const HKEY user = RegOpenCurrentUser(KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ? key : HKEY_CURRENT_USER;
    return user;
}

ks::UniqueHKey OpenPath(const std::wstring& path, bool create, LinkSeen* link) {
    ks::UniqueHKey key;
    HKEY at = User();
    std::wstring full = ks::KeyFullName(at).value_or(L""), shown = L"HKEY_CURRENT_USER";
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;  // as the registry reads "a\\b" and "a\"
        shown += L"\\" + name;
        bool isLink = false;
        ks::UniqueHKey next = create ? ks::CreateChild(at, full, name, &isLink)
                                     : ks::OpenChild(at, full, name, ks::kReadAccess, &isLink);
        if (isLink && link != nullptr) *link = {Ansi(shown), LinkTarget(at, name)};
        if (!next) return {};
        full += L"\\" + name;
        key = std::move(next);
        at = key.get();
    }
    return key;
}

ks::UniqueHKey OpenPath(const std::string& path, bool create, LinkSeen* link) {
    return OpenPath(ks::Widen(path, CP_ACP), create, link);
}

LONG DeletePath(const std::string& path, LinkSeen* link) {
    const std::size_t slash = path.find_last_of('\\');
    ks::UniqueHKey parent = OpenPath(path.substr(0, slash), false, link);
    if (!parent) return ERROR_FILE_NOT_FOUND;
    return ks::DeleteTree(parent.get(), path.substr(slash + 1).c_str());
}

void Walk(HKEY top, std::size_t depth, const std::function<bool(HKEY key, const std::wstring& below)>& key,
          const std::function<void(const std::wstring& below, const std::string& target)>& link,
          const std::function<void(const std::wstring& below, LONG error)>& failed) {
    struct Visitor final : ks::TreeVisitor {
        decltype(key) onKey;
        decltype(link) onLink;
        decltype(failed) onFailed;
        std::vector<std::wstring> path;  // the names down to the key entered last
        Visitor(decltype(key) k, decltype(link) l, decltype(failed) f) : onKey(k), onLink(l), onFailed(f) {}
        // `name` at `depth` (empty: the key whose subkeys are listed at that depth), below the top.
        std::wstring Below(const std::wstring& name, std::size_t depth) {
            path.resize(depth - 1);
            std::wstring out;
            for (const std::wstring& part : path) out += (out.empty() ? L"" : L"\\") + part;
            return name.empty() ? out : out.empty() ? name : out + L"\\" + name;
        }
        Next Enter(HKEY at, const std::wstring& name, std::size_t depth) override {
            const std::wstring below = Below(name, depth);
            path.push_back(name);
            return onKey(at, below) ? Next::Descend : Next::Skip;
        }
        void Link(HKEY parent, const std::wstring& name, std::size_t depth) override {
            onLink(Below(name, depth), LinkTarget(parent, name));
        }
        bool Failed(const std::wstring& name, std::size_t depth, LONG error) override {
            if (onFailed) onFailed(Below(name, depth), error);
            return true;
        }
    } visitor(key, link, failed);
    if (key(top, L"")) ks::WalkTree(top, ks::kReadAccess, visitor, depth);
}

void ForEachChild(HKEY key, const std::function<void(HKEY child, const std::string& name)>& visit,
                  std::vector<LinkSeen>* links) {
    Walk(key, 1, [&](HKEY child, const std::wstring& below) {
        if (!below.empty()) visit(child, Ansi(below));
        return true;
    }, [&](const std::wstring& below, const std::string& target) {
        if (links != nullptr) links->push_back({Ansi(below), target});
    });
}

std::vector<std::string> DeviceNames(std::vector<LinkSeen>* links) {
    std::vector<std::string> devices;
    LinkSeen rootLink;
    ks::UniqueHKey root = OpenPath(kSettingsRoot, false, &rootLink);
    if (!root && rootLink.path.empty()) root = OpenPath(kBackupRoot, false, &rootLink);
    if (!root && links != nullptr && !rootLink.path.empty()) links->push_back(rootLink);
    if (!root) return devices;
    ForEachChild(root.get(), [&](HKEY key, const std::string& name) {
        if (!ks::IsOtherComponentKey(name) && !ks::IsEngineKey(key)) devices.push_back(name);
    }, links);
    return devices;
}

Tree ReadTree(const std::string& top) {
    Tree tree;
    LinkSeen link;
    ks::UniqueHKey key = OpenPath(top, false, &link);
    if (!link.path.empty()) tree.links.push_back({"", link.target});
    if (!key) return tree;
    tree.present = true;
    Walk(key.get(), SIZE_MAX, [&](HKEY at, const std::wstring& below) {
        const std::string path = Ansi(below);
        if (!path.empty()) tree.AddKey(path);
        for (RegValue& v : ks::Values(at)) tree.AddValue({path, std::move(v.name), v.type, std::move(v.data)});
        return true;
    }, [&](const std::wstring& below, const std::string& target) { tree.links.push_back({Ansi(below), target}); },
       [&](const std::wstring& below, LONG error) { tree.unread.push_back({Ansi(below), error}); });
    return tree;
}

std::vector<regtext::Key> ReadKeys(const std::string& path, std::vector<LinkSeen>& links) {
    std::vector<regtext::Key> keys;
    ks::UniqueHKey top = OpenPath(path);
    if (!top) return keys;
    const std::u16string name = u"HKEY_CURRENT_USER\\" + Utf16FromAnsi(path);
    Walk(top.get(), SIZE_MAX, [&](HKEY key, const std::wstring& below) {
        std::vector<regtext::Value> values;
        ks::ForEachValue<wchar_t>(key, [&](std::wstring_view value, DWORD type, std::span<const BYTE> bytes) {
            values.push_back({std::u16string(value.begin(), value.end()), type, {bytes.begin(), bytes.end()}, 0});
        });
        std::sort(values.begin(), values.end(), [](const regtext::Value& a, const regtext::Value& b) {
            return lstrcmpiW(reinterpret_cast<const wchar_t*>(a.name.c_str()), reinterpret_cast<const wchar_t*>(b.name.c_str())) <
                   0;
        });
        keys.push_back({below.empty() ? name : name + u"\\" + std::u16string(below.begin(), below.end()), values, 0});
        return true;
    }, [&](const std::wstring& below, const std::string& target) { links.push_back({path + "\\" + Ansi(below), target}); });
    return keys;
}

std::vector<RegValue> SortedValues(HKEY key) {
    std::vector<RegValue> values = ks::Values(key);
    std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) {
        return lstrcmpiA(a.name.c_str(), b.name.c_str()) < 0;
    });
    return values;
}

std::string Ansi(std::wstring_view wide) { return ks::Narrow(wide, CP_ACP); }
std::string AnsiFromUtf16(std::u16string_view text) {
    return Ansi({reinterpret_cast<const wchar_t*>(text.data()), text.size()});
}
std::u16string Utf16FromAnsi(std::string_view ansi) {
    const std::wstring wide = ks::Widen(ansi, CP_ACP);
    return {wide.begin(), wide.end()};
}
std::string Utf8FromAnsi(std::string_view ansi) { return ks::Narrow(ks::Widen(ansi, CP_ACP), CP_UTF8); }
std::string AnsiFromUtf8(std::string_view utf8) { return ks::Narrow(ks::Widen(utf8, CP_UTF8), CP_ACP); }
std::string JsonText(std::string_view ansi) { return json::Str(Utf8FromAnsi(ansi)); }

}  // namespace ksconfig
