// Scan profiles and button events: stored form, reading back, lists, look-ups and the active profile.
#include <cstring>
#include <regex>
#include <set>

#include "support/ks_test.h"

// Records are written with designated initializers: every member left out is zero, as intended.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kstest {
namespace {

constexpr GUID kScanner = {0x6d0e5c1a, 0x33f2, 0x4b7a, {0x8c, 0x41, 0x0f, 0x9e, 0x2a, 0x6b, 0x77, 0x15}};

void SetText(char* field, const std::string& text) { std::memcpy(field, text.c_str(), text.size() + 1); }
// The key name the store makes: a GUID in registry form, braces replaced by '*'.
bool IsGuidKeyName(const std::string& name) {
    return std::regex_match(name, std::regex(R"(\*[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\*)"));
}

class ProfilesTest : public StoreTest {
protected:
    ProfilesTest() { EXPECT_EQ(config_->SetActiveHardware(kScanner, const_cast<LPSTR>("Scanner 1")), S_OK); }
    Ref<IKeystrelConfig> config_ = NewConfig();
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
    LONG LoadEvents(const char* hw) {
        LONG count = -1;
        return config_->LoadEventInfo(Bstr(hw).get(), &count) == S_OK ? count : -2;
    }
    _KSCONFIG* Active(IKeystrelConfig* config = nullptr) {
        _KSCONFIG* p = reinterpret_cast<_KSCONFIG*>(1);
        EXPECT_EQ((config ? config : config_.get())->GetActiveConfig(&p), S_OK);
        return p;
    }
};

// A stored field: its value name, offset and size in the record (4: a DWORD, else a text).
struct Field { const char* value; size_t offset, size; };

// Stores a record with every field distinctive (numbers from 0x11000002, "Flags": TEXT; texts
// alternately short and at their longest; garbage after texts and in bytes never stored), expects
// one value per field under `key`, and `read` to give it back with zeros wherever nothing is stored.
template <class R, class Store, class Read>
R RoundTrip(const std::vector<Field>& fields, const char* keyname, const std::string& key, Store store, Read read) {
    R in, want{}, out;
    std::memset(&in, 0xA5, sizeof(in));
    SetText(in.keyname, keyname);
    SetText(want.keyname, keyname);
    for (DWORD i = 0; i < fields.size(); ++i) {
        char* at = reinterpret_cast<char*>(&in) + fields[i].offset;
        const DWORD number = 0x11000002u + 0x10000u * i;
        const size_t n = fields[i].size == 4 ? 4 : i % 2 ? fields[i].size : 6;
        if (n == 4) {
            std::memcpy(at, &number, 4);
        } else {
            std::memset(at, 'A' + i % 26, n - 1);
            at[n - 1] = '\0';
        }
        std::memcpy(reinterpret_cast<char*>(&want) + fields[i].offset, at, n);
    }
    EXPECT_EQ(store(&in), S_OK);
    EXPECT_EQ(ValueNames(key).size(), fields.size());
    for (const Field& f : fields) {
        const char* at = reinterpret_cast<const char*>(&want) + f.offset;
        const size_t n = f.size == 4 ? 4 : std::strlen(at) + 1;
        EXPECT_EQ(GetValue(key, f.value), (RegValue{f.size == 4 ? DWORD{REG_DWORD} : REG_SZ, {at, at + n}})) << f.value;
    }
    std::memset(&out, 0x5A, sizeof(out));
    EXPECT_EQ(read(&out), S_OK);
    EXPECT_EQ(std::memcmp(&out, &want, sizeof(out)), 0);
    return in;
}

TEST_F(ProfilesTest, RecordsStoreOneNamedValuePerFieldAndReadBackWhole) {
    using C = _KSCONFIG;
    std::vector<Field> fields;  // the numbers in field order, "Flags" to "LinkConfig" (HasLinkConfig)
    for (const char* value : {"Flags", "DataType", "PixelBits", "Intensity", "Contrast", "Xresolution",
                              "Yresolution", "PageWidth", "PageHeight", "ScanHardware", "Duplex", "ColorDropOut",
                              "Negative", "Mirror", "Crop", "Deskew", "Moire", "Autorotate90", "UseToneMap",
                              "TMap Saturation", "TMap Sharpen", "TMap Hue", "TMap RedGamma", "TMap GreenGamma",
                              "TMap BlueGamma", "TMap GreyGamma", "ShowProgress", "LinkConfig"})
        fields.push_back({value, offsetof(C, flags) + 4 * fields.size(), 4});
    static_assert(offsetof(C, HasLinkConfig) == offsetof(C, flags) + 4 * 27);
    fields.insert(fields.end(), {{"UIConfig", offsetof(C, HasUIConfig), 4}, {"Name", offsetof(C, name), 64},
                                 {"UIInfo", offsetof(C, UIConfig), 256}, {"LinkInfo", offsetof(C, LinkConfig), 256},
                                 {"VRSConfig", offsetof(C, VRSConfig), 512}});
    _KSCONFIG in = RoundTrip<C>(fields, "Profile A", Profiles("S") + "\\Profile A",
        [&](_KSCONFIG* r) { return config_->StoreConfigInfo(Bstr("S").get(), r); },
        [&](_KSCONFIG* r) { return Listed("S", KSCNFGFLAG_TEXT).size() == 1 ? config_->GetConfig(0, r) : E_FAIL; });
    // No key name: a new GUID name, written back, so storing again writes over that key.
    in.keyname[0] = '\0';
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("S").get(), &in), S_OK);
    EXPECT_TRUE(IsGuidKeyName(in.keyname)) << in.keyname;
    ASSERT_EQ(config_->StoreConfigInfo(Bstr("S").get(), &in), S_OK);
    EXPECT_EQ(SubkeyNames(Profiles("S")).size(), 2u);
    _KSEVENT event = RoundTrip<_KSEVENT>(
        {{"Flags", offsetof(_KSEVENT, flags), 4}, {"Name", offsetof(_KSEVENT, name), 32},
         {"ScanConfig", offsetof(_KSEVENT, config), 64}, {"Link", offsetof(_KSEVENT, Link), 256},
         {"Transfer", offsetof(_KSEVENT, transfer), 4}, {"JPGQuality", offsetof(_KSEVENT, JPGQuality), 4},
         {"PDFQuality", offsetof(_KSEVENT, PDFQuality), 4}},
        "Button 1", Events("Group\\S") + "\\Button 1",
        [&](_KSEVENT* r) { return config_->StoreEventInfo(Bstr("Group\\S").get(), r); },
        [&](_KSEVENT* r) { return LoadEvents("Group\\S") == 1 ? config_->GetEvent(0, r) : E_FAIL; });
    event.keyname[0] = '\0';
    EXPECT_EQ(config_->StoreEventInfo(Bstr("Other").get(), &event), E_INVALIDARG) << "no key name";
    EXPECT_FALSE(KeyExists(RootPath("Other")));
}

// Texts must fit with their terminator or stay empty (event texts must also be strings); numbers
// take up to four bytes of any type. `want`: the bytes expected at `offset`, zero-padded to `size`.
TEST_F(ProfilesTest, ValuesAreReadWhateverTheirTypeWhenTheyFit) {
    const struct { bool event; const char* name; DWORD type; std::string data; size_t offset, size; std::string want; }
        cases[] = {
        {false, "LinkInfo", REG_SZ, std::string(256, 'x') + '\0', offsetof(_KSCONFIG, LinkConfig), 256, ""},
        {false, "Name", REG_BINARY, std::string(64, 'y'), offsetof(_KSCONFIG, name), 64, std::string(63, 'y')},
        {false, "Name", REG_EXPAND_SZ, std::string("%T%\0tail", 8), offsetof(_KSCONFIG, name), 64, "%T%"},
        {false, "Contrast", REG_BINARY, "\x01\x02\x03\x04\x05", offsetof(_KSCONFIG, Contrast), 4, ""},
        {true, "Name", REG_EXPAND_SZ, std::string("%T%\0", 4), offsetof(_KSEVENT, name), 32, "%T%"},
        {true, "Name", REG_BINARY, std::string("abc\0", 4), offsetof(_KSEVENT, name), 32, ""},
        {true, "Flags", REG_BINARY, "\x01\x02\x03\x04", offsetof(_KSEVENT, flags), 4, "\x01\x02\x03\x04"},
    };
    for (const auto& c : cases) {
        DeleteKeyTree(RootPath("S"));
        const std::string key = (c.event ? Events("S") : Profiles("S")) + "\\P";
        SetDword(key, "Flags", KSCNFGFLAG_SHOWALL);
        SetValue(key, c.name, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        _KSCONFIG got{};  // room for either record
        ASSERT_EQ(c.event ? LoadEvents("S") : static_cast<LONG>(Listed("S", 0).size()), 1);
        ASSERT_EQ(c.event ? config_->GetEvent(0, reinterpret_cast<_KSEVENT*>(&got)) : config_->GetConfig(0, &got),
                  S_OK);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&got) + c.offset, c.size),
                  c.want + std::string(c.size - c.want.size(), '\0'))
            << c.name << " type " << c.type << ", " << c.data.size();
    }
}

TEST_F(ProfilesTest, FilterListsShowAllAndSharedTypeBitsOnly) {
    const std::pair<const char*, DWORD> profiles[] = {{"none", 0}, {"images", KSCNFGFLAG_IMAGES},
        {"textpdf", KSCNFGFLAG_TEXT | KSCNFGFLAG_PDF}, {"showall", KSCNFGFLAG_SHOWALL}, {"sti", KSCNFGFLAG_STI},
        {"mkcopy", KSCNFGFLAG_MKCOPY}};
    for (const auto& [name, flags] : profiles) SetDword(Profiles("S") + "\\" + name, "Flags", flags);
    const std::pair<LONG, std::set<std::string>> cases[] = {
        {KSCNFGFLAG_ALL, {"images", "textpdf", "showall", "sti"}}, {KSCNFGFLAG_TEXT, {"textpdf", "showall"}},
        {0, {"showall"}}, {KSCNFGFLAG_MKCOPY | KSCNFGFLAG_SAVE, {"showall"}},  // other bits select nothing
        {KSCNFGFLAG_IMAGES | KSCNFGFLAG_STI, {"images", "showall", "sti"}},
        {-1, {"images", "textpdf", "showall", "sti"}}};
    for (const auto& [flags, want] : cases) EXPECT_EQ(Listed("S", flags), want) << std::hex << flags;
}

TEST_F(ProfilesTest, LoadKeepsTheOldListWhenTheKeyIsMissingAndSkipsOverlongNames) {
    const std::string fits(39, 'k');
    for (const std::string& name : {std::string("P1"), fits, fits + 'k'})
        SetDword(Profiles("A") + "\\" + name, "Flags", KSCNFGFLAG_SHOWALL);
    EXPECT_EQ(Listed("A", 0), (std::set<std::string>{"P1", fits}));
    EXPECT_TRUE(Listed("Missing").empty());
    _KSCONFIG p;
    EXPECT_EQ(config_->GetConfig(1, &p), S_OK) << "the earlier list stays";
    for (LONG bad : {2, -1}) EXPECT_EQ(config_->GetConfig(bad, &p), E_INVALIDARG);
    CreateKeyPath(Profiles("Empty"));
    EXPECT_TRUE(Listed("Empty").empty());
    std::memset(&p, 0x5A, sizeof(p));
    EXPECT_EQ(config_->GetConfig(0, &p), E_INVALIDARG) << "an existing key empties the list";
    EXPECT_EQ(static_cast<BYTE>(p.name[0]), 0x5A) << "a failed read leaves the record alone";
}

TEST_F(ProfilesTest, DetailsMatchKeyNamesIgnoringCaseAndNeverDisplayNames) {
    for (const auto& [key, flags] : {std::pair{"Office Scan", KSCNFGFLAG_IMAGES}, {"Shown", KSCNFGFLAG_SHOWALL},
                                     {"Untyped", KSCNFGFLAG_MKCOPY}})
        SetDword(Profiles("S") + "\\" + key, "Flags", flags);
    SetString(Profiles("S") + "\\Office Scan", "Name", "Display");
    SetString(Events("S") + "\\Office Scan", "Name", "Display");
    const struct { bool event; const char* hw; const char* name; HRESULT hr; } cases[] = {
        {false, "S", "OFFICE scan", S_OK}, {false, "S", "Shown", S_OK}, {false, "S", "Display", E_INVALIDARG},
        {false, "S", "Untyped", E_INVALIDARG}, {false, "S", nullptr, E_INVALIDARG}, {true, "S", "office SCAN", S_OK},
        {true, "S", "Display", E_INVALIDARG}, {true, "S", "Office", E_INVALIDARG}, {true, "S", nullptr, E_INVALIDARG},
        {true, "Nope", "Office Scan", E_INVALIDARG}};
    for (const auto& c : cases) {
        _KSCONFIG got{};  // room for either record; both begin with the GUID and the key name
        LPSTR hw = const_cast<LPSTR>(c.hw), name = const_cast<LPSTR>(c.name);
        HRESULT hr = c.event ? config_->GetEventDetails(hw, name, reinterpret_cast<_KSEVENT*>(&got))
                             : config_->GetConfigDetails(hw, name, &got);
        EXPECT_EQ(hr, c.hr) << c.event << " " << c.hw << "/" << (c.name ? c.name : "(null)");
        if (hr == S_OK) { EXPECT_EQ(_stricmp(got.keyname, c.name), 0); }
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
    _KSCONFIG p;
    EXPECT_EQ(config_->GetConfig(0, &p), S_OK) << "the list keeps the deleted profile";
    EXPECT_STREQ(p.keyname, "P1");
    for (LONG bad : {2, -1}) EXPECT_EQ(config_->DeleteConfigInfo(bad), E_INVALIDARG);
}

// The scanner's component, registered in-process: its own class factory, counting references.
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
        if (*out == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID r, void** p) override { return QueryInterface(r, p); }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDeviceDefaults(_KSDEVICEDEFAULTS** out) override {
        ++calls;
        if ((*out = block ? static_cast<_KSDEVICEDEFAULTS*>(CoTaskMemAlloc(sizeof(*block))) : nullptr)) **out = *block;
        return result;
    }
    HRESULT result;
    const _KSDEVICEDEFAULTS* block;
    DWORD cookie = 0;
    LONG calls = 0, refs = 0, registered = 0;
};

TEST_F(ProfilesTest, NewProfileIsNamedFromTheResourceAvoidingListedKeyNamesCaseSensitively) {
    for (const char* key : {"*New configuration*", "*New configuration0*", "*new configuration1*"})
        SetDword(Profiles("Scanner 1") + "\\" + key, "Flags", KSCNFGFLAG_IMAGES);
    ASSERT_EQ(Listed("Scanner 1").size(), 3u);
    _KSCONFIG* p = Active();
    EXPECT_STREQ(p->name, "New configuration1");
    EXPECT_TRUE(IsGuidKeyName(p->keyname)) << p->keyname;
    // Appended to the list and made active; nothing is written yet.
    _KSCONFIG element;
    ASSERT_EQ(config_->GetConfig(3, &element), S_OK);
    EXPECT_EQ(std::memcmp(&element, p, sizeof(element)), 0);
    EXPECT_EQ(SubkeyNames(Profiles("Scanner 1")).size(), 3u);
}

// A component giving a block presets the profile (page sizes in thousandths of an inch, cut toward
// zero); a failing one leaves the key name to be made when the profile is first stored.
TEST_F(ProfilesTest, DeviceComponentPresetsTheNewProfileAndIsReleased) {
    _KSDEVICEDEFAULTS block{.DataType = KSCNFGMODE_COLOR, .PixelBits = 24, .Intensity = -5, .Contrast = 7,
                            .Xresolution = 300, .Yresolution = 200, .Width = 8500, .Height = 11000,
                            .ScanHardware = 3, .Duplex = 1, .ColorDropOut = 2, .Negative = 4, .Mirror = 5};
    for (_KSDEVICEDEFAULTS* given : {&block, static_cast<_KSDEVICEDEFAULTS*>(nullptr)}) {
        FakeDevice device(given ? S_OK : E_FAIL, given);
        Ref<IKeystrelConfig> fresh = NewConfig();
        _KSCONFIG* p = Active(fresh.get());
        EXPECT_EQ(device.calls, 1);
        EXPECT_EQ(device.refs, device.registered) << "the device object is released";
        _KSCONFIG w{};  // what is expected
        if (given) {
            w = {.DataType = KSCNFGMODE_COLOR, .PixelBits = 24, .Intensity = -5, .Contrast = 7, .Xresolution = 300,
                 .Yresolution = 200, .PageWidth = 28333, .PageHeight = 55000, .ScanHardware = 3, .Duplex = 1,
                 .ColorDropOut = 2, .Negative = 4, .Mirror = 5, .ShowProgress = 1};
        }
        w.hwguid = kScanner;
        SetText(w.keyname, p->keyname);
        SetText(w.name, "New configuration");
        EXPECT_EQ(std::memcmp(p, &w, sizeof(w)), 0) << !!given;
        EXPECT_EQ(IsGuidKeyName(p->keyname), given != nullptr) << p->keyname;
    }
}

// Before each selection the current copy is edited; the row says whether the next GetActiveConfig
// hands out the same block and which name it then shows.
TEST_F(ProfilesTest, ActiveCopyFollowsTheOwnershipTable) {
    for (const char* key : {"P0", "P1"}) SetDword(Profiles("Scanner 1") + "\\" + key, "Flags", KSCNFGFLAG_IMAGES);
    SetString(Profiles("Scanner 1") + "\\P1", "Name", "one");
    ASSERT_EQ(Listed("Scanner 1").size(), 2u);
    const struct { LONG select; bool sameBlock; const char* name; const char* rule; } rows[] = {
        {0, false, "", "valid index, no copy: a new block holding the element"},
        {0, true, "edited", "same key name: the same block, edits kept"},
        {1, true, "one", "other key name: the element copied over the same block"},
        {5, true, "New configuration", "no valid index: a new profile, appended, in the same block"},
        {2, true, "edited", "the new profile's index: same key name"},
        {3, true, "New configuration", "an index equal to the count is no valid index"},
        {-1, false, "New configuration", "-1: the block is the client's; another profile in a new block"},
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
    _KSCONFIG element;
    ASSERT_EQ(config_->GetConfig(0, &element), S_OK);
    EXPECT_TRUE(IsEqualGUID(element.hwguid, kScanner)) << "the element is stamped with the active GUID";
    ASSERT_EQ(config_->GetConfig(4, &element), S_OK);
    EXPECT_STREQ(element.keyname, p->keyname);
    // No valid index: nothing saved, the copy stays. A valid one without a save request: nothing
    // written and the copy freed, so the next store has nothing to save.
    p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    ASSERT_EQ(config_->SetActiveConfig(9), S_OK);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    ASSERT_EQ(config_->SetActiveConfig(4), S_OK);
    EXPECT_EQ(Active(), p);
    EXPECT_EQ(p->flags, KSCNFGFLAG_SAVE | KSCNFGFLAG_IMAGES);
    p->flags = KSCNFGFLAG_IMAGES;
    const auto before = DumpTree(kRoot);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
    EXPECT_EQ(DumpTree(kRoot), before);
    EXPECT_EQ(config_->StoreActiveConfig(), S_FALSE);
}

TEST_F(ProfilesTest, SavingClearsTheRequestAndDropsMoireOnPlainBitonal) {
    const std::pair<LONG, LONG> cases[] = {{KSCNFGMODE_BITONAL, 0}, {KSCNFGMODE_BITONAL | KSCNFGMODE_TWAIN, 1}};
    for (const auto& [dataType, moire] : cases) {
        // A new profile, saved under the active scanner by an object other than the one that set it.
        Ref<IKeystrelConfig> editor = NewConfig();
        _KSCONFIG* p = Active(editor.get());
        const std::string key = Profiles("Scanner 1") + "\\" + p->keyname;
        p->flags = static_cast<_KSCNFGFLAG>(KSCNFGFLAG_SAVE | KSCNFGFLAG_PDF);
        p->DataType = static_cast<_KSCNFGMODE>(dataType);
        p->Moire = 1;
        ASSERT_EQ(editor->StoreActiveConfig(), S_OK);
        EXPECT_EQ(GetDword(key, "Flags"), static_cast<DWORD>(KSCNFGFLAG_PDF));
        EXPECT_EQ(GetDword(key, "Moire"), static_cast<DWORD>(moire)) << dataType;
        const _KSCONFIG* next = Active(editor.get());  // a fresh copy of the updated list element
        EXPECT_EQ(next->flags, KSCNFGFLAG_PDF);
        EXPECT_EQ(next->Moire, moire);
    }
}

}  // namespace
}  // namespace kstest
