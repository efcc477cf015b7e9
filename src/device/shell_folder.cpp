#include "device/shell_folder.h"

#include <windows.h>
#include <shlobj.h>
#include <mbstring.h>

namespace ks {

std::optional<std::string> UserShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return std::nullopt;
    }
    path[MAX_PATH - 1] = '\0';
    return std::string(path);
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(folder.c_str());
    const unsigned char* last = _mbsrchr(text, '\\');
    bool endsWithBackslash = last != nullptr && last + 1 == text + folder.size();
    std::string path = folder;
    if (!endsWithBackslash) path.push_back('\\');
    path.append(name);
    return path;
}

}  // namespace ks
