#include "ui/start.hpp"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTranslator>
#include <gtest/gtest.h>

#include <cstdlib>

namespace tarvel::ui {
namespace {

using Action = StartOptions::Action;

TEST(ParseStart, ReadsTheSheetAndOptionsOrSaysWhatIsWrong) {
    struct Case {
        QStringList arguments; // after the program name
        Action action;
        QString sheet;
        QString codes;
        bool one_file;
        int finding;
        const char* message_part; // in the help, version or refusal
    };
    const Case cases[] = {
        {{}, Action::open, {}, {}, false, 0, ""},
        {{"hoja.bin"}, Action::open, "hoja.bin", {}, false, 0, ""},
        {{"--one", "--codes", "s.CFG", "--finding=3", "--", "-rara.bin"},
         Action::open,
         "-rara.bin",
         "s.CFG",
         true,
         3,
         ""},
        {{"--codes=s.CFG", "hoja.bin"}, Action::open, "hoja.bin", "s.CFG", false, 0, ""},
        {{"hoja.bin", "--help"}, Action::help, {}, {}, false, 0, "Uso: tarvel-gui"},
        {{"-v"}, Action::version, {}, {}, false, 0, "tarvel-gui "},
        {{"a.bin", "b.bin"}, Action::refuse, {}, {}, false, 0, "sobran argumentos"},
        {{"--color"}, Action::refuse, {}, {}, false, 0, "opción desconocida: --color"},
        {{"--codes"}, Action::refuse, {}, {}, false, 0, "--codes le falta"},
        {{"--finding", "cero"}, Action::refuse, {}, {}, false, 0, "--finding le falta"},
    };
    for (const Case& c : cases) {
        const QString shown = c.arguments.join(QLatin1Char(' '));
        const StartOptions options = parse_start(QStringList{"tarvel-gui"} + c.arguments);
        EXPECT_EQ(options.action, c.action) << shown.toStdString();
        EXPECT_EQ(options.sheet, c.sheet) << shown.toStdString();
        EXPECT_EQ(options.codes, c.codes) << shown.toStdString();
        EXPECT_EQ(options.one_file, c.one_file) << shown.toStdString();
        EXPECT_EQ(options.finding, c.finding) << shown.toStdString();
        EXPECT_TRUE(options.message.contains(QString::fromUtf8(c.message_part)))
            << shown.toStdString() << ": " << options.message.toStdString();
    }
}

TEST(ParseStart, HelpAndVersionNeedNoDisplay) {
    // A window system that cannot start here: the program must answer before opening one.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    struct Case {
        const char* argument;
        const char* starts;
    };
    for (const Case c : {Case{"--help", "Uso: tarvel-gui"}, Case{"--version", "tarvel-gui 1."}}) {
        QProcess gui;
        gui.setProcessEnvironment(environment);
        gui.start(QStringLiteral(TARVEL_GUI_PATH), {QString::fromLatin1(c.argument)});
        ASSERT_TRUE(gui.waitForFinished(60000)) << c.argument;
        EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit) << c.argument;
        EXPECT_EQ(gui.exitCode(), 0) << c.argument;
        EXPECT_TRUE(gui.readAllStandardOutput().startsWith(c.starts)) << c.argument;
    }
}

TEST(QtTranslations, QtsOwnButtonsReadInSpanishOnceLoaded) {
    const std::unique_ptr<QTranslator> translator = install_qt_translations();
    ASSERT_NE(translator, nullptr) << "qtbase_es.qm not found";
    QMessageBox box(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')).toStdString(),
              "Aceptar");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')).toStdString(),
              "Cancelar");
    QCoreApplication::removeTranslator(translator.get());
}

// The window's icon is the installed SVG drawing: at every size, the river's blue, the node's
// dark dot and the marker's red where the drawing puts them, and the corners left clear.
TEST(WindowIcon, IsTheProgramsSvgDrawingAtEverySize) {
    const QIcon icon = window_icon();
    ASSERT_FALSE(icon.isNull());
    // Small sizes blend the edges of the shapes: a colour is taken as the drawing's when
    // each channel is within a few steps of it.
    const auto near = [](const QColor& got, const char* expected) {
        const QColor want(QString::fromLatin1(expected));
        return std::abs(got.red() - want.red()) <= 24 &&
               std::abs(got.green() - want.green()) <= 24 &&
               std::abs(got.blue() - want.blue()) <= 24 && got.alpha() == 255;
    };
    for (const int size : {32, 48, 64, 256}) {
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.width(), size);
        // The pixel under a point of the 64-unit drawing.
        const auto at = [&](double x, double y) {
            return image.pixelColor(static_cast<int>(x * size / 64),
                                    static_cast<int>(y * size / 64));
        };
        EXPECT_EQ(at(0, 0).alpha(), 0) << size;
        EXPECT_TRUE(near(at(32, 30), "#212121")) << size << at(32, 30).name().toStdString();
        EXPECT_TRUE(near(at(48, 51), "#d32f2f")) << size << at(48, 51).name().toStdString();
        EXPECT_TRUE(near(at(52, 14.5), "#1565c0")) << size << at(52, 14.5).name().toStdString();
        EXPECT_TRUE(near(at(10, 10), "#f4f1e8")) << size << at(10, 10).name().toStdString();
    }
}

} // namespace
} // namespace tarvel::ui
