#include "run/batch.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "common/errors.hpp"
#include "run/file_identity.hpp"
#include "run/output_names.hpp"

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
/// or error file) the file the other reads. Keeping their list order makes the result the
/// same whatever number of files run at once.
std::vector<std::vector<std::size_t>>
ordering_constraints(const std::vector<std::filesystem::path>& inputs) {
    std::multimap<std::filesystem::path, std::size_t> by_input;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        by_input.emplace(normalized_path(inputs[i]), i);
    }
    std::vector<std::vector<std::size_t>> wait_for(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i].has_filename()) {
            continue;
        }
        for (const auto& written :
             {derived_output_name(inputs[i]), derived_error_name(inputs[i])}) {
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

} // namespace

FileOutcome run_file(const RunSettings& settings) {
    FileOutcome outcome;
    outcome.input = settings.input;
    try {
        outcome.summary = ProcesamosFichero(settings);
    } catch (const std::exception& e) {
        outcome.error = e.what();
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

    std::set<std::string> derived;
    for (const std::string& name : names) {
        derived.insert(derived_output_name(name).string());
        derived.insert(derived_error_name(name).string());
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
    const std::vector<std::vector<std::size_t>> wait_for = ordering_constraints(inputs);
    std::vector<bool> done(inputs.size(), false);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    std::exception_ptr callback_failure;

    const auto worker = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= inputs.size()) {
                return;
            }
            {
                // Files are taken in list order, so every file waited for is already taken
                // by a worker and will finish: no deadlock.
                std::unique_lock lock(mutex);
                finished.wait(lock, [&] {
                    return std::all_of(wait_for[i].begin(), wait_for[i].end(),
                                       [&](std::size_t j) { return done[j]; });
                });
            }
            RunSettings settings = common;
            settings.input = inputs[i];
            settings.output.clear();
            FileOutcome outcome = run_file(settings);
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
            {
                const std::lock_guard lock(mutex);
                outcomes[i] = std::move(outcome);
                done[i] = true;
            }
            finished.notify_all();
        }
    };

    const std::size_t threads =
        std::min<std::size_t>(std::max(jobs, 1u), std::max<std::size_t>(inputs.size(), 1));
    if (threads <= 1) {
        worker();
    } else {
        std::vector<std::jthread> pool;
        pool.reserve(threads);
        for (std::size_t t = 0; t < threads; ++t) {
            pool.emplace_back(worker);
        }
    }
    if (callback_failure) {
        std::rethrow_exception(callback_failure);
    }
    return outcomes;
}

} // namespace tarvel::run
