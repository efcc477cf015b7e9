// Export and import: the settings tree as the registry editor's file (version 5, UTF-16) or as
// profile text, and an import of either (and of REGEDIT4 files) that reads the whole file first
// and writes nothing unless every line of it was read and names the settings.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "calibration/pure/profile_text.h"
#include "calibration/pure/profile_writer.h"
#include "check.h"
#include "core/text.h"
#include "commands.h"
#include "json.h"
#include "output.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

// The sections of the tree `top` (named `path` below HKEY_CURRENT_USER), each key before its
// subkeys; what profile text cannot hold is reported and counted in `skipped`.
std::string ExportText(HKEY top, const std::string& path, std::vector<LinkSeen>& links, int& skipped) {
    std::string out;
    std::vector<std::string> leftOut;  // keys left out with everything below them
    Walk(top, SIZE_MAX, [&](HKEY key, const std::wstring& below) {
        const std::string name = below.empty() ? path : path + "\\" + AnsiFromWide(below);
        for (const std::string& k : leftOut) {
            if (name.compare(0, k.size() + 1, k + "\\") == 0) return;
        }
        std::string refusal;
        std::optional<std::string> header = ks::WriteSectionHeader("HKEY_CURRENT_USER\\" + name, &refusal);
        if (!header) {
            std::fprintf(stderr, "ksconfig: left out key %s and everything below it: %s\n", name.c_str(), refusal.c_str());
            leftOut.push_back(name);
            ++skipped;
            return;
        }
        std::vector<std::string> lines;
        for (const RegValue& v : SortedValues(key)) {
            ks::WrittenValue written = ks::WriteValueLines(v.name, v.type, v.data);
            if (written.lines.empty()) {
                std::fprintf(stderr, "ksconfig: left out value \"%s\" of %s: %s\n", v.name.c_str(), name.c_str(),
                             written.refusal.c_str());
                ++skipped;
            }
            lines.insert(lines.end(), written.lines.begin(), written.lines.end());
        }
        if (std::size_t length = ks::DeliveredSectionLength(lines); length > ks::kImportedSectionLength) {
            std::fprintf(stderr,
                         "ksconfig: section %s holds %zu characters; the importer reads only the first %zu,\n"
                         "ksconfig: so its later values would not be imported\n",
                         header->c_str(), length, ks::kImportedSectionLength);
        }
        out += (out.empty() ? "" : "\n") + *header + '\n';
        for (const std::string& line : lines) out += line + '\n';
    }, [&](const std::wstring& below, const std::string& target) {
        links.push_back({path + "\\" + AnsiFromWide(below), target});
    });
    return out;
}

// Comment lines naming the registry links an export left out: files cannot hold a link, and
// none is followed.
std::string LinkComments(const std::vector<LinkSeen>& links) {
    std::string out;
    for (const LinkSeen& l : links) {
        std::fprintf(stderr, "ksconfig: left out HKEY_CURRENT_USER\\%s, a registry link to %s: not followed\n",
                     l.path.c_str(), l.target.c_str());
        out += "; registry link, not followed: HKEY_CURRENT_USER\\" + l.path + " -> " + l.target + "\n";
    }
    return out;
}

// The registry editor's file: UTF-16LE after its byte-order mark.
std::string RegFileBytes(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// To standard output when `file` is empty, else into the file.
int WriteOut(const std::string& file, const std::string& bytes, bool binary) {
    if (file.empty()) {
        if (binary) _setmode(_fileno(stdout), _O_BINARY);
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        return kOk;
    }
    ks::UniqueFile out(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out || !WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        return Fail(kStoreError, "writing " + file + " failed", HRESULT_FROM_WIN32(GetLastError()));
    }
    return kOk;
}

// A file's text by its byte-order mark: UTF-16LE, UTF-8, or else the ANSI code page.
std::u16string Decode(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        }
        return text;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return Widen(std::string_view(bytes).substr(3), CP_UTF8);
    }
    return Utf16FromAnsi(bytes);
}

// REGEDIT4 files hold the bytes of hex(1), hex(2) and hex(7) values as 8-bit text.
void WidenRegedit4Texts(regtext::Document& doc) {
    for (regtext::Key& key : doc.keys) {
        for (regtext::Value& v : key.values) {
            if (!v.hexData ||
                (v.type != regtext::kTypeSz && v.type != regtext::kTypeExpandSz && v.type != regtext::kTypeMultiSz)) {
                continue;
            }
            std::u16string wide = Utf16FromAnsi(std::string(v.data.begin(), v.data.end()));
            v.data.clear();
            for (char16_t c : wide) {
                v.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
                v.data.push_back(static_cast<std::uint8_t>(c >> 8));
            }
        }
    }
}

// Profile text is 8-bit text in the ANSI code page, read with the store's own grammar: the lines
// its import would skip or read other than written are the problems.
void ReadProfileText(const std::u16string& decoded, regtext::Document& doc) {
    const std::string text = AnsiFromUtf16(decoded);
    std::vector<ks::TextProblem> problems;
    for (const ks::ProfileSection& section : ks::ReadProfileText(text, ks::IsAnsiLeadByte, &problems)) {
        regtext::Key key{Utf16FromAnsi(section.header), {}, section.line};
        for (const ks::ValueLine& v : section.values) {
            regtext::Value value{Utf16FromAnsi(v.name), regtext::kTypeBinary, v.bytes, section.line};
            if (v.kind == ks::ValueLine::Kind::Dword) value.type = regtext::kTypeDword;
            if (v.kind == ks::ValueLine::Kind::String) {
                value.type = regtext::kTypeSz;
                value.data.clear();
                for (char16_t c : Utf16FromAnsi(std::string(v.bytes.begin(), v.bytes.end() - 1)) + u'\0') {
                    value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
                    value.data.push_back(static_cast<std::uint8_t>(c >> 8));
                }
            }
            key.values.push_back(std::move(value));
        }
        doc.keys.push_back(std::move(key));
    }
    for (const ks::TextProblem& p : problems) doc.problems.push_back({p.line, Utf8FromAnsi(p.reason)});
    // Every writer ends its last line; a file cut short mostly does not.
    if (!text.empty() && text.back() != '\r' && text.back() != '\n') {
        doc.problems.push_back({static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n') + 1),
                                "the file ends inside this line: cut short? (a whole file ends with a line break)"});
    }
}

const char* FormatName(regtext::Format format) {
    switch (format) {
        case regtext::Format::Reg5: return "registry editor file, version 5";
        case regtext::Format::Reg4: return "registry editor file, REGEDIT4";
        default: return "profile text";
    }
}

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// One value the import sets, with what it replaces.
struct Change {
    std::string key;  // below HKEY_CURRENT_USER, ANSI
    const regtext::Value* value = nullptr;  // null: the key itself is new
    std::optional<RegValue> was;
    std::string problem;  // what check would say of the value once imported
};

std::optional<RegValue> CurrentValue(HKEY key, const std::u16string& name) {
    DWORD type = 0, size = 0;
    if (key == nullptr || RegQueryValueExW(key, W(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    RegValue v{AnsiFromUtf16(name), type, std::vector<BYTE>(size)};
    if (RegQueryValueExW(key, W(name), nullptr, &type, v.data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    v.data.resize(size);
    return v;
}

}  // namespace

int SaveAsRegFile(const std::string& path, const std::string& file) {
    std::vector<std::u16string> leftOut;
    std::vector<LinkSeen> links;
    std::u16string text = regtext::Write(ReadKeys(path, links), &leftOut);
    for (const std::u16string& key : leftOut) {
        std::fprintf(stderr, "ksconfig: left out key %s: its name holds a line break\n", AnsiFromUtf16(key).c_str());
    }
    for (char c : LinkComments(links)) text += c == '\n' ? std::u16string(u"\r\n") : std::u16string(1, static_cast<unsigned char>(c));
    // A terminator shows the file's text: its UTF-16 bytes would come out as noise.
    if (file.empty() && _isatty(_fileno(stdout))) {
        std::string shown = AnsiFromUtf16(text);
        std::erase(shown, '\r');
        return WriteOut(file, shown, false);
    }
    return WriteOut(file, RegFileBytes(text), true);
}

int Export(const Arguments& args) {
    std::string format = args.Option("--format", "text");
    if (format != "text" && format != "reg") return UsageError("unknown format \"" + format + "\" (text or reg)");
    const std::string file = args.Option("-o");
    if (args.Has("--json") && file.empty()) return UsageError("--json needs -o <file>: the export itself is the output");
    std::string path = kSettingsRoot;
    if (!args.positional.empty()) path += "\\" + args.positional[0];
    LinkSeen link;
    ks::UniqueHKey top = OpenRead(path, &link);
    if (!top) {
        return Fail(kNotFound, (args.positional.empty()
                                    ? std::string("there is no settings root (HKEY_CURRENT_USER\\") + kSettingsRoot + ")"
                                    : "no settings for scanner \"" + args.positional[0] + "\"") + NotFollowed(link));
    }
    auto done = [&](int rc) {
        if (rc == kOk && args.Has("--json")) {
            std::printf("%s\n", json::Obj({{"file", json::Str(Utf8FromAnsi(file))}, {"format", json::Str(format)}}).c_str());
        }
        return rc;
    };
    if (format == "reg") return done(SaveAsRegFile(path, file));

    int skipped = 0;
    std::vector<LinkSeen> links;
    std::string text = ExportText(top.get(), path, links, skipped);
    text += LinkComments(links);
    skipped += static_cast<int>(links.size());
    if (skipped > 0) std::fprintf(stderr, "ksconfig: %s left out of the export\n", Count(skipped, "item").c_str());
    // Profile files are read by the platform's profile functions: plain ANSI text, CR LF lines.
    std::string crlf;
    for (char c : text) {
        if (c == '\n' && !file.empty()) crlf += '\r';
        crlf += c;
    }
    return done(WriteOut(file, crlf, false));
}

int Import(const Arguments& args) {
    const std::string& file = args.positional[0];
    ks::UniqueFile in(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!in) return Fail(kNotFound, "no file " + file, HRESULT_FROM_WIN32(GetLastError()));
    std::string bytes;
    char buffer[65536];
    for (DWORD n = 0; ReadFile(in.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0;) bytes.append(buffer, n);

    const std::u16string decoded = Decode(bytes);
    regtext::Document doc = regtext::Parse(decoded);
    if (doc.format == regtext::Format::ProfileText) ReadProfileText(decoded, doc);
    for (const regtext::Key& key : doc.keys) {
        LinkSeen link;
        if (std::string reason = regtext::Refusal(key.path); !reason.empty()) {
            doc.problems.push_back({key.line, reason});
        } else if (OpenRead(AnsiFromUtf16(key.path.substr(key.path.find(u'\\') + 1)), &link); !link.path.empty()) {
            doc.problems.push_back({key.line, Narrow(Widen(link.Text(), CP_ACP), CP_UTF8) + ": nothing is written through it"});
        }
    }
    if (!doc.problems.empty()) {
        std::stable_sort(doc.problems.begin(), doc.problems.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
        std::vector<std::string> lines;
        std::vector<std::string> items;
        for (const regtext::Problem& p : doc.problems) {
            lines.push_back(file + ":" + std::to_string(p.line) + ": " + AnsiFromUtf8(p.reason));
            items.push_back(json::Obj({{"line", json::Num(static_cast<long long>(p.line))}, {"reason", json::Str(p.reason)}}));
        }
        return FailWith(kRefused,
                        Count(static_cast<long>(doc.problems.size()), "bad line") + " in " + file + " (" +
                            FormatName(doc.format) + "); nothing was written",
                        lines, {{"file", json::Str(Utf8FromAnsi(file))}, {"problems", json::Arr(items)}});
    }
    if (doc.format == regtext::Format::Reg4) WidenRegedit4Texts(doc);

    // What would change, against the registry as it is now, and what check would say of it.
    std::vector<Change> changes;
    long values = 0, unchanged = 0;
    for (const regtext::Key& key : doc.keys) {
        std::u16string below = key.path.substr(key.path.find(u'\\') + 1);
        const std::string name = AnsiFromUtf16(below);
        HKEY open = nullptr;
        if (RegOpenKeyExW(User(), W(below), 0, KEY_READ, &open) != ERROR_SUCCESS) open = nullptr;
        ks::UniqueHKey current(open);
        if (!current) changes.push_back({name, nullptr, std::nullopt, ""});
        for (const regtext::Value& v : key.values) {
            ++values;
            std::optional<RegValue> was = CurrentValue(current.get(), v.name);
            if (was && was->type == v.type && std::equal(was->data.begin(), was->data.end(), v.data.begin(), v.data.end())) {
                ++unchanged;
                continue;
            }
            // The store reads texts in the ANSI code page.
            std::vector<BYTE> stored(v.data.begin(), v.data.end());
            if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && stored.size() % 2 == 0) {
                const std::string ansi = AnsiFromUtf16({reinterpret_cast<const char16_t*>(v.data.data()), v.data.size() / 2});
                stored.assign(ansi.begin(), ansi.end());
            }
            changes.push_back({name, &v, was, StoredValueProblem(name, AnsiFromUtf16(v.name), v.type, stored).value_or("")});
        }
    }
    const bool dryRun = args.Has("--dry-run");
    long failed = 0;
    LONG error = ERROR_SUCCESS;
    for (const regtext::Key& key : dryRun ? std::vector<regtext::Key>() : doc.keys) {
        HKEY created = nullptr;
        if (LONG rc = RegCreateKeyExW(User(), W(key.path.substr(key.path.find(u'\\') + 1)), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_READ | KEY_WRITE, nullptr, &created, nullptr); rc != ERROR_SUCCESS) {
            failed += static_cast<long>(key.values.size()) + 1;
            error = rc;
            continue;
        }
        ks::UniqueHKey target(created);
        for (const regtext::Value& v : key.values) {
            LONG rc = RegSetValueExW(target.get(), W(v.name), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
            if (rc != ERROR_SUCCESS) {
                ++failed;
                error = rc;
            }
        }
    }

    auto shown = [](std::uint32_t type, const auto& data) {
        return ShowValue(type, std::span<const std::uint8_t>(data.data(), data.size()), AnsiFromUtf16);
    };
    std::vector<std::string> items;
    for (const Change& c : changes) {
        json::Members m = {{"change", json::Str(!c.value ? "newKey" : c.was ? "changedValue" : "newValue")},
                           {"key", json::Str(Utf8FromAnsi(c.key))}};
        if (c.value) {
            m.push_back({"name", json::Str(regtext::Utf8(c.value->name))});
            m.push_back({"data", json::Str(Utf8FromAnsi(shown(c.value->type, c.value->data)))});
            if (c.was) m.push_back({"was", json::Str(Utf8FromAnsi(shown(c.was->type, c.was->data)))});
            if (!c.problem.empty()) m.push_back({"problem", json::Str(Utf8FromAnsi(c.problem))});
        }
        items.push_back(json::Obj(m));
    }
    const json::Members doc5 = {{"file", json::Str(Utf8FromAnsi(file))},
                                {"format", json::Str(FormatName(doc.format))},
                                {"dryRun", json::Bool(dryRun)},
                                {"keys", json::Num(static_cast<long long>(doc.keys.size()))},
                                {"values", json::Num(values)},
                                {"unchangedValues", json::Num(unchanged)},
                                {"changes", json::Arr(items)},
                                {"failedWrites", json::Num(failed)}};
    const std::string failure = Count(failed, "key or value") + " could not be written";
    if (args.Has("--json")) {
        if (failed > 0) return FailWith(kStoreError, failure, {}, doc5, HRESULT_FROM_WIN32(error));
        std::printf("%s\n", json::Obj(doc5).c_str());
        return kOk;
    }
    std::printf("%s %s and %s from %s (%s)%s\n", dryRun ? "would import" : "imported",
                Count(static_cast<long>(doc.keys.size()), "key").c_str(), Count(values, "value").c_str(), file.c_str(),
                FormatName(doc.format), changes.empty() ? ": nothing changes" : ":");
    for (const Change& c : changes) {
        if (!c.value) {
            std::printf("  new key    %s\n", c.key.c_str());
            continue;
        }
        std::printf("  %s  %s \"%s\" = %s%s\n", c.was ? "changed  " : "new value", c.key.c_str(),
                    AnsiFromUtf16(c.value->name).c_str(), shown(c.value->type, c.value->data).c_str(),
                    c.was ? (" (was " + shown(c.was->type, c.was->data) + ")").c_str() : "");
        if (!c.problem.empty()) std::printf("             check would flag it: %s\n", c.problem.c_str());
    }
    if (unchanged > 0) std::printf("  %s unchanged\n", Count(unchanged, "value").c_str());
    return failed > 0 ? Fail(kStoreError, failure, HRESULT_FROM_WIN32(error)) : kOk;
}

}  // namespace ksconfig
