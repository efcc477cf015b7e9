#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/pure/growable_list.h"
#include "core/pure/key_path.h"

namespace ks {
namespace {

struct Record {
    char text[12];
    long number;
};

int g_growthsLeft = 0;  // reallocations that succeed before one fails
std::vector<size_t> g_requests;

void* FailingRealloc(void* block, std::size_t bytes) {
    if (bytes == 0) return std::free(block), nullptr;
    g_requests.push_back(bytes);
    return g_growthsLeft-- > 0 ? std::realloc(block, bytes) : nullptr;
}

TEST(GrowableListTest, CapacityDoublesFromOneAndFailedGrowthDropsOnlyTheNewRecord) {
    const ReallocFn saved = std::exchange(g_listRealloc, &FailingRealloc);
    {
        GrowableList<Record> list;
        g_growthsLeft = 4;  // capacities 1, 2, 4 and 8 succeed, 16 fails
        for (long i = 0; i < 9; ++i) EXPECT_EQ(list.Append({{'r', char('0' + i)}, i}), i < 8);
        EXPECT_EQ(list.Count(), 8);
        EXPECT_EQ(list.Capacity(), 8);
        Record out{};
        EXPECT_TRUE(list.CopyOut(7, &out));
        EXPECT_EQ(std::string(out.text) + std::to_string(out.number), "r77");  // copied whole
    }
    g_listRealloc = saved;
    const size_t r = sizeof(Record);
    EXPECT_EQ(g_requests, (std::vector<size_t>{r, 2 * r, 4 * r, 8 * r, 16 * r}));
}

TEST(GrowableListTest, InvalidIndexesAreRefusedAndLeaveTheDestinationUntouched) {
    GrowableList<Record> list;
    list.Append({"a", 3});
    const Record sentinel{"sentinel", 77};
    Record out = sentinel;
    for (long index : {-1L, 1L}) {
        EXPECT_FALSE(list.CopyOut(index, &out));
        EXPECT_FALSE(list.Replace(index, {"x", 5}));
    }
    EXPECT_EQ(std::memcmp(&out, &sentinel, sizeof(out)), 0);
    EXPECT_TRUE(list.Replace(0, {"b", 4}));
    EXPECT_TRUE(list.CopyOut(0, &out));
    EXPECT_EQ(std::string(out.text) + std::to_string(out.number), "b4");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_FALSE(list.CopyOut(0, &out));
}

TEST(KeyPathTest, DeviceKeyUsesTheNameExactlyAsGiven) {
    EXPECT_EQ(DeviceKeyPath(" a\\b "), "Software\\Stellwick\\Keystrel 4.0\\ a\\b ");
    EXPECT_EQ(JoinKey(DeviceKeyPath(""), "ScanProfiles"), "Software\\Stellwick\\Keystrel 4.0\\\\ScanProfiles");
}

}  // namespace
}  // namespace ks
