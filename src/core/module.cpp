#include "core/module.h"

#include <psapi.h>
#include <mbstring.h>

#include <new>
#include <utility>

namespace ks {

Module g_module;

void Module::Shutdown() {
    shutDown_ = true;
    ReplaceActiveHardwareName(UniqueBstr());
}

std::optional<std::string> ModulePath(bool* mayBeCut) {
    char path[260];
    DWORD length = GetModuleFileNameExA(GetCurrentProcess(), g_module.Instance(), path, sizeof(path));
    if (length == 0) return std::nullopt;
    path[sizeof(path) - 1] = '\0';
    std::string text(path);
    if (mayBeCut != nullptr) *mayBeCut = text.size() + 1 >= sizeof(path);
    return text;
}

std::optional<std::string> InstallFolder() {
    std::optional<std::string> path = ModulePath();
    if (!path) return std::nullopt;
    // A trail byte of a double-byte character may equal '\\': search by characters.
    const unsigned char* text = reinterpret_cast<const unsigned char*>(path->c_str());
    const unsigned char* last = _mbsrchr(text, '\\');
    if (last == nullptr) return std::string();
    return path->substr(0, static_cast<size_t>(last - text));
}

GUID Module::ActiveHardwareGuid() {
    AcquireSRWLockShared(&hardwareLock_);
    GUID guid = activeHardwareGuid_;
    ReleaseSRWLockShared(&hardwareLock_);
    return guid;
}

void Module::SetActiveHardwareGuid(const GUID& guid) {
    AcquireSRWLockExclusive(&hardwareLock_);
    activeHardwareGuid_ = guid;
    ReleaseSRWLockExclusive(&hardwareLock_);
}

UniqueBstr Module::ActiveHardwareName() {
    AcquireSRWLockShared(&hardwareLock_);
    BSTR copy = nullptr;
    bool failed = false;
    if (BSTR name = activeHardwareName_.get()) {
        copy = SysAllocStringLen(name, SysStringLen(name));
        failed = copy == nullptr;
    }
    ReleaseSRWLockShared(&hardwareLock_);
    if (failed) throw std::bad_alloc();
    return UniqueBstr(copy);
}

void Module::ReplaceActiveHardwareName(UniqueBstr name) {
    AcquireSRWLockExclusive(&hardwareLock_);
    std::swap(activeHardwareName_, name);
    ReleaseSRWLockExclusive(&hardwareLock_);
    // `name` now holds the old one, freed outside the lock.
}

}  // namespace ks
