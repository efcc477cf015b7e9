#include "registry_view.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace ksconfig {

namespace {
constexpr DWORD kShownTextLimit = 1024;
}  // namespace

ks::UniqueHKey OpenRead(const std::string& path) { return ks::OpenKey(HKEY_CURRENT_USER, path, ks::kReadAccess); }

bool KeyExists(const std::string& path) { return static_cast<bool>(OpenRead(path)); }

bool NameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

std::vector<std::string> SortedSubkeyNames(HKEY key) {
    std::vector<std::string> names = ks::SubkeyNames(key);
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

std::vector<RegValue> SortedValues(HKEY key) {
    std::vector<RegValue> values = ks::Values(key);
    std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) { return NameLess(a.name, b.name); });
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

std::vector<std::string> DeviceNames() {
    std::vector<std::string> devices;
    ks::UniqueHKey root = OpenRead(kSettingsRoot);
    if (!root) return devices;
    for (const std::string& name : SortedSubkeyNames(root.get())) {
        if (ks::IsOtherComponentKey(name)) continue;
        ks::UniqueHKey sub = ks::OpenKey(root.get(), name, ks::kReadAccess);
        if (!sub || IsEngineKey(sub.get())) continue;
        devices.push_back(name);
    }
    return devices;
}

namespace {

bool WideLess(const std::u16string& a, const std::u16string& b) {
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_LESS_THAN;
}

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::vector<regtext::Value> WideValues(HKEY key) {
    std::vector<regtext::Value> values;
    DWORD nameMax = 0, dataMax = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameMax, &dataMax,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return values;
    }
    std::vector<wchar_t> name(nameMax + 1);
    std::vector<BYTE> data(dataMax + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        LONG rc = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {  // grew since the count was taken
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<std::size_t>(data.size() * 2, size));
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        values.push_back({std::u16string(reinterpret_cast<const char16_t*>(name.data()), nameLength), type,
                          std::vector<std::uint8_t>(data.begin(), data.begin() + size), 0});
    }
    std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return WideLess(a.name, b.name); });
    return values;
}

std::vector<std::u16string> WideSubkeys(HKEY key) {
    std::vector<std::u16string> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(reinterpret_cast<const char16_t*>(name), length);
    }
    std::sort(names.begin(), names.end(), WideLess);
    return names;
}

}  // namespace

std::vector<regtext::Key> ReadKeys(const std::string& path) {
    std::vector<regtext::Key> keys;
    // Depth first in name order, with the pending keys on the heap rather than the stack.
    std::vector<std::pair<ks::UniqueHKey, std::u16string>> pending;
    HKEY top = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, W(Utf16FromAnsi(path)), 0, KEY_READ, &top) != ERROR_SUCCESS) return keys;
    pending.emplace_back(ks::UniqueHKey(top), u"HKEY_CURRENT_USER\\" + Utf16FromAnsi(path));
    while (!pending.empty()) {
        auto [key, name] = std::move(pending.back());
        pending.pop_back();
        keys.push_back({name, WideValues(key.get()), 0});
        std::vector<std::u16string> subkeys = WideSubkeys(key.get());
        for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
            HKEY sub = nullptr;
            if (RegOpenKeyExW(key.get(), W(*it), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
                pending.emplace_back(ks::UniqueHKey(sub), name + u"\\" + *it);
            }
        }
    }
    return keys;
}

std::string ShowValue(DWORD type, const std::vector<BYTE>& data, bool wide) {
    char piece[16];
    if (type == REG_DWORD && data.size() == 4) {
        std::snprintf(piece, sizeof(piece), "dword:%08lx", static_cast<unsigned long>(data[0] | data[1] << 8 | data[2] << 16 |
                                                                                      static_cast<DWORD>(data[3]) << 24));
        return piece;
    }
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty()) {
        std::string text;
        if (wide && data.size() % 2 == 0) {
            std::u16string w;
            for (std::size_t i = 0; i + 1 < data.size(); i += 2) w += static_cast<char16_t>(data[i] | data[i + 1] << 8);
            text = AnsiFromUtf16(w);
        } else if (!wide) {
            text.assign(data.begin(), data.end());
        }
        if (!text.empty() && text.back() == '\0' && text.find('\0') == text.size() - 1) {
            text.pop_back();
            return (type == REG_EXPAND_SZ ? "expand:\"" : "\"") + text + "\"";
        }
    }
    std::snprintf(piece, sizeof(piece), "hex(%lx):", static_cast<unsigned long>(type));
    std::string out = type == REG_BINARY ? "hex:" : piece;
    for (std::size_t i = 0; i < data.size() && i < 16; ++i) {
        std::snprintf(piece, sizeof(piece), i ? ",%02x" : "%02x", data[i]);
        out += piece;
    }
    if (data.size() > 16) out += ",... (" + std::to_string(data.size()) + " bytes)";
    return out;
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
std::string AnsiFromUtf8(const std::string& utf8) { return Narrow(Widen(utf8, CP_UTF8), CP_ACP); }

namespace {

std::string Fold(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Collect(HKEY key, const std::string& path, Tree& tree) {
    for (RegValue& v : SortedValues(key)) {
        tree.values[Fold(path) + '\x01' + Fold(v.name)] = {path, v.name, v.type, std::move(v.data)};
    }
    for (const std::string& name : SortedSubkeyNames(key)) {
        std::string child = path.empty() ? name : path + "\\" + name;
        tree.keys[Fold(child)] = child;
        if (ks::UniqueHKey sub = ks::OpenKey(key, name, ks::kReadAccess)) Collect(sub.get(), child, tree);
    }
}

}  // namespace

Tree ReadTree(const std::string& top) {
    Tree tree;
    if (ks::UniqueHKey key = OpenRead(top)) {
        tree.present = true;
        Collect(key.get(), "", tree);
    }
    return tree;
}

// What `from` holds that `to` lacks or holds otherwise.
std::vector<Difference> Missing(const Tree& from, const Tree& to, bool withChanged) {
    std::vector<Difference> out;
    for (const auto& [folded, path] : from.keys) {
        if (to.keys.count(folded) == 0) out.push_back({"key", path, "", "missing", "", ""});
    }
    for (const auto& [folded, e] : from.values) {
        auto it = to.values.find(folded);
        if (it == to.values.end()) {
            out.push_back({"value", e.path, e.name, "missing", ShowValue(e.type, e.data, false), ""});
        } else if (withChanged && (it->second.type != e.type || it->second.data != e.data)) {
            out.push_back({"value", e.path, e.name, "differs", ShowValue(e.type, e.data, false),
                           ShowValue(it->second.type, it->second.data, false)});
        }
    }
    return out;
}

}  // namespace ksconfig
