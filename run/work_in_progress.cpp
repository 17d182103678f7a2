#include "run/work_in_progress.hpp"

#include <unistd.h>

namespace tarvel::run {

WorkInProgress& WorkInProgress::instance() {
    // Made on first use and never destroyed: a stop may come while static objects are being
    // destroyed at the end of the program.
    static WorkInProgress* const record = new WorkInProgress();
    return *record;
}

WorkInProgress::Temporary::Temporary(std::filesystem::path path) {
    WorkInProgress& record = instance();
    const std::lock_guard lock(record.m_mutex);
    record.m_temporaries.push_back(std::move(path));
    m_entry = std::prev(record.m_temporaries.end());
    m_held = true;
}

WorkInProgress::Temporary::~Temporary() {
    release();
}

WorkInProgress::Temporary::Temporary(Temporary&& other) noexcept
    : m_entry(other.m_entry), m_held(other.m_held) {
    other.m_held = false;
}

WorkInProgress::Temporary& WorkInProgress::Temporary::operator=(Temporary&& other) noexcept {
    if (this != &other) {
        release();
        m_entry = other.m_entry;
        m_held = other.m_held;
        other.m_held = false;
    }
    return *this;
}

const std::filesystem::path& WorkInProgress::Temporary::path() const noexcept {
    static const std::filesystem::path none;
    return m_held ? *m_entry : none;
}

void WorkInProgress::Temporary::release() noexcept {
    if (!m_held) {
        return;
    }
    WorkInProgress& record = instance();
    const std::lock_guard lock(record.m_mutex);
    record.m_temporaries.erase(m_entry);
    m_held = false;
}

WorkInProgress::Input::Input(const std::filesystem::path& path) {
    WorkInProgress& record = instance();
    const std::lock_guard lock(record.m_mutex);
    record.m_inputs.push_back(path);
    m_entry = std::prev(record.m_inputs.end());
}

WorkInProgress::Input::~Input() {
    WorkInProgress& record = instance();
    const std::lock_guard lock(record.m_mutex);
    record.m_inputs.erase(m_entry);
}

std::unique_lock<std::recursive_mutex> WorkInProgress::hold() {
    return std::unique_lock(m_mutex);
}

std::vector<std::string> WorkInProgress::abandon() noexcept {
    m_mutex.lock();
    for (const std::filesystem::path& temporary : m_temporaries) {
        ::unlink(temporary.c_str());
    }
    std::vector<std::string> inputs;
    try {
        for (const std::filesystem::path& input : m_inputs) {
            inputs.push_back(input.string());
        }
    } catch (...) {
        // Without memory the temporaries are still gone; only the names are missing.
    }
    return inputs;
}

} // namespace tarvel::run
