#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/pure/growable_list.h"

namespace ks {
namespace {

struct Record {
    char text[12];
    long number;
};

int g_failAfter = -1;  // growth attempts left before reallocation fails; -1 never fails
std::vector<size_t> g_requests;

void* CountingRealloc(void* block, std::size_t bytes) {
    if (bytes == 0) {
        std::free(block);
        return nullptr;
    }
    g_requests.push_back(bytes);
    if (g_failAfter == 0) return nullptr;
    if (g_failAfter > 0) --g_failAfter;
    return std::realloc(block, bytes);
}

class GrowableListTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_listRealloc;
        g_listRealloc = &CountingRealloc;
        g_failAfter = -1;
        g_requests.clear();
    }
    void TearDown() override { g_listRealloc = saved_; }
    ReallocFn saved_ = nullptr;
};

Record Make(long n) {
    Record r{};
    std::snprintf(r.text, sizeof(r.text), "rec%ld", n);
    r.number = n;
    return r;
}

TEST_F(GrowableListTest, CapacityDoublesFromOneAndRecordsCopyWhole) {
    GrowableList<Record> list;
    for (long i = 0; i < 9; ++i) ASSERT_TRUE(list.Append(Make(i)));
    EXPECT_EQ(list.Count(), 9);
    EXPECT_EQ(list.Capacity(), 16);
    std::vector<size_t> expected;
    for (size_t c : {1, 2, 4, 8, 16}) expected.push_back(c * sizeof(Record));
    EXPECT_EQ(g_requests, expected);
    Record out{};
    ASSERT_TRUE(list.CopyOut(8, &out));
    EXPECT_STREQ(out.text, "rec8");
    EXPECT_EQ(out.number, 8);
}

TEST_F(GrowableListTest, FailedGrowthDropsTheElementAndKeepsTheList) {
    GrowableList<Record> list;
    g_failAfter = 2;  // capacities 1 and 2 succeed, 4 fails
    EXPECT_TRUE(list.Append(Make(0)));
    EXPECT_TRUE(list.Append(Make(1)));
    EXPECT_FALSE(list.Append(Make(2)));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Capacity(), 2);
    Record out{};
    ASSERT_TRUE(list.CopyOut(1, &out));
    EXPECT_EQ(out.number, 1);
}

TEST_F(GrowableListTest, InvalidIndexesLeaveTheDestinationUntouched) {
    GrowableList<Record> list;
    Record sentinel = Make(77);
    Record out = sentinel;
    for (long index : {-1L, 0L, 1L}) {
        EXPECT_FALSE(list.CopyOut(index, &out));
        EXPECT_FALSE(list.Replace(index, Make(5)));
    }
    EXPECT_EQ(std::memcmp(&out, &sentinel, sizeof(out)), 0);
    list.Append(Make(3));
    EXPECT_FALSE(list.CopyOut(1, &out));
    EXPECT_TRUE(list.Replace(0, Make(4)));
    EXPECT_TRUE(list.CopyOut(0, &out));
    EXPECT_EQ(out.number, 4);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_FALSE(list.CopyOut(0, &out));
}

}  // namespace
}  // namespace ks
