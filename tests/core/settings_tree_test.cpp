// The settings root, its backup tree and the restore between them.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include "core/registry_io.h"
#include "support/ks_test.h"

namespace kstest {
namespace {

const std::wstring kWideRoot = L"Software\\Stellwick\\Keystrel 4.0\\";
const std::wstring kWideBackup = L"Software\\Stellwick Backup\\";

std::vector<BYTE> WideBytes(const wchar_t* text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + (std::wcslen(text) + 1) * sizeof(wchar_t));
}

// Type and bytes of a value, read through the wide call; type 0 and no bytes when absent.
std::pair<DWORD, std::vector<BYTE>> GetWide(const std::wstring& path, const wchar_t* name) {
    std::pair<DWORD, std::vector<BYTE>> value(0, std::vector<BYTE>(4096));
    DWORD size = static_cast<DWORD>(value.second.size());
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.first,
                     value.second.data(), &size) != ERROR_SUCCESS) return {};
    value.second.resize(size);
    return value;
}

// Follows the chain of keys named "d" below `path`, creating the levels missing up to `levels`:
// its length, or -1 when `path` is missing. One level at a time, as the paths grow too long to name.
int Chain(const std::string& path, int levels = 0) {
    ks::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return -1;
    int depth = 0;
    for (HKEY child = nullptr;; key.reset(child), ++depth) {
        const LONG error =
            depth < levels ? RegCreateKeyExA(key.get(), "d", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr)
                           : RegOpenKeyExA(key.get(), "d", 0, KEY_READ, &child);
        if (error != ERROR_SUCCESS) return depth;
    }
}

// Runs `call` on a thread after using up all but 64 KB of its stack; false when the call never came
// back (Wine ends a thread that overflows without a word).
bool WithLittleStack(const std::function<void()>& call) {
    bool returned = false;
    std::thread([&] {
        MEMORY_BASIC_INFORMATION stack{};
        VirtualQuery(&stack, &stack, sizeof(stack));
        const auto left = reinterpret_cast<ULONG_PTR>(&stack) - reinterpret_cast<ULONG_PTR>(stack.AllocationBase);
        static_cast<volatile char*>(alloca(left - 64 * 1024))[0] = 0;
        call();
        returned = true;
    }).join();
    return returned;
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
        // A text without its terminator (the platform adds one when the character after the data is
        // NUL, so one that is not follows it): copied as it is.
        ks::UniqueHKey open;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, open.put()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(open.get(), L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"ab#"), 4),
                  ERROR_SUCCESS);
    }
};

// Creation restores a missing root from the backup, every release merges the root into the backup.
TEST_F(SettingsTreeTest, CreationRestoresOnlyAMissingRootAndEveryReleaseMergesItIntoTheBackup) {
    NewConfig();  // created and released
    EXPECT_FALSE(KeyExists(kRoot) || KeyExists(kBackup)) << "with both trees missing neither is created";
    FillSample(kBackup);
    Ref<IKeystrelConfig> first = NewConfig(), second = NewConfig();
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    DeleteKeyTree(kBackup);
    SetDword(kBackup, "Top", 99);  // overwritten, its type changing to REG_SZ
    SetString(std::string(kBackup) + "\\Old scanner", "Keep", "me");
    first.reset();
    std::vector<std::string> expected = DumpTree(kRoot);
    expected.insert(expected.end(), {"Old scanner|<key>", "Old scanner|Keep|1|6d6500"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(DumpTree(kBackup), expected) << "the root merged in, extra keys kept";
    SetDword(kRoot, "N", 2);
    second.reset();
    EXPECT_EQ(GetDword(kBackup, "N"), 2u) << "not only the last object takes a backup";
    DeleteKeyTree(kRoot);
    SetDword(kRoot, "Only", 1);
    NewConfig();
    EXPECT_EQ(DumpTree(kRoot), std::vector<std::string>{"|Only|4|01000000"}) << "a present root is left alone";
}

// A release copies nothing only when neither tree changed since this process's last complete copy:
// whatever changed either tree in between is in the backup after the next release.
TEST_F(SettingsTreeTest, AReleaseAfterAnyChangeMergesAgain) {
    FillSample(kRoot);
    NewConfig();
    NewConfig();  // nothing changed
    // Another process stores into the root (the test's HKEY_CURRENT_USER is a key of the real one).
    ASSERT_EQ(std::system(("reg.exe add \"HKCU\\" + Scratch() + "\\" + kRoot +
                           "\" /v Late /t REG_DWORD /d 7 /f >nul").c_str()), 0);
    NewConfig();
    EXPECT_EQ(GetDword(kBackup, "Late"), 7u) << "a value stored by another process";
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, kBackup, "Top"), ERROR_SUCCESS);
    NewConfig();
    EXPECT_EQ(GetString(kBackup, "Top"), "top text") << "a value deleted from the backup";
    DeleteKeyTree(kBackup);
    NewConfig();
    EXPECT_EQ(DumpTree(kBackup), DumpTree(kRoot)) << "a deleted backup tree";
    DeleteKeyTree(kRoot);
    Ref<IKeystrelConfig> rebuilt = NewConfig();
    SetDword(kRoot, "After rebuild", 1);
    rebuilt.reset();
    EXPECT_EQ(GetDword(kBackup, "After rebuild"), 1u) << "a rebuilt root";
}

// Texts of other components that no 8-bit code page holds: backup and rebuilt root keep them byte for byte.
TEST_F(SettingsTreeTest, BackupAndRestoreCopyNamesAndDataByteForByte) {
    const BYTE odd[] = {'a', 0, 'b', 0, 'c'};
    struct Row { const wchar_t* key; const wchar_t* name; DWORD type; std::vector<BYTE> data; };
    const Row rows[] = {
        {.key = L"LinkProfiles", .name = L"Path", .type = REG_SZ,
         .data = WideBytes(L"C:\\Users\\\u5f20\u4e09\\\u6587\u6863")},
        {.key = L"LinkProfiles", .name = L"Title \u00e9\u4e2d", .type = REG_SZ, .data = WideBytes(L"x")},
        {.key = L"LinkProfiles", .name = L"Odd", .type = REG_SZ, .data = std::vector<BYTE>(odd, odd + sizeof(odd))},
        {.key = L"LinkProfiles\\\u7528\u6237 \u5f20\u4e09", .name = L"", .type = REG_DWORD, .data = {1, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (kWideRoot + row.key).c_str(), row.name, row.type,
                                  row.data.data(), static_cast<DWORD>(row.data.size())), ERROR_SUCCESS);
    }
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
    ASSERT_EQ(Chain(kRoot + below, kLevels), kLevels);
    Ref<IKeystrelConfig> config = NewConfig();
    EXPECT_TRUE(WithLittleStack([&] { config.reset(); })) << "release (backup)";
    EXPECT_EQ(Chain(kBackup + below), kLevels);
    DeleteKeyTree(kRoot);
    EXPECT_TRUE(WithLittleStack([&] { config = NewConfig(); })) << "creation (restore)";
    EXPECT_EQ(Chain(kRoot + below), kLevels);
    LONG count = 0;
    ASSERT_EQ(config->SetActiveHardware(GUID{}, const_cast<LPSTR>("Scanner")), S_OK);
    ASSERT_EQ(config->LoadConfigInfo(Bstr("Scanner").get(), KSCNFGFLAG_ALL, &count), S_OK);
    ASSERT_EQ(count, 1);
    EXPECT_TRUE(WithLittleStack([&] { config->DeleteConfigInfo(0); })) << "DeleteConfigInfo";
    EXPECT_FALSE(KeyExists(kRoot + below));
}

// No walk or list follows a registry link: the backup skips a link under the root and one planted
// in the backup tree, the rebuild skips what the backup holds of them, a list load leaves a link out,
// and a profile that is a link is deleted as the link. The keys they name, like any other of the
// hive, are not read, written or deleted through them. (A link back up the tree is the same case;
// followed, it made every walk a cycle.)
TEST_F(SettingsTreeTest, WalksAndListsNeverFollowRegistryLinks) {
    const std::string outside = "Software\\Outside", a = outside + "\\A", b = outside + "\\B";
    const std::string profiles = RootPath("Scanner\\ScanProfiles");
    for (const std::string& key : {a, a + "\\Below", b, profiles + "\\*Real*"}) SetDword(key, "Flags", KSCNFGFLAG_SHOWALL);
    const std::vector<std::string> untouched = DumpTree(outside);
    const RegistryLink planted(std::string(kBackup) + "\\Scanner", b);
    std::optional<RegistryLink> link(std::in_place, RootPath("Linked"), a);
    NewConfig();  // released: the backup is taken
    EXPECT_EQ(SubkeyNames(kBackup), std::vector<std::string>{"Scanner"}) << "the planted link alone";
    link.reset();
    DeleteKeyTree(kRoot);
    NewConfig();  // rebuilds the root from the backup
    EXPECT_EQ(SubkeyNames(kRoot), std::vector<std::string>{});
    // The list is loaded for another scanner, whose "*Link*" is a plain key; the delete goes to the
    // active scanner's, a link.
    SetDword(profiles + "\\*Real*", "Flags", KSCNFGFLAG_SHOWALL);
    SetDword(RootPath("Other\\ScanProfiles\\*Link*"), "Flags", KSCNFGFLAG_SHOWALL);
    link.emplace(profiles + "\\*Link*", a);
    Ref<IKeystrelConfig> config = NewConfig();
    LONG count = 0;
    EXPECT_EQ(config->LoadConfigInfo(Bstr("Scanner").get(), KSCNFGFLAG_ALL, &count), S_OK);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(config->LoadConfigInfo(Bstr("Other").get(), KSCNFGFLAG_ALL, &count), S_OK);
    ASSERT_EQ(config->SetActiveHardware(GUID{}, const_cast<LPSTR>("Scanner")), S_OK);
    EXPECT_EQ(config->DeleteConfigInfo(0), S_OK);
    EXPECT_EQ(SubkeyNames(profiles), std::vector<std::string>{"*Real*"});
    EXPECT_EQ(DumpTree(outside), untouched);
    link.reset();  // before the backup: Wine resolves a dangling link to the nearest key on its way, a cycle here
}

// A link is told by where the registry leads, not by what a key holds: a plain key (and the root
// itself) holding the REG_LINK value "SymbolicLinkValue" that links carry is listed, backed up with
// its subtree, rebuilt and deleted like any other, and the key its value names is never touched.
TEST_F(SettingsTreeTest, APlainKeyHoldingALinkValueIsListedCopiedAndDeletedLikeAnyOther) {
    const std::string profiles = RootPath("Scanner\\ScanProfiles");
    for (const char* key : {"Normal", "Odd", "Odd\\Below"}) SetDword(profiles + "\\" + key, "Flags", KSCNFGFLAG_SHOWALL);
    ks::UniqueHKey normal;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (profiles + "\\Normal").c_str(), 0, KEY_READ, normal.put()), ERROR_SUCCESS);
    const std::wstring target = ks::KeyFullName(normal.get()).value_or(L"");
    const auto bytes = reinterpret_cast<const BYTE*>(target.data());
    for (const std::string& key : {std::string(kRoot), profiles + "\\Odd"})
        SetValue(key, "SymbolicLinkValue", REG_LINK, bytes, static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    Ref<IKeystrelConfig> config = NewConfig();
    LONG count = 0;
    ASSERT_EQ(config->LoadConfigInfo(Bstr("Scanner").get(), KSCNFGFLAG_ALL, &count), S_OK);
    EXPECT_EQ(count, 2) << "both profiles are listed";
    config.reset();  // released: the backup is taken
    EXPECT_EQ(DumpTree(kBackup), DumpTree(kRoot)) << "the root and the odd profile are backed up whole";
    DeleteKeyTree(kRoot);
    config = NewConfig();  // rebuilds the root from the backup
    EXPECT_EQ(DumpTree(kRoot), DumpTree(kBackup));
    ASSERT_EQ(config->LoadConfigInfo(Bstr("Scanner").get(), KSCNFGFLAG_ALL, &count), S_OK);
    LONG odd = -1;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG listed{};
        if (config->GetConfig(i, &listed) == S_OK && std::string(listed.keyname) == "Odd") odd = i;
    }
    ASSERT_GE(odd, 0);
    ASSERT_EQ(config->SetActiveHardware(GUID{}, const_cast<LPSTR>("Scanner")), S_OK);
    EXPECT_EQ(config->DeleteConfigInfo(odd), S_OK);
    EXPECT_EQ(SubkeyNames(profiles), std::vector<std::string>{"Normal"}) << "deleted as a key, subtree and all";
    EXPECT_EQ(GetDword(profiles + "\\Normal", "Flags"), static_cast<DWORD>(KSCNFGFLAG_SHOWALL));
}

// A value that cannot be copied costs only itself: here one that another thread keeps resizing, so
// that it may outgrow every buffer made for it between two reads, while its neighbours are backed up.
TEST_F(SettingsTreeTest, AValueThatCannotBeCopiedCostsOnlyItself) {
    std::atomic<bool> stop = false;
    ks::UniqueHKey root;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root.put(), nullptr),
              ERROR_SUCCESS);
    std::thread writer([&] {
        const std::vector<BYTE> data(4000, 'g');
        for (DWORD size = 2000; !stop; size = 6000 - size) RegSetValueExA(root.get(), "Growing", 0, REG_BINARY, data.data(), size);
    });
    for (DWORD i = 1; i <= 300 && !HasFailure(); ++i) {
        SetDword(kRoot, "Z after", i);
        NewConfig();  // released: the backup is taken
        EXPECT_EQ(GetDword(kBackup, "Z after"), i);
    }
    stop = true;
    writer.join();
}

}  // namespace
}  // namespace kstest
