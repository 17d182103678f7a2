// Runs one job of the window (one file, or the files of a batch) on a worker thread, so the
// window keeps drawing while files are processed. Progress and the end of the job arrive as
// signals on the window's thread.
#pragma once

#include <QObject>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "run/batch.hpp"

namespace tarvel::ui {

class RunThread : public QObject {
    Q_OBJECT

public:
    /// Processes the files of one job in order, calling its argument after each file, and
    /// returns what became of every file.
    using Job = std::function<std::vector<run::FileOutcome>(const run::FileDone&)>;

    explicit RunThread(QObject* parent = nullptr);
    /// Waits for a job still running: the worker never outlives the objects it reports to.
    ~RunThread() override;
    RunThread(const RunThread&) = delete;
    RunThread& operator=(const RunThread&) = delete;

    /// Starts `job`, which processes `file_count` files one after another.
    /// Precondition: no job is running.
    void start(std::size_t file_count, Job job);

    [[nodiscard]] bool running() const noexcept { return m_running; }

    /// What became of each file of the last job that finished; empties the list.
    [[nodiscard]] std::vector<run::FileOutcome> take_outcomes();

signals:
    /// File `index` (0-based) of the job is about to be processed.
    void file_started(int index);
    /// File `index` (0-based) is done, successfully or not.
    void file_done(int index);
    /// The job is over; take_outcomes() holds its result.
    void finished();

private:
    void post(std::function<void()> on_window_thread);

    std::thread m_worker;
    bool m_running = false;
    std::vector<run::FileOutcome> m_outcomes;
};

} // namespace tarvel::ui
