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
    ks::ReallocFn saved_ = ks::g_listRealloc;
};

TEST_F(NewProfileSeamsTest, MissingResourceStringNamesTheProfileNullAndAFullListGivesOutOfMemory) {
    HMODULE noStrings = GetModuleHandleA("advapi32.dll");
    char probe[16];
    ASSERT_EQ(LoadStringA(noStrings, 2000, probe, sizeof(probe)), 0) << "needs a module without string 2000";
    // Objects of the store linked into this executable, so that the seams apply to them.
    ks::g_module.SetInstance(noStrings);
    Ref<IKeystrelConfig> named, starved;
    ASSERT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, named.put_void()), S_OK);
    ASSERT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, starved.put_void()), S_OK);
    _KSCONFIG* p = nullptr;
    ASSERT_EQ(named->GetActiveConfig(&p), S_OK);
    EXPECT_STREQ(p->name, "NULL");
    ks::g_listRealloc = [](void* block, std::size_t bytes) -> void* {
        if (bytes == 0) std::free(block);
        return nullptr;
    };
    p = reinterpret_cast<_KSCONFIG*>(1);
    EXPECT_EQ(starved->GetActiveConfig(&p), E_OUTOFMEMORY);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(starved->StoreActiveConfig(), S_FALSE);
}

}  // namespace
}  // namespace kstest
