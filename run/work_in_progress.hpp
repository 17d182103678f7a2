// What this process has under way: the temporary outputs it is writing and the inputs it is
// processing. A run stopped by a signal removes those temporaries and names those inputs
// before it ends; replacing targets holds the same lock, so a stop never falls between the
// renames of one run's outputs.
//
// This is process-wide state on purpose: a signal stops the whole process, whichever thread
// or run made a temporary.
#pragma once

#include <filesystem>
#include <list>
#include <mutex>
#include <string>
#include <vector>

namespace tarvel::run {

class WorkInProgress {
public:
    /// The one record of this process.
    [[nodiscard]] static WorkInProgress& instance();

    /// Keeps a temporary's name on record while it lives.
    class Temporary {
    public:
        Temporary() = default;
        explicit Temporary(std::filesystem::path path);
        ~Temporary();
        Temporary(Temporary&& other) noexcept;
        Temporary& operator=(Temporary&& other) noexcept;
        Temporary(const Temporary&) = delete;
        Temporary& operator=(const Temporary&) = delete;

        [[nodiscard]] const std::filesystem::path& path() const noexcept;
        /// The name no longer stands for a temporary (it was renamed or removed).
        void release() noexcept;

    private:
        std::list<std::filesystem::path>::iterator m_entry;
        bool m_held = false;
    };

    /// Keeps an input's name on record while it is processed.
    class Input {
    public:
        explicit Input(const std::filesystem::path& path);
        ~Input();
        Input(const Input&) = delete;
        Input& operator=(const Input&) = delete;

    private:
        std::list<std::filesystem::path>::iterator m_entry;
    };

    /// Held while targets are replaced, so that a stop waits for the renames to end.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> hold();

    /// For a process about to end: takes the lock for good, removes every temporary on
    /// record and returns the inputs that were being processed, in the order they started.
    [[nodiscard]] std::vector<std::string> abandon() noexcept;

private:
    WorkInProgress() = default;

    std::recursive_mutex m_mutex;
    std::list<std::filesystem::path> m_temporaries;
    std::list<std::filesystem::path> m_inputs;
};

} // namespace tarvel::run
