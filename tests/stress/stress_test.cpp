// Client processes storing settings at once lose nothing, in the settings root or, after a final release, the backup.
#include "support/ks_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kstest {
namespace {

constexpr int kWorkers = 4, kRounds = 20;
constexpr const char* kHardware = "Stress Scanner";
constexpr const char* kWorkerFlag = "--stress-worker=";

// Fills zeroed records with the profile and the event a worker stores in a round, all distinct.
void RecordsOf(int worker, int round, _KSCONFIG* c, _KSEVENT* e) {
    std::snprintf(c->keyname, sizeof(c->keyname), "*W%d-R%d*", worker, round);
    std::snprintf(c->name, sizeof(c->name), "Worker %d round %d", worker, round);
    std::snprintf(c->LinkConfig, sizeof(c->LinkConfig), "link-%d-%d", worker, round);
    c->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_IMAGES | KSCNFGFLAG_PDF);
    c->Xresolution = 100 + worker;
    c->Yresolution = 200 + round;
    c->ToneMap.GreyGamma = worker * 1000 + round;
    std::snprintf(e->keyname, sizeof(e->keyname), "W%dE%d", worker, round);
    std::snprintf(e->name, sizeof(e->name), "Button %d", round);
    std::snprintf(e->config, sizeof(e->config), "*W%d-R%d*", worker, round);
    e->transfer = KSTRANSFER_PDF;
    e->JPGQuality = static_cast<unsigned long>(worker);
    e->PDFQuality = static_cast<unsigned long>(round);
}

// A worker is this executable started again with a flag and never reaches gtest; every round is a fresh object,
// as the utility's programs make them.
const int g_workerHook = [] {
    const char* flag = std::strstr(GetCommandLineA(), kWorkerFlag);
    if (flag == nullptr) return 0;
    const int worker = std::atoi(flag + std::strlen(kWorkerFlag));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Bstr hardware(kHardware);
    UINT failures = 0;
    for (int round = 0; round < kRounds; ++round) {
        Ref<IKeystrelConfig> config = NewConfig();
        _KSCONFIG profile{};
        _KSEVENT event{};
        RecordsOf(worker, round, &profile, &event);
        LONG count = 0;
        failures += !config || config->StoreConfigInfo(hardware.get(), &profile) != S_OK ||
                    config->StoreEventInfo(hardware.get(), &event) != S_OK ||
                    config->UpdateCopyCount(hardware.get(), 1) != S_OK ||
                    config->LoadConfigInfo(hardware.get(), KSCNFGFLAG_ALL, &count) != S_OK || count < 1;
    }
    CoUninitialize();
    ExitProcess(failures == 0 ? 0 : 20);
}();

TEST_F(StoreTest, ConcurrentClientsLoseNoStoredProfileOrEvent) {
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    PROCESS_INFORMATION processes[kWorkers] = {};
    for (int w = 0; w < kWorkers; ++w) {
        std::string command = std::string("\"") + self + "\" " + kWorkerFlag + std::to_string(w);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &processes[w])) << command;
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

    // Every profile and event is in the settings root, read back byte for byte.
    Ref<IKeystrelConfig> config = NewConfig();
    LONG count = 0;
    ASSERT_EQ(config->LoadConfigInfo(Bstr(kHardware).get(), KSCNFGFLAG_ALL, &count), S_OK);
    EXPECT_EQ(count, kWorkers * kRounds);
    for (int i = 0; i < kWorkers * kRounds; ++i) {
        _KSCONFIG expected{}, got{};
        _KSEVENT expectedEvent{}, gotEvent{};
        RecordsOf(i / kRounds, i % kRounds, &expected, &expectedEvent);
        ASSERT_EQ(config->GetConfigDetails(const_cast<LPSTR>(kHardware), expected.keyname, &got), S_OK) << i;
        ASSERT_EQ(config->GetEventDetails(const_cast<LPSTR>(kHardware), expectedEvent.keyname, &gotEvent), S_OK) << i;
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof(got)), 0) << expected.keyname;
        EXPECT_EQ(std::memcmp(&gotEvent, &expectedEvent, sizeof(gotEvent)), 0) << expectedEvent.keyname;
    }
    const auto copies = GetDword(RootPath(kHardware), "CopyCount");  // concurrent additions may be lost, not invented
    EXPECT_TRUE(copies && *copies >= 1u && *copies <= static_cast<DWORD>(kWorkers * kRounds)) << copies.value_or(0);

    // After one final release the backup holds the device tree byte for byte.
    config.reset();
    EXPECT_EQ(DumpTree(std::string(kBackup) + "\\" + kHardware), DumpTree(RootPath(kHardware)));
}

}  // namespace
}  // namespace kstest
