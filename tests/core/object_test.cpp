// Lifetime of the module, its class factory and configuration objects.
#include "support/ks_test.h"

#include <atomic>
#include <thread>

namespace kstest {
namespace {

class ObjectTest : public StoreTest {};

// What an out-parameter holds before a call that must clear it.
void* const kStale = reinterpret_cast<void*>(1);

// A creation whose query fails still runs both steps (ensure-root at construction, the backup at
// the final release) and leaves no object behind. Only the one class and its two interfaces are
// served (others are refused, the out-pointer cleared, by the query the failed creations run).
TEST_F(ObjectTest, LockCountFollowsFactoryReferencesLockServerAndFailedCreationsOfTheOneClass) {
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

    out = kStale;
    EXPECT_EQ(Dll().getClassObject(IID_IKeystrelConfig, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(Factory()->CreateInstance(nullptr, IID_IKeystrelConfig, nullptr), E_POINTER);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(config->QueryInterface(IID_IKeystrelConfig, nullptr), E_POINTER);
    Ref<IUnknown> unknown;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(config.get()));
}

// Aggregation is offered only for IUnknown; the aggregate's interface reaches the outer object.
// (Its creation rebuilding the root, and its destruction unlocking the module, are in the allocation
// test, which links the store.)
TEST_F(ObjectTest, AggregatedObjectDelegatesToItsOuterObject) {
    Outer outer;
    void* out = kStale;
    EXPECT_EQ(Factory()->CreateInstance(&outer, IID_IKeystrelConfig, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
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
}

// Free-threaded callers, as the class's registration invites. Seven threads take and drop references
// on a plain object and an aggregate's inner IUnknown, and set the active scanner, each to its own
// GUID and name, until the eighth stops them, some in mid-call: the counts come out even, and the
// scanner left active is one thread's pair, so a new profile saved under its name carries its GUID.
TEST_F(ObjectTest, FreeThreadedCallersKeepCountsAndTheActiveScannerWhole) {
    Ref<IKeystrelConfig> config = NewConfig();
    Outer outer;
    ASSERT_EQ(Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    IUnknown* const objects[] = {config.get(), outer.inner};
    // The scanner name of thread `t`: torn or mixed-up names cannot pass for another thread's.
    auto scanner = [](int t) { return "Scanner " + std::string(size_t(t) + 1, char('a' + t)); };
    for (int burst = 0; burst < 20; ++burst) {
        std::atomic<bool> stop = false;
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] {
            if (t == 7) Sleep(30), stop = true;
            while (!stop) {
                for (int i = 0; i < 10; ++i) objects[t % 2]->AddRef(), objects[t % 2]->Release();
                config->SetActiveHardware(GUID{DWORD(t), 0, 0, {}}, scanner(t).data());
            }
        });
        for (std::thread& thread : threads) thread.join();
        _KSCONFIG* active = nullptr;
        ASSERT_TRUE(config->SetActiveConfig(-1) == S_OK && config->GetActiveConfig(&active) == S_OK);  // a new one
        active->flags = KSCNFGFLAG_SAVE;
        const int guidOf = static_cast<int>(active->hwguid.Data1 & 7);
        ASSERT_EQ(config->StoreActiveConfig(), S_OK);
        EXPECT_EQ(SubkeyNames(kRoot), std::vector<std::string>{scanner(guidOf)}) << "burst " << burst;
        DeleteKeyTree(kRoot);
    }
    EXPECT_EQ(config->AddRef(), 2u);
    config->Release();
    EXPECT_EQ(outer.inner->Release(), 0u);
}

}  // namespace
}  // namespace kstest
