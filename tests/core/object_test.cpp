// Lifetime of the module, its class factory and configuration objects; the type library it embeds.
#include "support/ks_test.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

namespace kstest {
namespace {

class ObjectTest : public StoreTest {};

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

TEST_F(ObjectTest, LockCountFollowsFactoryReferencesAndLockServer) {
    ASSERT_EQ(Dll().canUnloadNow(), S_OK);
    Ref<IClassFactory> first = Factory(), second = Factory();
    EXPECT_EQ(first.get(), second.get()) << "the module caches one factory";
    second.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(first->LockServer(TRUE), S_OK);
    first.reset();
    EXPECT_EQ(Factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE) << "one LockServer(TRUE) still outstanding";
    Factory()->LockServer(FALSE);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, OnlyTheOneClassAndItsInterfacesAreServed) {
    Ref<IKeystrelConfig> config = NewConfig();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(Dll().getClassObject(IID_IKeystrelConfig, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, nullptr), E_POINTER);
    for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_IClassFactory}) {
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(config->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(config->QueryInterface(IID_IKeystrelConfig, nullptr), E_POINTER);
    Ref<IUnknown> unknown;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(config.get()));
}

// Ensure-root runs at construction and the backup at the final release, also when the query fails.
TEST_F(ObjectTest, CreateInstanceFailuresLeaveNoObjectButStillRunBothSteps) {
    Ref<IClassFactory> factory = Factory();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKeystrelConfig, nullptr), E_POINTER);
    SetDword(kBackup, "FromBackup", 7);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetDword(kRoot, "FromBackup"), 7u);
    SetDword(kRoot, "OnlyInRoot", 9);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISupportErrorInfo, &out), E_NOINTERFACE);
    EXPECT_EQ(GetDword(kBackup, "OnlyInRoot"), 9u);
    Outer outer;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IKeystrelConfig, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    factory.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, AggregatedObjectDelegatesToItsOuterObject) {
    Outer outer;
    SetDword(kBackup, "Restored", 1);
    ASSERT_EQ(Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(GetDword(kRoot, "Restored"), 1u);
    EXPECT_EQ(outer.count, 1u) << "the inner IUnknown keeps its own count";
    IKeystrelConfig* config = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IKeystrelConfig, reinterpret_cast<void**>(&config)), S_OK);
    EXPECT_EQ(outer.count, 2u) << "the interface's AddRef reached the outer object";
    IUnknown* identity = nullptr;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, &outer);
    identity->Release();
    config->Release();
    EXPECT_EQ(outer.count, 1u);
    SetDword(kRoot, "Later", 2);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE) << "a live object locks the module";
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(GetDword(kBackup, "Later"), 2u);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, NoOpMethodsLeaveOutValuesAndRegistryAlone) {
    Ref<IKeystrelConfig> config = NewConfig();
    SetDword(kBackup, "Backup", 1);  // root missing: any ensure-root step would recreate it
    Bstr name("Value");
    BSTR text = reinterpret_cast<BSTR>(0x1234);
    ULONG number = 0xDEADBEEF;
    unsigned char* block = reinterpret_cast<unsigned char*>(0x5678);
    LONG size = -5;
    EXPECT_EQ(config->GetConfigRegistryString(name.get(), &text), S_OK);
    EXPECT_EQ(config->SetConfigRegistryString(name.get(), name.get()), S_OK);
    EXPECT_EQ(config->GetConfigRegistryDWORD(name.get(), &number), S_OK);
    EXPECT_EQ(config->SetConfigRegistryDWORD(name.get(), 5), S_OK);
    EXPECT_EQ(config->GetConfigRegistryBinary(name.get(), &block, &size), S_OK);
    EXPECT_EQ(config->SetConfigRegistryBinary(name.get(), nullptr, 4), S_OK);
    EXPECT_EQ(config->DeleteConfigRegistryValue(name.get(), name.get()), S_OK);
    EXPECT_EQ(config->SetActiveHardware(GUID{1, 2, 3, {4}}, const_cast<LPSTR>("Scanner")), S_OK);
    EXPECT_TRUE(text == reinterpret_cast<BSTR>(0x1234) && number == 0xDEADBEEFu && size == -5);
    EXPECT_EQ(block, reinterpret_cast<unsigned char*>(0x5678));
    EXPECT_FALSE(KeyExists(kRoot));
}

// The scanner name of thread `t`: torn or mixed-up names cannot pass for another thread's.
std::string ThreadScanner(int t) { return "Scanner " + std::string(static_cast<size_t>(t) + 1, static_cast<char>('a' + t)); }

// Free-threaded callers, as the class's registration invites: each run is bounded by its counts.
TEST_F(ObjectTest, FreeThreadedCallersKeepCountsActiveScannerAndListsIntact) {
    auto onThreads = [](int count, const std::function<void(int)>& body) {
        std::vector<std::thread> threads;
        for (int t = 0; t < count; ++t) {
            threads.emplace_back([&body, t] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                body(t);
                CoUninitialize();
            });
        }
        for (std::thread& thread : threads) thread.join();
    };

    // References taken and dropped at once on a plain object and on an aggregate's inner IUnknown.
    Ref<IKeystrelConfig> config = NewConfig();
    Outer outer;
    ASSERT_EQ(Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    for (IUnknown* object : {static_cast<IUnknown*>(config.get()), outer.inner}) {
        onThreads(8, [object](int) {
            for (int i = 0; i < 100000; ++i) {
                object->AddRef();
                object->Release();
            }
        });
        EXPECT_EQ(object->AddRef(), 2u);
        object->Release();
    }
    EXPECT_EQ(outer.inner->Release(), 0u);

    // Eight objects replace the process's active scanner while two of them store the active profile:
    // a profile may land under any thread's scanner, never under a name no thread set.
    std::atomic<int> storing = 2;
    onThreads(8, [&storing](int t) {
        Ref<IKeystrelConfig> own = NewConfig();
        std::string name = ThreadScanner(t);
        if (t >= 2) {
            while (storing > 0) own->SetActiveHardware(GUID{}, name.data());
            return;
        }
        for (int round = 0; round < 40; ++round) {
            own->SetActiveHardware(GUID{}, name.data());
            _KSCONFIG* active = nullptr;
            if (own->GetActiveConfig(&active) != S_OK) continue;
            active->flags = KSCNFGFLAG_SAVE;
            own->StoreActiveConfig();
        }
        --storing;
    });
    for (const std::string& device : SubkeyNames(kRoot)) {
        int t = device.size() > 8 ? device.back() - 'a' : -1;
        EXPECT_EQ(device, ThreadScanner(t >= 0 && t < 8 ? t : 0)) << "a name no thread set";
    }

    // One object's list reloaded and read from four threads: every record read is a whole one.
    Bstr shared("Shared");
    for (int i = 0; i < 12; ++i) {
        _KSCONFIG record{};
        std::snprintf(record.keyname, sizeof(record.keyname), "*P%d*", i);
        std::snprintf(record.name, sizeof(record.name), "*P%d*", i);
        record.flags = KSCNFGFLAG_IMAGES;
        ASSERT_EQ(config->StoreConfigInfo(shared.get(), &record), S_OK);
    }
    std::atomic<int> broken = 0;
    onThreads(4, [&](int) {
        for (int round = 0; round < 30; ++round) {
            LONG count = 0;
            broken += config->LoadConfigInfo(shared.get(), KSCNFGFLAG_ALL, &count) != S_OK || count != 12;
            for (LONG i = 0; i < count; ++i) {
                _KSCONFIG record{};
                broken += config->GetConfig(i, &record) != S_OK || record.keyname[0] != '*' ||
                          std::strcmp(record.keyname, record.name) != 0;
            }
        }
    });
    EXPECT_EQ(broken, 0);
}

TEST(TypeLibraryTest, EmbeddedLibraryListsTheInterfaceMethodsInSlotOrder) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(Dll().module, path, MAX_PATH), 0u);
    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(path, REGKIND_NONE, lib.put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_KSREGISTRY) && attr->wMajorVerNum == 1 && attr->wMinorVerNum == 0);
    lib->ReleaseTLibAttr(attr);
    Ref<ITypeInfo> coclass, info;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(CLSID_KeystrelConfig, coclass.put()), S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IKeystrelConfig, info.put()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    EXPECT_TRUE(type->typekind == TKIND_INTERFACE && !(type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)))
        << "derived from IUnknown: neither dual nor oleautomation";
    ASSERT_EQ(type->cFuncs, 38);
    std::vector<std::string> names;
    for (UINT i = 0; i < type->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
        Bstr name;
        UINT count = 0;
        ASSERT_EQ(info->GetNames(func->memid, name.put(), 1, &count), S_OK);
        names.push_back(name.Ansi());
        EXPECT_EQ(func->oVft, static_cast<SHORT>((3 + i) * sizeof(void*))) << name.Ansi();
        info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(type);
    // Spot checks at both ends and the misspelt name; the offsets pin every other slot.
    EXPECT_EQ(names[0] + " " + names[28] + " " + names[37], "LoadLinkInfo GetDefualtGamma DeleteConfigRegistryValue");
}

}  // namespace
}  // namespace kstest
