#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "profiles/pure/new_profile.h"

namespace ks {
namespace {

TEST(NewProfileTest, CandidateSkipsEveryTakenNameInTurn) {
    struct Case {
        std::set<std::string> taken;
        const char* candidate;
        const char* display;
    } cases[] = {
        {{}, "*Base*", "Base"},
        {{"*base*", "Base"}, "*Base*", "Base"},  // case-sensitive, and only the key-style form counts
        {{"*Base*"}, "*Base0*", "Base0"},
        {{"*Base*", "*Base0*"}, "*Base1*", "Base1"},
        {{"*Base0*", "*Base1*"}, "*Base*", "Base"},  // numbers only once the plain name is taken
        {{"*Base*", "*Base0*", "*Base1*", "*Base2*", "*Base3*", "*Base4*", "*Base5*", "*Base6*", "*Base7*",
          "*Base8*", "*Base9*"},
         "*Base10*", "Base10"},
    };
    for (const Case& c : cases) {
        std::string got = FreeNameCandidate("Base", [&](const std::string& n) { return c.taken.count(n) != 0; });
        EXPECT_EQ(got, c.candidate);
        EXPECT_EQ(DisplayNameOf(got), c.display);
    }
    // Asterisks inside the base leave the display name too.
    EXPECT_EQ(DisplayNameOf(FreeNameCandidate("a*b", [](const std::string&) { return false; })), "ab");
}

TEST(NewProfileTest, PageSizeIsComputedInSigned32BitArithmetic) {
    struct Case {
        std::int32_t extent, resolution, expected;
    } cases[] = {
        {8500, 100, 85000},
        {1, 3, 333},               // truncated
        {-1, 3, -333},             // toward zero, not down
        {1, -3, -333},
        {850, 0, 0},               // no resolution: no page size
        {2147484, 1, -2147483296}, // 2147484000 wraps past INT32_MAX
        {4294968, 1, 704},         // 4294968000 wraps to 704
        {INT32_MIN, 1, 0},         // INT32_MIN * 1000 wraps to 0
        {-2147484, 1, 2147483296},
        {268435456, 1, INT32_MIN},  // 2^28 * 1000 wraps to exactly INT32_MIN...
        {268435456, -1, 0},         // ...whose negation does not fit
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PageThousandths(c.extent, c.resolution), c.expected) << c.extent << " / " << c.resolution;
    }
}

}  // namespace
}  // namespace ks
