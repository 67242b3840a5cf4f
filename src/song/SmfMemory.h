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
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (!Huge(bytes)) return std::allocator<T>().allocate(n);
        void* memory = std::aligned_alloc(kHugePage, RoundUp(bytes));
        if (memory == nullptr) throw std::bad_alloc();
#if defined(__linux__)
        ::madvise(memory, RoundUp(bytes), MADV_HUGEPAGE);  // advice only: failure leaves ordinary pages
#endif
        return static_cast<T*>(memory);
    }

    void deallocate(T* memory, std::size_t n) noexcept
    {
        if (!Huge(n * sizeof(T))) {
            std::allocator<T>().deallocate(memory, n);
        } else {
            std::free(memory);
        }
    }

    template <typename U>
    bool operator==(const SmfTableAllocator<U>&) const noexcept
    {
        return true;
    }

private:
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;
    static constexpr std::size_t kSmallPage = 4096;

    static bool Huge(std::size_t bytes)
    {
#if defined(__linux__)
        return bytes >= 2 * kHugePage;
#else
        (void)bytes;
        return false;
#endif
    }
    // aligned_alloc wants a multiple of the alignment; the tail past the last
    // whole huge page is never touched unless used, so it costs no memory.
    static std::size_t RoundUp(std::size_t bytes)
    {
        return (bytes + kHugePage - 1) / kHugePage * kHugePage;
    }
};

}  // namespace vantor
