// The window's own texts: captions, picker titles and filters. Each is
// defined once here, in UTF-8, exactly as the users of this tool know it (the picker titles
// keep their long-standing spelling).
#pragma once

namespace tarvel::ui::text {

inline constexpr char window_title[] = "TARVEL";
inline constexpr char banner[] = "TARVEL: Eliminar NODOS Supérfluos y marca errores de sentido";
inline constexpr char input_caption[] = "Fichero DIGI de Entrada:";
inline constexpr char output_caption[] = "Fichero de Salida:";
inline constexpr char codes_caption[] = "Fichero de Códigos con \"sentido\" :";
inline constexpr char picker_button[] = "...";
inline constexpr char units_frame[] = "Unidades";
inline constexpr char metres[] = "Metros";
inline constexpr char centimetres[] = "Centímetros";
inline constexpr char millimetres[] = "Milímetros";
inline constexpr char tolerance_caption[] = "Tolerancia:";
inline constexpr char tolerance_initial[] = "0.10";
inline constexpr char tolerance_unit[] = "metros.";
inline constexpr char all_elements[] = "Salida de Todos los Elementos";
inline constexpr char mode_frame[] = "Procesar";
inline constexpr char all_files[] = "Todos";
inline constexpr char one_file[] = "Uno";
inline constexpr char process_button[] = "Proceso";

inline constexpr char bin_filter[] = "Fichero BIN (*.bin)";
inline constexpr char codes_filter[] = "Fichero CFG (*.CFG)";
inline constexpr char input_picker_title[] = "Seleccinar fichero .bin a tratar";
inline constexpr char output_picker_title[] = "Seleccinar fichero .bin de salida";
inline constexpr char codes_picker_title[] = "Seleccinar fichero de códigos con 'sentido' ";

/// Progress line of a run: file %1 of %2, named %3.
inline constexpr char progress_line[] = "Fichero %1 de %2: %3";

// Beside "Todos": how many sheets the folder of the picked input holds.
inline constexpr char one_sheet[] = "1 hoja";
/// %1 sheets (any number but one).
inline constexpr char sheets[] = "%1 hojas";

inline constexpr char cancel_button[] = "Cancelar";
inline constexpr char export_button[] = "Exportar…";
inline constexpr char report_button[] = "Informe…";
inline constexpr char export_title[] = "Exportar hallazgos y líneas de salida";
inline constexpr char export_filter[] = "GeoPackage (*.gpkg);;GeoJSON (*.geojson);;CSV (*.csv)";
inline constexpr char report_title[] = "Guardar informe";
inline constexpr char report_filter[] = "Informe JSON (*.json)";
/// The export or report was written to %1.
inline constexpr char export_done[] = "Exportación escrita en %1";
inline constexpr char report_done[] = "Informe escrito en %1";

inline constexpr char bad_tolerance[] =
    "La tolerancia debe ser un número de metros no negativo, por ejemplo 0.10 o 0,10.";
inline constexpr char close_while_running[] =
    "Hay un proceso en curso. ¿Cancelarlo y cerrar la ventana?";

// The results table, one row per sheet of the last run.
inline constexpr char results_caption[] = "Resultados:";
inline constexpr const char* results_columns[] = {"Hoja",
                                                  "Estado",
                                                  "Líneas leídas",
                                                  "Uniones",
                                                  "Errores de sentido",
                                                  "Casi uniones",
                                                  "Cota distinta",
                                                  "Anillos",
                                                  "Límite de vértices",
                                                  "Motivo"};
inline constexpr char status_pending[] = "Pendiente";
inline constexpr char status_done[] = "Correcta";
inline constexpr char status_failed[] = "Fallida";
inline constexpr char status_cancelled[] = "Cancelada";

// The map and the findings beside it.
inline constexpr char map_fit[] = "Ver toda la hoja";
inline constexpr char map_empty[] = "El mapa de la hoja aparece aquí después de «Proceso».";
inline constexpr char map_choose_sheet[] =
    "Elija una hoja en la tabla de resultados para ver su mapa.";
/// The sheet %1 is being read again for its map.
inline constexpr char map_loading[] = "Leyendo %1…";
/// The sheet %1 could not be read for its map: %2.
inline constexpr char map_failed[] = "No se puede mostrar %1: %2";
/// Pointer place in metres: X %1, Y %2.
inline constexpr char pointer_place[] = "X: %1 m   Y: %2 m";
inline constexpr char findings_caption[] = "Hallazgos: %1";
inline constexpr const char* findings_columns[] = {"Hallazgo", "X (m)", "Y (m)", "Detalle"};
inline constexpr char no_sent[] = "NoSent";

inline constexpr char legend_joined[] = "Líneas unidas (salida)";
inline constexpr char legend_untouched[] = "Líneas sin unir";
/// Each kind of finding, in the order of FindingKind.
inline constexpr const char* finding_names[] = {"Error de sentido (NoSent)", "Casi unión",
                                                "Cota distinta", "Anillo omitido",
                                                "Límite de vértices"};
/// The same, as the findings list names them.
inline constexpr const char* finding_short_names[] = {
    "Error de sentido", "Casi unión", "Cota distinta", "Anillo omitido", "Límite de vértices"};
inline constexpr char finding_elements[] = "elementos";
inline constexpr char finding_element[] = "elemento";
inline constexpr char finding_and[] = " y ";
inline constexpr char finding_distance[] = "distancia";
inline constexpr char finding_vertices[] = "vértices";

// Start-up from the command line.
inline constexpr char start_help[] =
    "Uso: tarvel-gui [opciones] [HOJA.bin]\n"
    "Tarvel: elimina nodos superfluos y marca errores de sentido.\n"
    "\n"
    "Opciones:\n"
    "  -h, --help          Muestra esta ayuda y termina.\n"
    "  -v, --version       Muestra la versión y termina.\n"
    "  --codes CFG         Fichero de códigos con \"sentido\".\n"
    "  --one               Procesa solo la hoja elegida (\"Uno\").\n"
    "  --process           Pulsa \"Proceso\" al abrirse la ventana.\n"
    "  --finding N         Al acabar el proceso, elige el hallazgo N de la lista.\n"
    "  --screenshot PNG    Guarda una imagen de la ventana y termina (con --process, al\n"
    "                      acabar el proceso).\n"
    "\n"
    "HOJA.bin es la hoja DIGI que se abre elegida, como con el botón \"...\".\n";
/// Option %1 is not known.
inline constexpr char start_unknown[] = "opción desconocida: %1 (vea --help)";
/// Option %1 needs a value.
inline constexpr char start_needs_value[] = "a la opción %1 le falta su valor";
inline constexpr char start_too_many[] = "sobran argumentos: solo se abre una hoja";

} // namespace tarvel::ui::text
