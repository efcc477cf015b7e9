#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "core/pure/growable_list.h"
#include "profiles/pure/new_profile.h"

namespace ks {
namespace {

struct Record { char text[12]; long number; };
std::string Show(const Record& r) { return r.text + std::to_string(r.number); }

int g_growthsLeft = 0;  // reallocations that succeed before one fails

void* FailingRealloc(void* block, std::size_t bytes) {
    if (bytes == 0) {
        std::free(block);
        return nullptr;
    }
    return g_growthsLeft-- > 0 ? std::realloc(block, bytes) : nullptr;
}

TEST(GrowableListTest, CapacityDoublesFromOneFailedGrowthDropsOnlyTheNewRecordAndBadIndexesTouchNothing) {
    const ReallocFn saved = std::exchange(g_listRealloc, &FailingRealloc);
    {
        GrowableList<Record> list;
        g_growthsLeft = 4;  // capacities 1, 2, 4 and 8 succeed, 16 fails
        for (long i = 0; i < 9; ++i) EXPECT_EQ(list.Append({{'r', char('0' + i)}, i}), i < 8);
        EXPECT_EQ(std::pair(list.Count(), list.Capacity()), std::pair(8L, 8L));
        const Record sentinel{"sentinel", 77};
        Record out = sentinel;
        for (long index : {-1L, 8L}) EXPECT_FALSE(list.CopyOut(index, &out) || list.Replace(index, {"x", 5})) << index;
        EXPECT_EQ(std::memcmp(&out, &sentinel, sizeof(out)), 0);
        EXPECT_TRUE(list.CopyOut(7, &out));
        EXPECT_EQ(Show(out), "r77");  // copied whole
        EXPECT_TRUE(list.Replace(0, {"b", 4}) && list.CopyOut(0, &out));
        EXPECT_EQ(Show(out), "b4");
        list.Clear();
        EXPECT_TRUE(list.Count() == 0 && list.Capacity() == 0 && !list.CopyOut(0, &out));
    }
    g_listRealloc = saved;
}

TEST(NewProfileTest, CandidateSkipsEveryTakenNameInTurn) {
    // Case-sensitive, only the key-style form counts, and numbers only once the plain name is taken.
    const std::pair<std::set<std::string>, const char*> cases[] = {
        {{"*base*", "Base"}, "*Base*"}, {{"*Base*"}, "*Base0*"}, {{"*Base0*", "*Base1*"}, "*Base*"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FreeNameCandidate("Base", [&](const std::string& n) { return c.first.count(n) != 0; }), c.second);
    }
    EXPECT_EQ(FreeNameCandidate("Base", [](const std::string& n) { return n != "*Base10*"; }), "*Base10*");
    EXPECT_EQ(DisplayNameOf(FreeNameCandidate("a*b", [](const std::string&) { return false; })), "ab");
}

TEST(NewProfileTest, PageSizeIsComputedInSigned32BitArithmetic) {
    // Toward zero; 0 without resolution; 2147484000 wraps past INT32_MAX, INT32_MIN * 1000 to 0, 2^28 * 1000 to
    // exactly INT32_MIN, whose negation does not fit.
    const std::int32_t cases[][3] = {{8500, 100, 85000}, {-1, 3, -333}, {1, -3, -333}, {850, 0, 0},
                                     {2147484, 1, -2147483296}, {INT32_MIN, 1, 0}, {268435456, 1, INT32_MIN},
                                     {268435456, -1, 0}};
    for (const auto& [extent, resolution, page] : cases) {
        EXPECT_EQ(PageThousandths(extent, resolution), page) << extent << " / " << resolution;
    }
}

}  // namespace
}  // namespace ks
