#pragma once
// Owners for the platform's handles and blocks: one generic owner, aliased per kind, so that no
// early return can leak a key, a BSTR or a task-memory block.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <utility>

namespace ks {

template <class T, class Close, T Empty = T{}>
class UniqueAny {
public:
    UniqueAny() = default;
    explicit UniqueAny(T value) : value_(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Empty; }
    T release() { return std::exchange(value_, Empty); }
    void reset(T value = Empty) {
        T old = std::exchange(value_, value);
        if (old != Empty) Close{}(old);
    }
    // For out-parameters: the owner must be empty.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Empty;
};

struct CloseKey { void operator()(HKEY k) const { RegCloseKey(k); } };
struct FreeBstr { void operator()(BSTR s) const { SysFreeString(s); } };
struct FreeTaskMem { void operator()(void* p) const { CoTaskMemFree(p); } };
struct CloseHandleFn { void operator()(HANDLE h) const { CloseHandle(h); } };
struct FreeLocal { void operator()(HLOCAL p) const { LocalFree(p); } };

using UniqueHKey = UniqueAny<HKEY, CloseKey, nullptr>;
using UniqueBstr = UniqueAny<BSTR, FreeBstr, nullptr>;
using UniqueTaskMem = UniqueAny<void*, FreeTaskMem, nullptr>;
using UniqueHandle = UniqueAny<HANDLE, CloseHandleFn, nullptr>;
using UniqueLocal = UniqueAny<HLOCAL, FreeLocal, nullptr>;

// A file handle whose empty value is INVALID_HANDLE_VALUE.
class UniqueFile {
public:
    UniqueFile() = default;
    explicit UniqueFile(HANDLE h) : h_(h) {}
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;
    ~UniqueFile() { reset(); }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A minimal COM pointer: owns one reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T* detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

// Runs a callable when the scope ends.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

private:
    F f_;
};

}  // namespace ks
