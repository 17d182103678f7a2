// tarvel-gui: the window of Tarvel. With --screenshot FILE it shows the window, saves a
// picture of it as FILE and ends (for the documentation).
#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QTimer>
#include <QTranslator>

#include "ui/dialogs.hpp"
#include "ui/main_window.hpp"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvel-gui"));
    QApplication::setApplicationVersion(QStringLiteral(TARVEL_VERSION));

    // The window speaks Spanish whatever the desktop's language, so Qt's own buttons and
    // dialogs do too.
    QTranslator qt_texts;
    if (qt_texts.load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qt_texts);
    }

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
