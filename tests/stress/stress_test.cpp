// Several client processes store settings at once: nothing they stored may be lost, neither in
// the settings root nor, after a final release, in the backup tree.
#include "support/ks_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kstest {
namespace {

constexpr int kWorkers = 4;
constexpr int kRounds = 20;
constexpr const char* kHardware = "Stress Scanner";
constexpr const char* kWorkerFlag = "--stress-worker=";

_KSCONFIG ProfileOf(int worker, int round) {
    _KSCONFIG c{};
    std::snprintf(c.keyname, sizeof(c.keyname), "*W%d-R%d*", worker, round);
    std::snprintf(c.name, sizeof(c.name), "Worker %d round %d", worker, round);
    c.flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_IMAGES | KSCNFGFLAG_PDF);
    c.DataType = KSCNFGMODE_COLOR;
    c.Xresolution = 100 + worker;
    c.Yresolution = 200 + round;
    c.ToneMap.GreyGamma = worker * 1000 + round;
    std::snprintf(c.LinkConfig, sizeof(c.LinkConfig), "link-%d-%d", worker, round);
    std::snprintf(c.VRSConfig, sizeof(c.VRSConfig), "vrs-%d-%d", worker, round);
    return c;
}

_KSEVENT EventOf(int worker, int round) {
    _KSEVENT e{};
    std::snprintf(e.keyname, sizeof(e.keyname), "W%dE%d", worker, round);
    std::snprintf(e.name, sizeof(e.name), "Button %d", round);
    std::snprintf(e.config, sizeof(e.config), "*W%d-R%d*", worker, round);
    e.transfer = KSTRANSFER_PDF;
    e.JPGQuality = static_cast<unsigned long>(worker);
    e.PDFQuality = static_cast<unsigned long>(round);
    return e;
}

// The worker: every round is a fresh object, as the utility's programs make them.
int RunWorker(int worker) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Bstr hardware(kHardware);
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
        Ref<IKeystrelConfig> config = NewConfig();
        if (!config) return 10;
        _KSCONFIG profile = ProfileOf(worker, round);
        _KSEVENT event = EventOf(worker, round);
        if (config->StoreConfigInfo(hardware.get(), &profile) != S_OK) ++failures;
        if (config->StoreEventInfo(hardware.get(), &event) != S_OK) ++failures;
        if (config->UpdateCopyCount(hardware.get(), 1) != S_OK) ++failures;
        LONG count = 0;
        if (config->LoadConfigInfo(hardware.get(), KSCNFGFLAG_ALL, &count) != S_OK || count < 1) ++failures;
    }
    CoUninitialize();
    return failures == 0 ? 0 : 20;
}

// Worker processes are this executable started again with a flag; they never reach gtest.
const int g_workerHook = [] {
    const char* flag = std::strstr(GetCommandLineA(), kWorkerFlag);
    if (flag != nullptr) ExitProcess(static_cast<UINT>(RunWorker(std::atoi(flag + std::strlen(kWorkerFlag)))));
    return 0;
}();

class StressTest : public StoreTest {};

TEST_F(StressTest, ConcurrentClientsLoseNoStoredProfileOrEvent) {
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    PROCESS_INFORMATION processes[kWorkers] = {};
    for (int w = 0; w < kWorkers; ++w) {
        std::string command = std::string("\"") + self + "\" " + kWorkerFlag + std::to_string(w);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &processes[w]))
            << command;
    }
    // The rounds are bounded; the generous wait only absorbs a heavily loaded machine.
    for (auto& p : processes) {
        if (WaitForSingleObject(p.hProcess, 240000) != WAIT_OBJECT_0) {
            for (auto& q : processes) TerminateProcess(q.hProcess, 98);  // none may outlive the test
            FAIL() << "a worker did not finish";
        }
        DWORD code = 99;
        GetExitCodeProcess(p.hProcess, &code);
        EXPECT_EQ(code, 0u) << "a worker failed or crashed";
        CloseHandle(p.hProcess);
        CloseHandle(p.hThread);
    }

    // Every profile and event is in the settings root, read back field by field.
    Ref<IKeystrelConfig> config = NewConfig();
    Bstr hardware(kHardware);
    LONG count = 0;
    ASSERT_EQ(config->LoadConfigInfo(hardware.get(), KSCNFGFLAG_ALL, &count), S_OK);
    EXPECT_EQ(count, kWorkers * kRounds);
    for (int w = 0; w < kWorkers; ++w) {
        for (int r = 0; r < kRounds; ++r) {
            _KSCONFIG expected = ProfileOf(w, r);
            _KSCONFIG got{};
            ASSERT_EQ(config->GetConfigDetails(const_cast<LPSTR>(kHardware), expected.keyname, &got), S_OK)
                << expected.keyname;
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof(got)), 0) << expected.keyname;
            _KSEVENT expectedEvent = EventOf(w, r);
            _KSEVENT gotEvent{};
            ASSERT_EQ(config->GetEventDetails(const_cast<LPSTR>(kHardware), expectedEvent.keyname, &gotEvent), S_OK);
            EXPECT_EQ(std::memcmp(&gotEvent, &expectedEvent, sizeof(gotEvent)), 0) << expectedEvent.keyname;
        }
    }
    // Concurrent additions to the copy count may be lost, never invented.
    auto copies = GetDword(RootPath(kHardware), "CopyCount");
    ASSERT_TRUE(copies.has_value());
    EXPECT_GE(*copies, 1u);
    EXPECT_LE(*copies, static_cast<DWORD>(kWorkers * kRounds));

    // After one final release the backup holds the device tree byte for byte.
    config.reset();
    auto live = DumpTree(RootPath(kHardware));
    auto backup = DumpTree(std::string(kBackup) + "\\" + kHardware);
    EXPECT_EQ(backup, live);
}

}  // namespace
}  // namespace kstest
