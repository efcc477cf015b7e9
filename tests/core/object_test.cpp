// Lifetime of the module, its class factory and configuration objects.
#include "support/ks_test.h"

namespace kstest {
namespace {

class ObjectTest : public StoreTest {};

TEST_F(ObjectTest, LockCountFollowsObjectsFactoryReferencesAndLockServer) {
    ASSERT_EQ(Dll().canUnloadNow(), S_OK);
    {
        Ref<IKeystrelConfig> config = NewConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);

    Ref<IClassFactory> first = Factory();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    Ref<IClassFactory> second = Factory();
    EXPECT_EQ(first.get(), second.get()) << "the module caches one factory";
    second.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    first.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    Ref<IClassFactory> again = Factory();
    EXPECT_EQ(again->LockServer(FALSE), S_OK);
    again.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE) << "one LockServer(TRUE) still outstanding";
    Factory()->LockServer(FALSE);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, GetClassObjectRejectsOtherClassesAndInterfaces) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(Dll().getClassObject(IID_IKeystrelConfig, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, nullptr), E_POINTER);
    Ref<IUnknown> unknown;
    EXPECT_EQ(Dll().getClassObject(CLSID_KeystrelConfig, IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_NE(unknown.get(), nullptr);
    unknown.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, ObjectAnswersOnlyItsTwoInterfaces) {
    Ref<IKeystrelConfig> config = NewConfig();
    Ref<IUnknown> unknown;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(config.get()));
    for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_IClassFactory}) {
        void* out = reinterpret_cast<void*>(1);
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

    // Settings root missing, backup present: creation restores the root even though the query
    // fails, and the immediate teardown takes a backup of it.
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

// A minimal outer object that counts the references its inner object forwards to it.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        if (inner_) return inner_->QueryInterface(riid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    ULONG count = 1;
    IUnknown* inner_ = nullptr;
};

TEST_F(ObjectTest, AggregatedObjectDelegatesToItsOuterObject) {
    Ref<IClassFactory> factory = Factory();
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IKeystrelConfig, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    SetDword(kBackup, "Restored", 1);
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    EXPECT_EQ(GetDword(kRoot, "Restored"), 1u) << "ensure-root runs for aggregated objects too";
    EXPECT_EQ(outer.count, 1u) << "the inner IUnknown keeps its own count";
    outer.inner_ = inner;

    IKeystrelConfig* config = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IKeystrelConfig, reinterpret_cast<void**>(&config)), S_OK);
    EXPECT_EQ(outer.count, 2u) << "the interface's AddRef reached the outer object";
    config->AddRef();
    EXPECT_EQ(outer.count, 3u);
    IUnknown* viaInterface = nullptr;
    ASSERT_EQ(config->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaInterface)), S_OK);
    EXPECT_EQ(viaInterface, &outer) << "identity is the outer object's";
    viaInterface->Release();
    config->Release();
    config->Release();
    EXPECT_EQ(outer.count, 1u);

    SetDword(kRoot, "Later", 2);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(GetDword(kBackup, "Later"), 2u) << "destroying the aggregate runs the backup step";
    factory.reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

TEST_F(ObjectTest, StubMethodsTouchNothing) {
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
    EXPECT_EQ(text, reinterpret_cast<BSTR>(0x1234));
    EXPECT_EQ(number, 0xDEADBEEFu);
    EXPECT_EQ(block, reinterpret_cast<unsigned char*>(0x5678));
    EXPECT_EQ(size, -5);
    EXPECT_FALSE(KeyExists(kRoot));

    GUID guid = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(config->SetActiveHardware(guid, const_cast<LPSTR>("Scanner")), S_OK);
    EXPECT_EQ(config->SetActiveHardware(guid, nullptr), S_OK);
    EXPECT_FALSE(KeyExists(kRoot)) << "SetActiveHardware touches no key";
}

}  // namespace
}  // namespace kstest
