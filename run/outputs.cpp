#include "run/outputs.hpp"

#include <stdexcept>
#include <string>

#include "common/errors.hpp"
#include "run/file_identity.hpp"
#include "run/output_names.hpp"

namespace tarvel::run {
namespace {

/// A role that is only written when the run finds something to put in it; it never takes
/// another output's place when nothing is found.
bool written_only_with_codes(OutputRole role) {
    return role == OutputRole::errors;
}

[[noreturn]] void refuse(const PlannedOutput& output, std::string_view what_it_would_be) {
    std::string message = output.target.string();
    message += ": ";
    message += role_name(output.role);
    message += " sería ";
    message += what_it_would_be;
    message += "; no se procesa";
    throw RunRefused(message);
}

/// `input`'s name with `piece`, beside it or in `output_folder`.
std::filesystem::path derived_name(const std::filesystem::path& input, std::string_view piece,
                                   const std::filesystem::path& output_folder) {
    if (output_folder.empty()) {
        return name_with_piece(input, piece);
    }
    return output_folder / name_with_piece(input.filename(), piece);
}

} // namespace

std::string_view role_name(OutputRole role) noexcept {
    switch (role) {
    case OutputRole::sheet:
        return "la salida";
    case OutputRole::errors:
        return "el fichero de errores";
    case OutputRole::report:
        return "el informe";
    case OutputRole::gis_export:
        return "la exportación";
    }
    return "la salida";
}

std::vector<PlannedOutput> file_outputs(const std::filesystem::path& input,
                                        const std::filesystem::path& chosen_output,
                                        const std::filesystem::path& output_folder) {
    std::vector<PlannedOutput> outputs;
    for (const DerivedOutput& derived : derived_outputs) {
        if (derived.role == OutputRole::sheet && !chosen_output.empty()) {
            outputs.push_back({derived.role, chosen_output});
        } else {
            outputs.push_back({derived.role, derived_name(input, derived.piece, output_folder)});
        }
    }
    return outputs;
}

std::vector<std::filesystem::path> derived_names(const std::filesystem::path& input,
                                                 const std::filesystem::path& output_folder) {
    std::vector<std::filesystem::path> names;
    for (const DerivedOutput& derived : derived_outputs) {
        names.push_back(derived_name(input, derived.piece, output_folder));
    }
    return names;
}

void refuse_overwrites(const std::vector<PlannedOutput>& outputs, const ReadFiles& read) {
    const bool with_codes = !read.codes.empty();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const PlannedOutput& output = outputs[i];
        if (written_only_with_codes(output.role) && !with_codes) {
            continue;
        }
        if (same_file(output.target, read.input)) {
            refuse(output, "el propio fichero de entrada");
        }
        if (with_codes && same_file(output.target, read.codes)) {
            refuse(output, "el fichero de códigos");
        }
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            if ((with_codes || !written_only_with_codes(outputs[j].role)) &&
                same_file(output.target, outputs[j].target)) {
                refuse(output, role_name(outputs[j].role));
            }
        }
    }
}

const std::filesystem::path& target_of(const std::vector<PlannedOutput>& outputs, OutputRole role) {
    for (const PlannedOutput& output : outputs) {
        if (output.role == role) {
            return output.target;
        }
    }
    throw std::logic_error("no output of this role is planned");
}

} // namespace tarvel::run
