// The GIS export: what a run found, as vector layers in a file GDAL/OGR writes, in the format
// its extension names (GeoPackage .gpkg, GeoJSON .geojson, CSV .csv with the geometry as WKT,
// or another single-file vector format). Coordinates are in metres; every feature carries the
// sheet it comes from, so a batch gives one file for all its sheets.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "run/run_outputs.hpp"

namespace tarvel::run {

/// Layer names, in the order they are created.
inline constexpr const char* layer_lines = "lineas";
inline constexpr const char* layer_direction_errors = "errores_sentido";
inline constexpr const char* layer_near_misses = "casi_uniones";
inline constexpr const char* layer_z_differences = "diferencias_z";
inline constexpr const char* layer_rings = "anillos";
inline constexpr const char* layer_vertex_limit = "limite_vertices";
/// The one layer of a format that holds a single layer: every feature, with a field "capa"
/// naming the layer it would be in.
inline constexpr const char* layer_single = "tarvel";

/// Whether GDAL understands `crs` ("EPSG:25830", WKT, a PROJ string...); `error` says why not.
[[nodiscard]] bool valid_crs(const std::string& crs, std::string& error);

/// The run-wide output for an export to `target`. Throws RunRefused naming the target when
/// no vector format GDAL writes goes with its extension (or the format writes more than one
/// file), and FileError when it cannot be created.
[[nodiscard]] std::unique_ptr<RunWideOutput> open_gis_export(const std::filesystem::path& target,
                                                             const std::string& crs);

} // namespace tarvel::run
