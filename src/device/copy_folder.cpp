// Copy-to-folder destination: target folder, options and running count of each scanner, kept in
// its device key. The store neither copies files nor interprets the options.
#include <windows.h>
#include <shlobj.h>


#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "device/device.h"
#include "device/shell_folder.h"

namespace ks {

namespace {

static_assert(sizeof(_KSCPYFLAG) == sizeof(DWORD), "copy options are stored as a REG_DWORD");

constexpr DWORD kDefaultCopyFlags = KSCPYFLAG_BYMONTH | KSCPYFLAG_BYTYPE;  // 10
constexpr char kCopyFolderName[] = "My Scanned Documents";

const Field& CopyFieldOf(CopyField which) { return CopySettingsFields()[which]; }

// Writes the first-use values: the folder inside the user's documents, created on disk, with the
// default options and a zero count. Returns the folder with the options and count read back as
// REG_DWORD (a write the registry refused leaves the caller's `current` value), or nothing when
// no usable documents folder exists; then nothing has been written.
std::optional<CopySettings> WriteCopyDefaults(HKEY key, const CopySettings& current) {
    const std::optional<std::string> made = DefaultCopyFolder();
    if (!made) return std::nullopt;
    const std::string& folder = *made;
    // A path the next read could not take back would only be rewritten on every call.
    if (folder.size() > kMaxPathLength) return std::nullopt;
    CreateDirectoryA(folder.c_str(), nullptr);  // an existing folder is fine
    CopySettings settings{{}, kDefaultCopyFlags, 0};
    CopyToField(settings.path, sizeof(settings.path), folder);
    WriteFields(key, CopySettingsFields(), &settings);
    settings.flags = current.flags;
    settings.count = current.count;
    DWORD value = 0;
    if (ReadDword(key, kCopyFlagsValue, &value)) settings.flags = value;
    if (ReadDword(key, kCopyCountValue, &value)) settings.count = static_cast<LONG>(value);
    return settings;
}

}  // namespace

std::optional<std::string> DefaultCopyFolder() {
    std::optional<std::string> documents = UserShellFolder(CSIDL_PERSONAL);
    if (!documents) return std::nullopt;
    return JoinPath(*documents, kCopyFolderName);
}

std::optional<CopySettings> CopyToFolderSettings(const std::string& hardware, const CopySettings& current) {
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, DeviceKeyPath(hardware));
    if (!key) return std::nullopt;
    // "CopyPath" alone decides whether the settings exist; the other two are taken as found.
    CopySettings settings = current;
    if (ReadField(key.get(), CopyFieldOf(kCopyPathField), &settings).verdict == ValueSeen::Verdict::Read) {
        ReadField(key.get(), CopyFieldOf(kCopyFlagsField), &settings);
        ReadField(key.get(), CopyFieldOf(kCopyCountField), &settings);
        return settings;
    }
    return WriteCopyDefaults(key.get(), current);
}

void StoreCopyFolderOptions(const std::string& hardware, DWORD flags, const std::string& path) {
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, DeviceKeyPath(hardware));
    if (!key) return;
    // Stored as given: the caller owns the folder, and a path too long to read back is reset to
    // the defaults by the next read.
    WriteString(key.get(), kCopyPathValue, path.c_str());
    const CopySettings settings{{}, flags, 0};
    WriteField(key.get(), CopyFieldOf(kCopyFlagsField), &settings);
}

void UpdateCopyCount(const std::string& hardware, LONG add) {
    UniqueHKey key = CreateKey(HKEY_CURRENT_USER, DeviceKeyPath(hardware));
    if (!key) return;
    CopySettings settings{};  // a missing count starts from zero
    ReadField(key.get(), CopyFieldOf(kCopyCountField), &settings);
    // Unsigned addition: the count wraps around at 32 bits instead of overflowing.
    settings.count = static_cast<LONG>(static_cast<DWORD>(settings.count) + static_cast<DWORD>(add));
    WriteField(key.get(), CopyFieldOf(kCopyCountField), &settings);
}

}  // namespace ks
