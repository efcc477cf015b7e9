#pragma once
// KeystrelConfig: the one class of the store. This header is the map of its interface (each
// method with its contract, grouped by the service that does the work) and the object's whole
// state. Every method is a thin forwarder: the boundary call, BSTR conversion, then the service.
#include <atomic>

#include "core/records.h"
#include "links/link_service.h"
#include "profiles/profile_service.h"

namespace ks {

// Creates a configuration object, plain or aggregated into `outer`, runs the ensure-root step
// and asks it for `riid`. On failure the object is torn down at once (backup step included).
// E_OUTOFMEMORY when the object cannot be allocated; the two steps never fail the creation.
HRESULT CreateConfigObject(IUnknown* outer, REFIID riid, void** object) noexcept;

// Conventions that hold for all of the interface's methods unless a line says otherwise:
// - each runs through Call (core/boundary.h): nothing crosses the interface but the HRESULT,
//   std::bad_alloc gives E_OUTOFMEMORY, any other exception E_UNEXPECTED;
// - a required null pointer gives E_POINTER before anything else, the ensure-root step included;
// - "root first" means the settings root is rebuilt from the backup, when missing, before the work;
// - registry failures are silent (S_OK, nothing done) unless a result says otherwise;
// - BSTR arguments are converted to 8-bit text in the calling thread's ANSI code page and end at
//   their first NUL; a null BSTR is the empty text. A null BSTR* out-parameter receives nothing.
// - a service's lock is held only while its state is read or changed, never across a call out of
//   the store (device component, link engines, category manager, StgOpenStorage); no method calls
//   another through the interface. The active scanner is read once, GUID and name together.
class ConfigObject final : public IKeystrelConfig {
public:
    explicit ConfigObject(IUnknown* outer);
    ~ConfigObject();
    ConfigObject(const ConfigObject&) = delete;
    ConfigObject& operator=(const ConfigObject&) = delete;

    // --- identity, lifetime, the process-wide active scanner (profiles service) ---
    // IUnknown: delegates to the outer object when aggregated; the count is atomic.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    // The last release runs the backup step (settings root copied into the backup; an allocation
    // failure ends it silently) and frees the lists.
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    // The object's own identity, used by the aggregating wrapper and by creation.
    HRESULT InternalQueryInterface(REFIID riid, void** object);
    // Teardown step run before the memory goes: takes the backup. Never throws.
    void FinalRelease() noexcept;
    // S_OK; sets the process-wide GUID and name for every object (a null name clears it). The GUID
    // stays replaced when the name cannot be copied (E_OUTOFMEMORY). No root step.
    HRESULT STDMETHODCALLTYPE SetActiveHardware(GUID hwguid, LPSTR hwname) noexcept override;
    // The seven "...ConfigRegistry..." slots: S_OK, read and write nothing, touch no argument.
    HRESULT STDMETHODCALLTYPE GetConfigRegistryString(BSTR Value, BSTR* pValue) noexcept override;
    HRESULT STDMETHODCALLTYPE SetConfigRegistryString(BSTR Value, BSTR NewValue) noexcept override;
    HRESULT STDMETHODCALLTYPE GetConfigRegistryDWORD(BSTR Value, ULONG* pValue) noexcept override;
    HRESULT STDMETHODCALLTYPE SetConfigRegistryDWORD(BSTR Value, ULONG NewValue) noexcept override;
    HRESULT STDMETHODCALLTYPE GetConfigRegistryBinary(BSTR Value, unsigned char** pValue, LONG* pSize) noexcept override;
    HRESULT STDMETHODCALLTYPE SetConfigRegistryBinary(BSTR Value, unsigned char* pNewValue, LONG lSize) noexcept override;
    HRESULT STDMETHODCALLTYPE DeleteConfigRegistryValue(BSTR Subpath, BSTR Value) noexcept override;

    // --- profiles service: the scan profile list ---
    // Root first. S_OK; *count = profiles of <hardware>\ScanProfiles whose flags match (or ask to
    // be shown always). No ScanProfiles key: *count = 0 and the list loaded before stays.
    HRESULT STDMETHODCALLTYPE LoadConfigInfo(BSTR hardware, _KSCNFGFLAG flags, LONG* count) noexcept override;
    // Root first. S_OK; writes the profile's values under its key, giving a new profile (empty key
    // name) a GUID key name that the caller sees in *config. The list is not changed.
    HRESULT STDMETHODCALLTYPE StoreConfigInfo(BSTR hardware, _KSCONFIG* config) noexcept override;
    // S_OK and a copy of the listed profile; E_INVALIDARG (record untouched) for an index off the list.
    HRESULT STDMETHODCALLTYPE GetConfig(LONG index, _KSCONFIG* pconfig) noexcept override;
    // Root first. Reloads the list with every profile of `hw`, as LoadConfigInfo with all type bits,
    // and finds `config` by key name (case-insensitive): S_OK, or E_INVALIDARG when none matches
    // (the record then holds the last one examined).
    HRESULT STDMETHODCALLTYPE GetConfigDetails(LPSTR hw, LPSTR config, _KSCONFIG* pconfig) noexcept override;
    // S_OK; any index is taken. -1 also forgets the active copy (the client that holds it keeps it).
    HRESULT STDMETHODCALLTYPE SetActiveConfig(LONG index) noexcept override;
    // Root first. E_INVALIDARG for an index off the list; else S_OK and the profile's key is deleted
    // under the active scanner's device key. The list keeps the record until the next load.
    HRESULT STDMETHODCALLTYPE DeleteConfigInfo(LONG index) noexcept override;

    // --- profiles service: the active profile a client edits ---
    // *pconfig = null first. Root first. With no valid active index a new profile is appended
    // (named from string resource 2000, defaults from the active scanner's device component).
    // S_OK and the object's task-memory block of the active profile (the same block while the
    // same profile stays active, so unsaved edits survive); E_OUTOFMEMORY when none can be made.
    HRESULT STDMETHODCALLTYPE GetActiveConfig(_KSCONFIG** pconfig) noexcept override;
    // Root first. S_FALSE when no valid profile is active (the block stays with the object).
    // Otherwise the block is freed, and saved first when it carries KSCNFGFLAG_SAVE (cleared before
    // saving) as StoreConfigInfo does, under the active scanner: S_OK; S_FALSE if not saved.
    HRESULT STDMETHODCALLTYPE StoreActiveConfig() noexcept override;

    // --- profiles service: button events ---
    // Root first. S_OK; *count = events of <hardware>\EventProfiles. No key: *count = 0, list kept.
    HRESULT STDMETHODCALLTYPE LoadEventInfo(BSTR hardware, LONG* count) noexcept override;
    // S_OK and a copy of the listed event; E_INVALIDARG (record untouched) for an index off the list.
    HRESULT STDMETHODCALLTYPE GetEvent(LONG index, _KSEVENT* pevent) noexcept override;
    // Root first. E_INVALIDARG for an empty key name; else S_OK and the values written under its key.
    HRESULT STDMETHODCALLTYPE StoreEventInfo(BSTR hardware, _KSEVENT* pevent) noexcept override;
    // Root first. Reloads the events of `hw`, as LoadEventInfo, and finds `event` by key name:
    // S_OK, or E_INVALIDARG when none matches.
    HRESULT STDMETHODCALLTYPE GetEventDetails(LPSTR hw, LPSTR event, _KSEVENT* pevent) noexcept override;

    // --- links service: the link engine catalogue ---
    // Root first. Engine keys found (refreshed first when Refresh != 0): the result of opening the
    // last one's link cache into *pStore (an earlier storage is released). None: the engines of the
    // component category are listed and refreshed, and the whole search runs once more if one
    // refreshed; the result is then the last engine's creation result, E_FAIL when there was none.
    HRESULT STDMETHODCALLTYPE LoadLinkInfo(LONG Refresh, IStorage** pStore) noexcept override;
    // E_FAIL with an empty engine list, E_INVALIDARG for an index off it, else S_OK and the identifier.
    HRESULT STDMETHODCALLTYPE GetLinkEngineCLSID(ULONG index, GUID* clsid) noexcept override;
    // Root first. S_OK and "<settings root>\<name>" as a new BSTR.
    HRESULT STDMETHODCALLTYPE GetLinkEngineContainer(BSTR name, BSTR* container) noexcept override;

    // --- links service: profile paths and text-recognition flags ---
    // Root first. S_OK and the key path of the link profiles as a new BSTR.
    HRESULT STDMETHODCALLTYPE GetLinkCustomProfile(BSTR* path) noexcept override;
    // Root first. S_OK and the key path of the interface profiles as a new BSTR.
    HRESULT STDMETHODCALLTYPE GetUIInterfaceProfile(BSTR* path) noexcept override;
    // S_OK; remembers the profile name for the two UIInterface... calls of this object. No root step.
    HRESULT STDMETHODCALLTYPE SetUIInterfaceProfile(BSTR profile) noexcept override;
    // S_OK and 1, always.
    HRESULT STDMETHODCALLTYPE CanUIInterfaceCloseOnScan(LONG* closeUI) noexcept override;
    // No root step. E_FAIL when the text-recognition key or both values are missing; else S_OK with
    // each flag found set to 1 for "on" (119), 0 otherwise; a missing one stays untouched.
    HRESULT STDMETHODCALLTYPE GetOCRFlags(LONG* lSendEmptyFile, LONG* lShowMessages) noexcept override;

    // --- calibration service: gamma tables ---
    // E_INVALIDARG for a negative size (before the root step). Root first. Sets the device's current
    // number and writes table "Gamma - <gamma>": S_OK, E_FAIL when a key cannot be created.
    HRESULT STDMETHODCALLTYPE StoreCalibrationData(BSTR hwname, LONG gamma, LONG size, unsigned char* data) noexcept override;
    // E_INVALIDARG for a negative size (before the root step). Root first. The current table from the
    // caller's hive, else the console user's (only when the caller has no device key), else after
    // importing the default profile: S_OK with `data` filled; E_FAIL when still not found; S_OK with
    // `data` untouched when there is no default profile to import.
    HRESULT STDMETHODCALLTYPE GetCalibrationData(BSTR name, LONG size, unsigned char* data) noexcept override;
    // Root first. S_OK and the device's current number; E_FAIL without device key or REG_DWORD.
    HRESULT STDMETHODCALLTYPE GetDefualtGamma(BSTR hwname, LONG* gamma) noexcept override;

    // --- device service: copy-to-folder settings ---
    // Root first. S_OK; the stored folder, options and count, or on first use the defaults (a folder
    // in the user's documents, created) written and returned. Without a usable documents folder
    // nothing is written and the out-parameters stay untouched.
    HRESULT STDMETHODCALLTYPE CopyToFolderSettings(BSTR hwname, _KSCPYFLAG* flag, BSTR* path, LONG* count) noexcept override;
    // Root first. S_OK; folder and options stored as given (the count is left alone).
    HRESULT STDMETHODCALLTYPE StoreCopyFolderOptions(BSTR hwname, _KSCPYFLAG flags, BSTR path) noexcept override;
    // Root first. S_OK; adds to the count (a missing count starts at 0; wraps at 32 bits).
    HRESULT STDMETHODCALLTYPE UpdateCopyCount(BSTR hwname, LONG addcopy) noexcept override;

    // --- device service: the interface's modes and the driver settings files ---
    // Root first. Writes both modes under the remembered interface profile's key, which it never
    // creates: S_OK.
    HRESULT STDMETHODCALLTYPE UIInterfaceSaveSettings(short scanmode, short devicemode) noexcept override;
    // Root first. S_OK; the saved modes (2 and 1 when never saved) and the profile's ISIS settings
    // file, made from the install folder's template on first use; *configfile untouched when none.
    HRESULT STDMETHODCALLTYPE UIInterfaceStartupSettings(BSTR hwname, short* scanmode, short* devicemode,
                                                         BSTR* configfile) noexcept override;
    // Root first. S_OK and the scanner's TWAIN settings file (made on first use), empty when none.
    HRESULT STDMETHODCALLTYPE GetTwainConfigurationFile(BSTR hwname, BSTR* configfile) noexcept override;

    // --- the install folder (core/module.h) ---
    // No root step. S_OK and the install folder; E_FAIL (folder untouched) when the module path is unknown.
    HRESULT STDMETHODCALLTYPE GetKSInstallFolder(BSTR* folder) noexcept override;

private:
    // Creation sets the count around the ensure-root step and the creator's query.
    template <class Created>
    friend HRESULT FinishCreation(Created* created, ConfigObject& config, REFIID riid, void** object);

    // Reference count of a plain object. Atomic: references are taken and dropped from any thread.
    std::atomic<LONG> refCount_ = 0;
    IUnknown* outer_;  // the aggregating object, or null for a plain object
    ProfileService profiles_;
    LinkService links_;
};

// Count set on an object being destroyed, so AddRef/Release made during teardown cannot
// destroy it a second time.
inline constexpr LONG kDestructionGuard = -(LONG_MAX / 2);

}  // namespace ks
