#include "run/report.hpp"

#include <nlohmann/json.hpp>

#include "common/errors.hpp"

namespace tarvel::run {
namespace {

// Keys stay in the order written, which is the order docs/report.md gives them.
using json = nlohmann::ordered_json;

/// Text of the document: invalid UTF-8 (a file name in another encoding) is replaced rather
/// than failing the report.
std::string text_of(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string unit_name(Unit unit) {
    switch (unit) {
    case Unit::metres:
        return "m";
    case Unit::centimetres:
        return "cm";
    case Unit::millimetres:
        return "mm";
    }
    return "mm";
}

json path_or_null(const std::filesystem::path& path) {
    return path.empty() ? json(nullptr) : json(path.string());
}

/// Writes one sheet's part of the report; coordinates in metres.
class SheetWriter {
public:
    explicit SheetWriter(const SheetResults& sheet)
        : m_sheet(sheet), m_factor(static_cast<double>(sheet.unit_factor())) {}

    [[nodiscard]] double metres(std::int32_t units) const { return units / m_factor; }

    [[nodiscard]] json element(std::int32_t line) const {
        const ElementRef ref = m_sheet.element(line);
        return json{{"elemento", ref.number}, {"byte", ref.byte}};
    }

    [[nodiscard]] json lines(const std::array<std::int32_t, 2>& pair) const {
        return json::array({element(pair[0]), element(pair[1])});
    }

    [[nodiscard]] json point(const digi::Vertex& v) const {
        return json{{"x", metres(v.x)}, {"y", metres(v.y)}, {"z", metres(v.z)}};
    }

    [[nodiscard]] json node(const analysis::NodeFinding& finding) const {
        json item = point(finding.point);
        item["lineas"] = lines(finding.lines);
        return item;
    }

    [[nodiscard]] std::string code_of(std::int32_t line) const {
        const digi::ElementHeader header =
            m_sheet.tables().line(static_cast<std::size_t>(line)).header();
        return field_as_text(header.feature_code);
    }

    void add_findings(json& file) const {
        const analysis::Findings& found = m_sheet.findings();
        json& errors = file["errores_sentido"] = json::array();
        for (const analysis::NodeFinding& e : found.direction_errors) {
            json item = point(e.point);
            item["codigo"] = code_of(e.lines[0]);
            item["lineas"] = lines(e.lines);
            errors.push_back(std::move(item));
        }
        json& rings = file["anillos"] = json::array();
        for (const analysis::NodeFinding& r : found.rings) {
            rings.push_back(node(r));
        }
        json& limits = file["nodos_limite_vertices"] = json::array();
        for (const analysis::VertexLimitFinding& v : found.vertex_limit) {
            json item = node(v.node);
            item["vertices"] = v.vertex_count;
            limits.push_back(std::move(item));
        }
        json& heights = file["uniones_cota_distinta"] = json::array();
        for (const analysis::ZDifference& d : found.z_differences) {
            heights.push_back(json{{"x", metres(d.x)},
                                   {"y", metres(d.y)},
                                   {"z", json::array({metres(d.z[0]), metres(d.z[1])})},
                                   {"lineas", lines(d.lines)}});
        }
        json& near = file["extremos_casi_unidos"] = json::array();
        for (const analysis::NearMiss& miss : found.near_misses) {
            json places = json::array();
            for (const analysis::NearPlace& place : miss.places) {
                json item = point(place.point);
                json& at = item["lineas"] = json::array();
                for (const std::int32_t line : place.lines) {
                    at.push_back(element(line));
                }
                places.push_back(std::move(item));
            }
            near.push_back(json{{"distancia", miss.distance / m_factor}, {"lugares", places}});
        }
    }

    /// The lines of the output, each with the input elements it is made of.
    [[nodiscard]] json output_lines() const {
        json lines = json::array();
        m_sheet.for_each_output_line([&](const OutputLine& line) {
            json pieces = json::array();
            for (const analysis::Piece& piece : line.pieces) {
                json item = element(piece.line);
                item["invertida"] = piece.reversed;
                pieces.push_back(std::move(item));
            }
            lines.push_back(
                json{{"codigo", field_as_text(line.element.origin.header().feature_code)},
                     {"vertices", line.element.vertices.size()},
                     {"piezas", std::move(pieces)}});
        });
        return lines;
    }

private:
    const SheetResults& m_sheet;
    double m_factor;
};

json counts_of(const RunSummary& summary) {
    return json{{"lineas_leidas", summary.lines_read},
                {"textos", summary.texts_read},
                {"uniones", summary.joins},
                {"lineas_escritas", summary.lines_written},
                {"errores_sentido", summary.direction_errors},
                {"anillos_omitidos", summary.rings_passed_over},
                {"nodos_limite_vertices", summary.vertex_limit_nodes},
                {"uniones_cota_distinta", summary.z_differences},
                {"extremos_casi_unidos", summary.near_misses}};
}

class Report final : public RunWideOutput {
public:
    Report(const std::filesystem::path& target, const JobSettings& settings, std::size_t sheets)
        : m_file(target) {
        const RunSettings& common = settings.common;
        const json program{{"programa", "tarvel"}, {"version", TARVEL_VERSION}};
        const json adjustments{
            {"codigos", path_or_null(common.codes)},
            {"unidad", unit_name(common.unit)},
            {"factor_unidad", unit_factor(common.unit)},
            {"todos_los_elementos", common.all_elements},
            {"tolerancia_m", common.tolerance},
            {"trabajos", settings.jobs},
            {"salida", sheets == 1 ? path_or_null(common.output) : json(nullptr)},
            {"exportacion", path_or_null(settings.gis_export)},
            {"src", settings.crs.empty() ? json(nullptr) : json(settings.crs)},
            {"hojas", sheets}};
        // The document is written as the sheets come: its opening now, one sheet at a time,
        // its close at the end. Every value is made by the JSON library.
        std::string opening = "{\"programa\":" + text_of(program["programa"]) +
                              ",\"version\":" + text_of(program["version"]) +
                              ",\"ajustes\":" + text_of(adjustments) + ",\"ficheros\":[";
        put(opening);
    }

    void add(const FileOutcome& outcome) override {
        json file{{"entrada", outcome.input.string()}};
        if (!outcome.summary) {
            ++m_failed;
            file["estado"] = "fallido";
            file["mensaje"] = outcome.error;
        } else {
            ++m_succeeded;
            const RunSummary& summary = *outcome.summary;
            file["estado"] = "correcto";
            file["salida"] = summary.output.string();
            file["fichero_errores"] =
                summary.direction_errors > 0 ? json(summary.error_file.string()) : json(nullptr);
            file["fichero_errores_anterior"] =
                summary.older_error_file ? json(summary.error_file.string()) : json(nullptr);
            file["recuentos"] = counts_of(summary);
            if (summary.details) {
                const SheetWriter sheet(*summary.details);
                file["lineas"] = sheet.output_lines();
                sheet.add_findings(file);
            }
        }
        put((m_first ? "" : ",") + text_of(file));
        m_first = false;
    }

    void finish() override {
        const json summary{{"ficheros", m_succeeded + m_failed},
                           {"correctos", m_succeeded},
                           {"fallidos", m_failed}};
        put("],\"resumen\":" + text_of(summary) + "}\n");
        m_file.finish();
    }

    AtomicOutputFile& file() override { return m_file; }

private:
    void put(const std::string& text) {
        m_file.write(std::as_bytes(std::span(text.data(), text.size())));
    }

    AtomicOutputFile m_file;
    bool m_first = true;
    std::int64_t m_succeeded = 0;
    std::int64_t m_failed = 0;
};

} // namespace

std::unique_ptr<RunWideOutput> open_report(const std::filesystem::path& target,
                                           const JobSettings& settings, std::size_t sheets) {
    return std::make_unique<Report>(target, settings, sheets);
}

} // namespace tarvel::run
