// The demo: a typical session of the scanning user interface against the sample scanner,
// printed step by step.

#include "ksconfig.h"

namespace ksconfig {
namespace {

const char* kSample = "Sample Scanner";
// The sample scanner's hardware GUID; no device component is installed for it, so new profiles
// start with zero settings.
const GUID kSampleGuid = {0x5a3c7e21, 0x9b04, 0x4d6f, {0x8e, 0x12, 0x3c, 0x4b, 0x5a, 0x6d, 0x7e, 0x8f}};
constexpr LONG kTableSize = 256;

std::string Result(HRESULT hr) { return DescribeHresult(hr); }

int ListProfiles(Store& store, BSTR name) {
    LONG count = 0;
    HRESULT hr = store->LoadConfigInfo(name, KSCNFGFLAG_ALL, &count);
    if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
    std::printf("   LoadConfigInfo(\"%s\", KSCNFGFLAG_ALL) -> %s\n", kSample, Count(count, "profile").c_str());
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG c{};
        hr = store->GetConfig(i, &c);
        if (FAILED(hr)) return StoreFailure("GetConfig", hr);
        rows.push_back({"  " + std::to_string(i), ks::FieldText(c.keyname), Quoted(ks::FieldText(c.name)),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(c.flags), ks::ConfigFlagNames())),
                        std::to_string(c.Xresolution) + "x" + std::to_string(c.Yresolution) + " dpi"});
    }
    PrintTable(rows);
    return kOk;
}

}  // namespace

int Demo(const Arguments&) {
    std::printf("A client session of the settings store with the sample scanner \"%s\".\n\n", kSample);
    Store store(Store::kEdit);
    if (int rc = store.Open(); rc != kOk) return rc;
    std::printf("1. Created a KeystrelConfig object %s.\n",
                store.ViaRegisteredClass() ? "through COM (the registered class)"
                                           : "from Registry.dll beside ksconfig.exe (the class is not registered)");
    ks::UniqueBstr folderBstr;
    HRESULT hr = store->GetKSInstallFolder(folderBstr.put());
    if (FAILED(hr)) return StoreFailure("GetKSInstallFolder", hr);
    std::string folder = ks::ToAnsi(folderBstr.get());
    std::string profile = folder + "\\Profiles\\" + kSample + ".ks4";
    std::printf("   Install folder: %s\n", folder.c_str());
    if (GetFileAttributesA(profile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "ksconfig: the sample scanner's default profile %s is missing (scripts/demo.sh installs it)\n",
                     profile.c_str());
        return kNotFound;
    }
    // Start afresh, so that every run shows the default profile import.
    std::string device = ks::DeviceKeyPath(kSample);
    ks::DeleteTree(HKEY_CURRENT_USER, device.c_str());
    std::printf("   Removed earlier settings of \"%s\" so that the session starts afresh.\n\n", kSample);

    std::string sample = kSample;
    hr = store->SetActiveHardware(kSampleGuid, sample.data());
    if (FAILED(hr)) return StoreFailure("SetActiveHardware", hr);
    std::printf("2. SetActiveHardware(%s, \"%s\") -> %s\n\n", ks::GuidText(kSampleGuid).c_str(), kSample, Result(hr).c_str());

    ks::UniqueBstr name = ks::MakeBstr(kSample);
    std::printf("3. Load the scanner's scan profiles:\n");
    if (int rc = ListProfiles(store, name.get()); rc != kOk) return rc;
    std::printf("\n");

    hr = store->SetActiveConfig(-1);
    if (FAILED(hr)) return StoreFailure("SetActiveConfig", hr);
    _KSCONFIG* active = nullptr;
    hr = store->GetActiveConfig(&active);
    if (FAILED(hr) || active == nullptr) return StoreFailure("GetActiveConfig", FAILED(hr) ? hr : E_POINTER);
    std::printf("4. SetActiveConfig(-1), GetActiveConfig -> %s\n", Result(hr).c_str());
    std::printf("   a new profile \"%s\", key name %s,\n   hardware %s, flags %s\n", ks::FieldText(active->name).c_str(),
                ks::FieldText(active->keyname).c_str(), ks::GuidText(active->hwguid).c_str(),
                JoinNames(DecodeBits(static_cast<std::uint32_t>(active->flags), ks::ConfigFlagNames())).c_str());
    std::string keyname = ks::FieldText(active->keyname);

    // Edit the block in place, as the scanning user interface does, and ask for it to be saved.
    std::snprintf(active->name, sizeof(active->name), "%s", "Demo colour 300 dpi");
    active->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_IMAGES | KSCNFGFLAG_PDF | KSCNFGFLAG_SAVE);
    active->DataType = KSCNFGMODE_COLOR;
    active->PixelBits = 24;
    active->Xresolution = 300;
    active->Yresolution = 300;
    active->PageWidth = 8500;
    active->PageHeight = 11000;
    active->ShowProgress = 1;
    std::printf("\n5. Edited it: name \"%s\", flags %s,\n   mode KSCNFGMODE_COLOR, 24 bits, 300x300 dpi, page 8500x11000\n",
                ks::FieldText(active->name).c_str(),
                JoinNames(DecodeBits(static_cast<std::uint32_t>(active->flags), ks::ConfigFlagNames())).c_str());
    hr = store->StoreActiveConfig();  // frees the block
    active = nullptr;
    if (FAILED(hr)) return StoreFailure("StoreActiveConfig", hr);
    std::printf("   StoreActiveConfig -> %s\n", Result(hr).c_str());
    std::printf("   saved as %s\\ScanProfiles\\%s: %s\n\n", kSample, keyname.c_str(),
                KeyExists(ks::JoinKey(ks::JoinKey(device, ks::kScanProfilesKey), keyname)) ? "the key is there" : "THE KEY IS MISSING");

    std::vector<unsigned char> table(kTableSize, 0xEE);
    hr = store->GetCalibrationData(name.get(), kTableSize, table.data());
    if (FAILED(hr)) return StoreFailure("GetCalibrationData", hr);
    std::printf("6. GetCalibrationData(\"%s\", %ld bytes) -> %s\n", kSample, static_cast<long>(kTableSize),
                Result(hr).c_str());
    std::printf("   The own hive had no table, so the store imported %s\n", profile.c_str());
    LONG gamma = 0;
    hr = store->GetDefualtGamma(name.get(), &gamma);
    if (FAILED(hr)) return StoreFailure("GetDefualtGamma", hr);
    std::string head;
    for (int i = 0; i < 16; ++i) {
        char piece[4];
        std::snprintf(piece, sizeof(piece), "%02x", table[i]);
        head += std::string(i ? " " : "") + piece;
    }
    std::printf("   GetDefualtGamma -> %ld; table \"Gamma - %ld\" starts %s ...\n\n", static_cast<long>(gamma),
                static_cast<long>(gamma), head.c_str());

    std::printf("7. Load the profiles again (the import brought the default ones):\n");
    if (int rc = ListProfiles(store, name.get()); rc != kOk) return rc;

    store.Close();
    std::printf("\n8. Released the object: the store copied the settings root into HKEY_CURRENT_USER\\%s\n", kBackupRoot);
    std::printf("   (the backup now %s \"%s\").\n",
                KeyExists(std::string(kBackupRoot) + "\\" + kSample) ? "holds" : "LACKS", kSample);
    return kOk;
}

}  // namespace ksconfig
