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

/// Writes a JSON document piece by piece: the structure (objects, arrays, keys) as it goes and
/// every value made by the JSON library, so that an array of a million lines is never held
/// whole in memory.
class JsonStream {
public:
    explicit JsonStream(AtomicOutputFile& out) : m_out(out) {}

    void begin_object() { open('{'); }
    void end_object() { close('}'); }
    void begin_array() { open('['); }
    void end_array() { close(']'); }
    /// A member's name; its value follows.
    void key(std::string_view name) {
        separate();
        m_text += text_of(json(name));
        m_text += ':';
        m_after_key = true;
    }
    /// A value: of the member just named, or the next element of the array.
    void value(const json& v) {
        separate();
        m_text += text_of(v);
        flush_now_and_then();
    }
    void member(std::string_view name, const json& v) {
        key(name);
        value(v);
    }
    /// Ends the document with a line end.
    void value_end() { m_text += '\n'; }
    /// Hands what is written so far to the file.
    void flush() {
        m_out.write(std::as_bytes(std::span(m_text.data(), m_text.size())));
        m_text.clear();
    }

private:
    void open(char bracket) {
        separate();
        m_text += bracket;
        m_first.push_back(true);
    }
    void close(char bracket) {
        m_text += bracket;
        m_first.pop_back();
        flush_now_and_then();
    }
    /// The text goes to the file in pieces of some tens of kilobytes.
    void flush_now_and_then() {
        if (m_text.size() > (std::size_t{1} << 16)) {
            flush();
        }
    }
    /// A comma before every element but the first of its object or array.
    void separate() {
        if (m_after_key) {
            m_after_key = false;
            return;
        }
        if (!m_first.empty()) {
            if (!m_first.back()) {
                m_text += ',';
            }
            m_first.back() = false;
        }
    }

    AtomicOutputFile& m_out;
    std::string m_text;
    std::vector<bool> m_first;
    bool m_after_key = false;
};

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

    void write_findings(JsonStream& out) const {
        const analysis::Findings& found = m_sheet.findings();
        out.key("errores_sentido");
        out.begin_array();
        for (const analysis::NodeFinding& e : found.direction_errors) {
            json item = point(e.point);
            item["codigo"] = m_sheet.code(e.lines[0]);
            item["lineas"] = lines(e.lines);
            out.value(item);
        }
        out.end_array();
        out.key("anillos");
        out.begin_array();
        for (const analysis::NodeFinding& r : found.rings) {
            out.value(node(r));
        }
        out.end_array();
        out.key("nodos_limite_vertices");
        out.begin_array();
        for (const analysis::VertexLimitFinding& v : found.vertex_limit) {
            json item = node(v.node);
            item["vertices"] = v.vertex_count;
            out.value(item);
        }
        out.end_array();
        out.key("uniones_cota_distinta");
        out.begin_array();
        for (const analysis::ZDifference& d : found.z_differences) {
            out.value(json{{"x", metres(d.x)},
                           {"y", metres(d.y)},
                           {"z", json::array({metres(d.z[0]), metres(d.z[1])})},
                           {"lineas", lines(d.lines)}});
        }
        out.end_array();
        out.key("extremos_casi_unidos");
        out.begin_array();
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
            out.value(json{{"distancia", miss.distance / m_factor}, {"lugares", places}});
        }
        out.end_array();
    }

    /// The lines of the output, each with the input elements it is made of, one at a time. A
    /// sheet has as many pieces as lines: one line object is changed in place and written for
    /// each line, its pieces kept from line to line, rather than new objects made.
    void write_output_lines(JsonStream& out) const {
        const json piece{{"elemento", 0}, {"byte", 0}, {"invertida", false}};
        json line{{"codigo", ""}, {"vertices", 0}, {"piezas", json::array()}};
        json& code = line["codigo"];
        json& vertices = line["vertices"];
        json::array_t& pieces = line["piezas"].get_ref<json::array_t&>();
        out.key("lineas");
        out.begin_array();
        m_sheet.for_each_output_line(
            [&](const OutputLine& output) {
                code.get_ref<std::string&>() =
                    field_as_text(output.element.origin.header().feature_code);
                vertices = output.vertex_count;
                pieces.resize(output.pieces.size(), piece);
                for (std::size_t i = 0; i < output.pieces.size(); ++i) {
                    const ElementRef ref = m_sheet.element(output.pieces[i].line);
                    json& item = pieces[i];
                    item["elemento"] = ref.number;
                    item["byte"] = ref.byte;
                    item["invertida"] = output.pieces[i].reversed;
                }
                out.value(line);
            },
            LineVertices::counted);
        out.end_array();
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
        : m_file(target), m_out(m_file) {
        const RunSettings& common = settings.common;
        // The document is written as the sheets come: its opening now, one sheet at a time,
        // its close at the end.
        m_out.begin_object();
        m_out.member("programa", "tarvel");
        m_out.member("version", TARVEL_VERSION);
        m_out.member("ajustes",
                     json{{"codigos", path_or_null(common.codes)},
                          {"unidad", unit_name(common.unit)},
                          {"factor_unidad", unit_factor(common.unit)},
                          {"todos_los_elementos", common.all_elements},
                          {"tolerancia_m", common.tolerance},
                          {"trabajos", settings.jobs},
                          {"salida", sheets == 1 ? path_or_null(common.output) : json(nullptr)},
                          {"carpeta_salida", path_or_null(common.output_folder)},
                          {"exportacion", path_or_null(settings.gis_export)},
                          {"src", settings.crs.empty() ? json(nullptr) : json(settings.crs)},
                          {"hojas", sheets}});
        m_out.key("ficheros");
        m_out.begin_array();
    }

    void add(const FileOutcome& outcome) override {
        m_out.begin_object();
        m_out.member("entrada", outcome.input.string());
        if (!outcome.summary) {
            ++m_failed;
            m_out.member("estado", "fallido");
            m_out.member("mensaje", outcome.error);
        } else {
            ++m_succeeded;
            const RunSummary& summary = *outcome.summary;
            m_out.member("estado", "correcto");
            m_out.member("salida", summary.output.string());
            m_out.member("fichero_errores", summary.direction_errors > 0
                                                ? json(summary.error_file.string())
                                                : json(nullptr));
            m_out.member("fichero_errores_anterior", summary.older_error_file
                                                         ? json(summary.error_file.string())
                                                         : json(nullptr));
            m_out.member("recuentos", counts_of(summary));
            if (summary.details) {
                const SheetWriter sheet(*summary.details);
                sheet.write_output_lines(m_out);
                sheet.write_findings(m_out);
            }
        }
        m_out.end_object();
        m_out.flush();
    }

    void finish() override {
        m_out.end_array();
        m_out.member("resumen", json{{"ficheros", m_succeeded + m_failed},
                                     {"correctos", m_succeeded},
                                     {"fallidos", m_failed}});
        m_out.end_object();
        m_out.value_end();
        m_out.flush();
        m_file.finish();
    }

    AtomicOutputFile& file() override { return m_file; }

private:
    AtomicOutputFile m_file;
    JsonStream m_out;
    std::int64_t m_succeeded = 0;
    std::int64_t m_failed = 0;
};

} // namespace

std::unique_ptr<RunWideOutput> open_report(const std::filesystem::path& target,
                                           const JobSettings& settings, std::size_t sheets) {
    return std::make_unique<Report>(target, settings, sheets);
}

} // namespace tarvel::run
