#include "ui/start.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTranslator>

#include "ui/texts.hpp"

// A resource compiled into a static library is registered by hand, from outside any namespace.
static void register_icon_resource() {
    Q_INIT_RESOURCE(icon);
}

namespace tarvel::ui {

StartOptions parse_start(const QStringList& arguments) {
    StartOptions options;
    const auto refuse = [&options](const QString& why) {
        options.action = StartOptions::Action::refuse;
        options.message = why;
        return options;
    };
    QStringList sheets;
    bool options_end = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (options_end || !argument.startsWith(QLatin1Char('-')) ||
            argument == QLatin1String("-")) {
            sheets << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            options_end = true;
            continue;
        }
        // "--name value" and "--name=value" alike.
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? argument : argument.left(equals);
        const auto value = [&](QString& into) {
            if (equals >= 0) {
                into = argument.mid(equals + 1);
                return true;
            }
            if (i + 1 >= arguments.size()) {
                return false;
            }
            into = arguments[++i];
            return true;
        };
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            options.action = StartOptions::Action::help;
            options.message = QString::fromUtf8(text::start_help);
            return options;
        }
        if (name == QLatin1String("-v") || name == QLatin1String("--version")) {
            options.action = StartOptions::Action::version;
            options.message = QStringLiteral("tarvel-gui " TARVEL_VERSION "\n");
            return options;
        }
        if (name == QLatin1String("--one") && equals < 0) {
            options.one_file = true;
        } else if (name == QLatin1String("--process") && equals < 0) {
            options.process = true;
        } else if (name == QLatin1String("--codes") || name == QLatin1String("--screenshot")) {
            QString& into = name == QLatin1String("--codes") ? options.codes : options.screenshot;
            if (!value(into) || into.isEmpty()) {
                return refuse(QString::fromUtf8(text::start_needs_value).arg(name));
            }
        } else if (name == QLatin1String("--finding")) {
            QString number;
            bool ok = value(number);
            options.finding = ok ? number.toInt(&ok) : 0;
            if (!ok || options.finding < 1) {
                return refuse(QString::fromUtf8(text::start_needs_value).arg(name));
            }
        } else {
            return refuse(QString::fromUtf8(text::start_unknown).arg(argument));
        }
    }
    if (sheets.size() > 1) {
        return refuse(QString::fromUtf8(text::start_too_many));
    }
    options.sheet = sheets.value(0);
    return options;
}

std::unique_ptr<QTranslator> install_qt_translations() {
    auto translator = std::make_unique<QTranslator>();
    // Qt's own folder first; Debian's, where a Qt built elsewhere does not know it.
    const QString folders[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                               QStringLiteral("/usr/share/qt6/translations")};
    for (const QString& folder : folders) {
        if (translator->load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                             QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator.get());
            return translator;
        }
    }
    return nullptr;
}

QIcon window_icon() {
    // The same drawing as the desktop's icon, rendered at each size rather than scaled.
    register_icon_resource();
    QSvgRenderer drawing(QStringLiteral(":/tarvel/tarvel.svg"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        drawing.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace tarvel::ui
