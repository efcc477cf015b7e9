// The link engine catalogue and two questions of the utility's other components. Engines are
// classes of this executable in the real category; link caches are real compound files.
#include "support/ks_test.h"

namespace kstest {
namespace {

// The category manager lists its members in class-key order, which is this order.
CLSID TestClass(BYTE n) { return {0x7aa00f8d, 0xf533, 0x4e9a, {0xbe, 0x14, 0x87, 0x05, 0x00, 0xa5, 0xbe, n}}; }
const CLSID kClasses[3] = {TestClass(0x8a), TestClass(0x8b), TestClass(0x8c)};
// The store must neither read nor release the pointer the caller passes in.
IStorage* const kUntouched = reinterpret_cast<IStorage*>(static_cast<uintptr_t>(0x5A5A5A50));
using Outcome = std::pair<HRESULT, std::string>;

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GuidText(clsid); }
void WriteEngineKey(const std::string& name, const std::string& guid, const std::string& cache) {  // "": no cache
    SetString(RootPath(name), "", "LINKENGINE");
    SetString(RootPath(name), "GUID", guid);
    if (!cache.empty()) SetString(RootPath(name), "LinkCache", cache);
}

// A link engine of the real category. With `linkCache` set, its refresh writes the engine key
// "Engine" naming it, as real engines do; with `reenter`, its next refresh calls LoadLinkInfo on its
// own thread, as COM lets a call into the caller's apartment while the caller waits.
struct TestEngine final : FakeComponent {
    explicit TestEngine(int index, bool served = true) : FakeComponent(kClasses[index], served) {
        CreateKeyPath(ClassKey(clsid) + "\\Implemented Categories\\" + GuidText(CATID_LinkEngines), HKEY_CLASSES_ROOT);
    }
    ~TestEngine() { DeleteKeyTree(ClassKey(clsid), HKEY_CLASSES_ROOT); }
    STDMETHODIMP RefreshEngine() override {
        if (std::exchange(reenter, false)) callBack->LoadLinkInfo(0, Ref<IStorage>().put());
        if (!linkCache.empty()) WriteEngineKey("Engine", GuidText(clsid), linkCache);
        return FakeComponent::RefreshEngine();
    }
    std::string linkCache;
    bool reenter = false;
};

class LinksTest : public ConfigTest {
protected:
    void TearDown() override {
        store_.reset();  // before config_, which ConfigTest releases
        ConfigTest::TearDown();
        for (const std::string& path : files_) DeleteFileA(path.c_str());
    }
    // LoadLinkInfo over a preset pointer: its result and what the caller got, "<untouched>", "<null>"
    // or the file of the storage handed out (kept in store_).
    Outcome Load(LONG refresh) {
        IStorage* raw = kUntouched;
        const HRESULT hr = config_->LoadLinkInfo(refresh, &raw);
        store_.attach(raw == kUntouched ? nullptr : raw);
        std::string opened = raw == kUntouched ? "<untouched>" : raw == nullptr ? "<null>" : "<unnamed>";
        STATSTG stat{};
        if (store_ && store_->Stat(&stat, STATFLAG_DEFAULT) == S_OK) opened = Bstr(stat.pwcsName).Ansi();
        CoTaskMemFree(stat.pwcsName);
        return {hr, opened};
    }
    // A new compound file in the temporary folder, deleted after the test.
    std::string NewCache() {
        char folder[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, folder);
        static int counter = 0;
        files_.push_back(folder + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + ".stg");
        Ref<IStorage> storage;
        const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        EXPECT_EQ(StgCreateDocfile(Bstr(files_.back().c_str()).get(), mode, 0, storage.put()), S_OK);
        return files_.back();
    }

    Ref<IStorage> store_;
    std::vector<std::string> files_;
};

// Only a subkey whose default value is exactly the marker is an engine key, and it opens its cache
// even when the cache is unusable; anything else falls through to the category search. Each engine
// key opens its cache into the caller's pointer, releasing the storage of the one before.
TEST_F(LinksTest, OnlyTheExactMarkerMakesAnEngineKeyAndEachReplacesTheStorageBefore) {
    TestEngine member(0);
    member.createResult = E_NOINTERFACE;  // not a link engine: the sign of a category search
    const std::string ok = NewCache();
    const Outcome opened(S_OK, ok), searched(E_NOINTERFACE, "<untouched>");
    struct Row { DWORD type; std::string marker, cache; Outcome outcome; };
    const Row rows[] = {{REG_SZ, "LINKENGINE", ok, opened},     {REG_SZ, "LINKENGINE", "", {E_FAIL, "<untouched>"}},
                        {REG_BINARY, "LINKENGINE", ok, searched}, {REG_SZ, "linkengine", ok, searched},
                        {REG_SZ, "LINKENGINES", ok, searched}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.marker + " " + std::to_string(r.type) + " " + r.cache);
        DeleteKeyTree(kRoot);
        WriteEngineKey("Engine", "", r.cache);
        SetValue(RootPath("Engine"), "", r.type, r.marker.c_str(), static_cast<DWORD>(r.marker.size() + 1));
        EXPECT_EQ(Load(0), r.outcome);
    }
    const std::string last = NewCache();
    WriteEngineKey("Engine", "", ok);  // subkeys enumerate in name order
    WriteEngineKey("EngineB", "", last);
    EXPECT_EQ(Load(0), Outcome(S_OK, last));
    WriteEngineKey("EngineB", "", last + ".missing");  // the last open fails: its error, no storage
    EXPECT_EQ(Load(0), Outcome(STG_E_FILENOTFOUND, "<null>"));
    EXPECT_TRUE(DeleteFileA(ok.c_str())) << "the earlier storage is still open";
}

// Without engine keys every member is listed, even one that cannot be created, and asked to refresh;
// the last member's error is returned. A successful refresh sends the call back to the registry once
// (per call), where with Refresh the new key's engine is asked again. The index is compared unsigned,
// an empty list gives E_FAIL, and an engine key leaves the list as it was. Engines are asked without
// the object's lock: calls from another thread go through meanwhile, and one that re-enters
// LoadLinkInfo (as COM lets a call into the caller's apartment while it waits; last row) is asked
// again by the nested search, whose list the outer one replaces rather than appends to.
TEST_F(LinksTest, CategorySearchListsAndRefreshesMembersThenStartsOverOnce) {
    GUID clsid = GUID_NULL;
    EXPECT_EQ(config_->GetLinkEngineCLSID(0, &clsid), E_FAIL);
    const std::string cache = NewCache();
    struct Row { bool writesKey; HRESULT refreshResult; LONG refresh; int refreshes; };
    const Row rows[] = {{true, S_OK, 0, 1}, {true, S_FALSE, 1, 2}, {false, S_OK, 0, 2}, {false, E_FAIL, 1, 2}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.writesKey << r.refresh << r.refreshes);
        TestEngine unserved(0, false), engine(1), foreign(2);
        foreign.createResult = E_NOINTERFACE;  // not a link engine
        engine.refreshResult = r.refreshResult;
        engine.linkCache = r.writesKey ? cache : "";
        engine.callBack = config_.get();
        for (int call = 0; call < 2; ++call) {
            DeleteKeyTree(kRoot);
            DeleteKeyTree(kBackup);
            engine.refreshes = 0;
            engine.reenter = FAILED(r.refreshResult);
            EXPECT_EQ(Load(r.refresh), r.writesKey ? Outcome(S_OK, cache) : Outcome(E_NOINTERFACE, "<untouched>"));
            EXPECT_EQ(engine.refreshes, r.refreshes);
            std::vector<CLSID> list;
            for (CLSID id; config_->GetLinkEngineCLSID(ULONG(list.size()), &id) == S_OK;) list.push_back(id);
            EXPECT_EQ(list, (std::vector<CLSID>{kClasses[0], kClasses[1], kClasses[2]}));
            store_.reset();
        }
    }
    for (ULONG i : {3u, 0xFFFFFFFFu}) EXPECT_EQ(config_->GetLinkEngineCLSID(i, &clsid), E_INVALIDARG);
}

// The text-recognition flags are 1 for 119 in a REG_DWORD, else 0; a value missing or of another
// type is not read.
TEST_F(LinksTest, OcrFlagsAreOnOnlyFor119InARegDword) {
    constexpr LONG kKept = -7;  // what the caller put there
    const std::string key = RootPath("Ferrovane 4.0\\Text Documents");
    struct Stored { DWORD type, value; };  // type REG_NONE: the value is missing
    struct Row { Stored send, show; HRESULT hr; std::pair<LONG, LONG> read; };
    const Row rows[] = {{{REG_DWORD, 119}, {REG_DWORD, 0x177}, S_OK, {1, 0}},
                        {{REG_NONE, 0}, {REG_DWORD, 119}, S_OK, {kKept, 1}},
                        {{REG_BINARY, 119}, {REG_DWORD_BIG_ENDIAN, 119}, E_FAIL, {kKept, kKept}}};
    for (const Row& r : rows) {
        DeleteKeyTree(key);
        if (r.send.type != REG_NONE) SetValue(key, "SendEmptyFile", r.send.type, &r.send.value, sizeof(DWORD));
        if (r.show.type != REG_NONE) SetValue(key, "ShowMessages", r.show.type, &r.show.value, sizeof(DWORD));
        LONG send = kKept, show = kKept;
        EXPECT_EQ(config_->GetOCRFlags(&send, &show), r.hr);
        EXPECT_EQ(std::pair(send, show), r.read) << r.send.type << ' ' << r.show.type;
    }
}

// The paths the other components open name keys below the settings root, without creating them.
TEST_F(LinksTest, PathsNameKeysBelowTheRootWithoutCreatingThem) {
    Bstr path;
    auto text = [&](HRESULT hr) { return hr == S_OK ? path.Ansi() : "<failed>"; };
    EXPECT_EQ(text(config_->GetLinkEngineContainer(Bstr("Deeper\\Key").get(), path.put())), RootPath("Deeper\\Key"));
    EXPECT_EQ(text(config_->GetLinkEngineContainer(nullptr, path.put())), RootPath(""));
    EXPECT_EQ(text(config_->GetLinkCustomProfile(path.put())), RootPath("LinkProfiles"));
    EXPECT_EQ(text(config_->GetUIInterfaceProfile(path.put())), RootPath("UIInterfaceProfiles"));
    EXPECT_FALSE(KeyExists(kRoot));
}

}  // namespace
}  // namespace kstest
