#include "core/module.h"

#include <psapi.h>
#include <mbstring.h>

#include <new>
#include <utility>

#include "core/text.h"

namespace ks {

Module g_module;

void Module::Shutdown() {
    shutDown_ = true;
    AcquireSRWLockExclusive(&scannerLock_);
    UniqueBstr name = std::move(scannerName_);
    ReleaseSRWLockExclusive(&scannerLock_);
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

Module::Scanner Module::ActiveScanner() {
    Scanner scanner;
    UniqueBstr name;
    bool failed = false;
    AcquireSRWLockShared(&scannerLock_);
    scanner.guid = scannerGuid_;
    if (BSTR stored = scannerName_.get()) {
        name.reset(SysAllocStringLen(stored, SysStringLen(stored)));
        failed = !name;
    }
    ReleaseSRWLockShared(&scannerLock_);
    if (failed) throw std::bad_alloc();
    scanner.name = ToAnsi(name.get());  // in the reader's code page, as every hardware argument
    return scanner;
}

void Module::SetActiveScanner(const GUID& guid, const char* name) {
    UniqueBstr copy;
    bool failed = false;
    try {
        copy = MakeBstrOrNull(name);
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    AcquireSRWLockExclusive(&scannerLock_);
    scannerGuid_ = guid;
    if (!failed) std::swap(scannerName_, copy);
    ReleaseSRWLockExclusive(&scannerLock_);
    // `copy` now holds the old name, freed outside the lock.
    if (failed) throw std::bad_alloc();
}

}  // namespace ks
