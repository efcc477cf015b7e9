// Scan profiles and button events: stored form, reading back, lists, look-ups and the active profile.
#include <cstring>
#include <set>

#include "support/ks_test.h"

// Records are written with designated initializers: every member left out is zero, as intended.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kstest {
namespace {


constexpr GUID kScanner = {0x6d0e5c1a, 0x33f2, 0x4b7a, {0x8c, 0x41, 0x0f, 0x9e, 0x2a, 0x6b, 0x77, 0x15}};

void SetText(char* field, const std::string& text) { std::memcpy(field, text.c_str(), text.size() + 1); }
// The key name the store makes: a GUID in registry form, braces replaced by '*'.
bool IsGuidKeyName(const std::string& n) { return n.size() == 38 && n[0] == '*' && n[24] == '-' && n[37] == '*'; }

class ProfilesTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        ASSERT_EQ(config_->SetActiveHardware(kScanner, const_cast<LPSTR>("Scanner 1")), S_OK);
    }
    static std::string Profiles(const std::string& hw) { return RootPath(hw + "\\ScanProfiles"); }
    static std::string Events(const std::string& hw) { return RootPath(hw + "\\EventProfiles"); }

    // Loads the scan profiles of `hw` and returns the key names listed.
    std::set<std::string> Listed(const char* hw, LONG flags = KSCNFGFLAG_ALL) {
        LONG count = -1;
        EXPECT_EQ(config_->LoadConfigInfo(Bstr(hw).get(), static_cast<_KSCNFGFLAG>(flags), &count), S_OK);
        std::set<std::string> names;
        _KSCONFIG c;
        for (LONG i = 0; i < count; ++i) names.insert(config_->GetConfig(i, &c) == S_OK ? c.keyname : "?");
        return names;
    }
    _KSCONFIG* Active() {
        _KSCONFIG* p = reinterpret_cast<_KSCONFIG*>(1);
        EXPECT_EQ(config_->GetActiveConfig(&p), S_OK);
        return p;
    }
};

// Every stored field distinctive: numbers counted up from "Flags", texts at their longest but the
// name, short with garbage after it. What is never stored (the GUID, the link signature, bytes
// after a text) reads back as zeros.
TEST_F(ProfilesTest, RecordsStoreEveryFieldAndReadBackWhole) {
    _KSCONFIG in{.hwguid = kScanner}, out;
    SetText(in.keyname, "Profile A");
    std::memset(in.name, 'x', sizeof(in.name) - 1);
    SetText(in.name, "Short");
    std::memset(in.LinkConfig, 'L', sizeof(in.LinkConfig) - 1);
    std::memset(in.LinkSignature, 'S', sizeof(in.LinkSignature));
    std::memset(in.UIConfig, 'U', sizeof(in.UIConfig) - 1);
    std::memset(in.VRSConfig, 'V', sizeof(in.VRSConfig) - 1);
    DWORD number = 0x11000002;
    for (LONG* n = reinterpret_cast<LONG*>(&in.flags); n <= &in.HasLinkConfig; ++n, number += 0x10000) *n = number;
    in.HasUIConfig = number;
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("S").get(), &in), S_OK);
    const std::string key = Profiles("S") + "\\Profile A";
    EXPECT_EQ(GetString(key, "Name"), "Short") << "only the text goes out";
    // Shipped profiles know "LinkInfo" as the text and "LinkConfig" as its switch.
    EXPECT_EQ(GetString(key, "LinkInfo"), std::string(255, 'L'));
    EXPECT_EQ(GetDword(key, "LinkConfig"), static_cast<DWORD>(in.HasLinkConfig));
    in.hwguid = GUID_NULL;
    std::memset(in.name + 6, 0, sizeof(in.name) - 6);
    std::memset(in.LinkSignature, 0, sizeof(in.LinkSignature));
    ASSERT_EQ(config_->GetConfigDetails(const_cast<LPSTR>("S"), const_cast<LPSTR>("Profile A"), &out), S_OK);
    EXPECT_EQ(std::memcmp(&out, &in, sizeof(out)), 0);
    // No key name: a new GUID name, written back, so storing again writes over that key.
    in.keyname[0] = '\0';
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("S").get(), &in), S_OK);
    EXPECT_TRUE(IsGuidKeyName(in.keyname)) << in.keyname;
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("S").get(), &in), S_OK);
    EXPECT_EQ(SubkeyNames(Profiles("S")).size(), 2u);

    // Events likewise, texts at their longest; the GUID is never stored. A name without its
    // terminator (the next byte is zero) is stored cut to fit with one.
    _KSEVENT event{.hwguid = kScanner, .flags = static_cast<_KSCNFGFLAG>(0x21000100),
                   .transfer = static_cast<_KSTRANSFER>(0x21000002), .JPGQuality = 0x21000003,
                   .PDFQuality = 0x21000004}, got;
    SetText(event.keyname, "Button 1");
    std::memset(event.name, 'N', sizeof(event.name));
    std::memset(event.config, 'C', sizeof(event.config) - 1);
    std::memset(event.Link, 'K', sizeof(event.Link) - 1);
    ASSERT_EQ(config_->StoreEventInfo(Bstr("Group\\S").get(), &event), S_OK);
    event.hwguid = GUID_NULL;
    event.name[31] = '\0';
    // Found by key name whatever its case, as profiles are.
    ASSERT_EQ(config_->GetEventDetails(const_cast<LPSTR>("Group\\S"), const_cast<LPSTR>("BUTTON 1"), &got), S_OK);
    EXPECT_EQ(std::memcmp(&got, &event, sizeof(got)), 0);
    CreateKeyPath(Events("Empty"));
    EXPECT_EQ(config_->GetEventDetails(const_cast<LPSTR>("Empty"), event.keyname, &got), E_INVALIDARG)
        << "an existing key empties the list";
    event.keyname[0] = '\0';
    EXPECT_EQ(config_->StoreEventInfo(Bstr("Other").get(), &event), E_INVALIDARG) << "no key name";
}

// Listed: profiles that ask to be shown always or share a type bit with the request; key names of
// at most 39 characters (the shown-always one is at that limit; one longer, whose cut-short name
// would be new, never lists). A missing key keeps the list loaded before; an empty one empties it.
TEST_F(ProfilesTest, LoadFiltersByShowAllOrSharedTypeBitsAndKeepsTheListWhenTheKeyIsMissing) {
    const std::string all(39, 'k');
    const std::pair<std::string, DWORD> profiles[] = {{"none", 0}, {"images", KSCNFGFLAG_IMAGES},
        {"textpdf", KSCNFGFLAG_TEXT | KSCNFGFLAG_PDF}, {all, KSCNFGFLAG_SHOWALL}, {"sti", KSCNFGFLAG_STI},
        {std::string(39, 'm') + 'k', KSCNFGFLAG_SHOWALL}, {"mkcopy", KSCNFGFLAG_MKCOPY}};
    for (const auto& [name, flags] : profiles) SetDword(Profiles("S") + "\\" + name, "Flags", flags);
    const std::pair<LONG, std::set<std::string>> cases[] = {
        {KSCNFGFLAG_ALL, {"images", "textpdf", all, "sti"}}, {KSCNFGFLAG_TEXT, {"textpdf", all}},
        {0, {all}}, {KSCNFGFLAG_MKCOPY | KSCNFGFLAG_SAVE, {all}},  // other bits select nothing
        {KSCNFGFLAG_IMAGES | KSCNFGFLAG_STI, {"images", all, "sti"}}};
    for (const auto& [flags, want] : cases) EXPECT_EQ(Listed("S", flags), want) << std::hex << flags;

    EXPECT_TRUE(Listed("Missing").empty());
    _KSCONFIG p;
    EXPECT_EQ(config_->GetConfig(0, &p), S_OK) << "the earlier list stays";
    CreateKeyPath(Profiles("Empty"));
    EXPECT_TRUE(Listed("Empty").empty()) << "an existing key empties the list";
}

// Events are found by the same search (their case-blind hit is in the records test above).
TEST_F(ProfilesTest, DetailsMatchKeyNamesIgnoringCaseAndNeverDisplayNames) {
    SetDword(Profiles("S") + "\\Office Scan", "Flags", KSCNFGFLAG_IMAGES);
    SetDword(Profiles("S") + "\\Untyped", "Flags", KSCNFGFLAG_MKCOPY);
    SetString(Profiles("S") + "\\Office Scan", "Name", "Display");
    const struct { const char* hw; const char* name; HRESULT hr; } cases[] = {
        {"S", "OFFICE scan", S_OK}, {"S", "Display", E_INVALIDARG}, {"S", "Office", E_INVALIDARG},
        {"S", "Untyped", E_INVALIDARG}, {"S", nullptr, E_INVALIDARG}, {"Nope", "Office Scan", E_INVALIDARG}};
    for (const auto& c : cases) {
        _KSCONFIG got{};
        HRESULT hr = config_->GetConfigDetails(const_cast<LPSTR>(c.hw), const_cast<LPSTR>(c.name), &got);
        EXPECT_EQ(hr, c.hr) << c.hw << "/" << (c.name ? c.name : "(null)");
        if (hr == S_OK) { EXPECT_STREQ(got.keyname, "Office Scan"); }
    }
}

TEST_F(ProfilesTest, DeleteUsesTheActiveHardwareOfTheProcessNotTheLoadedDevice) {
    for (const char* hw : {"A", "Group\\Deep"})
        for (const char* key : {"P1\\Sub", "P1", "P2"}) SetDword(Profiles(hw) + "\\" + key, "Flags", 1);
    ASSERT_EQ(Listed("A"), (std::set<std::string>{"P1", "P2"}));
    // Another object names the active scanner; this object's delete follows it, subkeys and all.
    ASSERT_EQ(NewConfig()->SetActiveHardware(GUID_NULL, const_cast<LPSTR>("Group\\Deep")), S_OK);
    EXPECT_EQ(config_->DeleteConfigInfo(0), S_OK);
    EXPECT_EQ(SubkeyNames(Profiles("Group\\Deep")), std::vector<std::string>{"P2"});
    EXPECT_EQ(SubkeyNames(Profiles("A")).size(), 2u);
    for (LONG bad : {2, -1}) EXPECT_EQ(config_->DeleteConfigInfo(bad), E_INVALIDARG);
}

// With nothing listed, the new profile is named from the resource and preset by the scanner's
// component (page sizes in thousandths of an inch, cut toward zero), which is released. Avoiding
// listed key names is in the active-copy test below. The component is asked without the object's
// lock: calls from another thread go through meanwhile.
TEST_F(ProfilesTest, NewProfileIsNamedFromTheResourceAndPresetByTheDeviceComponent) {
    FakeComponent device(kScanner);
    device.defaults = {.DataType = KSCNFGMODE_COLOR, .PixelBits = 24, .Intensity = -5, .Contrast = 7,
                       .Xresolution = 300, .Yresolution = 200, .Width = 8500, .Height = 11000, .ScanHardware = 3,
                       .Duplex = 1, .ColorDropOut = 2, .Negative = 4, .Mirror = 5};
    device.callBack = config_.get();
    const ULONG registered = device.refs;
    _KSCONFIG* p = Active();
    EXPECT_EQ(device.refs, registered) << "the device object is released";
    _KSCONFIG w{.hwguid = kScanner, .DataType = KSCNFGMODE_COLOR, .PixelBits = 24, .Intensity = -5, .Contrast = 7,
                .Xresolution = 300, .Yresolution = 200, .PageWidth = 28333, .PageHeight = 55000, .ScanHardware = 3,
                .Duplex = 1, .ColorDropOut = 2, .Negative = 4, .Mirror = 5, .ShowProgress = 1};
    SetText(w.keyname, p->keyname);
    SetText(w.name, "New configuration");
    EXPECT_EQ(std::memcmp(p, &w, sizeof(w)), 0);
    EXPECT_TRUE(IsGuidKeyName(p->keyname)) << p->keyname;
}

// Before each selection the current copy is edited; the row says whether the next GetActiveConfig
// hands out the same block and which name it then shows. New profiles avoid the listed key names
// (case-sensitively; the lower-case one does not count), and nothing is written until a save.
TEST_F(ProfilesTest, ActiveCopyFollowsTheOwnershipTableAndIsSavedOnRequestOnly) {
    for (const char* key : {"*New configuration*", "*new configuration0*"})
        SetDword(Profiles("Scanner 1") + "\\" + key, "Flags", KSCNFGFLAG_IMAGES);
    SetString(Profiles("Scanner 1") + "\\*new configuration0*", "Name", "one");
    ASSERT_EQ(Listed("Scanner 1").size(), 2u);
    const auto before = DumpTree(kRoot);
    const struct { LONG select; bool sameBlock; const char* name; const char* rule; } rows[] = {
        {0, false, "", "valid index, no copy: a new block holding the element"},
        {0, true, "edited", "same key name: the same block, edits kept"},
        {1, true, "one", "other key name: the element copied over the same block"},
        {5, true, "New configuration0", "no valid index: a new profile, appended, in the same block"},
        {2, true, "edited", "the new profile's index: same key name"},
        {3, true, "New configuration0", "an index equal to the count is no valid index"},
        {-1, false, "New configuration0", "-1: the block is the client's; another profile in a new block"},
    };
    _KSCONFIG* p = nullptr;
    for (const auto& row : rows) {
        if (p != nullptr) SetText(p->name, "edited");
        ASSERT_EQ(config_->SetActiveConfig(row.select), S_OK) << row.rule;
        _KSCONFIG* now = Active();
        EXPECT_EQ(now == p, row.sameBlock) << row.rule;
        EXPECT_STREQ(now->name, row.name) << row.rule;
        if (row.select == -1) CoTaskMemFree(p);
        p = now;
    }
    // No valid index: nothing saved, the copy stays. A valid one without a save request: nothing
    // written and the copy freed, so the next store has nothing to save.
    p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    ASSERT_EQ(config_->SetActiveConfig(9), S_OK);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    ASSERT_EQ(config_->SetActiveConfig(4), S_OK);
    EXPECT_EQ(Active(), p);
    p->flags = KSCNFGFLAG_IMAGES;
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    EXPECT_EQ(DumpTree(kRoot), before);
    // Saving under the active scanner clears the request, drops the moire filter on plain bitonal
    // scans only, and updates the list element the next copy is made from.
    const std::pair<LONG, LONG> saves[] = {{KSCNFGMODE_BITONAL, 0}, {KSCNFGMODE_BITONAL | KSCNFGMODE_TWAIN, 1}};
    for (const auto& [dataType, moire] : saves) {
        p = Active();
        const std::string key = Profiles("Scanner 1") + "\\" + p->keyname;
        p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_PDF);
        p->DataType = static_cast<_KSCNFGMODE>(dataType);
        p->Moire = 1;
        ASSERT_EQ(config_->StoreActiveConfig(), S_OK);
        EXPECT_EQ(GetDword(key, "Flags"), static_cast<DWORD>(KSCNFGFLAG_PDF));
        EXPECT_EQ(GetDword(key, "Moire"), static_cast<DWORD>(moire)) << dataType;
        EXPECT_EQ(Active()->flags, KSCNFGFLAG_PDF);
    }
}

}  // namespace
}  // namespace kstest
