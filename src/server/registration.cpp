#include "server/registration.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include "KsRegistry.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/boundary.h"
#include "core/module.h"
#include "core/registry_io.h"
#include "core/text.h"
#include "core/win_handles.h"
#include "server/pure/registration_script.h"
#include "core/resource_ids.h"

namespace ks {
namespace {

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<DWORD>(error)); }

// The platform's last error as a failure, never as success.
HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

bool IsAbsent(LONG error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The module's own file, as the registration writes it and loads the type library from.
HRESULT ModuleFilePath(std::string& path) {
    bool mayBeCut = false;
    std::optional<std::string> found = ModulePath(&mayBeCut);
    if (!found) return LastErrorResult();
    // A path that fills the buffer may have been cut: never register a wrong path.
    if (mayBeCut) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path = std::move(*found);
    return S_OK;
}

// A registration script resource, as text up to its first NUL.
HRESULT ScriptText(WORD id, std::string& text) {
    HMODULE module = g_module.Instance();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    if (resource == nullptr) return LastErrorResult();
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return LastErrorResult();
    DWORD size = SizeofResource(module, resource);
    const char* data = static_cast<const char*>(LockResource(loaded));
    if (data == nullptr) return E_FAIL;
    text.assign(data, size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return S_OK;
}

HRESULT RegisterKeys(HKEY parent, const std::vector<rgs::Key>& keys) {
    for (const rgs::Key& entry : keys) {
        if (entry.flag == rgs::KeyFlag::ForceRemove || entry.flag == rgs::KeyFlag::Delete) {
            LONG error = DeleteTree(parent, entry.name.c_str(), kReadAccess);
            if (error != ERROR_SUCCESS && !IsAbsent(error)) return FromWin32(error);
            if (entry.flag == rgs::KeyFlag::Delete) continue;
        }
        LONG error = ERROR_SUCCESS;
        UniqueHKey key = CreateKey(parent, entry.name, &error);
        if (!key) return FromWin32(error);
        if (entry.hasDefault) {
            error = WriteString(key.get(), nullptr, entry.defaultText.c_str());
            if (error != ERROR_SUCCESS) return FromWin32(error);
        }
        for (const rgs::NamedValue& value : entry.values) {
            error = WriteString(key.get(), value.name.c_str(), value.text.c_str());
            if (error != ERROR_SUCCESS) return FromWin32(error);
        }
        HRESULT hr = RegisterKeys(key.get(), entry.children);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterKeys(HKEY parent, const std::vector<rgs::Key>& keys) {
    for (const rgs::Key& entry : keys) {
        if (entry.flag != rgs::KeyFlag::NoRemove) {
            LONG error = DeleteTree(parent, entry.name.c_str(), kReadAccess);
            if (error != ERROR_SUCCESS && !IsAbsent(error)) return FromWin32(error);
            continue;
        }
        LONG error = ERROR_SUCCESS;
        UniqueHKey key = OpenKey(parent, entry.name, kReadWriteAccess, &error);
        if (IsAbsent(error)) continue;
        if (!key) return FromWin32(error);
        for (const rgs::NamedValue& value : entry.values) {
            error = RegDeleteValueA(key.get(), value.name.c_str());
            if (error != ERROR_SUCCESS && !IsAbsent(error)) return FromWin32(error);
        }
        HRESULT hr = UnregisterKeys(key.get(), entry.children);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// Reads a script resource, fills in its replacements and applies it below HKEY_CLASSES_ROOT. A
// script that does not parse writes nothing and fails like a registrar's script error.
HRESULT ApplyScript(WORD id, bool registering) {
    std::string path;
    HRESULT hr = ModuleFilePath(path);
    if (FAILED(hr)) return hr;
    std::string text;
    hr = ScriptText(id, text);
    if (FAILED(hr)) return hr;
    std::variant<rgs::Script, rgs::ParseError> parsed =
        rgs::ParseScript(text, rgs::ModuleReplacements(path, GuidText(APPID_KeystrelRegistry)));
    const rgs::Script* script = std::get_if<rgs::Script>(&parsed);
    if (script == nullptr) return DISP_E_EXCEPTION;
    return registering ? RegisterKeys(HKEY_CLASSES_ROOT, script->keys)
                       : UnregisterKeys(HKEY_CLASSES_ROOT, script->keys);
}

// The type library: from the module's own file, else from the file beside it with ".tlb" in
// place of the module's extension. `loadedFrom` is the path it came from.
HRESULT LoadModuleTypeLib(ComPtr<ITypeLib>& lib, std::wstring& loadedFrom) {
    std::string path;
    HRESULT hr = ModuleFilePath(path);
    if (FAILED(hr)) return hr;
    loadedFrom = Widen(path);
    hr = LoadTypeLib(loadedFrom.c_str(), lib.put());
    if (SUCCEEDED(hr)) return hr;
    size_t folderEnd = loadedFrom.find_last_of(L"\\/");
    size_t dot = loadedFrom.find_last_of(L'.');
    if (dot != std::wstring::npos && (folderEnd == std::wstring::npos || dot > folderEnd)) loadedFrom.resize(dot);
    loadedFrom += L".tlb";
    return LoadTypeLib(loadedFrom.c_str(), lib.put());
}

HRESULT RegisterTypeLibrary() {
    ComPtr<ITypeLib> lib;
    std::wstring path;
    HRESULT hr = LoadModuleTypeLib(lib, path);
    if (FAILED(hr)) return hr;
    size_t folderEnd = path.find_last_of(L"\\/");
    if (folderEnd == std::wstring::npos) return RegisterTypeLib(lib.get(), path.data(), nullptr);
    std::wstring folder = path.substr(0, folderEnd);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // a drive's root keeps its backslash
    return RegisterTypeLib(lib.get(), path.data(), folder.data());
}

HRESULT UnregisterTypeLibrary() {
    ComPtr<ITypeLib> lib;
    std::wstring path;
    HRESULT hr = LoadModuleTypeLib(lib, path);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
    return hr;
}

}  // namespace

// Steps already done stay done when a later one fails.
HRESULT RegisterServer() {
    return Call(Root::Untouched, {}, [] {
        HRESULT hr = ApplyScript(IDR_APPID, true);
        if (FAILED(hr)) return hr;
        hr = ApplyScript(IDR_KEYSTRELCONFIG, true);
        if (FAILED(hr)) return hr;
        return RegisterTypeLibrary();
    });
}

HRESULT UnregisterServer() {
    return Call(Root::Untouched, {}, [] {
        HRESULT hr = ApplyScript(IDR_KEYSTRELCONFIG, false);
        if (FAILED(hr)) return hr;
        hr = UnregisterTypeLibrary();
        if (FAILED(hr)) return hr;
        return ApplyScript(IDR_APPID, false);
    });
}

}  // namespace ks
