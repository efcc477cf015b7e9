#pragma once
// ksconfig's connection to the settings store, and what it shares between commands: exit codes,
// text conversions, registry reading where the interface has no method.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KsRegistry.h"
#include "core/win_handles.h"

namespace ksconfig {

enum Exit : int { kOk = 0, kNotFound = 1, kUsage = 2, kStoreError = 3 };

inline constexpr const char* kRoot = "Software\\Stellwick\\Keystrel 4.0";
inline constexpr const char* kBackup = "Software\\Stellwick Backup";

// A store object. Made through the registered class when there is one; otherwise from
// Registry.dll beside ksconfig.exe, with a note on stderr, so an unregistered build still works.
class Store {
public:
    // Creating the object runs the store's ensure-root step. Returns the failure's exit code
    // after printing it, or kOk.
    int Open();
    // Open() for a command on one scanner: also kNotFound (after a message) when the scanner has
    // no device key, so a mistyped name never makes settings for it.
    int OpenForDevice(const std::string& hardware);
    IKeystrelConfig* operator->() const { return config_.get(); }
    IKeystrelConfig* get() const { return config_.get(); }
    bool ViaRegisteredClass() const { return registered_; }
    // Releasing runs the store's backup step (the settings root is copied into the backup).
    void Close() { config_.reset(); }
    ~Store();

private:
    ks::ComPtr<IKeystrelConfig> config_;
    HMODULE dll_ = nullptr;
    bool registered_ = false;
};

// "0x80004001 (E_NOTIMPL: not implemented)".
std::string DescribeHresult(HRESULT hr);

// Prints "ksconfig: <what> failed: <hresult>" to stderr and gives kStoreError.
int StoreFailure(const char* what, HRESULT hr);

// Text conversions: the store's texts are ANSI; JSON wants UTF-8.
std::string Utf8FromAnsi(const std::string& ansi);
ks::UniqueBstr BstrFromAnsi(const std::string& ansi);
std::string AnsiFromBstr(BSTR text);

// A char array field of a record, up to its NUL (never beyond the array).
template <std::size_t N>
std::string Field(const char (&text)[N]) {
    std::size_t n = 0;
    while (n < N && text[n] != '\0') ++n;
    return std::string(text, n);
}

std::string GuidText(const GUID& guid);

// Direct registry reading, for what the interface has no method for.
struct RegValue {
    std::string name;
    DWORD type = 0;
    std::vector<std::uint8_t> data;
};
bool KeyExists(const std::string& path);
std::vector<std::string> SubkeyNames(HKEY key);  // sorted, case-insensitively
std::vector<RegValue> Values(HKEY key);          // sorted by name, case-insensitively
ks::UniqueHKey OpenRead(const std::string& path);
std::optional<std::string> ReadText(HKEY key, const char* name);

// The device keys: subkeys of the settings root that are not engine keys or the settings of
// other components (link profiles, interface profiles, text recognition).
std::vector<std::string> DeviceNames();

// Case-insensitive order, as the registry compares names.
bool NameLess(const std::string& a, const std::string& b);

// The folder of ksconfig.exe, without a trailing backslash.
std::string ExeFolder();

}  // namespace ksconfig
