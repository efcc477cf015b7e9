#pragma once
// KeystrelConfig: the one class of the store. Its methods are defined in the file of the
// subsystem they belong to; this header is the object's whole state.
#include <atomic>
#include <string>

#include "core/pure/growable_list.h"
#include "core/records.h"

namespace ks {

// Creates a configuration object, plain or aggregated into `outer`, runs the ensure-root step
// and asks it for `riid`. On failure the object is torn down at once (backup step included).
HRESULT CreateConfigObject(IUnknown* outer, REFIID riid, void** object);

class ConfigObject final : public IKeystrelConfig {
public:
    explicit ConfigObject(IUnknown* outer);
    ~ConfigObject();
    ConfigObject(const ConfigObject&) = delete;
    ConfigObject& operator=(const ConfigObject&) = delete;

    // IUnknown: delegates to the outer object when aggregated.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // The object's own identity, used by the aggregating wrapper and by creation.
    HRESULT InternalQueryInterface(REFIID riid, void** object);
    // Teardown step run before the memory goes: marks the object and takes the backup.
    void FinalRelease();

    // IKeystrelConfig, in slot order.
    HRESULT STDMETHODCALLTYPE LoadLinkInfo(LONG Refresh, IStorage** pStore) override;
    HRESULT STDMETHODCALLTYPE LoadConfigInfo(BSTR hardware, _KSCNFGFLAG flags, LONG* count) override;
    HRESULT STDMETHODCALLTYPE StoreConfigInfo(BSTR hardware, _KSCONFIG* config) override;
    HRESULT STDMETHODCALLTYPE GetActiveConfig(_KSCONFIG** pconfig) override;
    HRESULT STDMETHODCALLTYPE StoreActiveConfig() override;
    HRESULT STDMETHODCALLTYPE SetActiveConfig(LONG index) override;
    HRESULT STDMETHODCALLTYPE GetConfig(LONG index, _KSCONFIG* pconfig) override;
    HRESULT STDMETHODCALLTYPE DeleteConfigInfo(LONG index) override;
    HRESULT STDMETHODCALLTYPE LoadEventInfo(BSTR hardware, LONG* count) override;
    HRESULT STDMETHODCALLTYPE GetEvent(LONG index, _KSEVENT* pevent) override;
    HRESULT STDMETHODCALLTYPE StoreEventInfo(BSTR hardware, _KSEVENT* pevent) override;
    HRESULT STDMETHODCALLTYPE GetEventDetails(LPSTR hw, LPSTR event, _KSEVENT* pevent) override;
    HRESULT STDMETHODCALLTYPE GetConfigDetails(LPSTR hw, LPSTR config, _KSCONFIG* pconfig) override;
    HRESULT STDMETHODCALLTYPE SetActiveHardware(GUID hwguid, LPSTR hwname) override;
    HRESULT STDMETHODCALLTYPE StoreCalibrationData(BSTR hwname, LONG gamma, LONG size, unsigned char* data) override;
    HRESULT STDMETHODCALLTYPE GetCalibrationData(BSTR name, LONG size, unsigned char* data) override;
    HRESULT STDMETHODCALLTYPE GetLinkEngineContainer(BSTR name, BSTR* container) override;
    HRESULT STDMETHODCALLTYPE GetLinkEngineCLSID(ULONG index, GUID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetLinkCustomProfile(BSTR* path) override;
    HRESULT STDMETHODCALLTYPE SetUIInterfaceProfile(BSTR profile) override;
    HRESULT STDMETHODCALLTYPE CanUIInterfaceCloseOnScan(LONG* closeUI) override;
    HRESULT STDMETHODCALLTYPE UIInterfaceSaveSettings(short scanmode, short devicemode) override;
    HRESULT STDMETHODCALLTYPE UIInterfaceStartupSettings(BSTR hwname, short* scanmode, short* devicemode,
                                                         BSTR* configfile) override;
    HRESULT STDMETHODCALLTYPE GetUIInterfaceProfile(BSTR* path) override;
    HRESULT STDMETHODCALLTYPE CopyToFolderSettings(BSTR hwname, _KSCPYFLAG* flag, BSTR* path, LONG* count) override;
    HRESULT STDMETHODCALLTYPE StoreCopyFolderOptions(BSTR hwname, _KSCPYFLAG flags, BSTR path) override;
    HRESULT STDMETHODCALLTYPE UpdateCopyCount(BSTR hwname, LONG addcopy) override;
    HRESULT STDMETHODCALLTYPE GetTwainConfigurationFile(BSTR hwname, BSTR* configfile) override;
    HRESULT STDMETHODCALLTYPE GetDefualtGamma(BSTR hwname, LONG* gamma) override;
    HRESULT STDMETHODCALLTYPE GetKSInstallFolder(BSTR* folder) override;
    HRESULT STDMETHODCALLTYPE GetOCRFlags(LONG* lSendEmptyFile, LONG* lShowMessages) override;
    HRESULT STDMETHODCALLTYPE GetConfigRegistryString(BSTR Value, BSTR* pValue) override;
    HRESULT STDMETHODCALLTYPE SetConfigRegistryString(BSTR Value, BSTR NewValue) override;
    HRESULT STDMETHODCALLTYPE GetConfigRegistryDWORD(BSTR Value, ULONG* pValue) override;
    HRESULT STDMETHODCALLTYPE SetConfigRegistryDWORD(BSTR Value, ULONG NewValue) override;
    HRESULT STDMETHODCALLTYPE GetConfigRegistryBinary(BSTR Value, unsigned char** pValue, LONG* pSize) override;
    HRESULT STDMETHODCALLTYPE SetConfigRegistryBinary(BSTR Value, unsigned char* pNewValue, LONG lSize) override;
    HRESULT STDMETHODCALLTYPE DeleteConfigRegistryValue(BSTR Subpath, BSTR Value) override;

    // Reference count of a plain object; set during creation and teardown. Atomic: references
    // are taken and dropped from any thread.
    std::atomic<LONG> refCount_ = 0;

private:
    // Holds the object's lock for the length of a call that reads or changes its state (lists,
    // index, active copy, UI profile name): the class is registered for free-threaded callers.
    // Re-entrant, since methods call one another through the interface.
    class [[nodiscard]] StateLock {
    public:
        explicit StateLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
        StateLock(const StateLock&) = delete;
        StateLock& operator=(const StateLock&) = delete;
        ~StateLock() { LeaveCriticalSection(&section_); }

    private:
        CRITICAL_SECTION& section_;
    };
    StateLock LockState() { return StateLock(stateLock_); }

    // The active hardware name of the process as 8-bit text (empty when none is set).
    static std::string ActiveHardwareName();

    IUnknown* outer_;  // the aggregating object, or null for a plain object
    CRITICAL_SECTION stateLock_;
    GrowableList<_KSCONFIG> configs_;
    GrowableList<_KSEVENT> events_;
    GrowableList<CLSID> engines_;
    _KSCONFIG* activeCopy_ = nullptr;  // CoTaskMem block handed to the client; never freed at teardown
    std::string uiProfile_;
    LONG activeIndex_ = -1;
    bool linkRerun_ = false;  // LoadLinkInfo is running its one repeat after a category refresh
};

// Count set on an object being destroyed, so AddRef/Release made during teardown cannot
// destroy it a second time.
inline constexpr LONG kDestructionGuard = -(LONG_MAX / 2);

}  // namespace ks
