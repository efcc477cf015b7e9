#pragma once
// ksconfig's connection to the settings store: the object, exit codes and HRESULT texts.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>

#include "KsRegistry.h"
#include "core/win_handles.h"

namespace ksconfig {

enum Exit : int { kOk = 0, kNotFound = 1, kUsage = 2, kStoreError = 3 };

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

// The store's texts are ANSI; JSON wants UTF-8.
std::string Utf8FromAnsi(const std::string& ansi);

// A char array field of a record, up to its NUL (never beyond the array).
template <std::size_t N>
std::string Field(const char (&text)[N]) {
    std::size_t n = 0;
    while (n < N && text[n] != '\0') ++n;
    return std::string(text, n);
}

std::string GuidText(const GUID& guid);

// The folder of ksconfig.exe, without a trailing backslash.
std::string ExeFolder();

}  // namespace ksconfig
