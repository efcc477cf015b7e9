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

// Owns one COM reference.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_) {
            T* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }
    T* detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T* p_ = nullptr;
};

// A BSTR owned by the test.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const char* text);
    explicit Bstr(const wchar_t* text) : s_(SysAllocString(text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(s_); }
    BSTR get() const { return s_; }
    BSTR* put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::string Ansi() const;

private:
    BSTR s_ = nullptr;
};

// The class factory of the DLL (a new reference).
Ref<IClassFactory> Factory();

// A new plain configuration object.
Ref<IKeystrelConfig> NewConfig();

struct RegValue {
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const RegValue&) const = default;
};

// Registry helpers on the current user's hive unless a root is given.
bool KeyExists(const std::string& path, HKEY root = HKEY_CURRENT_USER);
void CreateKeyPath(const std::string& path, HKEY root = HKEY_CURRENT_USER);
void DeleteKeyTree(const std::string& path, HKEY root = HKEY_CURRENT_USER);
std::optional<RegValue> GetValue(const std::string& path, const char* name, HKEY root = HKEY_CURRENT_USER);
void SetValue(const std::string& path, const char* name, DWORD type, const void* data, DWORD size,
              HKEY root = HKEY_CURRENT_USER);
void SetString(const std::string& path, const char* name, const std::string& text, HKEY root = HKEY_CURRENT_USER);
void SetDword(const std::string& path, const char* name, DWORD value, HKEY root = HKEY_CURRENT_USER);
std::optional<std::string> GetString(const std::string& path, const char* name);
std::optional<DWORD> GetDword(const std::string& path, const char* name);
std::vector<std::string> SubkeyNames(const std::string& path, HKEY root = HKEY_CURRENT_USER);
std::vector<std::string> ValueNames(const std::string& path, HKEY root = HKEY_CURRENT_USER);

// Every value and key below `path`, as "subpath|name|type|hex bytes" lines, sorted: compares trees.
std::vector<std::string> DumpTree(const std::string& path, HKEY root = HKEY_CURRENT_USER);

std::string RootPath(const std::string& below);  // settings root + "\" + below

// Base fixture: COM initialised, settings root and backup tree deleted before and after each test.
class StoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;
};

}  // namespace kstest
