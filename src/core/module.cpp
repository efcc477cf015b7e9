#include "core/module.h"

#include <psapi.h>
#include <mbstring.h>


namespace ks {

Module g_module;

std::optional<std::string> ModulePath(bool* mayBeCut) {
    char path[260];
    DWORD length = GetModuleFileNameExA(GetCurrentProcess(), g_module.Instance(), path, sizeof(path));
    if (length == 0) return std::nullopt;
    path[sizeof(path) - 1] = '\0';
    std::string text(path);
    if (mayBeCut != nullptr) *mayBeCut = text.size() + 1 >= sizeof(path);
    return text;
}

std::optional<std::string> InstallFolder() {
    std::optional<std::string> path = ModulePath();
    if (!path) return std::nullopt;
    // A trail byte of a double-byte character may equal '\\': search by characters.
    const unsigned char* text = reinterpret_cast<const unsigned char*>(path->c_str());
    const unsigned char* last = _mbsrchr(text, '\\');
    if (last == nullptr) return std::string();
    return path->substr(0, static_cast<size_t>(last - text));
}

}  // namespace ks
