#include "calibration/profile_importer.h"

#include <windows.h>
#include <algorithm>
#include <string_view>
#include <vector>

#include "calibration/pure/profile_text.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "core/win_handles.h"

namespace ks {

namespace {

// The names buffer doubles from here while the platform says it was too small.
constexpr DWORD kNamesBufferStart = 5000;
constexpr DWORD kSectionBuffer = kSectionBufferSize;

HKEY RootHandle(RootKey root) {
    switch (root) {
        case RootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RootKey::CurrentConfig: return HKEY_CURRENT_CONFIG;
        case RootKey::CurrentUser: return HKEY_CURRENT_USER;
        case RootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
        case RootKey::Users: return HKEY_USERS;
    }
    return nullptr;
}

// Creates or opens the key a section header names; empty for a header without a known root.
UniqueHKey OpenSectionKey(std::string_view section) {
    std::optional<SectionTarget> target = ParseSectionHeader(section, IsAnsiLeadByte);
    if (!target) return UniqueHKey();
    HKEY root = RootHandle(target->root);
    if (root == nullptr) return UniqueHKey();
    return CreateKey(root, target->path);
}

DWORD RegistryType(ValueLine::Kind kind) {
    switch (kind) {
        case ValueLine::Kind::String: return REG_SZ;
        case ValueLine::Kind::Dword: return REG_DWORD;
        case ValueLine::Kind::Binary: return REG_BINARY;
    }
    return REG_NONE;
}

void ImportSection(const std::string& file, const std::string& section, HKEY key) {
    std::vector<char> buffer(kSectionBuffer);
    DWORD delivered = GetPrivateProfileSectionA(section.c_str(), buffer.data(), kSectionBuffer, file.c_str());
    std::string_view lines(buffer.data(), std::min(delivered, kSectionBuffer));
    for (const std::string& line : JoinSectionLines(lines, IsAnsiLeadByte)) {
        std::optional<ValueLine> value = ParseValueLine(line, IsAnsiLeadByte);
        if (!value) continue;
        // An empty value still needs a valid pointer for the platform.
        static const BYTE kNoBytes = 0;
        const BYTE* bytes = value->bytes.empty() ? &kNoBytes : value->bytes.data();
        // A value the registry refuses is skipped; the next line is imported all the same.
        WriteValue(key, value->name.c_str(), RegistryType(value->kind), bytes, static_cast<DWORD>(value->bytes.size()));
    }
}

}  // namespace

void RegistryProfileImporter::ImportFile() const {
    // The platform answers size - 2 when the list of names did not fit: ask again with more room.
    DWORD size = kNamesBufferStart;
    UniqueTaskMem<char> buffer;
    DWORD answered = 0;
    for (;;) {
        buffer.reset(static_cast<char*>(CoTaskMemAlloc(size)));
        if (!buffer) return;
        answered = GetPrivateProfileSectionNamesA(buffer.get(), size, path_.c_str());
        if (answered != size - 2) break;
        if (size > MAXDWORD / 2) return;
        size *= 2;
    }

    std::string_view names(buffer.get(), std::min(answered, size));
    std::string section;
    for (char c : names) {
        if (c != '\0') {
            section.push_back(c);
            continue;
        }
        if (!section.empty()) {
            UniqueHKey key = OpenSectionKey(section);
            if (key) ImportSection(path_, section, key.get());
        }
        section.clear();
    }
}

}  // namespace ks
