// The platform does not tell a write of the same bytes from no write, so the tree copy's writes
// are watched through its seam. This executable links the store itself to reach it.
#include <utility>

#include "core/config_object.h"
#include "core/module.h"
#include "core/settings_tree.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

int g_writes = 0;
bool g_failNext = false;

LSTATUS WINAPI CountingWrite(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    ++g_writes;
    if (std::exchange(g_failNext, false)) return ERROR_ACCESS_DENIED;
    return RegSetValueExW(key, name, reserved, type, data, size);
}

class BackupSkipTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ks::g_module.SetInstance(GetModuleHandle(nullptr));
        ks::g_copyValueWrite = CountingWrite;
    }
    void TearDown() override {
        ks::g_copyValueWrite = RegSetValueExW;
        StoreTest::TearDown();
    }
    // Writes made by creating and releasing one object of the linked store.
    static int ReleaseWrites() {
        Ref<IKeystrelConfig> config;
        EXPECT_EQ(ks::CreateConfigObject(nullptr, IID_IKeystrelConfig, config.put_void()), S_OK);
        g_writes = 0;
        config.reset();
        return g_writes;
    }
};

TEST_F(BackupSkipTest, AReleaseCopiesNothingOnlyAfterACompleteCopyWithNothingChanged) {
    SetDword(kRoot, "A", 1);
    SetDword(std::string(kRoot) + "\\Scanner", "B", 2);
    EXPECT_EQ(ReleaseWrites(), 2) << "the first release copies";
    EXPECT_EQ(ReleaseWrites(), 0) << "nothing changed";
    SetDword(kRoot, "A", 3);
    EXPECT_EQ(ReleaseWrites(), 2) << "a changed root";
    EXPECT_EQ(GetDword(kBackup, "A"), 3u);
    g_failNext = true;
    SetDword(kRoot, "A", 4);
    EXPECT_EQ(ReleaseWrites(), 2);
    EXPECT_EQ(ReleaseWrites(), 2) << "a copy that failed a write is not complete";
    EXPECT_EQ(ReleaseWrites(), 0);
}

}  // namespace
}  // namespace kstest
