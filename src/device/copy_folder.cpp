// Copy-to-folder destination: target folder, options and running count of each scanner, kept in
// its device key. The store neither copies files nor interprets the options.
#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "core/config_object.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"
#include "device/shell_folder.h"

namespace ks {

namespace {

static_assert(sizeof(_KSCPYFLAG) == sizeof(DWORD), "copy options are stored as a REG_DWORD");

constexpr DWORD kDefaultCopyFlags = KSCPYFLAG_BYMONTH | KSCPYFLAG_BYTYPE;  // 10
constexpr char kCopyFolderName[] = "My Scanned Documents";

// Writes the first-use values: the folder inside the user's documents, created on disk, with the
// default options and a zero count. Returns the folder, or nothing when no usable documents folder
// exists; then nothing has been written.
std::optional<std::string> WriteCopyDefaults(HKEY key) {
    std::optional<std::string> documents = UserShellFolder(CSIDL_PERSONAL);
    if (!documents) return std::nullopt;
    std::string folder = JoinPath(*documents, kCopyFolderName);
    // A path the next read could not take back would only be rewritten on every call.
    if (folder.size() > kMaxPathLength) return std::nullopt;
    CreateDirectoryA(folder.c_str(), nullptr);  // an existing folder is fine
    WriteString(key, kCopyPathValue, folder.c_str());
    WriteDword(key, kCopyFlagsValue, kDefaultCopyFlags);
    WriteDword(key, kCopyCountValue, 0);
    return folder;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::CopyToFolderSettings(BSTR hwname, _KSCPYFLAG* flag, BSTR* path,
                                                            LONG* count) noexcept {
    return Call(nullptr, {flag, count}, [&] {
        EnsureSettingsRoot();
        UniqueHKey key = CreateKey(HKEY_CURRENT_USER, DeviceKeyPath(ToAnsi(hwname)));
        if (!key) return S_OK;
        // "CopyPath" alone decides whether the settings exist; the other two are taken as found.
        if (std::optional<std::string> folder = ReadString(key.get(), kCopyPathValue, kMaxPathLength + 1)) {
            StoreBstr(path, *folder);
            ReadNumber(key.get(), kCopyFlagsValue, flag);
            ReadNumber(key.get(), kCopyCountValue, count);
            return S_OK;
        }
        std::optional<std::string> folder = WriteCopyDefaults(key.get());
        if (!folder) return S_OK;
        StoreBstr(path, *folder);
        DWORD value = 0;
        // Copied as bits: the stored options may hold bits the enumeration does not name.
        if (ReadDword(key.get(), kCopyFlagsValue, &value)) std::memcpy(flag, &value, sizeof(value));
        if (ReadDword(key.get(), kCopyCountValue, &value)) *count = static_cast<LONG>(value);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::StoreCopyFolderOptions(BSTR hwname, _KSCPYFLAG flags, BSTR path) noexcept {
    return Call(nullptr, {}, [&] {
        EnsureSettingsRoot();
        std::string folder = ToAnsi(path);
        UniqueHKey key = CreateKey(HKEY_CURRENT_USER, DeviceKeyPath(ToAnsi(hwname)));
        if (!key) return S_OK;
        // Stored as given: the caller owns the folder, and a path too long to read back is reset
        // to the defaults by the next read.
        WriteString(key.get(), kCopyPathValue, folder.c_str());
        WriteDword(key.get(), kCopyFlagsValue, static_cast<DWORD>(flags));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::UpdateCopyCount(BSTR hwname, LONG addcopy) noexcept {
    return Call(nullptr, {}, [&] {
        EnsureSettingsRoot();
        UniqueHKey key = CreateKey(HKEY_CURRENT_USER, DeviceKeyPath(ToAnsi(hwname)));
        if (!key) return S_OK;
        DWORD copies = 0;  // a missing count starts from zero
        ReadNumber(key.get(), kCopyCountValue, &copies);
        // Unsigned addition: the count wraps around at 32 bits instead of overflowing.
        WriteDword(key.get(), kCopyCountValue, copies + static_cast<DWORD>(addcopy));
        return S_OK;
    });
}

}  // namespace ks
