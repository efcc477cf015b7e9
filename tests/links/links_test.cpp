// The link engine catalogue and the paths the utility's other components ask for. Engines are
// classes of this executable in the real category; link caches are real compound files.
#include <cstring>

#include "support/ks_test.h"

namespace kstest {
namespace {

// The category manager lists its members in class-key order, which is this order.
CLSID TestClass(BYTE n) { return {0x7aa00f8d, 0xf533, 0x4e9a, {0xbe, 0x14, 0x87, 0x05, 0x00, 0xa5, 0xbe, n}}; }
const CLSID kClasses[3] = {TestClass(0x8a), TestClass(0x8b), TestClass(0x8c)};
// The store must neither read nor release the pointer the caller passes in.
IStorage* const kUntouched = reinterpret_cast<IStorage*>(static_cast<uintptr_t>(0x5A5A5A50));
using Outcome = std::pair<HRESULT, std::string>;

std::string GuidText(REFGUID guid) {
    wchar_t wide[40] = {};
    return Bstr(StringFromGUID2(guid, wide, 40) != 0 ? wide : L"").Ansi();
}
std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GuidText(clsid); }
void WriteEngineKey(const std::string& name, const std::string& guid, const std::string& cache) {  // "": no cache
    SetString(RootPath(name), "", "LINKENGINE");
    SetString(RootPath(name), "GUID", guid);
    if (!cache.empty()) SetString(RootPath(name), "LinkCache", cache);
}

// A link engine that is its own class object. The store's references end within each call, so it
// lives on the test's stack.
class TestEngine final : public IClassFactory, public ILinkEngine {
public:
    explicit TestEngine(int index, bool served = true) : clsid(kClasses[index]) {
        IClassFactory* factory = this;
        if (served) CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        CreateKeyPath(ClassKey(clsid) + "\\Implemented Categories\\" + GuidText(CATID_LinkEngines), HKEY_CLASSES_ROOT);
    }
    ~TestEngine() {
        if (cookie != 0) CoRevokeClassObject(cookie);
        DeleteKeyTree(ClassKey(clsid), HKEY_CLASSES_ROOT);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        *out = riid == IID_IUnknown || riid == IID_IClassFactory ? static_cast<void*>(static_cast<IClassFactory*>(this))
               : riid == IID_ILinkEngine ? static_cast<ILinkEngine*>(this) : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** out) override {
        *out = nullptr;
        return FAILED(createResult) ? createResult : QueryInterface(riid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    STDMETHODIMP RefreshEngine() override {
        ++refreshes;
        if (!linkCache.empty()) WriteEngineKey("Engine", GuidText(clsid), linkCache);  // as real engines do
        return refreshResult;
    }
    const CLSID clsid;
    HRESULT createResult = S_OK, refreshResult = S_OK;
    std::string linkCache;  // when set, RefreshEngine writes the engine key "Engine" naming it
    int refreshes = 0;
    DWORD cookie = 0;
};

class LinksTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        Forget();  // leftovers of an aborted run
    }
    void TearDown() override {
        store_.reset();
        config_.reset();
        Forget();
        for (const std::string& path : files_) DeleteFileA(path.c_str());
        StoreTest::TearDown();
    }
    static void Forget() { for (const CLSID& id : kClasses) DeleteKeyTree(ClassKey(id), HKEY_CLASSES_ROOT); }
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
    std::vector<CLSID> List() {
        std::vector<CLSID> list;
        for (CLSID id; config_->GetLinkEngineCLSID(static_cast<ULONG>(list.size()), &id) == S_OK;) list.push_back(id);
        return list;
    }

    Ref<IKeystrelConfig> config_ = NewConfig();
    Ref<IStorage> store_;
    std::vector<std::string> files_;
};

// An engine key opens its cache without a refresh, even when the cache is unusable; anything else
// falls through to the category search.
TEST_F(LinksTest, OnlyTheExactMarkerInADirectSubkeyMakesAnEngineKey) {
    TestEngine member(0);
    member.refreshResult = E_FAIL;  // no second run
    const std::string marker = "LINKENGINE", ok = NewCache(), tooLong = "C:\\" + std::string(257, 'x');
    const struct { std::string key; DWORD type; std::string value, cache; bool isEngine; HRESULT hr; } cases[] = {
        {"Engine", REG_SZ, marker, ok, true, S_OK},         {"Engine", REG_EXPAND_SZ, marker, ok, true, S_OK},
        {"Engine", REG_SZ, marker, "", true, E_FAIL},       {"Engine", REG_SZ, marker, tooLong, true, E_FAIL},
        {"Engine", REG_SZ, "linkengine", ok, false, S_OK},  {"Engine", REG_SZ, marker + " ", ok, false, S_OK},
        {"Engine", REG_SZ, marker + "S", ok, false, S_OK},  {"Engine", REG_BINARY, marker, ok, false, S_OK},
        {"Scanner\\Engine", REG_SZ, marker, ok, false, S_OK}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " " + c.value + " " + std::to_string(c.type) + " " + c.cache);
        DeleteKeyTree(kRoot);
        WriteEngineKey(c.key, GuidText(member.clsid), c.cache);
        SetValue(RootPath(c.key), "", c.type, c.value.c_str(), static_cast<DWORD>(c.value.size() + 1));
        config_ = NewConfig();
        member.refreshes = 0;
        EXPECT_EQ(Load(0), Outcome(c.hr, c.isEngine && c.hr == S_OK ? ok : "<untouched>"));
        EXPECT_EQ(member.refreshes, c.isEngine ? 0 : 1) << "a category search";
    }
}

// The named engine refreshes (here moving its cache) before the cache is opened; a "GUID" that is
// not a served class in registry form only skips the refresh.
TEST_F(LinksTest, RefreshAsksTheNamedEngineOnceFirstAndAnUnusableGuidSkipsIt) {
    const std::string before = NewCache(), after = NewCache();
    TestEngine engine(0);
    engine.linkCache = after;
    engine.refreshResult = S_FALSE;
    const std::string guid = GuidText(engine.clsid), progId = "KsLinksTest.Engine";
    SetString(progId + "\\CLSID", "", guid, HKEY_CLASSES_ROOT);  // CLSIDFromString would take it
    for (const std::string& text : {guid, guid.substr(1, 36), progId, std::string("{not-a-class-identifier}"),
                                    GuidText(kClasses[2]) /* nobody serves it */, std::string()}) {
        SCOPED_TRACE(text);
        WriteEngineKey("Engine", text, before);
        engine.refreshes = 0;
        EXPECT_EQ(Load(1), Outcome(S_OK, text == guid ? after : before));
        EXPECT_EQ(engine.refreshes, text == guid ? 1 : 0);
    }
    DeleteKeyTree(progId, HKEY_CLASSES_ROOT);
}

// Each engine key opens its cache into the caller's pointer: the earlier storage is released, and
// the caller gets the last key's result, the open's error unchanged.
TEST_F(LinksTest, EachEngineKeyReplacesTheStorageOfTheOneBefore) {
    const std::string first = NewCache(), last = NewCache();
    WriteEngineKey("EngineA", "", first);  // subkeys enumerate in name order
    WriteEngineKey("EngineB", "", last);
    EXPECT_EQ(Load(0), Outcome(S_OK, last));
    EXPECT_TRUE(DeleteFileA(first.c_str())) << "the earlier storage still holds its file";
    store_.reset();
    WriteEngineKey("EngineA", "", last);
    WriteEngineKey("EngineB", "", last + ".missing");
    EXPECT_EQ(Load(0), Outcome(STG_E_FILENOTFOUND, "<null>"));
    EXPECT_TRUE(DeleteFileA(last.c_str()));
}

// Without engine keys every member is listed and asked to refresh; a successful refresh sends the
// call back to the registry once (per call), where with Refresh the new key's engine is asked again.
TEST_F(LinksTest, CategorySearchRefreshesMembersThenStartsOverOnce) {
    const std::string cache = NewCache();
    const struct { bool writesKey; HRESULT refreshResult; LONG refresh; int refreshes; } cases[] = {
        {true, S_OK, 0, 1}, {true, S_FALSE, 1, 2}, {false, S_OK, 0, 2}, {false, E_FAIL, 1, 1}};
    for (const auto& [writesKey, refreshResult, refresh, refreshes] : cases) {
        SCOPED_TRACE(testing::Message() << writesKey << refresh << refreshes);
        TestEngine first(0), second(1);
        second.createResult = CLASS_E_CLASSNOTAVAILABLE;
        first.refreshResult = refreshResult;
        first.linkCache = writesKey ? cache : "";
        config_ = NewConfig();
        for (int call = 0; call < 2; ++call) {
            DeleteKeyTree(kRoot);
            DeleteKeyTree(kBackup);
            first.refreshes = 0;
            EXPECT_EQ(Load(refresh),
                      writesKey ? Outcome(S_OK, cache) : Outcome(CLASS_E_CLASSNOTAVAILABLE, "<untouched>"));
            EXPECT_EQ(first.refreshes, refreshes);
            EXPECT_EQ(List(), (std::vector<CLSID>{kClasses[0], kClasses[1]}));
            store_.reset();
        }
    }
}

// Members that cannot be created or are no link engines are listed all the same; the index is
// compared unsigned, an empty list gives E_FAIL, and an engine key leaves the list as it was.
TEST_F(LinksTest, MembersThatCannotBeCreatedAreListedAndTheLastErrorReturned) {
    GUID clsid = GUID_NULL;
    EXPECT_EQ(config_->GetLinkEngineCLSID(0, &clsid), E_FAIL);
    SetDword(kBackup, "FromBackup", 1);
    EXPECT_EQ(config_->LoadLinkInfo(0, nullptr), E_POINTER);
    EXPECT_FALSE(KeyExists(kRoot)) << "nothing happens, not even a restore";
    TestEngine unserved(0, false), refusing(1), foreign(2);
    refusing.createResult = E_ACCESSDENIED;
    foreign.createResult = E_NOINTERFACE;  // not a link engine
    EXPECT_EQ(Load(0), Outcome(E_NOINTERFACE, "<untouched>"));
    EXPECT_EQ(List(), (std::vector<CLSID>{kClasses[0], kClasses[1], kClasses[2]}));
    for (ULONG i : {3u, 0x7FFFFFFFu, 0xFFFFFFFFu}) EXPECT_EQ(config_->GetLinkEngineCLSID(i, &clsid), E_INVALIDARG);
    EXPECT_EQ(clsid, GUID_NULL);
    EXPECT_EQ(config_->GetLinkEngineCLSID(0, nullptr), E_POINTER);
    WriteEngineKey("Engine", "", NewCache());
    EXPECT_EQ(Load(0).first, S_OK);
    EXPECT_EQ(List().size(), 3u);
}

// Only the path operations rebuild a missing root (the flags, only in the backup, would become
// readable); the paths name keys without creating them; the install folder is the DLL's own. The
// flags are 1 for 119 in a REG_DWORD, else 0; a value missing or of another type is not read.
TEST_F(LinksTest, PathsRestoreTheRootAndOcrFlagsAreOnOnlyFor119InARegDword) {
    constexpr LONG kKept = -7;  // what the caller put there
    SetDword(std::string(kBackup) + "\\Ferrovane 4.0\\Text Documents", "ShowMessages", 119);
    LONG send = kKept, show = kKept;
    char dll[MAX_PATH] = {};
    GetModuleFileNameA(Dll().module, dll, MAX_PATH);
    Bstr path;
    auto text = [&](HRESULT hr) { return hr == S_OK ? path.Ansi() : "<failed>"; };
    EXPECT_EQ(config_->GetOCRFlags(&send, &show), E_FAIL);
    EXPECT_EQ(text(config_->GetKSInstallFolder(path.put())), std::string(dll, std::strrchr(dll, '\\')));
    EXPECT_FALSE(KeyExists(kRoot));
    EXPECT_EQ(text(config_->GetLinkEngineContainer(Bstr("Deeper\\Key").get(), path.put())), RootPath("Deeper\\Key"));
    EXPECT_TRUE(KeyExists(kRoot));
    EXPECT_EQ(text(config_->GetLinkCustomProfile(path.put())), RootPath("LinkProfiles"));
    EXPECT_EQ(text(config_->GetUIInterfaceProfile(path.put())), RootPath("UIInterfaceProfiles"));
    EXPECT_EQ(text(config_->GetLinkEngineContainer(nullptr, path.put())), RootPath(""));
    EXPECT_EQ(SubkeyNames(kRoot), std::vector<std::string>{"Ferrovane 4.0"});
    EXPECT_EQ(config_->GetLinkEngineContainer(nullptr, nullptr), S_OK);
    EXPECT_TRUE(config_->CanUIInterfaceCloseOnScan(&send) == S_OK && send == 1);

    const std::string key = RootPath("Ferrovane 4.0\\Text Documents");
    // REG_NONE: the value is missing.
    const struct { DWORD sendType, sendValue, showType, showValue; HRESULT hr; LONG send, show; } cases[] = {
        {REG_DWORD, 119, REG_DWORD, 1, S_OK, 1, 0},     {REG_DWORD, 0, REG_DWORD, 0x177, S_OK, 0, 0},
        {REG_NONE, 0, REG_DWORD, 119, S_OK, kKept, 1},  {REG_SZ, 119, REG_NONE, 0, E_FAIL, kKept, kKept},
        {REG_BINARY, 119, REG_DWORD_BIG_ENDIAN, 119, E_FAIL, kKept, kKept}};
    EXPECT_EQ(config_->GetOCRFlags(&send, nullptr), E_POINTER);
    for (const auto& c : cases) {
        DeleteKeyTree(key);
        if (c.sendType != REG_NONE) SetValue(key, "SendEmptyFile", c.sendType, &c.sendValue, sizeof(DWORD));
        if (c.showType != REG_NONE) SetValue(key, "ShowMessages", c.showType, &c.showValue, sizeof(DWORD));
        send = show = kKept;
        EXPECT_EQ(config_->GetOCRFlags(&send, &show), c.hr);
        EXPECT_EQ(std::pair(send, show), std::pair(c.send, c.show)) << c.sendType << ' ' << c.showType;
    }
}

// The install folder is the folder of the store's own file, not of the program that loaded it.
TEST(InstallFolderTest, IsTheFolderOfTheLoadedModuleCopy) {
    char dll[MAX_PATH] = {};
    GetModuleFileNameA(Dll().module, dll, MAX_PATH);
    std::string folder = std::string(dll, std::strrchr(dll, '\\')) + "\\Elsewhere";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(dll, (folder + "\\Registry.dll").c_str(), FALSE));
    HMODULE copy = LoadLibraryA((folder + "\\Registry.dll").c_str());
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, Dll().module);
    auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(copy, "DllGetClassObject")));
    Ref<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void()), S_OK);
    Ref<IKeystrelConfig> config;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKeystrelConfig, config.put_void()), S_OK);
    Bstr path;
    EXPECT_EQ(config->GetKSInstallFolder(path.put()), S_OK);
    EXPECT_EQ(path.Ansi(), folder);
    config.reset();
    factory.reset();
    FreeLibrary(copy);
    DeleteFileA((folder + "\\Registry.dll").c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace kstest
