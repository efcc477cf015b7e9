#pragma once
// The one way in from outside: every interface method and object creation run through Call, so
// pointer checks, the root step and the mapping of exceptions to HRESULTs are written once.
#include <windows.h>

#include <initializer_list>
#include <new>
#include <utility>

#include "core/settings_tree.h"

namespace ks {

// An object's lock: a plain SRW lock, never taken twice by one thread. That holds because no
// method calls another through the interface and nothing outside the store is called with it held.
class StateLock {
public:
    class [[nodiscard]] Hold {
    public:
        explicit Hold(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { ReleaseSRWLockExclusive(&lock_); }

    private:
        SRWLOCK& lock_;
    };
    Hold Take() { return Hold(lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// Whether a call rebuilds a missing settings root from the backup before its work ("root first").
enum class Root { Untouched, First };

// Runs one call: a null among `required` (checked in the order given) gives E_POINTER before
// anything else, then arguments that are not `valid` give E_INVALIDARG, then the root step runs when
// asked for, then `body`. Nothing crosses the interface but the HRESULT: std::bad_alloc gives
// E_OUTOFMEMORY, and anything else escaping is a bug and gives E_UNEXPECTED.
template <class F>
HRESULT Call(Root root, std::initializer_list<const void*> required, bool valid, F&& body) noexcept {
    for (const void* pointer : required) {
        if (pointer == nullptr) return E_POINTER;
    }
    if (!valid) return E_INVALIDARG;
    try {
        if (root == Root::First) EnsureSettingsRoot();
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
template <class F>
HRESULT Call(Root root, std::initializer_list<const void*> required, F&& body) noexcept {
    return Call(root, required, true, std::forward<F>(body));
}

}  // namespace ks
