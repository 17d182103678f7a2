#include "ui/main_window.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "run/procesamos_fichero.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/ui/scripted_dialogs.hpp"
#include "ui/paths.hpp"

namespace tarvel::ui {
namespace {

namespace fs = std::filesystem;
using testing::attribute;
using testing::DigiBuilder;
using testing::read_bytes;
using testing::write_bytes;

constexpr int safety_timeout_ms = 120000;
constexpr const char* success_text = "PROCESO Terminado Correctamente.";
constexpr const char* closing_title = "Fin de Proceso";

/// Two pieces of one river that meet head to tail at (10+dx, 0), and a text.
std::vector<std::byte> two_pieces(std::int32_t dx = 0) {
    return DigiBuilder{}
        .line("RIO0001", {{dx, 0, 5}, {10 + dx, 0, 7}}, {attribute(1, 7, "ABC")})
        .text("TXT0001", {3 + dx, 3, 0}, {"Rio"})
        .line("RIO0001", {{10 + dx, 0, 7}, {20 + dx, 5, 3}}, {attribute(1, 7, "ABC")})
        .bytes();
}

/// The one line the two pieces make: the first piece's header and attributes, the shared
/// vertex once, the extent of both.
std::vector<std::byte> joined(std::int32_t dx = 0) {
    return DigiBuilder{}
        .line("RIO0001", {{dx, 0, 5}, {10 + dx, 0, 7}, {20 + dx, 5, 3}}, {attribute(1, 7, "ABC")})
        .bytes();
}

/// Every element of the output when all elements are asked for: the joined line, then the
/// text as it was read.
std::vector<std::byte> joined_and_text() {
    return DigiBuilder{}
        .line("RIO0001", {{0, 0, 5}, {10, 0, 7}, {20, 5, 3}}, {attribute(1, 7, "ABC")})
        .text("TXT0001", {3, 3, 0}, {"Rio"})
        .bytes();
}

/// Two pieces of a river that both start at (10, 0): a direction error once the code is
/// known to have a direction.
std::vector<std::byte> head_to_head() {
    return DigiBuilder{}
        .line("RIO0001", {{10, 0, 0}, {0, 0, 0}})
        .line("RIO0001", {{10, 0, 0}, {20, 0, 0}})
        .bytes();
}

/// A sheet whose only element announces more bytes than the file holds.
std::vector<std::byte> truncated() {
    std::vector<std::byte> bytes = DigiBuilder{}.line("RIO0001", {{0, 0, 0}, {1, 1, 0}}).bytes();
    bytes.resize(bytes.size() - 5);
    return bytes;
}

void write_text(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.isValid());
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    }

    /// The control of that object name; fails the test when there is none.
    template <typename Control> Control& control(const char* name) {
        auto* found = m_window.findChild<Control*>(QString::fromLatin1(name));
        if (found == nullptr) {
            throw std::runtime_error(std::string("no control named ") + name);
        }
        return *found;
    }

    QLineEdit& text_box(const char* name) { return control<QLineEdit>(name); }
    std::string caption(const char* name) { return control<QLabel>(name).text().toStdString(); }
    std::string shown(const char* name) { return text_box(name).text().toStdString(); }

    fs::path path(const std::string& name) const { return to_path(m_temp.path()) / name; }
    fs::path folder(const std::string& name) const {
        fs::path folder_path = path(name);
        fs::create_directories(folder_path);
        return folder_path;
    }

    /// Picks `file` with the input picker.
    void pick_input(const fs::path& file) {
        m_dialogs.answers.push_back(to_qstring(file));
        control<QPushButton>("Command1").click();
    }

    void choose_one_file() { QTest::mouseClick(&control<QRadioButton>("Option5"), Qt::LeftButton); }
    void choose_all_files() {
        QTest::mouseClick(&control<QRadioButton>("Option4"), Qt::LeftButton);
    }

    /// Presses "Proceso" and waits until its closing message has been shown.
    void process_and_wait() {
        QSignalSpy finished(&m_window, &MainWindow::run_finished);
        control<QPushButton>("Command3").click();
        ASSERT_TRUE(finished.count() > 0 || finished.wait(safety_timeout_ms));
    }

    /// The text of the last message box; fails when it was not a closing message.
    std::string closing_text() {
        if (m_dialogs.messages.empty()) {
            ADD_FAILURE() << "no message shown";
            return {};
        }
        const testing::MessageShown& last = m_dialogs.messages.back();
        EXPECT_EQ(last.title.toStdString(), closing_title);
        EXPECT_FALSE(last.warning);
        return last.text.toStdString();
    }

    void expect_usable() {
        EXPECT_FALSE(m_window.running());
        EXPECT_TRUE(control<QPushButton>("Command3").isEnabled());
        EXPECT_TRUE(control<QPushButton>("Command1").isEnabled());
        EXPECT_TRUE(control<QGroupBox>("Frame1").isEnabled());
        EXPECT_TRUE(text_box("Text2").isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(m_window.isVisible());
    }

    QTemporaryDir m_temp;
    testing::ScriptedDialogs m_dialogs;
    MainWindow m_window{m_dialogs};
};

// ---------------------------------------------------------------------------------------
// The form as it opens

TEST_F(MainWindowTest, OpensWithEveryCaptionAndTheInitialTexts) {
    EXPECT_EQ(m_window.objectName().toStdString(), "tarvel");
    EXPECT_EQ(m_window.windowTitle().toStdString(), "TARVEL");

    EXPECT_EQ(caption("Label1"), "TARVEL: Eliminar NODOS Supérfluos y marca errores de sentido");
    EXPECT_EQ(caption("Label2"), "Fichero DIGI de Entrada:");
    EXPECT_EQ(caption("Label3"), "Fichero de Salida:");
    EXPECT_EQ(caption("Label11"), "Fichero de Códigos con \"sentido\" :");
    EXPECT_EQ(caption("Label4"), "Tolerancia:");
    EXPECT_EQ(caption("Label8"), "metros.");
    EXPECT_EQ(caption("Label6"), "Metros");
    EXPECT_EQ(caption("Label7"), "Centímetros");
    EXPECT_EQ(caption("Label9"), "Milímetros");
    EXPECT_EQ(caption("Label10"), "Salida de Todos los Elementos");
    EXPECT_EQ(m_window.findChild<QWidget*>(QStringLiteral("Label5")), nullptr);

    EXPECT_EQ(control<QGroupBox>("Frame1").title().toStdString(), "Unidades");
    EXPECT_EQ(control<QGroupBox>("Frame2").title().toStdString(), "Procesar");
    for (const char* picker : {"Command1", "Command2", "Command4"}) {
        EXPECT_EQ(control<QPushButton>(picker).text().toStdString(), "...") << picker;
    }
    EXPECT_EQ(control<QPushButton>("Command3").text().toStdString(), "Proceso");
    EXPECT_TRUE(control<QPushButton>("Command3").isEnabled());
    EXPECT_EQ(control<QRadioButton>("Option4").text().toStdString(), "Todos");
    EXPECT_EQ(control<QRadioButton>("Option5").text().toStdString(), "Uno");

    EXPECT_EQ(shown("Text1"), "");
    EXPECT_EQ(shown("Text2"), "");
    EXPECT_EQ(shown("Text3"), "");
    EXPECT_EQ(shown("tole"), "0.10");

    EXPECT_EQ(control<QLabel>("Label1").font().families().value(0).toStdString(), "Arial Narrow");
    EXPECT_FALSE(m_window.findChild<QProgressBar*>()->isVisible());
}

TEST_F(MainWindowTest, OpensWithMillimetresAndAllFilesSelectedAndAllElementsUnchecked) {
    EXPECT_FALSE(control<QRadioButton>("Option1").isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option2").isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option3").isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option4").isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option5").isChecked());
    EXPECT_FALSE(control<QCheckBox>("Check1").isChecked());
}

TEST_F(MainWindowTest, UnitOptionsAndCheckBoxAreCaptionedOnlyByTheLabelsBesideThem) {
    const std::pair<const char*, const char*> captioned[] = {
        {"Option1", "Label6"}, {"Option2", "Label7"}, {"Option3", "Label9"}, {"Check1", "Label10"}};
    for (const auto& [button_name, label_name] : captioned) {
        auto& button = control<QAbstractButton>(button_name);
        auto& label = control<QLabel>(label_name);
        EXPECT_EQ(button.text().toStdString(), "") << button_name;
        EXPECT_EQ(label.buddy(), &button) << label_name;
        EXPECT_EQ(button.accessibleName(), label.text()) << button_name;
    }
    for (const char* unit : {"Option1", "Option2", "Option3"}) {
        EXPECT_TRUE(control<QGroupBox>("Frame1").isAncestorOf(&control<QWidget>(unit))) << unit;
    }
    for (const char* mode : {"Option4", "Option5"}) {
        EXPECT_TRUE(control<QGroupBox>("Frame2").isAncestorOf(&control<QWidget>(mode))) << mode;
    }
}

TEST_F(MainWindowTest, ClickingACaptionLabelActsOnItsButton) {
    QTest::mouseClick(&control<QLabel>("Label7"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>("Option2").isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option3").isChecked());

    QTest::mouseClick(&control<QLabel>("Label6"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>("Option1").isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option2").isChecked());

    QTest::mouseClick(&control<QLabel>("Label10"), Qt::LeftButton);
    EXPECT_TRUE(control<QCheckBox>("Check1").isChecked());
    QTest::mouseClick(&control<QLabel>("Label10"), Qt::LeftButton);
    EXPECT_FALSE(control<QCheckBox>("Check1").isChecked());
}

TEST_F(MainWindowTest, UnitsAndModeAreTwoSeparateGroupsOfOneChoiceEach) {
    QTest::mouseClick(&control<QRadioButton>("Option1"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>("Option1").isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option3").isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option4").isChecked());

    choose_one_file();
    EXPECT_TRUE(control<QRadioButton>("Option5").isChecked());
    EXPECT_FALSE(control<QRadioButton>("Option4").isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option1").isChecked());
}

// ---------------------------------------------------------------------------------------
// Pickers

TEST_F(MainWindowTest, InputPickerShowsTheFileAndReplacesTheOutputNameByTheDerivedOne) {
    const fs::path sheet = path("hoja12.bin");
    write_bytes(sheet.string(), two_pieces());
    text_box("Text2").setText(QStringLiteral("tecleado.bin"));

    pick_input(sheet);

    ASSERT_EQ(m_dialogs.pickers.size(), 1u);
    EXPECT_EQ(m_dialogs.pickers[0].title.toStdString(), "Seleccinar fichero .bin a tratar");
    EXPECT_EQ(m_dialogs.pickers[0].filter.toStdString(), "Fichero BIN (*.bin)");
    EXPECT_EQ(m_dialogs.pickers[0].existence, Existence::must_exist);
    EXPECT_EQ(shown("Text1"), sheet.string());
    EXPECT_EQ(shown("Text2"), path("hoja12_sal.bin").string());

    // The next pick starts where the last one ended.
    pick_input(sheet);
    EXPECT_EQ(to_path(m_dialogs.pickers[1].folder), sheet.parent_path());
}

TEST_F(MainWindowTest, InputPickerDerivesTheOutputNameFromTheFileNameOnly) {
    const fs::path sheet = folder("mapa.final") / "hoja.v2.bin";
    write_bytes(sheet.string(), two_pieces());

    pick_input(sheet);

    EXPECT_EQ(shown("Text2"), (path("mapa.final") / "hoja_sal.v2.bin").string());
}

TEST_F(MainWindowTest, InputPickerReportsAFolderThatCannotBeListedAndStaysUsable) {
    const fs::path missing = path("no_existe") / "hoja.bin";

    pick_input(missing);

    ASSERT_EQ(m_dialogs.messages.size(), 1u);
    EXPECT_TRUE(m_dialogs.messages[0].warning);
    EXPECT_EQ(m_dialogs.messages[0].title.toStdString(), "TARVEL");
    EXPECT_NE(m_dialogs.messages[0].text.toStdString().find("no_existe"), std::string::npos);
    EXPECT_EQ(shown("Text1"), missing.string());
    expect_usable();

    // No batch list was built: "Proceso" processes nothing.
    process_and_wait();
    EXPECT_EQ(closing_text(), success_text);
}

TEST_F(MainWindowTest, OutputPickerSetsOnlyTheOutputName) {
    const fs::path sheet = path("hoja.bin");
    write_bytes(sheet.string(), two_pieces());
    pick_input(sheet);

    m_dialogs.answers.push_back(to_qstring(path("nueva.bin")));
    control<QPushButton>("Command2").click();

    const testing::PickerShown& picker = m_dialogs.pickers.back();
    EXPECT_EQ(picker.title.toStdString(), "Seleccinar fichero .bin de salida");
    EXPECT_EQ(picker.filter.toStdString(), "Fichero BIN (*.bin)");
    EXPECT_EQ(picker.existence, Existence::may_be_new);
    EXPECT_EQ(shown("Text1"), sheet.string());
    EXPECT_EQ(shown("Text2"), path("nueva.bin").string());
    EXPECT_EQ(shown("Text3"), "");
}

TEST_F(MainWindowTest, CodesPickerSetsOnlyTheCodesFileName) {
    m_dialogs.answers.push_back(to_qstring(path("sentido.CFG")));
    control<QPushButton>("Command4").click();

    ASSERT_EQ(m_dialogs.pickers.size(), 1u);
    EXPECT_EQ(m_dialogs.pickers[0].title.toStdString(),
              "Seleccinar fichero de códigos con 'sentido' ");
    EXPECT_EQ(m_dialogs.pickers[0].filter.toStdString(), "Fichero CFG (*.CFG)");
    EXPECT_EQ(m_dialogs.pickers[0].existence, Existence::must_exist);
    EXPECT_EQ(shown("Text3"), path("sentido.CFG").string());
    EXPECT_EQ(shown("Text1"), "");
    EXPECT_EQ(shown("Text2"), "");
}

TEST_F(MainWindowTest, CancellingAnyPickerChangesNothing) {
    const fs::path first = folder("primera");
    write_bytes((first / "a.bin").string(), two_pieces());
    write_text(path("sentido.CFG"), "OTRO001,0\n");
    pick_input(first / "a.bin");
    m_dialogs.answers.push_back(to_qstring(path("sentido.CFG")));
    control<QPushButton>("Command4").click();
    text_box("Text2").setText(QStringLiteral("tecleado.bin"));

    const fs::path second = folder("segunda");
    write_bytes((second / "z.bin").string(), two_pieces());
    for (const char* picker : {"Command1", "Command2", "Command4"}) {
        m_dialogs.answers.push_back(QString());
        control<QPushButton>(picker).click();
    }

    EXPECT_EQ(m_dialogs.pickers.size(), 5u);
    EXPECT_EQ(shown("Text1"), (first / "a.bin").string());
    EXPECT_EQ(shown("Text2"), "tecleado.bin");
    EXPECT_EQ(shown("Text3"), path("sentido.CFG").string());
    // The batch list is still the one of the first folder.
    process_and_wait();
    EXPECT_EQ(closing_text(), success_text);
    EXPECT_TRUE(fs::exists(first / "a_sal.bin"));
    EXPECT_FALSE(fs::exists(second / "z_sal.bin"));
}

// ---------------------------------------------------------------------------------------
// "Proceso" with one file

TEST_F(MainWindowTest, OneFileIsWrittenToTheDerivedNameWhenNoOutputIsGiven) {
    const fs::path sheet = path("hoja12.bin");
    write_bytes(sheet.string(), two_pieces());
    choose_one_file();
    pick_input(sheet);
    text_box("Text2").clear();

    process_and_wait();

    EXPECT_EQ(read_bytes(path("hoja12_sal.bin").string()), joined());
    EXPECT_EQ(shown("Text2"), path("hoja12_sal.bin").string());
    EXPECT_EQ(shown("Text1"), sheet.string());
    EXPECT_EQ(closing_text(), success_text);
    EXPECT_EQ(m_dialogs.messages.size(), 1u);
    expect_usable();
}

TEST_F(MainWindowTest, OneFileIsWrittenToTheNameTypedAsOutput) {
    const fs::path sheet = path("hoja12.bin");
    write_bytes(sheet.string(), two_pieces());
    choose_one_file();
    pick_input(sheet);
    text_box("Text2").setText(to_qstring(path("elegida.bin")));

    process_and_wait();

    EXPECT_EQ(read_bytes(path("elegida.bin").string()), joined());
    EXPECT_FALSE(fs::exists(path("hoja12_sal.bin")));
    EXPECT_EQ(shown("Text2"), path("elegida.bin").string());
    EXPECT_EQ(closing_text(), success_text);

    // A second press processes the same file again, to the same name.
    write_bytes(path("elegida.bin").string(), truncated());
    process_and_wait();
    EXPECT_EQ(read_bytes(path("elegida.bin").string()), joined());
    EXPECT_EQ(m_dialogs.messages.size(), 2u);
}

TEST_F(MainWindowTest, AllElementsCheckedWritesTheTextsToo) {
    const fs::path sheet = path("hoja.bin");
    write_bytes(sheet.string(), two_pieces());
    choose_one_file();
    pick_input(sheet);
    QTest::mouseClick(&control<QCheckBox>("Check1"), Qt::LeftButton);
    ASSERT_TRUE(control<QCheckBox>("Check1").isChecked());

    process_and_wait();

    EXPECT_EQ(read_bytes(path("hoja_sal.bin").string()), joined_and_text());
}

TEST_F(MainWindowTest, UnitOptionReachesTheRun) {
    const fs::path sheet = path("rio.bin");
    write_bytes(sheet.string(), head_to_head());
    write_text(path("sentido.CFG"), "RIO0001,1\n");
    choose_one_file();
    pick_input(sheet);
    text_box("Text3").setText(to_qstring(path("sentido.CFG")));

    const fs::path reference = folder("referencia");
    write_bytes((reference / "rio.bin").string(), head_to_head());
    const std::pair<const char*, run::Unit> units[] = {{"Option1", run::Unit::metres},
                                                       {"Option2", run::Unit::centimetres},
                                                       {"Option3", run::Unit::millimetres}};
    std::vector<std::vector<std::byte>> error_files;
    for (const auto& [option, unit] : units) {
        QTest::mouseClick(&control<QRadioButton>(option), Qt::LeftButton);
        process_and_wait();
        ASSERT_TRUE(fs::exists(path("rio_err.bin"))) << option;
        error_files.push_back(read_bytes(path("rio_err.bin").string()));

        run::RunSettings settings;
        settings.input = reference / "rio.bin";
        settings.codes = path("sentido.CFG");
        settings.unit = unit;
        (void)run::ProcesamosFichero(settings);
        EXPECT_EQ(error_files.back(), read_bytes((reference / "rio_err.bin").string())) << option;
        EXPECT_EQ(read_bytes(path("rio_sal.bin").string()),
                  read_bytes((reference / "rio_sal.bin").string()))
            << option;
    }
    // Each unit gives markers of its own size.
    EXPECT_NE(error_files[0], error_files[1]);
    EXPECT_NE(error_files[1], error_files[2]);
    EXPECT_NE(error_files[0], error_files[2]);
}

TEST_F(MainWindowTest, AFailedRunIsReportedAndTheWindowStaysUsable) {
    const fs::path sheet = path("hoja.bin");
    write_bytes(sheet.string(), two_pieces());
    choose_one_file();
    pick_input(sheet);
    text_box("Text3").setText(to_qstring(path("no_existe.CFG")));

    process_and_wait();

    const std::string text = closing_text();
    EXPECT_NE(text.rfind(success_text, 0), 0u) << text;
    EXPECT_NE(text.find("no_existe.CFG"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(path("hoja_sal.bin")));
    expect_usable();

    text_box("Text3").clear();
    process_and_wait();
    EXPECT_EQ(closing_text(), success_text);
    EXPECT_EQ(read_bytes(path("hoja_sal.bin").string()), joined());
}

TEST_F(MainWindowTest, ProcesoWithNoInputPickedReportsAFailure) {
    choose_one_file();

    process_and_wait();

    // The reason says what is missing; it names no file, so no line opens with ": ".
    const std::string text = closing_text();
    EXPECT_NE(text.rfind(success_text, 0), 0u) << text;
    EXPECT_NE(text.find("\nno se ha elegido el fichero DIGI de entrada"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("\n:"), std::string::npos) << text;
    expect_usable();
}

// ---------------------------------------------------------------------------------------
// "Proceso" with every file of the folder

TEST_F(MainWindowTest, AllFilesOfTheFolderAreProcessedEachWithItsDerivedName) {
    write_bytes(path("a.bin").string(), two_pieces(0));
    write_bytes(path("b.bin").string(), two_pieces(100));
    write_bytes(path("c.bin").string(), two_pieces(200));
    write_text(path("d.txt"), "no es una hoja");
    pick_input(path("c.bin"));
    text_box("Text2").setText(QStringLiteral("tecleado.bin"));
    std::vector<std::string> inputs_shown;
    std::vector<std::string> outputs_shown;
    QObject::connect(&text_box("Text1"), &QLineEdit::textChanged,
                     [&](const QString& text) { inputs_shown.push_back(text.toStdString()); });
    QObject::connect(&text_box("Text2"), &QLineEdit::textChanged,
                     [&](const QString& text) { outputs_shown.push_back(text.toStdString()); });

    process_and_wait();

    EXPECT_EQ(read_bytes(path("a_sal.bin").string()), joined(0));
    EXPECT_EQ(read_bytes(path("b_sal.bin").string()), joined(100));
    EXPECT_EQ(read_bytes(path("c_sal.bin").string()), joined(200));
    EXPECT_FALSE(fs::exists(path("tecleado.bin")));
    EXPECT_FALSE(fs::exists(path("d_sal.txt")));
    const std::vector<std::string> expected_inputs{path("a.bin").string(), path("b.bin").string(),
                                                   path("c.bin").string()};
    const std::vector<std::string> expected_outputs{
        path("a_sal.bin").string(), path("b_sal.bin").string(), path("c_sal.bin").string()};
    EXPECT_EQ(inputs_shown, expected_inputs);
    EXPECT_EQ(outputs_shown, expected_outputs);
    EXPECT_EQ(m_dialogs.messages.size(), 1u);
    EXPECT_EQ(closing_text(), success_text);
    expect_usable();
}

TEST_F(MainWindowTest, TheBatchListIsTheOneBuiltWhenTheInputWasPicked) {
    write_bytes(path("a.bin").string(), two_pieces());
    pick_input(path("a.bin"));
    write_bytes(path("b.bin").string(), two_pieces());

    process_and_wait();

    EXPECT_TRUE(fs::exists(path("a_sal.bin")));
    EXPECT_FALSE(fs::exists(path("b_sal.bin")));
    EXPECT_EQ(closing_text(), success_text);
}

TEST_F(MainWindowTest, AFailedFileOfABatchIsNamedAndTheOtherFilesAreProcessed) {
    write_bytes(path("a.bin").string(), two_pieces(0));
    write_bytes(path("b.bin").string(), truncated());
    write_bytes(path("c.bin").string(), two_pieces(200));
    pick_input(path("a.bin"));

    process_and_wait();

    const std::string text = closing_text();
    EXPECT_NE(text.rfind(success_text, 0), 0u) << text;
    EXPECT_NE(text.find(path("b.bin").string()), std::string::npos) << text;
    EXPECT_EQ(text.find(path("a.bin").string()), std::string::npos) << text;
    EXPECT_EQ(text.find(path("c.bin").string()), std::string::npos) << text;
    EXPECT_EQ(read_bytes(path("a_sal.bin").string()), joined(0));
    EXPECT_FALSE(fs::exists(path("b_sal.bin")));
    EXPECT_EQ(read_bytes(path("c_sal.bin").string()), joined(200));
    expect_usable();

    // The same list again, now that the file is sound.
    write_bytes(path("b.bin").string(), two_pieces(100));
    process_and_wait();
    EXPECT_EQ(closing_text(), success_text);
    EXPECT_EQ(read_bytes(path("b_sal.bin").string()), joined(100));
}

TEST_F(MainWindowTest, SwitchingToAllFilesAfterPickingOneProcessesNothing) {
    write_bytes(path("a.bin").string(), two_pieces());
    write_bytes(path("b.bin").string(), two_pieces());
    choose_one_file();
    pick_input(path("a.bin"));
    choose_all_files();

    process_and_wait();

    EXPECT_FALSE(fs::exists(path("a_sal.bin")));
    EXPECT_FALSE(fs::exists(path("b_sal.bin")));
    EXPECT_EQ(m_dialogs.messages.size(), 1u);
    EXPECT_EQ(closing_text(), success_text);
    expect_usable();
}

TEST_F(MainWindowTest, TheWindowIsBusyWhileTheRunGoesOnAndUsableAfter) {
    write_bytes(path("a.bin").string(), two_pieces(0));
    write_bytes(path("b.bin").string(), two_pieces(100));
    write_bytes(path("c.bin").string(), two_pieces(200));
    pick_input(path("a.bin"));
    auto& process = control<QPushButton>("Command3");
    auto& progress = control<QProgressBar>("Progress");
    QSignalSpy finished(&m_window, &MainWindow::run_finished);

    process.click();

    // Until the worker reports back through the event loop the run cannot have ended.
    EXPECT_TRUE(m_window.running());
    EXPECT_FALSE(process.isEnabled());
    EXPECT_FALSE(control<QPushButton>("Command1").isEnabled());
    EXPECT_FALSE(control<QGroupBox>("Frame2").isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(progress.maximum(), 3);
    process.click();
    EXPECT_FALSE(m_window.close());
    EXPECT_TRUE(m_window.isVisible());

    ASSERT_TRUE(finished.wait(safety_timeout_ms));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(m_dialogs.messages.size(), 1u);
    EXPECT_EQ(progress.value(), 3);
    EXPECT_EQ(control<QLabel>("ProgressLine").text().toStdString(), "Fichero 3 de 3: c.bin");
    EXPECT_FALSE(progress.isVisible());
    expect_usable();
    EXPECT_TRUE(m_window.close());
}

} // namespace
} // namespace tarvel::ui
