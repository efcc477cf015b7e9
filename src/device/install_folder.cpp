#include "device/install_folder.h"

#include <windows.h>
#include <psapi.h>
#include <mbstring.h>

#include "core/boundary.h"
#include "core/config_object.h"
#include "core/module.h"
#include "core/text.h"

namespace ks {

std::optional<std::string> ModulePath() {
    char path[260];
    if (GetModuleFileNameExA(GetCurrentProcess(), g_module.Instance(), path, sizeof(path)) == 0) return std::nullopt;
    path[sizeof(path) - 1] = '\0';
    return std::string(path);
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

HRESULT STDMETHODCALLTYPE ConfigObject::GetKSInstallFolder(BSTR* folder) {
    return Boundary([&] {
        std::optional<std::string> installFolder = InstallFolder();
        if (!installFolder) return E_FAIL;
        StoreBstr(folder, *installFolder);
        return S_OK;
    });
}

}  // namespace ks
