// Turns the DLL's registration scripts into the Windows Installer registry rows that write and
// remove the same entries, so that the package and self-registration share one definition.
// Built and run on the build host.
//
// Usage: rgs_to_wix SHARED.wxi VIEW.wxi IDL SCRIPT.rgs...
// The application and type library identities come from the IDL; the module path becomes the
// package's reference to the installed DLL.
//
// The rows come in two files, because Windows Installer counts a registry row's users only through
// its component. VIEW.wxi holds what each bitness writes into a registry view of its own (the class
// key below HKCR\CLSID, the type library's win32 or win64 path) and goes into the DLL's component.
// SHARED.wxi holds the keys that both views see as one (programmatic identifiers, AppID, the type
// library's version key) and goes into a component whose GUID every package uses, so that removing
// one package leaves them to the others still installed.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "server/pure/registration_script.h"

namespace {

// Ids that the including fragment defines: the DLL's File element and the folder it goes to.
constexpr const char* kModuleRef = "[#KsRegistryDll]";
constexpr const char* kFolderRef = "[KSREGISTRYDIR]";
// Stands for the module path while the script is read; it cannot occur in a script's own text.
constexpr const char* kModuleMarker = "\x01MODULE\x01";

struct Failure {
    std::string message;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure{"cannot read " + path};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Key and Value columns of the Registry table are formatted text: brackets are escaped, and the
// marker becomes the installed DLL's path. A leading '#' would make a string a number.
std::string Formatted(const std::string& text) {
    if (!text.empty() && text[0] == '#') throw Failure{"a string starting with '#' cannot be written: " + text};
    std::string out;
    for (char c : text) {
        if (c == '[') out += "[\\[]";
        else if (c == ']') out += "[\\]]";
        else out += c;
    }
    for (std::size_t at; (at = out.find(kModuleMarker)) != std::string::npos;)
        out.replace(at, std::char_traits<char>::length(kModuleMarker), kModuleRef);
    return out;
}

std::string Xml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

struct Outputs {
    std::ostringstream shared;
    std::ostringstream view;
    bool sharedKeyPath = false;
};

// HKCR\CLSID is the one key here that 64-bit Windows keeps apart for 32-bit programs.
bool InOwnView(const std::string& key) { return key.rfind("CLSID\\", 0) == 0; }

void Row(std::ostream& out, const std::string& key, const std::string* name, const std::string& value,
         bool keyPath = false) {
    out << "  <RegistryValue Root=\"HKCR\" Key=\"" << Xml(key) << "\"";
    if (name != nullptr) out << " Name=\"" << Xml(*name) << "\"";
    out << " Type=\"string\" Value=\"" << Xml(value) << "\"";
    if (keyPath) out << " KeyPath=\"yes\"";
    out << "/>\n";
}

// The shared component's key path is its first value that is more than a key.
void Row(Outputs& out, const std::string& key, const std::string* name, const std::string& value) {
    if (InOwnView(key)) return Row(out.view, key, name, value);
    const bool keyPath = !out.sharedKeyPath && !(name != nullptr && *name == "*");
    out.sharedKeyPath = out.sharedKeyPath || keyPath;
    Row(out.shared, key, name, value, keyPath);
}

// Registration creates each key and writes its values; unregistration deletes every key without
// NoRemove with its subtree, and only the named values below a NoRemove key. A "*" row says
// exactly that to the installer: create the key, and remove it whole with the component.
void Rows(Outputs& out, const std::string& parent, const std::vector<ks::rgs::Key>& keys) {
    for (const ks::rgs::Key& key : keys) {
        if (key.flag == ks::rgs::KeyFlag::Delete) throw Failure{"a Delete key has no installer form: " + key.name};
        const std::string path = Formatted(parent.empty() ? key.name : parent + "\\" + key.name);
        if (key.flag != ks::rgs::KeyFlag::NoRemove) {
            const std::string star = "*";
            Row(out, path, &star, "");
        }
        if (key.hasDefault) Row(out, path, nullptr, Formatted(key.defaultText));
        for (const ks::rgs::NamedValue& value : key.values) {
            const std::string name = Formatted(value.name);
            Row(out, path, &name, Formatted(value.text));
        }
        Rows(out, parent.empty() ? key.name : parent + "\\" + key.name, key.children);
    }
}

std::string Match(const std::string& idl, const std::string& pattern, const char* what) {
    std::smatch found;
    if (!std::regex_search(idl, found, std::regex(pattern))) throw Failure{std::string("no ") + what + " in the IDL"};
    return found[1].str();
}

// APPID_... = {0x4a829667, 0xd24c, 0x4145, {0x84, ...}} as the braced upper-case string form.
std::string AppIdFromIdl(const std::string& idl) {
    std::string body = Match(idl, R"re(APPID_\w+\s*=\s*"\)\s*cpp_quote\("\s*\{([^;]*)\}\s*;)re", "application id");
    std::vector<unsigned long> parts;
    std::regex hex("0x([0-9a-fA-F]+)");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), hex); it != std::sregex_iterator(); ++it)
        parts.push_back(std::stoul((*it)[1].str(), nullptr, 16));
    if (parts.size() != 11) throw Failure{"the application id in the IDL is not a GUID"};
    char text[40];
    std::snprintf(text, sizeof(text), "{%08lX-%04lX-%04lX-%02lX%02lX-%02lX%02lX%02lX%02lX%02lX%02lX}", parts[0],
                  parts[1], parts[2], parts[3], parts[4], parts[5], parts[6], parts[7], parts[8], parts[9], parts[10]);
    return text;
}

// The keys that registering the type library writes below HKCR\TypeLib, from the library's
// attributes. Only uuid, version and helpstring are recognised, so the library flags (restricted,
// control, hidden) are none: FLAGS is 0. The help folder is the DLL's, which the installer
// writes with a trailing backslash.
void TypeLibRows(Outputs& out, const std::string& idl) {
    std::smatch found;
    const std::regex library(
        R"re(uuid\(([0-9A-Fa-f-]{36})\)\s*,\s*version\((\d+)\.(\d+)\)\s*,\s*helpstring\("([^"]*)"\)\s*\]\s*library\s)re");
    if (!std::regex_search(idl, found, library)) throw Failure{"no library attributes in the IDL"};
    std::string libid = "{" + found[1].str() + "}";
    for (char& c : libid) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Version numbers are written in hexadecimal.
    char version[32];
    std::snprintf(version, sizeof(version), "%lx.%lx", std::stoul(found[2].str()), std::stoul(found[3].str()));
    const std::string key = "TypeLib\\" + libid + "\\" + version;
    const std::string star = "*";
    Row(out, key, &star, "");
    Row(out, key, nullptr, Formatted(found[4].str()));
    Row(out, key + "\\FLAGS", nullptr, "0");
    Row(out, key + "\\HELPDIR", nullptr, kFolderRef);
    out.view << "<?if $(var.Win64) = yes ?>\n";
    Row(out.view, key + "\\0\\win64", nullptr, kModuleRef);
    out.view << "<?else?>\n";
    Row(out.view, key + "\\0\\win32", nullptr, kModuleRef);
    out.view << "<?endif?>\n";
}

void Write(const std::string& path, const std::string& rows, const char* what) {
    std::ofstream file(path, std::ios::binary);
    file << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         << "<!-- Generated by rgs_to_wix from the registration scripts and the IDL: do not edit.\n     " << what
         << " -->\n<Include xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
         << rows << "</Include>\n";
    if (!file.flush()) throw Failure{"cannot write " + path};
}

void Generate(const std::string& shared, const std::string& view, const std::string& idlPath,
              const std::vector<std::string>& scripts) {
    const std::string idl = ReadFile(idlPath);
    const ks::rgs::Replacements replacements = ks::rgs::ModuleReplacements(kModuleMarker, AppIdFromIdl(idl));
    Outputs out;
    for (const std::string& path : scripts) {
        auto parsed = ks::rgs::ParseScript(ReadFile(path), replacements);
        if (auto* error = std::get_if<ks::rgs::ParseError>(&parsed)) throw Failure{path + ": " + error->Describe()};
        Rows(out, "", std::get<ks::rgs::Script>(parsed).keys);
    }
    TypeLibRows(out, idl);
    if (!out.sharedKeyPath) throw Failure{"no shared value to serve as the shared component's key path"};
    Write(shared, out.shared.str(), "The entries that both registry views share, for the component every package shares.");
    Write(view, out.view.str(), "The entries of this bitness's registry view, for the DLL's own component.");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: rgs_to_wix SHARED.wxi VIEW.wxi IDL SCRIPT.rgs...\n";
        return 2;
    }
    try {
        Generate(argv[1], argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
    } catch (const Failure& failure) {
        std::cerr << "rgs_to_wix: " << failure.message << "\n";
        std::remove(argv[1]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
