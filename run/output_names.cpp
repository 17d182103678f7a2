#include "run/output_names.hpp"

#include <string>

namespace tarvel::run {

std::filesystem::path name_with_piece(const std::filesystem::path& input, std::string_view piece) {
    const std::string name = input.filename().string();
    const std::size_t dot = name.find('.');
    std::string derived;
    if (dot == std::string::npos) {
        derived = name + std::string(piece);
    } else {
        derived = name.substr(0, dot) + std::string(piece) + name.substr(dot);
    }
    std::filesystem::path result = input;
    result.replace_filename(derived);
    return result;
}

std::filesystem::path derived_output_name(const std::filesystem::path& input) {
    return name_with_piece(input, output_name_piece);
}

std::filesystem::path derived_error_name(const std::filesystem::path& input) {
    return name_with_piece(input, error_name_piece);
}

} // namespace tarvel::run
