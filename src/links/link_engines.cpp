// The link engine catalogue: which engines exist, and the link cache file that they keep.
// Engines announce themselves by engine keys under the settings root; when there are none, the
// engines of the component category are asked to write theirs.
#include <windows.h>
#include <comcat.h>

#include <cstring>
#include <optional>
#include <string>

#include "core/pure/key_path.h"
#include "core/record_descriptor.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "links/link_service.h"

namespace ks {

namespace {

constexpr DWORD kMarkerLimit = 64;
constexpr DWORD kLinkCacheMode = STGM_TRANSACTED | STGM_READ;  // 0x00010000, no sharing flag

// The engine's class identifier, only in registry form: a text that does not start with a brace
// (such as a programmatic identifier, which CLSIDFromString would also accept) is not one.
std::optional<CLSID> EngineClass(HKEY key) {
    EngineSettings settings{};
    ReadField(key, EngineFields()[kEngineClassField], &settings);
    if (settings.engineClass[0] != '{') return std::nullopt;
    CLSID clsid{};
    if (FAILED(CLSIDFromString(Widen(FieldText(settings.engineClass)).c_str(), &clsid))) return std::nullopt;
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
    EngineSettings settings{};
    if (ReadField(engineKey, EngineFields()[kLinkCacheField], &settings).verdict != ValueSeen::Verdict::Read) return E_FAIL;
    return StgOpenStorage(Widen(FieldText(settings.linkCache)).c_str(), nullptr, kLinkCacheMode, nullptr, 0, store);
}

// One look through the engine keys (each refreshed first when `refresh` is set). Each opens its
// link cache into *store, releasing the storage of the one before; the last one's result counts.
// Nothing when there is no engine key.
std::optional<HRESULT> OpenFromEngineKeys(LONG refresh, IStorage** store) {
    UniqueHKey root = OpenKey(HKEY_CURRENT_USER, kSettingsRoot, kReadAccess);
    if (!root) return std::nullopt;
    std::optional<HRESULT> result;
    // Owns the storage handed out for an engine key until the look ends; a later key replaces it,
    // and a failure part-way leaves the caller holding none.
    ComPtr<IStorage> opened;
    ScopeExit handBack([&] {
        if (opened) {
            opened.reset();
            *store = nullptr;
        }
    });
    // A link is no engine key: the list leaves it out.
    ListSubkeys(root.get(), kListNameBuffer - 1, [&](HKEY engineKey, const std::string&) {
        if (!IsEngineKey(engineKey)) return;
        if (refresh != 0) {
            if (std::optional<CLSID> clsid = EngineClass(engineKey)) {
                CreateAndRefresh(*clsid, nullptr);  // the engine's result is of no concern here
            }
        }
        if (opened) {
            opened.reset();
            *store = nullptr;
        }
        result = OpenLinkCache(engineKey, store);
        if (SUCCEEDED(*result)) opened.attach(*store);
    });
    opened.detach();  // the caller owns the storage now
    return result;
}

// The search by component category: every member is listed in `listed` and asked to refresh.
// The result is the last member's creation result (E_FAIL without members, or without the
// category manager); `refreshed` tells whether any refresh succeeded. False when the category
// could not be asked, and the list is then not to be replaced.
bool SearchCategory(GrowableList<CLSID>& listed, HRESULT* result, bool* refreshed) {
    ComPtr<ICatInformation> categories;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_ALL, IID_ICatInformation,
                                categories.put_void()))) {
        return false;
    }
    ComPtr<IEnumGUID> members;
    CATID category = CATID_LinkEngines;
    if (FAILED(categories->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1), nullptr, members.put())) ||
        !members) {
        return false;
    }
    for (;;) {
        CLSID clsid{};
        ULONG fetched = 0;
        if (FAILED(members->Next(1, &clsid, &fetched)) || fetched != 1) break;
        listed.Append(clsid);  // a list that cannot grow drops the identifier silently
        HRESULT refreshResult = E_FAIL;
        *result = CreateAndRefresh(clsid, &refreshResult);
        if (SUCCEEDED(*result) && SUCCEEDED(refreshResult)) *refreshed = true;
    }
    return true;
}

}  // namespace

bool IsEngineKey(HKEY key) {
    std::optional<std::string> marker = ReadString(key, nullptr, kMarkerLimit);
    return marker && *marker == kEngineMarker;
}

HRESULT LinkService::LoadLinkInfo(LONG refresh, IStorage** store) {
    // Engines are called without the lock: one may call back into this object, from its own
    // thread or another. Only the engine list is the object's, replaced in one step. A refresh in
    // the category search sends the whole operation back to the registry, root step included,
    // once: an engine that leaves no engine key behind would otherwise do so without end.
    HRESULT result = E_FAIL;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass > 0) EnsureSettingsRoot();
        if (std::optional<HRESULT> opened = OpenFromEngineKeys(refresh, store)) return *opened;
        // No engine key: ask the engines of the category to write theirs.
        GrowableList<CLSID> listed;
        bool refreshed = false;
        result = E_FAIL;
        if (!SearchCategory(listed, &result, &refreshed)) return result;
        {
            const StateLock::Hold hold = lock_.Take();
            engines_.Swap(listed);  // the old list goes with `listed`
        }
        if (!refreshed) break;
    }
    return result;
}

HRESULT LinkService::GetLinkEngineCLSID(ULONG index, GUID* clsid) {
    const StateLock::Hold hold = lock_.Take();
    if (engines_.Count() == 0) return E_FAIL;
    if (index >= static_cast<ULONG>(engines_.Count())) return E_INVALIDARG;
    engines_.CopyOut(static_cast<long>(index), clsid);
    return S_OK;
}

std::string LinkEngineContainer(const std::string& name) { return JoinKey(kSettingsRoot, name); }

}  // namespace ks
