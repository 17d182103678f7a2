#include "run/messages.hpp"

namespace tarvel::run {
namespace {

// Pieces are appended one by one: GCC 12 warns falsely (-Wrestrict) on
// "literal" + std::string temporaries at -O3.
void append_count(std::string& line, std::string_view label, std::int64_t count) {
    line += label;
    line += ' ';
    line += std::to_string(count);
}

} // namespace

std::string summary_line(const RunSummary& summary) {
    std::string line = summary.input.string();
    line += " -> ";
    line += summary.output.string();
    line += ':';
    append_count(line, " líneas leídas", summary.lines_read);
    append_count(line, ", textos", summary.texts_read);
    append_count(line, ", uniones", summary.joins);
    append_count(line, ", líneas escritas", summary.lines_written);
    append_count(line, ", errores de sentido", summary.direction_errors);
    if (summary.direction_errors > 0) {
        line += " (";
        line += summary.error_file.string();
        line += ')';
    } else if (summary.older_error_file) {
        line += " (";
        line += summary.error_file.string();
        line += older_error_file_note;
        line += ')';
    }
    append_count(line, ", anillos omitidos", summary.rings_passed_over);
    append_count(line, ", nodos omitidos por límite de vértices", summary.vertex_limit_nodes);
    append_count(line, ", uniones con cota distinta", summary.z_differences);
    append_count(line, ", extremos casi unidos", summary.near_misses);
    return line;
}

std::string failure_line(const FileOutcome& outcome) {
    const std::string file = outcome.input.string();
    const std::string lead = file + ": ";
    if (file.empty() || outcome.error.compare(0, lead.size(), lead) == 0) {
        return outcome.error;
    }
    return lead + outcome.error;
}

bool all_succeeded(const std::vector<FileOutcome>& outcomes) noexcept {
    for (const FileOutcome& outcome : outcomes) {
        if (!outcome.summary) {
            return false;
        }
    }
    return true;
}

namespace {

/// Appends a line for each sheet that failed (not one a cancel left undone).
void append_failure_lines(std::string& text, const std::vector<FileOutcome>& outcomes) {
    for (const FileOutcome& outcome : outcomes) {
        if (!outcome.summary && !outcome.cancelled) {
            text += '\n';
            text += failure_line(outcome);
        }
    }
}

} // namespace

std::string closing_message(const std::vector<FileOutcome>& outcomes,
                            const std::vector<std::string>& run_wide_failures) {
    if (all_succeeded(outcomes) && run_wide_failures.empty()) {
        return std::string(proceso_terminado);
    }
    std::size_t failed = 0;
    for (const FileOutcome& outcome : outcomes) {
        failed += outcome.summary ? 0 : 1;
    }
    std::string text(proceso_con_errores);
    text += " Ficheros no procesados: ";
    text += std::to_string(failed);
    text += " de ";
    text += std::to_string(outcomes.size());
    text += '.';
    append_failure_lines(text, outcomes);
    for (const std::string& failure : run_wide_failures) {
        text += '\n';
        text += failure;
    }
    return text;
}

std::string cancelled_message(const std::vector<FileOutcome>& outcomes) {
    std::size_t done = 0;
    std::size_t failed = 0;
    for (const FileOutcome& outcome : outcomes) {
        done += outcome.summary ? 1 : 0;
        failed += !outcome.summary && !outcome.cancelled ? 1 : 0;
    }
    std::string text(proceso_cancelado);
    text += " Hojas terminadas: ";
    text += std::to_string(done);
    text += " de ";
    text += std::to_string(outcomes.size());
    text += '.';
    if (failed > 0) {
        text += " Con errores: ";
        text += std::to_string(failed);
        text += '.';
        append_failure_lines(text, outcomes);
    }
    return text;
}

} // namespace tarvel::run
