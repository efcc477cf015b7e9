// The platform does not tell a write of the same bytes from no write, so the tree copy's writes
// are counted through its seam. This executable links the store itself to reach it.
#include <utility>

#include "server/config_object.h"
#include "core/module.h"
#include "core/settings_tree.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

int g_writes = 0;
bool g_failNext = false;

LSTATUS WINAPI CountingWrite(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    ++g_writes;
    return std::exchange(g_failNext, false) ? ERROR_ACCESS_DENIED : RegSetValueExW(key, name, reserved, type, data, size);
}

// Writes made by creating and releasing one object of the linked store.
int ReleaseWrites() {
    Ref<IKeystrelConfig> config;
    EXPECT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config.put_void()), S_OK);
    g_writes = 0;
    config.reset();
    return g_writes;
}

TEST_F(StoreTest, AReleaseCopiesNothingOnlyAfterACompleteCopyWithNothingChanged) {
    ks::g_module.SetInstance(GetModuleHandle(nullptr));
    ks::g_copyValueWrite = CountingWrite;
    SetDword(kRoot, "A", 1);
    SetDword(std::string(kRoot) + "\\Scanner", "B", 2);
    EXPECT_EQ(ReleaseWrites(), 2) << "the first release copies";
    EXPECT_EQ(ReleaseWrites(), 0) << "nothing changed";
    SetDword(kRoot, "A", 3);
    g_failNext = true;
    EXPECT_EQ(ReleaseWrites(), 2) << "a changed root";
    EXPECT_EQ(ReleaseWrites(), 2) << "a copy that failed a write is not complete";
    EXPECT_EQ(GetDword(kBackup, "A"), 3u);
    EXPECT_EQ(ReleaseWrites(), 0);
    ks::g_copyValueWrite = RegSetValueExW;
}

}  // namespace
}  // namespace kstest
