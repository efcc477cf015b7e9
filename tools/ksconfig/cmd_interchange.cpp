// Export and import: the settings tree as the registry editor's file (version 5, UTF-16) or as
// profile text, and an import of either (and of REGEDIT4 files) that reads the whole file first
// and writes nothing unless every line of it was read and names the settings.
#include <fcntl.h>
#include <io.h>

#include <cstring>

#include "calibration/pure/profile_text.h"
#include "calibration/pure/profile_writer.h"
#include "ksconfig.h"

namespace ksconfig {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// The sections of the tree `top` (named `path` below HKEY_CURRENT_USER), each key before its
// subkeys, lines ending in `eol`; what profile text cannot hold is reported and counted in `skipped`.
std::string ExportText(HKEY top, const std::string& path, const char* eol, std::vector<LinkSeen>& links, int& skipped) {
    std::string out;
    Walk(top, SIZE_MAX, [&](HKEY key, const std::wstring& below) {
        const std::string name = below.empty() ? path : path + "\\" + Ansi(below);
        std::string refusal;
        const std::optional<std::string> header = ks::WriteSectionHeader("HKEY_CURRENT_USER\\" + name, &refusal);
        if (!header) {
            std::fprintf(stderr, "ksconfig: left out key %s and everything below it: %s\n", name.c_str(), refusal.c_str());
            ++skipped;
            return false;
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
        if (const std::size_t length = ks::DeliveredSectionLength(lines); length > ks::kImportedSectionLength) {
            std::fprintf(stderr,
                         "ksconfig: section %s holds %zu characters; the importer reads only the first %zu,\n"
                         "ksconfig: so its later values would not be imported\n",
                         header->c_str(), length, ks::kImportedSectionLength);
        }
        out += (out.empty() ? "" : eol) + *header + eol;
        for (const std::string& line : lines) out += line + eol;
        return true;
    }, [&](const std::wstring& below, const std::string& target) { links.push_back({path + "\\" + Ansi(below), target}); });
    return out;
}

// Comment lines naming the registry links an export left out: files cannot hold a link, and
// none is followed.
std::string LinkComments(const std::vector<LinkSeen>& links, const char* eol) {
    std::string out;
    for (const LinkSeen& l : links) {
        std::fprintf(stderr, "ksconfig: left out HKEY_CURRENT_USER\\%s, a registry link to %s: not followed\n",
                     l.path.c_str(), l.target.c_str());
        out += "; registry link, not followed: HKEY_CURRENT_USER\\" + l.path + " -> " + l.target + eol;
    }
    return out;
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
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(char16_t));  // the platform is little-endian too
        return text;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        const std::wstring wide = ks::Widen(std::string_view(bytes).substr(3), CP_UTF8);
        return {wide.begin(), wide.end()};
    }
    return Utf16FromAnsi(bytes);
}

// The text values of profile text, and the hex(1), hex(2) and hex(7) bytes of REGEDIT4 files
// (`hexData`), are 8-bit text in the ANSI code page; the registry keeps them as UTF-16.
void WidenTexts(regtext::Key& key, bool hexData) {
    for (regtext::Value& v : key.values) {
        if (v.hexData != hexData ||
            (v.type != regtext::kTypeSz && v.type != regtext::kTypeExpandSz && v.type != regtext::kTypeMultiSz)) {
            continue;
        }
        const std::u16string wide = Utf16FromAnsi(std::string(v.data.begin(), v.data.end()));
        v.data.clear();
        regtext::AppendUtf16(v.data, wide);
    }
}

// Profile text is read with the store's own grammar: the lines its import would skip or read
// other than written are the problems.
void ReadProfileText(const std::u16string& decoded, regtext::Document& doc) {
    const std::string text = AnsiFromUtf16(decoded);
    std::vector<ks::TextProblem> problems;
    for (const ks::ProfileSection& section : ks::ReadProfileText(text, ks::IsAnsiLeadByte, &problems)) {
        regtext::Key key{Utf16FromAnsi(section.header), {}, section.line};
        for (const ks::ValueLine& v : section.values) {
            const std::uint32_t type = v.kind == ks::ValueLine::Kind::Dword    ? regtext::kTypeDword
                                       : v.kind == ks::ValueLine::Kind::String ? regtext::kTypeSz
                                                                               : regtext::kTypeBinary;
            key.values.push_back({Utf16FromAnsi(v.name), type, v.bytes, section.line, false});
        }
        WidenTexts(key, false);
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
    static const char* const kNames[] = {"registry editor file, version 5", "registry editor file, REGEDIT4", "profile text"};
    return kNames[static_cast<int>(format)];
}

std::optional<RegValue> CurrentValue(HKEY key, const std::u16string& name) {
    DWORD type = 0, size = 0;
    if (key == nullptr || RegQueryValueExW(key, W(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    RegValue v{AnsiFromUtf16(name), type, std::vector<BYTE>(size)};
    if (RegQueryValueExW(key, W(name), nullptr, &type, v.data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    v.data.resize(size);
    return v;
}

// What check would say of a value once imported into `key` (below HKEY_CURRENT_USER): the store's
// own reader on the value alone, in a key of ksconfig's scratch area; empty for nothing.
std::string ProblemOnceImported(const std::string& key, const regtext::Value& v) {
    std::string below;
    for (const char* top : {kSettingsRoot, kBackupRoot}) {
        const std::string prefix = Fold(std::string(top) + "\\");
        if (Fold(key.substr(0, prefix.size())) == prefix) below = key.substr(prefix.size());
    }
    const std::vector<Fields> tables = below.empty() ? std::vector<Fields>() : FieldsAt(below);
    if (tables.empty()) return {};
    const std::string probePath = "Software\\ksconfig scratch\\probe " + std::to_string(GetCurrentProcessId());
    std::vector<Problem> problems;
    if (ks::UniqueHKey probe = ks::CreateKey(User(), probePath)) {
        ks::WriteValue(probe.get(), W(v.name), v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
        for (Fields table : tables) CheckFields(probe.get(), below, table, problems);
    }
    ks::DeleteTree(User(), probePath.c_str());
    RegDeleteKeyA(User(), "Software\\ksconfig scratch");  // only when no other ksconfig has a copy below it
    return problems.empty() ? std::string() : problems.front().text;
}

}  // namespace

int SaveAsRegFile(const std::string& path, const std::string& file) {
    std::vector<std::u16string> leftOut;
    std::vector<LinkSeen> links;
    std::u16string text = regtext::Write(ReadKeys(path, links), &leftOut);
    for (const std::u16string& key : leftOut) {
        std::fprintf(stderr, "ksconfig: left out key %s: its name holds a line break\n", AnsiFromUtf16(key).c_str());
    }
    text += Utf16FromAnsi(LinkComments(links, "\r\n"));
    // A terminal shows the file's text: its UTF-16 bytes would come out as noise.
    if (file.empty() && _isatty(_fileno(stdout))) {
        std::string shown = AnsiFromUtf16(text);
        std::erase(shown, '\r');
        return WriteOut(file, shown, false);
    }
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    regtext::AppendUtf16(bytes, text);
    return WriteOut(file, std::string(bytes.begin(), bytes.end()), true);
}

int Export(const Arguments& args) {
    const std::string format = args.Option("--format", "text");
    if (format != "text" && format != "reg") return UsageError("unknown format \"" + format + "\" (text or reg)");
    const std::string file = args.Option("-o");
    if (args.Has("--json") && file.empty()) return UsageError("--json needs -o <file>: the export itself is the output");
    std::string path = kSettingsRoot;
    if (!args.positional.empty()) path += "\\" + args.positional[0];
    LinkSeen link;
    ks::UniqueHKey top = OpenPath(path, false, &link);
    if (!top) {
        return Fail(kNotFound, (args.positional.empty()
                                    ? std::string("there is no settings root (HKEY_CURRENT_USER\\") + kSettingsRoot + ")"
                                    : "no settings for scanner \"" + args.positional[0] + "\"") + NotFollowed(link));
    }
    int rc = kOk;
    if (format == "reg") {
        rc = SaveAsRegFile(path, file);
    } else {
        int skipped = 0;
        std::vector<LinkSeen> links;
        // Profile files are read by the platform's profile functions: plain ANSI text, CR LF lines.
        const char* eol = file.empty() ? "\n" : "\r\n";
        std::string text = ExportText(top.get(), path, eol, links, skipped);
        text += LinkComments(links, eol);
        skipped += static_cast<int>(links.size());
        if (skipped > 0) std::fprintf(stderr, "ksconfig: %s left out of the export\n", Count(skipped, "item").c_str());
        rc = WriteOut(file, text, false);
    }
    if (rc == kOk && args.Has("--json")) {
        PrintJson({{"file", JsonText(file)}, {"format", json::Str(format)}});
    }
    return rc;
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
    for (regtext::Key& key : doc.keys) {
        LinkSeen link;
        if (std::string reason = regtext::Refusal(key.path); !reason.empty()) {
            doc.problems.push_back({key.line, reason});
        } else if (OpenPath(W(key.path.substr(key.path.find(u'\\') + 1)), false, &link); !link.path.empty()) {
            doc.problems.push_back({key.line, Utf8FromAnsi(link.Text()) + ": nothing is written through it"});
        }
        if (doc.format == regtext::Format::Reg4) WidenTexts(key, true);
    }
    if (!doc.problems.empty()) {
        std::stable_sort(doc.problems.begin(), doc.problems.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
        std::vector<std::string> lines, items;
        for (const regtext::Problem& p : doc.problems) {
            lines.push_back(file + ":" + std::to_string(p.line) + ": " + AnsiFromUtf8(p.reason));
            items.push_back(json::Obj({{"line", json::Num(static_cast<long long>(p.line))}, {"reason", json::Str(p.reason)}}));
        }
        return Fail(kRefused,
                    Count(static_cast<long>(doc.problems.size()), "bad line") + " in " + file + " (" + FormatName(doc.format) +
                        "); nothing was written",
                    std::nullopt, lines, {{"file", JsonText(file)}, {"problems", json::Arr(items)}});
    }

    // What changes, against the registry as it is now, with what check would say of it; then the writes.
    const bool dryRun = args.Has("--dry-run");
    auto shown = [](std::uint32_t type, const auto& data) {
        return ShowValue(type, std::span<const std::uint8_t>(data.data(), data.size()), AnsiFromUtf16);
    };
    std::vector<std::string> items, lines;
    long values = 0, failed = 0;
    LONG error = ERROR_WRITE_FAULT;
    for (const regtext::Key& key : doc.keys) {
        const std::u16string below = key.path.substr(key.path.find(u'\\') + 1);
        const std::string name = AnsiFromUtf16(below);
        ks::UniqueHKey current = OpenPath(W(below)), target = dryRun ? ks::UniqueHKey() : OpenPath(W(below), true);
        if (!dryRun && !target) failed += static_cast<long>(key.values.size()) + 1;
        for (const regtext::Value& v : key.values) {
            ++values;
            const std::optional<RegValue> was = CurrentValue(current.get(), v.name);
            if (was && was->type == v.type && std::ranges::equal(was->data, v.data)) continue;
            const std::string problem = ProblemOnceImported(name, v);
            json::Members m = {{"key", JsonText(name)},
                               {"name", json::Str(regtext::Utf8(v.name))},
                               {"data", JsonText(shown(v.type, v.data))}};
            if (was) m.push_back({"was", JsonText(shown(was->type, was->data))});
            if (!problem.empty()) m.push_back({"problem", JsonText(problem)});
            items.push_back(json::Obj(m));
            lines.push_back(std::string("  ") + (was ? "changed  " : "new value") + "  " + name + " \"" + AnsiFromUtf16(v.name) +
                            "\" = " + shown(v.type, v.data) + (was ? " (was " + shown(was->type, was->data) + ")" : ""));
            if (!problem.empty()) lines.push_back("             check would flag it: " + problem);
            const LONG rc =
                target ? ks::WriteValue(target.get(), W(v.name), v.type, v.data.data(), static_cast<DWORD>(v.data.size()))
                       : ERROR_SUCCESS;
            if (rc != ERROR_SUCCESS) {
                error = rc;
                ++failed;
            }
        }
    }
    const json::Members result = {{"file", JsonText(file)},
                                  {"format", json::Str(FormatName(doc.format))},
                                  {"dryRun", json::Bool(dryRun)},
                                  {"keys", json::Num(static_cast<long long>(doc.keys.size()))},
                                  {"values", json::Num(values)},
                                  {"changes", json::Arr(items)},
                                  {"failedWrites", json::Num(failed)}};
    if (failed > 0) {
        return Fail(kStoreError, Count(failed, "key or value") + " could not be written", HRESULT_FROM_WIN32(error), lines,
                    result);
    }
    if (args.Has("--json")) return PrintJson(result);
    std::printf("%s %s and %s from %s (%s)%s\n", dryRun ? "would import" : "imported",
                Count(static_cast<long>(doc.keys.size()), "key").c_str(), Count(values, "value").c_str(), file.c_str(),
                FormatName(doc.format), items.empty() ? ": nothing changes" : ":");
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return kOk;
}

}  // namespace ksconfig
