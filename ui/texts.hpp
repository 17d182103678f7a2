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

} // namespace tarvel::ui::text
