// Lifetime of the module, its class factory and configuration objects.
#include "support/ks_test.h"

namespace kstest {
namespace {

class ObjectTest : public StoreTest {};

TEST_F(ObjectTest, LockCountFollowsObjectsFactoryReferencesAndLockServer) {
    ASSERT_EQ(Dll().canUnloadNow(), S_OK);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    config.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);

    Ref<IClassFactory> first = Factory(), second = Factory();
    EXPECT_EQ(first.get(), second.get()) << "the module caches one factory";
    second.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    first.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    EXPECT_EQ(Factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE) << "one LockServer(TRUE) still outstanding";
    Factory()->LockServer(FALSE);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, OnlyTheOneClassAndItsInterfacesAreServed) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(Dll().getClassObject(IID_IKeystrelConfig, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, nullptr), E_POINTER);

    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IUnknown> unknown;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(config.get()));
    for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_IClassFactory}) {
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(config->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(config->QueryInterface(IID_IKeystrelConfig, nullptr), E_POINTER);
    EXPECT_EQ(config->AddRef(), 3u);  // config, unknown, this one
    EXPECT_EQ(config->Release(), 2u);
}

TEST_F(ObjectTest, CreateInstanceFailuresLeaveNoObjectButStillRunBothSteps) {
    Ref<IClassFactory> factory = Factory();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKeystrelConfig, nullptr), E_POINTER);
    // Root missing, backup present: creation restores the root though the query fails, and the
    // immediate teardown takes a backup of it.
    SetDword(kBackup, "FromBackup", 7);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetDword(kRoot, "FromBackup"), 7u);
    SetDword(kRoot, "OnlyInRoot", 9);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISupportErrorInfo, &out), E_NOINTERFACE);
    EXPECT_EQ(GetDword(kBackup, "OnlyInRoot"), 9u);
    factory.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

// An outer object that counts the references its inner object forwards to it.
struct Outer : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!IsEqualIID(riid, IID_IUnknown))
            return inner ? inner->QueryInterface(riid, out) : (*out = nullptr, E_NOINTERFACE);
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    ULONG count = 1;
    IUnknown* inner = nullptr;
};

TEST_F(ObjectTest, AggregatedObjectDelegatesToItsOuterObject) {
    Ref<IClassFactory> factory = Factory();
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IKeystrelConfig, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    SetDword(kBackup, "Restored", 1);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(GetDword(kRoot, "Restored"), 1u) << "ensure-root runs for aggregated objects too";
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
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(GetDword(kBackup, "Later"), 2u) << "destroying the aggregate runs the backup step";
    factory.reset();
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

}  // namespace
}  // namespace kstest
