// The active profile: the block handed to the client, new profiles, and saving.
#include "profiles_support.h"

namespace kstest {
namespace {

constexpr GUID kScanner = {0x6d0e5c1a, 0x33f2, 0x4b7a, {0x8c, 0x41, 0x0f, 0x9e, 0x2a, 0x6b, 0x77, 0x15}};

// The scanner's device component, registered in this process: one object serving as its own class
// factory, answering GetDeviceDefaults as told and counting the references held on it.
struct FakeDevice final : IClassFactory, IKsDeviceDefaults {
    FakeDevice(HRESULT result, const _KSDEVICEDEFAULTS* block) : result(result), block(block) {
        EXPECT_EQ(CoRegisterClassObject(kScanner, static_cast<IClassFactory*>(this), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie), S_OK);
        registered = refs;
    }
    ~FakeDevice() { CoRevokeClassObject(cookie); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = IsEqualIID(riid, IID_IKsDeviceDefaults) ? static_cast<IKsDeviceDefaults*>(this)
               : IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)
                   ? static_cast<void*>(static_cast<IClassFactory*>(this)) : nullptr;
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
        return QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDeviceDefaults(_KSDEVICEDEFAULTS** defaults) override {
        ++calls;
        *defaults = block ? static_cast<_KSDEVICEDEFAULTS*>(CoTaskMemAlloc(sizeof(*block))) : nullptr;
        if (block) **defaults = *block;
        return result;
    }
    HRESULT result;
    const _KSDEVICEDEFAULTS* block;
    DWORD cookie = 0;
    int calls = 0;
    LONG refs = 0, registered = 0;
};

class ActiveConfigTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(config_->SetActiveHardware(kScanner, const_cast<LPSTR>("Scanner 1")), S_OK);
    }
    Ref<IKeystrelConfig> config_ = NewConfig();
    const std::string profiles_ = RootPath("Scanner 1\\ScanProfiles");

    _KSCONFIG* Active(IKeystrelConfig* config = nullptr) {
        _KSCONFIG* p = reinterpret_cast<_KSCONFIG*>(1);
        EXPECT_EQ((config ? config : config_.get())->GetActiveConfig(&p), S_OK);
        return p;
    }
    LONG Load() {
        LONG count = -1;
        EXPECT_EQ(config_->LoadConfigInfo(Bstr("Scanner 1").get(), KSCNFGFLAG_ALL, &count), S_OK);
        return count;
    }
    void AddProfile(const std::string& key, const char* name) {
        SetDword(profiles_ + "\\" + key, "Flags", KSCNFGFLAG_IMAGES);
        SetString(profiles_ + "\\" + key, "Name", name);
    }
};

TEST_F(ActiveConfigTest, NewProfileIsNamedFromTheResourceAvoidingListedKeyNamesCaseSensitively) {
    for (const char* key : {"*New configuration*", "*New configuration0*", "*new configuration1*"})
        AddProfile(key, "x");
    ASSERT_EQ(Load(), 3);
    _KSCONFIG* p = Active();
    EXPECT_STREQ(p->name, "New configuration1");
    EXPECT_TRUE(IsGuidKeyName(Text(p->keyname))) << p->keyname;
    // Appended to the list and made active; nothing is written yet.
    _KSCONFIG element;
    ASSERT_EQ(config_->GetConfig(3, &element), S_OK);
    EXPECT_EQ(std::memcmp(&element, p, sizeof(element)), 0);
    EXPECT_EQ(config_->GetConfig(4, &element), E_INVALIDARG);
    EXPECT_EQ(SubkeyNames(profiles_).size(), 3u);
}

TEST_F(ActiveConfigTest, DeviceComponentPresetsTheNewProfileAndIsReleased) {
    _KSDEVICEDEFAULTS block{};
    std::fill(std::begin(block.Reserved0), std::end(block.Reserved0), 0x77);
    block.DataType = KSCNFGMODE_COLOR, block.PixelBits = 24, block.Intensity = -5, block.Contrast = 7;
    block.Xresolution = 300, block.Yresolution = 200, block.Width = 8500, block.Height = 11000;
    block.ScanHardware = 3, block.Duplex = 1, block.ColorDropOut = 2, block.Negative = 4, block.Mirror = 5;
    const struct {
        HRESULT result;
        const _KSDEVICEDEFAULTS* block;
        bool keyed;
    } cases[] = {{S_OK, &block, true}, {S_FALSE, nullptr, true}, {E_FAIL, nullptr, false}};
    for (const auto& c : cases) {
        FakeDevice device(c.result, c.block);
        Ref<IKeystrelConfig> fresh = NewConfig();
        _KSCONFIG* p = Active(fresh.get());
        EXPECT_EQ(device.calls, 1);
        EXPECT_EQ(device.refs, device.registered) << "the device object is released";
        _KSCONFIG want;
        std::memset(&want, 0, sizeof(want));
        want.hwguid = kScanner;
        SetText(want.keyname, p->keyname);
        SetText(want.name, "New configuration");
        if (c.block) {
            want.DataType = KSCNFGMODE_COLOR, want.PixelBits = 24, want.Intensity = -5, want.Contrast = 7;
            want.Xresolution = 300, want.Yresolution = 200, want.PageWidth = 28333, want.PageHeight = 55000;
            want.ScanHardware = 3, want.Duplex = 1, want.ColorDropOut = 2, want.Negative = 4, want.Mirror = 5;
            want.ShowProgress = 1;
        }
        EXPECT_EQ(std::memcmp(p, &want, sizeof(want)), 0) << c.result;
        EXPECT_EQ(IsGuidKeyName(Text(p->keyname)), c.keyed) << c.result << ": " << p->keyname;
    }
}

TEST_F(ActiveConfigTest, CopyFollowsTheOwnershipTable) {
    AddProfile("P0", "zero");
    AddProfile("P1", "one");
    ASSERT_EQ(Load(), 2);
    _KSCONFIG e0, e1;
    ASSERT_EQ(config_->GetConfig(1, &e1), S_OK);

    // Valid index, no copy: a new block holding the element, which is stamped with the active GUID.
    ASSERT_EQ(config_->SetActiveConfig(0), S_OK);
    _KSCONFIG* p = Active();
    ASSERT_EQ(config_->GetConfig(0, &e0), S_OK);
    EXPECT_STREQ(p->keyname, e0.keyname);
    EXPECT_TRUE(IsEqualGUID(p->hwguid, kScanner));
    EXPECT_TRUE(IsEqualGUID(e0.hwguid, kScanner));

    // Same key name: the same block, edits kept.
    SetText(p->name, "edited");
    EXPECT_EQ(Active(), p);
    EXPECT_STREQ(p->name, "edited");

    // Other key name: the element is copied over the same block.
    ASSERT_EQ(config_->SetActiveConfig(1), S_OK);
    EXPECT_EQ(Active(), p);
    EXPECT_EQ(std::memcmp(p->name, e1.name, sizeof(e1.name)), 0);

    // Invalid index: nothing saved, the copy stays with the object.
    p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    ASSERT_EQ(config_->SetActiveConfig(5), S_OK);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    ASSERT_EQ(config_->SetActiveConfig(1), S_OK);
    EXPECT_EQ(Active(), p);
    EXPECT_EQ(p->flags, KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);

    // An index equal to the count acts like -1: a new profile, shown in the same block.
    ASSERT_EQ(config_->SetActiveConfig(2), S_OK);
    EXPECT_EQ(Active(), p);
    EXPECT_STREQ(p->name, "New configuration");
    ASSERT_EQ(config_->GetConfig(2, &e0), S_OK);

    // -1 hands the block to the client; the next call makes another profile in a new block.
    ASSERT_EQ(config_->SetActiveConfig(-1), S_OK);
    _KSCONFIG* second = Active();
    EXPECT_NE(second, p);
    SetText(p->name, "still mine");
    CoTaskMemFree(p);
    ASSERT_EQ(config_->GetConfig(3, &e0), S_OK);
    EXPECT_STREQ(e0.keyname, second->keyname);

    // Valid index without the save request: S_FALSE, nothing written, the block is freed and the
    // next call starts again from the list element.
    SetText(second->name, "unsaved");
    const auto before = DumpTree(kRoot);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    EXPECT_EQ(DumpTree(kRoot), before);
    EXPECT_STREQ(Active()->name, "New configuration");
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE) << "no copy: nothing to save";
}

TEST_F(ActiveConfigTest, SavingClearsTheRequestAndDropsMoireOnPlainBitonal) {
    const std::pair<LONG, LONG> cases[] = {{KSCNFGMODE_BITONAL, 0}, {KSCNFGMODE_BITONAL | KSCNFGMODE_TWAIN, 1}};
    for (const auto& [dataType, moire] : cases) {
        // A new profile, saved under the active scanner by an object other than the one that set it.
        Ref<IKeystrelConfig> editor = NewConfig();
        _KSCONFIG* p = Active(editor.get());
        const std::string key = profiles_ + "\\" + Text(p->keyname);
        p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_PDF);
        p->DataType = static_cast<_KSCNFGMODE>(dataType);
        p->Moire = 1;
        ASSERT_EQ(editor->StoreActiveConfig(), S_OK);
        EXPECT_EQ(GetDword(key, "Flags"), static_cast<DWORD>(KSCNFGFLAG_PDF));
        EXPECT_EQ(GetDword(key, "Moire"), static_cast<DWORD>(moire)) << dataType;

        // The list element is updated, and the next block is a fresh copy of it.
        _KSCONFIG element;
        ASSERT_EQ(editor->GetConfig(0, &element), S_OK);
        EXPECT_EQ(element.flags, KSCNFGFLAG_PDF);
        EXPECT_EQ(element.Moire, moire);
        EXPECT_EQ(std::memcmp(Active(editor.get()), &element, sizeof(element)), 0);
    }
}

TEST_F(ActiveConfigTest, ProfileWithoutKeyNameGetsOneWhenSavedAndIsNotDeletedBefore) {
    AddProfile("Keep", "keep");
    FakeDevice device(E_FAIL, nullptr);
    ASSERT_EQ(Load(), 1);
    _KSCONFIG* p = Active();
    ASSERT_EQ(p->keyname[0], '\0');
    EXPECT_EQ(config_->DeleteConfigInfo(1), S_OK);
    EXPECT_EQ(SubkeyNames(profiles_), std::vector<std::string>{"Keep"});

    // Saved under whichever scanner is active at the time of saving.
    p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    ASSERT_EQ(config_->SetActiveHardware(kScanner, const_cast<LPSTR>("Scanner 2")), S_OK);
    ASSERT_EQ(config_->StoreActiveConfig(), S_OK);
    _KSCONFIG element;
    ASSERT_EQ(config_->GetConfig(1, &element), S_OK);
    EXPECT_TRUE(IsGuidKeyName(Text(element.keyname)));
    EXPECT_TRUE(KeyExists(RootPath("Scanner 2\\ScanProfiles\\") + element.keyname));
    EXPECT_EQ(SubkeyNames(profiles_), std::vector<std::string>{"Keep"});
}

}  // namespace
}  // namespace kstest
