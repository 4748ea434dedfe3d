#pragma once

#include <memory>
#include <new>
#include <utility>

namespace tarnel {

// An allocator whose default construction leaves a char (or any trivial type) unset, so that a
// std::vector<char, UninitialisedAllocator<char>> grows without clearing: for buffers that are
// always written before they are read (a second of media, the reader's ring), where clearing
// hundreds of kilobytes would be work for nothing, and would also make every page of them take
// memory at once.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    explicit UninitialisedAllocator(const UninitialisedAllocator<U>& /*other*/) {}

    template <typename U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

}  // namespace tarnel
