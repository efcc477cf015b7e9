#pragma once
// Owners for the platform's handles and blocks: one generic owner, aliased per kind, so that no
// early return can leak a key, a BSTR, a file or a task-memory block.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <utility>

namespace ks {

// Traits: `type`, `Empty()` (the value that owns nothing) and `Close(type)`.
template <class Traits>
class UniqueAny {
public:
    using T = typename Traits::type;

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
    explicit operator bool() const { return value_ != Traits::Empty(); }
    T release() { return std::exchange(value_, Traits::Empty()); }
    void reset(T value = Traits::Empty()) {
        T old = std::exchange(value_, value);
        if (old != Traits::Empty()) Traits::Close(old);
    }
    // For out-parameters: closes what the owner held, then lends its slot.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::Empty();
};

// Traits of the kinds whose empty value is null.
template <class T, void (*CloseFn)(T)>
struct NullTraits {
    using type = T;
    static constexpr T Empty() { return nullptr; }
    static void Close(T value) { CloseFn(value); }
};

inline void CloseKey(HKEY key) { RegCloseKey(key); }
inline void FreeBstr(BSTR text) { SysFreeString(text); }
inline void FreeTaskMem(void* block) { CoTaskMemFree(block); }
inline void CloseHandleOf(HANDLE handle) { CloseHandle(handle); }
inline void FreeLocal(HLOCAL block) { LocalFree(block); }

using UniqueHKey = UniqueAny<NullTraits<HKEY, CloseKey>>;
using UniqueBstr = UniqueAny<NullTraits<BSTR, FreeBstr>>;
using UniqueHandle = UniqueAny<NullTraits<HANDLE, CloseHandleOf>>;
using UniqueLocal = UniqueAny<NullTraits<HLOCAL, FreeLocal>>;

// A block of `T` from the COM task allocator (CoTaskMemAlloc), freed with CoTaskMemFree.
template <class T>
struct TaskMemTraits {
    using type = T*;
    static constexpr T* Empty() { return nullptr; }
    static void Close(T* block) { CoTaskMemFree(block); }
};
template <class T>
using UniqueTaskMem = UniqueAny<TaskMemTraits<T>>;

// A file handle: its empty value is INVALID_HANDLE_VALUE, not null.
struct FileTraits {
    using type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueFile = UniqueAny<FileTraits>;

// A minimal COM pointer: owns one reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) attach(other.detach());
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }
    // Takes over a reference the caller owns, releasing the one held before.
    void attach(T* p) {
        T* old = std::exchange(p_, p);
        if (old != nullptr) old->Release();
    }
    T* detach() { return std::exchange(p_, nullptr); }
    // For out-parameters: releases what the pointer held, then lends its slot.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

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
