// Benchmark of the settings store against the bare registry calls it cannot avoid.
// Each row compares one store operation with a baseline measured in the same run on the same
// tree, as a ratio (store time / baseline time): 1.00 means no overhead beyond the registry.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KsRegistry.h"
#include "core/pure/key_path.h"

namespace {

const char* kRoot = ks::kSettingsRoot;
const char* kBackup = ks::kBackupRoot;
const char* kScratch = "Software\\Stellwick Bench Scratch";
const char* kHardware = "Bench Scanner";

// The value names of one scan profile, in the store's order.
const char* kTextValues[] = {"Name", "LinkInfo", "UIInfo"};
const char* kNumberValues[] = {"Flags", "DataType", "PixelBits", "Intensity", "Contrast", "Xresolution",
                               "Yresolution", "PageWidth", "PageHeight", "Autorotate90", "ScanHardware", "Duplex",
                               "ColorDropOut", "Negative", "Mirror", "Crop", "Deskew", "Moire", "ShowProgress",
                               "LinkConfig", "UIConfig", "UseToneMap", "TMap Saturation", "TMap Sharpen", "TMap Hue",
                               "TMap RedGamma", "TMap GreenGamma", "TMap BlueGamma", "TMap GreyGamma"};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class F>
double Median(int runs, F&& once) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(once());
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

HKEY Create(const std::string& path) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

void DeleteTree(const char* path) { RegDeleteTreeA(HKEY_CURRENT_USER, path); RegDeleteKeyA(HKEY_CURRENT_USER, path); }

void WriteProfileBare(HKEY profiles, const std::string& keyname, int n) {
    HKEY key = nullptr;
    RegCreateKeyExA(profiles, keyname.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    std::string name = "Profile " + std::to_string(n);
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()), static_cast<DWORD>(name.size() + 1));
    RegSetValueExA(key, "LinkInfo", 0, REG_SZ, reinterpret_cast<const BYTE*>("link"), 5);
    RegSetValueExA(key, "UIInfo", 0, REG_SZ, reinterpret_cast<const BYTE*>("ui"), 3);
    for (const char* value : kNumberValues) {
        DWORD v = value == kNumberValues[0] ? 1u : static_cast<DWORD>(n);
        RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }
    RegSetValueExA(key, "VRSConfig", 0, REG_SZ, reinterpret_cast<const BYTE*>("vrs"), 4);
    RegCloseKey(key);
}

// A settings tree of `profiles` scan profiles, a tenth as many events and eight 4 KB tables.
void BuildTree(int profiles) {
    DeleteTree(kRoot);
    DeleteTree(kBackup);
    std::string device = std::string(kRoot) + "\\" + kHardware;
    HKEY scan = Create(device + "\\" + ks::kScanProfilesKey);
    for (int i = 0; i < profiles; ++i) WriteProfileBare(scan, "*P" + std::to_string(i) + "*", i);
    RegCloseKey(scan);
    HKEY events = Create(device + "\\EventProfiles");
    for (int i = 0; i < profiles / 10 + 1; ++i) {
        HKEY event = nullptr;
        RegCreateKeyExA(events, ("Event " + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &event, nullptr);
        RegSetValueExA(event, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>("Button"), 7);
        DWORD v = static_cast<DWORD>(i);
        RegSetValueExA(event, "Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
        RegCloseKey(event);
    }
    RegCloseKey(events);
    HKEY calibration = Create(device + "\\" + ks::kCalibrationProfilesKey);
    std::vector<BYTE> table(4096);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<BYTE>(i * 31);
    for (int g = 1; g <= 8; ++g) {
        std::string name = ks::kGammaTablePrefix + std::to_string(g);
        RegSetValueExA(calibration, name.c_str(), 0, REG_BINARY, table.data(), static_cast<DWORD>(table.size()));
    }
    RegCloseKey(calibration);
}

struct Store {
    HMODULE dll = nullptr;
    IClassFactory* factory = nullptr;
    IKeystrelConfig* Create() const {
        IKeystrelConfig* config = nullptr;
        factory->CreateInstance(nullptr, IID_IKeystrelConfig, reinterpret_cast<void**>(&config));
        return config;
    }
};

// The bare calls a profile list load cannot avoid.
long BareLoad() {
    HKEY scan = nullptr;
    std::string path = std::string(kRoot) + "\\" + kHardware + "\\" + ks::kScanProfilesKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &scan) != ERROR_SUCCESS) return 0;
    char name[64];
    BYTE data[512];
    long count = 0;
    for (DWORD i = 0; RegEnumKeyA(scan, i, name, sizeof(name)) == ERROR_SUCCESS; ++i) {
        HKEY profile = nullptr;
        if (RegOpenKeyExA(scan, name, 0, KEY_READ, &profile) != ERROR_SUCCESS) continue;
        for (const char* value : kTextValues) {
            DWORD size = 256;
            RegQueryValueExA(profile, value, nullptr, nullptr, data, &size);
        }
        for (const char* value : kNumberValues) {
            DWORD size = 4;
            RegQueryValueExA(profile, value, nullptr, nullptr, data, &size);
        }
        DWORD size = 512;
        RegQueryValueExA(profile, "VRSConfig", nullptr, nullptr, data, &size);
        RegCloseKey(profile);
        ++count;
    }
    RegCloseKey(scan);
    return count;
}

void Row(const char* what, int size, double store, double baseline) {
    std::printf("| %-44s | %6d | %10.4f | %10.4f | %6.3f |\n", what, size, store * 1e3, baseline * 1e3,
                baseline > 0 ? store / baseline : 0.0);
}

// A default profile file of about `bytes` bytes: many sections of numeric and binary values.
std::string MakeProfileText(size_t bytes, int* values) {
    std::string text = "[%ROOT%]\r\n\"CurrentGamma\"=dword:00000001\r\n";
    *values = 1;
    int section = 0;
    while (text.size() < bytes) {
        text += "[%ROOT%\\Bench\\S" + std::to_string(section++) + "]\r\n";
        for (int i = 0; i < 40; ++i) {
            text += "\"Value " + std::to_string(i) + "\"=dword:" + std::to_string(10000000 + i) + "\r\n";
            ++*values;
        }
    }
    text += "[%ROOT%\\EventProfiles]\r\n\"Ignored\"=dword:1\r\n";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int maxProfiles = argc > 1 ? std::atoi(argv[1]) : 10000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Store store;
    store.dll = LoadLibraryA("Registry.dll");
    auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(store.dll, "DllGetClassObject")));
    if (getClassObject == nullptr ||
        FAILED(getClassObject(CLSID_KeystrelConfig, IID_IClassFactory, reinterpret_cast<void**>(&store.factory)))) {
        std::fprintf(stderr, "cannot load Registry.dll\n");
        return 1;
    }
    BSTR hardware = SysAllocString(L"Bench Scanner");

    std::printf("| %-44s | %6s | %10s | %10s | %6s |\n", "operation", "size", "store ms", "base ms", "ratio");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(8, '-').c_str(),
                std::string(12, '-').c_str(), std::string(12, '-').c_str(), std::string(8, '-').c_str());
    std::vector<std::pair<int, double>> perProfileLoad;
    for (int size : {10, 100, 1000, 10000}) {
        if (size > maxProfiles) break;
        BuildTree(size);
        int runs = size >= 10000 ? 3 : size >= 1000 ? 5 : 15;

        // Object release (the backup step) against RegCopyTreeA of the same root: into a deleted
        // backup (a full copy), with nothing changed since the last complete copy (nothing to copy),
        // and after one profile value changed (a full copy into a backup that holds the rest). One
        // of each per round, so that a load on the machine weighs on all four alike.
        const std::string changedProfile = std::string(kRoot) + "\\" + kHardware + "\\" + ks::kScanProfilesKey + "\\*P0*";
        auto timedRelease = [&] {
            IKeystrelConfig* config = store.Create();
            double start = Now();
            config->Release();
            return Now() - start;
        };
        std::vector<double> full, unchanged, changed, copies;
        for (int round = 0; round < runs; ++round) {
            DeleteTree(kBackup);
            full.push_back(timedRelease());
            unchanged.push_back(timedRelease());
            DWORD intensity = static_cast<DWORD>(round);
            RegSetKeyValueA(HKEY_CURRENT_USER, changedProfile.c_str(), "Intensity", REG_DWORD, &intensity, 4);
            changed.push_back(timedRelease());
            DeleteTree(kScratch);
            HKEY root = nullptr;
            RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_READ | KEY_WRITE, &root);
            HKEY scratch = Create(kScratch);
            double copyStart = Now();
            RegCopyTreeA(root, nullptr, scratch);
            copies.push_back(Now() - copyStart);
            RegCloseKey(scratch);
            RegCloseKey(root);
        }
        DeleteTree(kScratch);
        auto median = [](std::vector<double>& times) {
            std::sort(times.begin(), times.end());
            return times[times.size() / 2];
        };
        const double copyTree = median(copies);
        Row("release (full copy) vs RegCopyTreeA", size, median(full), copyTree);
        Row("release, nothing changed vs RegCopyTreeA", size, median(unchanged), copyTree);
        Row("release, one value changed vs RegCopyTreeA", size, median(changed), copyTree);

        IKeystrelConfig* config = store.Create();
        double load = Median(runs, [&] {
            LONG count = 0;
            double start = Now();
            config->LoadConfigInfo(hardware, KSCNFGFLAG_ALL, &count);
            return Now() - start;
        });
        double bareLoad = Median(runs, [&] {
            double start = Now();
            BareLoad();
            return Now() - start;
        });
        Row("LoadConfigInfo vs bare reads", size, load, bareLoad);
        perProfileLoad.emplace_back(size, load / size);

        // One profile stored, averaged over 50 new keys each.
        double storeOne = Median(runs, [&] {
            _KSCONFIG record{};
            std::strcpy(record.name, "Stored");
            record.flags = KSCNFGFLAG_IMAGES;
            double total = 0;
            for (int i = 0; i < 50; ++i) {
                std::snprintf(record.keyname, sizeof(record.keyname), "*S%d*", i);
                double start = Now();
                config->StoreConfigInfo(hardware, &record);
                total += Now() - start;
            }
            return total / 50;
        });
        double bareStore = Median(runs, [&] {
            std::string path = std::string(kRoot) + "\\" + kHardware + "\\" + ks::kScanProfilesKey;
            HKEY scan = Create(path);
            double total = 0;
            for (int i = 0; i < 50; ++i) {
                double start = Now();
                WriteProfileBare(scan, "*B" + std::to_string(i) + "*", i);
                total += Now() - start;
            }
            RegCloseKey(scan);
            return total / 50;
        });
        Row("StoreConfigInfo vs bare writes", size, storeOne, bareStore);
        config->Release();
    }

    // The object's lock, taken by every call that touches its lists: GetConfig (lock, one record
    // copied out) against the cheapest registry call there is, one DWORD read from an open key;
    // per 100 calls, so that both columns show.
    {
        BuildTree(10);
        IKeystrelConfig* config = store.Create();
        LONG count = 0;
        config->LoadConfigInfo(hardware, KSCNFGFLAG_ALL, &count);
        constexpr int kCalls = 10000;
        double locked = Median(5, [&] {
            _KSCONFIG record{};
            double start = Now();
            for (int i = 0; i < kCalls; ++i) config->GetConfig(0, &record);
            return (Now() - start) / (kCalls / 100);
        });
        std::string path = std::string(kRoot) + "\\" + kHardware;
        HKEY device = Create(path);
        DWORD one = 1;
        RegSetValueExA(device, ks::kCurrentGammaValue, 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
        double read = Median(5, [&] {
            double start = Now();
            for (int i = 0; i < kCalls; ++i) {
                DWORD value = 0, size = sizeof(value);
                RegQueryValueExA(device, ks::kCurrentGammaValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
            }
            return (Now() - start) / (kCalls / 100);
        });
        RegCloseKey(device);
        config->Release();
        Row("100 GetConfig (locked) vs 100 reads", count, locked, read);
    }

    // Default profile import of a 1 MB file against the bare writes of its values.
    {
        wchar_t dllPath[MAX_PATH];
        GetModuleFileNameW(store.dll, dllPath, MAX_PATH);
        std::wstring folder(dllPath);
        folder = folder.substr(0, folder.rfind(L'\\')) + L"\\Profiles";
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring file = folder + L"\\Bench Import.ks4";
        int values = 0;
        std::string text = MakeProfileText(1 << 20, &values);
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(h);
        BSTR importName = SysAllocString(L"Bench Import");
        double import = Median(3, [&] {
            DeleteTree(kRoot);
            IKeystrelConfig* config = store.Create();
            BYTE buffer[16];
            double start = Now();
            config->GetCalibrationData(importName, sizeof(buffer), buffer);
            double elapsed = Now() - start;
            config->Release();
            return elapsed;
        });
        double bare = Median(3, [&] {
            DeleteTree(kRoot);
            std::string device = std::string(kRoot) + "\\Bench Import";
            double start = Now();
            HKEY key = Create(device);
            DWORD one = 1;
            RegSetValueExA(key, ks::kCurrentGammaValue, 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
            RegCloseKey(key);
            int remaining = values - 1;
            for (int s = 0; remaining > 0; ++s) {
                HKEY section = Create(device + "\\Bench\\S" + std::to_string(s));
                for (int i = 0; i < 40 && remaining > 0; ++i, --remaining) {
                    DWORD v = static_cast<DWORD>(0x10000000 + i);
                    RegSetValueExA(section, ("Value " + std::to_string(i)).c_str(), 0, REG_DWORD,
                                   reinterpret_cast<BYTE*>(&v), 4);
                }
                RegCloseKey(section);
            }
            return Now() - start;
        });
        Row("import 1 MB .ks4 vs bare writes", values, import, bare);
        SysFreeString(importName);
        DeleteFileW(file.c_str());
    }

    std::printf("\nLoadConfigInfo cost per profile (linearity):\n");
    double reference = 0;
    for (auto [size, perProfile] : perProfileLoad) {
        if (size == 100) reference = perProfile;
        std::printf("  %6d profiles: %8.2f us/profile%s\n", size, perProfile * 1e6,
                    reference > 0 && size > 100
                        ? ("  (" + std::to_string(static_cast<int>(100 * perProfile / reference)) + "% of the 100-profile cost)").c_str()
                        : "");
    }
    DeleteTree(kRoot);
    DeleteTree(kBackup);
    SysFreeString(hardware);
    store.factory->Release();
    CoUninitialize();
    return 0;
}
