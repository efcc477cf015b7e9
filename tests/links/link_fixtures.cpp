#include "links/link_fixtures.h"

namespace kstest {

const CLSID kEngineClasses[4] = {
    {0x467befab, 0x0a43, 0x4f4e, {0x95, 0x6a, 0x57, 0xb4, 0x21, 0x55, 0xd4, 0x88}},
    {0x759749a1, 0xa173, 0x48a7, {0x90, 0x1f, 0xb6, 0x9c, 0xf3, 0xcd, 0x96, 0x1e}},
    {0x7aa00f8d, 0xf533, 0x4e9a, {0xbe, 0x14, 0x87, 0x05, 0x00, 0xa5, 0xbe, 0x8a}},
    {0x5428e95b, 0x0198, 0x477c, {0x91, 0x28, 0x3e, 0xa8, 0xc5, 0x98, 0x7c, 0x5e}},
};

namespace {

// A plain object that may or may not answer ILinkEngine.
class EngineObject final : public ILinkEngine {
public:
    explicit EngineObject(std::shared_ptr<EngineScript> script) : script_(std::move(script)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || (riid == IID_ILinkEngine && script_->answersLinkEngine)) {
            *out = static_cast<ILinkEngine*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE RefreshEngine() override {
        ++script_->refreshes;
        if (!script_->keyName.empty()) WriteEngineKey(script_->keyName, guid_, script_->linkCache);
        return script_->refreshResult;
    }
    std::string guid_;

private:
    std::shared_ptr<EngineScript> script_;
    ULONG refs_ = 0;
};

class EngineFactory final : public IClassFactory {
public:
    EngineFactory(REFCLSID clsid, std::shared_ptr<EngineScript> script) : clsid_(clsid), script_(std::move(script)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (FAILED(script_->createResult)) return script_->createResult;
        auto* engine = new EngineObject(script_);
        engine->guid_ = GuidText(clsid_);
        engine->AddRef();
        HRESULT hr = engine->QueryInterface(riid, out);
        engine->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    CLSID clsid_;
    std::shared_ptr<EngineScript> script_;
    ULONG refs_ = 0;
};

Ref<ICatRegister> CategoryRegister() {
    Ref<ICatRegister> reg;
    EXPECT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                               reg.put_void()),
              S_OK);
    return reg;
}

}  // namespace

std::string GuidText(REFGUID guid) {
    wchar_t wide[64] = {};
    StringFromGUID2(guid, wide, 64);
    char text[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

TestEngine::TestEngine(REFCLSID clsid, bool classObject, bool inCategory)
    : clsid_(clsid), script_(std::make_shared<EngineScript>()), inCategory_(inCategory) {
    if (classObject) {
        auto* factory = new EngineFactory(clsid, script_);
        factory->AddRef();
        EXPECT_EQ(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_), S_OK);
        factory->Release();
    }
    if (inCategory) {
        CATID category = CATID_LinkEngines;
        EXPECT_EQ(CategoryRegister()->RegisterClassImplCategories(clsid, 1, &category), S_OK);
    }
}

TestEngine::~TestEngine() {
    if (cookie_ != 0) CoRevokeClassObject(cookie_);
    if (inCategory_) {
        CATID category = CATID_LinkEngines;
        CategoryRegister()->UnRegisterClassImplCategories(clsid_, 1, &category);
    }
    DeleteKeyTree("CLSID\\" + GuidText(clsid_), HKEY_CLASSES_ROOT);
}

void ForgetTestEngines() {
    for (const CLSID& clsid : kEngineClasses) {
        DeleteKeyTree("CLSID\\" + GuidText(clsid), HKEY_CLASSES_ROOT);
        DeleteKeyTree("Software\\Classes\\CLSID\\" + GuidText(clsid), HKEY_LOCAL_MACHINE);
        DeleteKeyTree("Software\\Classes\\CLSID\\" + GuidText(clsid), HKEY_CURRENT_USER);
    }
}

std::vector<CLSID> CategoryMembers() {
    std::vector<CLSID> members;
    Ref<ICatInformation> info;
    if (CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                         info.put_void()) != S_OK) {
        ADD_FAILURE() << "no component categories manager";
        return members;
    }
    CATID category = CATID_LinkEngines;
    Ref<IEnumGUID> list;
    if (info->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1), nullptr, list.put()) != S_OK) {
        return members;
    }
    CLSID clsid;
    ULONG fetched = 0;
    while (list->Next(1, &clsid, &fetched) == S_OK && fetched == 1) members.push_back(clsid);
    return members;
}

void WriteEngineKey(const std::string& name, const std::string& guid, const std::string& linkCache) {
    SetString(RootPath(name), "", "LINKENGINE");
    SetString(RootPath(name), "GUID", guid);
    SetString(RootPath(name), "LinkCache", linkCache);
}

std::string TempPath(const std::string& stem) {
    static int counter = 0;
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    return std::string(folder) + "ks_links_" + stem + "_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++counter) + ".stg";
}

CacheFile::CacheFile(const std::string& marker) : path_(TempPath(marker)) {
    Bstr wide(path_.c_str());
    Ref<IStorage> storage;
    EXPECT_EQ(StgCreateDocfile(wide.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()),
              S_OK);
    if (!storage) return;
    Bstr streamName(marker.c_str());
    Ref<IStream> stream;
    EXPECT_EQ(storage->CreateStream(streamName.get(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                    stream.put()),
              S_OK);
    stream.reset();
    EXPECT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
}

CacheFile::~CacheFile() { DeleteFileA(path_.c_str()); }

std::string MarkerOf(IStorage* storage) {
    if (storage == nullptr) return "<null>";
    Ref<IEnumSTATSTG> elements;
    if (storage->EnumElements(0, nullptr, 0, elements.put()) != S_OK) return "<no elements>";
    STATSTG stat{};
    ULONG fetched = 0;
    if (elements->Next(1, &stat, &fetched) != S_OK || fetched != 1) return "<empty>";
    Bstr name(stat.pwcsName);
    CoTaskMemFree(stat.pwcsName);
    return name.Ansi();
}

}  // namespace kstest
