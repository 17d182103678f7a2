// The main window `tarvel`: the input, output and codes pickers, the unit, the output choice
// and one file or the whole folder. "Proceso" turns the controls into run settings and hands
// them to the core on a worker thread; the window shows progress, a row of results per sheet,
// the map of a sheet with its findings, and the closing message. Each control carries its
// long-standing name as its Qt object name.
#pragma once

#include <QString>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "run/job.hpp"
#include "ui/run_thread.hpp"
#include "ui/sheet_loader.hpp"

class QButtonGroup;
class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSettings;
class QTableWidget;

namespace tarvel::ui {

class Dialogs;
class MapPanel;
struct StartOptions;

/// The tolerance typed as `text`, in metres: a number not below 0, with a point or a comma
/// before its decimals; nothing when the text is not one.
[[nodiscard]] std::optional<double> parse_tolerance(const QString& text);

class MainWindow : public QWidget {
    Q_OBJECT

public:
    /// `dialogs` answers the pickers and shows the messages; it must outlive the window.
    /// `memory`, when given, keeps the folder last used from one start to the next.
    explicit MainWindow(Dialogs& dialogs, QSettings* memory = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    /// True from a "Proceso" (or an export) until its closing message has been shown.
    [[nodiscard]] bool running() const noexcept { return m_runner.running(); }

    /// Takes `input` as the input picker takes a picked file.
    void open_sheet(const std::filesystem::path& input);
    /// Applies what the program's arguments ask: "Uno", a codes file, a sheet picked, and
    /// "Proceso" pressed once the event loop runs.
    void start_with(const StartOptions& options);

signals:
    /// File `index` of the run is done and its row of results is shown.
    void sheet_done(int index);
    /// A run (or an export) has ended and its closing message has been shown.
    void run_finished();
    /// The map shows the sheet of a row chosen in the results table, or could not.
    void map_ready();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    /// What the worker is doing.
    enum class Work { process, save_outputs };

    void build_controls();
    void build_results();
    void lay_out();
    void set_tab_order();
    void connect_controls();

    void pick_input();
    void pick_output();
    void pick_codes();
    void process();
    void cancel();
    void save_outputs(bool report);
    void choose_sheet(int row);

    [[nodiscard]] run::RunSettings read_settings() const;
    [[nodiscard]] QString start_folder(const QString& shown) const;
    void remember_folder(const QString& picked);
    void show_sheet_count();
    void start(Work work, std::vector<std::filesystem::path> files, RunThread::Job job);
    void set_busy(bool busy);
    void show_row(int row, const run::FileOutcome& outcome);
    void on_file_started(int index);
    void on_file_done(int index, const run::FileOutcome& outcome);
    void on_run_finished();
    void show_closing(const run::JobOutcome& outcome);
    void show_failure(const QString& text);
    /// Runs `handler`, showing any exception it throws in a message box.
    template <typename Handler> void guarded(const Handler& handler);

    Dialogs& m_dialogs;
    QSettings* m_memory;
    QString m_last_folder; // where the pickers start
    RunThread m_runner;
    SheetLoader m_loader;

    // Per-file state kept between runs: the picked input and the batch list built when it
    // was picked with "Todos" selected.
    std::filesystem::path m_input;
    std::vector<std::filesystem::path> m_batch;
    // The files of the run in progress and whether it is a batch run.
    std::vector<std::filesystem::path> m_run_files;
    bool m_run_is_batch = false;
    Work m_work = Work::process;
    QString m_saving_to; // the report or export being written
    bool m_saving_report = false;
    bool m_close_when_done = false;

    // The last run: its settings and what became of each sheet (in "Uno" mode with the
    // sheet's details), for the map, the results table and the exports.
    run::JobSettings m_last_job;
    std::vector<run::FileOutcome> m_last_files;

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
    QLabel* m_sheet_count = nullptr;        // beside Option4
    QButtonGroup* m_mode_group = nullptr;
    QPushButton* m_process = nullptr; // Command3
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_progress_line = nullptr;

    QLabel* m_results_caption = nullptr;
    QTableWidget* m_results = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_report = nullptr;
    MapPanel* m_map = nullptr;
};

} // namespace tarvel::ui
