#include "run/lines_beside_loop.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "digi/loader.hpp"
#include "tests/support/generator.hpp"

namespace tarvel::run {
namespace {

using Bytes = std::vector<std::byte>;

/// A sink written on another thread, which the test waits on.
class SharedSink final : public digi::ByteSink {
public:
    void write(std::span<const std::byte> bytes) override {
        {
            const std::lock_guard lock(m_mutex);
            m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        }
        m_grown.notify_all();
    }
    /// Waits until it holds `size` bytes (or some seconds passed).
    void wait_for(std::size_t size) {
        std::unique_lock lock(m_mutex);
        m_grown.wait_for(lock, std::chrono::seconds(10), [&] { return m_bytes.size() >= size; });
    }
    Bytes bytes() {
        const std::lock_guard lock(m_mutex);
        return m_bytes;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_grown;
    Bytes m_bytes;
};

TEST(WritePassedLines, EachLiveLoadedLineGoesOutOnceTheLoopHasPassedItsNodes) {
    // A generated sheet whose chains' pieces are spread out, so that lines wait for nodes
    // further on than their own place in the table, and some lines absorbed by joins.
    digi::MemorySink generated;
    testing::LargeSheetOptions options;
    options.lines = 3000;
    options.shuffle_chain_percent = 60;
    (void)testing::write_large_sheet(17, options, generated);
    digi::ElementTables tables = digi::load_elements(generated.bytes(), "h.bin");
    const analysis::NodeTable nodes = analysis::CreamosNodos(tables);
    std::mt19937 random(20261208);
    const std::size_t total = tables.lines.size();
    const auto last_node = [&](std::size_t k) {
        const auto ends = nodes.nodes_of(static_cast<std::int32_t>(k));
        return std::int64_t{std::max(ends[0], ends[1])};
    };
    // What a passage lets out: the lines up to the first whose nodes are not all passed.
    const auto settled = [&](std::int64_t passed) {
        std::size_t k = 0;
        while (k < total && last_node(k) < passed) {
            ++k;
        }
        return k;
    };
    const auto bytes_of_lines = [&](std::size_t count) {
        Bytes bytes;
        for (std::size_t k = 0; k < count; ++k) {
            if (!tables.lines[k].absorbed()) {
                const auto line = tables.line(k).bytes();
                bytes.insert(bytes.end(), line.begin(), line.end());
            }
        }
        return bytes;
    };

    // Passages one after another, among them exactly the last node of some lines (which must
    // wait) and one past it, and the loop's end (every line goes out).
    std::vector<std::vector<std::int64_t>> passages{{0}, {1, 2}};
    for (int pick = 0; pick < 6; ++pick) {
        const std::int64_t boundary = last_node(random() % total);
        passages.push_back({std::max<std::int64_t>(boundary, 0)});
        passages.push_back({std::max<std::int64_t>(boundary, 0), boundary + 1});
    }
    passages.push_back({nodes.node_count() / 2, nodes.node_count()});
    // A third of the lines absorbed, but not the last one each passage lets out: the test
    // knows the thread has got there when its bytes have come.
    std::vector<bool> kept(total, false);
    for (const std::vector<std::int64_t>& steps : passages) {
        for (const std::int64_t passed : steps) {
            if (settled(passed) > 0) {
                kept[settled(passed) - 1] = true;
            }
        }
    }
    for (std::size_t k = 0; k < total; ++k) {
        if (!kept[k] && random() % 3 == 0) {
            tables.lines[k].set_absorbed();
        }
    }
    for (const std::vector<std::int64_t>& steps : passages) {
        SCOPED_TRACE("passed " + std::to_string(steps.front()) + " .. " +
                     std::to_string(steps.back()));
        LoopPassage loop;
        loop.pass(steps.front());
        SharedSink sink;
        std::future<std::size_t> written = std::async(
            std::launch::async, [&] { return write_passed_lines(sink, tables, nodes, loop); });
        for (const std::int64_t passed : steps) {
            loop.pass(passed);
            sink.wait_for(bytes_of_lines(settled(passed)).size());
        }
        const std::size_t expected = settled(steps.back());
        if (expected < total) {
            loop.abandon();
        }
        EXPECT_EQ(written.get(), expected);
        EXPECT_EQ(sink.bytes(), bytes_of_lines(expected));
    }
}

} // namespace
} // namespace tarvel::run
