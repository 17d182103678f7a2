#include "run/batch.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <malloc.h>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "common/errors.hpp"
#include "run/file_identity.hpp"
#include "run/outputs.hpp"

namespace tarvel::run {
namespace {

bool has_bin_extension(const std::string& name) {
    constexpr std::string_view extension = ".bin";
    if (name.size() < extension.size()) {
        return false;
    }
    for (std::size_t i = 0; i < extension.size(); ++i) {
        char c = name[name.size() - extension.size() + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != extension[i]) {
            return false;
        }
    }
    return true;
}

/// For every file, the earlier files of the list it must wait for: one writes (as output
/// or error file, beside it or in `output_folder`) the file the other reads. Keeping their
/// list order makes the result the same whatever number of files run at once.
std::vector<std::vector<std::size_t>>
ordering_constraints(const std::vector<std::filesystem::path>& inputs,
                     const std::filesystem::path& output_folder) {
    std::multimap<std::filesystem::path, std::size_t> by_input;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        by_input.emplace(normalized_path(inputs[i]), i);
    }
    std::vector<std::vector<std::size_t>> wait_for(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i].has_filename()) {
            continue;
        }
        for (const std::filesystem::path& written : derived_names(inputs[i], output_folder)) {
            const auto [first, last] = by_input.equal_range(normalized_path(written));
            for (auto it = first; it != last; ++it) {
                const std::size_t reader = it->second;
                if (reader != i) {
                    wait_for[std::max(i, reader)].push_back(std::min(i, reader));
                }
            }
        }
    }
    return wait_for;
}

/// Memory the allocator may keep at the top of its heap, freed, for the sheets that follow.
constexpr int kept_for_next_sheets = 8 << 20;
/// Blocks from this size on are still mapped apart and handed back as soon as they are freed.
/// A large sheet's tables are on huge pages of their own, and what a small sheet takes from the
/// heap lies below it.
constexpr int mapped_apart_from = 4 << 20;

} // namespace

void keep_freed_memory_for_next_sheets() noexcept {
#if defined(__GLIBC__)
    (void)::mallopt(M_MMAP_THRESHOLD, mapped_apart_from);
    (void)::mallopt(M_TRIM_THRESHOLD, kept_for_next_sheets);
#endif
}

std::string failure_reason(const std::exception_ptr& failure) noexcept {
    // The reason is built after the failure has unwound the run, which has given back the
    // memory it held; should even that fail, the fixed text needs none.
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const std::bad_alloc&) {
            return std::string(out_of_memory);
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
            return "error desconocido";
        }
    } catch (...) {
        return {};
    }
}

FileOutcome run_file(const RunSettings& settings) noexcept {
    FileOutcome outcome;
    try {
        outcome.input = settings.input;
        outcome.summary = ProcesamosFichero(settings);
    } catch (const Cancelled& e) {
        outcome.summary.reset();
        outcome.error = e.what();
        outcome.cancelled = true;
    } catch (...) {
        outcome.summary.reset();
        outcome.error = failure_reason(std::current_exception());
    }
    return outcome;
}

std::vector<std::filesystem::path> batch_list(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    const std::filesystem::directory_iterator end;
    for (; !error && it != end; it.increment(error)) {
        std::error_code kind_error;
        if (!it->is_regular_file(kind_error)) {
            continue;
        }
        std::string name = it->path().filename().string();
        if (has_bin_extension(name)) {
            names.push_back(std::move(name));
        }
    }
    if (error) {
        throw FileError(folder.string() + ": no se puede leer la carpeta: " + error.message());
    }
    // std::string compares its characters as unsigned bytes.
    std::sort(names.begin(), names.end());

    // The exclusions go by the names beside each sheet, wherever this run writes: there they
    // are the outputs of an earlier run, never sheets.
    std::set<std::string> derived;
    for (const std::string& name : names) {
        for (const std::filesystem::path& written : derived_names(name, {})) {
            derived.insert(written.string());
        }
    }
    std::vector<std::filesystem::path> list;
    for (const std::string& name : names) {
        if (derived.count(name) == 0) {
            list.push_back(folder / name);
        }
    }
    return list;
}

std::vector<FileOutcome> run_batch(const std::vector<std::filesystem::path>& inputs,
                                   const RunSettings& common, unsigned jobs,
                                   const FileDone& on_file_done) {
    std::vector<FileOutcome> outcomes(inputs.size());
    const std::vector<std::vector<std::size_t>> wait_for =
        ordering_constraints(inputs, common.output_folder);
    std::vector<bool> done(inputs.size(), false);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    std::exception_ptr callback_failure;
    std::mutex delivery;
    std::size_t next_to_deliver = 0;

    if (inputs.size() > 1) {
        keep_freed_memory_for_next_sheets();
    }
    // The codes file is read once for the whole batch; every file shares what it holds.
    RunSettings shared = common;
    if (!shared.codes.empty() && !shared.codes_read) {
        shared.codes_read = read_codes_once(shared.codes);
    }

    // Outcomes are handed over in list order, one thread at a time: whoever finds the sheet
    // next due done hands it over with every later one already done, while the other threads
    // go on with their sheets. What a sheet found in detail is dropped once handed over, so a
    // batch holds no more than the sheets in hand.
    const auto deliver_ready = [&] {
        for (;;) {
            std::size_t i = 0;
            {
                const std::lock_guard lock(mutex);
                if (next_to_deliver == outcomes.size() || !done[next_to_deliver]) {
                    return;
                }
                i = next_to_deliver++;
            }
            // Only the delivering thread touches a delivered outcome until the batch is over.
            FileOutcome& outcome = outcomes[i];
            if (on_file_done) {
                try {
                    on_file_done(i, outcome);
                } catch (...) {
                    const std::lock_guard lock(mutex);
                    if (!callback_failure) {
                        callback_failure = std::current_exception();
                    }
                }
            }
            if (outcome.summary) {
                outcome.summary->details.reset();
            }
        }
    };
    const auto deliver_in_order = [&] {
        for (;;) {
            std::unique_lock one_at_a_time(delivery, std::try_to_lock);
            if (!one_at_a_time.owns_lock()) {
                return; // the delivering thread looks again once it lets go
            }
            deliver_ready();
            one_at_a_time.unlock();
            // A sheet may have come due after the look and before the lock was let go.
            const std::lock_guard lock(mutex);
            if (next_to_deliver == outcomes.size() || !done[next_to_deliver]) {
                return;
            }
        }
    };

    const auto process = [&](std::size_t i) {
        {
            // Files are taken in list order, so every file waited for is already taken
            // by a worker and will finish: no deadlock.
            std::unique_lock lock(mutex);
            finished.wait(lock, [&] {
                return std::all_of(wait_for[i].begin(), wait_for[i].end(),
                                   [&](std::size_t j) { return done[j]; });
            });
        }
        FileOutcome outcome;
        if (shared.stop.stop_requested()) {
            outcome = FileOutcome{inputs[i], std::nullopt, Cancelled().what(), true};
        } else {
            try {
                RunSettings settings = shared;
                settings.input = inputs[i];
                settings.output.clear();
                outcome = run_file(settings);
            } catch (...) {
                outcome =
                    FileOutcome{inputs[i], std::nullopt, failure_reason(std::current_exception())};
            }
        }
        {
            const std::lock_guard lock(mutex);
            outcomes[i] = std::move(outcome);
            done[i] = true;
        }
        finished.notify_all();
        deliver_in_order();
    };
    const auto worker = [&] {
        for (std::size_t i = next.fetch_add(1); i < inputs.size(); i = next.fetch_add(1)) {
            process(i);
        }
    };

    // The calling thread is one of the workers. Where the system gives fewer threads than
    // asked for (a process limit, memory), the batch goes on with those it has.
    const std::size_t wanted =
        std::min<std::size_t>(std::max(jobs, 1u), std::max<std::size_t>(inputs.size(), 1));
    {
        std::vector<std::jthread> helpers;
        for (std::size_t t = 1; t < wanted; ++t) {
            try {
                helpers.emplace_back(worker);
            } catch (const std::system_error&) {
                break;
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        worker();
    }
    deliver_in_order();
    if (callback_failure) {
        std::rethrow_exception(callback_failure);
    }
    return outcomes;
}

} // namespace tarvel::run
