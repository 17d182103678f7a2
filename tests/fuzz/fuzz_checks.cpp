#include "tests/fuzz/fuzz_checks.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "analysis/eliminamos_nodos.hpp"
#include "analysis/funciones_tarvel.hpp"
#include "analysis/line_assembly.hpp"
#include "analysis/near_misses.hpp"
#include "analysis/node_table.hpp"
#include "common/errors.hpp"
#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "run/codes_file.hpp"
#include "run/error_file.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/model/model.hpp"

namespace tarvel::fuzz {
namespace {

constexpr const char* file_name = "fuzz.bin";

void require(bool holds, const std::string& what) {
    if (!holds) {
        throw CheckFailure(what);
    }
}

using Bytes = std::vector<std::byte>;

// ---------------------------------------------------------------------------------------------
// The framing rules walked the plain way: 1-based positions, one element at a time, checked in
// the order a reader meets them. Kept separate from the loader on purpose.

struct WalkedElement {
    char kind = 'o'; ///< 'C' line, 'T' text, 'o' stepped over
    std::int64_t position = 0;
    std::int64_t length = 0;
};

struct Walk {
    std::vector<WalkedElement> elements;
    std::optional<std::int64_t> bad_position;
};

Walk walk_framing(std::span<const std::byte> data) {
    const auto file_length = static_cast<std::int64_t>(data.size());
    const auto byte_at = [&](std::int64_t position) {
        return std::to_integer<unsigned>(data[static_cast<std::size_t>(position - 1)]);
    };
    Walk walk;
    std::int64_t position = 1;
    while (position < file_length) {
        const std::int64_t left = file_length - position + 1;
        if (left < 12) {
            walk.bad_position = position;
            return walk;
        }
        const auto items = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(byte_at(position + 10) | (byte_at(position + 11) << 8)));
        const auto attributes = static_cast<std::int64_t>(byte_at(position + 9));
        const bool is_line = byte_at(position) == 'C' && byte_at(position + 1) == '=';
        const bool is_text = byte_at(position) == 'T' && byte_at(position + 1) == '=';
        const std::int64_t length = 48 + 12 * (std::int64_t{items} + attributes);
        if (items < 0 || (is_text && items == 0) || length > left) {
            walk.bad_position = position;
            return walk;
        }
        walk.elements.push_back({is_line ? 'C' : (is_text ? 'T' : 'o'), position, length});
        position += length;
    }
    return walk;
}

Bytes slice(std::span<const std::byte> data, std::int64_t position, std::int64_t length) {
    const auto first = data.begin() + (position - 1);
    return Bytes(first, first + length);
}

void append(Bytes& to, std::span<const std::byte> bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

/// Reads every field of every loaded element, so that a view reaching outside its bytes shows
/// up under the address sanitizer, and checks the counts the views report.
void read_every_field(const digi::ElementTables& tables) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < tables.lines.size(); ++i) {
        const digi::ElementView line = tables.line(i);
        require(line.header().type_code == digi::line_type_code, "a line without type code C=");
        require(static_cast<std::int64_t>(line.bytes().size()) ==
                    48 + 12 * (std::int64_t{line.item_count()} + line.attribute_count()),
                "a line view whose length disagrees with its counts");
        sum += line.block().values[0];
        for (std::int32_t v = 0; v < line.item_count(); ++v) {
            sum += line.vertex(v).z;
        }
        for (std::int32_t a = 0; a < line.attribute_count(); ++a) {
            sum += line.attribute(a).value;
        }
    }
    for (std::size_t i = 0; i < tables.texts.size(); ++i) {
        const digi::ElementView text = tables.text(i);
        require(text.header().type_code == digi::text_type_code, "a text without type code T=");
        require(text.item_count() >= 1, "a text without anchor");
        sum += text.vertex(0).x;
        for (std::int32_t p = 1; p < text.item_count(); ++p) {
            sum += text.text_piece(p)[11];
        }
        for (std::int32_t a = 0; a < text.attribute_count(); ++a) {
            sum += text.attribute(a).tag;
        }
    }
    // Keeps the reads from being optimised away.
    volatile std::int64_t sink = sum;
    (void)sink;
}

// ---------------------------------------------------------------------------------------------
// The codes file read line by line: split into lines (a quote a line does not close joins it to
// the line of the next quote), each line into fields, then the fields taken in pairs across
// lines.

std::vector<std::string> fields_of_line(std::string_view line) {
    std::vector<std::string> fields;
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
        return fields; // a blank line holds no field
    }
    std::size_t pos = 0;
    for (;;) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        std::string field;
        if (pos < line.size() && line[pos] == '"') {
            const std::size_t close = line.find('"', pos + 1);
            const std::size_t end = close == std::string_view::npos ? line.size() : close;
            field = line.substr(pos + 1, end - pos - 1);
            pos = end;
        } else {
            const std::size_t comma = line.find(',', pos);
            field = line.substr(pos, (comma == std::string_view::npos ? line.size() : comma) - pos);
        }
        fields.push_back(field);
        const std::size_t comma = line.find(',', pos);
        if (comma == std::string_view::npos) {
            return fields;
        }
        pos = comma + 1;
    }
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

/// Where `line` opens a quoted field that it does not close, if it does.
std::optional<std::size_t> unclosed_quote(std::string_view line) {
    std::size_t pos = 0;
    for (;;) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        if (pos < line.size() && line[pos] == '"') {
            const std::size_t close = line.find('"', pos + 1);
            if (close == std::string_view::npos) {
                return pos;
            }
            pos = close;
        }
        const std::size_t comma = line.find(',', pos);
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        pos = comma + 1;
    }
}

std::string_view without_cr(std::string_view line, bool ends_in_newline) {
    if (ends_in_newline && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

std::vector<std::string> codes_by_lines(std::string_view content) {
    if (content.substr(0, 3) == "\xEF\xBB\xBF") {
        content.remove_prefix(3);
    }
    std::vector<std::string> fields;
    while (!content.empty()) {
        // A line that opens a quote it does not close runs on to the line of the next quote,
        // when there is one; that line may open another.
        std::size_t end = content.find('\n');
        while (end != std::string_view::npos &&
               unclosed_quote(without_cr(content.substr(0, end), true))) {
            const std::size_t close = content.find('"', end + 1);
            if (close == std::string_view::npos) {
                break;
            }
            end = content.find('\n', close);
        }
        const bool newline = end != std::string_view::npos;
        const std::string_view line = without_cr(content.substr(0, end), newline);
        content.remove_prefix(newline ? end + 1 : content.size());
        const std::vector<std::string> more = fields_of_line(line);
        fields.insert(fields.end(), more.begin(), more.end());
    }
    std::vector<std::string> codes;
    for (std::size_t i = 0; i < fields.size(); i += 2) {
        codes.push_back(trimmed(fields[i]));
    }
    return codes;
}

/// "N bytes against M, first difference at byte P" (1-based), for messages.
std::string difference(const Bytes& got, const Bytes& expected) {
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) {
        ++at;
    }
    return std::to_string(got.size()) + " bytes against " + std::to_string(expected.size()) +
           ", first difference at byte " + std::to_string(at + 1);
}

std::string quoted_list(const std::vector<std::string>& codes) {
    std::string text = "[";
    for (const std::string& code : codes) {
        text += (text.size() > 1 ? ", \"" : "\"") + code + "\"";
    }
    return text + "]";
}

// ---------------------------------------------------------------------------------------------
// The whole job.

std::int32_t unit_factor_of(std::uint8_t unit) {
    return unit == 0 ? 1 : (unit == 1 ? 100 : 1000);
}

RunFlags flags_of(std::byte settings) {
    const auto bits = std::to_integer<unsigned>(settings);
    RunFlags flags;
    flags.all_elements = (bits & 1u) != 0;
    flags.unit = static_cast<std::uint8_t>((bits >> 1) & 3u);
    flags.empty_code = (bits & 8u) != 0;
    flags.code_mask = static_cast<std::uint8_t>(bits >> 4);
    return flags;
}

/// Codes with direction taken from the sheet: its distinct cleaned feature codes, in order of
/// first line, each kept when its bit of the mask is set.
analysis::CodesList derived_codes(const digi::ElementTables& tables, const RunFlags& flags) {
    std::vector<std::string> distinct;
    for (std::size_t i = 0; i < tables.lines.size(); ++i) {
        const digi::FeatureCode code = tables.line(i).header().feature_code;
        std::string cleaned(code.begin(), code.end());
        analysis::LimpiamosCodigo(cleaned);
        if (std::find(distinct.begin(), distinct.end(), cleaned) == distinct.end()) {
            distinct.push_back(cleaned);
        }
    }
    analysis::CodesList codes;
    for (std::size_t j = 0; j < distinct.size(); ++j) {
        if (((flags.code_mask >> (j % 4)) & 1u) != 0) {
            codes.push_back(distinct[j]);
        }
    }
    if (flags.empty_code) {
        codes.emplace_back();
    }
    return codes;
}

void check_one_run(std::span<const std::byte> sheet, const RunFlags& flags,
                   const analysis::CodesList* codes, const std::string& label) {
    digi::ElementTables tables = digi::load_elements(sheet, file_name);
    const auto loaded_lines = static_cast<std::int64_t>(tables.lines.size());
    analysis::NodeTable nodes = analysis::CreamosNodos(tables);
    const std::optional<analysis::CodeSet> code_set =
        codes != nullptr ? std::optional<analysis::CodeSet>(*codes) : std::nullopt;
    // Near misses within the window's default tolerance, in the unit of the settings byte.
    const std::int32_t unit_factor = unit_factor_of(flags.unit);
    const std::vector<analysis::NearMiss> near_misses =
        analysis::find_near_misses(tables, nodes, run::default_tolerance * unit_factor);
    const analysis::AnalysisResult result =
        analysis::EliminamosNodos(tables, nodes, code_set ? &*code_set : nullptr);

    digi::MemorySink output;
    digi::EscribimosSalida(output, tables, flags.all_elements,
                           analysis::joined_line_source(tables, result.joined));
    digi::MemorySink errors;
    if (!result.error_points.empty()) {
        run::GrabamosErrores(errors, result.error_points, unit_factor);
    }

    std::int64_t live_loaded = 0;
    for (const digi::LineRecord& line : tables.lines) {
        live_loaded += line.absorbed() ? 0 : 1;
    }
    // Each join absorbs two live lines and adds one.
    require(live_loaded + result.joined.live_count() == loaded_lines - result.joins,
            label + ": live lines do not add up to loaded lines minus joins");
    const std::int64_t lines_written =
        result.joined.live_count() + (flags.all_elements ? live_loaded : 0);

    const digi::ElementTables reloaded = digi::load_elements(output.bytes(), "salida");
    require(static_cast<std::int64_t>(reloaded.lines.size()) == lines_written,
            label + ": the output does not hold the lines written");
    require(reloaded.texts.size() == (flags.all_elements ? tables.texts.size() : 0),
            label + ": the output does not hold the texts");
    read_every_field(reloaded);

    if (flags.all_elements && result.joins == 0) {
        Bytes expected;
        for (std::size_t i = 0; i < tables.lines.size(); ++i) {
            append(expected, tables.line(i).bytes());
        }
        for (std::size_t i = 0; i < tables.texts.size(); ++i) {
            append(expected, tables.text(i).bytes());
        }
        require(output.bytes() == expected,
                label + ": with no join and every element, the output is not lines then texts");
    }

    const digi::ElementTables error_file = digi::load_elements(errors.bytes(), "errores");
    require(error_file.lines.empty() && error_file.texts.size() == result.error_points.size() &&
                errors.bytes().size() == 72 * result.error_points.size(),
            label + ": the error file is not one 72-byte text per error point");

    const model::Result expected =
        model::run(sheet, codes, unit_factor, flags.all_elements, run::default_tolerance);
    require(output.bytes() == expected.output, label + ": the output differs from the model's (" +
                                                   difference(output.bytes(), expected.output) +
                                                   ")");
    require(errors.bytes() == expected.errors,
            label + ": the error file differs from the model's (" +
                difference(errors.bytes(), expected.errors) + ")");
    const model::Counts& counts = expected.counts;
    require(counts.lines_read == loaded_lines && counts.joins == result.joins &&
                counts.error_points == static_cast<std::int64_t>(result.error_points.size()) &&
                counts.rings_passed_over == result.rings_passed_over &&
                counts.vertex_limit_nodes == result.vertex_limit_nodes &&
                counts.lines_written == lines_written,
            label + ": the counts differ from the model's");

    // What the run finds besides, counted: one piece for each live loaded line written, the
    // pieces of each joined line, and each kind of finding.
    std::int64_t pieces = flags.all_elements ? live_loaded : 0;
    result.joined.for_each_live([&](std::int32_t line) {
        pieces += static_cast<std::int64_t>(analysis::pieces_of(result.joined, line).size());
    });
    std::int64_t expected_pieces = 0;
    for (const std::vector<model::Piece>& line : expected.findings.provenance) {
        expected_pieces += static_cast<std::int64_t>(line.size());
    }
    const model::Findings& found = expected.findings;
    const analysis::Findings& engine = result.findings;
    require(pieces == expected_pieces &&
                found.direction_errors.size() == engine.direction_errors.size() &&
                found.rings.size() == engine.rings.size() &&
                found.vertex_limit.size() == engine.vertex_limit.size() &&
                found.z_differences.size() == engine.z_differences.size() &&
                found.near_misses.size() == near_misses.size(),
            label + ": the findings differ in number from the model's");
}

} // namespace

void check_loader(std::span<const std::byte> data) {
    const Walk walk = walk_framing(data);
    std::optional<digi::ElementTables> tables;
    try {
        tables = digi::load_elements(data, file_name);
    } catch (const FormatError& e) {
        require(walk.bad_position.has_value(),
                std::string("a well-framed file was refused: ") + e.what());
        require(e.byte_position() == *walk.bad_position,
                "the error names byte " + std::to_string(e.byte_position()) +
                    ", the bad element starts at byte " + std::to_string(*walk.bad_position));
        require(e.byte_position() >= 1 &&
                    e.byte_position() <= static_cast<std::int64_t>(data.size()),
                "the error position lies outside the file");
        require(e.file() == file_name, "the error does not name the file");
        const std::string prefix =
            std::string(file_name) + ": byte " + std::to_string(e.byte_position()) + ": ";
        require(std::string_view(e.what()).substr(0, prefix.size()) == prefix,
                std::string("the message does not open with file and byte: ") + e.what());
        return;
    }
    require(!walk.bad_position.has_value(), "a file with a bad element at byte " +
                                                std::to_string(walk.bad_position.value_or(0)) +
                                                " was loaded");

    Bytes lines_then_texts;
    Bytes texts;
    std::size_t line = 0;
    std::size_t text = 0;
    for (const WalkedElement& element : walk.elements) {
        if (element.kind == 'C') {
            require(line < tables->lines.size() &&
                        tables->lines[line].file_position() == element.position &&
                        tables->lines[line].length() == element.length &&
                        !tables->lines[line].absorbed(),
                    "line " + std::to_string(line + 1) + " is not the element at byte " +
                        std::to_string(element.position));
            append(lines_then_texts, slice(data, element.position, element.length));
            ++line;
        } else if (element.kind == 'T') {
            require(text < tables->texts.size() &&
                        tables->texts[text].file_position == element.position &&
                        tables->texts[text].length == element.length,
                    "text " + std::to_string(text + 1) + " is not the element at byte " +
                        std::to_string(element.position));
            append(texts, slice(data, element.position, element.length));
            ++text;
        }
    }
    require(line == tables->lines.size() && text == tables->texts.size(),
            "the tables hold elements the framing does not");
    read_every_field(*tables);

    append(lines_then_texts, texts);
    digi::MemorySink written;
    digi::EscribimosSalida(written, *tables, true, {});
    require(written.bytes() == lines_then_texts,
            "every element written back is not the input's lines then texts");
    const digi::ElementTables again = digi::load_elements(written.bytes(), "salida");
    require(again.lines.size() == line && again.texts.size() == text,
            "the elements written back do not load as the same elements");
}

void check_codes(std::string_view content) {
    const std::vector<std::string> codes = run::parse_codes(content);
    const std::vector<std::string> expected = codes_by_lines(content);
    require(codes == expected,
            "codes " + quoted_list(codes) + ", read line by line " + quoted_list(expected));
}

void check_codes_bytes(std::span<const std::byte> data) {
    check_codes(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

void check_run(std::span<const std::byte> data) {
    if (data.empty()) {
        return;
    }
    const RunFlags flags = flags_of(data.front());
    std::span<const std::byte> sheet = data.subspan(1);

    std::optional<digi::ElementTables> tables;
    try {
        tables = digi::load_elements(sheet, file_name);
    } catch (const FormatError& e) {
        // The model must refuse the same element.
        try {
            (void)model::run(sheet, nullptr, 1000, flags.all_elements);
            throw CheckFailure(std::string("the model loads what the loader refuses: ") + e.what());
        } catch (const FormatError& m) {
            require(m.byte_position() == e.byte_position(),
                    "the loader and the model refuse different elements");
        }
        // Most mutations break the framing somewhere; the whole elements in front of the bad
        // one still make a sheet, so the job is checked on that.
        sheet = sheet.first(static_cast<std::size_t>(e.byte_position() - 1));
        tables = digi::load_elements(sheet, file_name);
    }
    check_one_run(sheet, flags, nullptr, "without codes");
    const analysis::CodesList codes = derived_codes(*tables, flags);
    check_one_run(sheet, flags, &codes, "with codes " + quoted_list(codes));
}

std::vector<std::byte> run_input(const RunFlags& flags, std::span<const std::byte> sheet) {
    const unsigned bits = (flags.all_elements ? 1u : 0u) | ((flags.unit & 3u) << 1) |
                          (flags.empty_code ? 8u : 0u) | ((flags.code_mask & 15u) << 4);
    std::vector<std::byte> input;
    input.reserve(sheet.size() + 1);
    input.push_back(static_cast<std::byte>(bits));
    input.insert(input.end(), sheet.begin(), sheet.end());
    return input;
}

void run_or_abort(void (*check)(std::span<const std::byte>), const std::uint8_t* data,
                  std::size_t size) noexcept {
    try {
        check({reinterpret_cast<const std::byte*>(data), size});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz check failed on %zu bytes: %s\n", size, e.what());
        std::abort();
    } catch (...) {
        std::fprintf(stderr, "fuzz check failed on %zu bytes: unknown exception\n", size);
        std::abort();
    }
}

} // namespace tarvel::fuzz
