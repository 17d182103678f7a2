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
    app.set_help_flag("-h,--help", "Muestra esta ayuda y termina")->group("Opciones");
    app.set_version_flag("--version", std::string("tarvel ") + TARVEL_VERSION,
                         "Muestra la versión y termina")
        ->group("Opciones");

    std::vector<std::string> inputs;
    std::string output;
    std::string codes;
    std::string unit = "mm";
    Options options;
    options.jobs = std::max(default_jobs, 1u);

    app.add_option("INPUT", inputs,
                   "Un fichero DIGI (*.bin), o una carpeta: todos sus ficheros *.bin")
        ->required()
        ->type_name("");
    app.add_option("-o,--output", output,
                   "Fichero de salida (solo con un fichero de entrada; por omisión, el nombre "
                   "de entrada con \"_sal\" ante su primer punto)")
        ->type_name("FICHERO")
        ->group("Opciones");
    app.add_option("-c,--codes", codes,
                   "Fichero de códigos con sentido (*.CFG); sin él no se comprueba el sentido")
        ->type_name("FICHERO")
        ->group("Opciones");
    app.add_option("-u,--units", unit,
                   "Unidad de las coordenadas: m, cm o mm (por omisión mm); da el tamaño de "
                   "las marcas de error")
        ->type_name("m|cm|mm")
        ->check(CLI::IsMember({"m", "cm", "mm"}).description(""))
        ->group("Opciones");
    app.add_flag("-a,--all", options.all_elements,
                 "Salida de Todos los Elementos: escribe todas las líneas vivas y todos los textos")
        ->group("Opciones");
    app.add_option("-j,--jobs", options.jobs,
                   "Ficheros procesados a la vez en un lote (por omisión, el número de núcleos)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u).description(""))
        ->group("Opciones");
    app.add_flag("-q,--quiet", options.quiet, "Muestra solo los errores")->group("Opciones");
    app.add_option("-t,--tolerance", options.tolerance,
                   "Tolerancia en metros: los extremos de línea a menos de esta distancia que no "
                   "se unen se señalan (por omisión 0.10)")
        ->type_name("METROS")
        ->check(CLI::NonNegativeNumber.description(""))
        ->group("Opciones");
    std::string report;
    std::string gis_export;
    app.add_option("--report", report,
                   "Informe JSON de toda la ejecución: ajustes y, por hoja, recuentos, uniones y "
                   "hallazgos")
        ->type_name("FICHERO.json")
        ->group("Opciones");
    app.add_option("--export", gis_export,
                   "Exportación SIG de las líneas de salida y los hallazgos, en el formato que "
                   "indica la extensión: .gpkg, .geojson, .csv...")
        ->type_name("FICHERO")
        ->group("Opciones");
    app.add_option("--crs", options.crs,
                   "Sistema de referencia de la exportación (p. ej. EPSG:25830); sin él, las capas "
                   "no llevan ninguno")
        ->type_name("SRC")
        ->group("Opciones");

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::CallForVersion& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::ParseError& e) {
        print_usage_error(err, e.what());
        return {std::nullopt, exit_usage};
    }

    if (!output.empty() && inputs.size() > 1) {
        print_usage_error(err, "--output solo vale con un único fichero de entrada");
        return {std::nullopt, exit_usage};
    }
    for (const std::string& input : inputs) {
        if (input.empty()) {
            print_usage_error(err, "un nombre de entrada vacío");
            return {std::nullopt, exit_usage};
        }
        options.inputs.emplace_back(input);
    }
    if (!options.crs.empty()) {
        if (gis_export.empty()) {
            print_usage_error(err, "--crs solo vale con --export");
            return {std::nullopt, exit_usage};
        }
        std::string why;
        if (!run::valid_crs(options.crs, why)) {
            print_usage_error(err, "--crs " + options.crs + ": " + why);
            return {std::nullopt, exit_usage};
        }
    }
    options.output = output;
    options.codes = codes;
    options.report = report;
    options.gis_export = gis_export;
    options.unit = unit_named(unit);
    return {std::move(options), exit_success};
}

} // namespace tarvel::cli
