// Allocation failures where nothing may escape: creating an object (its ensure-root step included)
// and its last Release (the backup step). The store is linked into this executable, so its
// allocations come to the operator new below, which refuses them once its grant is used up.
#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>

#include "server/config_object.h"
#include "core/module.h"
#include "support/ks_test.h"

static std::atomic<long> g_granted = LONG_MAX;  // allocations left before every further one is refused

// The library's other forms of new call this one, and its operator delete frees what malloc gave.
void* operator new(std::size_t size) {
    void* block = g_granted.fetch_sub(1) > 0 ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

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

// Whichever allocation is refused, creating a plain or an aggregated object (what the class
// factory's CreateInstance runs) gives E_OUTOFMEMORY and no object, or S_OK with the root rebuilt
// as far as it got; and a last Release that cannot allocate skips the backup but still destroys
// the object. Once nothing is refused, the root is rebuilt whole.
TEST_F(StoreTest, CreationAndLastReleaseThatCannotAllocateEndInAResultNotAnException) {
    SetString(std::string(kBackup) + "\\Scanner\\ScanProfiles\\P1", "Name", "restored");
    Outer outer;
    for (IUnknown* aggregator : std::initializer_list<IUnknown*>{nullptr, &outer}) {
        for (long allowed = 0, refused = true; refused; ++allowed) {
            DeleteKeyTree(kRoot);
            void* object = nullptr;
            HRESULT hr = E_FAIL;
            refused = Granting(allowed, [&] { hr = ks::CreateConfigObject(aggregator, IID_IUnknown, &object); });
            EXPECT_EQ(hr, allowed == 0 ? E_OUTOFMEMORY : S_OK) << allowed << " granted, aggregated: " << !!aggregator;
            SetString(RootPath("Scanner"), "Later", "not backed up");
            auto release = [&] { EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u); };
            EXPECT_TRUE(object == nullptr || Granting(0, release));
            EXPECT_EQ(GetString(std::string(kBackup) + "\\Scanner", "Later"), std::nullopt);
        }
        EXPECT_EQ(GetString(RootPath("Scanner\\ScanProfiles\\P1"), "Name"), "restored");
        EXPECT_EQ(ks::g_module.LockCount(), 0) << "no object is left, aggregated: " << !!aggregator;
    }
}

}  // namespace
}  // namespace kstest
