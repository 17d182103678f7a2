#include "ui/run_thread.hpp"

#include <QSignalSpy>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>

namespace tarvel::ui {
namespace {

constexpr int safety_timeout_ms = 60000;

run::FileOutcome succeeded(const char* input) {
    run::FileOutcome outcome;
    outcome.input = input;
    outcome.summary = run::RunSummary{};
    return outcome;
}

/// Waits until `spy` has seen at least `count` signals.
bool wait_for(QSignalSpy& spy, int count) {
    while (spy.count() < count) {
        if (!spy.wait(safety_timeout_ms)) {
            return false;
        }
    }
    return true;
}

TEST(RunThread, RunsTheJobOffTheWindowThreadAndReportsEachFileInOrder) {
    RunThread runner;
    QSignalSpy started(&runner, &RunThread::file_started);
    QSignalSpy done(&runner, &RunThread::file_done);
    QSignalSpy finished(&runner, &RunThread::finished);
    std::thread::id job_thread;

    runner.start(2, [&job_thread](const run::FileDone& file_done, std::stop_token) {
        job_thread = std::this_thread::get_id();
        run::JobOutcome outcome{{succeeded("a.bin"), succeeded("b.bin")}, {}, false};
        file_done(0, outcome.files[0]);
        file_done(1, outcome.files[1]);
        return outcome;
    });
    EXPECT_TRUE(runner.running());
    ASSERT_TRUE(wait_for(finished, 1));

    EXPECT_FALSE(runner.running());
    EXPECT_NE(job_thread, std::this_thread::get_id());
    ASSERT_EQ(started.count(), 2);
    EXPECT_EQ(started.at(0).at(0).toInt(), 0);
    EXPECT_EQ(started.at(1).at(0).toInt(), 1);
    ASSERT_EQ(done.count(), 2);
    EXPECT_EQ(done.at(0).at(0).toInt(), 0);
    EXPECT_EQ(done.at(1).at(0).toInt(), 1);
    EXPECT_EQ(done.at(1).at(1).value<run::FileOutcome>().input, "b.bin");
    const std::vector<run::FileOutcome> outcomes = runner.take_outcome().files;
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].input, "b.bin");
    EXPECT_TRUE(runner.take_outcome().files.empty());
}

TEST(RunThread, WindowThreadHandlesEventsWhileAJobIsStillRunning) {
    RunThread runner;
    QSignalSpy started(&runner, &RunThread::file_started);
    QSignalSpy finished(&runner, &RunThread::finished);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();

    runner.start(1, [opened](const run::FileDone& file_done, std::stop_token) {
        opened.wait();
        run::JobOutcome outcome{{succeeded("a.bin")}, {}, false};
        file_done(0, outcome.files[0]);
        return outcome;
    });
    // The job cannot end before the gate opens, yet the window thread receives its first
    // report: it is not held by the job.
    ASSERT_TRUE(wait_for(started, 1));
    EXPECT_TRUE(runner.running());
    EXPECT_EQ(finished.count(), 0);

    gate.set_value();
    ASSERT_TRUE(wait_for(finished, 1));
    EXPECT_FALSE(runner.running());
}

TEST(RunThread, AnExceptionLeavingTheJobBecomesAFailureOfTheRun) {
    RunThread runner;
    QSignalSpy finished(&runner, &RunThread::finished);

    runner.start(1, [](const run::FileDone&, std::stop_token) -> run::JobOutcome {
        throw std::runtime_error("sin memoria");
    });
    ASSERT_TRUE(wait_for(finished, 1));

    const run::JobOutcome outcome = runner.take_outcome();
    EXPECT_TRUE(outcome.files.empty());
    EXPECT_EQ(outcome.failures, std::vector<std::string>{"sin memoria"});
}

TEST(RunThread, AStopAskedWhileTheWindowTakesAFileHoldsBeforeTheNextFile) {
    RunThread runner;
    QSignalSpy finished(&runner, &RunThread::finished);
    // The window asks to stop when it is handed the first file.
    QObject::connect(&runner, &RunThread::file_done, &runner, [&runner](int index) {
        if (index == 0) {
            runner.request_stop();
        }
    });
    std::vector<bool> stop_seen_before;

    runner.start(3, [&stop_seen_before](const run::FileDone& file_done, std::stop_token stop) {
        run::JobOutcome outcome;
        for (std::size_t i = 0; i < 3; ++i) {
            stop_seen_before.push_back(stop.stop_requested());
            outcome.files.push_back(succeeded("x.bin"));
            file_done(i, outcome.files.back());
        }
        outcome.cancelled = stop.stop_requested();
        return outcome;
    });
    ASSERT_TRUE(wait_for(finished, 1));

    EXPECT_EQ(stop_seen_before, (std::vector<bool>{false, true, true}));
    EXPECT_TRUE(runner.take_outcome().cancelled);
}

TEST(RunThread, CanRunOneJobAfterAnother) {
    RunThread runner;
    QSignalSpy finished(&runner, &RunThread::finished);
    for (int round = 1; round <= 3; ++round) {
        runner.start(0, [](const run::FileDone&, std::stop_token) { return run::JobOutcome{}; });
        ASSERT_TRUE(wait_for(finished, round));
        EXPECT_FALSE(runner.running());
    }
}

TEST(RunThread, DestroyingItStopsTheJobAndWaitsForItToEnd) {
    auto runner = std::make_unique<RunThread>();
    QSignalSpy started(runner.get(), &RunThread::file_started);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    auto job_ended = std::make_shared<std::atomic<bool>>(false);

    // The job hands a file over and then waits for the window, which never takes it: the
    // window is going away.
    runner->start(
        2, [opened, stopped, job_ended](const run::FileDone& file_done, std::stop_token stop) {
            opened.wait();
            file_done(0, succeeded("a.bin"));
            stopped->store(stop.stop_requested());
            job_ended->store(true);
            return run::JobOutcome{};
        });
    ASSERT_TRUE(wait_for(started, 1));
    gate.set_value();
    runner.reset();

    EXPECT_TRUE(job_ended->load());
    EXPECT_TRUE(stopped->load());
}

} // namespace
} // namespace tarvel::ui
