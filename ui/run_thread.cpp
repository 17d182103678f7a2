#include "ui/run_thread.hpp"

#include <QMetaObject>
#include <cassert>
#include <exception>
#include <optional>
#include <utility>

namespace tarvel::ui {

RunThread::RunThread(QObject* parent) : QObject(parent) {}

RunThread::~RunThread() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void RunThread::post(std::function<void()> on_window_thread) {
    QMetaObject::invokeMethod(this, std::move(on_window_thread), Qt::QueuedConnection);
}

void RunThread::start(std::size_t file_count, Job job) {
    assert(!m_running && !m_worker.joinable());
    m_running = true;
    m_worker = std::thread([this, file_count, job = std::move(job)] {
        if (file_count > 0) {
            post([this] { emit file_started(0); });
        }
        std::vector<run::FileOutcome> outcomes;
        // The job keeps each file's failure in its outcome; what still arrives here (memory
        // exhausted, say) must not end the program from a worker thread.
        try {
            outcomes = job([this, file_count](std::size_t index, const run::FileOutcome&) {
                const int done = static_cast<int>(index);
                post([this, done] { emit file_done(done); });
                if (index + 1 < file_count) {
                    post([this, done] { emit file_started(done + 1); });
                }
            });
        } catch (const std::exception& error) {
            outcomes.push_back(run::FileOutcome{{}, std::nullopt, error.what()});
        } catch (...) {
            outcomes.push_back(run::FileOutcome{{}, std::nullopt, "error desconocido"});
        }
        // The last thing the worker does: after this event is posted it touches nothing of
        // the window, so joining it from the window's thread returns at once.
        post([this, outcomes = std::move(outcomes)]() mutable {
            m_worker.join();
            m_running = false;
            m_outcomes = std::move(outcomes);
            emit finished();
        });
    });
}

std::vector<run::FileOutcome> RunThread::take_outcomes() {
    return std::exchange(m_outcomes, {});
}

} // namespace tarvel::ui
