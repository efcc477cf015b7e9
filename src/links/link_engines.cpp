// The link engine catalogue: which engines exist, and the link cache file that they keep.
// Engines announce themselves by engine keys under the settings root; when there are none, the
// engines of the component category are asked to write theirs.
#include <windows.h>
#include <comcat.h>

#include <cstring>
#include <optional>
#include <string>

#include "core/boundary.h"
#include "core/config_object.h"
#include "core/pure/key_path.h"
#include "core/registry_io.h"
#include "core/settings_tree.h"
#include "core/text.h"

namespace ks {

namespace {

constexpr DWORD kMarkerLimit = 64;
constexpr DWORD kGuidLimit = 64;
constexpr DWORD kCachePathLimit = 260;
constexpr DWORD kEngineKeyNameBuffer = 64;
constexpr DWORD kLinkCacheMode = STGM_TRANSACTED | STGM_READ;  // 0x00010000, no sharing flag

// An engine key is told from the device keys beside it only by its default value.
bool IsEngineKey(HKEY key) {
    std::optional<std::string> marker = ReadString(key, nullptr, kMarkerLimit);
    return marker && *marker == kEngineMarker;
}

// The engine's class identifier, only in registry form: a text that does not start with a brace
// (such as a programmatic identifier, which CLSIDFromString would also accept) is not one.
std::optional<CLSID> EngineClass(HKEY key) {
    std::optional<std::string> text = ReadString(key, kEngineClassValue, kGuidLimit);
    if (!text || text->empty() || (*text)[0] != '{') return std::nullopt;
    UniqueBstr wide = MakeBstr(*text);
    CLSID clsid{};
    if (FAILED(CLSIDFromString(wide.get(), &clsid))) return std::nullopt;
    return clsid;
}

// Creates the engine and asks it to refresh; failures of either are the engine's affair.
HRESULT CreateAndRefresh(REFCLSID clsid, HRESULT* refreshResult) {
    ComPtr<ILinkEngine> engine;
    HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ILinkEngine, engine.put_void());
    if (SUCCEEDED(created) && engine) {
        HRESULT refreshed = engine->RefreshEngine();
        if (refreshResult != nullptr) *refreshResult = refreshed;
    }
    return created;
}

// Opens the link cache that the engine key names into *store; StgOpenStorage's result as is.
HRESULT OpenLinkCache(HKEY engineKey, IStorage** store) {
    EnsureSettingsRoot();
    std::optional<std::string> path = ReadString(engineKey, kLinkCacheValue, kCachePathLimit);
    if (!path) return E_FAIL;
    UniqueBstr widePath = MakeBstr(*path);
    return StgOpenStorage(widePath.get(), nullptr, kLinkCacheMode, nullptr, 0, store);
}

}  // namespace

HRESULT STDMETHODCALLTYPE ConfigObject::LoadLinkInfo(LONG Refresh, IStorage** pStore) noexcept {
    const StateLock lock = LockState();
    if (pStore == nullptr) return E_POINTER;
    return Boundary([&] {
        EnsureSettingsRoot();
        HRESULT result = E_FAIL;
        bool engineKeyFound = false;
        // Owns the storage handed out for an engine key until the operation ends; a later key
        // replaces it, and a failure part-way leaves the caller holding none.
        ComPtr<IStorage> opened;
        ScopeExit handBack([&] {
            if (opened) {
                opened.reset();
                *pStore = nullptr;
            }
        });
        if (UniqueHKey root = OpenKey(HKEY_CURRENT_USER, kSettingsRoot, kReadAccess)) {
            for (const std::string& name : SubkeyNames<char>(root.get(), kEngineKeyNameBuffer)) {
                UniqueHKey engineKey = OpenKey(root.get(), name, kReadAccess);
                if (!engineKey || !IsEngineKey(engineKey.get())) continue;
                if (Refresh != 0) {
                    if (std::optional<CLSID> clsid = EngineClass(engineKey.get())) {
                        CreateAndRefresh(*clsid, nullptr);  // the engine's result is of no concern here
                    }
                }
                engineKeyFound = true;
                if (opened) {
                    opened.reset();
                    *pStore = nullptr;
                }
                result = OpenLinkCache(engineKey.get(), pStore);
                if (SUCCEEDED(result)) opened.attach(*pStore);
            }
        }
        if (engineKeyFound) {
            opened.detach();  // the caller owns the storage now
            return result;
        }

        // No engine key: ask the engines of the category to write theirs.
        ComPtr<ICatInformation> categories;
        if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_ALL, IID_ICatInformation,
                                    categories.put_void()))) {
            return result;
        }
        ComPtr<IEnumGUID> members;
        CATID category = CATID_LinkEngines;
        if (FAILED(categories->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1), nullptr,
                                                       members.put())) ||
            !members) {
            return result;
        }
        engines_.Clear();
        bool refreshed = false;
        for (;;) {
            CLSID clsid{};
            ULONG fetched = 0;
            if (FAILED(members->Next(1, &clsid, &fetched)) || fetched != 1) break;
            engines_.Append(clsid);  // a list that cannot grow drops the identifier silently
            HRESULT refreshResult = E_FAIL;
            result = CreateAndRefresh(clsid, &refreshResult);
            if (SUCCEEDED(result) && SUCCEEDED(refreshResult)) refreshed = true;
        }
        members.reset();
        categories.reset();

        // Start over from the registry, once: a refresh that leaves no engine key behind would
        // otherwise send every run back into the category search.
        if (refreshed && !linkRerun_) {
            linkRerun_ = true;
            ScopeExit endRerun([this] { linkRerun_ = false; });
            return static_cast<IKeystrelConfig*>(this)->LoadLinkInfo(Refresh, pStore);
        }
        return result;
    });
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkEngineCLSID(ULONG index, GUID* clsid) noexcept {
    const StateLock lock = LockState();
    if (clsid == nullptr) return E_POINTER;
    if (engines_.Count() == 0) return E_FAIL;
    if (index >= static_cast<ULONG>(engines_.Count())) return E_INVALIDARG;
    engines_.CopyOut(static_cast<long>(index), clsid);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConfigObject::GetLinkEngineContainer(BSTR name, BSTR* container) noexcept {
    return Boundary([&] {
        EnsureSettingsRoot();
        StoreBstr(container, JoinKey(kSettingsRoot, ToAnsi(name)));
        return S_OK;
    });
}

}  // namespace ks
