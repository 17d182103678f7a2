#include "run/procesamos_fichero.hpp"

#include <optional>
#include <string>
#include <vector>

#include "analysis/eliminamos_nodos.hpp"
#include "analysis/node_table.hpp"
#include "common/errors.hpp"
#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "run/atomic_output_file.hpp"
#include "run/codes_file.hpp"
#include "run/error_file.hpp"
#include "run/file_identity.hpp"
#include "run/output_names.hpp"

namespace tarvel::run {
namespace {

/// Refuses a run that would write over a file it reads, or write both results to one file.
void refuse_overwrites(const RunSettings& settings, const std::filesystem::path& output,
                       const std::filesystem::path& error_file) {
    const std::string refused = "; no se procesa";
    if (same_file(output, settings.input)) {
        throw RunRefused(output.string() + ": la salida sería el propio fichero de entrada" +
                         refused);
    }
    if (same_file(output, error_file)) {
        throw RunRefused(output.string() + ": la salida sería el fichero de errores" + refused);
    }
    if (!settings.codes.empty()) {
        if (same_file(output, settings.codes)) {
            throw RunRefused(output.string() + ": la salida sería el fichero de códigos" + refused);
        }
        if (same_file(error_file, settings.codes)) {
            throw RunRefused(error_file.string() +
                             ": el fichero de errores sería el fichero de códigos" + refused);
        }
    }
}

} // namespace

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

RunSummary ProcesamosFichero(const RunSettings& settings) {
    if (settings.input.empty() || !settings.input.has_filename()) {
        throw RunRefused(settings.input.string() + ": no es un nombre de fichero de entrada");
    }
    RunSummary summary;
    summary.input = settings.input;
    summary.output =
        settings.output.empty() ? derived_output_name(settings.input) : settings.output;
    summary.error_file = derived_error_name(settings.input);
    refuse_overwrites(settings, summary.output, summary.error_file);

    // Everything is read and worked out in memory first: a codes file that cannot be read
    // or a malformed input stops the run before any file on disk has changed.
    std::optional<analysis::CodesList> codes;
    if (!settings.codes.empty()) {
        codes = read_codes_file(settings.codes);
    }
    digi::ElementTables tables = digi::CargamosFichero(settings.input);
    analysis::NodeTable nodes = analysis::CreamosNodos(tables);
    const analysis::AnalysisResult result =
        analysis::EliminamosNodos(tables, nodes, codes ? &*codes : nullptr);

    summary.lines_read = static_cast<std::int64_t>(tables.lines.size());
    summary.texts_read = static_cast<std::int64_t>(tables.texts.size());
    summary.joins = result.joins;
    summary.direction_errors = static_cast<std::int64_t>(result.error_points.size());
    summary.rings_passed_over = result.rings_passed_over;
    summary.vertex_limit_nodes = result.vertex_limit_nodes;
    summary.lines_written = static_cast<std::int64_t>(result.joined.live_count());
    if (settings.all_elements) {
        for (const digi::LineRecord& line : tables.lines) {
            summary.lines_written += line.absorbed ? 0 : 1;
        }
    }

    // Both files are written out as temporaries before either replaces its target, so a
    // failure while writing leaves the older output and error file as they were. Without
    // direction errors an older error file is left alone.
    AtomicOutputFile output(summary.output);
    digi::EscribimosSalida(output, tables, settings.all_elements,
                           [&](digi::ByteSink& sink) { result.joined.write(sink, tables); });
    std::optional<AtomicOutputFile> error_file;
    if (!result.error_points.empty()) {
        error_file.emplace(summary.error_file);
        GrabamosErrores(*error_file, result.error_points, unit_factor(settings.unit));
    }
    output.commit();
    if (error_file) {
        error_file->commit();
    }
    return summary;
}

} // namespace tarvel::run
