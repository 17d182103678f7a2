#include "cli/options.hpp"

#include <algorithm>
#include <ostream>

#include <CLI/CLI.hpp>

#include "run/gis_export.hpp"

namespace tarvel::cli {
namespace {

/// The unit named on the command line; the parser has already checked the name.
run::Unit unit_named(const std::string& name) {
    if (name == "m") {
        return run::Unit::metres;
    }
    if (name == "cm") {
        return run::Unit::centimetres;
    }
    return run::Unit::millimetres;
}

/// What an option with a checked value takes, as a usage error says it.
struct ValueRule {
    std::string_view option;
    std::string_view expected;
};

constexpr ValueRule value_rules[] = {
    {"--units", "ha de ser m, cm o mm"},
    {"--jobs", "ha de ser un número entero de 1 a 1024"},
    {"--tolerance", "ha de ser un número de metros no negativo, con punto decimal (0.25)"},
};

/// The option a parse error names: CLI11 puts the option's name in its message, as a word
/// of its own. The longest name that fits wins ("--output-dir" over "--output").
const CLI::Option* option_named_in(const std::string& message, const CLI::App& app) {
    const CLI::Option* found = nullptr;
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        for (std::size_t at = message.find(name); at != std::string::npos;
             at = message.find(name, at + 1)) {
            const std::size_t end = at + name.size();
            const bool word_start = at == 0 || message[at - 1] == ' ';
            const bool word_end =
                end == message.size() || message[end] == ':' || message[end] == ' ';
            if (word_start && word_end &&
                (found == nullptr || name.size() > found->get_name().size())) {
                found = option;
            }
        }
    }
    return found;
}

std::string joined(const std::vector<std::string>& values, std::string_view separator) {
    std::string text;
    for (const std::string& value : values) {
        if (!text.empty()) {
            text += separator;
        }
        text += value;
    }
    return text;
}

/// A value the parser would not take: the option, the value and what the option takes.
std::string bad_value(const CLI::Option& option) {
    const std::string name = option.get_name();
    const std::string value = joined(option.results(), " ");
    if (option.get_expected_max() == 0) {
        return "la opción " + name + " no lleva valor (se ha dado \"" + value + "\")";
    }
    for (const ValueRule& rule : value_rules) {
        if (rule.option == name) {
            return name + " " + value + ": " + std::string(rule.expected);
        }
    }
    return name + " " + value + ": valor no válido";
}

/// The words the command line had no place for.
std::string unexpected(const std::vector<std::string>& words) {
    std::vector<std::string> said;
    for (const std::string& word : words) {
        said.push_back(
            (word.size() > 1 && word[0] == '-' ? "opción desconocida: " : "argumento de más: ") +
            word);
    }
    return said.empty() ? std::string("argumentos de más") : joined(said, "; ");
}

/// CLI11's parse errors come in English: each kind is said again in Spanish, from the option it
/// names and the values given to it, so that no mistake of the user gets an English answer.
std::string spanish_parse_error(const CLI::ParseError& error, const CLI::App& app) {
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        return unexpected(app.remaining());
    }
    const CLI::Option* option = option_named_in(error.what(), app);
    if (option == nullptr) {
        return "no se entienden los argumentos";
    }
    const std::string name = option->get_name();
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        if (option->count() > 1) {
            return "la opción " + name + " se ha dado " + std::to_string(option->count()) +
                   " veces; solo vale una";
        }
        const std::string type = option->get_type_name();
        return "a la opción " + name + " le falta su valor" +
               (type.empty() ? "" : " (" + type + ")");
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr ||
        dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
        return bad_value(*option);
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        return "falta " + name;
    }
    return name + ": no se entiende";
}

} // namespace

void print_usage_error(std::ostream& err, const std::string& message) {
    err << "tarvel: error de uso: " << message << "\n"
        << "Pruebe 'tarvel --help' para ver las opciones.\n";
}

ParseOutcome parse_options(const std::vector<std::string>& args, unsigned default_jobs,
                           std::ostream& out, std::ostream& err) {
    CLI::App app{"TARVEL: Eliminar NODOS Supérfluos y marca errores de sentido.\n"
                 "Une las líneas que se tocan en un nodo superfluo y marca los errores de "
                 "sentido en un fichero de errores.",
                 "tarvel"};
    app.get_formatter()->label("Usage", "Uso");
    app.get_formatter()->label("OPTIONS", "OPCIONES");
    app.get_formatter()->label("Positionals", "Argumentos");
    app.get_formatter()->label("REQUIRED", "OBLIGATORIO");
    app.get_formatter()->column_width(24);
    app.option_defaults()->group("Opciones");
    app.set_help_flag("-h,--help", "Muestra esta ayuda y termina");
    app.set_version_flag("--version", std::string("tarvel ") + TARVEL_VERSION,
                         "Muestra la versión y termina");

    std::vector<std::string> inputs;
    std::string files_from;
    std::string output;
    std::string output_folder;
    std::string codes;
    std::string unit = "mm";
    bool progress = false;
    bool no_progress = false;
    Options options;
    options.jobs = std::max(default_jobs, 1u);

    app.add_option("INPUT", inputs,
                   "Un fichero DIGI (*.bin), o una carpeta: todos sus ficheros *.bin")
        ->type_name("");
    app.add_option("--files-from", files_from,
                   "Lista de las hojas que procesar, una por línea y en ese orden, como si se "
                   "dieran como argumentos (carpetas incluidas); - lee la entrada estándar")
        ->type_name("LISTA");
    app.add_flag("--null", options.null_separated,
                 "Los nombres de la lista acaban en un byte 0, como los escribe find -print0");
    app.add_option("-o,--output", output,
                   "Fichero de salida (solo con un fichero de entrada; por omisión, el nombre "
                   "de entrada con \"_sal\" ante su primer punto)")
        ->type_name("FICHERO");
    app.add_option("--output-dir", output_folder,
                   "Carpeta donde van las salidas, los ficheros de errores y los temporales de "
                   "cada hoja, con los nombres que tendrían junto a la entrada")
        ->type_name("CARPETA");
    app.add_option("-c,--codes", codes,
                   "Fichero de códigos con sentido (*.CFG); sin él no se comprueba el sentido")
        ->type_name("FICHERO");
    app.add_option("-u,--units", unit,
                   "Unidad de las coordenadas: m, cm o mm (por omisión mm); da el tamaño de "
                   "las marcas de error")
        ->type_name("m|cm|mm")
        ->check(CLI::IsMember({"m", "cm", "mm"}).description(""));
    app.add_flag(
        "-a,--all", options.all_elements,
        "Salida de Todos los Elementos: escribe todas las líneas vivas y todos los textos");
    app.add_option("-j,--jobs", options.jobs,
                   "Ficheros procesados a la vez en un lote (por omisión, el número de núcleos)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u).description(""));
    app.add_flag("-q,--quiet", options.quiet, "Muestra solo los errores")->group("Opciones");
    app.add_flag("--progress", progress,
                 "Muestra el avance en la salida de errores aunque no sea un terminal");
    app.add_flag("--no-progress", no_progress,
                 "No muestra el avance aunque la salida de errores sea un terminal");
    app.add_option("-t,--tolerance", options.tolerance,
                   "Tolerancia en metros: los extremos de línea a menos de esta distancia que no "
                   "se unen se señalan (por omisión 0.10)")
        ->type_name("METROS")
        ->check(CLI::NonNegativeNumber.description(""));
    std::string report;
    std::string gis_export;
    app.add_option("--report", report,
                   "Informe JSON de toda la ejecución: ajustes y, por hoja, recuentos, uniones y "
                   "hallazgos")
        ->type_name("FICHERO.json");
    app.add_option("--export", gis_export,
                   "Exportación SIG de las líneas de salida y los hallazgos, en el formato que "
                   "indica la extensión: .gpkg, .geojson, .csv...")
        ->type_name("FICHERO");
    app.add_option("--crs", options.crs,
                   "Sistema de referencia de la exportación (p. ej. EPSG:25830); sin él, las capas "
                   "no llevan ninguno")
        ->type_name("SRC");

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::CallForVersion& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::ParseError& e) {
        print_usage_error(err, spanish_parse_error(e, app));
        return {std::nullopt, exit_usage};
    }

    const auto refuse = [&err](const std::string& message) {
        print_usage_error(err, message);
        return ParseOutcome{std::nullopt, exit_usage};
    };
    if (inputs.empty() && files_from.empty()) {
        return refuse("falta la entrada: ficheros DIGI o carpetas, o --files-from LISTA");
    }
    if (!output.empty() && (inputs.size() > 1 || !files_from.empty())) {
        return refuse("--output solo vale con un único fichero de entrada");
    }
    if (!output.empty() && !output_folder.empty()) {
        return refuse("--output-dir no vale con --output");
    }
    if (options.null_separated && files_from.empty()) {
        return refuse("--null solo vale con --files-from");
    }
    if (progress && no_progress) {
        return refuse("--progress y --no-progress se excluyen");
    }
    for (const std::string& input : inputs) {
        if (input.empty()) {
            return refuse("un nombre de entrada vacío");
        }
        options.inputs.emplace_back(input);
    }
    if (!options.crs.empty()) {
        if (gis_export.empty()) {
            return refuse("--crs solo vale con --export");
        }
        std::string why;
        if (!run::valid_crs(options.crs, why)) {
            return refuse("--crs " + options.crs + ": " + why);
        }
    }
    options.files_from = files_from;
    options.output = output;
    options.output_folder = output_folder;
    options.codes = codes;
    options.report = report;
    options.gis_export = gis_export;
    options.unit = unit_named(unit);
    options.progress = progress      ? Progress::shown
                       : no_progress ? Progress::hidden
                                     : Progress::on_terminal;
    return {std::move(options), exit_success};
}

} // namespace tarvel::cli
