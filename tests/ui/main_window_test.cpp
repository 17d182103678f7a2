#include "ui/main_window.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "run/procesamos_fichero.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/ui/findings_sheet.hpp"
#include "tests/ui/scripted_dialogs.hpp"
#include "ui/map_view.hpp"
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

    /// The text of a cell of the results table.
    std::string result(int row, int column) {
        const QTableWidgetItem* item = control<QTableWidget>("Results").item(row, column);
        return item == nullptr ? std::string() : item->text().toStdString();
    }

    /// Makes the window the active one, so that it has the keyboard.
    void activate() {
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
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

// ---------------------------------------------------------------------------------------
// The map, the findings, the results table and stopping a run

TEST_F(MainWindowTest, ChoosingAFindingInTheListCentresTheMapOnIt) {
    write_bytes(path("hoja.bin").string(), testing::findings_sheet());
    write_text(path("sentido.CFG"), testing::findings_codes);
    choose_one_file();
    pick_input(path("hoja.bin"));
    text_box("Text3").setText(to_qstring(path("sentido.CFG")));
    process_and_wait();

    auto& list = control<QTableView>("Findings");
    auto& map = control<MapView>("Map");
    ASSERT_EQ(list.model()->rowCount(), 5);
    for (int row = 0; row < 5; ++row) {
        // Away from it first, so that choosing it has to move the map.
        map.fit();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualRect(list.model()->index(row, 0)).center());
        (void)map.grab();
        EXPECT_EQ(map.chosen_finding(), static_cast<std::size_t>(row));
        bool drawn = false;
        for (const MapView::DrawnFinding& finding : map.drawn_findings()) {
            if (finding.finding == static_cast<std::size_t>(row)) {
                drawn = true;
                EXPECT_NEAR(finding.pixel.x(), map.width() / 2.0, 1.0) << row;
                EXPECT_NEAR(finding.pixel.y(), map.height() / 2.0, 1.0) << row;
            }
        }
        EXPECT_TRUE(drawn) << row;
    }

    // The pointer over the middle of the map, now on the vertex-limit node, reads its place
    // in metres.
    const QPointF middle(map.width() / 2.0, map.height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, middle, map.mapToGlobal(middle), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&map, &move);
    EXPECT_EQ(caption("PointerPlace"), "X: 19.999 m   Y: 30.000 m");
}

TEST_F(MainWindowTest, ABatchSheetChosenInTheResultsIsReadAgainForItsMap) {
    write_bytes(path("a.bin").string(), two_pieces());
    write_bytes(path("b.bin").string(), testing::findings_sheet());
    write_text(path("sentido.CFG"), testing::findings_codes);
    pick_input(path("a.bin"));
    text_box("Text3").setText(to_qstring(path("sentido.CFG")));
    process_and_wait();
    auto& map = control<MapView>("Map");
    EXPECT_EQ(map.map(), nullptr);

    QSignalSpy ready(&m_window, &MainWindow::map_ready);
    control<QTableWidget>("Results").setCurrentCell(1, 0);
    ASSERT_TRUE(ready.wait(safety_timeout_ms));

    ASSERT_NE(map.map(), nullptr);
    EXPECT_EQ(map.map()->findings().size(), 5u);
    EXPECT_EQ(control<QLabel>("MapTitle").text().toStdString(), "b.bin");
    EXPECT_EQ(control<QTableView>("Findings").model()->rowCount(), 5);
}

TEST_F(MainWindowTest, ManyFailedSheetsGetARowEachAndAClosingBoxNoTallerThanTheScreen) {
    constexpr int failed = 60;
    write_bytes(path("a_bien.bin").string(), two_pieces());
    for (int i = 0; i < failed; ++i) {
        write_bytes(path("hoja" + std::to_string(100 + i) + ".bin").string(), truncated());
    }
    pick_input(path("a_bien.bin"));

    process_and_wait();

    auto& table = control<QTableWidget>("Results");
    ASSERT_EQ(table.rowCount(), failed + 1);
    EXPECT_EQ(result(0, 1), "Correcta");
    EXPECT_EQ(result(0, 3), "1");
    for (int row = 1; row <= failed; ++row) {
        EXPECT_EQ(result(row, 1), "Fallida") << row;
        EXPECT_NE(result(row, 9).find("byte 1"), std::string::npos) << result(row, 9);
    }
    EXPECT_GT(table.verticalScrollBar()->maximum(), 0);

    const testing::MessageShown& closing = m_dialogs.messages.back();
    EXPECT_EQ(closing.text.toStdString(),
              "PROCESO Terminado con errores. Ficheros no procesados: 60 de 61.");
    for (int i = 0; i < failed; ++i) {
        EXPECT_TRUE(closing.detail.contains(QStringLiteral("hoja%1.bin").arg(100 + i))) << i;
    }
    const auto box = message_box(&m_window, QMessageBox::Information, closing.title, closing.text,
                                 closing.detail);
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    EXPECT_LE(box->frameGeometry().height(), box->screen()->availableGeometry().height());
}

TEST_F(MainWindowTest, AStoppedBatchKeepsTheSheetsDoneAndLeavesNoTemporary) {
    struct Case {
        const char* name;
        bool by_closing; // the window is closed and the user agrees to cancel
    };
    for (const Case c : {Case{"Cancelar", false}, Case{"closing the window", true}}) {
        SCOPED_TRACE(c.name);
        const fs::path batch = folder(c.name);
        for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
            write_bytes((batch / name).string(), two_pieces());
        }
        m_window.show();
        pick_input(batch / "a.bin");
        m_dialogs.messages.clear();
        // Stopped once the first sheet is done and shown.
        const QMetaObject::Connection stop =
            QObject::connect(&m_window, &MainWindow::sheet_done, [&](int index) {
                if (index != 0) {
                    return;
                }
                if (c.by_closing) {
                    m_dialogs.yes.push_back(true);
                    m_window.close();
                } else {
                    control<QPushButton>("CancelButton").click();
                }
            });

        process_and_wait();
        QObject::disconnect(stop);

        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(batch)) {
            names.insert(entry.path().filename().string());
        }
        EXPECT_EQ(names, (std::set<std::string>{"a.bin", "a_sal.bin", "b.bin", "c.bin"}));
        EXPECT_EQ(result(0, 1), "Correcta");
        EXPECT_EQ(result(1, 1), "Cancelada");
        EXPECT_EQ(result(2, 1), "Cancelada");
        if (c.by_closing) {
            EXPECT_TRUE(m_dialogs.messages.empty());
            EXPECT_FALSE(m_window.isVisible());
        } else {
            EXPECT_EQ(closing_text(), "PROCESO Cancelado. Hojas terminadas: 1 de 3.");
            expect_usable();
        }
    }
}

TEST_F(MainWindowTest, TheToleranceReachesTheRunOrIsRefusedWithTheFieldFocused) {
    write_bytes(path("camino.bin").string(), testing::findings_sheet());
    choose_one_file();
    pick_input(path("camino.bin"));
    activate();
    struct Case {
        const char* typed;
        int near_misses; // -1: refused
    };
    // The two pieces of the path stop 0.05 m short of each other.
    const Case cases[] = {{"0.10", 1},  {"0,10", 1},  {" 0.06 ", 1}, {"0.01", 0},   {"0", 0},
                          {"-0.1", -1}, {"diez", -1}, {"", -1},      {"0,1,0", -1}, {"nan", -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        text_box("tole").setText(QString::fromUtf8(c.typed));
        control<QPushButton>("Command1").setFocus();
        fs::remove(path("camino_sal.bin"));
        m_dialogs.messages.clear();
        if (c.near_misses >= 0) {
            process_and_wait();
            EXPECT_EQ(result(0, 5), std::to_string(c.near_misses));
            EXPECT_EQ(closing_text(), success_text);
            continue;
        }
        QSignalSpy finished(&m_window, &MainWindow::run_finished);
        control<QPushButton>("Command3").click();
        EXPECT_FALSE(m_window.running());
        EXPECT_EQ(finished.count(), 0);
        EXPECT_FALSE(fs::exists(path("camino_sal.bin")));
        ASSERT_EQ(m_dialogs.messages.size(), 1u);
        EXPECT_TRUE(m_dialogs.messages[0].warning);
        EXPECT_EQ(m_dialogs.messages[0].text.toStdString(),
                  "La tolerancia debe ser un número de metros no negativo, por ejemplo 0.10 o "
                  "0,10.");
        EXPECT_EQ(QApplication::focusWidget(), &text_box("tole"));
    }
}

TEST_F(MainWindowTest, TabFollowsTheReadingOrderAndReturnPressesProceso) {
    activate();
    const auto tab_chain = [&] {
        text_box("Text1").setFocus();
        std::vector<std::string> chain{QApplication::focusWidget()->objectName().toStdString()};
        while (chain.back() != "Command3" && chain.size() < 20) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            chain.push_back(QApplication::focusWidget()->objectName().toStdString());
        }
        return chain;
    };
    EXPECT_EQ(tab_chain(), (std::vector<std::string>{"Text1", "Command1", "Text2", "Command2",
                                                     "Text3", "Command4", "Option3", "Option4",
                                                     "tole", "Check1", "Command3"}));
    // Entering a group of options lands on the one checked.
    QTest::mouseClick(&control<QRadioButton>("Option1"), Qt::LeftButton);
    choose_one_file();
    EXPECT_EQ(tab_chain(), (std::vector<std::string>{"Text1", "Command1", "Text2", "Command2",
                                                     "Text3", "Command4", "Option1", "Option5",
                                                     "tole", "Check1", "Command3"}));

    write_bytes(path("hoja.bin").string(), two_pieces());
    pick_input(path("hoja.bin"));
    struct Case {
        const char* focus;
        bool runs;
    };
    for (const Case c : {Case{"tole", true}, Case{"Option5", true}, Case{"Results", false}}) {
        SCOPED_TRACE(c.focus);
        m_dialogs.messages.clear();
        QWidget& focused = control<QWidget>(c.focus);
        focused.setFocus();
        QSignalSpy finished(&m_window, &MainWindow::run_finished);
        QTest::keyClick(&focused, Qt::Key_Return);
        EXPECT_EQ(m_window.running() || finished.count() > 0, c.runs);
        if (c.runs) {
            ASSERT_TRUE(finished.count() > 0 || finished.wait(safety_timeout_ms));
            EXPECT_EQ(closing_text(), success_text);
        }
    }
}

TEST_F(MainWindowTest, BesideTodosTheNumberOfSheetsOfTheFolderShows) {
    struct Case {
        int sheets;
        const char* shown;
    };
    for (const Case c : {Case{1, "1 hoja"}, Case{12, "12 hojas"}}) {
        const fs::path sheets = folder(std::to_string(c.sheets));
        for (int i = 0; i < c.sheets; ++i) {
            write_bytes((sheets / ("h" + std::to_string(i) + ".bin")).string(), two_pieces());
        }
        write_text(sheets / "notas.txt", "no es una hoja");
        pick_input(sheets / "h0.bin");
        EXPECT_EQ(caption("SheetCount"), c.shown);
    }
}

TEST_F(MainWindowTest, PickersStartInTheFolderLastUsedEvenAfterARestart) {
    const QString memory_file = m_temp.filePath(QStringLiteral("tarvel-gui.ini"));
    const fs::path sheets = folder("hojas");
    const fs::path codes = folder("codigos");
    write_bytes((sheets / "a.bin").string(), two_pieces());
    {
        QSettings memory(memory_file, QSettings::IniFormat);
        testing::ScriptedDialogs dialogs;
        MainWindow first(dialogs, &memory);
        dialogs.answers = {to_qstring(sheets / "a.bin"), to_qstring(codes / "s.CFG")};
        first.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        first.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
        EXPECT_EQ(to_path(dialogs.pickers[1].folder), sheets);
    }
    QSettings memory(memory_file, QSettings::IniFormat);
    testing::ScriptedDialogs dialogs;
    MainWindow second(dialogs, &memory);
    second.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    ASSERT_EQ(dialogs.pickers.size(), 1u);
    EXPECT_EQ(to_path(dialogs.pickers[0].folder), codes);
}

TEST_F(MainWindowTest, TheReportAndTheExportOfTheLastRunAreSavedFromTheWindow) {
    write_bytes(path("hoja.bin").string(), testing::findings_sheet());
    choose_one_file();
    pick_input(path("hoja.bin"));
    EXPECT_FALSE(control<QPushButton>("ReportButton").isEnabled());
    process_and_wait();
    fs::remove(path("hoja_sal.bin"));

    for (const char* button : {"ReportButton", "ExportButton"}) {
        SCOPED_TRACE(button);
        const bool report = std::string(button) == "ReportButton";
        const fs::path target = path(report ? "informe.json" : "capas.gpkg");
        m_dialogs.answers.push_back(to_qstring(target));
        m_dialogs.messages.clear();
        QSignalSpy finished(&m_window, &MainWindow::run_finished);
        control<QPushButton>(button).click();
        ASSERT_TRUE(finished.count() > 0 || finished.wait(safety_timeout_ms));
        ASSERT_EQ(m_dialogs.messages.size(), 1u);
        const testing::MessageShown& said = m_dialogs.messages[0];
        EXPECT_TRUE(said.text.contains(to_qstring(target))) << said.text.toStdString();
        EXPECT_FALSE(said.warning) << said.text.toStdString();
        EXPECT_TRUE(fs::exists(target));
        EXPECT_FALSE(fs::exists(path("hoja_sal.bin")));
        expect_usable();
    }
    const std::vector<std::byte> report = read_bytes(path("informe.json").string());
    const std::string text(reinterpret_cast<const char*>(report.data()), report.size());
    EXPECT_NE(text.find("\"extremos_casi_unidos\":1"), std::string::npos) << text.substr(0, 400);
}

} // namespace
} // namespace tarvel::ui
