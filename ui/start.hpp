// How tarvel-gui starts: its arguments, read before any window system is touched (so --help
// and --version work without a display), Qt's own texts in Spanish, and the window's icon.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <memory>

class QTranslator;

namespace tarvel::ui {

/// What the arguments ask for.
struct StartOptions {
    enum class Action { open, help, version, refuse };
    Action action = Action::open;
    QString message;       ///< the help text, the version line, or why the arguments are refused
    QString sheet;         ///< the sheet to open picked; empty: none
    QString codes;         ///< codes file to put in the codes field; empty: none
    bool one_file = false; ///< choose "Uno"
    bool process = false;  ///< press "Proceso" once the window shows
    int finding = 0;       ///< choose this finding (1-based) once "Proceso" is over; 0: none
    QString screenshot;    ///< save a picture of the window here and end; empty: none
};

/// Reads `arguments` (the program name first). Touches no file and no display.
[[nodiscard]] StartOptions parse_start(const QStringList& arguments);

/// Loads Qt's Spanish texts (buttons and dialogs) from Qt's translations folder and installs
/// them in the running application. Returns the translator, or null when they are not there.
[[nodiscard]] std::unique_ptr<QTranslator> install_qt_translations();

/// The window's icon, the program's SVG icon (a resource) rendered at the usual sizes: two
/// line pieces meeting at a node, and a marker.
[[nodiscard]] QIcon window_icon();

} // namespace tarvel::ui
