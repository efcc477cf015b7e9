// Allocation failures where nothing may escape: creating an object (its ensure-root step included)
// and its last Release (the backup step). The store is linked into this executable, so its
// allocations come to the operator new below, which refuses them once its grant is used up.
#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>

#include "core/config_object.h"
#include "core/module.h"
#include "support/ks_test.h"

// The replacements pair malloc with free; the compiler, seeing operator new freed, would object.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

static std::atomic<long> g_granted = LONG_MAX;  // allocations left before every further one is refused

// The library's nothrow and array forms call these.
void* operator new(std::size_t size) {
    void* block = g_granted.fetch_sub(1) > 0 ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace kstest {
namespace {

// Runs `call` with `allowed` allocations granted; true when one was refused.
template <class F>
bool Granting(long allowed, F&& call) {
    g_granted = allowed;
    ks::ScopeExit grantAll([] { g_granted = LONG_MAX; });  // also when an exception escapes the store
    call();
    return g_granted < 0;
}

class AllocationTest : public StoreTest {};

// Whichever allocation is refused, creation (what the class factory's CreateInstance runs) answers
// E_OUTOFMEMORY (no object) or S_OK with the root rebuilt as far as it got; once none is, the root
// is the backup's copy.
TEST_F(AllocationTest, CreationGivesOutOfMemoryOrAnObjectWhicheverAllocationFails) {
    SetString(std::string(kBackup) + "\\Scanner\\ScanProfiles\\P1", "Name", "restored");
    for (long allowed = 0, refused = true; refused; ++allowed) {
        DeleteKeyTree(kRoot);
        Ref<IKeystrelConfig> config;
        HRESULT hr = E_FAIL;
        auto create = [&] { hr = ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config.put_void()); };
        refused = Granting(allowed, create);
        EXPECT_EQ(hr, allowed == 0 ? E_OUTOFMEMORY : S_OK) << allowed << " allocations granted";
    }
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
}

// The last Release of a plain or an aggregated object that cannot allocate skips the backup and
// still destroys the object.
TEST_F(AllocationTest, LastReleaseThatCannotAllocateSkipsTheBackup) {
    SetDword(RootPath("Scanner"), "Value", 1);
    Outer outer;
    for (IUnknown* aggregator : std::initializer_list<IUnknown*>{nullptr, &outer}) {
        IUnknown* object = nullptr;
        ASSERT_EQ(ks::CreateConfigObject(aggregator, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
        EXPECT_TRUE(Granting(0, [&] { EXPECT_EQ(object->Release(), 0u); }));
        EXPECT_FALSE(GetDword(std::string(kBackup) + "\\Scanner", "Value")) << (aggregator ? "aggregated" : "plain");
        EXPECT_EQ(ks::g_module.LockCount(), 0) << "the object is gone all the same";
    }
}

}  // namespace
}  // namespace kstest
