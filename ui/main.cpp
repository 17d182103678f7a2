// tarvel-gui: the window of Tarvel. With a sheet as argument it opens with that sheet picked;
// with --screenshot FILE it shows the window, saves a picture of it as FILE and ends (for the
// documentation), after the run when --process asks for one.
#include <QApplication>
#include <QPixmap>
#include <QSettings>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

#include "common/user_locale.hpp"
#include "ui/dialogs.hpp"
#include "ui/main_window.hpp"
#include "ui/start.hpp"

namespace {

/// The Qt dialogs, but the closing message is not shown: a picture is being taken.
class PictureDialogs final : public tarvel::ui::Dialogs {
public:
    QString open_file(QWidget* parent, const QString& title, const QString& filter,
                      const QString& folder, tarvel::ui::Existence existence) override {
        return m_qt.open_file(parent, title, filter, folder, existence);
    }
    QString save_file(QWidget* parent, const QString& title, const QString& filters,
                      const QString& suggested) override {
        return m_qt.save_file(parent, title, filters, suggested);
    }
    void information(QWidget*, const QString&, const QString&, const QString&) override {}
    void warning(QWidget* parent, const QString& title, const QString& text) override {
        m_qt.warning(parent, title, text);
    }
    bool question(QWidget* parent, const QString& title, const QString& text) override {
        return m_qt.question(parent, title, text);
    }

private:
    tarvel::ui::QtDialogs m_qt;
};

} // namespace

int main(int argc, char* argv[]) {
    tarvel::use_user_locale();
    QCoreApplication::setApplicationName(QStringLiteral("tarvel-gui"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEL_VERSION));
    // The arguments are read before the window system is opened: --help and --version work
    // without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    using Action = tarvel::ui::StartOptions::Action;
    const tarvel::ui::StartOptions options = tarvel::ui::parse_start(arguments);
    switch (options.action) {
    case Action::help:
    case Action::version:
        std::fputs(options.message.toLocal8Bit().constData(), stdout);
        return 0;
    case Action::refuse:
        std::fprintf(stderr, "tarvel-gui: %s\n", options.message.toLocal8Bit().constData());
        return 2;
    case Action::open:
        break;
    }

    QApplication app(argc, argv);
    // QApplication takes the whole locale of the environment again, numbers included.
    tarvel::use_user_locale();
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvel-gui"));
    // The window speaks Spanish whatever the desktop's language, so Qt's own buttons and
    // dialogs do too.
    const std::unique_ptr<QTranslator> qt_texts = tarvel::ui::install_qt_translations();
    QApplication::setWindowIcon(tarvel::ui::window_icon());

    const bool picture = !options.screenshot.isEmpty();
    // The folder last used is kept from one start to the next; a picture leaves no trace.
    QSettings memory(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tarvel"),
                     QStringLiteral("tarvel-gui"));
    tarvel::ui::QtDialogs qt_dialogs;
    PictureDialogs picture_dialogs;
    tarvel::ui::Dialogs& dialogs =
        picture ? static_cast<tarvel::ui::Dialogs&>(picture_dialogs) : qt_dialogs;
    tarvel::ui::MainWindow window(dialogs, picture ? nullptr : &memory);
    window.show();
    window.start_with(options);

    if (picture) {
        const QString file = options.screenshot;
        const auto save = [&window, file] {
            const bool saved = window.grab().save(file, "PNG");
            QApplication::exit(saved ? 0 : 1);
        };
        if (options.process) {
            QObject::connect(&window, &tarvel::ui::MainWindow::run_finished, &window, save);
        } else {
            // Once the event loop runs, the window has been laid out and shown.
            QTimer::singleShot(0, &window, save);
        }
    }
    return QApplication::exec();
}
