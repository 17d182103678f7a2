#include "run/job.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>

#include <sys/stat.h>

#include "common/errors.hpp"
#include "run/messages.hpp"

namespace tarvel::run {
namespace {

/// The run-wide outputs of one run, each dropped from the commit once it has failed.
class RunWideFiles {
public:
    explicit RunWideFiles(std::vector<std::unique_ptr<RunWideOutput>> outputs)
        : m_outputs(std::move(outputs)), m_failed(m_outputs.size(), false) {}

    [[nodiscard]] bool empty() const noexcept { return m_outputs.empty(); }

    /// Feeds the sheet to every output still sound. They are separate files written from the
    /// same results, so each is fed on a thread of its own while the others are (the first
    /// on this one); the sheet is handed on only when all have it.
    void add(const FileOutcome& outcome) {
        // Failures are recorded here only, never on the feeding threads.
        std::vector<std::pair<std::size_t, std::future<void>>> others;
        for (std::size_t i = 1; i < m_outputs.size(); ++i) {
            if (m_failed[i]) {
                continue;
            }
            try {
                others.emplace_back(i, std::async(std::launch::async, [this, i, &outcome] {
                                        m_outputs[i]->add(outcome);
                                    }));
            } catch (const std::system_error&) {
                attempt(i, [&] { m_outputs[i]->add(outcome); }); // no thread to be had
            }
        }
        if (!m_outputs.empty() && !m_failed[0]) {
            attempt(0, [&] { m_outputs[0]->add(outcome); });
        }
        for (auto& [i, other] : others) {
            attempt(i, [&other = other] { other.get(); });
        }
    }

    /// Finishes every output still sound and commits them together.
    void commit() {
        std::vector<AtomicOutputFile*> files;
        for (std::size_t i = 0; i < m_outputs.size(); ++i) {
            if (!m_failed[i]) {
                attempt(i, [&] { m_outputs[i]->finish(); });
            }
            if (!m_failed[i]) {
                files.push_back(&m_outputs[i]->file());
            }
        }
        try {
            commit_together(files);
        } catch (...) {
            m_failures.push_back(failure_reason(std::current_exception()));
        }
    }

    [[nodiscard]] std::vector<std::string> take_failures() { return std::move(m_failures); }

private:
    template <typename Step> void attempt(std::size_t i, const Step& step) {
        try {
            step();
        } catch (...) {
            m_failed[i] = true;
            m_failures.push_back(failure_reason(std::current_exception()));
        }
    }

    std::vector<std::unique_ptr<RunWideOutput>> m_outputs;
    std::vector<bool> m_failed;
    std::vector<std::string> m_failures;
};

/// The folder asked for the outputs is checked once, before any sheet is read, rather than
/// failing every sheet of a batch with the same reason.
void require_output_folder(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        const int error = errno;
        throw FileError(folder.string() +
                        ": no se puede usar como carpeta de salida: " + std::strerror(error));
    }
    if (!S_ISDIR(info.st_mode)) {
        throw FileError(folder.string() + ": no es una carpeta (carpeta de salida)");
    }
}

} // namespace

JobOutcome run_job(const JobSettings& settings, const std::vector<std::filesystem::path>& inputs,
                   const FileDone& on_file_done) {
    require_output_folder(settings.common.output_folder);
    RunWideFiles run_wide(open_run_outputs(settings, inputs));
    RunSettings common = settings.common;
    common.keep_details = common.keep_details || !run_wide.empty();

    const FileDone deliver = [&](std::size_t index, const FileOutcome& outcome) {
        run_wide.add(outcome);
        if (on_file_done) {
            on_file_done(index, outcome);
        }
    };
    JobOutcome outcome;
    if (!common.output.empty()) {
        if (inputs.size() != 1) {
            throw RunRefused("una salida elegida solo vale con un único fichero de entrada");
        }
        common.input = inputs.front();
        outcome.files.push_back(run_file(common));
        deliver(0, outcome.files.front());
        if (outcome.files.front().summary) {
            outcome.files.front().summary->details.reset();
        }
    } else {
        outcome.files = run_batch(inputs, common, settings.jobs, deliver);
    }
    // Cancelled when a sheet was: a stop asked for after the last sheet was done changes
    // nothing, and the report and the export stand.
    outcome.cancelled = std::any_of(outcome.files.begin(), outcome.files.end(),
                                    [](const FileOutcome& file) { return file.cancelled; });
    // A cancelled run's report or export would tell of sheets never processed: it is dropped,
    // and any older one stays as it was.
    if (!run_wide.empty() && !outcome.cancelled) {
        run_wide.commit();
    }
    outcome.failures = run_wide.take_failures();
    return outcome;
}

JobOutcome export_job(const JobSettings& settings, std::vector<FileOutcome> outcomes,
                      const FileDone& on_file_done) {
    std::vector<std::filesystem::path> inputs;
    for (const FileOutcome& file : outcomes) {
        inputs.push_back(file.input);
    }
    RunWideFiles run_wide(open_run_outputs(settings, inputs));
    JobOutcome outcome;
    std::vector<std::string> unread;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (settings.common.stop.stop_requested()) {
            outcome.cancelled = true;
            break;
        }
        FileOutcome& file = outcomes[i];
        if (file.summary && !file.summary->details) {
            RunSettings sheet = settings.common;
            sheet.input = file.input;
            sheet.output.clear();
            try {
                file.summary->details = analyse_sheet(sheet);
            } catch (const Cancelled&) {
                outcome.cancelled = true;
                break;
            } catch (...) {
                // Changed or gone since its run: the outputs say what the run found, without
                // the details, and the failure says why.
                unread.push_back(failure_line(FileOutcome{
                    file.input, std::nullopt, failure_reason(std::current_exception())}));
            }
        }
        run_wide.add(file);
        if (on_file_done) {
            on_file_done(i, file);
        }
        if (file.summary) {
            file.summary->details.reset();
        }
    }
    if (!outcome.cancelled) {
        run_wide.commit();
    }
    outcome.failures = std::move(unread);
    for (std::string& failure : run_wide.take_failures()) {
        outcome.failures.push_back(std::move(failure));
    }
    outcome.files = std::move(outcomes);
    return outcome;
}

} // namespace tarvel::run
