// Shared pieces of the end-to-end robustness tests: a fresh folder per test, a snapshot of
// everything in a folder (to show that a failed run changed nothing and left no temporary),
// and small sheets whose output is known without running the engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/robustness/tarvel_process.hpp"
#include "tests/run/temp_folder.hpp"

namespace tarvel::testing {

/// Every entry under a folder, by relative path: a file's bytes, or a marker for a folder, a
/// link or a device. Two snapshots are equal only when nothing was added, removed or changed.
using Snapshot = std::map<std::string, std::string>;

[[nodiscard]] Snapshot snapshot(const std::filesystem::path& folder);

/// Snapshot entries whose name starts with ".tarvel-" (temporary outputs).
[[nodiscard]] std::vector<std::string> temporaries(const Snapshot& snap);

/// "a, b, c" of the snapshot's names, for messages.
[[nodiscard]] std::string names(const Snapshot& snap);

/// The bytes of a file as a string, as a snapshot holds them.
[[nodiscard]] std::string text_of(const std::vector<std::byte>& bytes);

/// Content of an older output that a failed run must leave as it is.
[[nodiscard]] std::vector<std::byte> older_output();

/// A sheet of two lines of code RIO0001 that meet at (10, y): they join into one line.
[[nodiscard]] std::vector<std::byte> joining_pair(std::int32_t y);

/// The output of `joining_pair(y)` without "all elements": the one joined line.
[[nodiscard]] std::vector<std::byte> joined_pair_output(std::int32_t y);

/// A sheet of two RIO0001 lines that start at the same place (a direction error there when
/// RIO0001 has direction), and a third line that joins nothing.
[[nodiscard]] std::vector<std::byte> head_to_head_pair();

/// The error file of `head_to_head_pair()` in the given unit factor: one NoSent marker at
/// (10, 0, 7).
[[nodiscard]] std::vector<std::byte> head_to_head_errors(std::int32_t unit_factor);

/// A fresh folder with the helpers the tests need.
class RobustnessTest : public ::testing::Test {
protected:
    TempFolder folder;

    [[nodiscard]] std::string path(const std::string& name) const {
        return (folder / name).string();
    }
    void put(const std::string& name, const std::vector<std::byte>& bytes) const;
    void put_text(const std::string& name, const std::string& text) const;
    [[nodiscard]] std::vector<std::byte> get(const std::string& name) const;
    /// Lets another user create files in the folder (for runs as an unprivileged user).
    void open_folder_to_everyone() const;
};

/// Whether `text` contains `piece`, with both shown on failure.
::testing::AssertionResult Contains(const std::string& text, const std::string& piece);

} // namespace tarvel::testing
