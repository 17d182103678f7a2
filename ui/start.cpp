#include "ui/start.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTranslator>

#include "ui/texts.hpp"

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
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.scale(size / 64.0, size / 64.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xf4, 0xf1, 0xe8));
        painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        QPainterPath river(QPointF(8, 50));
        river.cubicTo(QPointF(18, 44), QPointF(22, 30), QPointF(32, 30));
        river.cubicTo(QPointF(42, 30), QPointF(46, 16), QPointF(56, 12));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0x15, 0x65, 0xc0), 6, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(river);
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(QColor(0x21, 0x21, 0x21));
        painter.drawEllipse(QPointF(32, 30), 5, 5);
        painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
        painter.drawPolygon(QPolygonF{{48, 40}, {58, 56}, {38, 56}});
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace tarvel::ui
