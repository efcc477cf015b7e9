// Button events: the stored form, the event list and look-up by key name.
#include <set>

#include "profiles_support.h"

namespace kstest {
namespace {

class EventsTest : public StoreTest {
protected:
    Ref<IKeystrelConfig> config_ = NewConfig();
    std::string Events(const std::string& hw) { return RootPath(hw + "\\EventProfiles"); }

    LONG Load(const char* hw) {
        LONG count = -1;
        EXPECT_EQ(config_->LoadEventInfo(Bstr(hw).get(), &count), S_OK);
        return count;
    }
};

_KSEVENT DistinctEvent(const char* keyname) {
    _KSEVENT e;
    std::memset(&e, 0xA5, sizeof(e));
    SetText(e.keyname, keyname);
    SetText(e.name, std::string(31, 'n'));
    SetText(e.config, "*Scan Config*");
    SetText(e.Link, std::string(255, 'l'));
    e.flags = static_cast<_KSCNFGFLAG>(0x12345678);
    e.transfer = static_cast<_KSTRANSFER>(0x0BADF00D);
    e.JPGQuality = 0xFFFFFFF0u;
    e.PDFQuality = 42;
    return e;
}

TEST_F(EventsTest, StoredEventHasSevenValuesAndReadsBackAfterTheNextLoad) {
    SetDword(Events("Scanner 1") + "\\Old", "Flags", 1);
    ASSERT_EQ(Load("Scanner 1"), 1);

    _KSEVENT in = DistinctEvent("Button 1");
    SetDword(Events("Scanner 1") + "\\Button 1", "Extra", 9);
    ASSERT_EQ(config_->StoreEventInfo(Bstr("Scanner 1").get(), &in), S_OK);
    const std::string key = Events("Scanner 1") + "\\Button 1";
    EXPECT_EQ(ValueNames(key).size(), 8u);
    EXPECT_EQ(GetString(key, "Name"), std::string(31, 'n'));
    EXPECT_EQ(GetValue(key, "ScanConfig"), (RegValue{REG_SZ, {'*', 'S', 'c', 'a', 'n', ' ', 'C', 'o', 'n', 'f', 'i', 'g', '*', 0}}));
    EXPECT_EQ(GetString(key, "Link"), std::string(255, 'l'));
    EXPECT_EQ(GetDword(key, "Flags"), 0x12345678u);
    EXPECT_EQ(GetDword(key, "Transfer"), 0x0BADF00Du);
    EXPECT_EQ(GetDword(key, "JPGQuality"), 0xFFFFFFF0u);
    EXPECT_EQ(GetDword(key, "PDFQuality"), 42u);
    EXPECT_EQ(GetDword(key, "Extra"), 9u);

    _KSEVENT out;
    ASSERT_EQ(config_->GetEvent(0, &out), S_OK);
    EXPECT_STREQ(out.keyname, "Old") << "the list is a snapshot until the next load";
    EXPECT_EQ(config_->GetEvent(1, &out), E_INVALIDARG);

    ASSERT_EQ(Load("Scanner 1"), 2);
    std::memset(&out, 0x5A, sizeof(out));
    for (LONG i = 0; i < 2 && Text(out.keyname) != "Button 1"; ++i) ASSERT_EQ(config_->GetEvent(i, &out), S_OK);
    _KSEVENT want = in;
    std::memset(&want.hwguid, 0, sizeof(want.hwguid));
    ClearAfterText(want.keyname);
    ClearAfterText(want.config);
    EXPECT_EQ(std::memcmp(&out, &want, sizeof(out)), 0);
}

TEST_F(EventsTest, TextsMustBeStringsThatFitAndNumbersAnyTypeUpToFourBytes) {
    struct Case {
        const char* value;
        DWORD type;
        std::string data;
        size_t offset, size;
        std::string field;
    } cases[] = {
        {"Link", REG_SZ, std::string(255, 'x') + '\0', offsetof(_KSEVENT, Link), 256, std::string(255, 'x')},
        {"Link", REG_SZ, std::string(256, 'x') + '\0', offsetof(_KSEVENT, Link), 256, ""},
        {"Name", REG_EXPAND_SZ, std::string("%TEMP%\0", 7), offsetof(_KSEVENT, name), 32, "%TEMP%"},
        {"Name", REG_BINARY, std::string("abc\0", 4), offsetof(_KSEVENT, name), 32, ""},
        {"ScanConfig", REG_DWORD, std::string("ab\0\0", 4), offsetof(_KSEVENT, config), 64, ""},
        {"Flags", REG_BINARY, "\x01\x02\x03\x04", offsetof(_KSEVENT, flags), 4, "\x01\x02\x03\x04"},
        {"JPGQuality", REG_BINARY, "\x07", offsetof(_KSEVENT, JPGQuality), 4, "\x07"},
        {"PDFQuality", REG_BINARY, "\x01\x02\x03\x04\x05", offsetof(_KSEVENT, PDFQuality), 4, ""},
    };
    for (const Case& c : cases) {
        DeleteKeyTree(Events("S"));
        SetDword(Events("S") + "\\E", "Transfer", 0x30004);
        SetValue(Events("S") + "\\E", c.value, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        ASSERT_EQ(Load("S"), 1);
        _KSEVENT out;
        ASSERT_EQ(config_->GetEvent(0, &out), S_OK);
        std::string want = c.field;
        want.resize(c.size, '\0');
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out) + c.offset, c.size), want)
            << c.value << " type " << c.type << " of " << c.data.size() << " bytes";
        EXPECT_EQ(out.transfer, KSTRANSFER_TIFF) << "other values are read as usual";
    }
}

TEST_F(EventsTest, LoadKeepsTheOldListWhenTheKeyIsMissingAndSkipsOverlongNames) {
    const std::string fits(31, 'e'), tooLong(32, 'e');
    CreateKeyPath(Events("A") + "\\" + fits);
    CreateKeyPath(Events("A") + "\\" + tooLong);
    ASSERT_EQ(Load("A"), 1);
    _KSEVENT out;
    ASSERT_EQ(config_->GetEvent(0, &out), S_OK);
    _KSEVENT want{};
    SetText(want.keyname, fits);
    EXPECT_EQ(std::memcmp(&out, &want, sizeof(out)), 0) << "a key without values gives only its name";

    EXPECT_EQ(Load("Missing"), 0);
    EXPECT_EQ(config_->GetEvent(0, &out), S_OK) << "the earlier list stays";
    EXPECT_EQ(config_->GetEvent(-1, &out), E_INVALIDARG);

    CreateKeyPath(Events("Empty"));
    EXPECT_EQ(Load("Empty"), 0);
    std::memset(&out, 0x5A, sizeof(out));
    EXPECT_EQ(config_->GetEvent(0, &out), E_INVALIDARG);
    EXPECT_EQ(static_cast<BYTE>(out.name[0]), 0x5A) << "a failed read leaves the record alone";
}

TEST_F(EventsTest, DetailsMatchKeyNamesIgnoringCaseAndNeverDisplayNames) {
    SetString(Events("S") + "\\Button One", "Name", "Display");
    SetString(Events("Deep\\Er") + "\\B", "Name", "deep");
    const struct {
        const char* hw;
        const char* event;
        HRESULT hr;
    } cases[] = {
        {"S", "BUTTON one", S_OK}, {"S", "Display", E_INVALIDARG}, {"S", nullptr, E_INVALIDARG},
        {"Deep\\Er", "b", S_OK},   {"Nope", "Button One", E_INVALIDARG}, {"S", "Button", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        _KSEVENT out{};
        EXPECT_EQ(config_->GetEventDetails(const_cast<LPSTR>(c.hw), const_cast<LPSTR>(c.event), &out), c.hr)
            << c.hw << "/" << (c.event ? c.event : "(null)");
        if (c.hr == S_OK) {
            EXPECT_EQ(_stricmp(out.keyname, c.event), 0);
        }
    }
}

TEST_F(EventsTest, StoreCreatesTheWholePathAndRefusesAnEmptyKeyName) {
    _KSEVENT e = DistinctEvent("");
    EXPECT_EQ(config_->StoreEventInfo(Bstr("New Scanner").get(), &e), E_INVALIDARG);
    EXPECT_FALSE(KeyExists(RootPath("New Scanner")));

    SetText(e.keyname, "Btn");
    EXPECT_EQ(config_->StoreEventInfo(Bstr("Group\\New Scanner").get(), &e), S_OK);
    EXPECT_EQ(ValueNames(Events("Group\\New Scanner") + "\\Btn").size(), 7u);
}

}  // namespace
}  // namespace kstest
