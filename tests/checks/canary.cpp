// Faults that the test builds' runtime checks must stop, one per test, each run on its own by
// checks_test.sh through wine.sh --gtest, which must fail it. If one of them passes, a check is
// no longer in force: a build flag, the Wine prefix's heap setting or wine.sh's reading of the
// output has changed. Not part of the suite's own tests: every test here is meant to fail.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// Values the compiler cannot see through, so that the faults happen at run time (and, for the
// overruns, so that UBSan's object-size check cannot stop them before the heap check sees them).
volatile int gOne = 1;
volatile std::size_t gIndex = 3;
char* volatile gBlock = nullptr;

TEST(Canary, SignedOverflowTraps) {
    int big = INT_MAX;
    big += gOne;
    EXPECT_NE(big, 0);
}

TEST(Canary, IndexPastTheEndAborts) {
    std::vector<int> three(3);
    EXPECT_EQ(three[gIndex], 0);
}

TEST(Canary, OneByteOverrunOfANewBlockIsReported) {
    gBlock = new char[13];
    gBlock[12 + gOne] = 'x';
    delete[] gBlock;
}

TEST(Canary, OneByteOverrunOfAHeapAllocBlockIsReported) {
    gBlock = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 13));
    ASSERT_NE(gBlock, nullptr);
    gBlock[12 + gOne] = 'x';
    HeapFree(GetProcessHeap(), 0, gBlock);
}

TEST(Canary, SkipsItself) { GTEST_SKIP() << "a test that cannot run reports it"; }

TEST(Canary, Passes) { SUCCEED(); }

}  // namespace
