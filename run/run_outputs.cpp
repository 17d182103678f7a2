#include "run/run_outputs.hpp"

#include "common/errors.hpp"
#include "run/file_identity.hpp"
#include "run/gis_export.hpp"
#include "run/report.hpp"

namespace tarvel::run {
namespace {

[[noreturn]] void refuse(const PlannedOutput& output, std::string_view what_it_would_be) {
    std::string message = output.target.string();
    message += ": ";
    message += role_name(output.role);
    message += " sería ";
    message += what_it_would_be;
    message += "; no se procesa nada";
    throw RunRefused(message);
}

/// A run-wide output must not take the place of anything the run reads or writes: an input,
/// the output or error file of an input, the codes file, or the other run-wide output.
void refuse_overwrites(const std::vector<PlannedOutput>& outputs, const JobSettings& settings,
                       const std::vector<std::filesystem::path>& inputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const PlannedOutput& output = outputs[i];
        if (!settings.common.codes.empty() && same_file(output.target, settings.common.codes)) {
            refuse(output, "el fichero de códigos");
        }
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            if (same_file(output.target, outputs[j].target)) {
                refuse(output, role_name(outputs[j].role));
            }
        }
        for (const std::filesystem::path& input : inputs) {
            if (same_file(output.target, input)) {
                refuse(output, "un fichero de entrada (" + input.string() + ")");
            }
            const std::filesystem::path chosen =
                inputs.size() == 1 ? settings.common.output : std::filesystem::path();
            for (const PlannedOutput& written :
                 file_outputs(input, chosen, settings.common.output_folder)) {
                if (same_file(output.target, written.target)) {
                    refuse(output, std::string(role_name(written.role)) + " de " + input.string());
                }
            }
        }
    }
}

} // namespace

std::vector<PlannedOutput> run_wide_outputs(const JobSettings& settings) {
    std::vector<PlannedOutput> outputs;
    if (!settings.report.empty()) {
        outputs.push_back({OutputRole::report, settings.report});
    }
    if (!settings.gis_export.empty()) {
        outputs.push_back({OutputRole::gis_export, settings.gis_export});
    }
    return outputs;
}

std::vector<std::unique_ptr<RunWideOutput>>
open_run_outputs(const JobSettings& settings, const std::vector<std::filesystem::path>& inputs) {
    const std::vector<PlannedOutput> planned = run_wide_outputs(settings);
    refuse_overwrites(planned, settings, inputs);
    std::vector<std::unique_ptr<RunWideOutput>> opened;
    for (const PlannedOutput& output : planned) {
        switch (output.role) {
        case OutputRole::report:
            opened.push_back(open_report(output.target, settings, inputs.size()));
            break;
        case OutputRole::gis_export:
            opened.push_back(open_gis_export(output.target, settings.crs));
            break;
        case OutputRole::sheet:
        case OutputRole::errors:
            break;
        }
    }
    return opened;
}

} // namespace tarvel::run
