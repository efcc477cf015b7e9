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

std::string Flags(LONG flags) { return JoinNames(DecodeBits(static_cast<std::uint32_t>(flags), ks::ConfigFlagNames())); }

int ListProfiles(Store& store, BSTR name) {
    LONG count = 0;
    HRESULT hr = store->LoadConfigInfo(name, KSCNFGFLAG_ALL, &count);
    if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
    std::printf("   LoadConfigInfo(\"%s\", KSCNFGFLAG_ALL) -> %s\n", kSample, Count(count, "profile").c_str());
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG c{};
        if (hr = store->GetConfig(i, &c); FAILED(hr)) return StoreFailure("GetConfig", hr);
        rows.push_back({"  " + std::to_string(i), ks::FieldText(c.keyname), Quoted(ks::FieldText(c.name)), Flags(c.flags),
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
    std::printf("1. Created a KeystrelConfig object.\n");
    ks::UniqueBstr folder, name = ks::MakeBstr(kSample);
    HRESULT hr = store->GetKSInstallFolder(folder.put());
    const std::string profile = ks::ToAnsi(folder.get()) + "\\Profiles\\" + kSample + ".ks4";
    if (FAILED(hr) || GetFileAttributesA(profile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Fail(kNotFound, "the sample scanner's default profile " + profile + " is missing (scripts/demo.sh installs it)");
    }
    // Start afresh, so that every run shows the default profile import.
    ks::DeleteTree(HKEY_CURRENT_USER, ks::DeviceKeyPath(kSample).c_str());
    std::printf("   Removed earlier settings of \"%s\".\n\n", kSample);

    std::string sample = kSample;
    if (hr = store->SetActiveHardware(kSampleGuid, sample.data()); FAILED(hr)) return StoreFailure("SetActiveHardware", hr);
    std::printf("2. SetActiveHardware(%s, \"%s\") -> %s\n\n3. Load the scanner's scan profiles:\n",
                ks::GuidText(kSampleGuid).c_str(), kSample, DescribeHresult(hr).c_str());
    if (int rc = ListProfiles(store, name.get()); rc != kOk) return rc;

    _KSCONFIG* active = nullptr;
    if (hr = store->SetActiveConfig(-1); FAILED(hr)) return StoreFailure("SetActiveConfig", hr);
    hr = store->GetActiveConfig(&active);
    if (FAILED(hr) || active == nullptr) return StoreFailure("GetActiveConfig", FAILED(hr) ? hr : E_POINTER);
    const std::string keyName = ks::FieldText(active->keyname);
    std::printf(
        "\n4. SetActiveConfig(-1), GetActiveConfig -> %s\n   a new profile \"%s\", key name %s,\n   hardware %s, flags %s\n",
        DescribeHresult(hr).c_str(), ks::FieldText(active->name).c_str(), keyName.c_str(), ks::GuidText(active->hwguid).c_str(),
        Flags(active->flags).c_str());
    // Edit the block in place, as the scanning user interface does, and ask for it to be saved.
    ks::CopyToField(active->name, sizeof(active->name), "Demo colour 300 dpi");
    active->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_IMAGES | KSCNFGFLAG_PDF | KSCNFGFLAG_SAVE);
    active->DataType = KSCNFGMODE_COLOR;
    active->PixelBits = 24;
    active->Xresolution = active->Yresolution = 300;
    active->PageWidth = 8500;
    active->PageHeight = 11000;
    active->ShowProgress = 1;
    std::printf("\n5. Edited it: name \"%s\", flags %s,\n   mode KSCNFGMODE_COLOR, 24 bits, 300x300 dpi, page 8500x11000\n",
                ks::FieldText(active->name).c_str(), Flags(active->flags).c_str());
    hr = store->StoreActiveConfig();  // frees the block
    if (FAILED(hr)) return StoreFailure("StoreActiveConfig", hr);
    std::printf("   StoreActiveConfig -> %s\n   saved as %s\\%s\\%s\n\n", DescribeHresult(hr).c_str(), kSample,
                ks::kScanProfilesKey, keyName.c_str());

    std::vector<unsigned char> table(kTableSize, 0xEE);
    hr = store->GetCalibrationData(name.get(), kTableSize, table.data());
    if (FAILED(hr)) return StoreFailure("GetCalibrationData", hr);
    LONG gamma = 0;
    if (HRESULT got = store->GetDefualtGamma(name.get(), &gamma); FAILED(got)) return StoreFailure("GetDefualtGamma", got);
    std::string head;
    for (int i = 0; i < 16; ++i) head += Hex32(table[i]).substr(8) + " ";
    std::printf("6. GetCalibrationData(\"%s\", %ld bytes) -> %s\n   The own hive had no table, so the store imported %s\n"
                "   GetDefualtGamma -> %ld; table \"%s\" starts %s...\n\n7. Load the profiles again (the import brought the "
                "default ones):\n",
                kSample, static_cast<long>(kTableSize), DescribeHresult(hr).c_str(), profile.c_str(), static_cast<long>(gamma),
                (ks::kGammaTablePrefix + std::to_string(gamma)).c_str(), head.c_str());
    if (int rc = ListProfiles(store, name.get()); rc != kOk) return rc;
    store.Close();
    std::printf("\n8. Released the object: the store copied the settings root into HKEY_CURRENT_USER\\%s\n", kBackupRoot);
    return kOk;
}

}  // namespace ksconfig
