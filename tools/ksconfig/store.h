#pragma once
// ksconfig's connection to the settings store: the object, the scratch copy it looks through,
// exit codes and the one way errors are reported.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

#include "KsRegistry.h"
#include "core/registry_io.h"
#include "core/win_handles.h"
#include "json.h"

namespace ksconfig {

// kRefused: what was named is not there, a file or value was refused (nothing written), or check
// found problems. kBehind: backup-status found the backup behind the settings root.
enum Exit : int { kOk = 0, kNotFound = 1, kRefused = 1, kUsage = 2, kStoreError = 3, kBehind = 4 };

// Looking changes nothing. A reading command runs the store against a scratch copy of the
// settings root (or, while the root is missing, of the backup tree, which the store then reads to
// rebuild it): this process's HKEY_CURRENT_USER is pointed at the copy, and the store, being
// in-process, follows. What it writes there (first-use defaults, a rebuilt root, the backup taken
// when the object is released) goes away with the copy.
class ScratchHive {
public:
    ScratchHive() = default;
    ScratchHive(const ScratchHive&) = delete;
    ScratchHive& operator=(const ScratchHive&) = delete;
    ~ScratchHive();  // puts HKEY_CURRENT_USER back and deletes the copy
    // Copies (without registry links, with the store's own tree copy) and redirects; the
    // platform's error when that fails (nothing is redirected then).
    LONG Enter();
    // Whether value `name` of `path` holds something in the copy that the real hive does not: the
    // store wrote it.
    bool Wrote(const std::string& path, const char* name) const;
    // The copy of `path`, for reading; empty when absent.
    ks::UniqueHKey Open(const std::string& path) const;

private:
    ks::UniqueHKey scratch_;
    std::string scratchPath_;  // below the real HKEY_CURRENT_USER
    std::optional<ks::CurrentUserRedirect> redirect_;
};

// A store object. Made through the registered class when there is one; otherwise from
// Registry.dll beside ksconfig.exe, with a note on stderr, so an unregistered build still works.
class Store {
public:
    // kLook: the object works on the scratch copy, so nothing it writes reaches the settings (an
    // edit copies its one record out of it). kEdit: on the real ones, as any client: the demo, and
    // the rebuild of a whole root.
    enum Mode { kLook, kEdit };
    explicit Store(Mode mode = kLook) : mode_(mode) {}
    // Creating the object runs the store's ensure-root step. Returns the failure's exit code
    // after printing it, or kOk.
    int Open();
    // Open() for a command on one scanner: also kNotFound (after a message) when the scanner has
    // no device key, so a mistyped name never makes settings for it.
    int OpenForDevice(const std::string& hardware);
    IKeystrelConfig* operator->() const { return config_.get(); }
    bool ViaRegisteredClass() const { return registered_; }
    const ScratchHive& Scratch() const { return scratch_; }
    // Releasing runs the store's backup step (the settings root is copied into the backup).
    void Close() { config_.reset(); }

private:
    int Factory(ks::ComPtr<IClassFactory>& factory);

    Mode mode_;
    ScratchHive scratch_;  // declared before the object: released after it
    ks::ComPtr<IKeystrelConfig> config_;
    bool registered_ = false;
};

// kOk when the scanner has a device key (or, while the root is missing, a key in the backup);
// else reports it (Fail) and gives kNotFound.
int RequireDevice(const std::string& hardware);

// "0x80004001 (E_NOTIMPL: not implemented)".
std::string DescribeHresult(HRESULT hr);
// "0x80004005": how HRESULTs are written for scripts.
std::string HresultText(HRESULT hr);

// Set when --json is given: failures are then reported as one JSON object on standard output,
// {"error":{"exitCode":..,"message":..,"hresult":..}}, instead of text on standard error.
void ReportErrorsAsJson(bool json);
bool ErrorsAsJson();

// Reports a failure ("ksconfig: <message>", with the HRESULT when there is one) and gives
// `exitCode`. `details` are printed as lines before the message in text; `extra` members are added
// to the JSON error object.
int Fail(int exitCode, const std::string& message, std::optional<HRESULT> hr = std::nullopt,
         const std::vector<std::string>& details = {}, const json::Members& extra = {});
// Fail(kStoreError, "<what> failed", hr).
int StoreFailure(const std::string& what, HRESULT hr);

// The DLL the registered class names (its InprocServer32 path); empty when not registered.
std::string RegisteredStorePath();
// The folder of ksconfig.exe, without a trailing backslash.
std::string ExeFolder();

}  // namespace ksconfig
