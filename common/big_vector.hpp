// Vectors whose size grows with the sheet (a record per line, per node, per join), kept on
// huge pages where the system gives them: the node table and the node loop read them at
// random, and on 4 KiB pages most of those reads would first miss the processor's cache of
// page addresses. Small vectors stay on the ordinary heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include <sys/mman.h>

namespace tarvel {

template <typename T> class HugePageAllocator {
public:
    using value_type = T;

    HugePageAllocator() noexcept = default;
    template <typename U> HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_page) {
            return static_cast<T*>(::operator new(bytes));
        }
        // Mapped with room to start on a huge page boundary, the rest given back.
        const std::size_t length = rounded(bytes);
        void* mapped = ::mmap(nullptr, length + huge_page, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (begin + huge_page - 1) & ~std::uintptr_t{huge_page - 1};
        if (aligned > begin) {
            ::munmap(mapped, aligned - begin);
        }
        const std::uintptr_t end = aligned + length;
        const std::uintptr_t mapped_end = begin + length + huge_page;
        if (mapped_end > end) {
            ::munmap(reinterpret_cast<void*>(end), mapped_end - end);
        }
        // Only the whole huge pages the vector fills: a huge page is resident as soon as one of
        // its bytes is touched, and a tail past the vector's end would be memory held for
        // nothing.
        ::madvise(reinterpret_cast<void*>(aligned), bytes / huge_page * huge_page, MADV_HUGEPAGE);
        return reinterpret_cast<T*>(aligned);
    }

    void deallocate(T* data, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_page) {
            ::operator delete(data);
            return;
        }
        ::munmap(data, rounded(bytes));
    }

    template <typename U> bool operator==(const HugePageAllocator<U>&) const noexcept {
        return true;
    }

private:
    static constexpr std::size_t huge_page = std::size_t{2} << 20;
    static constexpr std::size_t rounded(std::size_t bytes) {
        return (bytes + huge_page - 1) / huge_page * huge_page;
    }
};

/// A vector of records that grows with the sheet.
template <typename T> using BigVector = std::vector<T, HugePageAllocator<T>>;

} // namespace tarvel
