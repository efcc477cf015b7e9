#pragma once
// The one place where C++ exceptions meet the COM interface: nothing may cross the ABI.
#include <windows.h>
#include <new>

namespace ks {

template <class F>
HRESULT Boundary(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;  // anything else escaping is a bug
    }
}

}  // namespace ks
