#include "run/gis_export.hpp"
#include "run/gis_plugin.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "common/errors.hpp"

namespace tarvel::run {
namespace {

namespace fs = std::filesystem;

// --- GDAL as a library that speaks only through our messages ---

/// GDAL prints its own messages, in English, to stderr; while this lives they are only kept
/// as the thread's last error, for the Spanish message that names the file. The handler stack
/// is per thread, and the sheets come from the batch's threads.
class QuietGdal {
public:
    QuietGdal() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
};

void register_drivers() {
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
}

bool gdal_failed() {
    return CPLGetLastErrorType() == CE_Failure || CPLGetLastErrorType() == CE_Fatal;
}

[[noreturn]] void fail_writing(const fs::path& target) {
    // A driver may fail without a message of its own: an earlier warning is not the reason.
    std::string reason = gdal_failed() ? CPLGetLastErrorMsg() : "";
    // One line, as every message: some drivers end theirs with a line break.
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    while (!reason.empty() && reason.back() == ' ') {
        reason.pop_back();
    }
    if (reason.empty()) {
        reason = "GDAL no da el motivo";
    }
    throw FileError(target.string() + ": no se puede escribir: " + reason);
}

// --- The format the target's extension names ---

constexpr const char* several_files = "escribe más de un fichero";
constexpr const char* no_geometry = "no guarda geometrías";

/// Formats GDAL writes that cannot hold the export, refused before anything is written. The
/// run commits one file by one rename: a Shapefile's .shp, .shx and .dbf or a folder cannot be
/// committed so (any other format found writing a second file is caught when it is closed).
/// Spreadsheets keep no shapes; DXF and GPX keep only fields of their own.
struct RefusedFormat {
    std::string_view driver;
    const char* why;
};
constexpr std::array<RefusedFormat, 8> refused_formats = {{
    {"ESRI Shapefile", several_files},
    {"MapInfo File", several_files},
    {"OpenFileGDB", "escribe una carpeta"},
    {"MVT", "escribe una carpeta"},
    {"ODS", no_geometry},
    {"XLSX", no_geometry},
    {"DXF", "no guarda campos propios"},
    {"GPX", "no guarda campos propios"},
}};

/// Named first when the accepted extensions are listed: the formats a user most likely wants.
constexpr std::array<std::string_view, 3> usual_extensions = {"gpkg", "geojson", "csv"};

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

bool has_capability(GDALDriver& driver, const char* capability) {
    const char* value = driver.GetMetadataItem(capability);
    return value != nullptr && CPLTestBool(value);
}

bool creates_vectors(GDALDriver& driver) {
    return has_capability(driver, GDAL_DCAP_VECTOR) && has_capability(driver, GDAL_DCAP_CREATE);
}

/// Why the export refuses `driver`'s format; null when it does not.
const char* refusal_of(GDALDriver& driver) {
    for (const RefusedFormat& refused : refused_formats) {
        if (refused.driver == driver.GetDescription()) {
            return refused.why;
        }
    }
    return nullptr;
}

/// The extensions a driver's files take, in lower case ("shp.zip" included).
std::vector<std::string> extensions_of(GDALDriver& driver) {
    const char* list = driver.GetMetadataItem(GDAL_DMD_EXTENSIONS);
    if (list == nullptr) {
        list = driver.GetMetadataItem(GDAL_DMD_EXTENSION);
    }
    std::vector<std::string> extensions;
    const CPLStringList words(CSLTokenizeString(list == nullptr ? "" : list));
    for (int i = 0; i < words.size(); ++i) {
        extensions.push_back(lower(words[i]));
    }
    return extensions;
}

template <typename Visit> void for_each_vector_writer(const Visit& visit) {
    GDALDriverManager* manager = GetGDALDriverManager();
    for (int i = 0; i < manager->GetDriverCount(); ++i) {
        GDALDriver* driver = manager->GetDriver(i);
        if (driver != nullptr && creates_vectors(*driver)) {
            visit(*driver);
        }
    }
}

struct Format {
    GDALDriver* driver = nullptr;
    std::string extension; ///< the target's own suffix, its case kept, with the dot
};

/// The vector format that writes files named like `target`. Where several do, the longest
/// extension decides, then a driver that writes only vectors (".xml" is GML rather than a
/// planetary raster format), then GDAL's own order.
std::optional<Format> format_for(const fs::path& target) {
    const std::string name = target.filename().string();
    const std::string lowered = lower(name);
    std::optional<Format> best;
    std::size_t best_length = 0;
    bool best_vector_only = false;
    for_each_vector_writer([&](GDALDriver& driver) {
        const bool vector_only = !has_capability(driver, GDAL_DCAP_RASTER);
        for (const std::string& extension : extensions_of(driver)) {
            const std::string suffix = "." + extension;
            if (lowered.size() <= suffix.size() || !lowered.ends_with(suffix)) {
                continue;
            }
            if (best && (suffix.size() < best_length ||
                         (suffix.size() == best_length && (best_vector_only || !vector_only)))) {
                continue;
            }
            best = Format{&driver, name.substr(name.size() - suffix.size())};
            best_length = suffix.size();
            best_vector_only = vector_only;
        }
    });
    return best;
}

std::string accepted_extensions() {
    // An extension is accepted when the format chosen for it is: ".gdb" belongs to a format
    // of one file too, but the one chosen makes a folder.
    std::set<std::string> all;
    for_each_vector_writer([&](GDALDriver& driver) {
        for (std::string& extension : extensions_of(driver)) {
            const std::optional<Format> chosen = format_for("x." + extension);
            if (chosen && refusal_of(*chosen->driver) == nullptr) {
                all.insert(std::move(extension));
            }
        }
    });
    std::string text;
    const auto put = [&](std::string_view extension) {
        text += text.empty() ? "se admiten ." : ", .";
        text += extension;
    };
    for (const std::string_view usual : usual_extensions) {
        if (all.erase(std::string(usual)) > 0) {
            put(usual);
        }
    }
    for (const std::string& extension : all) {
        put(extension);
    }
    return text;
}

/// Options that make a format hold what the export writes in one file.
CPLStringList dataset_options(GDALDriver& driver) {
    CPLStringList options;
    if (std::string_view(driver.GetDescription()) == "GML") {
        options.SetNameValue("XSISCHEMA", "OFF"); // no .xsd beside it
    }
    return options;
}

CPLStringList layer_options(GDALDriver& driver) {
    const std::string_view name = driver.GetDescription();
    CPLStringList options;
    if (name == "CSV") {
        options.SetNameValue("GEOMETRY", "AS_WKT");
    } else if (name == "GPKG") {
        // SQLite's R-tree takes some 16 µs a feature to build: for the 322 000 lines of a
        // million-line sheet, twice the whole run without it. A GIS builds one when asked
        // (SELECT CreateSpatialIndex('lineas', 'geom')).
        options.SetNameValue("SPATIAL_INDEX", "NO");
    } else if (name == "FlatGeobuf") {
        // Its spatial index sorts the features along a curve, so the lines would lose their
        // output order, and keeps every feature's box until the file is closed.
        options.SetNameValue("SPATIAL_INDEX", "NO");
    }
    return options;
}

// --- The layers and their fields ---

/// A field of the export. Each is named and typed once, below; a single-layer format takes
/// every field of every layer.
struct FieldDefinition {
    std::size_t slot; ///< where a layer writer keeps the field's index in its layer
    const char* name;
    OGRFieldType type;
};

namespace field {
constexpr FieldDefinition layer{0, "capa", OFTString};
constexpr FieldDefinition sheet{1, "hoja", OFTString};
constexpr FieldDefinition input{2, "entrada", OFTString};
constexpr FieldDefinition code{3, "codigo", OFTString};
constexpr FieldDefinition attributes{4, "atributos", OFTString};
constexpr FieldDefinition pieces{5, "piezas", OFTInteger};
constexpr FieldDefinition elements{6, "elementos", OFTString};
constexpr FieldDefinition vertices{7, "vertices", OFTInteger};
constexpr FieldDefinition element_1{8, "elemento_1", OFTInteger64};
constexpr FieldDefinition element_2{9, "elemento_2", OFTInteger64};
constexpr FieldDefinition distance{10, "distancia", OFTReal};
constexpr FieldDefinition x_2{11, "x_2", OFTReal};
constexpr FieldDefinition y_2{12, "y_2", OFTReal};
constexpr FieldDefinition z_2{13, "z_2", OFTReal};
constexpr FieldDefinition elements_1{14, "elementos_1", OFTString};
constexpr FieldDefinition elements_2{15, "elementos_2", OFTString};
constexpr FieldDefinition z_1{16, "z_1", OFTReal};
constexpr std::size_t count = 17;
} // namespace field

enum class Layer : std::size_t {
    lines,
    direction_errors,
    near_misses,
    z_differences,
    rings,
    vertex_limit,
    count
};
constexpr std::size_t layer_count = static_cast<std::size_t>(Layer::count);

struct LayerDefinition {
    const char* name;
    OGRwkbGeometryType geometry;
    std::vector<FieldDefinition> fields; ///< besides the sheet and the input, which every layer has
};

/// The layers in the order they are created.
const std::array<LayerDefinition, layer_count>& layer_definitions() {
    using namespace field;
    static const std::array<LayerDefinition, layer_count> definitions = {{
        {layer_lines, wkbLineString25D, {code, attributes, pieces, elements, vertices}},
        {layer_direction_errors, wkbPoint25D, {code, element_1, element_2}},
        {layer_near_misses, wkbPoint25D, {distance, x_2, y_2, z_2, elements_1, elements_2}},
        {layer_z_differences, wkbPoint25D, {z_1, z_2, element_1, element_2}},
        {layer_rings, wkbPoint25D, {element_1, element_2}},
        {layer_vertex_limit, wkbPoint25D, {vertices, element_1, element_2}},
    }};
    return definitions;
}

/// The fields a layer is created with; for the one layer of a single-layer format (`definition`
/// null), the layer's name and the fields of every layer, each once, in the order of the
/// definitions.
std::vector<FieldDefinition> fields_of(const LayerDefinition* definition) {
    if (definition != nullptr) {
        std::vector<FieldDefinition> fields = {field::sheet, field::input};
        fields.insert(fields.end(), definition->fields.begin(), definition->fields.end());
        return fields;
    }
    std::vector<FieldDefinition> fields = {field::layer};
    std::array<bool, field::count> taken{};
    for (const LayerDefinition& each : layer_definitions()) {
        for (const FieldDefinition& f : fields_of(&each)) {
            if (!std::exchange(taken.at(f.slot), true)) {
                fields.push_back(f);
            }
        }
    }
    return fields;
}

/// The features of one layer as they are written: a feature made once and filled again for
/// each (the sheet's fields set once per sheet), and where each field sits in the layer.
class LayerWriter {
public:
    LayerWriter(OGRLayer& layer, const LayerDefinition& definition, bool single_layer)
        : m_layer(&layer), m_feature(OGRFeature::CreateFeature(layer.GetLayerDefn())) {
        m_index.fill(-1);
        for (const FieldDefinition& f : fields_of(single_layer ? nullptr : &definition)) {
            m_index.at(f.slot) = layer.GetLayerDefn()->GetFieldIndex(f.name);
        }
        if (single_layer) {
            set(field::layer, definition.name);
        }
        if (definition.geometry == wkbLineString25D) {
            m_feature->SetGeometryDirectly(new OGRLineString());
        } else {
            m_feature->SetGeometryDirectly(new OGRPoint(0, 0, 0));
        }
    }

    void start_sheet(const fs::path& input) {
        set(field::sheet, input.filename().string());
        set(field::input, input.string());
    }

    void set(const FieldDefinition& f, const std::string& text) { set(f, text.c_str()); }
    void set(const FieldDefinition& f, const char* text) { m_feature->SetField(index(f), text); }
    void set(const FieldDefinition& f, double value) { m_feature->SetField(index(f), value); }
    void set(const FieldDefinition& f, std::int32_t value) { m_feature->SetField(index(f), value); }
    void set(const FieldDefinition& f, std::int64_t value) {
        m_feature->SetField(index(f), static_cast<GIntBig>(value));
    }

    /// Sets the geometry of a point layer's feature, in metres.
    void point(const digi::Vertex& at, double factor) {
        auto* geometry = static_cast<OGRPoint*>(m_feature->GetGeometryRef());
        geometry->setX(at.x / factor);
        geometry->setY(at.y / factor);
        geometry->setZ(at.z / factor);
    }

    /// Sets the geometry of the line layer's feature, in metres.
    void line(std::span<const digi::Vertex> vertices, double factor) {
        auto* geometry = static_cast<OGRLineString*>(m_feature->GetGeometryRef());
        geometry->setNumPoints(static_cast<int>(vertices.size()), FALSE);
        for (std::size_t i = 0; i < vertices.size(); ++i) {
            const digi::Vertex& v = vertices[i];
            geometry->setPoint(static_cast<int>(i), v.x / factor, v.y / factor, v.z / factor);
        }
    }

    /// Writes the feature as it stands. Throws FileError naming `target`.
    void write(const fs::path& target) {
        // The layer numbers the feature it stores; the next one must come without a number.
        m_feature->SetFID(OGRNullFID);
        if (m_layer->CreateFeature(m_feature.get()) != OGRERR_NONE) {
            fail_writing(target);
        }
    }

private:
    [[nodiscard]] int index(const FieldDefinition& f) const {
        const int i = m_index[f.slot];
        assert(i >= 0 && "a field the layer was not made with");
        return i;
    }

    OGRLayer* m_layer;
    OGRFeatureUniquePtr m_feature;
    std::array<int, field::count> m_index{};
};

// --- One sheet's features ---

/// Element numbers are listed comma separated, as "12,-57,103".
void append_listed(std::string& list, std::int64_t number) {
    if (!list.empty()) {
        list += ',';
    }
    list += std::to_string(number);
}

/// Writes what one sheet found, coordinates in metres, into the layer writers.
class SheetFeatures {
public:
    SheetFeatures(const SheetResults& sheet, std::vector<LayerWriter>& layers,
                  const fs::path& target)
        : m_sheet(sheet), m_factor(static_cast<double>(sheet.unit_factor())), m_layers(layers),
          m_target(target) {}

    void write_all() {
        write_lines();
        write_direction_errors();
        write_near_misses();
        write_z_differences();
        write_rings();
        write_vertex_limit();
    }

private:
    LayerWriter& layer(Layer which) { return m_layers.at(static_cast<std::size_t>(which)); }

    [[nodiscard]] std::int64_t number(std::int32_t line) const {
        return m_sheet.element(line).number;
    }

    void set_pair(LayerWriter& out, const std::array<std::int32_t, 2>& lines) const {
        out.set(field::element_1, number(lines[0]));
        out.set(field::element_2, number(lines[1]));
    }

    void write_lines() {
        LayerWriter& out = layer(Layer::lines);
        std::string elements;
        m_sheet.for_each_output_line([&](const OutputLine& line) {
            elements.clear();
            for (const analysis::Piece& piece : line.pieces) {
                const std::int64_t n = number(piece.line);
                append_listed(elements, piece.reversed ? -n : n);
            }
            out.set(field::code, field_as_text(line.element.origin.header().feature_code));
            out.set(field::attributes, attributes_as_text(line.element.origin));
            out.set(field::pieces, static_cast<std::int32_t>(line.pieces.size()));
            out.set(field::elements, elements);
            out.set(field::vertices, static_cast<std::int32_t>(line.element.vertices.size()));
            out.line(line.element.vertices, m_factor);
            out.write(m_target);
        });
    }

    void write_direction_errors() {
        LayerWriter& out = layer(Layer::direction_errors);
        for (const analysis::NodeFinding& error : m_sheet.findings().direction_errors) {
            out.set(field::code, m_sheet.code(error.lines[0]));
            set_pair(out, error.lines);
            out.point(error.point, m_factor);
            out.write(m_target);
        }
    }

    [[nodiscard]] std::string numbers(const std::vector<std::int32_t>& lines) const {
        std::string text;
        for (const std::int32_t line : lines) {
            append_listed(text, number(line));
        }
        return text;
    }

    void write_near_misses() {
        LayerWriter& out = layer(Layer::near_misses);
        for (const analysis::NearMiss& miss : m_sheet.findings().near_misses) {
            const digi::Vertex& second = miss.places[1].point;
            out.set(field::distance, miss.distance / m_factor);
            out.set(field::x_2, second.x / m_factor);
            out.set(field::y_2, second.y / m_factor);
            out.set(field::z_2, second.z / m_factor);
            out.set(field::elements_1, numbers(miss.places[0].lines));
            out.set(field::elements_2, numbers(miss.places[1].lines));
            out.point(miss.places[0].point, m_factor);
            out.write(m_target);
        }
    }

    void write_z_differences() {
        LayerWriter& out = layer(Layer::z_differences);
        for (const analysis::ZDifference& joint : m_sheet.findings().z_differences) {
            out.set(field::z_1, joint.z[0] / m_factor);
            out.set(field::z_2, joint.z[1] / m_factor);
            set_pair(out, joint.lines);
            out.point({joint.x, joint.y, joint.z[0]}, m_factor);
            out.write(m_target);
        }
    }

    void write_rings() {
        LayerWriter& out = layer(Layer::rings);
        for (const analysis::NodeFinding& ring : m_sheet.findings().rings) {
            set_pair(out, ring.lines);
            out.point(ring.point, m_factor);
            out.write(m_target);
        }
    }

    void write_vertex_limit() {
        LayerWriter& out = layer(Layer::vertex_limit);
        for (const analysis::VertexLimitFinding& limit : m_sheet.findings().vertex_limit) {
            out.set(field::vertices, static_cast<std::int32_t>(limit.vertex_count));
            set_pair(out, limit.node.lines);
            out.point(limit.node.point, m_factor);
            out.write(m_target);
        }
    }

    const SheetResults& m_sheet;
    double m_factor;
    std::vector<LayerWriter>& m_layers;
    const fs::path& m_target;
};

/// A sheet's features go in as one transaction where the format has them: a GeoPackage would
/// otherwise sync the disk once per feature. Rolled back when the sheet fails half-way.
class SheetTransaction {
public:
    SheetTransaction(GDALDataset& dataset, const fs::path& target)
        : m_dataset(dataset), m_target(target) {
        if (dataset.TestCapability(ODsCTransactions)) {
            if (dataset.StartTransaction(FALSE) != OGRERR_NONE) {
                fail_writing(target);
            }
            m_open = true;
        }
    }
    ~SheetTransaction() {
        if (m_open) {
            (void)m_dataset.RollbackTransaction();
        }
    }
    SheetTransaction(const SheetTransaction&) = delete;
    SheetTransaction& operator=(const SheetTransaction&) = delete;

    void commit() {
        if (m_open) {
            m_open = false;
            if (m_dataset.CommitTransaction() != OGRERR_NONE) {
                fail_writing(m_target);
            }
        }
    }

private:
    GDALDataset& m_dataset;
    const fs::path& m_target;
    bool m_open = false;
};

// --- The export ---

/// Every file in the folder of the temporary whose name starts with `stem`, the temporary's
/// name without its extension, but the temporary itself: what a format wrote beside it. The
/// stem is the run's own (process id and random part).
std::vector<fs::path> files_beside(const fs::path& temporary, const std::string& stem) {
    std::vector<fs::path> found;
    const fs::path folder = temporary.parent_path().empty() ? "." : temporary.parent_path();
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(stem) && name != temporary.filename().string()) {
            found.push_back(entry.path());
        }
    }
    return found;
}

/// Removes, however the export ends, what a format left beside the temporary (a journal after
/// a failure, say) or made of it (a folder); a temporary file is the atomic file's to remove.
class Leftovers {
public:
    Leftovers(fs::path temporary, std::string stem)
        : m_temporary(std::move(temporary)), m_stem(std::move(stem)) {}
    ~Leftovers() {
        std::error_code ignored;
        for (const fs::path& path : files_beside(m_temporary, m_stem)) {
            fs::remove_all(path, ignored);
        }
        if (fs::is_directory(m_temporary, ignored)) {
            fs::remove_all(m_temporary, ignored);
        }
    }
    Leftovers(const Leftovers&) = delete;
    Leftovers& operator=(const Leftovers&) = delete;

    [[nodiscard]] bool any() const { return !files_beside(m_temporary, m_stem).empty(); }

private:
    fs::path m_temporary;
    std::string m_stem;
};

std::string refusal_message(const fs::path& target, GDALDriver& driver, const char* why) {
    return target.string() + ": el formato " + driver.GetDescription() + " " + why + "; " +
           accepted_extensions();
}

/// Closes quietly, however the export ends; a failure stays the thread's last error.
struct CloseDataset {
    void operator()(GDALDataset* dataset) const {
        const QuietGdal quiet;
        GDALClose(GDALDataset::ToHandle(dataset));
    }
};

class GisExport final : public RunWideOutput {
public:
    /// `srs` may be null: layers without a reference system.
    GisExport(const fs::path& target, const Format& format, OGRSpatialReference* srs)
        : m_file(target, AtomicOutputFile::ByName{format.extension}),
          m_leftovers(m_file.temporary_path(), stem_of(m_file.temporary_path(), format)),
          m_driver(*format.driver) {
        const QuietGdal quiet;
        m_dataset.reset(m_driver.Create(m_file.temporary_path().c_str(), 0, 0, 0, GDT_Unknown,
                                        dataset_options(m_driver)));
        if (!m_dataset) {
            fail_writing(target);
        }
        create_layers(srs);
        if (m_leftovers.any() || fs::is_directory(m_file.temporary_path())) {
            throw RunRefused(refusal_message(target, m_driver, several_files));
        }
    }

    GisExport(const GisExport&) = delete;
    GisExport& operator=(const GisExport&) = delete;

    void add(const FileOutcome& outcome) override {
        if (!outcome.summary || !outcome.summary->details) {
            return;
        }
        const QuietGdal quiet;
        for (LayerWriter& layer : m_layers) {
            layer.start_sheet(outcome.input);
        }
        SheetTransaction transaction(*m_dataset, m_file.target());
        SheetFeatures(*outcome.summary->details, m_layers, m_file.target()).write_all();
        transaction.commit();
    }

    void finish() override {
        m_layers.clear();
        // Closing gives no result in GDAL 3.6: a failure shows as the thread's last error.
        m_dataset.reset();
        if (gdal_failed()) {
            fail_writing(m_file.target());
        }
        if (m_leftovers.any() || !fs::is_regular_file(m_file.temporary_path())) {
            throw FileError(refusal_message(m_file.target(), m_driver, several_files));
        }
        m_file.finish();
    }

    AtomicOutputFile& file() override { return m_file; }

private:
    static std::string stem_of(const fs::path& temporary, const Format& format) {
        const std::string name = temporary.filename().string();
        return name.substr(0, name.size() - format.extension.size());
    }

    void create_layers(OGRSpatialReference* srs) {
        CPLStringList options = layer_options(m_driver);
        // A GeoPackage stores a layer without a system as "undefined geographic", in degrees;
        // ours are metres in a plane not named, which it calls "undefined Cartesian".
        OGRSpatialReference unnamed_plane;
        if (srs == nullptr && std::string_view(m_driver.GetDescription()) == "GPKG") {
            unnamed_plane.SetLocalCS("Undefined Cartesian SRS");
            srs = &unnamed_plane;
        }
        if (!has_capability(m_driver, GDAL_DCAP_MULTIPLE_VECTOR_LAYERS)) {
            // Of any kind, but with Z: a format that keeps Z per layer (FlatGeobuf) would
            // drop it from a layer of plain unknown type.
            OGRLayer& single = create_layer(layer_single, OGR_GT_SetZ(wkbUnknown),
                                            fields_of(nullptr), srs, options);
            for (const LayerDefinition& definition : layer_definitions()) {
                m_layers.emplace_back(single, definition, true);
            }
            return;
        }
        for (const LayerDefinition& definition : layer_definitions()) {
            OGRLayer& layer = create_layer(definition.name, definition.geometry,
                                           fields_of(&definition), srs, options);
            m_layers.emplace_back(layer, definition, false);
        }
    }

    OGRLayer& create_layer(const char* name, OGRwkbGeometryType geometry,
                           const std::vector<FieldDefinition>& fields, OGRSpatialReference* srs,
                           CPLStringList& options) {
        OGRLayer* layer = m_dataset->CreateLayer(name, srs, geometry, options.List());
        if (layer == nullptr) {
            fail_writing(m_file.target());
        }
        if (layer->GetLayerDefn()->GetGeomFieldCount() == 0) {
            throw RunRefused(refusal_message(m_file.target(), m_driver, no_geometry));
        }
        for (const FieldDefinition& f : fields) {
            OGRFieldDefn definition(f.name, f.type);
            if (layer->CreateField(&definition) != OGRERR_NONE) {
                fail_writing(m_file.target());
            }
        }
        return *layer;
    }

    // Destroyed in reverse: the features, the dataset (closed), what it left beside the
    // temporary, then the temporary itself unless it was committed.
    AtomicOutputFile m_file;
    Leftovers m_leftovers;
    GDALDriver& m_driver;
    std::unique_ptr<GDALDataset, CloseDataset> m_dataset;
    std::vector<LayerWriter> m_layers; ///< one per entry of layer_definitions()
};

/// Reads `crs` into `srs`, for layers in X-then-Y order whatever the system's own axis order.
/// False when GDAL does not know it.
bool read_reference_system(const std::string& crs, OGRSpatialReference& srs) {
    const QuietGdal quiet;
    // Given by the user: a file of theirs may hold it, the network may not be asked.
    const char* const options[] = {"ALLOW_NETWORK_ACCESS=NO", nullptr};
    if (crs.empty() || srs.SetFromUserInput(crs.c_str(), options) != OGRERR_NONE) {
        return false;
    }
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return true;
}

constexpr const char* unknown_crs = "GDAL no reconoce este sistema de referencia";

bool valid_crs_here(const std::string& crs, std::string& error) {
    OGRSpatialReference srs;
    if (!read_reference_system(crs, srs)) {
        error = unknown_crs;
        return false;
    }
    error.clear();
    return true;
}

std::unique_ptr<RunWideOutput> open_here(const std::filesystem::path& target,
                                         const std::string& crs) {
    register_drivers();
    std::optional<Format> format;
    {
        const QuietGdal quiet;
        format = format_for(target);
    }
    if (!format) {
        throw RunRefused(target.string() +
                         ": ningún formato vectorial que se pueda escribir lleva esta extensión; " +
                         accepted_extensions());
    }
    if (const char* why = refusal_of(*format->driver)) {
        throw RunRefused(refusal_message(target, *format->driver, why));
    }
    OGRSpatialReference srs;
    if (!crs.empty() && !read_reference_system(crs, srs)) {
        throw RunRefused(target.string() + ": sistema de referencia " + crs + ": " + unknown_crs);
    }
    return std::make_unique<GisExport>(target, *format, crs.empty() ? nullptr : &srs);
}

constexpr GisPlugin plugin{valid_crs_here, open_here};

} // namespace
} // namespace tarvel::run

extern "C" const tarvel::run::GisPlugin* tarvel_gis_plugin() {
    return &tarvel::run::plugin;
}
