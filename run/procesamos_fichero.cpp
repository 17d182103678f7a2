#include "run/procesamos_fichero.hpp"

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/eliminamos_nodos.hpp"
#include "analysis/line_assembly.hpp"
#include "analysis/near_misses.hpp"
#include "analysis/node_table.hpp"
#include "common/big_vector.hpp"
#include "common/errors.hpp"
#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "run/atomic_output_file.hpp"
#include "run/error_file.hpp"
#include "run/file_identity.hpp"
#include "run/lines_beside_loop.hpp"
#include "run/outputs.hpp"
#include "run/work_in_progress.hpp"

namespace tarvel::run {
namespace {

void require_input_name(const std::filesystem::path& input) {
    if (input.empty()) {
        throw RunRefused("no se ha elegido el fichero DIGI de entrada");
    }
    if (!input.has_filename()) {
        throw RunRefused(input.string() + ": no es un nombre de fichero de entrada");
    }
}

/// The codes with direction of the run, or none without a codes file.
std::shared_ptr<const CodesRead> codes_of(const RunSettings& settings) {
    if (settings.codes.empty()) {
        return nullptr;
    }
    if (settings.codes_read) {
        return settings.codes_read;
    }
    auto read = std::make_shared<CodesRead>();
    read->codes = std::make_shared<const analysis::CodeSet>(read_codes_file(settings.codes));
    return read;
}

void stop_if_asked(const RunSettings& settings) {
    if (settings.stop.stop_requested()) {
        throw Cancelled();
    }
}

/// The progress of one step of `settings`' run, or none.
StepProgress step_progress(const RunSettings& settings, Stage stage) {
    if (!settings.progress) {
        return {};
    }
    return [&settings, stage](std::int64_t done, std::int64_t total) {
        settings.progress(stage, done, total);
    };
}

/// The lines of `source`, looking for a stop request and telling the progress every few
/// thousand lines out of `total`.
digi::LineSource watched(digi::LineSource source, const RunSettings& settings, std::int64_t total) {
    // The writer may make the lines on two threads. Only the thread that runs the sheet tells
    // the progress and asks whether to stop; the other's lines count from when it has made them.
    auto done = std::make_shared<std::atomic<std::int64_t>>(0);
    source.lines = [lines = std::move(source.lines), &settings, total, done,
                    runner = std::this_thread::get_id()](std::size_t from, std::size_t to,
                                                         const digi::RunLineVisitor& visit) {
        const bool telling = std::this_thread::get_id() == runner;
        const auto count = [&](std::int64_t made) {
            const std::int64_t before = done->fetch_add(made);
            if (telling && (before + made) / progress_every != before / progress_every) {
                stop_if_asked(settings);
                if (settings.progress) {
                    settings.progress(Stage::writing, before + made, total);
                }
            }
        };
        std::int64_t made = 0;
        lines(from, to, [&](const digi::RunLine& line) {
            if (++made == progress_every) {
                count(made);
                made = 0;
            }
            visit(line);
        });
        count(made);
    };
    return source;
}

bool regular_file_exists(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

/// A mapped sheet that another program changed while it was read gives no result: what was
/// read may mix its old and new bytes.
void fail_if_changed(const digi::ElementTables& tables) {
    if (tables.bytes.file_changed()) {
        throw FileError(tables.file_name +
                        ": el fichero ha cambiado mientras se leía; no se escribe nada");
    }
}

/// Nodes from which the near misses are worth a thread of their own.
constexpr std::int32_t near_misses_apart_from = 1 << 16;

/// A sheet read and worked out in memory, with none or some of its output written.
struct Analysed {
    digi::ElementTables tables;
    analysis::AnalysisResult result;
    /// Loaded lines whose part of the output was written while the node loop ran.
    std::size_t lines_written = 0;
};

/// Reads the codes file and the sheet and runs the node analysis: the steps that may fail on
/// what the run reads, all before anything on disk changes. On a large sheet, once it is read,
/// `open_output` may give where its live loaded lines are written while the node loop runs.
Analysed analyse(const RunSettings& settings,
                 const std::function<digi::ByteSink*()>& open_output = {}) {
    const std::shared_ptr<const CodesRead> codes = codes_of(settings);
    stop_if_asked(settings);
    // The places of the sheet's first lines are numbered while the rest is still being read.
    analysis::EarlyPlaces early;
    Analysed sheet{
        digi::CargamosFichero(settings.input, step_progress(settings, Stage::reading), &early), {}};
    try {
        stop_if_asked(settings);
        analysis::NodeTable nodes =
            analysis::CreamosNodos(sheet.tables, step_progress(settings, Stage::nodes), early);
        stop_if_asked(settings);
        // The near misses read only what the node loop leaves as it is, so on a large sheet they
        // are sought on a second thread while the loop runs. That thread then writes the live
        // loaded lines the loop has passed, which come first in the output.
        const double tolerance = tolerance_in_file_units(settings);
        std::promise<analysis::NearPairs> near_promise;
        std::future<analysis::NearPairs> near_pairs;
        LoopPassage loop;
        std::future<std::size_t> beside;
        // Whatever ends the loop, the thread beside it reads and writes no more after this.
        struct Abandon {
            LoopPassage& loop;
            std::future<std::size_t>& beside;
            ~Abandon() {
                if (beside.valid()) {
                    loop.abandon();
                    beside.wait();
                }
            }
        } abandon{loop, beside};
        if (nodes.node_count() >= near_misses_apart_from) {
            digi::ByteSink* const out = open_output ? open_output() : nullptr;
            near_pairs = near_promise.get_future();
            try {
                beside = std::async(std::launch::async, [&, out] {
                    try {
                        near_promise.set_value(analysis::gather_near_pairs(nodes, tolerance));
                    } catch (...) {
                        near_promise.set_exception(std::current_exception());
                        return std::size_t{0};
                    }
                    return out != nullptr ? write_passed_lines(*out, sheet.tables, nodes, loop)
                                          : std::size_t{0};
                });
            } catch (const std::system_error&) {
                // No thread to be had: the near misses are sought after the loop instead.
                near_pairs = {};
            }
        }
        // The search holds every place, sorted, until it ends, and the loop's records grow to
        // their most at its end. Should the search run late (a busy machine), the loop waits
        // for it three quarters of the way, so that the two never add up to the run's peak.
        const StepProgress joins_progress = step_progress(settings, Stage::joins);
        const StepProgress loop_progress = [&](std::int64_t done, std::int64_t total) {
            if (near_pairs.valid() && done >= total / 4 * 3) {
                near_pairs.wait();
            }
            loop.pass(done);
            if (joins_progress) {
                joins_progress(done, total);
            }
        };
        // The loop's one large new table is its joined lines' records. Pages that building the
        // node table gave back beyond those would be held through the loop for nothing: more
        // of them when a busy machine left the table to be built in halves after all.
        huge_pages::release_kept_beyond(analysis::JoinedLines::room_bytes(nodes.two_ended_count()));
        sheet.result = analysis::EliminamosNodos(sheet.tables, nodes,
                                                 codes ? &codes->get() : nullptr, loop_progress);
        loop.pass(nodes.node_count());
        sheet.result.findings.near_misses = analysis::describe_near_misses(
            sheet.tables, nodes,
            near_pairs.valid() ? near_pairs.get() : analysis::gather_near_pairs(nodes, tolerance));
        if (beside.valid()) {
            sheet.lines_written = beside.get();
        }
        stop_if_asked(settings);
    } catch (const Cancelled&) {
        early.stop(); // it reads the tables, which go with the sheet
        throw;
    } catch (...) {
        early.stop();
        // What went wrong may come from bytes that changed under the run: say so instead.
        fail_if_changed(sheet.tables);
        throw;
    }
    // The node table's pages were kept for tables made after it; writing makes none, so they
    // go back to the system before its buffers are filled.
    huge_pages::release_kept();
    return sheet;
}

RunSummary summarise(const RunSettings& settings, const std::vector<PlannedOutput>& outputs,
                     const digi::ElementTables& tables, const analysis::AnalysisResult& result) {
    RunSummary summary;
    summary.input = settings.input;
    summary.output = target_of(outputs, OutputRole::sheet);
    summary.error_file = target_of(outputs, OutputRole::errors);
    summary.lines_read = static_cast<std::int64_t>(tables.lines.size());
    summary.texts_read = static_cast<std::int64_t>(tables.texts.size());
    summary.joins = result.joins;
    summary.direction_errors = static_cast<std::int64_t>(result.error_points.size());
    summary.rings_passed_over = result.rings_passed_over;
    summary.vertex_limit_nodes = result.vertex_limit_nodes;
    summary.z_differences = static_cast<std::int64_t>(result.findings.z_differences.size());
    summary.near_misses = static_cast<std::int64_t>(result.findings.near_misses.size());
    summary.lines_written = static_cast<std::int64_t>(result.joined.live_count());
    if (settings.all_elements) {
        for (const digi::LineRecord& line : tables.lines) {
            summary.lines_written += line.absorbed() ? 0 : 1;
        }
    }
    return summary;
}

/// Writes every planned output that has something to hold (the error file only with
/// direction errors), each complete and synced before any replaces its target, so a failure
/// while writing leaves every older file as it was.
/// `sheet_file`, when given, is the sheet's output opened before, holding its first
/// `lines_written` loaded lines.
void write_outputs(const RunSettings& settings, const std::vector<PlannedOutput>& outputs,
                   const digi::ElementTables& tables, const analysis::AnalysisResult& result,
                   std::unique_ptr<AtomicOutputFile> sheet_file, std::size_t lines_written) {
    std::vector<std::unique_ptr<AtomicOutputFile>> files;
    for (const PlannedOutput& output : outputs) {
        switch (output.role) {
        case OutputRole::sheet:
            files.push_back(sheet_file ? std::move(sheet_file)
                                       : std::make_unique<AtomicOutputFile>(output.target));
            if (settings.progress) {
                settings.progress(Stage::writing, 0, result.joined.live_count());
            }
            digi::EscribimosSalida(*files.back(), tables, settings.all_elements,
                                   watched(analysis::joined_line_source(tables, result.joined),
                                           settings, result.joined.live_count()),
                                   lines_written);
            break;
        case OutputRole::errors:
            // Without direction errors an older error file is left alone.
            if (!result.error_points.empty()) {
                files.push_back(std::make_unique<AtomicOutputFile>(output.target));
                GrabamosErrores(*files.back(), result.error_points, unit_factor(settings.unit));
            }
            break;
        case OutputRole::report:
        case OutputRole::gis_export:
            throw std::logic_error("a run-wide output planned for one file");
        }
    }
    std::vector<AtomicOutputFile*> commits;
    for (const auto& file : files) {
        commits.push_back(file.get());
    }
    stop_if_asked(settings);
    fail_if_changed(tables);
    commit_together(commits);
}

} // namespace

const char* stage_name(Stage stage) noexcept {
    switch (stage) {
    case Stage::reading:
        return "leyendo";
    case Stage::nodes:
        return "nodos";
    case Stage::joins:
        return "uniones";
    case Stage::writing:
        return "escribiendo";
    }
    return "";
}

std::int32_t unit_factor(Unit unit) noexcept {
    switch (unit) {
    case Unit::metres:
        return 1;
    case Unit::centimetres:
        return 100;
    case Unit::millimetres:
        return 1000;
    }
    return 1000;
}

double tolerance_in_file_units(const RunSettings& settings) noexcept {
    return settings.tolerance * unit_factor(settings.unit);
}

std::shared_ptr<const SheetResults> analyse_sheet(const RunSettings& settings) {
    require_input_name(settings.input);
    Analysed sheet = analyse(settings);
    return std::make_shared<const SheetResults>(std::move(sheet.tables), std::move(sheet.result),
                                                settings.all_elements, unit_factor(settings.unit));
}

RunSummary ProcesamosFichero(const RunSettings& settings) {
    require_input_name(settings.input);
    const WorkInProgress::Input on_record(settings.input);
    const std::vector<PlannedOutput> outputs =
        file_outputs(settings.input, settings.output, settings.output_folder);
    refuse_overwrites(outputs, {settings.input, settings.codes});
    // Older outputs lose their cached pages while the sheet is read, when the second core
    // still has time: the thread that numbers places waits for the first lines.
    for (const PlannedOutput& output : outputs) {
        drop_cached_pages_later(output.target);
    }

    // Everything is read first: a codes file that cannot be read or a malformed input stops
    // the run before any file on disk has changed. On a large sheet, the output's temporary
    // is then opened, so that the loaded lines it keeps go in while the joins are worked out;
    // what fails from there on removes it.
    std::unique_ptr<AtomicOutputFile> sheet_file;
    const auto open_sheet_file = [&]() -> digi::ByteSink* {
        if (!settings.all_elements) {
            return nullptr; // the output holds the joined lines alone
        }
        sheet_file = std::make_unique<AtomicOutputFile>(target_of(outputs, OutputRole::sheet));
        return sheet_file.get();
    };
    Analysed sheet = analyse(settings, open_sheet_file);
    digi::ElementTables& tables = sheet.tables;
    analysis::AnalysisResult& result = sheet.result;

    RunSummary summary = summarise(settings, outputs, tables, result);
    write_outputs(settings, outputs, tables, result, std::move(sheet_file), sheet.lines_written);
    // Without codes the output may have taken the error file's name.
    summary.older_error_file = result.error_points.empty() &&
                               regular_file_exists(summary.error_file) &&
                               !same_file(summary.error_file, summary.output);
    if (settings.keep_details) {
        summary.details =
            std::make_shared<const SheetResults>(std::move(tables), std::move(result),
                                                 settings.all_elements, unit_factor(settings.unit));
    }
    return summary;
}

} // namespace tarvel::run
