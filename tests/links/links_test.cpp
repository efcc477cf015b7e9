// The link engine catalogue and the paths the utility's other components ask for. Engines are
// classes of this executable in the real category; link caches are real compound files.
#include "support/ks_test.h"

namespace kstest {
namespace {

// The category manager lists its members in class-key order, which is this order.
const CLSID kClasses[3] = {{0x467befab, 0x0a43, 0x4f4e, {0x95, 0x6a, 0x57, 0xb4, 0x21, 0x55, 0xd4, 0x88}},
                           {0x759749a1, 0xa173, 0x48a7, {0x90, 0x1f, 0xb6, 0x9c, 0xf3, 0xcd, 0x96, 0x1e}},
                           {0x7aa00f8d, 0xf533, 0x4e9a, {0xbe, 0x14, 0x87, 0x05, 0x00, 0xa5, 0xbe, 0x8a}}};
// The store must neither read nor release the pointer the caller passes in.
IStorage* const kUntouched = reinterpret_cast<IStorage*>(static_cast<uintptr_t>(0x5A5A5A50));

std::string GuidText(REFGUID guid) {
    wchar_t wide[40] = {};
    StringFromGUID2(guid, wide, 40);
    return Bstr(wide).Ansi();
}
std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GuidText(clsid); }

void WriteEngineKey(const std::string& name, const std::string& guid, const std::string& cache) {
    SetString(RootPath(name), "", "LINKENGINE");
    SetString(RootPath(name), "GUID", guid);
    SetString(RootPath(name), "LinkCache", cache);
}

// A link engine that is its own class object. The store's references end within each call, so it
// lives on the test's stack.
class TestEngine final : public IClassFactory, public ILinkEngine {
public:
    TestEngine(int index, bool served = true, bool member = true) : clsid(kClasses[index]) {
        IClassFactory* factory = this;
        if (served) CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
        const std::string category = "\\Implemented Categories\\" + GuidText(CATID_LinkEngines);
        if (member) CreateKeyPath(ClassKey(clsid) + category, HKEY_CLASSES_ROOT);
    }
    ~TestEngine() {
        if (cookie_ != 0) CoRevokeClassObject(cookie_);
        DeleteKeyTree(ClassKey(clsid), HKEY_CLASSES_ROOT);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        *out = riid == IID_IUnknown || riid == IID_IClassFactory ? static_cast<void*>(static_cast<IClassFactory*>(this))
               : riid == IID_ILinkEngine && answersLinkEngine    ? static_cast<ILinkEngine*>(this)
                                                                 : nullptr;
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
    bool answersLinkEngine = true;
    std::string linkCache;  // when set, RefreshEngine writes the engine key "Engine" naming it
    int refreshes = 0;

private:
    DWORD cookie_ = 0;
};

class LinkEngineTest : public StoreTest {
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
    // LoadLinkInfo over a preset pointer; notes the storage handed out and the file behind it.
    HRESULT Load(LONG refresh) {
        IStorage* raw = kUntouched;
        HRESULT hr = config_->LoadLinkInfo(refresh, &raw);
        untouched_ = raw == kUntouched;
        store_ = Ref<IStorage>(untouched_ ? nullptr : raw);
        STATSTG stat{};
        opened_ = store_ && store_->Stat(&stat, STATFLAG_DEFAULT) == S_OK ? Bstr(stat.pwcsName).Ansi() : "<none>";
        CoTaskMemFree(stat.pwcsName);
        return hr;
    }
    // A new compound file in the temporary folder (or only its name), deleted after the test.
    std::string NewCache(bool create = true) {
        char folder[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, folder);
        static int counter = 0;
        files_.push_back(folder + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + ".stg");
        DeleteFileA(files_.back().c_str());  // left over by an aborted run of a process with this id
        Ref<IStorage> storage;
        const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        if (create) {
            EXPECT_EQ(StgCreateDocfile(Bstr(files_.back().c_str()).get(), mode, 0, storage.put()), S_OK);
        }
        return files_.back();
    }
    std::vector<CLSID> List() {
        std::vector<CLSID> list;
        for (CLSID id; config_->GetLinkEngineCLSID(static_cast<ULONG>(list.size()), &id) == S_OK;) list.push_back(id);
        return list;
    }

    Ref<IKeystrelConfig> config_ = NewConfig();
    Ref<IStorage> store_;
    bool untouched_ = false;
    std::string opened_;
    std::vector<std::string> files_;
};

// An engine key opens its cache without a refresh and leaves the list alone, even when the cache
// is unusable; anything else falls through to the category search.
TEST_F(LinkEngineTest, OnlyTheExactMarkerInADirectSubkeyMakesAnEngineKey) {
    TestEngine member(0);
    member.refreshResult = E_FAIL;  // no second run
    const std::string marker = "LINKENGINE", ok = NewCache(), tooLong = "C:\\" + std::string(257, 'x');
    const struct {
        const char* key;
        DWORD type;
        std::string value, cache;  // cache "": no "LinkCache"
        bool isEngine;
        HRESULT hr;
    } cases[] = {
        {"Engine", REG_SZ, marker, ok, true, S_OK},         {"Engine", REG_EXPAND_SZ, marker, ok, true, S_OK},
        {"Engine", REG_SZ, marker, "", true, E_FAIL},       {"Engine", REG_SZ, marker, tooLong, true, E_FAIL},
        {"Engine", REG_SZ, "linkengine", ok, false, S_OK},  {"Engine", REG_SZ, marker + " ", ok, false, S_OK},
        {"Engine", REG_SZ, marker + "S", ok, false, S_OK},  {"Engine", REG_BINARY, marker, ok, false, S_OK},
        {"Scanner\\Engine", REG_SZ, marker, ok, false, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + (" " + c.value) + " " + std::to_string(c.type) + " " + c.cache);
        DeleteKeyTree(kRoot);
        WriteEngineKey(c.key, GuidText(member.clsid), c.cache);
        SetValue(RootPath(c.key), "", c.type, c.value.c_str(), static_cast<DWORD>(c.value.size() + 1));
        if (c.cache.empty()) RegDeleteKeyValueA(HKEY_CURRENT_USER, RootPath(c.key).c_str(), "LinkCache");
        member.refreshes = 0;
        config_ = NewConfig();
        EXPECT_EQ(Load(0), c.hr);
        EXPECT_EQ(opened_, c.isEngine && c.hr == S_OK ? ok : "<none>");
        EXPECT_EQ(untouched_, !c.isEngine || c.hr != S_OK);
        EXPECT_EQ(member.refreshes, c.isEngine ? 0 : 1);
        EXPECT_EQ(List().size(), c.isEngine ? 0u : 1u);
    }
}

// The named engine refreshes (here moving its cache) before the cache is opened; a "GUID" that is
// not a served class in registry form only skips the refresh.
TEST_F(LinkEngineTest, RefreshAsksTheNamedEngineOnceFirstAndAnUnusableGuidSkipsIt) {
    const std::string before = NewCache(), after = NewCache();
    TestEngine engine(0, true, false);
    engine.linkCache = after;
    engine.refreshResult = S_FALSE;
    const std::string guid = GuidText(engine.clsid), progId = "KsLinksTest.Engine";
    SetString(progId + "\\CLSID", "", guid, HKEY_CLASSES_ROOT);  // CLSIDFromString would take it
    for (const std::string& text : {guid, guid.substr(1, 36), progId, std::string("{not-a-class-identifier}"),
                                    GuidText(kClasses[2]) /* nobody serves it */, std::string()}) {
        SCOPED_TRACE(text);
        WriteEngineKey("Engine", text, before);
        if (text.empty()) RegDeleteKeyValueA(HKEY_CURRENT_USER, RootPath("Engine").c_str(), "GUID");
        engine.refreshes = 0;
        EXPECT_EQ(Load(1), S_OK);
        EXPECT_EQ(engine.refreshes, text == guid ? 1 : 0);
        EXPECT_EQ(opened_, text == guid ? after : before);
    }
    DeleteKeyTree(progId, HKEY_CLASSES_ROOT);
}

// Engine keys are read until the enumeration fails (a 64-character name does not fit, 63 do). Each
// opens its cache into the caller's pointer: the earlier storage is released, and the caller gets
// the last key's result, StgOpenStorage's error unchanged.
TEST_F(LinkEngineTest, EachEngineKeyReplacesTheStorageOfTheOneBefore) {
    const std::string first = NewCache(), last = NewCache();
    WriteEngineKey("EngineA", "", first);  // subkeys enumerate in name order
    WriteEngineKey("EngineB", "", last);
    CreateKeyPath(RootPath(std::string(63, 'B')));
    EXPECT_EQ(Load(0), S_OK);
    EXPECT_EQ(opened_, last);
    EXPECT_TRUE(DeleteFileA(first.c_str())) << "the earlier storage still holds its file";
    EXPECT_FALSE(DeleteFileA(last.c_str()));
    store_.reset();

    WriteEngineKey("EngineA", "", last);
    WriteEngineKey("EngineB", "", NewCache(false));
    IStorage* raw = kUntouched;
    EXPECT_EQ(config_->LoadLinkInfo(0, &raw), STG_E_FILENOTFOUND);
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(DeleteFileA(last.c_str()));

    CreateKeyPath(RootPath(std::string(64, 'A')));  // enumerated first
    EXPECT_EQ(Load(0), E_FAIL);
    EXPECT_TRUE(untouched_);
}

// Without engine keys every member is listed and asked to refresh; a successful refresh sends the
// call back to the registry once (per call), where with Refresh the new key's engine is asked again.
TEST_F(LinkEngineTest, CategorySearchRefreshesMembersThenStartsOverOnce) {
    const std::string cache = NewCache();
    const struct {
        bool writesKey;
        HRESULT refreshResult;
        LONG refresh;
        int refreshes;
    } cases[] = {{true, S_OK, 0, 1}, {true, S_FALSE, 1, 2}, {false, S_OK, 0, 2}, {false, E_FAIL, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refreshes);
        TestEngine first(0), second(1);
        second.createResult = CLASS_E_CLASSNOTAVAILABLE;
        first.refreshResult = c.refreshResult;
        first.linkCache = c.writesKey ? cache : "";
        config_ = NewConfig();
        for (int call = 0; call < 2; ++call) {
            DeleteKeyTree(kRoot);
            DeleteKeyTree(kBackup);
            first.refreshes = 0;
            EXPECT_EQ(Load(c.refresh), c.writesKey ? S_OK : CLASS_E_CLASSNOTAVAILABLE);
            EXPECT_EQ(opened_, c.writesKey ? cache : "<none>");
            EXPECT_EQ(first.refreshes, c.refreshes);
            EXPECT_EQ(List(), (std::vector<CLSID>{kClasses[0], kClasses[1]}));
            store_.reset();
        }
    }
}

TEST_F(LinkEngineTest, MembersThatCannotBeCreatedAreListedAndTheLastErrorReturned) {
    SetDword(kBackup, "FromBackup", 1);
    EXPECT_EQ(config_->LoadLinkInfo(0, nullptr), E_POINTER);
    EXPECT_FALSE(KeyExists(kRoot)) << "nothing happens, not even a restore";
    TestEngine unserved(0, false), refusing(1), foreign(2);
    refusing.createResult = E_ACCESSDENIED;
    foreign.answersLinkEngine = false;
    EXPECT_EQ(Load(0), E_NOINTERFACE);
    EXPECT_TRUE(untouched_);
    EXPECT_EQ(List(), (std::vector<CLSID>{kClasses[0], kClasses[1], kClasses[2]}));
    for (ULONG index : {3u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {  // compared unsigned
        GUID clsid = GUID_NULL;
        EXPECT_EQ(config_->GetLinkEngineCLSID(index, &clsid), E_INVALIDARG);
        EXPECT_EQ(clsid, GUID_NULL);
    }
    EXPECT_EQ(config_->GetLinkEngineCLSID(0, nullptr), E_POINTER);

    // A later load from an engine key keeps the list; an empty category search empties it.
    WriteEngineKey("Engine", "", NewCache());
    EXPECT_EQ(Load(0), S_OK);
    EXPECT_EQ(List().size(), 3u);
    store_.reset();
    DeleteKeyTree(kRoot);
    Forget();
    EXPECT_EQ(Load(0), E_FAIL);
    GUID clsid = GUID_NULL;
    EXPECT_EQ(config_->GetLinkEngineCLSID(0, &clsid), E_FAIL);
    EXPECT_EQ(clsid, GUID_NULL);
}

class ProfilePathsTest : public StoreTest {};

// Only the path operations rebuild a missing root (the flags, only in the backup, would become
// readable); the paths name keys without creating them.
TEST_F(ProfilePathsTest, PathsRestoreTheRootAndNameKeysWithoutCreatingThem) {
    Ref<IKeystrelConfig> config = NewConfig();
    SetDword(std::string(kBackup) + "\\Ferrovane 4.0\\Text Documents", "ShowMessages", 119);
    LONG flag = 0;
    Bstr folder, links, ui, engine, unnamed;
    EXPECT_EQ(config->GetOCRFlags(&flag, &flag), E_FAIL);
    EXPECT_EQ(config->GetKSInstallFolder(folder.put()), S_OK);
    EXPECT_FALSE(KeyExists(kRoot));
    EXPECT_EQ(config->GetLinkEngineContainer(Bstr("Deeper\\Key").get(), engine.put()), S_OK);
    EXPECT_TRUE(KeyExists(kRoot));
    EXPECT_EQ(config->GetLinkCustomProfile(links.put()), S_OK);
    EXPECT_EQ(config->GetUIInterfaceProfile(ui.put()), S_OK);
    EXPECT_EQ(config->GetLinkEngineContainer(nullptr, unnamed.put()), S_OK);
    EXPECT_EQ(links.Ansi(), RootPath("LinkProfiles"));
    EXPECT_EQ(ui.Ansi(), RootPath("UIInterfaceProfiles"));
    EXPECT_EQ(engine.Ansi(), RootPath("Deeper\\Key"));
    EXPECT_EQ(unnamed.Ansi(), RootPath(""));
    EXPECT_EQ(SubkeyNames(kRoot), std::vector<std::string>{"Ferrovane 4.0"});
    EXPECT_EQ(config->GetLinkEngineContainer(nullptr, nullptr), S_OK);
    EXPECT_EQ(config->CanUIInterfaceCloseOnScan(&flag), S_OK);
    EXPECT_EQ(flag, 1);
}

TEST_F(ProfilePathsTest, OcrFlagsAreOnOnlyFor119InARegDword) {
    const std::string key = RootPath("Ferrovane 4.0\\Text Documents");
    constexpr LONG kKept = -7;  // what the caller put there
    const struct {
        DWORD sendType, send, showType, show;  // type REG_NONE: value missing
        HRESULT hr;
        LONG sendOut, showOut;
    } cases[] = {
        {REG_DWORD, 119, REG_DWORD, 1, S_OK, 1, 0},     {REG_DWORD, 0, REG_DWORD, 0x177, S_OK, 0, 0},
        {REG_NONE, 0, REG_DWORD, 119, S_OK, kKept, 1},  {REG_SZ, 119, REG_NONE, 0, E_FAIL, kKept, kKept},
        {REG_BINARY, 119, REG_DWORD_BIG_ENDIAN, 119, E_FAIL, kKept, kKept},
    };
    Ref<IKeystrelConfig> config = NewConfig();
    LONG send = kKept, show = kKept;
    EXPECT_EQ(config->GetOCRFlags(&send, nullptr), E_POINTER);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sendType * 100 + c.showType);
        DeleteKeyTree(key);
        CreateKeyPath(key);
        if (c.sendType != REG_NONE) SetValue(key, "SendEmptyFile", c.sendType, &c.send, sizeof(DWORD));
        if (c.showType != REG_NONE) SetValue(key, "ShowMessages", c.showType, &c.show, sizeof(DWORD));
        send = show = kKept;
        EXPECT_EQ(config->GetOCRFlags(&send, &show), c.hr);
        EXPECT_EQ(send, c.sendOut);
        EXPECT_EQ(show, c.showOut);
    }
}

// A copy of the module in another folder reports that folder, not the program's.
TEST_F(ProfilePathsTest, InstallFolderIsTheFolderOfTheModuleNotOfTheProgram) {
    char original[MAX_PATH] = {}, temp[MAX_PATH] = {};
    GetModuleFileNameA(Dll().module, original, MAX_PATH);
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = temp + std::string("ks links ") + std::to_string(GetCurrentProcessId());
    const std::string copy = folder + "\\Registry.dll";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) && CopyFileA(original, copy.c_str(), FALSE));
    HMODULE module = LoadLibraryA(copy.c_str());
    Ref<IClassFactory> factory;
    Ref<IKeystrelConfig> config;
    Bstr reported;
    auto getClassObject = reinterpret_cast<decltype(&DllGetClassObject)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, factory.put_void()) == S_OK &&
        factory->CreateInstance(nullptr, IID_IKeystrelConfig, config.put_void()) == S_OK) {
        EXPECT_EQ(config->GetKSInstallFolder(reported.put()), S_OK);
    }
    EXPECT_EQ(reported.Ansi(), folder);
    config.reset();
    factory.reset();
    FreeLibrary(module);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace kstest
