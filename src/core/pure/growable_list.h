#pragma once
// The object's lists (scan profiles, events, link engine identifiers): plain records copied in
// and out whole, capacity doubling from 1, and an element that cannot be stored dropped silently.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

namespace ks {

// Storage reallocation; a test may replace it to make growth fail.
using ReallocFn = void* (*)(void* block, std::size_t bytes);
extern ReallocFn g_listRealloc;

template <class T>
class GrowableList {
    static_assert(std::is_trivially_copyable_v<T>, "list elements are copied as raw records");

public:
    GrowableList() = default;
    GrowableList(const GrowableList&) = delete;
    GrowableList& operator=(const GrowableList&) = delete;
    ~GrowableList() { Clear(); }

    // Number of elements, as the interface reports it (signed 32-bit).
    long Count() const { return count_; }
    bool IsValidIndex(long index) const { return index >= 0 && index < count_; }

    // Appends a copy of the record; false (list unchanged) when the storage cannot grow.
    bool Append(const T& item) {
        if (count_ == capacity_) {
            long newCapacity = capacity_ == 0 ? 1 : capacity_ * 2;
            if (newCapacity <= capacity_ ||
                static_cast<std::size_t>(newCapacity) > static_cast<std::size_t>(-1) / sizeof(T)) {
                return false;
            }
            void* grown = g_listRealloc(items_, static_cast<std::size_t>(newCapacity) * sizeof(T));
            if (grown == nullptr) return false;
            items_ = static_cast<T*>(grown);
            capacity_ = newCapacity;
        }
        std::memcpy(static_cast<void*>(&items_[count_]), &item, sizeof(T));
        ++count_;
        return true;
    }

    // Copies element `index` out; false for an invalid index (destination untouched).
    bool CopyOut(long index, T* out) const {
        if (!IsValidIndex(index)) return false;
        std::memcpy(static_cast<void*>(out), &items_[index], sizeof(T));
        return true;
    }

    // Overwrites element `index`; false for an invalid index.
    bool Replace(long index, const T& item) {
        if (!IsValidIndex(index)) return false;
        std::memcpy(static_cast<void*>(&items_[index]), &item, sizeof(T));
        return true;
    }

    // Exchanges the contents of two lists: a list read aside takes the place of the object's in
    // one step, and the old contents leave with the other list.
    void Swap(GrowableList& other) noexcept {
        std::swap(items_, other.items_);
        std::swap(count_, other.count_);
        std::swap(capacity_, other.capacity_);
    }

    // Direct access for in-place updates by the owner; never handed to clients.
    T& At(long index) { return items_[index]; }
    const T& At(long index) const { return items_[index]; }

    void Clear() {
        if (items_ != nullptr) g_listRealloc(items_, 0);
        items_ = nullptr;
        count_ = 0;
        capacity_ = 0;
    }

    long Capacity() const { return capacity_; }

private:
    T* items_ = nullptr;
    long count_ = 0;
    long capacity_ = 0;
};

}  // namespace ks
