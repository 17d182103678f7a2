// Runs one job of the window (one file, the files of a batch, or an export of their results)
// on a worker thread, so the window keeps drawing while files are processed. Progress and the
// end of the job arrive as signals on the window's thread. The worker hands over each file's
// outcome and waits until the window has taken it: a stop asked for while the window shows a
// file done takes effect before the next file starts.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "run/job.hpp"

Q_DECLARE_METATYPE(tarvel::run::FileOutcome)

namespace tarvel::ui {

class RunThread : public QObject {
    Q_OBJECT

public:
    /// Processes the files of one job in order, calling its first argument after each file,
    /// and returns what became of the whole job; it stops early when the token asks.
    using Job = std::function<run::JobOutcome(const run::FileDone&, std::stop_token)>;

    explicit RunThread(QObject* parent = nullptr);
    /// Asks a job still running to stop and waits for it: the worker never outlives the
    /// objects it reports to.
    ~RunThread() override;
    RunThread(const RunThread&) = delete;
    RunThread& operator=(const RunThread&) = delete;

    /// Starts `job`, which processes `file_count` files one after another.
    /// Precondition: no job is running.
    void start(std::size_t file_count, Job job);

    [[nodiscard]] bool running() const noexcept { return m_running; }
    /// Asks the running job to stop; it ends at its next look at the token.
    void request_stop() noexcept;

    /// What became of the last job that finished; empties it.
    [[nodiscard]] run::JobOutcome take_outcome();

signals:
    /// File `index` (0-based) of the job is about to be processed.
    void file_started(int index);
    /// File `index` (0-based) is done, successfully or not; `outcome` holds the file's
    /// details when the job kept them.
    void file_done(int index, const tarvel::run::FileOutcome& outcome);
    /// The job is over; take_outcome() holds its result.
    void finished();

private:
    void post(std::function<void()> on_window_thread);
    /// Called on the worker: waits until the window has taken `count` files, or the window
    /// is going away.
    void wait_until_taken(std::size_t count);
    void taken();

    std::thread m_worker;
    bool m_running = false;
    std::stop_source m_stop;
    run::JobOutcome m_outcome;

    std::mutex m_mutex;
    std::condition_variable m_handed_over;
    std::size_t m_taken = 0; // files the window has taken, of the job running
    bool m_leaving = false;  // the window is going away: the worker waits for nothing
};

} // namespace tarvel::ui
