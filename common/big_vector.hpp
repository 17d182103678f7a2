// Vectors whose size grows with the sheet (a record per line, per node, per join), kept on
// huge pages where the system gives them: the node table and the node loop read them at
// random, and on 4 KiB pages most of those reads would first miss the processor's cache of
// page addresses. Small vectors stay on the ordinary heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace tarvel {

/// Whole huge pages for big vectors. Pages a vector gives back are kept and handed to the
/// next one: a run frees its building tables just before it makes others of like size, and
/// pages the process already holds cost nothing to take again, where new ones must each be
/// cleared by the system (and, on a virtual machine, often first fetched from its host).
/// The pages kept are never more than the most the process has held at once. Thread-safe.
namespace huge_pages {
inline constexpr std::size_t page = std::size_t{2} << 20;

/// Room for `bytes` bytes, starting on a huge page boundary, its content undefined; it runs
/// to the end of the last huge page it needs. Throws std::bad_alloc.
[[nodiscard]] void* take(std::size_t bytes);
/// Gives back what take(bytes) returned.
void give_back(void* data, std::size_t bytes) noexcept;
/// Returns every page kept to the system.
void release_kept() noexcept;
/// Returns kept pages to the system until at most `bytes` are kept (the largest regions that
/// fit stay), for tables of that size about to be made.
void release_kept_beyond(std::size_t bytes) noexcept;
/// Bytes kept for reuse.
[[nodiscard]] std::size_t kept_bytes() noexcept;
} // namespace huge_pages

template <typename T> class HugePageAllocator {
public:
    using value_type = T;

    HugePageAllocator() noexcept = default;
    template <typename U> HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_pages::page) {
            return static_cast<T*>(::operator new(bytes));
        }
        return static_cast<T*>(huge_pages::take(bytes));
    }

    void deallocate(T* data, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_pages::page) {
            ::operator delete(data);
            return;
        }
        huge_pages::give_back(data, bytes);
    }

    template <typename U> bool operator==(const HugePageAllocator<U>&) const noexcept {
        return true;
    }
};

/// A vector of records that grows with the sheet.
template <typename T> using BigVector = std::vector<T, HugePageAllocator<T>>;

} // namespace tarvel
