// The main window `tarvel`: the input, output and codes pickers, the unit, the output choice
// and one file or the whole folder. "Proceso" turns the controls into run settings and hands
// them to the core on a worker thread; the window only shows progress and the closing
// message. Each control carries its long-standing name as its Qt object name.
#pragma once

#include <QWidget>
#include <filesystem>
#include <vector>

#include "run/batch.hpp"
#include "ui/run_thread.hpp"

class QButtonGroup;
class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace tarvel::ui {

class Dialogs;

class MainWindow : public QWidget {
    Q_OBJECT

public:
    /// `dialogs` answers the pickers and shows the closing message; it must outlive the
    /// window.
    explicit MainWindow(Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    /// True from a "Proceso" press until its closing message has been shown.
    [[nodiscard]] bool running() const noexcept { return m_runner.running(); }

signals:
    /// A run has ended and its closing message has been shown.
    void run_finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_controls();
    void lay_out();
    void connect_controls();

    void pick_input();
    void pick_output();
    void pick_codes();
    void process();

    [[nodiscard]] run::RunSettings read_settings() const;
    void show_input(const std::filesystem::path& input);
    void set_busy(bool busy);
    void on_file_started(int index);
    void on_file_done(int index);
    void on_run_finished();
    void show_failure(const QString& text);
    /// Runs `handler`, showing any exception it throws in a message box.
    template <typename Handler> void guarded(const Handler& handler);

    Dialogs& m_dialogs;
    RunThread m_runner;

    // Per-file state kept between runs: the picked input and the batch list built when it
    // was picked with "Todos" selected.
    std::filesystem::path m_input;
    std::vector<std::filesystem::path> m_batch;
    // The files of the run in progress and whether it is a batch run.
    std::vector<std::filesystem::path> m_run_files;
    bool m_run_is_batch = false;

    QWidget* m_form = nullptr;  // every control but "Proceso" and the progress; off while running
    QLabel* m_banner = nullptr; // Label1
    QLabel* m_input_caption = nullptr;     // Label2
    QLineEdit* m_input_name = nullptr;     // Text1
    QPushButton* m_input_pick = nullptr;   // Command1
    QLabel* m_output_caption = nullptr;    // Label3
    QLineEdit* m_output_name = nullptr;    // Text2
    QPushButton* m_output_pick = nullptr;  // Command2
    QLabel* m_codes_caption = nullptr;     // Label11
    QLineEdit* m_codes_name = nullptr;     // Text3
    QPushButton* m_codes_pick = nullptr;   // Command4
    QGroupBox* m_units = nullptr;          // Frame1
    QRadioButton* m_metres = nullptr;      // Option1
    QRadioButton* m_centimetres = nullptr; // Option2
    QRadioButton* m_millimetres = nullptr; // Option3
    QLabel* m_metres_label = nullptr;      // Label6
    QLabel* m_centimetres_label = nullptr; // Label7
    QLabel* m_millimetres_label = nullptr; // Label9
    QButtonGroup* m_unit_group = nullptr;
    QLabel* m_tolerance_caption = nullptr;  // Label4
    QLineEdit* m_tolerance = nullptr;       // tole
    QLabel* m_tolerance_unit = nullptr;     // Label8
    QCheckBox* m_all_elements = nullptr;    // Check1
    QLabel* m_all_elements_label = nullptr; // Label10
    QGroupBox* m_mode = nullptr;            // Frame2
    QRadioButton* m_all_files = nullptr;    // Option4
    QRadioButton* m_one_file = nullptr;     // Option5
    QButtonGroup* m_mode_group = nullptr;
    QPushButton* m_process = nullptr; // Command3
    QProgressBar* m_progress = nullptr;
    QLabel* m_progress_line = nullptr;
};

} // namespace tarvel::ui
