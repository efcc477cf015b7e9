// Scan profiles and button events in the registry: stored form, reading back, lists and look-ups.
#include <set>

#include "profiles_support.h"

namespace kstest {
namespace {

class ProfileStoreTest : public StoreTest {
protected:
    Ref<IKeystrelConfig> config_ = NewConfig();
    static std::string Profiles(const std::string& hw) { return RootPath(hw + "\\ScanProfiles"); }
    static std::string Events(const std::string& hw) { return RootPath(hw + "\\EventProfiles"); }

    // Loads the scan profiles of `hw` and returns the key names listed.
    std::set<std::string> Listed(const char* hw, LONG flags = KSCNFGFLAG_ALL) {
        LONG count = -1;
        EXPECT_EQ(config_->LoadConfigInfo(Bstr(hw).get(), static_cast<_KSCNFGFLAG>(flags), &count), S_OK);
        std::set<std::string> names;
        _KSCONFIG c;
        for (LONG i = 0; i < count; ++i) {
            EXPECT_EQ(config_->GetConfig(i, &c), S_OK);
            names.insert(Text(c.keyname));
        }
        return names;
    }
    LONG LoadEvents(const char* hw) {
        LONG count = -1;
        EXPECT_EQ(config_->LoadEventInfo(Bstr(hw).get(), &count), S_OK);
        return count;
    }
};

RegValue Sz(const char* text) { return RegValue{REG_SZ, std::vector<BYTE>(text, text + std::strlen(text) + 1)}; }

TEST_F(ProfileStoreTest, StoredProfileHas33NamedValuesReadsBackWholeAndGetsAGuidKeyNameWhenUnnamed) {
    // Every field distinctive, texts at their longest, garbage after short texts and in the
    // fields that are never stored.
    _KSCONFIG in;
    std::memset(&in, 0xA5, sizeof(in));
    // The number values in the order of their fields, "Flags" to "LinkConfig" (HasLinkConfig).
    const char* numbers[] = {"Flags", "DataType", "PixelBits", "Intensity", "Contrast", "Xresolution",
                             "Yresolution", "PageWidth", "PageHeight", "ScanHardware", "Duplex", "ColorDropOut",
                             "Negative", "Mirror", "Crop", "Deskew", "Moire", "Autorotate90", "UseToneMap",
                             "TMap Saturation", "TMap Sharpen", "TMap Hue", "TMap RedGamma", "TMap GreenGamma",
                             "TMap BlueGamma", "TMap GreyGamma", "ShowProgress", "LinkConfig"};
    static_assert(offsetof(_KSCONFIG, HasLinkConfig) == offsetof(_KSCONFIG, flags) + 4 * (std::size(numbers) - 1));
    auto number = [](DWORD i) { return 0x11000002u + 0x10000u * i; };  // Flags: TEXT
    for (DWORD i = 0; i < std::size(numbers); ++i) {
        const DWORD v = number(i);
        std::memcpy(reinterpret_cast<BYTE*>(&in) + offsetof(_KSCONFIG, flags) + 4 * i, &v, 4);
    }
    in.HasUIConfig = 0x22000744;
    SetText(in.keyname, "Profile A");
    SetText(in.name, std::string(63, 'N'));
    SetText(in.LinkConfig, std::string(255, 'L'));
    SetText(in.UIConfig, "ui profile");
    SetText(in.VRSConfig, std::string(511, 'V'));
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("Scanner 1").get(), &in), S_OK);

    const std::string key = Profiles("Scanner 1") + "\\Profile A";
    for (DWORD i = 0; i < std::size(numbers); ++i) EXPECT_EQ(GetDword(key, numbers[i]), number(i)) << numbers[i];
    EXPECT_EQ(GetDword(key, "UIConfig"), 0x22000744u);
    EXPECT_EQ(GetValue(key, "Name"), Sz(in.name));
    EXPECT_EQ(GetValue(key, "LinkInfo"), Sz(in.LinkConfig));
    EXPECT_EQ(GetValue(key, "UIInfo"), Sz(in.UIConfig));
    EXPECT_EQ(GetValue(key, "VRSConfig"), Sz(in.VRSConfig));
    EXPECT_EQ(ValueNames(key).size(), 33u);
    EXPECT_TRUE(SubkeyNames(key).empty());

    ASSERT_EQ(Listed("Scanner 1", KSCNFGFLAG_TEXT), std::set<std::string>{"Profile A"});
    _KSCONFIG out, want = in;
    std::memset(&out, 0x5A, sizeof(out));
    ASSERT_EQ(config_->GetConfig(0, &out), S_OK);
    std::memset(&want.hwguid, 0, sizeof(want.hwguid));
    std::memset(want.LinkSignature, 0, sizeof(want.LinkSignature));
    ClearAfterText(want.keyname);
    ClearAfterText(want.UIConfig);
    EXPECT_EQ(std::memcmp(&out, &want, sizeof(out)), 0);

    // No key name: a new GUID name, written back; storing again overwrites that key in place.
    in.keyname[0] = '\0';
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("Scanner 1").get(), &in), S_OK);
    const std::string made = Text(in.keyname), madeKey = Profiles("Scanner 1") + "\\" + made;
    EXPECT_TRUE(IsGuidKeyName(made)) << made;
    SetDword(madeKey, "Extra", 7);
    in.Crop = 99;
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("Scanner 1").get(), &in), S_OK);
    EXPECT_EQ(Text(in.keyname), made);
    EXPECT_EQ(SubkeyNames(Profiles("Scanner 1")).size(), 2u);
    EXPECT_EQ(GetDword(madeKey, "Crop"), 99u);
    EXPECT_EQ(GetDword(madeKey, "Extra"), 7u);
}

TEST_F(ProfileStoreTest, StoredEventHasSevenValuesAndReadsBackAfterTheNextLoad) {
    _KSEVENT in;
    std::memset(&in, 0xA5, sizeof(in));
    in.keyname[0] = '\0';
    SetText(in.name, std::string(31, 'n'));
    SetText(in.config, "*Scan*");
    SetText(in.Link, std::string(255, 'l'));
    in.flags = static_cast<_KSCNFGFLAG>(0x12345678);
    in.transfer = static_cast<_KSTRANSFER>(0x0BADF00D);
    in.JPGQuality = 0xFFFFFFF0u;
    in.PDFQuality = 42;
    EXPECT_EQ(config_->StoreEventInfo(Bstr("Group\\S").get(), &in), E_INVALIDARG) << "no key name";
    EXPECT_FALSE(KeyExists(RootPath("Group")));

    SetText(in.keyname, "Button 1");
    ASSERT_EQ(config_->StoreEventInfo(Bstr("Group\\S").get(), &in), S_OK);
    const std::string key = Events("Group\\S") + "\\Button 1";
    EXPECT_EQ(ValueNames(key).size(), 7u);
    EXPECT_EQ(GetValue(key, "Name"), Sz(in.name));
    EXPECT_EQ(GetValue(key, "ScanConfig"), Sz("*Scan*"));
    EXPECT_EQ(GetValue(key, "Link"), Sz(in.Link));
    EXPECT_EQ(GetDword(key, "Flags"), 0x12345678u);
    EXPECT_EQ(GetDword(key, "Transfer"), 0x0BADF00Du);
    EXPECT_EQ(GetDword(key, "JPGQuality"), 0xFFFFFFF0u);
    EXPECT_EQ(GetDword(key, "PDFQuality"), 42u);

    _KSEVENT out;
    EXPECT_EQ(config_->GetEvent(0, &out), E_INVALIDARG) << "the list changes only when loaded";
    ASSERT_EQ(LoadEvents("Group\\S"), 1);
    std::memset(&out, 0x5A, sizeof(out));
    ASSERT_EQ(config_->GetEvent(0, &out), S_OK);
    std::memset(&in.hwguid, 0, sizeof(in.hwguid));
    ClearAfterText(in.keyname);
    ClearAfterText(in.config);
    EXPECT_EQ(std::memcmp(&out, &in, sizeof(out)), 0);
}

// Texts must fit with their terminator or stay empty (event texts must also be strings); numbers
// take up to four bytes of any type.
TEST_F(ProfileStoreTest, ValuesAreReadWhateverTheirTypeWhenTheyFit) {
    // `field`: the bytes expected at `offset`, zero-padded to `size`.
    const struct {
        bool event;
        const char* value;
        DWORD type;
        std::string data;
        size_t offset, size;
        std::string field;
    } cases[] = {
        {false, "LinkInfo", REG_SZ, std::string(256, 'x') + '\0', offsetof(_KSCONFIG, LinkConfig), 256, ""},
        {false, "Name", REG_BINARY, std::string(64, 'y'), offsetof(_KSCONFIG, name), 64, std::string(63, 'y')},
        {false, "Name", REG_EXPAND_SZ, std::string("%T%\0tail", 8), offsetof(_KSCONFIG, name), 64, "%T%"},
        {false, "Name", REG_DWORD, "ABC", offsetof(_KSCONFIG, name), 64, "ABC"},
        {false, "Contrast", REG_BINARY, "\x01\x02\x03\x04\x05", offsetof(_KSCONFIG, Contrast), 4, ""},
        {false, "Contrast", REG_SZ, std::string("7\0", 2), offsetof(_KSCONFIG, Contrast), 4, "7"},
        {true, "Link", REG_SZ, std::string(256, 'x') + '\0', offsetof(_KSEVENT, Link), 256, ""},
        {true, "Name", REG_EXPAND_SZ, std::string("%T%\0", 4), offsetof(_KSEVENT, name), 32, "%T%"},
        {true, "Name", REG_BINARY, std::string("abc\0", 4), offsetof(_KSEVENT, name), 32, ""},
        {true, "Flags", REG_BINARY, "\x01\x02\x03\x04", offsetof(_KSEVENT, flags), 4, "\x01\x02\x03\x04"},
    };
    for (const auto& c : cases) {
        DeleteKeyTree(RootPath("S"));
        const std::string key = (c.event ? Events("S") : Profiles("S")) + "\\P";
        SetDword(key, "Flags", KSCNFGFLAG_SHOWALL);
        SetValue(key, c.value, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        _KSCONFIG p{};
        _KSEVENT e{};
        ASSERT_EQ(c.event ? LoadEvents("S") : static_cast<LONG>(Listed("S", 0).size()), 1);
        ASSERT_EQ(c.event ? config_->GetEvent(0, &e) : config_->GetConfig(0, &p), S_OK);
        const char* got = c.event ? reinterpret_cast<const char*>(&e) : reinterpret_cast<const char*>(&p);
        std::string want = c.field;
        want.resize(c.size, '\0');
        EXPECT_EQ(std::string(got + c.offset, c.size), want) << c.value << " type " << c.type << ", " << c.data.size();
    }
}

TEST_F(ProfileStoreTest, FilterListsShowAllAndSharedTypeBitsOnly) {
    const std::pair<const char*, DWORD> profiles[] = {
        {"none", 0}, {"images", KSCNFGFLAG_IMAGES}, {"textpdf", KSCNFGFLAG_TEXT | KSCNFGFLAG_PDF},
        {"showall", KSCNFGFLAG_SHOWALL}, {"sti", KSCNFGFLAG_STI}, {"mkcopy", KSCNFGFLAG_MKCOPY},
    };
    for (const auto& [name, flags] : profiles) SetDword(Profiles("S") + "\\" + name, "Flags", flags);
    const std::pair<LONG, std::set<std::string>> cases[] = {
        {KSCNFGFLAG_ALL, {"images", "textpdf", "showall", "sti"}},
        {KSCNFGFLAG_TEXT, {"textpdf", "showall"}},
        {0, {"showall"}},
        {KSCNFGFLAG_MKCOPY | KSCNFGFLAG_SAVE, {"showall"}},  // bits outside the type bits select nothing
        {KSCNFGFLAG_IMAGES | KSCNFGFLAG_STI, {"images", "showall", "sti"}},
        {-1, {"images", "textpdf", "showall", "sti"}},
    };
    for (const auto& [flags, want] : cases) EXPECT_EQ(Listed("S", flags), want) << std::hex << flags;
}

TEST_F(ProfileStoreTest, LoadKeepsTheOldListWhenTheKeyIsMissingAndSkipsOverlongNames) {
    const std::string fits(39, 'k'), event(31, 'e');
    for (const std::string& name : {std::string("P1"), fits, fits + 'k'})
        SetDword(Profiles("A") + "\\" + name, "Flags", KSCNFGFLAG_SHOWALL);
    CreateKeyPath(Events("A") + "\\" + event);
    CreateKeyPath(Events("A") + "\\" + event + 'e');
    EXPECT_EQ(Listed("A", 0), (std::set<std::string>{"P1", fits}));
    ASSERT_EQ(LoadEvents("A"), 1);
    _KSEVENT e, want{};
    ASSERT_EQ(config_->GetEvent(0, &e), S_OK);
    SetText(want.keyname, event);
    EXPECT_EQ(std::memcmp(&e, &want, sizeof(e)), 0) << "a key without values gives only its name";

    EXPECT_TRUE(Listed("Missing").empty());
    EXPECT_EQ(LoadEvents("Missing"), 0);
    _KSCONFIG p;
    EXPECT_EQ(config_->GetConfig(1, &p), S_OK) << "the earlier list stays";
    EXPECT_EQ(config_->GetConfig(2, &p), E_INVALIDARG);
    EXPECT_EQ(config_->GetConfig(-1, &p), E_INVALIDARG);
    EXPECT_EQ(config_->GetEvent(0, &e), S_OK);
    EXPECT_EQ(config_->GetEvent(-1, &e), E_INVALIDARG);

    CreateKeyPath(Profiles("Empty"));
    CreateKeyPath(Events("Empty"));
    EXPECT_TRUE(Listed("Empty").empty());
    EXPECT_EQ(config_->GetConfig(0, &p), E_INVALIDARG) << "an existing key empties the list";
    EXPECT_EQ(LoadEvents("Empty"), 0);
    std::memset(&e, 0x5A, sizeof(e));
    EXPECT_EQ(config_->GetEvent(0, &e), E_INVALIDARG);
    EXPECT_EQ(static_cast<BYTE>(e.name[0]), 0x5A) << "a failed read leaves the record alone";
}

TEST_F(ProfileStoreTest, DetailsMatchKeyNamesIgnoringCaseAndNeverDisplayNames) {
    SetDword(Profiles("S") + "\\Office Scan", "Flags", KSCNFGFLAG_IMAGES);
    SetString(Profiles("S") + "\\Office Scan", "Name", "Display");
    SetDword(Profiles("S") + "\\Shown", "Flags", KSCNFGFLAG_SHOWALL);
    SetDword(Profiles("S") + "\\Untyped", "Flags", KSCNFGFLAG_MKCOPY);
    SetString(Events("S") + "\\Office Scan", "Name", "Display");
    SetString(Events("Deep\\Er") + "\\B", "Name", "deep");
    const struct { bool event; const char* hw; const char* name; HRESULT hr; } cases[] = {
        {false, "S", "OFFICE scan", S_OK}, {false, "S", "Shown", S_OK}, {false, "S", "Display", E_INVALIDARG},
        {false, "S", "Untyped", E_INVALIDARG}, {false, "S", nullptr, E_INVALIDARG},
        {false, "Nope", "Office Scan", E_INVALIDARG}, {true, "S", "office SCAN", S_OK},
        {true, "S", "Display", E_INVALIDARG}, {true, "S", "Office", E_INVALIDARG}, {true, "S", nullptr, E_INVALIDARG},
        {true, "Deep\\Er", "b", S_OK}, {true, "Nope", "Office Scan", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        _KSCONFIG p{};
        _KSEVENT e{};
        LPSTR hw = const_cast<LPSTR>(c.hw), name = const_cast<LPSTR>(c.name);
        HRESULT hr = c.event ? config_->GetEventDetails(hw, name, &e) : config_->GetConfigDetails(hw, name, &p);
        EXPECT_EQ(hr, c.hr) << c.event << " " << c.hw << "/" << (c.name ? c.name : "(null)");
        if (hr == S_OK) { EXPECT_EQ(_stricmp(c.event ? e.keyname : p.keyname, c.name), 0); }
    }
    // The profile search reloaded the list with every typed profile of "S".
    _KSCONFIG p;
    EXPECT_EQ(config_->GetConfig(1, &p), S_OK);
    EXPECT_EQ(config_->GetConfig(2, &p), E_INVALIDARG);
}

TEST_F(ProfileStoreTest, DeleteUsesTheActiveHardwareOfTheProcessNotTheLoadedDevice) {
    for (const char* hw : {"A", "Group\\Deep"}) {
        SetDword(Profiles(hw) + "\\P1\\Sub", "X", 1);  // deleted with its subkeys
        SetDword(Profiles(hw) + "\\P1", "Flags", KSCNFGFLAG_IMAGES);
        SetDword(Profiles(hw) + "\\P2", "Flags", KSCNFGFLAG_IMAGES);
    }
    ASSERT_EQ(Listed("A").size(), 2u);
    _KSCONFIG first, again;
    ASSERT_EQ(config_->GetConfig(0, &first), S_OK);
    const std::string victim = Text(first.keyname);

    // Another object names the active scanner; this object's delete follows it.
    ASSERT_EQ(NewConfig()->SetActiveHardware(GUID_NULL, const_cast<LPSTR>("Group\\Deep")), S_OK);
    EXPECT_EQ(config_->DeleteConfigInfo(0), S_OK);
    EXPECT_EQ(SubkeyNames(Profiles("Group\\Deep")).size(), 1u);
    EXPECT_FALSE(KeyExists(Profiles("Group\\Deep") + "\\" + victim));
    EXPECT_TRUE(KeyExists(Profiles("A") + "\\" + victim));
    EXPECT_EQ(config_->GetConfig(0, &again), S_OK) << "the list keeps the deleted profile";
    EXPECT_EQ(std::memcmp(&first, &again, sizeof(first)), 0);
    EXPECT_EQ(config_->DeleteConfigInfo(2), E_INVALIDARG);
    EXPECT_EQ(config_->DeleteConfigInfo(-1), E_INVALIDARG);
}

}  // namespace
}  // namespace kstest
