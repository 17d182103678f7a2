#include "digi/mapped_input.hpp"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace tarvel::digi {
namespace {

/// The mapped inputs of the process, for the guard, which may run in any thread at any moment
/// and so only reads these atomics. A mapping that finds no free slot is not made.
struct Slot {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> cut_short{false};
};
std::array<Slot, 4096> g_slots;
std::atomic<std::uintptr_t> g_page_size{4096};
struct sigaction g_previous {};

void on_bus_error(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        // 0: a free slot; 1: a slot being filled in.
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin > 1 && address >= begin && address < slot.end.load(std::memory_order_acquire)) {
            // Zeros in place of the page the file no longer has; the read is then repeated.
            const std::uintptr_t page = address & ~(g_page_size.load() - 1);
            if (::mmap(reinterpret_cast<void*>(page), g_page_size.load(), PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
                slot.cut_short.store(true, std::memory_order_release);
                return;
            }
        }
    }
    // Not one of ours: what would have happened without the guard happens.
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN &&
        g_previous.sa_handler != nullptr) {
        g_previous.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);
}

void install_guard() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_page_size.store(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)));
        struct sigaction action {};
        action.sa_sigaction = on_bus_error;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previous);
    });
}

int take_slot(std::uintptr_t begin, std::uintptr_t end) {
    for (std::size_t i = 0; i < g_slots.size(); ++i) {
        std::uintptr_t free = 0;
        if (g_slots[i].begin.compare_exchange_strong(free, 1)) {
            g_slots[i].cut_short.store(false);
            g_slots[i].end.store(end, std::memory_order_release);
            g_slots[i].begin.store(begin, std::memory_order_release);
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

std::unique_ptr<MappedInput> MappedInput::map(int fd, const struct stat& info) {
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size == 0) {
        return nullptr;
    }
    install_guard();
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
        return nullptr;
    }
    // Read from start to end, once: the kernel reads ahead of the walk.
    ::madvise(data, size, MADV_SEQUENTIAL);
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const int slot = take_slot(begin, begin + size);
    const int kept = slot >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (kept < 0) {
        if (slot >= 0) {
            g_slots[static_cast<std::size_t>(slot)].end.store(0);
            g_slots[static_cast<std::size_t>(slot)].begin.store(0);
        }
        ::munmap(data, size);
        return nullptr;
    }
    return std::unique_ptr<MappedInput>(
        new MappedInput(static_cast<const std::byte*>(data), size, kept, info, slot));
}

MappedInput::MappedInput(const std::byte* data, std::size_t size, int fd, const struct stat& info,
                         int slot)
    : m_data(data), m_size(size), m_fd(fd), m_info(info), m_slot(slot) {}

MappedInput::~MappedInput() {
    Slot& slot = g_slots[static_cast<std::size_t>(m_slot)];
    slot.end.store(0, std::memory_order_release);
    slot.begin.store(0, std::memory_order_release);
    ::munmap(const_cast<std::byte*>(m_data), m_size);
    ::close(m_fd);
}

bool MappedInput::changed() const noexcept {
    if (g_slots[static_cast<std::size_t>(m_slot)].cut_short.load(std::memory_order_acquire)) {
        return true;
    }
    struct stat now {};
    if (::fstat(m_fd, &now) != 0) {
        return true;
    }
    return now.st_size != m_info.st_size || now.st_mtim.tv_sec != m_info.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != m_info.st_mtim.tv_nsec;
}

} // namespace tarvel::digi
