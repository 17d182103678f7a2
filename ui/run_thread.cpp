#include "ui/run_thread.hpp"

#include <QMetaObject>
#include <cassert>
#include <exception>
#include <optional>
#include <utility>

#include "run/batch.hpp"

namespace tarvel::ui {

RunThread::RunThread(QObject* parent) : QObject(parent) {}

RunThread::~RunThread() {
    // The stop first: a worker let go below finds it asked.
    m_stop.request_stop();
    {
        const std::lock_guard lock(m_mutex);
        m_leaving = true;
    }
    m_handed_over.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void RunThread::post(std::function<void()> on_window_thread) {
    QMetaObject::invokeMethod(this, std::move(on_window_thread), Qt::QueuedConnection);
}

void RunThread::request_stop() noexcept {
    m_stop.request_stop();
}

void RunThread::wait_until_taken(std::size_t count) {
    std::unique_lock lock(m_mutex);
    m_handed_over.wait(lock, [&] { return m_taken >= count || m_leaving; });
}

void RunThread::taken() {
    {
        const std::lock_guard lock(m_mutex);
        ++m_taken;
    }
    m_handed_over.notify_all();
}

void RunThread::start(std::size_t file_count, Job job) {
    assert(!m_running && !m_worker.joinable());
    m_running = true;
    m_stop = std::stop_source();
    {
        const std::lock_guard lock(m_mutex);
        m_taken = 0;
    }
    m_worker = std::thread([this, file_count, job = std::move(job), stop = m_stop.get_token()] {
        if (file_count > 0) {
            post([this] { emit file_started(0); });
        }
        run::JobOutcome outcome;
        // The job keeps each file's failure in its outcome; what still arrives here (memory
        // exhausted, a run-wide output refused) must not end the program from a worker thread.
        try {
            outcome = job(
                [this, file_count](std::size_t index, const run::FileOutcome& file) {
                    const int done = static_cast<int>(index);
                    post([this, done, file, more = index + 1 < file_count] {
                        emit file_done(done, file);
                        taken();
                        if (more) {
                            emit file_started(done + 1);
                        }
                    });
                    wait_until_taken(index + 1);
                },
                stop);
        } catch (...) {
            outcome.failures.push_back(run::failure_reason(std::current_exception()));
        }
        // The last thing the worker does: after this event is posted it touches nothing of
        // the window, so joining it from the window's thread returns at once.
        post([this, outcome = std::move(outcome)]() mutable {
            m_worker.join();
            m_running = false;
            m_outcome = std::move(outcome);
            emit finished();
        });
    });
}

run::JobOutcome RunThread::take_outcome() {
    return std::exchange(m_outcome, {});
}

} // namespace tarvel::ui
