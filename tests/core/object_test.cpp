// Lifetime of the module, its class factory and configuration objects.
#include "support/ks_test.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace kstest {
namespace {

class ObjectTest : public StoreTest {};

// What an out-parameter holds before a call that must clear it.
void* const kStale = reinterpret_cast<void*>(1);

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

// Runs body(t) for t in [0, count) on threads of the multithreaded apartment and waits for them.
void OnThreads(int count, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&body, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            body(t);
            CoUninitialize();
        });
    }
    for (std::thread& thread : threads) thread.join();
}

// A creation whose query fails still runs both steps (ensure-root at construction, the backup at
// the final release) and leaves no object behind.
TEST_F(ObjectTest, LockCountFollowsFactoryReferencesLockServerAndFailedCreations) {
    ASSERT_EQ(Dll().canUnloadNow(), S_OK);
    Ref<IClassFactory> first = Factory(), second = Factory();
    EXPECT_EQ(first.get(), second.get()) << "the module caches one factory";
    second.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(first->LockServer(TRUE), S_OK);
    SetDword(kBackup, "FromBackup", 7);
    void* out = kStale;
    EXPECT_EQ(first->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetDword(kRoot, "FromBackup"), 7u);
    SetDword(kRoot, "OnlyInRoot", 9);
    EXPECT_EQ(first->CreateInstance(nullptr, IID_ISupportErrorInfo, &out), E_NOINTERFACE);
    EXPECT_EQ(GetDword(kBackup, "OnlyInRoot"), 9u);
    first.reset();
    EXPECT_EQ(Factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE) << "one LockServer(TRUE) still outstanding";
    Factory()->LockServer(FALSE);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, OnlyTheOneClassAndItsInterfacesAreServed) {
    Ref<IKeystrelConfig> config = NewConfig();
    void* out = kStale;
    EXPECT_EQ(Dll().getClassObject(IID_IKeystrelConfig, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(Factory()->CreateInstance(nullptr, IID_IKeystrelConfig, nullptr), E_POINTER);
    for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_IClassFactory}) {
        out = kStale;
        EXPECT_EQ(config->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(config->QueryInterface(IID_IKeystrelConfig, nullptr), E_POINTER);
    Ref<IUnknown> unknown;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(config.get()));
}

// Aggregation is offered only for IUnknown; the aggregate's interface reaches the outer object.
TEST_F(ObjectTest, AggregatedObjectDelegatesToItsOuterObject) {
    Outer outer;
    void* out = kStale;
    EXPECT_EQ(Factory()->CreateInstance(&outer, IID_IKeystrelConfig, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
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

// The scanner name of thread `t`: torn or mixed-up names cannot pass for another thread's.
std::string ThreadScanner(int t) {
    return "Scanner " + std::string(static_cast<size_t>(t) + 1, static_cast<char>('a' + t));
}

// Free-threaded callers, as the class's registration invites: each run is bounded by its counts.
TEST_F(ObjectTest, FreeThreadedCallersKeepCountsAndTheActiveScannerIntact) {
    // References taken and dropped at once on a plain object and on an aggregate's inner IUnknown.
    Ref<IKeystrelConfig> config = NewConfig();
    Outer outer;
    ASSERT_EQ(Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    IUnknown* const objects[] = {config.get(), outer.inner};
    OnThreads(8, [&objects](int t) {
        for (int i = 0; i < 100000; ++i) {
            objects[t % 2]->AddRef();
            objects[t % 2]->Release();
        }
    });
    EXPECT_EQ(config->AddRef(), 2u);
    config->Release();
    EXPECT_EQ(outer.inner->Release(), 0u);

    // Eight objects replace the process's active scanner while two of them store the active profile:
    // a profile may land under any thread's scanner, never under a name no thread set.
    std::atomic<int> storing = 2;
    OnThreads(8, [&storing](int t) {
        Ref<IKeystrelConfig> own = NewConfig();
        std::string name = ThreadScanner(t);
        for (int round = 0; t < 2 ? round < 40 : storing > 0; ++round) {
            own->SetActiveHardware(GUID{}, name.data());
            _KSCONFIG* active = nullptr;
            if (t >= 2 || own->GetActiveConfig(&active) != S_OK) continue;
            active->flags = KSCNFGFLAG_SAVE;
            own->StoreActiveConfig();
        }
        if (t < 2) --storing;
    });
    std::vector<std::string> names;
    for (int t = 0; t < 8; ++t) names.push_back(ThreadScanner(t));
    for (const std::string& device : SubkeyNames(kRoot))
        EXPECT_NE(std::find(names.begin(), names.end(), device), names.end()) << device << ": a name no thread set";
}

}  // namespace
}  // namespace kstest
