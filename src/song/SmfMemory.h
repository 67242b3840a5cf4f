#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vantor {

// Allocator for the large tables of a song. A table of millions of events
// otherwise costs thousands of page faults on first touch, which on virtual
// machines dominates the load time; on Linux, tables of some megabytes are
// aligned to and advised onto transparent huge pages instead. Smaller ones, and
// other systems, use the ordinary allocator.
template <typename T>
class SmfTableAllocator
{
public:
    using value_type = T;

    SmfTableAllocator() noexcept = default;
    template <typename U>
    SmfTableAllocator(const SmfTableAllocator<U>&) noexcept  // NOLINT: allocators convert implicitly
    {
    }

    T* allocate(std::size_t n)
    {
#if defined(__linux__)
        if (Huge(n)) {
            const std::size_t bytes = RoundUp(n * sizeof(T));
            void* memory = std::aligned_alloc(kHugePage, bytes);
            if (memory == nullptr) throw std::bad_alloc();
            ::madvise(memory, bytes, MADV_HUGEPAGE);  // advice only: on failure the pages are ordinary
            return static_cast<T*>(memory);
        }
#endif
        return std::allocator<T>().allocate(n);
    }

    void deallocate(T* memory, std::size_t n) noexcept
    {
#if defined(__linux__)
        if (Huge(n)) {
            std::free(memory);
            return;
        }
#endif
        std::allocator<T>().deallocate(memory, n);
    }

    template <typename U>
    bool operator==(const SmfTableAllocator<U>&) const noexcept
    {
        return true;
    }

private:
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    static bool Huge(std::size_t n)
    {
        return n <= std::size_t(-1) / sizeof(T) && n * sizeof(T) >= 2 * kHugePage;
    }
    // aligned_alloc wants a multiple of the alignment; the tail past the last
    // whole huge page is never touched unless used, so it costs no memory.
    static std::size_t RoundUp(std::size_t bytes)
    {
        return (bytes + kHugePage - 1) / kHugePage * kHugePage;
    }
};

}  // namespace vantor
