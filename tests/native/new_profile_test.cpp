#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "profiles/pure/new_profile.h"

namespace ks {
namespace {

TEST(NewProfileTest, CandidateSkipsEveryTakenNameInTurn) {
    const std::pair<std::set<std::string>, const char*> cases[] = {
        {{"*base*", "Base"}, "*Base*"},  // case-sensitive, and only the key-style form counts
        {{"*Base*"}, "*Base0*"},
        {{"*Base0*", "*Base1*"}, "*Base*"},  // numbers only once the plain name is taken
        {{"*Base*", "*Base0*", "*Base1*", "*Base2*", "*Base3*", "*Base4*", "*Base5*", "*Base6*", "*Base7*", "*Base8*",
          "*Base9*"},
         "*Base10*"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FreeNameCandidate("Base", [&](const std::string& n) { return c.first.count(n) != 0; }), c.second);
    }
    EXPECT_EQ(DisplayNameOf("*Base10*"), "Base10");
    EXPECT_EQ(DisplayNameOf(FreeNameCandidate("a*b", [](const std::string&) { return false; })), "ab");
}

TEST(NewProfileTest, PageSizeIsComputedInSigned32BitArithmetic) {
    const std::int32_t cases[][3] = {
        {8500, 100, 85000}, {-1, 3, -333} /* toward zero */, {1, -3, -333}, {850, 0, 0} /* no resolution */,
        {2147484, 1, -2147483296},  // 2147484000 wraps past INT32_MAX
        {INT32_MIN, 1, 0},          // INT32_MIN * 1000 wraps to 0
        {268435456, 1, INT32_MIN},  // 2^28 * 1000 wraps to exactly INT32_MIN...
        {268435456, -1, 0},         // ...whose negation does not fit
    };
    for (const auto& [extent, resolution, expected] : cases) {
        EXPECT_EQ(PageThousandths(extent, resolution), expected) << extent << " / " << resolution;
    }
}

}  // namespace
}  // namespace ks
