// The type library embedded in the DLL describes the interface exactly as clients compiled it.
#include "support/ks_test.h"

namespace kstest {
namespace {

TEST(TypeLibraryTest, EmbeddedLibraryListsTheInterfaceMethodsInSlotOrder) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(Dll().module, path, MAX_PATH), 0u);
    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(path, REGKIND_NONE, lib.put()), S_OK);

    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_KSREGISTRY));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(attr);

    Bstr libName, libDoc;
    ASSERT_EQ(lib->GetDocumentation(-1, libName.put(), libDoc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(libName.Ansi(), "KSREGISTRY");
    EXPECT_EQ(libDoc.Ansi(), "Registry 1.0 Type Library");

    Ref<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IKeystrelConfig, info.put()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_INTERFACE) << "not dual";
    EXPECT_EQ(type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), 0);
    const char* expected[] = {
        "LoadLinkInfo", "LoadConfigInfo", "StoreConfigInfo", "GetActiveConfig", "StoreActiveConfig",
        "SetActiveConfig", "GetConfig", "DeleteConfigInfo", "LoadEventInfo", "GetEvent", "StoreEventInfo",
        "GetEventDetails", "GetConfigDetails", "SetActiveHardware", "StoreCalibrationData", "GetCalibrationData",
        "GetLinkEngineContainer", "GetLinkEngineCLSID", "GetLinkCustomProfile", "SetUIInterfaceProfile",
        "CanUIInterfaceCloseOnScan", "UIInterfaceSaveSettings", "UIInterfaceStartupSettings",
        "GetUIInterfaceProfile", "CopyToFolderSettings", "StoreCopyFolderOptions", "UpdateCopyCount",
        "GetTwainConfigurationFile", "GetDefualtGamma", "GetKSInstallFolder", "GetOCRFlags",
        "GetConfigRegistryString", "SetConfigRegistryString", "GetConfigRegistryDWORD", "SetConfigRegistryDWORD",
        "GetConfigRegistryBinary", "SetConfigRegistryBinary", "DeleteConfigRegistryValue"};
    ASSERT_EQ(type->cFuncs, 38);
    for (UINT i = 0; i < type->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
        Bstr name;
        UINT count = 0;
        ASSERT_EQ(info->GetNames(func->memid, name.put(), 1, &count), S_OK);
        EXPECT_EQ(name.Ansi(), expected[i]) << "slot " << i;
        EXPECT_EQ(func->oVft, static_cast<SHORT>((3 + i) * sizeof(void*))) << expected[i];
        info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(type);

    Ref<ITypeInfo> coclass;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(CLSID_KeystrelConfig, coclass.put()), S_OK);
}
}  // namespace
}  // namespace kstest
