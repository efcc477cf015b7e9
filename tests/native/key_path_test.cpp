#include <gtest/gtest.h>

#include "core/pure/key_path.h"

namespace ks {
namespace {

TEST(KeyPathTest, DeviceKeyUsesTheNameExactlyAsGiven) {
    EXPECT_EQ(DeviceKeyPath("Scanner 9"), "Software\\Stellwick\\Keystrel 4.0\\Scanner 9");
    EXPECT_EQ(DeviceKeyPath(""), "Software\\Stellwick\\Keystrel 4.0\\");
    EXPECT_EQ(DeviceKeyPath(" a\\b "), "Software\\Stellwick\\Keystrel 4.0\\ a\\b ");
    EXPECT_EQ(JoinKey(DeviceKeyPath(""), "ScanProfiles"), "Software\\Stellwick\\Keystrel 4.0\\\\ScanProfiles");
}

}  // namespace
}  // namespace ks
