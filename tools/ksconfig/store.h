#pragma once
// ksconfig's connection to the settings store: the object, exit codes and HRESULT texts.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include <vector>

#include "KsRegistry.h"
#include "json.h"
#include "core/win_handles.h"
#include "scratch.h"

namespace ksconfig {

// kRefused: what was named is not there, a file or value was refused (nothing written), or check
// found problems. kBehind: backup-status found the backup behind the settings root.
enum Exit : int { kOk = 0, kNotFound = 1, kRefused = 1, kUsage = 2, kStoreError = 3, kBehind = 4 };

// A store object. Made through the registered class when there is one; otherwise from
// Registry.dll beside ksconfig.exe, with a note on stderr, so an unregistered build still works.
class Store {
public:
    // kLook: the object works on a scratch copy of the settings root and backup (ScratchHive),
    // so nothing it writes reaches them (an edit copies its one record out of it). kEdit: on the
    // real ones, as any client: the demo, and the rebuild of a whole root.
    enum Mode { kLook, kEdit };
    explicit Store(Mode mode = kLook) : mode_(mode) {}
    // Creating the object runs the store's ensure-root step. Returns the failure's exit code
    // after printing it, or kOk.
    int Open();
    // Open() for a command on one scanner: also kNotFound (after a message) when the scanner has
    // no device key, so a mistyped name never makes settings for it.
    int OpenForDevice(const std::string& hardware);
    IKeystrelConfig* operator->() const { return config_.get(); }
    IKeystrelConfig* get() const { return config_.get(); }
    bool ViaRegisteredClass() const { return registered_; }
    // The scratch copy the object works on (kLook): what the store wrote is read from there.
    const ScratchHive& Scratch() const { return scratch_; }
    bool Wrote(const std::string& path, const char* name) const { return scratch_.Wrote(path, name); }
    // Releasing runs the store's backup step (the settings root is copied into the backup).
    void Close() { config_.reset(); }
    ~Store();

private:
    int Factory(ks::ComPtr<IClassFactory>& factory);

    Mode mode_;
    ScratchHive scratch_;  // declared before the object: released after it
    ks::ComPtr<IKeystrelConfig> config_;
    HMODULE dll_ = nullptr;
    bool registered_ = false;
};

// "0x80004001 (E_NOTIMPL: not implemented)".
std::string DescribeHresult(HRESULT hr);

// Set when --json is given: failures are then reported as one JSON object on standard output,
// {"error":{"exitCode":..,"message":..,"hresult":..}}, instead of text on standard error.
void ReportErrorsAsJson(bool json);
bool ErrorsAsJson();

// Reports a failure ("ksconfig: <message>", with the HRESULT when there is one) and gives
// `exitCode`. `usage`, when given, follows the message in text and is a member in JSON.
int Fail(int exitCode, const std::string& message, std::optional<HRESULT> hr = std::nullopt,
         const std::string& usage = {});

// Fail() for a failure with a list: `details` are printed as lines before the message in text,
// `extra` members are added to the JSON error object.
int FailWith(int exitCode, const std::string& message, const std::vector<std::string>& details,
             const json::Members& extra, std::optional<HRESULT> hr = std::nullopt);

// Fail(kStoreError, "<what> failed", hr).
int StoreFailure(const char* what, HRESULT hr);

// "0x80004005": how HRESULTs are written for scripts.
std::string HresultText(HRESULT hr);

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

// The DLL the registered class names (its InprocServer32 path); empty when not registered.
std::string RegisteredStorePath();

// The folder of ksconfig.exe, without a trailing backslash.
std::string ExeFolder();

}  // namespace ksconfig
