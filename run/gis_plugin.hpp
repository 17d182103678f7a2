// The GIS export lives in a library of its own, loaded the first time an export or a coordinate
// system is asked for: GDAL and the hundred libraries it brings take longer to load than a
// small sheet takes to process, and most runs never export.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "run/run_outputs.hpp"

namespace tarvel::run {

/// What the GIS library offers (see gis_export.hpp for what each does).
struct GisPlugin {
    bool (*valid_crs)(const std::string& crs, std::string& error);
    std::unique_ptr<RunWideOutput> (*open)(const std::filesystem::path& target,
                                           const std::string& crs);
};

/// The name of the library's one entry point: extern "C" const GisPlugin* tarvel_gis_plugin().
inline constexpr const char* gis_plugin_entry = "tarvel_gis_plugin";

/// The GIS library, loaded on first use. Throws RunRefused when it cannot be found or loaded.
[[nodiscard]] const GisPlugin& gis_plugin();

} // namespace tarvel::run
