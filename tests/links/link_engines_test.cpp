// The link engine catalogue: engine keys, the category search and the link cache handed out.
#include "links/link_fixtures.h"

namespace kstest {
namespace {

// A value the store must not read or release: shows that the caller's pointer was left alone.
IStorage* const kUntouched = reinterpret_cast<IStorage*>(static_cast<uintptr_t>(0x5A5A5A50));

class LinkEngineTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ForgetTestEngines();
        DeleteKeyTree(kProgId, HKEY_CLASSES_ROOT);
    }
    void TearDown() override {
        ForgetTestEngines();
        DeleteKeyTree(kProgId, HKEY_CLASSES_ROOT);
        StoreTest::TearDown();
    }

    // Runs LoadLinkInfo; the storage it hands out (if any) is owned by `store`.
    HRESULT Load(IKeystrelConfig* config, LONG refresh, Ref<IStorage>& store) {
        IStorage* raw = kUntouched;
        HRESULT hr = config->LoadLinkInfo(refresh, &raw);
        untouched_ = raw == kUntouched;
        store = Ref<IStorage>(untouched_ ? nullptr : raw);
        return hr;
    }

    // Each object's release backs the root up, and a missing root comes back from the backup.
    static void ClearSettings() {
        DeleteKeyTree(kRoot);
        DeleteKeyTree(kBackup);
    }

    std::vector<CLSID> ListOf(IKeystrelConfig* config) {
        std::vector<CLSID> list;
        CLSID clsid;
        for (ULONG i = 0; config->GetLinkEngineCLSID(i, &clsid) == S_OK; ++i) list.push_back(clsid);
        return list;
    }

    static constexpr const char* kProgId = "KsLinksTest.Engine";
    bool untouched_ = false;
};

TEST_F(LinkEngineTest, NullStoreIsRejectedBeforeTheRootIsRestored) {
    Ref<IKeystrelConfig> config = NewConfig();
    SetDword(kBackup, "FromBackup", 1);
    EXPECT_EQ(config->LoadLinkInfo(0, nullptr), E_POINTER);
    EXPECT_FALSE(KeyExists(kRoot));
}

TEST_F(LinkEngineTest, EngineKeyOpensItsCacheWithoutRefreshOrCategorySearch) {
    CacheFile cache("CacheA");
    TestEngine engine(kEngineClasses[0], true, true);
    WriteEngineKey("Engine", GuidText(engine.clsid()), cache.path());
    SetString(RootPath("Scanner"), "", "device key");  // keys beside it are not engines

    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IStorage> store;
    EXPECT_EQ(Load(config.get(), 0, store), S_OK);
    EXPECT_EQ(MarkerOf(store.get()), "CacheA");
    EXPECT_EQ(engine.script().refreshes, 0);
    GUID clsid;
    EXPECT_EQ(config->GetLinkEngineCLSID(0, &clsid), E_FAIL) << "only the category search fills the list";
}

TEST_F(LinkEngineTest, RefreshAsksTheNamedEngineOnceBeforeTheCacheIsOpened) {
    CacheFile before("Before");
    CacheFile after("After");
    TestEngine engine(kEngineClasses[0], true, false);
    engine.script().keyName = "Engine";
    engine.script().linkCache = after.path();  // the refresh moves the cache
    engine.script().refreshResult = S_FALSE;
    WriteEngineKey("Engine", GuidText(engine.clsid()), before.path());

    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IStorage> store;
    EXPECT_EQ(Load(config.get(), 1, store), S_OK);
    EXPECT_EQ(engine.script().refreshes, 1);
    EXPECT_EQ(MarkerOf(store.get()), "After");
}

TEST_F(LinkEngineTest, UnusableEngineIdentifierSkipsTheRefreshButStillOpensTheCache) {
    CacheFile cache("Cache");
    TestEngine engine(kEngineClasses[0], true, false);
    const std::string guid = GuidText(engine.clsid());
    // A programmatic identifier of the engine: CLSIDFromString would take it, the store must not.
    SetString(std::string(kProgId) + "\\CLSID", "", guid, HKEY_CLASSES_ROOT);
    CLSID viaProgId{};
    Bstr progId(kProgId);
    ASSERT_EQ(CLSIDFromString(progId.get(), &viaProgId), S_OK);
    ASSERT_EQ(viaProgId, engine.clsid());

    const DWORD number = 7;
    struct Case {
        const char* what;
        DWORD type;
        std::string text;
    } cases[] = {
        {"missing", REG_NONE, ""},
        {"empty", REG_SZ, ""},
        {"no braces", REG_SZ, guid.substr(1, guid.size() - 2)},
        {"programmatic identifier", REG_SZ, kProgId},
        {"braces around garbage", REG_SZ, "{not-a-class-identifier}"},
        {"number", REG_DWORD, ""},
        {"too long for 64 bytes", REG_SZ, guid + std::string(30, ' ')},
        {"class nobody serves", REG_SZ, GuidText(kEngineClasses[3])},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(RootPath("Engine"));
        SetString(RootPath("Engine"), "", "LINKENGINE");
        SetString(RootPath("Engine"), "LinkCache", cache.path());
        if (c.type == REG_SZ) SetString(RootPath("Engine"), "GUID", c.text);
        if (c.type == REG_DWORD) SetDword(RootPath("Engine"), "GUID", number);
        Ref<IKeystrelConfig> config = NewConfig();
        Ref<IStorage> store;
        EXPECT_EQ(Load(config.get(), 1, store), S_OK);
        EXPECT_EQ(MarkerOf(store.get()), "Cache");
        EXPECT_EQ(engine.script().refreshes, 0);
    }
}

TEST_F(LinkEngineTest, OnlyTheExactMarkerInADirectSubkeyMakesAnEngineKey) {
    CacheFile cache("Cache");
    const std::string marker = "LINKENGINE";
    struct Case {
        const char* what;
        std::string key;
        DWORD type;
        std::string value;
        bool isEngine;
    } cases[] = {
        {"exact", "Engine", REG_SZ, marker, true},
        {"expandable string", "Engine", REG_EXPAND_SZ, marker, true},
        {"lower case", "Engine", REG_SZ, "linkengine", false},
        {"mixed case", "Engine", REG_SZ, "LinkEngine", false},
        {"trailing space", "Engine", REG_SZ, marker + " ", false},
        {"longer", "Engine", REG_SZ, marker + "S", false},
        {"binary", "Engine", REG_BINARY, marker, false},
        {"below a device key", "Scanner\\Engine", REG_SZ, marker, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearSettings();
        SetValue(RootPath(c.key), "", c.type, c.value.c_str(), static_cast<DWORD>(c.value.size() + 1));
        SetString(RootPath(c.key), "LinkCache", cache.path());
        Ref<IKeystrelConfig> config = NewConfig();
        Ref<IStorage> store;
        HRESULT hr = Load(config.get(), 0, store);
        if (c.isEngine) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(MarkerOf(store.get()), "Cache");
        } else {
            EXPECT_EQ(hr, E_FAIL) << "the category of link engines is empty";
            EXPECT_TRUE(untouched_);
        }
    }
}

TEST_F(LinkEngineTest, SubkeyNameTooLongForTheEnumerationEndsTheSearch) {
    CacheFile cache("Cache");
    WriteEngineKey("Engine", "", cache.path());
    CreateKeyPath(RootPath(std::string(63, 'B')));  // fits: the search goes on
    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IStorage> store;
    EXPECT_EQ(Load(config.get(), 0, store), S_OK);

    CreateKeyPath(RootPath(std::string(64, 'A')));  // enumerated before "Engine", does not fit
    EXPECT_EQ(Load(config.get(), 0, store), E_FAIL);
    EXPECT_TRUE(untouched_);
}

TEST_F(LinkEngineTest, EngineKeyWithoutUsableLinkCacheFailsWithoutCategorySearch) {
    TestEngine member(kEngineClasses[0], true, true);
    const DWORD number = 1;
    struct Case {
        const char* what;
        DWORD type;
        std::string text;
    } cases[] = {
        {"missing", REG_NONE, ""},
        {"number", REG_DWORD, ""},
        {"too long for 260 bytes", REG_SZ, "C:\\" + std::string(257, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(RootPath("Engine"));
        SetString(RootPath("Engine"), "", "LINKENGINE");
        if (c.type == REG_SZ) SetString(RootPath("Engine"), "LinkCache", c.text);
        if (c.type == REG_DWORD) SetDword(RootPath("Engine"), "LinkCache", number);
        Ref<IKeystrelConfig> config = NewConfig();
        Ref<IStorage> store;
        EXPECT_EQ(Load(config.get(), 0, store), E_FAIL);
        EXPECT_TRUE(untouched_);
        EXPECT_EQ(member.script().refreshes, 0);
        EXPECT_TRUE(ListOf(config.get()).empty());
    }
}

TEST_F(LinkEngineTest, UnopenableCacheGivesTheStorageErrorUnchanged) {
    const std::string plain = TempPath("plain");
    HANDLE file = CreateFileA(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "not a compound file", 19, &written, nullptr);
    CloseHandle(file);
    struct Remove {
        const std::string& path;
        ~Remove() { DeleteFileA(path.c_str()); }
    } remove{plain};

    for (const std::string& path : {TempPath("missing"), plain}) {
        SCOPED_TRACE(path);
        Bstr wide(path.c_str());
        IStorage* direct = nullptr;
        HRESULT expected = StgOpenStorage(wide.get(), nullptr, STGM_TRANSACTED | STGM_READ, nullptr, 0, &direct);
        ASSERT_TRUE(FAILED(expected));
        ASSERT_NE(expected, E_FAIL);
        WriteEngineKey("Engine", "", path);
        Ref<IKeystrelConfig> config = NewConfig();
        Ref<IStorage> store;
        EXPECT_EQ(Load(config.get(), 0, store), expected);
        EXPECT_FALSE(store) << "nothing usable handed out";
    }
}

TEST_F(LinkEngineTest, SeveralEngineKeysLeaveTheCallerOnlyTheLastStorage) {
    CacheFile first("First");
    CacheFile last("Last");
    WriteEngineKey("EngineA", "", first.path());  // subkeys enumerate in name order
    WriteEngineKey("EngineB", "", last.path());
    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IStorage> store;
    EXPECT_EQ(Load(config.get(), 0, store), S_OK);
    EXPECT_EQ(MarkerOf(store.get()), "Last");
    // The storage of the earlier key was released: its file is free again, the last one's is not.
    EXPECT_TRUE(DeleteFileA(first.path().c_str()));
    EXPECT_FALSE(DeleteFileA(last.path().c_str()));
    store.reset();

    // When the last key fails, the caller gets its error and no storage at all.
    CacheFile again("First");
    WriteEngineKey("EngineA", "", again.path());
    WriteEngineKey("EngineB", "", TempPath("missing"));
    IStorage* raw = kUntouched;
    EXPECT_EQ(config->LoadLinkInfo(0, &raw), STG_E_FILENOTFOUND);
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(DeleteFileA(again.path().c_str()));
}

TEST_F(LinkEngineTest, CategorySearchRefreshesMembersThenStartsOverFromTheRegistry) {
    CacheFile cache("Cache");
    for (LONG refresh : {0, 1}) {
        SCOPED_TRACE(refresh);
        ClearSettings();
        TestEngine a(kEngineClasses[0], true, true);
        TestEngine b(kEngineClasses[1], true, true);
        std::vector<CLSID> order = CategoryMembers();
        ASSERT_EQ(order.size(), 2u);
        TestEngine& firstMember = order[0] == a.clsid() ? a : b;
        TestEngine& secondMember = order[0] == a.clsid() ? b : a;
        firstMember.script().keyName = "Engine";
        firstMember.script().linkCache = cache.path();
        secondMember.script().createResult = CLASS_E_CLASSNOTAVAILABLE;  // the first run's result

        Ref<IKeystrelConfig> config = NewConfig();
        Ref<IStorage> store;
        EXPECT_EQ(Load(config.get(), refresh, store), S_OK) << "the result of the second run";
        EXPECT_EQ(MarkerOf(store.get()), "Cache");
        EXPECT_EQ(ListOf(config.get()), order);
        // With Refresh the second run asks the engine of the new key once more.
        EXPECT_EQ(firstMember.script().refreshes, refresh ? 2 : 1);
        EXPECT_EQ(GetString(RootPath("Engine"), "GUID"), GuidText(firstMember.clsid()));
    }
}

TEST_F(LinkEngineTest, MembersThatCannotBeCreatedAreListedAndTheLastErrorReturned) {
    TestEngine unserved(kEngineClasses[0], false, true);
    TestEngine refusing(kEngineClasses[1], true, true);
    refusing.script().createResult = E_ACCESSDENIED;
    TestEngine foreign(kEngineClasses[2], true, true);
    foreign.script().answersLinkEngine = false;
    std::vector<CLSID> order = CategoryMembers();
    ASSERT_EQ(order.size(), 3u);
    Ref<IUnknown> probe;
    HRESULT lastError = CoCreateInstance(order.back(), nullptr, CLSCTX_ALL, IID_ILinkEngine, probe.put_void());
    ASSERT_TRUE(FAILED(lastError));

    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IStorage> store;
    EXPECT_EQ(Load(config.get(), 0, store), lastError);
    EXPECT_TRUE(untouched_);
    EXPECT_EQ(ListOf(config.get()), order);

    GUID clsid = GUID_NULL;
    struct Case {
        ULONG index;
        HRESULT hr;
    } cases[] = {{0, S_OK}, {2, S_OK}, {3, E_INVALIDARG}, {0x7FFFFFFF, E_INVALIDARG}, {0xFFFFFFFF, E_INVALIDARG}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        clsid = GUID_NULL;
        EXPECT_EQ(config->GetLinkEngineCLSID(c.index, &clsid), c.hr);
        EXPECT_EQ(clsid, c.hr == S_OK ? order[c.index] : GUID_NULL);
    }
    EXPECT_EQ(config->GetLinkEngineCLSID(0, nullptr), E_POINTER);

    // A later load from an engine key keeps the list; an empty category search empties it.
    CacheFile cache("Cache");
    WriteEngineKey("Engine", "", cache.path());
    EXPECT_EQ(Load(config.get(), 0, store), S_OK);
    EXPECT_EQ(ListOf(config.get()), order);
    ClearSettings();
    store.reset();
    ForgetTestEngines();
    ASSERT_TRUE(CategoryMembers().empty());
    EXPECT_EQ(Load(config.get(), 0, store), E_FAIL);
    EXPECT_EQ(config->GetLinkEngineCLSID(0, &clsid), E_FAIL);
}

TEST_F(LinkEngineTest, RefreshWithoutEngineKeyRepeatsTheSearchOnlyOnce) {
    struct Case {
        const char* what;
        HRESULT refreshResult;
        int refreshes;
    } cases[] = {
        {"refresh fails: no repeat", E_FAIL, 1},
        {"refresh succeeds but writes no key: one repeat", S_OK, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestEngine member(kEngineClasses[0], true, true);
        member.script().refreshResult = c.refreshResult;
        Ref<IKeystrelConfig> config = NewConfig();
        Ref<IStorage> store;
        EXPECT_EQ(Load(config.get(), 0, store), S_OK) << "the member could be created";
        EXPECT_TRUE(untouched_);
        EXPECT_EQ(member.script().refreshes, c.refreshes);
        EXPECT_EQ(ListOf(config.get()), std::vector<CLSID>{member.clsid()});
        // The bound is per call: the next call may repeat once again.
        member.script().refreshes = 0;
        EXPECT_EQ(Load(config.get(), 0, store), S_OK);
        EXPECT_EQ(member.script().refreshes, c.refreshes);
    }
}

TEST_F(LinkEngineTest, IndexRulesOnAnEmptyList) {
    Ref<IKeystrelConfig> config = NewConfig();
    GUID clsid = GUID_NULL;
    EXPECT_EQ(config->GetLinkEngineCLSID(0, nullptr), E_POINTER);
    EXPECT_EQ(config->GetLinkEngineCLSID(0, &clsid), E_FAIL);
    EXPECT_EQ(config->GetLinkEngineCLSID(0xFFFFFFFF, &clsid), E_FAIL);
    EXPECT_EQ(clsid, GUID_NULL);
}

TEST_F(LinkEngineTest, ContainerIsTheRootPathOfTheNamedKeyWhetherOrNotItExists) {
    Ref<IKeystrelConfig> config = NewConfig();
    struct Case {
        const wchar_t* name;
        std::string path;
    } cases[] = {
        {L"Engine", RootPath("Engine")},
        {L"", RootPath("")},
        {nullptr, RootPath("")},
        {L"Deeper\\Key", RootPath("Deeper\\Key")},
    };
    for (const Case& c : cases) {
        Bstr name(c.name);
        Bstr container;
        EXPECT_EQ(config->GetLinkEngineContainer(name.get(), container.put()), S_OK);
        EXPECT_EQ(container.Ansi(), c.path);
    }
    Bstr name(L"Engine");
    EXPECT_EQ(config->GetLinkEngineContainer(name.get(), nullptr), S_OK);
    EXPECT_FALSE(KeyExists(RootPath("Engine")));
}

}  // namespace
}  // namespace kstest
