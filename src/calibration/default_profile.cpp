#include "calibration/default_profile.h"

#include <windows.h>

#include "calibration/pure/profile_text.h"
#include "core/pure/key_path.h"
#include "core/pure/profiles_file.h"
#include "core/text.h"
#include "core/win_handles.h"
#include "core/module.h"

namespace ks {

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
}

std::optional<TemporaryFile> PrepareDefaultProfile(const std::string& hardwareName) {
    std::optional<std::string> folder = InstallFolder();
    if (!folder) return std::nullopt;
    // A name that would lead out of the Profiles folder has no default profile, whatever lies there.
    const std::optional<std::string> profilePath = ProfilesFilePath(*folder, hardwareName, ".ks4", IsAnsiLeadByte);
    if (!profilePath) return std::nullopt;

    char tempFolder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(tempFolder), tempFolder);
    if (length == 0 || length >= sizeof(tempFolder)) return std::nullopt;
    CreateDirectoryA(tempFolder, nullptr);  // normally there already; GetTempFileNameA tells
    char tempName[MAX_PATH];
    if (GetTempFileNameA(tempFolder, "~KS", 0, tempName) == 0) return std::nullopt;
    // Declared before the file handles, so they are closed before it is deleted.
    TemporaryFile temp{std::string(tempName)};

    UniqueFile profile(CreateFileA(profilePath->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!profile) return std::nullopt;
    UniqueFile out(CreateFileA(temp.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return std::nullopt;

    // An unreadable profile gives an empty file: importing it changes nothing.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(profile.get(), &size)) return temp;
    std::string text(size.LowPart, '\0');
    DWORD read = 0;
    if (!ReadFile(profile.get(), text.data(), size.LowPart, &read, nullptr)) return temp;
    text.resize(read);

    const std::string rootText = "HKEY_CURRENT_USER\\" + DeviceKeyPath(hardwareName);
    const std::string filled = FillDefaultProfile(text, rootText, IsAnsiLeadByte);
    DWORD written = 0;
    // A short write is not reported: the import works on what arrived.
    WriteFile(out.get(), filled.data(), static_cast<DWORD>(filled.size()), &written, nullptr);
    return temp;
}

}  // namespace ks
