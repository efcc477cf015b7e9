// Scan profiles in the registry: the stored form, reading it back, the list and its look-ups.
#include <algorithm>
#include <set>

#include "profiles_support.h"

namespace kstest {
namespace {

class ScanProfilesTest : public StoreTest {
protected:
    Ref<IKeystrelConfig> config_ = NewConfig();

    std::string Profiles(const std::string& hw) { return RootPath(hw + "\\ScanProfiles"); }

    // Loads `hw` and returns the key names listed.
    std::set<std::string> Listed(const char* hw, LONG flags) {
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
};

// Every field distinctive, texts at their longest, garbage after short texts and in the fields
// that are never stored.
_KSCONFIG DistinctProfile(const char* keyname) {
    _KSCONFIG c;
    std::memset(&c, 0xA5, sizeof(c));
    SetText(c.keyname, keyname);
    SetText(c.name, std::string(63, 'N'));
    SetText(c.LinkConfig, std::string(255, 'L'));
    SetText(c.UIConfig, "ui profile");
    SetText(c.VRSConfig, std::string(511, 'V'));
    auto* bytes = reinterpret_cast<BYTE*>(&c);
    for (size_t off = offsetof(_KSCONFIG, flags); off < offsetof(_KSCONFIG, LinkConfig); off += 4) {
        DWORD v = 0x11000000u + static_cast<DWORD>(off);
        std::memcpy(bytes + off, &v, 4);
    }
    c.HasUIConfig = 0x22000744;
    c.flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_TEXT | 0x00A00000);
    return c;
}

_KSCONFIG AsReadBack(_KSCONFIG c) {
    std::memset(&c.hwguid, 0, sizeof(c.hwguid));
    std::memset(c.LinkSignature, 0, sizeof(c.LinkSignature));
    ClearAfterText(c.keyname);
    ClearAfterText(c.name);
    ClearAfterText(c.LinkConfig);
    ClearAfterText(c.UIConfig);
    ClearAfterText(c.VRSConfig);
    return c;
}

RegValue Sz(const char* field, size_t size) {
    std::string t(field, strnlen(field, size - 1));
    RegValue v{REG_SZ, std::vector<BYTE>(t.begin(), t.end())};
    v.data.push_back(0);
    return v;
}
RegValue Dword(const void* field) {
    const auto* b = static_cast<const BYTE*>(field);
    return RegValue{REG_DWORD, std::vector<BYTE>(b, b + 4)};
}

TEST_F(ScanProfilesTest, StoredProfileHas33NamedValuesAndReadsBackWhole) {
    _KSCONFIG in = DistinctProfile("Profile A");
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("Scanner 1").get(), &in), S_OK);
    const std::string key = Profiles("Scanner 1") + "\\Profile A";
    const _KSCFGMAP& t = in.ToneMap;
    const std::pair<const char*, RegValue> expected[] = {
        {"Name", Sz(in.name, 64)}, {"LinkInfo", Sz(in.LinkConfig, 256)}, {"UIInfo", Sz(in.UIConfig, 256)},
        {"Flags", Dword(&in.flags)}, {"DataType", Dword(&in.DataType)}, {"PixelBits", Dword(&in.PixelBits)},
        {"Intensity", Dword(&in.Intensity)}, {"Contrast", Dword(&in.Contrast)},
        {"Xresolution", Dword(&in.Xresolution)}, {"Yresolution", Dword(&in.Yresolution)},
        {"PageWidth", Dword(&in.PageWidth)}, {"PageHeight", Dword(&in.PageHeight)},
        {"Autorotate90", Dword(&in.Autorotate90)}, {"ScanHardware", Dword(&in.ScanHardware)},
        {"Duplex", Dword(&in.Duplex)}, {"ColorDropOut", Dword(&in.ColorDropOut)},
        {"Negative", Dword(&in.Negative)}, {"Mirror", Dword(&in.Mirror)}, {"Crop", Dword(&in.Crop)},
        {"Deskew", Dword(&in.Deskew)}, {"Moire", Dword(&in.Moire)}, {"ShowProgress", Dword(&in.ShowProgress)},
        {"LinkConfig", Dword(&in.HasLinkConfig)}, {"UIConfig", Dword(&in.HasUIConfig)},
        {"UseToneMap", Dword(&in.UseToneMap)}, {"TMap Saturation", Dword(&t.Saturation)},
        {"TMap Sharpen", Dword(&t.Sharpen)}, {"TMap Hue", Dword(&t.Hue)}, {"TMap RedGamma", Dword(&t.RedGamma)},
        {"TMap GreenGamma", Dword(&t.GreenGamma)}, {"TMap BlueGamma", Dword(&t.BlueGamma)},
        {"TMap GreyGamma", Dword(&t.GreyGamma)}, {"VRSConfig", Sz(in.VRSConfig, 512)},
    };
    EXPECT_EQ(ValueNames(key).size(), std::size(expected));
    EXPECT_TRUE(SubkeyNames(key).empty());
    for (const auto& [name, value] : expected) EXPECT_EQ(GetValue(key, name), value) << name;

    _KSCONFIG out;
    std::memset(&out, 0x5A, sizeof(out));
    ASSERT_EQ(Listed("Scanner 1", KSCNFGFLAG_TEXT), std::set<std::string>{"Profile A"});
    ASSERT_EQ(config_->GetConfig(0, &out), S_OK);
    _KSCONFIG want = AsReadBack(in);
    EXPECT_EQ(std::memcmp(&out, &want, sizeof(out)), 0);
}

TEST_F(ScanProfilesTest, EmptyKeyNameGetsGuidNameAndExistingKeyIsOverwrittenInPlace) {
    _KSCONFIG in = DistinctProfile("");
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("Scanner 1").get(), &in), S_OK);
    std::string made = Text(in.keyname);
    EXPECT_TRUE(IsGuidKeyName(made)) << made;
    EXPECT_EQ(SubkeyNames(Profiles("Scanner 1")), std::vector<std::string>{made});

    SetDword(Profiles("Scanner 1") + "\\" + made, "Extra", 7);
    in.Crop = 99;
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("Scanner 1").get(), &in), S_OK);
    EXPECT_EQ(Text(in.keyname), made);
    EXPECT_EQ(SubkeyNames(Profiles("Scanner 1")).size(), 1u);
    EXPECT_EQ(GetDword(Profiles("Scanner 1") + "\\" + made, "Crop"), 99u);
    EXPECT_EQ(GetDword(Profiles("Scanner 1") + "\\" + made, "Extra"), 7u);
}

TEST_F(ScanProfilesTest, EachValueIsReadWhateverItsTypeWhenItFits) {
    struct Case {
        const char* value;
        DWORD type;
        std::string data;
        size_t offset, size;
        std::string field;  // expected bytes, zero-padded to `size`
    } cases[] = {
        {"LinkInfo", REG_SZ, std::string(255, 'x') + '\0', offsetof(_KSCONFIG, LinkConfig), 256, std::string(255, 'x')},
        {"LinkInfo", REG_SZ, std::string(256, 'x') + '\0', offsetof(_KSCONFIG, LinkConfig), 256, ""},
        {"Name", REG_BINARY, "abc", offsetof(_KSCONFIG, name), 64, "abc"},
        {"Name", REG_BINARY, std::string(64, 'y'), offsetof(_KSCONFIG, name), 64, std::string(63, 'y')},
        {"Name", REG_EXPAND_SZ, std::string("%TEMP%\0tail", 12), offsetof(_KSCONFIG, name), 64, "%TEMP%"},
        {"Name", REG_DWORD, "ABC", offsetof(_KSCONFIG, name), 64, "ABC"},
        {"Contrast", REG_BINARY, "\x01\x02\x03\x04", offsetof(_KSCONFIG, Contrast), 4, "\x01\x02\x03\x04"},
        {"Contrast", REG_BINARY, "\x05\x06", offsetof(_KSCONFIG, Contrast), 4, "\x05\x06"},
        {"Contrast", REG_BINARY, "\x01\x02\x03\x04\x05", offsetof(_KSCONFIG, Contrast), 4, ""},
        {"Contrast", REG_SZ, std::string("7\0", 2), offsetof(_KSCONFIG, Contrast), 4, "7"},
        {"TMap Hue", REG_DWORD, "\xFF\xFF\xFF\xFF", offsetof(_KSCONFIG, ToneMap.Hue), 4, "\xFF\xFF\xFF\xFF"},
    };
    for (const Case& c : cases) {
        DeleteKeyTree(Profiles("S"));
        SetDword(Profiles("S") + "\\P", "Flags", KSCNFGFLAG_SHOWALL);
        SetValue(Profiles("S") + "\\P", c.value, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        ASSERT_EQ(Listed("S", 0).size(), 1u);
        _KSCONFIG out;
        ASSERT_EQ(config_->GetConfig(0, &out), S_OK);
        std::string want = c.field;
        want.resize(c.size, '\0');
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out) + c.offset, c.size), want)
            << c.value << " type " << c.type << " of " << c.data.size() << " bytes";
    }
}

TEST_F(ScanProfilesTest, FilterListsShowAllAndSharedTypeBitsOnly) {
    const std::pair<const char*, DWORD> profiles[] = {
        {"none", 0}, {"images", KSCNFGFLAG_IMAGES}, {"textpdf", KSCNFGFLAG_TEXT | KSCNFGFLAG_PDF},
        {"showall", KSCNFGFLAG_SHOWALL}, {"sti", KSCNFGFLAG_STI}, {"mkcopy", KSCNFGFLAG_MKCOPY},
    };
    for (const auto& [name, flags] : profiles) SetDword(Profiles("S") + "\\" + name, "Flags", flags);
    const std::pair<LONG, std::set<std::string>> cases[] = {
        {KSCNFGFLAG_ALL, {"images", "textpdf", "showall", "sti"}},
        {KSCNFGFLAG_TEXT, {"textpdf", "showall"}},
        {0, {"showall"}},
        {KSCNFGFLAG_SHOWALL, {"showall"}},
        {KSCNFGFLAG_MKCOPY | KSCNFGFLAG_SAVE, {"showall"}},  // bits outside the type bits select nothing
        {KSCNFGFLAG_IMAGES | KSCNFGFLAG_STI, {"images", "showall", "sti"}},
        {-1, {"images", "textpdf", "showall", "sti"}},
    };
    for (const auto& [flags, want] : cases) EXPECT_EQ(Listed("S", flags), want) << std::hex << flags;
}

TEST_F(ScanProfilesTest, LoadKeepsTheOldListWhenTheKeyIsMissingAndSkipsOverlongNames) {
    const std::string fits(39, 'k'), tooLong(40, 'k');
    for (const std::string& name : {std::string("P1"), fits, tooLong})
        SetDword(Profiles("A") + "\\" + name, "Flags", KSCNFGFLAG_SHOWALL);
    EXPECT_EQ(Listed("A", 0), (std::set<std::string>{"P1", fits}));

    LONG count = -1;
    EXPECT_EQ(config_->LoadConfigInfo(Bstr("Missing").get(), KSCNFGFLAG_ALL, &count), S_OK);
    EXPECT_EQ(count, 0);
    _KSCONFIG out;
    EXPECT_EQ(config_->GetConfig(1, &out), S_OK) << "the earlier list stays";
    EXPECT_EQ(config_->GetConfig(2, &out), E_INVALIDARG);
    EXPECT_EQ(config_->GetConfig(-1, &out), E_INVALIDARG);

    CreateKeyPath(Profiles("Empty"));
    EXPECT_TRUE(Listed("Empty", KSCNFGFLAG_ALL).empty());
    EXPECT_EQ(config_->GetConfig(0, &out), E_INVALIDARG) << "an existing key empties the list";
}

TEST_F(ScanProfilesTest, DetailsMatchKeyNamesIgnoringCaseAndNeverDisplayNames) {
    SetDword(Profiles("S") + "\\Office Scan", "Flags", KSCNFGFLAG_IMAGES);
    SetString(Profiles("S") + "\\Office Scan", "Name", "Display");
    SetDword(Profiles("S") + "\\Shown", "Flags", KSCNFGFLAG_SHOWALL);
    SetDword(Profiles("S") + "\\Untyped", "Flags", KSCNFGFLAG_MKCOPY);
    SetDword(Profiles("Other") + "\\Other1", "Flags", KSCNFGFLAG_IMAGES);
    LONG count = 0;
    ASSERT_EQ(config_->LoadConfigInfo(Bstr("Other").get(), KSCNFGFLAG_ALL, &count), S_OK);

    const struct {
        const char* hw;
        const char* name;
        HRESULT hr;
    } cases[] = {
        {"S", "OFFICE scan", S_OK}, {"S", "Shown", S_OK}, {"S", "Display", E_INVALIDARG},
        {"S", "Untyped", E_INVALIDARG}, {"S", nullptr, E_INVALIDARG},  {"Nope", "Office Scan", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        _KSCONFIG out{};
        EXPECT_EQ(config_->GetConfigDetails(const_cast<LPSTR>(c.hw), const_cast<LPSTR>(c.name), &out), c.hr)
            << c.hw << "/" << (c.name ? c.name : "(null)");
        if (c.hr == S_OK) {
            EXPECT_EQ(_stricmp(out.keyname, c.name), 0);
        }
    }
    // The search reloaded the list with every typed profile of "S".
    _KSCONFIG out;
    EXPECT_EQ(config_->GetConfig(1, &out), S_OK);
    EXPECT_EQ(config_->GetConfig(2, &out), E_INVALIDARG);
}

TEST_F(ScanProfilesTest, DeleteUsesTheActiveHardwareOfTheProcessNotTheLoadedDevice) {
    for (const char* hw : {"A", "B", "Group\\Deep"}) {
        SetDword(Profiles(hw) + "\\P1", "Flags", KSCNFGFLAG_IMAGES);
        SetDword(Profiles(hw) + "\\P1\\Sub\\Leaf", "X", 1);
        SetDword(Profiles(hw) + "\\P2", "Flags", KSCNFGFLAG_IMAGES);
    }
    ASSERT_EQ(Listed("A", KSCNFGFLAG_ALL).size(), 2u);
    _KSCONFIG first;
    ASSERT_EQ(config_->GetConfig(0, &first), S_OK);
    const std::string victim = Text(first.keyname);

    // Another object names the active scanner; this object's delete follows it.
    Ref<IKeystrelConfig> other = NewConfig();
    ASSERT_EQ(other->SetActiveHardware(kNoDevice, const_cast<LPSTR>("B")), S_OK);
    EXPECT_EQ(config_->DeleteConfigInfo(0), S_OK);
    EXPECT_FALSE(KeyExists(Profiles("B") + "\\" + victim));
    EXPECT_TRUE(KeyExists(Profiles("A") + "\\" + victim));
    _KSCONFIG again;
    EXPECT_EQ(config_->GetConfig(0, &again), S_OK) << "the list keeps the deleted profile";
    EXPECT_EQ(std::memcmp(&first, &again, sizeof(first)), 0);

    ASSERT_EQ(other->SetActiveHardware(kNoDevice, const_cast<LPSTR>("Group\\Deep")), S_OK);
    EXPECT_EQ(config_->DeleteConfigInfo(0), S_OK);
    EXPECT_FALSE(KeyExists(Profiles("Group\\Deep") + "\\" + victim));
    EXPECT_EQ(SubkeyNames(Profiles("Group\\Deep")).size(), 1u);

    EXPECT_EQ(config_->DeleteConfigInfo(2), E_INVALIDARG);
    EXPECT_EQ(config_->DeleteConfigInfo(-1), E_INVALIDARG);
}

TEST_F(ScanProfilesTest, NullPointersAreRejectedWithoutWriting) {
    EXPECT_EQ(config_->LoadConfigInfo(Bstr("S").get(), KSCNFGFLAG_ALL, nullptr), E_POINTER);
    EXPECT_EQ(config_->StoreConfigInfo(Bstr("S").get(), nullptr), E_POINTER);
    EXPECT_EQ(config_->GetConfig(0, nullptr), E_POINTER);
    EXPECT_EQ(config_->GetConfigDetails(const_cast<LPSTR>("S"), const_cast<LPSTR>("P"), nullptr), E_POINTER);
    EXPECT_EQ(config_->GetActiveConfig(nullptr), E_POINTER);
    EXPECT_EQ(config_->LoadEventInfo(Bstr("S").get(), nullptr), E_POINTER);
    EXPECT_EQ(config_->GetEvent(0, nullptr), E_POINTER);
    EXPECT_EQ(config_->StoreEventInfo(Bstr("S").get(), nullptr), E_POINTER);
    EXPECT_EQ(config_->GetEventDetails(const_cast<LPSTR>("S"), const_cast<LPSTR>("E"), nullptr), E_POINTER);
    EXPECT_FALSE(KeyExists(RootPath("S")));
}

}  // namespace
}  // namespace kstest
