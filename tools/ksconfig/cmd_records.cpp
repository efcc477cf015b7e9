// Commands that show scan profiles, events and the scanners that have them.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "json.h"
#include "names.h"
#include "output.h"
#include "core/text.h"
#include "registry_view.h"
#include "store.h"

namespace ksconfig {
namespace {

void PrintConfig(const _KSCONFIG& c) {
    PrintField("hwguid", GuidText(c.hwguid));
    PrintField("keyname", Quoted(Field(c.keyname)));
    PrintField("name", Quoted(Field(c.name)));
    PrintField("flags", FlagsText(static_cast<std::uint32_t>(c.flags), ConfigFlagNames()));
    PrintField("DataType", FlagsText(static_cast<std::uint32_t>(c.DataType), ConfigModeNames()));
    const struct {
        const char* label;
        long value;
    } numbers[] = {{"PixelBits", c.PixelBits},       {"Intensity", c.Intensity},   {"Contrast", c.Contrast},
                   {"Xresolution", c.Xresolution},   {"Yresolution", c.Yresolution}, {"PageWidth", c.PageWidth},
                   {"PageHeight", c.PageHeight},     {"ScanHardware", c.ScanHardware}, {"Duplex", c.Duplex},
                   {"ColorDropOut", c.ColorDropOut}, {"Negative", c.Negative},     {"Mirror", c.Mirror},
                   {"Crop", c.Crop},                 {"Deskew", c.Deskew},         {"Moire", c.Moire},
                   {"Autorotate90", c.Autorotate90}, {"UseToneMap", c.UseToneMap}};
    for (const auto& n : numbers) PrintField(n.label, std::to_string(n.value));
    const _KSCFGMAP& t = c.ToneMap;
    PrintField("ToneMap", "Saturation " + std::to_string(t.Saturation) + ", Sharpen " + std::to_string(t.Sharpen) +
                              ", Hue " + std::to_string(t.Hue) + ", RedGamma " + std::to_string(t.RedGamma) +
                              ", GreenGamma " + std::to_string(t.GreenGamma) + ", BlueGamma " +
                              std::to_string(t.BlueGamma) + ", GreyGamma " + std::to_string(t.GreyGamma));
    PrintField("ShowProgress", std::to_string(c.ShowProgress));
    PrintField("HasLinkConfig", std::to_string(c.HasLinkConfig));
    PrintField("LinkConfig", Quoted(Field(c.LinkConfig)));
    PrintField("LinkSignature", Quoted(Field(c.LinkSignature)));
    PrintField("HasUIConfig", std::to_string(c.HasUIConfig));
    PrintField("UIConfig", Quoted(Field(c.UIConfig)));
    PrintField("VRSConfig", Quoted(Field(c.VRSConfig)));
}

std::string ConfigJson(const _KSCONFIG& c) {
    using namespace json;
    auto text = [](const std::string& ansi) { return Str(Utf8FromAnsi(ansi)); };
    const _KSCFGMAP& t = c.ToneMap;
    return Obj({
        {"hwguid", Str(GuidText(c.hwguid))},
        {"keyname", text(Field(c.keyname))},
        {"name", text(Field(c.name))},
        {"flags", Num(static_cast<std::uint32_t>(c.flags))},
        {"flagNames", StrArr(DecodeBits(static_cast<std::uint32_t>(c.flags), ConfigFlagNames()))},
        {"DataType", Num(static_cast<std::uint32_t>(c.DataType))},
        {"DataTypeNames", StrArr(DecodeBits(static_cast<std::uint32_t>(c.DataType), ConfigModeNames()))},
        {"PixelBits", Num(c.PixelBits)},
        {"Intensity", Num(c.Intensity)},
        {"Contrast", Num(c.Contrast)},
        {"Xresolution", Num(c.Xresolution)},
        {"Yresolution", Num(c.Yresolution)},
        {"PageWidth", Num(c.PageWidth)},
        {"PageHeight", Num(c.PageHeight)},
        {"ScanHardware", Num(c.ScanHardware)},
        {"Duplex", Num(c.Duplex)},
        {"ColorDropOut", Num(c.ColorDropOut)},
        {"Negative", Num(c.Negative)},
        {"Mirror", Num(c.Mirror)},
        {"Crop", Num(c.Crop)},
        {"Deskew", Num(c.Deskew)},
        {"Moire", Num(c.Moire)},
        {"Autorotate90", Num(c.Autorotate90)},
        {"UseToneMap", Num(c.UseToneMap)},
        {"ToneMap", Obj({{"Saturation", Num(t.Saturation)},
                         {"Sharpen", Num(t.Sharpen)},
                         {"Hue", Num(t.Hue)},
                         {"RedGamma", Num(t.RedGamma)},
                         {"GreenGamma", Num(t.GreenGamma)},
                         {"BlueGamma", Num(t.BlueGamma)},
                         {"GreyGamma", Num(t.GreyGamma)}})},
        {"ShowProgress", Num(c.ShowProgress)},
        {"HasLinkConfig", Num(c.HasLinkConfig)},
        {"LinkConfig", text(Field(c.LinkConfig))},
        {"LinkSignature", text(Field(c.LinkSignature))},
        {"HasUIConfig", Num(c.HasUIConfig)},
        {"UIConfig", text(Field(c.UIConfig))},
        {"VRSConfig", text(Field(c.VRSConfig))},
    });
}

void PrintEvent(const _KSEVENT& e) {
    PrintField("hwguid", GuidText(e.hwguid));
    PrintField("keyname", Quoted(Field(e.keyname)));
    PrintField("name", Quoted(Field(e.name)));
    PrintField("flags", FlagsText(static_cast<std::uint32_t>(e.flags), ConfigFlagNames()));
    PrintField("config", Quoted(Field(e.config)));
    PrintField("Link", Quoted(Field(e.Link)));
    PrintField("transfer", FlagsText(static_cast<std::uint32_t>(e.transfer), TransferNames()));
    PrintField("JPGQuality", std::to_string(e.JPGQuality));
    PrintField("PDFQuality", std::to_string(e.PDFQuality));
}

std::string EventJson(const _KSEVENT& e) {
    using namespace json;
    auto text = [](const std::string& ansi) { return Str(Utf8FromAnsi(ansi)); };
    return Obj({
        {"hwguid", Str(GuidText(e.hwguid))},
        {"keyname", text(Field(e.keyname))},
        {"name", text(Field(e.name))},
        {"flags", Num(static_cast<std::uint32_t>(e.flags))},
        {"flagNames", StrArr(DecodeBits(static_cast<std::uint32_t>(e.flags), ConfigFlagNames()))},
        {"config", text(Field(e.config))},
        {"Link", text(Field(e.Link))},
        {"transfer", Num(static_cast<std::uint32_t>(e.transfer))},
        {"transferNames", StrArr(DecodeBits(static_cast<std::uint32_t>(e.transfer), TransferNames()))},
        {"JPGQuality", Num(e.JPGQuality)},
        {"PDFQuality", Num(e.PDFQuality)},
    });
}

int CalibrationTableCount(const std::string& hardware) {
    ks::UniqueHKey key = OpenRead(ks::JoinKey(ks::DeviceKeyPath(hardware), ks::kCalibrationProfilesKey));
    return key ? static_cast<int>(SortedValues(key.get()).size()) : 0;
}

}  // namespace

int RequireDevice(const std::string& hardware) {
    if (KeyExists(ks::DeviceKeyPath(hardware))) return kOk;
    return Fail(kNotFound, "no settings for scanner \"" + hardware + "\"");
}

int Scanners(const Arguments& args) {
    Store store;
    if (int rc = store.Open(); rc != kOk) return rc;
    std::vector<std::string> json;
    std::vector<std::string> lines;
    std::vector<std::string> devices = DeviceNames();
    for (const std::string& device : devices) {
        ks::UniqueBstr name = ks::MakeBstr(device);
        LONG profiles = 0, events = 0, gamma = 0;
        HRESULT hr = store->LoadConfigInfo(name.get(), KSCNFGFLAG_ALL, &profiles);
        if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
        hr = store->LoadEventInfo(name.get(), &events);
        if (FAILED(hr)) return StoreFailure("LoadEventInfo", hr);
        hr = store->GetDefualtGamma(name.get(), &gamma);
        bool hasGamma = hr == S_OK;
        if (FAILED(hr) && hr != E_FAIL) return StoreFailure("GetDefualtGamma", hr);
        int tables = CalibrationTableCount(device);
        lines.push_back("  " + device + ": " + Count(profiles, "scan profile") + ", " + Count(events, "event") + ", " +
                        (hasGamma ? "current gamma " + std::to_string(gamma) : std::string("no current gamma")) +
                        ", " + Count(tables, "calibration table"));
        json.push_back(json::Obj({{"name", json::Str(Utf8FromAnsi(device))},
                                  {"profiles", json::Num(profiles)},
                                  {"events", json::Num(events)},
                                  {"currentGamma", hasGamma ? json::Num(gamma) : json::Null()},
                                  {"calibrationTables", json::Num(tables)}}));
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s with settings\n", Count(static_cast<long>(devices.size()), "scanner").c_str());
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    }
    return kOk;
}

int Profiles(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    std::string type = args.Option("--type", "all");
    std::optional<std::uint32_t> filter = ProfileTypeFilter(type);
    if (!filter) return UsageError("unknown profile type \"" + type + "\"");
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG count = 0;
    HRESULT hr = store->LoadConfigInfo(name.get(), static_cast<_KSCNFGFLAG>(*filter), &count);
    if (FAILED(hr)) return StoreFailure("LoadConfigInfo", hr);
    std::vector<std::string> json;
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSCONFIG c{};
        hr = store->GetConfig(i, &c);
        if (FAILED(hr)) return StoreFailure("GetConfig", hr);
        json.push_back(ConfigJson(c));
        rows.push_back({Field(c.keyname), Quoted(Field(c.name)),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(c.flags), ConfigFlagNames())),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(c.DataType), ConfigModeNames())),
                        std::to_string(c.Xresolution) + "x" + std::to_string(c.Yresolution) + " dpi"});
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s of \"%s\" (type %s)\n", Count(count, "scan profile").c_str(), hardware.c_str(), type.c_str());
        PrintTable(rows);
    }
    return kOk;
}

int Profile(const Arguments& args) {
    std::string hardware = args.positional[0];
    std::string keyname = args.positional[1];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    _KSCONFIG c{};
    HRESULT hr = store->GetConfigDetails(hardware.data(), keyname.data(), &c);
    if (hr == E_INVALIDARG) {
        std::fprintf(stderr, "ksconfig: scanner \"%s\" has no scan profile with the key name \"%s\"\n",
                     hardware.c_str(), keyname.c_str());
        return kNotFound;
    }
    if (FAILED(hr)) return StoreFailure("GetConfigDetails", hr);
    if (args.Has("--json")) {
        std::printf("%s\n", ConfigJson(c).c_str());
    } else {
        PrintConfig(c);
    }
    return kOk;
}

int Events(const Arguments& args) {
    const std::string& hardware = args.positional[0];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    ks::UniqueBstr name = ks::MakeBstr(hardware);
    LONG count = 0;
    HRESULT hr = store->LoadEventInfo(name.get(), &count);
    if (FAILED(hr)) return StoreFailure("LoadEventInfo", hr);
    std::vector<std::string> json;
    std::vector<std::vector<std::string>> rows;
    for (LONG i = 0; i < count; ++i) {
        _KSEVENT e{};
        hr = store->GetEvent(i, &e);
        if (FAILED(hr)) return StoreFailure("GetEvent", hr);
        json.push_back(EventJson(e));
        rows.push_back({Field(e.keyname), Quoted(Field(e.name)), "profile " + Quoted(Field(e.config)),
                        JoinNames(DecodeBits(static_cast<std::uint32_t>(e.transfer), TransferNames())),
                        "link " + Quoted(Field(e.Link))});
    }
    if (args.Has("--json")) {
        std::printf("%s\n", json::Arr(json).c_str());
    } else {
        std::printf("%s of \"%s\"\n", Count(count, "event").c_str(), hardware.c_str());
        PrintTable(rows);
    }
    return kOk;
}

int Event(const Arguments& args) {
    std::string hardware = args.positional[0];
    std::string keyname = args.positional[1];
    Store store;
    if (int rc = store.OpenForDevice(hardware); rc != kOk) return rc;
    _KSEVENT e{};
    HRESULT hr = store->GetEventDetails(hardware.data(), keyname.data(), &e);
    if (hr == E_INVALIDARG) {
        std::fprintf(stderr, "ksconfig: scanner \"%s\" has no event with the key name \"%s\"\n", hardware.c_str(),
                     keyname.c_str());
        return kNotFound;
    }
    if (FAILED(hr)) return StoreFailure("GetEventDetails", hr);
    if (args.Has("--json")) {
        std::printf("%s\n", EventJson(e).c_str());
    } else {
        PrintEvent(e);
    }
    return kOk;
}

}  // namespace ksconfig
