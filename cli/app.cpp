#include "cli/app.hpp"

#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include "cli/file_list.hpp"
#include "cli/options.hpp"
#include "common/errors.hpp"
#include "run/job.hpp"
#include "run/messages.hpp"

namespace tarvel::cli {
namespace {

/// What the inputs name once folders are listed: the files to process, in order, and the
/// folders that could not be listed (failures of their own).
struct Work {
    std::vector<std::filesystem::path> files;
    std::vector<run::FileOutcome> listing_failures;
};

Work expand_inputs(const Options& options, const std::vector<std::filesystem::path>& inputs,
                   std::ostream& err) {
    Work work;
    for (const std::filesystem::path& input : inputs) {
        std::error_code error;
        if (!std::filesystem::is_directory(input, error)) {
            work.files.push_back(input);
            continue;
        }
        try {
            const std::vector<std::filesystem::path> listed = run::batch_list(input);
            if (listed.empty() && !options.quiet) {
                err << input.string() << ": no hay ficheros *.bin en la carpeta\n";
            }
            work.files.insert(work.files.end(), listed.begin(), listed.end());
        } catch (const std::exception& e) {
            work.listing_failures.push_back(run::FileOutcome{input, std::nullopt, e.what()});
        }
    }
    return work;
}

/// Prints the summary lines in list order while files finish in any order, with a progress
/// line on the terminal that is cleared before each summary line.
class Reporter {
public:
    Reporter(std::ostream& out, std::ostream& err, std::size_t total, bool quiet, bool progress)
        : m_out(out), m_err(err), m_done(total, std::nullopt), m_quiet(quiet),
          m_progress(progress && !quiet && total > 1),
          m_sheet_progress(progress && !quiet && total == 1) {}

    /// The progress of a single sheet's steps, for a run of one sheet shown on a terminal.
    [[nodiscard]] run::SheetProgress sheet_progress(const std::filesystem::path& sheet) {
        if (!m_sheet_progress) {
            return {};
        }
        return [this, name = sheet.filename().string()](run::Stage stage, std::int64_t done,
                                                        std::int64_t total) {
            const auto percent = total > 0 ? static_cast<int>(100 * done / total) : 0;
            const std::lock_guard lock(m_mutex);
            // Drawn again only when something shown changes.
            if (stage == m_stage_shown && percent == m_percent_shown) {
                return;
            }
            m_stage_shown = stage;
            m_percent_shown = percent;
            m_err << "\r\033[K" << name << ": " << run::stage_name(stage) << ' ' << percent << '%'
                  << std::flush;
            m_sheet_line = true;
        };
    }

    /// Shows the progress line before the first file, which may take a while.
    void start() {
        const std::lock_guard lock(m_mutex);
        draw_progress();
    }

    /// Takes the progress line away (before a message that ends the run).
    void clear() {
        const std::lock_guard lock(m_mutex);
        clear_progress();
    }

    void file_done(std::size_t index, const run::FileOutcome& outcome) {
        const std::lock_guard lock(m_mutex);
        m_done.at(index) = outcome;
        ++m_finished;
        clear_progress();
        while (m_next_to_print < m_done.size() && m_done[m_next_to_print]) {
            const run::FileOutcome& ready = *m_done[m_next_to_print];
            if (ready.summary && !m_quiet) {
                m_out << run::summary_line(*ready.summary) << '\n' << std::flush;
            }
            ++m_next_to_print;
        }
        draw_progress();
    }

private:
    void draw_progress() {
        if (m_progress && m_finished < m_done.size()) {
            m_err << "Procesados " << m_finished << " de " << m_done.size() << " ficheros"
                  << std::flush;
        }
    }

    void clear_progress() {
        if (m_progress || m_sheet_line) {
            m_sheet_line = false;
            m_err << "\r\033[K" << std::flush;
        }
    }

    std::mutex m_mutex;
    std::ostream& m_out;
    std::ostream& m_err;
    std::vector<std::optional<run::FileOutcome>> m_done;
    std::size_t m_next_to_print = 0;
    std::size_t m_finished = 0;
    bool m_quiet;
    bool m_progress;
    bool m_sheet_progress;
    bool m_sheet_line = false;
    run::Stage m_stage_shown = run::Stage::reading;
    int m_percent_shown = -1;
};

/// The inputs of the command line, then those of the list it names.
std::vector<std::filesystem::path> all_inputs(const Options& options, std::istream& in) {
    std::vector<std::filesystem::path> inputs = options.inputs;
    if (!options.files_from.empty()) {
        const std::vector<std::filesystem::path> listed =
            read_file_list(options.files_from, in, options.null_separated);
        inputs.insert(inputs.end(), listed.begin(), listed.end());
    }
    return inputs;
}

int run_options(const Options& options, std::istream& in, std::ostream& out, std::ostream& err,
                bool err_is_terminal) {
    if (!options.output.empty()) {
        std::error_code error;
        if (options.inputs.size() != 1 || std::filesystem::is_directory(options.inputs[0], error)) {
            print_usage_error(err, "--output solo vale con un único fichero de entrada, no con "
                                   "una carpeta");
            return exit_usage;
        }
    }
    std::vector<std::filesystem::path> inputs;
    try {
        inputs = all_inputs(options, in);
    } catch (const Error& e) {
        err << "tarvel: " << e.what() << '\n' << std::flush;
        return exit_file_failed;
    }
    Work work = expand_inputs(options, inputs, err);

    run::JobSettings job;
    job.common.output = options.output;
    job.common.output_folder = options.output_folder;
    job.common.codes = options.codes;
    job.common.unit = options.unit;
    job.common.all_elements = options.all_elements;
    job.common.tolerance = options.tolerance;
    job.jobs = options.jobs;
    job.report = options.report;
    job.gis_export = options.gis_export;
    job.crs = options.crs;

    const bool show_progress = options.progress == Progress::shown ||
                               (options.progress == Progress::on_terminal && err_is_terminal);
    Reporter reporter(out, err, work.files.size(), options.quiet, show_progress);
    if (work.files.size() == 1) {
        job.common.progress = reporter.sheet_progress(work.files.front());
    }
    run::JobOutcome done;
    try {
        reporter.start();
        done =
            run::run_job(job, work.files, [&](std::size_t index, const run::FileOutcome& outcome) {
                reporter.file_done(index, outcome);
            });
    } catch (const Error& e) {
        // A report or export that may not or cannot be written stops the run before any
        // sheet is read.
        reporter.clear();
        err << "tarvel: " << e.what() << '\n' << std::flush;
        return exit_file_failed;
    }
    std::vector<run::FileOutcome>& outcomes = done.files;
    // Folders that could not be listed are failures like any file's.
    outcomes.insert(outcomes.end(), work.listing_failures.begin(), work.listing_failures.end());

    if (!done.failures.empty()) {
        err << run::closing_message(outcomes, done.failures) << '\n' << std::flush;
        return exit_file_failed;
    }
    if (run::all_succeeded(outcomes)) {
        if (!options.quiet) {
            out << run::proceso_terminado << '\n' << std::flush;
        }
        return exit_success;
    }
    err << run::closing_message(outcomes) << '\n' << std::flush;
    return exit_file_failed;
}

/// Summary lines that could not be written (standard output closed, or a pipe whose reader
/// has gone) are a failure of the run, said on stderr, although every file was processed:
/// a script reading them must not take their absence for success.
int checked_results(std::ostream& out, std::ostream& err) {
    out.flush();
    if (out) {
        return exit_success;
    }
    err << "tarvel: no se pueden escribir los resultados en la salida estándar; los ficheros "
           "se han procesado y escrito igualmente\n"
        << std::flush;
    return exit_file_failed;
}

} // namespace

int run_cli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
            std::ostream& err, bool err_is_terminal) {
    try {
        const unsigned cores = std::thread::hardware_concurrency();
        const ParseOutcome parsed = parse_options(args, cores, out, err);
        if (!parsed.options) {
            return parsed.exit_code;
        }
        const int code = run_options(*parsed.options, in, out, err, err_is_terminal);
        return code == exit_success ? checked_results(out, err) : code;
    } catch (...) {
        err << "tarvel: " << run::failure_reason(std::current_exception()) << '\n' << std::flush;
        return exit_file_failed;
    }
}

} // namespace tarvel::cli
