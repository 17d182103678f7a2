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

    runner.start(2, [&job_thread](const run::FileDone& file_done) {
        job_thread = std::this_thread::get_id();
        std::vector<run::FileOutcome> outcomes{succeeded("a.bin"), succeeded("b.bin")};
        file_done(0, outcomes[0]);
        file_done(1, outcomes[1]);
        return outcomes;
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
    const std::vector<run::FileOutcome> outcomes = runner.take_outcomes();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].input, "b.bin");
    EXPECT_TRUE(runner.take_outcomes().empty());
}

TEST(RunThread, WindowThreadHandlesEventsWhileAJobIsStillRunning) {
    RunThread runner;
    QSignalSpy started(&runner, &RunThread::file_started);
    QSignalSpy finished(&runner, &RunThread::finished);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();

    runner.start(1, [opened](const run::FileDone& file_done) {
        opened.wait();
        std::vector<run::FileOutcome> outcomes{succeeded("a.bin")};
        file_done(0, outcomes[0]);
        return outcomes;
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

TEST(RunThread, AnExceptionLeavingTheJobBecomesAFailedOutcome) {
    RunThread runner;
    QSignalSpy finished(&runner, &RunThread::finished);

    runner.start(1, [](const run::FileDone&) -> std::vector<run::FileOutcome> {
        throw std::runtime_error("sin memoria");
    });
    ASSERT_TRUE(wait_for(finished, 1));

    const std::vector<run::FileOutcome> outcomes = runner.take_outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0].summary);
    EXPECT_EQ(outcomes[0].error, "sin memoria");
}

TEST(RunThread, CanRunOneJobAfterAnother) {
    RunThread runner;
    QSignalSpy finished(&runner, &RunThread::finished);
    for (int round = 1; round <= 3; ++round) {
        runner.start(0, [](const run::FileDone&) { return std::vector<run::FileOutcome>{}; });
        ASSERT_TRUE(wait_for(finished, round));
        EXPECT_FALSE(runner.running());
    }
}

TEST(RunThread, DestroyingItWaitsForTheJobToEnd) {
    auto runner = std::make_unique<RunThread>();
    QSignalSpy started(runner.get(), &RunThread::file_started);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    auto job_ended = std::make_shared<std::atomic<bool>>(false);

    runner->start(1, [opened, job_ended](const run::FileDone&) {
        opened.wait();
        job_ended->store(true);
        return std::vector<run::FileOutcome>{};
    });
    ASSERT_TRUE(wait_for(started, 1));
    gate.set_value();
    runner.reset();

    EXPECT_TRUE(job_ended->load());
}

} // namespace
} // namespace tarvel::ui
