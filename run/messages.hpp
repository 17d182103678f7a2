// The texts a user reads at the end of a run or a batch, defined once for the window and
// the command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run/batch.hpp"
#include "run/procesamos_fichero.hpp"

namespace tarvel::run {

/// Closing text when every file succeeded.
inline constexpr std::string_view proceso_terminado = "PROCESO Terminado Correctamente.";
/// First words of the closing text when a file failed.
inline constexpr std::string_view proceso_con_errores = "PROCESO Terminado con errores.";
/// First words of the closing text of a run stopped on request.
inline constexpr std::string_view proceso_cancelado = "PROCESO Cancelado.";
/// Title of the closing message box.
inline constexpr std::string_view fin_de_proceso = "Fin de Proceso";

/// Follows the error file's name in a summary line when the file is from an earlier run.
inline constexpr std::string_view older_error_file_note = " es de una ejecución anterior";

/// One line on a processed file: "IN -> OUT: líneas leídas 2, textos 0, uniones 1,
/// líneas escritas 1, errores de sentido 0, anillos omitidos 0, nodos omitidos por límite
/// de vértices 0, uniones con cota distinta 0, extremos casi unidos 0"; with direction errors the
/// error file's name follows their count in brackets, and so does an error file left from an
/// earlier run, with a note saying so.
[[nodiscard]] std::string summary_line(const RunSummary& summary);

/// "FILE: reason" for a failed file; the file is not repeated when the reason opens with it
/// (nor given when the outcome names no file).
[[nodiscard]] std::string failure_line(const FileOutcome& outcome);

/// True when no file of `outcomes` failed.
[[nodiscard]] bool all_succeeded(const std::vector<FileOutcome>& outcomes) noexcept;

/// The closing text of a run stopped on request: `proceso_cancelado`, how many sheets were
/// done of how many, then the failures among those done as closing_message gives them.
[[nodiscard]] std::string cancelled_message(const std::vector<FileOutcome>& outcomes);

/// The closing text: `proceso_terminado` when every file succeeded and every run-wide output
/// (report, export) was written; otherwise `proceso_con_errores` with the count of failed
/// files, then one `failure_line` per failed file, in list order, then each run-wide output's
/// failure, each on its own line (no newline after the last).
[[nodiscard]] std::string closing_message(const std::vector<FileOutcome>& outcomes,
                                          const std::vector<std::string>& run_wide_failures = {});

} // namespace tarvel::run
