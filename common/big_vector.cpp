#include "common/big_vector.hpp"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace tarvel::huge_pages {
namespace {

struct Region {
    std::byte* data;
    std::size_t length;
};

constexpr std::size_t rounded(std::size_t bytes) {
    return (bytes + page - 1) / page * page;
}

/// Pages given back and not yet taken again, the largest first.
class Kept {
public:
    /// Room for `bytes`, made of kept pages where there are any: a kept region long enough is
    /// cut to it; otherwise a new region takes in the smaller kept ones that fit, moved with
    /// their page tables and all, without a byte copied. Null when the system has no room.
    std::byte* take(std::size_t bytes) {
        const std::size_t length = rounded(bytes);
        const std::lock_guard lock(m_mutex);
        // The smallest kept region long enough, if one is (the list runs largest first).
        const auto fit = std::find_if(m_regions.rbegin(), m_regions.rend(),
                                      [length](const Region& r) { return r.length >= length; });
        if (fit != m_regions.rend()) {
            const Region region = *fit;
            m_regions.erase(std::next(fit).base());
            if (region.length > length) {
                keep_locked({region.data + length, region.length - length});
            }
            trim_tail(region.data, bytes);
            return region.data;
        }
        std::byte* fresh = map_aligned(length);
        if (fresh == nullptr) {
            return nullptr;
        }
        std::size_t filled = 0;
        for (auto at = m_regions.begin(); at != m_regions.end();) {
            if (filled + at->length > length ||
                ::mremap(at->data, at->length, at->length, MREMAP_MAYMOVE | MREMAP_FIXED,
                         fresh + filled) == MAP_FAILED) {
                ++at;
                continue;
            }
            filled += at->length;
            at = m_regions.erase(at);
        }
        // Only the whole huge pages the bytes fill: a huge page is resident as soon as one of
        // its bytes is touched, and a tail past the vector's end would be memory held for
        // nothing.
        ::madvise(fresh, bytes / page * page, MADV_HUGEPAGE);
        if (filled > 0) {
            trim_tail(fresh, bytes);
        }
        return fresh;
    }

    void keep(Region region) noexcept {
        const std::lock_guard lock(m_mutex);
        keep_locked(region);
    }

    /// Gives pages back to the system until at most `bytes` are kept, the largest regions
    /// that fit kept first.
    void release_beyond(std::size_t bytes) noexcept {
        const std::lock_guard lock(m_mutex);
        std::size_t held = 0;
        for (auto at = m_regions.begin(); at != m_regions.end();) {
            if (held + at->length <= bytes) {
                held += at->length;
                ++at;
                continue;
            }
            ::munmap(at->data, at->length);
            at = m_regions.erase(at);
        }
    }

    std::size_t bytes() noexcept {
        const std::lock_guard lock(m_mutex);
        std::size_t total = 0;
        for (const Region& region : m_regions) {
            total += region.length;
        }
        return total;
    }

private:
    /// Mapped with room to start on a huge page boundary, the rest given back; null when the
    /// system has no room.
    static std::byte* map_aligned(std::size_t length) {
        void* mapped = ::mmap(nullptr, length + page, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            return nullptr;
        }
        const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (begin + page - 1) & ~std::uintptr_t{page - 1};
        if (aligned > begin) {
            ::munmap(mapped, aligned - begin);
        }
        const std::uintptr_t end = aligned + length;
        const std::uintptr_t mapped_end = begin + length + page;
        if (mapped_end > end) {
            ::munmap(reinterpret_cast<void*>(end), mapped_end - end);
        }
        return reinterpret_cast<std::byte*>(aligned);
    }

    /// A kept page past the last whole huge page `bytes` fill is given back to the system,
    /// and the tail left to small pages, as on a new region: otherwise a vector that only
    /// starts its last huge page would hold all of it.
    static void trim_tail(std::byte* data, std::size_t bytes) noexcept {
        const std::size_t whole = bytes / page * page;
        if (whole < bytes) {
            ::madvise(data + whole, page, MADV_NOHUGEPAGE);
            ::madvise(data + whole, page, MADV_DONTNEED);
        }
    }

    void keep_locked(Region region) noexcept {
        try {
            const auto at = std::find_if(m_regions.begin(), m_regions.end(),
                                         [&](const Region& r) { return r.length < region.length; });
            m_regions.insert(at, region);
        } catch (...) {
            // No room to note it: the pages go back to the system.
            ::munmap(region.data, region.length);
        }
    }

    std::mutex m_mutex;
    std::vector<Region> m_regions;
};

Kept& kept() {
    // Never destroyed: vectors of other static objects may give pages back at exit.
    static Kept* const regions = new Kept;
    return *regions;
}

} // namespace

void* take(std::size_t bytes) {
    if (std::byte* room = kept().take(bytes)) {
        return room;
    }
    throw std::bad_alloc();
}

void give_back(void* data, std::size_t bytes) noexcept {
    kept().keep({static_cast<std::byte*>(data), rounded(bytes)});
}

void release_kept() noexcept {
    kept().release_beyond(0);
}

void release_kept_beyond(std::size_t bytes) noexcept {
    kept().release_beyond(bytes);
}

std::size_t kept_bytes() noexcept {
    return kept().bytes();
}

} // namespace tarvel::huge_pages
