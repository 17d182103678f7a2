#include "run/messages.hpp"

namespace tarvel::run {

std::string summary_line(const RunSummary& summary) {
    std::string line = summary.input.string() + " -> " + summary.output.string() + ":";
    line += " líneas leídas " + std::to_string(summary.lines_read);
    line += ", textos " + std::to_string(summary.texts_read);
    line += ", uniones " + std::to_string(summary.joins);
    line += ", líneas escritas " + std::to_string(summary.lines_written);
    line += ", errores de sentido " + std::to_string(summary.direction_errors);
    if (summary.direction_errors > 0) {
        line += " (" + summary.error_file.string() + ")";
    }
    line += ", anillos omitidos " + std::to_string(summary.rings_passed_over);
    line += ", nodos omitidos por límite de vértices " + std::to_string(summary.vertex_limit_nodes);
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

std::string closing_message(const std::vector<FileOutcome>& outcomes) {
    if (all_succeeded(outcomes)) {
        return std::string(proceso_terminado);
    }
    std::size_t failed = 0;
    for (const FileOutcome& outcome : outcomes) {
        failed += outcome.summary ? 0 : 1;
    }
    std::string text = std::string(proceso_con_errores) +
                       " Ficheros no procesados: " + std::to_string(failed) + " de " +
                       std::to_string(outcomes.size()) + ".";
    for (const FileOutcome& outcome : outcomes) {
        if (!outcome.summary) {
            text += "\n" + failure_line(outcome);
        }
    }
    return text;
}

} // namespace tarvel::run
