// The settings root, its backup tree and the restore between them.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <functional>
#include <thread>
#include <utility>

#include "support/ks_test.h"

namespace kstest {
namespace {

const std::wstring kWideRoot = L"Software\\Stellwick\\Keystrel 4.0\\";
const std::wstring kWideBackup = L"Software\\Stellwick Backup\\";

std::vector<BYTE> WideBytes(const wchar_t* text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + (std::wcslen(text) + 1) * sizeof(wchar_t));
}

void SetWide(const std::wstring& path, const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}

// Type and bytes of a value, read through the wide call; type 0 and no bytes when absent.
std::pair<DWORD, std::vector<BYTE>> GetWide(const std::wstring& path, const wchar_t* name) {
    std::pair<DWORD, std::vector<BYTE>> value(0, std::vector<BYTE>(4096));
    HKEY key = nullptr;
    DWORD size = static_cast<DWORD>(value.second.size());
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    if (RegQueryValueExW(key, name, nullptr, &value.first, value.second.data(), &size) != ERROR_SUCCESS) value = {};
    value.second.resize(value.first == 0 ? 0 : size);
    RegCloseKey(key);
    return value;
}

// A chain of `levels` keys named "d" below `path`, and the length of such a chain.
void MakeChain(const std::string& path, int levels) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    for (int i = 0; i < levels; ++i) {
        HKEY child = nullptr;
        LONG error = RegCreateKeyExA(key, "d", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
        RegCloseKey(key);
        ASSERT_EQ(error, ERROR_SUCCESS) << "level " << i;
        key = child;
    }
    RegCloseKey(key);
}

int ChainDepth(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    int depth = 0;
    for (HKEY child = nullptr; RegOpenKeyExA(key, "d", 0, KEY_READ, &child) == ERROR_SUCCESS; ++depth) {
        RegCloseKey(key);
        key = child;
    }
    RegCloseKey(key);
    return depth;
}

constexpr DWORD kReturned = 0x600D;

DWORD WINAPI LittleStackThread(void* context) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MEMORY_BASIC_INFORMATION stack{};
    VirtualQuery(&stack, &stack, sizeof(stack));
    const auto left = reinterpret_cast<ULONG_PTR>(&stack) - reinterpret_cast<ULONG_PTR>(stack.AllocationBase);
    volatile char* spent = static_cast<char*>(alloca(left - 64 * 1024));
    spent[0] = 0;
    (*static_cast<const std::function<void()>*>(context))();
    CoUninitialize();
    return kReturned;
}

// Runs `call` on a new thread after using up all but 64 KB of its stack, and returns the thread's
// exit code: kReturned when the call came back (Wine ends a thread that overflows without a word).
DWORD WithLittleStack(const std::function<void()>& call) {
    HANDLE thread = CreateThread(nullptr, 1 << 20, LittleStackThread, const_cast<std::function<void()>*>(&call),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) return GetLastError();
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

class SettingsTreeTest : public StoreTest {
protected:
    // Every registry type the store writes, at several depths; names and values at and past the copy
    // buffers (259 characters, 1040 bytes), with values on both sides: none may end the value phase.
    static void FillSample(const std::string& top) {
        std::vector<BYTE> huge(70000);
        for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<BYTE>(i * 7);
        const std::string key = top + "\\Scanner A\\CalibrationProfiles";
        SetValue(key, "A before", REG_DWORD, "\1\0\0\0", 4);
        SetValue(key, std::string(259, 'n').c_str(), REG_BINARY, huge.data(), 1040);
        SetValue(key, std::string(300, 'm').c_str(), REG_SZ, "x", 2);
        SetValue(key, "Gamma - 2", REG_BINARY, huge.data(), static_cast<DWORD>(huge.size()));
        SetValue(key, "Z after", REG_DWORD, "\2\0\0\0", 4);
        SetString(top, "Top", "top text");
        SetValue(top + "\\Scanner A\\ScanProfiles\\*P1*\\Deep\\Deeper", "", REG_EXPAND_SZ, "%X%", 4);
        CreateKeyPath(top + "\\Empty key");
    }
};

TEST_F(SettingsTreeTest, CreationRestoresOnlyAMissingRootFromTheBackupAtEveryDepthWithTypes) {
    NewConfig();  // created and released
    EXPECT_FALSE(KeyExists(kRoot)) << "with both trees missing neither is created";
    EXPECT_FALSE(KeyExists(kBackup));
    FillSample(kBackup);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    DeleteKeyTree(kRoot);
    SetDword(kRoot, "Only", 1);
    Ref<IKeystrelConfig> second = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), std::vector<std::string>{"|Only|4|01000000"}) << "a present root is left alone";
}

TEST_F(SettingsTreeTest, EveryReleaseMergesTheRootIntoTheBackupWithoutDeletingExtraKeys) {
    FillSample(kRoot);
    SetDword(kBackup, "Top", 99);  // overwritten, its type changing to REG_SZ (checked below)
    SetString(std::string(kBackup) + "\\Old scanner", "Keep", "me");
    Ref<IKeystrelConfig> first = NewConfig(), second = NewConfig();
    first.reset();
    EXPECT_EQ(GetString(std::string(kBackup) + "\\Old scanner", "Keep"), "me");
    const auto backup = DumpTree(kBackup);
    for (const std::string& line : DumpTree(kRoot))
        EXPECT_NE(std::find(backup.begin(), backup.end(), line), backup.end()) << line.substr(0, 80);
    SetDword(kRoot, "N", 2);
    second.reset();
    EXPECT_EQ(GetDword(kBackup, "N"), 2u) << "not only the last object takes a backup";
}

// Texts of other components that no 8-bit code page holds: backup and rebuilt root keep them byte for byte.
TEST_F(SettingsTreeTest, BackupAndRestoreCopyNamesAndDataByteForByte) {
    const BYTE odd[] = {'a', 0, 'b', 0, 'c'};
    struct Row { const wchar_t* key; const wchar_t* name; DWORD type; std::vector<BYTE> data; };
    const std::vector<Row> rows = {
        {L"LinkProfiles", L"Path", REG_SZ, WideBytes(L"C:\\Users\\\u5f20\u4e09\\\u6587\u6863")},
        {L"LinkProfiles", L"Title \u00e9\u4e2d", REG_SZ, WideBytes(L"x")},
        {L"LinkProfiles", L"Odd", REG_SZ, std::vector<BYTE>(odd, odd + sizeof(odd))},
        {L"LinkProfiles\\\u7528\u6237 \u5f20\u4e09", L"", REG_DWORD, {1, 0, 0, 0}},
    };
    for (const Row& row : rows) SetWide(kWideRoot + row.key, row.name, row.type, row.data);
    NewConfig();  // released: the backup is taken
    DeleteKeyTree(kRoot);
    NewConfig();  // the root is rebuilt from the backup
    for (const std::wstring& tree : {kWideBackup, kWideRoot}) {
        for (const Row& row : rows) EXPECT_EQ(GetWide(tree + row.key, row.name), std::pair(row.type, row.data));
    }
}

// A host thread may have little stack left: a tree as deep as the registry allows is backed up,
// restored and deleted on a thread with 64 KB of stack left.
TEST_F(SettingsTreeTest, DeepTreesAreCopiedAndDeletedWithLittleStackLeft) {
    const std::string below = "\\Scanner\\ScanProfiles\\*Deep*";
    constexpr int kLevels = 506;  // 512 levels below the hive's top
    SetDword(kRoot + below, "Flags", KSCNFGFLAG_SHOWALL);
    MakeChain(kRoot + below, kLevels);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_EQ(WithLittleStack([&] { config.reset(); }), kReturned) << "release (backup)";
    EXPECT_EQ(ChainDepth(kBackup + below), kLevels);
    DeleteKeyTree(kRoot);
    EXPECT_EQ(WithLittleStack([&] { config = NewConfig(); }), kReturned) << "creation (restore)";
    EXPECT_EQ(ChainDepth(kRoot + below), kLevels);
    Bstr scanner("Scanner");
    LONG count = 0;
    ASSERT_EQ(config->SetActiveHardware(GUID{}, const_cast<LPSTR>("Scanner")), S_OK);
    ASSERT_EQ(config->LoadConfigInfo(scanner.get(), KSCNFGFLAG_ALL, &count), S_OK);
    ASSERT_EQ(count, 1);
    HRESULT deleted = E_FAIL;
    EXPECT_EQ(WithLittleStack([&] { deleted = config->DeleteConfigInfo(0); }), kReturned) << "DeleteConfigInfo";
    EXPECT_EQ(deleted, S_OK);
    EXPECT_FALSE(KeyExists(kRoot + below));
}

// The rebuild of a missing root from a large backup races a client that stores a profile as soon as
// the root appears: the rebuild never overwrites what that client stored.
TEST_F(SettingsTreeTest, RebuildNeverOverwritesWhatAnotherClientStoresIntoTheNewRoot) {
    for (int k = 0; k < 300; ++k) {  // copied before the scanner's key, which enumerates last
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kBackup) + "\\Filler\\K" + std::to_string(k)).c_str(),
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
        for (DWORD v = 0; v < 8; ++v) RegSetValueExA(key, ("V" + std::to_string(v)).c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
        RegCloseKey(key);
    }
    const std::string profile = "\\Zz Scanner\\ScanProfiles\\*P*";
    SetString(kBackup + profile, "Name", "from the backup");
    std::atomic<bool> rebuilt = false;
    Ref<IKeystrelConfig> storing;  // released only after the check: its backup would blur the result
    std::thread client([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (!rebuilt && !KeyExists(kRoot)) {}
        _KSCONFIG record{};
        std::strcpy(record.keyname, "*P*");
        std::strcpy(record.name, "stored later");
        storing = NewConfig();
        EXPECT_EQ(storing->StoreConfigInfo(Bstr("Zz Scanner").get(), &record), S_OK);
        CoUninitialize();
    });
    Ref<IKeystrelConfig> rebuilding = NewConfig();
    rebuilt = true;
    client.join();
    EXPECT_EQ(GetString(kRoot + profile, "Name"), "stored later");
    EXPECT_EQ(GetDword(RootPath("Filler\\K299"), "V7"), 7u) << "the rest of the backup is restored";
}

}  // namespace
}  // namespace kstest
