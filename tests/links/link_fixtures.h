#pragma once
// Stand-ins for the outside pieces the catalogue talks to: link engines as in-process classes of
// this executable, put in the real component category, and link caches as real compound files.
#include <comcat.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ks_test.h"

namespace kstest {

// What one test engine does. Shared by its class factory and its objects.
struct EngineScript {
    HRESULT createResult = S_OK;    // the class factory's answer to CreateInstance
    bool answersLinkEngine = true;  // false: the object knows only IUnknown
    HRESULT refreshResult = S_OK;
    // Engine key that RefreshEngine writes, as real engines do; empty: it writes nothing.
    std::string keyName;
    std::string linkCache;          // "LinkCache" written with the key
    int refreshes = 0;              // RefreshEngine calls seen
};

// Class identifiers reserved for the tests' engines.
extern const CLSID kEngineClasses[4];

std::string GuidText(REFGUID guid);

// One test engine: a class object registered for this thread and, optionally, a member of the
// link engine category. Everything is undone, registry included, on destruction.
class TestEngine {
public:
    TestEngine(REFCLSID clsid, bool classObject, bool inCategory);
    ~TestEngine();
    TestEngine(const TestEngine&) = delete;
    TestEngine& operator=(const TestEngine&) = delete;
    const CLSID& clsid() const { return clsid_; }
    EngineScript& script() { return *script_; }

private:
    CLSID clsid_;
    std::shared_ptr<EngineScript> script_;
    DWORD cookie_ = 0;
    bool inCategory_ = false;
};

// Removes every registry trace of the reserved classes (leftovers of an aborted run included).
void ForgetTestEngines();

// The members of the link engine category, in the order the category manager gives them.
std::vector<CLSID> CategoryMembers();

// Writes an engine key under the settings root.
void WriteEngineKey(const std::string& name, const std::string& guid, const std::string& linkCache);

// A compound file with one stream named `marker`, deleted on destruction.
class CacheFile {
public:
    explicit CacheFile(const std::string& marker);
    ~CacheFile();
    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A fresh path in the temporary folder (no file is created).
std::string TempPath(const std::string& stem);

// Name of the first element of a storage: tells which cache file was opened.
std::string MarkerOf(IStorage* storage);

}  // namespace kstest
