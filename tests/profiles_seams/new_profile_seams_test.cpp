// New profiles when the platform lets the store down: no resource string, no memory for the list.
#include <cstdlib>

#include "core/config_object.h"
#include "core/module.h"
#include "core/pure/growable_list.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

class NewProfileSeamsTest : public StoreTest {
protected:
    void TearDown() override {
        ks::g_listRealloc = saved_;
        ks::g_module.SetInstance(GetModuleHandle(nullptr));
        StoreTest::TearDown();
    }
    // An object of the store linked into this executable (so the seams apply to it), whose
    // resources are those of `module`.
    static Ref<IKeystrelConfig> Make(HMODULE module = GetModuleHandle(nullptr)) {
        ks::g_module.SetInstance(module);
        Ref<IKeystrelConfig> config;
        EXPECT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config.put_void()), S_OK);
        return config;
    }
    ks::ReallocFn saved_ = ks::g_listRealloc;
};

TEST_F(NewProfileSeamsTest, ListThatCannotGrowGivesOutOfMemoryAndNull) {
    Ref<IKeystrelConfig> config = Make();
    ks::g_listRealloc = [](void* block, std::size_t bytes) -> void* {
        if (bytes == 0) std::free(block);
        return nullptr;
    };
    _KSCONFIG* p = reinterpret_cast<_KSCONFIG*>(1);
    EXPECT_EQ(config->GetActiveConfig(&p), E_OUTOFMEMORY);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(config->StoreActiveConfig(), S_FALSE);
}

TEST_F(NewProfileSeamsTest, MissingResourceStringNamesTheProfileNull) {
    HMODULE noStrings = GetModuleHandleA("advapi32.dll");
    char probe[16];
    ASSERT_EQ(LoadStringA(noStrings, 2000, probe, sizeof(probe)), 0) << "needs a module without string 2000";
    Ref<IKeystrelConfig> config = Make(noStrings);
    _KSCONFIG* p = nullptr;
    ASSERT_EQ(config->GetActiveConfig(&p), S_OK);
    EXPECT_STREQ(p->name, "NULL");
}

}  // namespace
}  // namespace kstest
