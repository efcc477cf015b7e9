// The active profile: the block handed to the client, new profiles, and saving.
#include <climits>

#include "profiles_support.h"

namespace kstest {
namespace {

constexpr GUID kScanner = {0x6d0e5c1a, 0x33f2, 0x4b7a, {0x8c, 0x41, 0x0f, 0x9e, 0x2a, 0x6b, 0x77, 0x15}};

class ActiveConfigTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(config_->SetActiveHardware(kScanner, const_cast<LPSTR>("Scanner 1")), S_OK);
    }
    Ref<IKeystrelConfig> config_ = NewConfig();
    const std::string profiles_ = RootPath("Scanner 1\\ScanProfiles");

    _KSCONFIG* Active() {
        _KSCONFIG* p = reinterpret_cast<_KSCONFIG*>(1);
        EXPECT_EQ(config_->GetActiveConfig(&p), S_OK);
        return p;
    }
    LONG Load(LONG flags = KSCNFGFLAG_ALL) {
        LONG count = -1;
        EXPECT_EQ(config_->LoadConfigInfo(Bstr("Scanner 1").get(), static_cast<_KSCNFGFLAG>(flags), &count), S_OK);
        return count;
    }
    void AddProfile(const std::string& key, const char* name) {
        SetDword(profiles_ + "\\" + key, "Flags", KSCNFGFLAG_IMAGES);
        SetString(profiles_ + "\\" + key, "Name", name);
    }
};

TEST_F(ActiveConfigTest, NewProfileIsNamedFromTheResourceAndAvoidsTakenKeyNames) {
    const struct {
        std::vector<std::string> keys;
        const char* name;
    } cases[] = {
        {{}, "New configuration"},
        {{"*New configuration0*", "*new configuration*"}, "New configuration"},
        {{"*New configuration*"}, "New configuration0"},
        {{"*New configuration0*", "*New configuration*"}, "New configuration1"},
    };
    for (const auto& c : cases) {
        DeleteKeyTree(profiles_);
        CreateKeyPath(profiles_);
        for (const std::string& key : c.keys) AddProfile(key, "x");
        Ref<IKeystrelConfig> fresh = NewConfig();
        LONG count = 0;
        ASSERT_EQ(fresh->LoadConfigInfo(Bstr("Scanner 1").get(), KSCNFGFLAG_ALL, &count), S_OK);
        _KSCONFIG* p = nullptr;
        ASSERT_EQ(fresh->GetActiveConfig(&p), S_OK);
        EXPECT_STREQ(p->name, c.name);
        EXPECT_TRUE(IsGuidKeyName(Text(p->keyname))) << p->keyname;
        EXPECT_TRUE(IsEqualGUID(p->hwguid, kScanner));
        EXPECT_EQ(p->flags, 0);
        EXPECT_EQ(p->ShowProgress, 0) << "no component is registered for the scanner";
        // Appended to the list and made active; nothing is written yet.
        _KSCONFIG element;
        ASSERT_EQ(fresh->GetConfig(count, &element), S_OK);
        EXPECT_EQ(std::memcmp(&element, p, sizeof(element)), 0);
        EXPECT_EQ(fresh->GetConfig(count + 1, &element), E_INVALIDARG);
        EXPECT_EQ(SubkeyNames(profiles_).size(), c.keys.size());
        ASSERT_EQ(fresh->SetActiveConfig(-1), S_OK);
        CoTaskMemFree(p);  // forgotten by the object: ours now
    }
}

TEST_F(ActiveConfigTest, DeviceComponentPresetsTheNewProfile) {
    _KSDEVICEDEFAULTS block{};
    block.DataType = KSCNFGMODE_COLOR;
    block.PixelBits = 24;
    block.Intensity = -5;
    block.Contrast = 7;
    block.Xresolution = 300;
    block.Yresolution = 200;
    block.Width = 8500;
    block.Height = 11000;
    block.ScanHardware = 3;
    block.Duplex = 1;
    block.ColorDropOut = 2;
    block.Negative = 4;
    block.Mirror = 5;
    std::fill(std::begin(block.Reserved0), std::end(block.Reserved0), 0x77);

    struct Case {
        const char* what;
        HRESULT result;
        bool giveBlock;
        LONG width, xres;
        bool preset, keyed;
        LONG pageWidth;
    } cases[] = {
        {"block", S_OK, true, 8500, 300, true, true, 28333},
        {"truncated", S_OK, true, 1, 3, true, true, 333},
        {"negative", S_OK, true, -1, 3, true, true, -333},
        {"zero resolution", S_OK, true, 8500, 0, true, true, 0},
        {"wrapping product", S_OK, true, 2147484, 1, true, true, -2147483296},
        {"quotient overflow", S_OK, true, 268435456, -1, true, true, 0},
        {"no block", S_FALSE, false, 0, 0, false, true, 0},
        {"failure", E_FAIL, false, 0, 0, false, false, 0},
    };
    for (const Case& c : cases) {
        block.Width = c.width;
        block.Xresolution = c.xres;
        FakeDeviceComponent device(kScanner, DeviceBehaviour{c.result, c.giveBlock, block});
        Ref<IKeystrelConfig> fresh = NewConfig();
        _KSCONFIG* p = nullptr;
        ASSERT_EQ(fresh->GetActiveConfig(&p), S_OK) << c.what;
        EXPECT_EQ(device.calls, 1) << c.what;
        EXPECT_EQ(device.deviceRefs, 0) << c.what << ": the device object is released";
        _KSCONFIG want;
        std::memset(&want, 0, sizeof(want));
        want.hwguid = kScanner;
        SetText(want.keyname, p->keyname);
        SetText(want.name, "New configuration");
        if (c.preset) {
            want.DataType = KSCNFGMODE_COLOR;
            want.PixelBits = 24;
            want.Intensity = -5;
            want.Contrast = 7;
            want.Xresolution = c.xres;
            want.Yresolution = 200;
            want.PageWidth = c.pageWidth;
            want.PageHeight = 55000;
            want.ScanHardware = 3;
            want.Duplex = 1;
            want.ColorDropOut = 2;
            want.Negative = 4;
            want.Mirror = 5;
            want.ShowProgress = 1;
        }
        EXPECT_EQ(std::memcmp(p, &want, sizeof(want)), 0) << c.what;
        EXPECT_EQ(p->PageWidth, c.pageWidth) << c.what;
        EXPECT_EQ(IsGuidKeyName(Text(p->keyname)), c.keyed) << c.what << ": " << p->keyname;
        fresh->SetActiveConfig(-1);
        CoTaskMemFree(p);
    }
}

TEST_F(ActiveConfigTest, NoActiveHardwareGivesZeroSettingsAndNullGuid) {
    ASSERT_EQ(config_->SetActiveHardware(GUID_NULL, nullptr), S_OK);
    _KSCONFIG* p = Active();
    EXPECT_TRUE(IsEqualGUID(p->hwguid, GUID_NULL));
    EXPECT_TRUE(IsGuidKeyName(Text(p->keyname)));
    EXPECT_EQ(p->ShowProgress, 0);
    EXPECT_EQ(p->Xresolution, 0);
    config_->SetActiveConfig(-1);
    CoTaskMemFree(p);
}

TEST_F(ActiveConfigTest, CopyFollowsTheOwnershipTable) {
    AddProfile("P0", "zero");
    AddProfile("P1", "one");
    ASSERT_EQ(Load(), 2);
    _KSCONFIG e0, e1;
    ASSERT_EQ(config_->GetConfig(0, &e0), S_OK);
    ASSERT_EQ(config_->GetConfig(1, &e1), S_OK);
    EXPECT_TRUE(IsEqualGUID(e0.hwguid, GUID_NULL));

    // Valid index, no copy: a new block holding the element, stamped with the active GUID.
    ASSERT_EQ(config_->SetActiveConfig(0), S_OK);
    _KSCONFIG* p = Active();
    EXPECT_STREQ(p->keyname, e0.keyname);
    EXPECT_TRUE(IsEqualGUID(p->hwguid, kScanner));
    ASSERT_EQ(config_->GetConfig(0, &e0), S_OK);
    EXPECT_TRUE(IsEqualGUID(e0.hwguid, kScanner)) << "the list element is stamped too";

    // Same key name: the same block, edits kept.
    SetText(p->name, "edited");
    EXPECT_EQ(Active(), p);
    EXPECT_STREQ(p->name, "edited");

    // Other key name: the element is copied over the same block.
    ASSERT_EQ(config_->SetActiveConfig(1), S_OK);
    EXPECT_EQ(Active(), p);
    EXPECT_STREQ(p->keyname, e1.keyname);
    EXPECT_STREQ(p->name, Text(e1.name).c_str());

    // Invalid index: nothing saved, the copy stays with the object.
    p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    ASSERT_EQ(config_->SetActiveConfig(2), S_OK);
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

    // Valid index without the save request: S_FALSE, nothing written, the block is gone and
    // the next call starts again from the list element.
    SetText(second->name, "unsaved");
    const auto before = DumpTree(kRoot);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    EXPECT_EQ(DumpTree(kRoot), before);
    _KSCONFIG* third = Active();
    EXPECT_STREQ(third->name, "New configuration");
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE) << "no copy: nothing to save";
}

TEST_F(ActiveConfigTest, SavingClearsTheRequestAndAppliesTheMoireRule) {
    const struct {
        LONG dataType;
        LONG moire;
    } cases[] = {
        {KSCNFGMODE_BITONAL, 0},
        {KSCNFGMODE_BITONAL | KSCNFGMODE_TWAIN, 1},
        {KSCNFGMODE_GREY, 1},
    };
    for (const auto& c : cases) {
        // A new profile saved under the active scanner; the object that edits it is another one.
        Ref<IKeystrelConfig> editor = NewConfig();
        _KSCONFIG* p = nullptr;
        ASSERT_EQ(editor->GetActiveConfig(&p), S_OK);
        const std::string key = Text(p->keyname);
        p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_PDF);
        p->DataType = static_cast<_KSCNFGMODE>(c.dataType);
        p->Moire = 1;
        SetText(p->name, "Saved");
        ASSERT_EQ(editor->StoreActiveConfig(), S_OK);

        const std::string stored = profiles_ + "\\" + key;
        EXPECT_EQ(GetDword(stored, "Flags"), static_cast<DWORD>(KSCNFGFLAG_PDF));
        EXPECT_EQ(GetDword(stored, "Moire"), static_cast<DWORD>(c.moire)) << c.dataType;
        EXPECT_EQ(GetString(stored, "Name"), "Saved");
        _KSCONFIG element;
        ASSERT_EQ(editor->GetConfig(0, &element), S_OK);
        EXPECT_EQ(element.flags, KSCNFGFLAG_PDF);
        EXPECT_EQ(element.Moire, c.moire);
        EXPECT_STREQ(element.name, "Saved");

        // The next block is a fresh copy of the saved element.
        _KSCONFIG* again = nullptr;
        ASSERT_EQ(editor->GetActiveConfig(&again), S_OK);
        EXPECT_EQ(std::memcmp(again, &element, sizeof(element)), 0);
        editor->SetActiveConfig(-1);
        CoTaskMemFree(again);
    }
}

TEST_F(ActiveConfigTest, ProfileWithoutKeyNameGetsOneWhenSavedAndIsNotDeletedBefore) {
    AddProfile("Keep", "keep");
    FakeDeviceComponent device(kScanner, DeviceBehaviour{E_FAIL, false, {}});
    ASSERT_EQ(Load(), 1);
    _KSCONFIG* p = Active();
    ASSERT_EQ(p->keyname[0], '\0');
    EXPECT_EQ(config_->DeleteConfigInfo(1), S_OK);
    EXPECT_EQ(SubkeyNames(profiles_), std::vector<std::string>{"Keep"});

    p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    // Saved under whichever scanner is active at the time of saving.
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
