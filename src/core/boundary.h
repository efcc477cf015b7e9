#pragma once
// The one way in from outside: every interface method and object creation run through Call, so
// pointer checks, locking and the mapping of exceptions to HRESULTs are written once.
#include <windows.h>

#include <initializer_list>
#include <new>

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

// Runs one call: a null among `required` (checked in the order given) gives E_POINTER before
// anything else; then `body` runs, holding `lock` throughout when one is given. Nothing crosses
// the interface but the HRESULT: std::bad_alloc gives E_OUTOFMEMORY, and anything else escaping
// is a bug and gives E_UNEXPECTED.
template <class F>
HRESULT Call(StateLock* lock, std::initializer_list<const void*> required, F&& body) noexcept {
    for (const void* pointer : required) {
        if (pointer == nullptr) return E_POINTER;
    }
    try {
        if (lock == nullptr) return body();
        const StateLock::Hold hold = lock->Take();
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace ks
