#include "run/gis_export.hpp"

#include "common/errors.hpp"

namespace tarvel::run {

bool valid_crs(const std::string& crs, std::string& error) {
    error = "la exportación SIG todavía no está disponible: " + crs;
    return false;
}

std::unique_ptr<RunWideOutput> open_gis_export(const std::filesystem::path& target,
                                               const std::string&) {
    throw RunRefused(target.string() + ": la exportación SIG todavía no está disponible");
}

} // namespace tarvel::run
