// The process-wide active scanner.
#include <new>
#include <utility>

#include "core/text.h"
#include "profiles/profile_service.h"

namespace ks {

namespace {
SRWLOCK g_scannerLock = SRWLOCK_INIT;
GUID g_scannerGuid{};
std::wstring g_scannerName;  // as the setter's text became: the conversion is per thread
}  // namespace

ActiveScanner CurrentScanner() {
    ActiveScanner scanner;
    std::wstring name;
    AcquireSRWLockShared(&g_scannerLock);
    scanner.guid = g_scannerGuid;
    try {
        name = g_scannerName;
    } catch (const std::bad_alloc&) {
        ReleaseSRWLockShared(&g_scannerLock);
        throw;
    }
    ReleaseSRWLockShared(&g_scannerLock);
    scanner.name = Narrow(name);  // in the reader's code page, as every hardware argument
    return scanner;
}

void SetActiveScanner(const GUID& guid, const char* name) {
    std::wstring copy;
    bool failed = false;
    try {
        if (name != nullptr) copy = Widen(name);
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    AcquireSRWLockExclusive(&g_scannerLock);
    g_scannerGuid = guid;
    if (!failed) std::swap(g_scannerName, copy);
    ReleaseSRWLockExclusive(&g_scannerLock);
    // `copy` now holds the old name, freed outside the lock.
    if (failed) throw std::bad_alloc();
}

void ForgetActiveScanner() {
    std::wstring name;
    AcquireSRWLockExclusive(&g_scannerLock);
    std::swap(g_scannerName, name);
    ReleaseSRWLockExclusive(&g_scannerLock);
}

}  // namespace ks
