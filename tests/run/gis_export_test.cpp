#include "run/gis_export.hpp"

#include <map>
#include <optional>
#include <set>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include "common/errors.hpp"
#include "run/job.hpp"
#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"

namespace tarvel::run {
namespace {

using testing::bytes_of;
using testing::DigiBuilder;
using testing::TempFolder;
using testing::write_bytes;

namespace fs = std::filesystem;

/// In millimetres: a text first, so element numbers are not line numbers; a direction error
/// at (10000, 0, 35); a join whose ends differ in Z (1000 and 2500); a join whose second piece
/// runs against the line (elements 6 and 7); two line ends 5 mm apart that do not meet.
std::vector<std::byte> findings_sheet() {
    return DigiBuilder{}
        .text("TXT", {500, 500, 0}, {"hola"})
        .line("RIO0001", {{0, 0, 0}, {10000, 0, 35}})
        .line("RIO0001", {{20000, 0, 0}, {10000, 0, 35}})
        .line("CAM0001", {{0, 50000, 1000}, {10000, 50000, 1000}})
        .line("CAM0001", {{10000, 50000, 2500}, {20000, 50000, 2500}})
        .line("CAM0002", {{0, 100000, 0}, {10000, 100000, 0}})
        .line("CAM0002", {{20000, 100000, 0}, {10000, 100000, 0}})
        .line("ARR0001", {{0, 200000, 0}, {10000, 200000, 0}})
        .line("ARR0001", {{10005, 200000, 0}, {20000, 200000, 0}})
        .bytes();
}

/// A run of three sheets (one that cannot be read between two good ones) with an export to
/// `target`, and what each good sheet found.
struct ExportRun {
    TempFolder folder;
    std::vector<fs::path> inputs;
    JobOutcome outcome;
    std::map<std::string, std::shared_ptr<const SheetResults>> details; ///< by file name

    ExportRun(const std::string& target, const std::string& crs) {
        write_bytes((folder / "hoja12.bin").string(), findings_sheet());
        write_bytes((folder / "rota.bin").string(), bytes_of("no es una hoja"));
        write_bytes((folder / "hoja13.bin").string(), testing::typical_sheet());
        write_bytes((folder / "sentido.CFG").string(), bytes_of("RIO0001,1\n"));
        inputs = {folder / "hoja12.bin", folder / "rota.bin", folder / "hoja13.bin"};
        JobSettings settings;
        settings.common.codes = folder / "sentido.CFG";
        settings.common.unit = Unit::millimetres;
        settings.gis_export = folder / target;
        settings.crs = crs;
        outcome = run_job(settings, inputs, [&](std::size_t, const FileOutcome& file) {
            if (file.summary) {
                details[file.input.filename().string()] = file.summary->details;
            }
        });
    }
};

constexpr double metres_per_mm = 1e-3;
constexpr double close_enough = 1e-9;

/// The features of `layer` from `sheet`, in the order stored.
std::vector<OGRFeatureUniquePtr> features_of(GDALDataset& file, bool single_layer,
                                             const std::string& layer, const std::string& sheet) {
    OGRLayer* source = single_layer ? file.GetLayer(0) : file.GetLayerByName(layer.c_str());
    if (source == nullptr) {
        ADD_FAILURE() << "no layer for " << layer;
        return {};
    }
    std::string filter = "hoja = '" + sheet + "'";
    if (single_layer) {
        filter += " AND capa = '" + layer + "'";
    }
    EXPECT_EQ(source->SetAttributeFilter(filter.c_str()), OGRERR_NONE);
    std::vector<OGRFeatureUniquePtr> found;
    source->ResetReading();
    while (OGRFeatureUniquePtr feature{source->GetNextFeature()}) {
        found.push_back(std::move(feature));
    }
    return found;
}

void expect_at(const OGRFeature& feature, const digi::Vertex& place, double factor) {
    const OGRGeometry* geometry = feature.GetGeometryRef();
    ASSERT_NE(geometry, nullptr);
    ASSERT_EQ(wkbFlatten(geometry->getGeometryType()), wkbPoint);
    const OGRPoint* point = geometry->toPoint();
    EXPECT_NEAR(point->getX(), place.x / factor, close_enough);
    EXPECT_NEAR(point->getY(), place.y / factor, close_enough);
    EXPECT_NEAR(point->getZ(), place.z / factor, close_enough);
}

/// The output lines of `sheet`, in order, against the features of "lineas".
void expect_lines(const std::vector<OGRFeatureUniquePtr>& features, const SheetResults& sheet) {
    const double factor = sheet.unit_factor();
    std::size_t i = 0;
    sheet.for_each_output_line([&](const OutputLine& line) {
        ASSERT_LT(i, features.size());
        const OGRFeature& feature = *features[i++];
        EXPECT_EQ(feature.GetFieldAsInteger("piezas"), static_cast<int>(line.pieces.size()));
        const OGRGeometry* geometry = feature.GetGeometryRef();
        ASSERT_NE(geometry, nullptr);
        ASSERT_EQ(wkbFlatten(geometry->getGeometryType()), wkbLineString);
        const OGRLineString* shape = geometry->toLineString();
        ASSERT_EQ(shape->getNumPoints(), static_cast<int>(line.element.vertices.size()));
        EXPECT_EQ(feature.GetFieldAsInteger("vertices"), shape->getNumPoints());
        for (int v = 0; v < shape->getNumPoints(); ++v) {
            const digi::Vertex& vertex = line.element.vertices[static_cast<std::size_t>(v)];
            EXPECT_NEAR(shape->getX(v), vertex.x / factor, close_enough);
            EXPECT_NEAR(shape->getY(v), vertex.y / factor, close_enough);
            EXPECT_NEAR(shape->getZ(v), vertex.z / factor, close_enough);
        }
    });
    EXPECT_EQ(i, features.size());
}

void expect_findings(GDALDataset& file, bool single_layer, const std::string& sheet_name,
                     const SheetResults& sheet) {
    const double factor = sheet.unit_factor();
    const analysis::Findings& found = sheet.findings();
    const auto number = [&](std::int32_t line) { return sheet.element(line).number; };

    const auto errors = features_of(file, single_layer, layer_direction_errors, sheet_name);
    ASSERT_EQ(errors.size(), found.direction_errors.size());
    for (std::size_t i = 0; i < errors.size(); ++i) {
        expect_at(*errors[i], found.direction_errors[i].point, factor);
        EXPECT_EQ(errors[i]->GetFieldAsInteger64("elemento_1"),
                  number(found.direction_errors[i].lines[0]));
        EXPECT_EQ(errors[i]->GetFieldAsInteger64("elemento_2"),
                  number(found.direction_errors[i].lines[1]));
    }
    const auto near = features_of(file, single_layer, layer_near_misses, sheet_name);
    ASSERT_EQ(near.size(), found.near_misses.size());
    for (std::size_t i = 0; i < near.size(); ++i) {
        const analysis::NearMiss& miss = found.near_misses[i];
        expect_at(*near[i], miss.places[0].point, factor);
        EXPECT_NEAR(near[i]->GetFieldAsDouble("distancia"), miss.distance / factor, close_enough);
        EXPECT_NEAR(near[i]->GetFieldAsDouble("x_2"), miss.places[1].point.x / factor,
                    close_enough);
        EXPECT_NEAR(near[i]->GetFieldAsDouble("y_2"), miss.places[1].point.y / factor,
                    close_enough);
    }
    const auto heights = features_of(file, single_layer, layer_z_differences, sheet_name);
    ASSERT_EQ(heights.size(), found.z_differences.size());
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const analysis::ZDifference& joint = found.z_differences[i];
        expect_at(*heights[i], {joint.x, joint.y, joint.z[0]}, factor);
        EXPECT_NEAR(heights[i]->GetFieldAsDouble("z_2"), joint.z[1] / factor, close_enough);
    }
}

const std::map<std::string, std::vector<std::string>>& fields_by_layer() {
    static const std::map<std::string, std::vector<std::string>> fields = {
        {layer_lines,
         {"hoja", "entrada", "codigo", "atributos", "piezas", "elementos", "vertices"}},
        {layer_direction_errors, {"hoja", "entrada", "codigo", "elemento_1", "elemento_2"}},
        {layer_near_misses,
         {"hoja", "entrada", "distancia", "x_2", "y_2", "z_2", "elementos_1", "elementos_2"}},
        {layer_z_differences, {"hoja", "entrada", "z_1", "z_2", "elemento_1", "elemento_2"}},
        {layer_rings, {"hoja", "entrada", "elemento_1", "elemento_2"}},
        {layer_vertex_limit, {"hoja", "entrada", "vertices", "elemento_1", "elemento_2"}}};
    return fields;
}

std::vector<std::string> field_names(OGRLayer& layer) {
    std::vector<std::string> names;
    OGRFeatureDefn* definition = layer.GetLayerDefn();
    for (int i = 0; i < definition->GetFieldCount(); ++i) {
        names.emplace_back(definition->GetFieldDefn(i)->GetNameRef());
    }
    return names;
}

/// Layers in creation order with their fields, or the one layer with every field and "capa".
void expect_layout(GDALDataset& file, const std::string& single_layer_name) {
    const std::vector<std::string> order = {layer_lines,       layer_direction_errors,
                                            layer_near_misses, layer_z_differences,
                                            layer_rings,       layer_vertex_limit};
    if (single_layer_name.empty()) {
        ASSERT_EQ(file.GetLayerCount(), static_cast<int>(order.size()));
        for (std::size_t i = 0; i < order.size(); ++i) {
            OGRLayer& layer = *file.GetLayer(static_cast<int>(i));
            EXPECT_EQ(layer.GetName(), order[i]);
            EXPECT_EQ(field_names(layer), fields_by_layer().at(order[i])) << order[i];
        }
        return;
    }
    ASSERT_EQ(file.GetLayerCount(), 1);
    OGRLayer& layer = *file.GetLayer(0);
    EXPECT_EQ(layer.GetName(), single_layer_name);
    const std::vector<std::string> names = field_names(layer);
    const std::set<std::string> present(names.begin(), names.end());
    EXPECT_TRUE(present.contains("capa"));
    for (const auto& [name, fields] : fields_by_layer()) {
        for (const std::string& field : fields) {
            EXPECT_TRUE(present.contains(field)) << field << " of " << name;
        }
    }
}

TEST(GisExport, HoldsEverySheetsLinesAndFindingsInMetres) {
    struct Case {
        std::string target;
        std::string crs;
        /// The one layer's name as read back; empty for a format of several layers.
        std::string single_layer_name;
        /// Authority code the layers must carry; "" none; nullopt: the format cannot tell.
        std::optional<std::string> epsg;
    };
    const std::vector<Case> cases = {
        {"r.gpkg", "", "", ""},
        {"r.GPKG", "EPSG:25830", "", "25830"},
        {"r.geojson", "EPSG:25830", layer_single, "25830"},
        {"r.csv", "", "r", std::nullopt}, // CSV names its layer after the file
        {"r.fgb", "", layer_single, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target + " " + c.crs);
        const ExportRun run(c.target, c.crs);
        ASSERT_TRUE(run.outcome.failures.empty()) << run.outcome.failures.front();
        ASSERT_EQ(run.details.size(), 2u);
        EXPECT_EQ(
            run.folder.names(),
            (std::set<std::string>{"hoja12.bin", "hoja12_sal.bin", "hoja12_err.bin", "hoja13.bin",
                                   "hoja13_sal.bin", "rota.bin", "sentido.CFG", c.target}));
        const GDALDatasetUniquePtr file(
            GDALDataset::Open((run.folder / c.target).c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
        ASSERT_TRUE(file);
        expect_layout(*file, c.single_layer_name);
        const bool single_layer = !c.single_layer_name.empty();

        for (const FileOutcome& sheet : run.outcome.files) {
            const std::string name = sheet.input.filename().string();
            const std::map<std::string, std::int64_t> counts = {
                {layer_lines, sheet.summary ? sheet.summary->lines_written : 0},
                {layer_direction_errors, sheet.summary ? sheet.summary->direction_errors : 0},
                {layer_near_misses, sheet.summary ? sheet.summary->near_misses : 0},
                {layer_z_differences, sheet.summary ? sheet.summary->z_differences : 0},
                {layer_rings, sheet.summary ? sheet.summary->rings_passed_over : 0},
                {layer_vertex_limit, sheet.summary ? sheet.summary->vertex_limit_nodes : 0}};
            for (const auto& [layer, count] : counts) {
                const auto features = features_of(*file, single_layer, layer, name);
                EXPECT_EQ(static_cast<std::int64_t>(features.size()), count)
                    << name << " " << layer;
                for (const OGRFeatureUniquePtr& feature : features) {
                    EXPECT_EQ(feature->GetFieldAsString("entrada"), sheet.input.string());
                }
            }
            if (sheet.summary) {
                const SheetResults& results = *run.details.at(name);
                expect_lines(features_of(*file, single_layer, layer_lines, name), results);
                expect_findings(*file, single_layer, name, results);
            }
        }

        // The sheet as it was made: one finding of each kind it was built to have, in metres.
        const auto errors = features_of(*file, single_layer, layer_direction_errors, "hoja12.bin");
        ASSERT_EQ(errors.size(), 1u);
        expect_at(*errors[0], {10000, 0, 35}, 1 / metres_per_mm);
        EXPECT_STREQ(errors[0]->GetFieldAsString("codigo"), "RIO0001");
        EXPECT_EQ(errors[0]->GetFieldAsInteger64("elemento_1"), 2);
        // The ends of elements 8 and 9, 5 mm apart, in either order.
        const auto near = features_of(*file, single_layer, layer_near_misses, "hoja12.bin");
        ASSERT_EQ(near.size(), 1u);
        EXPECT_NEAR(near[0]->GetFieldAsDouble("distancia"), 0.005, close_enough);
        const OGRPoint* first_place = near[0]->GetGeometryRef()->toPoint();
        EXPECT_EQ(
            (std::set<std::pair<double, std::string>>{
                {first_place->getX(), near[0]->GetFieldAsString("elementos_1")},
                {near[0]->GetFieldAsDouble("x_2"), near[0]->GetFieldAsString("elementos_2")}}),
            (std::set<std::pair<double, std::string>>{{10.0, "8"}, {10.005, "9"}}));
        EXPECT_NEAR(near[0]->GetFieldAsDouble("y_2"), 200.0, close_enough);
        // Elements 4 and 5 join at (10, 50) with Z 1 m and 2.5 m.
        const auto heights = features_of(*file, single_layer, layer_z_differences, "hoja12.bin");
        ASSERT_EQ(heights.size(), 1u);
        expect_at(*heights[0], {10000, 50000, 1000}, 1 / metres_per_mm);
        EXPECT_NEAR(heights[0]->GetFieldAsDouble("z_2"), 2.5, close_enough);
        EXPECT_EQ(heights[0]->GetFieldAsInteger64("elemento_1"), 4);
        EXPECT_EQ(heights[0]->GetFieldAsInteger64("elemento_2"), 5);
        // The two joined lines, by their pieces (the second of 6 and 7 runs against its line),
        // and the code each carries.
        std::set<std::pair<std::string, std::string>> joined;
        for (const auto& line : features_of(*file, single_layer, layer_lines, "hoja12.bin")) {
            joined.emplace(line->GetFieldAsString("elementos"), line->GetFieldAsString("codigo"));
        }
        EXPECT_EQ(joined, (std::set<std::pair<std::string, std::string>>{{"4,5", "CAM0001"},
                                                                         {"6,-7", "CAM0002"}}));

        if (c.epsg) {
            for (int i = 0; i < file->GetLayerCount(); ++i) {
                const OGRSpatialReference* srs = file->GetLayer(i)->GetSpatialRef();
                if (c.epsg->empty()) {
                    // None, or one that names nothing and does not take metres for degrees.
                    if (srs != nullptr) {
                        EXPECT_EQ(srs->GetAuthorityCode(nullptr), nullptr);
                        EXPECT_FALSE(srs->IsGeographic());
                    }
                } else {
                    ASSERT_NE(srs, nullptr);
                    EXPECT_STREQ(srs->GetAuthorityCode(nullptr), c.epsg->c_str());
                }
            }
        }
    }
}

TEST(GisExport, TargetThatIsNotOneVectorFileIsRefusedBeforeAnythingIsWritten) {
    struct Case {
        std::string target;
        std::string why; ///< part of the message
    };
    const std::vector<Case> cases = {
        {"r.xyz", "ningún formato vectorial"},
        {"r.shp", "más de un fichero"},
        {"R.SHP", "más de un fichero"},
        {"r.ods", "no guarda geometrías"},
        {"sin_extension", "ningún formato vectorial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        TempFolder folder;
        write_bytes((folder / "hoja.bin").string(), testing::typical_sheet());
        JobSettings settings;
        settings.gis_export = folder / c.target;
        try {
            (void)run_job(settings, {folder / "hoja.bin"});
            ADD_FAILURE() << "not refused";
        } catch (const RunRefused& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(settings.gis_export.string() + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(c.why), std::string::npos) << message;
            EXPECT_NE(message.find(".gpkg, .geojson, .csv"), std::string::npos) << message;
        }
        EXPECT_EQ(folder.names(), std::set<std::string>{"hoja.bin"});
    }
}

TEST(GisExport, ValidCrsTakesWhatGdalKnows) {
    struct Case {
        std::string crs;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"EPSG:25830", true},
        {"+proj=utm +zone=30 +ellps=GRS80 +units=m +no_defs", true},
        {"EPSG:99999999", false},
        {"no es un sistema", false},
        {"", false},
    };
    for (const Case& c : cases) {
        std::string error = "sin tocar";
        EXPECT_EQ(valid_crs(c.crs, error), c.valid) << c.crs;
        EXPECT_EQ(error.empty(), c.valid) << c.crs << ": " << error;
    }
}

} // namespace
} // namespace tarvel::run
