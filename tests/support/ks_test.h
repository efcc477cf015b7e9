#pragma once
// Test support: drives the real Registry.dll through DllGetClassObject and the vtable, and reads
// and writes Wine's real registry. Each fixture starts from a clean settings tree.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "KsRegistry.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "core/win_handles.h"
#include "server/bstr.h"

namespace kstest {

inline constexpr const char* kRoot = "Software\\Stellwick\\Keystrel 4.0";
inline constexpr const char* kBackup = "Software\\Stellwick Backup";

// The DLL under test, loaded once per process from the test executable's folder.
struct StoreDll {
    HMODULE module = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;
};
const StoreDll& Dll();

// The store's own owners: one COM reference, one BSTR.
template <class T>
using Ref = ks::ComPtr<T>;

// A BSTR owned by the test, made from 8-bit text with the store's own conversion.
class Bstr : public ks::UniqueBstr {
public:
    Bstr() = default;
    explicit Bstr(const char* text) : ks::UniqueBstr(text == nullptr ? ks::UniqueBstr() : ks::MakeBstr(text)) {}
    explicit Bstr(const wchar_t* text) : ks::UniqueBstr(SysAllocString(text)) {}
    std::string Ansi() const { return ks::ToAnsi(get()); }
};

// The class factory of the DLL (a new reference).
Ref<IClassFactory> Factory();

// A new plain configuration object.
Ref<IKeystrelConfig> NewConfig();

// An outer object that counts the references its inner object forwards to it.
struct Outer : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!IsEqualIID(riid, IID_IUnknown)) return inner ? inner->QueryInterface(riid, out) : E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    ULONG count = 1;
    IUnknown* inner = nullptr;
};

// Loads and reads the object's three lists from a thread of its own and tells whether those calls
// came back within seconds. Made from inside a call out of the store (a device component, a link
// engine): a lock held across it would keep them waiting, and they then end after the call out.
bool CallsBackInTime(IKeystrelConfig* config);

// A component of this process that is its own class object for `clsid`, which the store creates as
// a scanner's device component or as a link engine. It counts its references; while the store waits
// on it, it calls back into `callBack`, when set, from another thread.
class FakeComponent : public IClassFactory, public IKsDeviceDefaults, public ILinkEngine {
public:
    explicit FakeComponent(REFCLSID clsid, bool served = true) : clsid(clsid) {
        if (served) CoRegisterClassObject(clsid, AsFactory(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    ~FakeComponent() { CoRevokeClassObject(cookie); }  // a cookie of 0 (not served) is refused
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        *out = riid == IID_IKsDeviceDefaults ? static_cast<IKsDeviceDefaults*>(this)
               : riid == IID_ILinkEngine ? static_cast<void*>(static_cast<ILinkEngine*>(this))
               : riid == IID_IUnknown || riid == IID_IClassFactory ? AsFactory() : nullptr;
        if (*out != nullptr) AddRef();
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    IClassFactory* AsFactory() { return this; }  // its IUnknown
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** out) override {
        *out = nullptr;
        return FAILED(createResult) ? createResult : QueryInterface(riid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    STDMETHODIMP GetDeviceDefaults(_KSDEVICEDEFAULTS** out) override {  // a copy of `defaults`
        EXPECT_TRUE(callBack == nullptr || CallsBackInTime(callBack)) << "calls waited for the component";
        if ((*out = static_cast<_KSDEVICEDEFAULTS*>(CoTaskMemAlloc(sizeof(defaults))))) **out = defaults;
        return S_OK;
    }
    STDMETHODIMP RefreshEngine() override {
        EXPECT_TRUE(callBack == nullptr || CallsBackInTime(callBack)) << "calls waited for the component";
        ++refreshes;
        return refreshResult;
    }
    const CLSID clsid;
    HRESULT createResult = S_OK, refreshResult = S_OK;
    _KSDEVICEDEFAULTS defaults{};
    IKeystrelConfig* callBack = nullptr;
    ULONG refs = 0;
    int refreshes = 0;
    DWORD cookie = 0;
};

struct RegValue {
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const RegValue&) const = default;
};
// A REG_SZ value holding `text` with its terminator.
inline RegValue Sz(const std::string& text) { return {REG_SZ, {text.c_str(), text.c_str() + text.size() + 1}}; }

// Registry helpers on the current user's hive unless a root is given.
bool KeyExists(const std::string& path, HKEY root = HKEY_CURRENT_USER);
// The writers report a failure at the caller's line.
// The caller's file and line, from the builtins both compilers have: clang 14 cannot build
// libstdc++'s std::source_location.
struct Here {
    static constexpr Here current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE()) {
        return {file, line};
    }
    constexpr const char* file_name() const { return file; }
    constexpr unsigned line() const { return at; }
    const char* file;
    unsigned at;
};
void CreateKeyPath(const std::string& path, HKEY root = HKEY_CURRENT_USER, Here where = Here::current());
void DeleteKeyTree(const std::string& path, HKEY root = HKEY_CURRENT_USER);
std::optional<RegValue> GetValue(const std::string& path, const char* name, HKEY root = HKEY_CURRENT_USER);
void SetValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size,
              HKEY root = HKEY_CURRENT_USER, Here where = Here::current());
void SetString(const std::string& path, const char* name, const std::string& text, HKEY root = HKEY_CURRENT_USER,
               Here where = Here::current());
void SetDword(const std::string& path, const char* name, DWORD value, HKEY root = HKEY_CURRENT_USER,
              Here where = Here::current());
std::optional<std::string> GetString(const std::string& path, const char* name);
std::optional<DWORD> GetDword(const std::string& path, const char* name);
std::vector<std::string> SubkeyNames(const std::string& path, HKEY root = HKEY_CURRENT_USER);
std::vector<std::string> ValueNames(const std::string& path, HKEY root = HKEY_CURRENT_USER);

// Every value and key below `path`, as "subpath|name|type|hex bytes" and "subpath|<key>" lines, sorted:
// compares trees. Each key is opened as itself, so a registry link shows as what it is (a key holding
// its REG_LINK "SymbolicLinkValue") and is never followed: trees with links and cycles compare too.
std::vector<std::string> DumpTree(const std::string& path, HKEY root = HKEY_CURRENT_USER);

// A registry link at `path` (below HKEY_CURRENT_USER) to the existing key `target`, made as the
// platform makes them: the link names the target's full native path, found through the target's
// own handle. The link alone goes with it.
class RegistryLink {
public:
    RegistryLink(const std::string& path, const std::string& target);
    ~RegistryLink();
    RegistryLink(const RegistryLink&) = delete;
    RegistryLink& operator=(const RegistryLink&) = delete;

private:
    ks::UniqueHKey link_;
};

std::string RootPath(const std::string& below);  // settings root + "\" + below
using ks::GuidText;                               // registry form, with braces
// "Profiles" beside the DLL, where the store finds driver templates and default profiles.
std::string ProfilesFolder();

// Base fixture: COM initialised, and HKEY_CURRENT_USER of this process (the store is in-process)
// pointed at an empty scratch key for the test's duration, so no test sees or leaves user settings.
class StoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;
    // The key below the real HKEY_CURRENT_USER that stands for it during the test.
    const std::string& Scratch() const { return scratch_; }

private:
    std::string scratch_;
    std::optional<ks::CurrentUserRedirect> redirect_;
};

// A fixture whose tests share one configuration object, made once HKEY_CURRENT_USER is the test's
// own and released before it stops being so: the object's restore and backup stay in the scratch key.
class ConfigTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        config_ = NewConfig();
    }
    void TearDown() override {
        config_.reset();
        StoreTest::TearDown();
    }
    Ref<IKeystrelConfig> config_;
};

// For tests whose other processes read the real hive: moves the settings root and backup aside
// while it lives (the test starts without them) and puts them back as they were.
class SavedSettings {
public:
    SavedSettings();
    ~SavedSettings();
    SavedSettings(const SavedSettings&) = delete;
    SavedSettings& operator=(const SavedSettings&) = delete;

private:
    std::string aside_;
};

}  // namespace kstest
