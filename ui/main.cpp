// tarvel-gui: the window of Tarvel. With --screenshot FILE it shows the window, saves a
// picture of it as FILE and ends (for the documentation).
#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTimer>

#include "ui/dialogs.hpp"
#include "ui/main_window.hpp"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvel-gui"));
    QApplication::setApplicationVersion(QStringLiteral(TARVEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tarvel: elimina nodos superfluos y marca errores de sentido."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"), QStringLiteral("Guarda una imagen de la ventana y termina."),
        QStringLiteral("FICHERO"));
    parser.addOption(screenshot);
    parser.process(app);

    tarvel::ui::QtDialogs dialogs;
    tarvel::ui::MainWindow window(dialogs);
    window.show();

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        // Once the event loop runs, the window has been laid out and shown.
        QTimer::singleShot(0, &window, [&window, file] {
            const bool saved = window.grab().save(file, "PNG");
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
