#include "ui/main_window.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSizePolicy>
#include <QSplitter>
#include <QStringList>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "run/messages.hpp"
#include "run/output_names.hpp"
#include "run/procesamos_fichero.hpp"
#include "ui/dialogs.hpp"
#include "ui/map_panel.hpp"
#include "ui/paths.hpp"
#include "ui/start.hpp"
#include "ui/texts.hpp"

namespace tarvel::ui {
namespace {

QString from_utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A label that captions a button without text of its own: clicking the label acts on the
/// button as a click on the button would, and the label's text is the button's name for
/// assistive tools.
class ButtonCaption : public QLabel {
public:
    ButtonCaption(const QString& text, QAbstractButton* button, QWidget* parent)
        : QLabel(text, parent) {
        setBuddy(button);
        button->setAccessibleName(text);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        auto* button = qobject_cast<QAbstractButton*>(buddy());
        if (event->button() == Qt::LeftButton && button != nullptr && button->isEnabled() &&
            rect().contains(event->position().toPoint())) {
            button->setFocus(Qt::MouseFocusReason);
            button->click();
            event->accept();
            return;
        }
        QLabel::mouseReleaseEvent(event);
    }
};

template <typename Widget> Widget* named(Widget* widget, const char* object_name) {
    widget->setObjectName(QString::fromLatin1(object_name));
    return widget;
}

/// Where the folder last used is kept between starts.
constexpr char folder_key[] = "carpeta";

/// The closing message of a run holds its whole text in the box up to this many lines;
/// beyond, the box shows the first line and the rest scrolls in its details, so it never
/// grows taller than the screen.
constexpr qsizetype closing_lines_in_box = 8;

enum ResultColumn {
    sheet_column,
    status_column,
    lines_column,
    joins_column,
    errors_column,
    near_column,
    z_column,
    rings_column,
    limit_column,
    reason_column,
    result_columns
};
static_assert(std::size(text::results_columns) == result_columns);

/// Radio buttons of one group take the keyboard in turn only through the checked one: Tab
/// enters the group there, the arrow keys move within it.
void follow_checked(QButtonGroup* group) {
    const auto update = [group] {
        for (QAbstractButton* button : group->buttons()) {
            const Qt::FocusPolicy policy = button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus;
            button->setFocusPolicy(policy);
        }
    };
    QObject::connect(group, &QButtonGroup::buttonToggled, group, update);
    update();
}

QTableWidgetItem* cell(const QString& text, bool number = false) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (number) {
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    return item;
}

} // namespace

std::optional<double> parse_tolerance(const QString& text) {
    QString number = text.trimmed();
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    if (!ok || !std::isfinite(value) || value < 0) {
        return std::nullopt;
    }
    return value;
}

MainWindow::MainWindow(Dialogs& dialogs, QSettings* memory, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs), m_memory(memory) {
    setObjectName(QStringLiteral("tarvel"));
    setWindowTitle(QString::fromUtf8(text::window_title));
    if (m_memory != nullptr) {
        m_last_folder = m_memory->value(QString::fromLatin1(folder_key)).toString();
    }
    build_controls();
    build_results();
    lay_out();
    set_tab_order();
    connect_controls();
}

MainWindow::~MainWindow() = default;

void MainWindow::build_controls() {
    m_form = new QWidget(this);

    m_banner = named(new QLabel(QString::fromUtf8(text::banner), m_form), "Label1");
    QFont banner_font = m_banner->font();
    // The banner's face, with narrow faces that look alike where it is not installed.
    banner_font.setFamilies({QStringLiteral("Arial Narrow"),
                             QStringLiteral("Liberation Sans Narrow"),
                             QStringLiteral("DejaVu Sans Condensed")});
    banner_font.setPointSizeF(banner_font.pointSizeF() * 1.4);
    banner_font.setBold(true);
    m_banner->setFont(banner_font);

    m_input_caption = named(new QLabel(QString::fromUtf8(text::input_caption), m_form), "Label2");
    m_input_name = named(new QLineEdit(m_form), "Text1");
    // The input is the picked file: a typed name would never be processed, so the box only
    // shows it.
    m_input_name->setReadOnly(true);
    m_input_pick =
        named(new QPushButton(QString::fromUtf8(text::picker_button), m_form), "Command1");

    m_output_caption = named(new QLabel(QString::fromUtf8(text::output_caption), m_form), "Label3");
    m_output_name = named(new QLineEdit(m_form), "Text2");
    m_output_pick =
        named(new QPushButton(QString::fromUtf8(text::picker_button), m_form), "Command2");

    m_codes_caption = named(new QLabel(QString::fromUtf8(text::codes_caption), m_form), "Label11");
    m_codes_name = named(new QLineEdit(m_form), "Text3");
    m_codes_pick =
        named(new QPushButton(QString::fromUtf8(text::picker_button), m_form), "Command4");

    m_input_caption->setBuddy(m_input_name);
    m_output_caption->setBuddy(m_output_name);
    m_codes_caption->setBuddy(m_codes_name);
    m_input_pick->setAccessibleName(m_input_caption->text());
    m_output_pick->setAccessibleName(m_output_caption->text());
    m_codes_pick->setAccessibleName(m_codes_caption->text());

    m_units = named(new QGroupBox(QString::fromUtf8(text::units_frame), m_form), "Frame1");
    m_metres = named(new QRadioButton(m_units), "Option1");
    m_centimetres = named(new QRadioButton(m_units), "Option2");
    m_millimetres = named(new QRadioButton(m_units), "Option3");
    m_metres_label =
        named(new ButtonCaption(QString::fromUtf8(text::metres), m_metres, m_units), "Label6");
    m_centimetres_label = named(
        new ButtonCaption(QString::fromUtf8(text::centimetres), m_centimetres, m_units), "Label7");
    m_millimetres_label = named(
        new ButtonCaption(QString::fromUtf8(text::millimetres), m_millimetres, m_units), "Label9");
    m_unit_group = new QButtonGroup(this);
    m_unit_group->addButton(m_metres);
    m_unit_group->addButton(m_centimetres);
    m_unit_group->addButton(m_millimetres);
    m_millimetres->setChecked(true);

    m_tolerance_caption =
        named(new QLabel(QString::fromUtf8(text::tolerance_caption), m_form), "Label4");
    m_tolerance = named(new QLineEdit(QString::fromUtf8(text::tolerance_initial), m_form), "tole");
    m_tolerance_caption->setBuddy(m_tolerance);
    m_tolerance_unit = named(new QLabel(QString::fromUtf8(text::tolerance_unit), m_form), "Label8");

    m_all_elements = named(new QCheckBox(m_form), "Check1");
    m_all_elements_label =
        named(new ButtonCaption(QString::fromUtf8(text::all_elements), m_all_elements, m_form),
              "Label10");

    m_mode = named(new QGroupBox(QString::fromUtf8(text::mode_frame), m_form), "Frame2");
    m_all_files = named(new QRadioButton(QString::fromUtf8(text::all_files), m_mode), "Option4");
    m_one_file = named(new QRadioButton(QString::fromUtf8(text::one_file), m_mode), "Option5");
    m_mode_group = new QButtonGroup(this);
    m_mode_group->addButton(m_all_files);
    m_mode_group->addButton(m_one_file);
    m_all_files->setChecked(true);
    m_sheet_count = named(new QLabel(m_mode), "SheetCount");
    follow_checked(m_unit_group);
    follow_checked(m_mode_group);

    m_process = named(new QPushButton(QString::fromUtf8(text::process_button), this), "Command3");
    m_process->setDefault(true);
    m_cancel = named(new QPushButton(QString::fromUtf8(text::cancel_button), this), "CancelButton");
    // A focused button takes Return itself, as in a dialog; elsewhere Return is "Proceso".
    for (QPushButton* button : {m_input_pick, m_output_pick, m_codes_pick, m_process, m_cancel}) {
        button->setAutoDefault(true);
    }

    m_progress_line = named(new QLabel(this), "ProgressLine");
    m_progress_line->setTextFormat(Qt::PlainText);
    m_progress = named(new QProgressBar(this), "Progress");
    // Hidden between runs, without the window changing size when they show.
    for (QWidget* widget : {static_cast<QWidget*>(m_progress_line),
                            static_cast<QWidget*>(m_progress), static_cast<QWidget*>(m_cancel)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
        widget->hide();
    }
}

void MainWindow::build_results() {
    m_results_caption =
        named(new QLabel(QString::fromUtf8(text::results_caption), this), "ResultsCaption");
    m_results = named(new QTableWidget(0, result_columns, this), "Results");
    m_results_caption->setBuddy(m_results);
    QStringList headers;
    for (const char* header : text::results_columns) {
        headers << QString::fromUtf8(header);
    }
    m_results->setHorizontalHeaderLabels(headers);
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_results->setWordWrap(false);
    m_results->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_results->horizontalHeader()->setStretchLastSection(true);
    m_results->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    m_export = named(new QPushButton(QString::fromUtf8(text::export_button), this), "ExportButton");
    m_report = named(new QPushButton(QString::fromUtf8(text::report_button), this), "ReportButton");
    for (QPushButton* button : {m_export, m_report}) {
        button->setAutoDefault(true);
        button->setEnabled(false);
    }
    m_map = named(new MapPanel(this), "MapPanel");
}

void MainWindow::lay_out() {
    const QFontMetrics metrics(font());

    auto* units = new QGridLayout(m_units);
    units->setColumnStretch(1, 1);
    units->addWidget(m_metres, 0, 0);
    units->addWidget(m_metres_label, 0, 1);
    units->addWidget(m_centimetres, 1, 0);
    units->addWidget(m_centimetres_label, 1, 1);
    units->addWidget(m_millimetres, 2, 0);
    units->addWidget(m_millimetres_label, 2, 1);

    auto* mode = new QGridLayout(m_mode);
    mode->addWidget(m_all_files, 0, 0);
    mode->addWidget(m_sheet_count, 0, 1);
    mode->addWidget(m_one_file, 1, 0);
    mode->setColumnStretch(1, 1);
    mode->setRowStretch(2, 1);
    m_sheet_count->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00000 hojas")));

    auto* options = new QGridLayout;
    options->setColumnStretch(2, 1);
    m_tolerance->setMaximumWidth(metrics.horizontalAdvance(QStringLiteral("0000.000")) +
                                 metrics.averageCharWidth() * 2);
    options->addWidget(m_tolerance_caption, 0, 0);
    options->addWidget(m_tolerance, 0, 1);
    options->addWidget(m_tolerance_unit, 0, 2);
    auto* all_elements = new QHBoxLayout;
    all_elements->addWidget(m_all_elements);
    all_elements->addWidget(m_all_elements_label, 1);
    options->addLayout(all_elements, 1, 0, 1, 3);
    options->setRowStretch(2, 1);

    auto* choices = new QHBoxLayout;
    choices->addWidget(m_units);
    choices->addWidget(m_mode);
    choices->addSpacing(metrics.averageCharWidth() * 2);
    choices->addLayout(options, 1);

    auto* form = new QGridLayout(m_form);
    form->setContentsMargins(0, 0, 0, 0);
    form->setColumnStretch(0, 1);
    form->setColumnMinimumWidth(0, metrics.averageCharWidth() * 60);
    int row = 0;
    form->addWidget(m_banner, row++, 0, 1, 2);
    form->setRowMinimumHeight(row++, metrics.height() / 2);
    const std::pair<QLabel*, std::pair<QLineEdit*, QPushButton*>> files[] = {
        {m_input_caption, {m_input_name, m_input_pick}},
        {m_output_caption, {m_output_name, m_output_pick}},
        {m_codes_caption, {m_codes_name, m_codes_pick}},
    };
    for (const auto& [caption, field] : files) {
        // A picker button as narrow as its "..." allows, at any scale.
        field.second->setFixedWidth(metrics.horizontalAdvance(field.second->text()) +
                                    metrics.averageCharWidth() * 4);
        form->addWidget(caption, row++, 0, 1, 2);
        form->addWidget(field.first, row, 0);
        form->addWidget(field.second, row++, 1);
    }
    form->setRowMinimumHeight(row++, metrics.height() / 2);
    form->addLayout(choices, row++, 0, 1, 2);

    auto* bottom = new QGridLayout;
    bottom->setColumnStretch(0, 1);
    bottom->addWidget(m_progress_line, 0, 0, 1, 3);
    bottom->addWidget(m_progress, 1, 0);
    bottom->addWidget(m_cancel, 1, 1);
    bottom->addWidget(m_process, 1, 2);

    auto* saving = new QHBoxLayout;
    saving->addStretch(1);
    saving->addWidget(m_export);
    saving->addWidget(m_report);

    auto* settings_side = new QWidget(this);
    auto* column = new QVBoxLayout(settings_side);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_form);
    column->addSpacing(metrics.height() / 2);
    column->addLayout(bottom);
    column->addSpacing(metrics.height() / 2);
    column->addWidget(m_results_caption);
    column->addWidget(m_results, 1);
    column->addLayout(saving);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(settings_side);
    splitter->addWidget(m_map);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    m_map->setMinimumWidth(metrics.averageCharWidth() * 70);

    auto* window = new QVBoxLayout(this);
    window->addWidget(splitter);
    resize(metrics.averageCharWidth() * 240, metrics.height() * 44);
}

void MainWindow::set_tab_order() {
    // Reading order: the files top to bottom, then the options left to right, then "Proceso";
    // what the run shows comes after.
    QWidget* const chain[] = {
        m_input_name,   m_input_pick,  m_output_name, m_output_pick, m_codes_name, m_codes_pick,
        m_metres,       m_centimetres, m_millimetres, m_all_files,   m_one_file,   m_tolerance,
        m_all_elements, m_process,     m_cancel,      m_results,     m_export,     m_report};
    for (std::size_t i = 1; i < std::size(chain); ++i) {
        setTabOrder(chain[i - 1], chain[i]);
    }
}

template <typename Handler> void MainWindow::guarded(const Handler& handler) {
    // No exception may cross the event loop: whatever a handler could not do is told to the
    // user, and the window stays usable.
    try {
        handler();
    } catch (const std::exception& error) {
        show_failure(QString::fromUtf8(error.what()));
    } catch (...) {
        show_failure(QStringLiteral("error desconocido"));
    }
}

void MainWindow::connect_controls() {
    connect(m_input_pick, &QPushButton::clicked, this,
            [this] { guarded([this] { pick_input(); }); });
    connect(m_output_pick, &QPushButton::clicked, this,
            [this] { guarded([this] { pick_output(); }); });
    connect(m_codes_pick, &QPushButton::clicked, this,
            [this] { guarded([this] { pick_codes(); }); });
    connect(m_process, &QPushButton::clicked, this, [this] { guarded([this] { process(); }); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { cancel(); });
    connect(m_export, &QPushButton::clicked, this,
            [this] { guarded([this] { save_outputs(false); }); });
    connect(m_report, &QPushButton::clicked, this,
            [this] { guarded([this] { save_outputs(true); }); });
    connect(m_results, &QTableWidget::currentCellChanged, this,
            [this](int row) { guarded([this, row] { choose_sheet(row); }); });
    connect(&m_runner, &RunThread::file_started, this,
            [this](int index) { guarded([this, index] { on_file_started(index); }); });
    connect(&m_runner, &RunThread::file_done, this,
            [this](int index, const run::FileOutcome& outcome) {
                guarded([&] { on_file_done(index, outcome); });
            });
    connect(&m_runner, &RunThread::finished, this,
            [this] { guarded([this] { on_run_finished(); }); });
    connect(&m_loader, &SheetLoader::loaded, this,
            [this](std::shared_ptr<const run::SheetResults> results, const QString& input) {
                guarded([&] {
                    m_map->show_sheet(std::move(results), to_qstring(to_path(input).filename()));
                    emit map_ready();
                });
            });
    connect(&m_loader, &SheetLoader::failed, this,
            [this](const QString& input, const QString& reason) {
                m_map->show_text(QString::fromUtf8(text::map_failed)
                                     .arg(to_qstring(to_path(input).filename()), reason));
                emit map_ready();
            });
}

QString MainWindow::start_folder(const QString& shown) const {
    if (!shown.isEmpty()) {
        const std::filesystem::path folder = to_path(shown).parent_path();
        if (!folder.empty()) {
            return to_qstring(folder);
        }
    }
    return m_last_folder;
}

void MainWindow::remember_folder(const QString& picked) {
    m_last_folder = to_qstring(to_path(picked).parent_path());
    if (m_memory != nullptr) {
        m_memory->setValue(QString::fromLatin1(folder_key), m_last_folder);
    }
}

void MainWindow::pick_input() {
    const QString picked = m_dialogs.open_file(this, QString::fromUtf8(text::input_picker_title),
                                               QString::fromUtf8(text::bin_filter), m_last_folder,
                                               Existence::must_exist);
    if (picked.isEmpty()) {
        return;
    }
    remember_folder(picked);
    open_sheet(to_path(picked));
}

void MainWindow::open_sheet(const std::filesystem::path& input) {
    m_input = input;
    m_input_name->setText(to_qstring(input));
    m_output_name->setText(to_qstring(run::derived_output_name(m_input)));
    if (m_all_files->isChecked()) {
        // The list is emptied first, so a folder that cannot be listed leaves no stale list.
        m_batch.clear();
        try {
            m_batch = run::batch_list(m_input.parent_path());
        } catch (...) {
            show_sheet_count();
            throw;
        }
        show_sheet_count();
    }
}

void MainWindow::start_with(const StartOptions& options) {
    guarded([&] {
        if (options.one_file) {
            m_one_file->setChecked(true);
        }
        if (!options.codes.isEmpty()) {
            m_codes_name->setText(options.codes);
        }
        if (!options.sheet.isEmpty()) {
            open_sheet(to_path(options.sheet));
        }
    });
    if (options.finding > 0) {
        connect(
            this, &MainWindow::run_finished, this,
            [this, chosen = options.finding - 1] { m_map->choose_finding(chosen); },
            Qt::SingleShotConnection);
    }
    if (options.process) {
        QTimer::singleShot(0, m_process, &QPushButton::click);
    }
}

void MainWindow::show_sheet_count() {
    const auto count = static_cast<qsizetype>(m_batch.size());
    m_sheet_count->setText(count == 1 ? QString::fromUtf8(text::one_sheet)
                                      : QString::fromUtf8(text::sheets).arg(count));
}

void MainWindow::pick_output() {
    const QString picked = m_dialogs.open_file(
        this, QString::fromUtf8(text::output_picker_title), QString::fromUtf8(text::bin_filter),
        start_folder(m_output_name->text()), Existence::may_be_new);
    if (!picked.isEmpty()) {
        remember_folder(picked);
        m_output_name->setText(picked);
    }
}

void MainWindow::pick_codes() {
    const QString picked = m_dialogs.open_file(
        this, QString::fromUtf8(text::codes_picker_title), QString::fromUtf8(text::codes_filter),
        start_folder(m_codes_name->text()), Existence::must_exist);
    if (!picked.isEmpty()) {
        remember_folder(picked);
        m_codes_name->setText(picked);
    }
}

run::RunSettings MainWindow::read_settings() const {
    run::RunSettings settings;
    settings.input = m_input;
    settings.output = to_path(m_output_name->text());
    settings.codes = to_path(m_codes_name->text());
    if (m_metres->isChecked()) {
        settings.unit = run::Unit::metres;
    } else if (m_centimetres->isChecked()) {
        settings.unit = run::Unit::centimetres;
    } else {
        settings.unit = run::Unit::millimetres;
    }
    settings.all_elements = m_all_elements->isChecked();
    return settings;
}

void MainWindow::process() {
    if (m_runner.running()) {
        return;
    }
    const std::optional<double> tolerance = parse_tolerance(m_tolerance->text());
    if (!tolerance) {
        show_failure(QString::fromUtf8(text::bad_tolerance));
        m_tolerance->setFocus(Qt::OtherFocusReason);
        m_tolerance->selectAll();
        return;
    }
    // Every setting is read once, here; what the user changes while files are processed
    // belongs to the next run.
    run::JobSettings job;
    job.common = read_settings();
    job.common.tolerance = *tolerance;
    std::vector<std::filesystem::path> files;
    m_run_is_batch = m_all_files->isChecked();
    if (m_run_is_batch) {
        // The list built when the input was picked; it is not rebuilt here.
        files = m_batch;
        job.common.output.clear();
    } else {
        if (job.common.output.empty() && m_input.has_filename()) {
            job.common.output = run::derived_output_name(m_input);
            m_output_name->setText(to_qstring(job.common.output));
        }
        files = {m_input};
        // One sheet's details are kept for its map; a batch's would hold every sheet at once.
        job.common.keep_details = true;
    }
    m_last_job = job;
    m_last_files.assign(files.size(), run::FileOutcome{});
    m_loader.cancel();
    m_results->clearContents();
    m_results->setRowCount(static_cast<int>(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
        m_last_files[i].input = files[i];
        show_row(static_cast<int>(i), m_last_files[i]);
    }
    m_map->show_text(QString::fromUtf8(m_run_is_batch ? text::map_choose_sheet : text::map_empty));
    RunThread::Job work = [job, inputs = files](const run::FileDone& done, std::stop_token stop) {
        run::JobSettings settings = job;
        settings.common.stop = std::move(stop);
        return run::run_job(settings, inputs, done);
    };
    start(Work::process, std::move(files), std::move(work));
}

void MainWindow::start(Work work, std::vector<std::filesystem::path> files, RunThread::Job job) {
    m_work = work;
    m_run_files = std::move(files);
    set_busy(true);
    try {
        m_runner.start(m_run_files.size(), std::move(job));
    } catch (...) {
        set_busy(false);
        throw;
    }
}

void MainWindow::cancel() {
    if (m_runner.running()) {
        m_runner.request_stop();
        m_cancel->setEnabled(false);
    }
}

void MainWindow::save_outputs(bool report) {
    if (m_runner.running() || m_last_files.empty()) {
        return;
    }
    const std::filesystem::path& first = m_last_files.front().input;
    const std::filesystem::path base =
        m_run_is_batch ? first.parent_path() / first.parent_path().filename() : first;
    QString suggested = to_qstring(base);
    if (suggested.isEmpty()) {
        suggested = QStringLiteral("tarvel");
    }
    const std::filesystem::path stem = to_path(suggested).replace_extension();
    const QString target = report ? m_dialogs.save_file(this, QString::fromUtf8(text::report_title),
                                                        QString::fromUtf8(text::report_filter),
                                                        to_qstring(stem) + QStringLiteral(".json"))
                                  : m_dialogs.save_file(this, QString::fromUtf8(text::export_title),
                                                        QString::fromUtf8(text::export_filter),
                                                        to_qstring(stem) + QStringLiteral(".gpkg"));
    if (target.isEmpty()) {
        return;
    }
    remember_folder(target);
    run::JobSettings job = m_last_job;
    job.report = report ? to_path(target) : std::filesystem::path();
    job.gis_export = report ? std::filesystem::path() : to_path(target);
    std::vector<run::FileOutcome> outcomes = m_last_files;
    std::vector<std::filesystem::path> files;
    for (const run::FileOutcome& outcome : outcomes) {
        files.push_back(outcome.input);
    }
    m_saving_to = target;
    m_saving_report = report;
    start(Work::save_outputs, std::move(files),
          [job, outcomes = std::move(outcomes)](const run::FileDone& done, std::stop_token stop) {
              run::JobSettings settings = job;
              settings.common.stop = std::move(stop);
              return run::export_job(settings, outcomes, done);
          });
}

void MainWindow::choose_sheet(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_last_files.size() ||
        m_work != Work::process) {
        return;
    }
    const run::FileOutcome& outcome = m_last_files[static_cast<std::size_t>(row)];
    const QString name = to_qstring(outcome.input.filename());
    // One sheet's map is shown as soon as it is done; a batch's sheet is read again.
    if (!m_run_is_batch || !outcome.summary) {
        return;
    }
    run::RunSettings settings = m_last_job.common;
    settings.input = outcome.input;
    settings.output.clear();
    m_map->show_text(QString::fromUtf8(text::map_loading).arg(name));
    m_loader.load(std::move(settings));
}

void MainWindow::set_busy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_progress->setRange(0, std::max(static_cast<int>(m_run_files.size()), 1));
        m_progress->setValue(0);
        m_progress_line->clear();
    } else {
        QApplication::restoreOverrideCursor();
    }
    m_form->setEnabled(!busy);
    m_process->setEnabled(!busy);
    m_cancel->setEnabled(busy);
    m_cancel->setVisible(busy);
    m_progress->setVisible(busy);
    m_progress_line->setVisible(busy);
    const bool done_any =
        std::any_of(m_last_files.begin(), m_last_files.end(),
                    [](const run::FileOutcome& f) { return f.summary.has_value(); });
    m_export->setEnabled(!busy && done_any);
    m_report->setEnabled(!busy && done_any);
}

void MainWindow::show_row(int row, const run::FileOutcome& outcome) {
    const auto count = [](std::int64_t value) { return cell(QString::number(value), true); };
    m_results->setItem(row, sheet_column, cell(to_qstring(outcome.input.filename())));
    m_results->item(row, sheet_column)->setToolTip(to_qstring(outcome.input));
    const char* status = outcome.summary         ? text::status_done
                         : outcome.cancelled     ? text::status_cancelled
                         : outcome.error.empty() ? text::status_pending
                                                 : text::status_failed;
    m_results->setItem(row, status_column, cell(QString::fromUtf8(status)));
    if (const std::optional<run::RunSummary>& summary = outcome.summary) {
        m_results->setItem(row, lines_column, count(summary->lines_read));
        m_results->setItem(row, joins_column, count(summary->joins));
        m_results->setItem(row, errors_column, count(summary->direction_errors));
        m_results->setItem(row, near_column, count(summary->near_misses));
        m_results->setItem(row, z_column, count(summary->z_differences));
        m_results->setItem(row, rings_column, count(summary->rings_passed_over));
        m_results->setItem(row, limit_column, count(summary->vertex_limit_nodes));
    } else if (!outcome.error.empty() && !outcome.cancelled) {
        m_results->setItem(row, reason_column, cell(QString::fromStdString(outcome.error)));
        m_results->item(row, reason_column)->setToolTip(QString::fromStdString(outcome.error));
    }
}

void MainWindow::on_file_started(int index) {
    const std::filesystem::path& input = m_run_files.at(static_cast<std::size_t>(index));
    if (m_work == Work::process && m_run_is_batch) {
        m_input = input;
        m_input_name->setText(to_qstring(input));
        m_output_name->setText(to_qstring(run::derived_output_name(input)));
    }
    m_progress_line->setText(QString::fromUtf8(text::progress_line)
                                 .arg(index + 1)
                                 .arg(static_cast<qsizetype>(m_run_files.size()))
                                 .arg(to_qstring(input.filename())));
}

void MainWindow::on_file_done(int index, const run::FileOutcome& outcome) {
    m_progress->setValue(index + 1);
    if (m_work != Work::process) {
        return;
    }
    if (outcome.summary && outcome.summary->details) {
        m_map->show_sheet(outcome.summary->details, to_qstring(outcome.input.filename()));
    }
    m_last_files.at(static_cast<std::size_t>(index)) = outcome;
    show_row(index, outcome);
    if (index == 0) {
        m_results->resizeColumnsToContents();
    }
    emit sheet_done(index);
}

void MainWindow::on_run_finished() {
    run::JobOutcome outcome = m_runner.take_outcome();
    const Work work = m_work;
    if (work == Work::process) {
        // Every sheet is handed over as it is done; one still pending here was never reached.
        for (std::size_t i = 0; i < outcome.files.size() && i < m_last_files.size(); ++i) {
            const run::FileOutcome& shown = m_last_files[i];
            if (!shown.summary && !shown.cancelled && shown.error.empty()) {
                m_last_files[i] = outcome.files[i];
                show_row(static_cast<int>(i), m_last_files[i]);
            }
        }
    }
    set_busy(false);
    m_work = Work::process;
    if (m_close_when_done) {
        m_close_when_done = false;
        close();
        emit run_finished();
        return;
    }
    if (work == Work::save_outputs) {
        if (!outcome.failures.empty()) {
            QStringList failures;
            for (const std::string& failure : outcome.failures) {
                failures << QString::fromStdString(failure);
            }
            show_failure(failures.join(QLatin1Char('\n')));
        } else if (!outcome.cancelled) {
            m_dialogs.information(
                this, QString::fromUtf8(text::window_title),
                QString::fromUtf8(m_saving_report ? text::report_done : text::export_done)
                    .arg(m_saving_to));
        }
        emit run_finished();
        return;
    }
    if (!m_run_is_batch && outcome.files.size() == 1 && outcome.files.front().summary) {
        m_output_name->setText(to_qstring(outcome.files.front().summary->output));
    }
    show_closing(outcome);
    emit run_finished();
}

void MainWindow::show_closing(const run::JobOutcome& outcome) {
    const std::string message = outcome.cancelled
                                    ? run::cancelled_message(outcome.files)
                                    : run::closing_message(outcome.files, outcome.failures);
    QString text = from_utf8(message);
    QString detail;
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() > closing_lines_in_box) {
        text = lines.front();
        detail = lines.mid(1).join(QLatin1Char('\n'));
    }
    m_dialogs.information(this, from_utf8(run::fin_de_proceso), text, detail);
}

void MainWindow::show_failure(const QString& text) {
    m_dialogs.warning(this, QString::fromUtf8(text::window_title), text);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget* focus = focusWidget();
    // Return in the results or the map belongs to them (a table opens the row it is on).
    const bool in_results =
        focus != nullptr &&
        (focus == m_results || m_results->isAncestorOf(focus) || m_map->isAncestorOf(focus));
    if (enter && !in_results && m_process->isEnabled()) {
        m_process->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_runner.running()) {
        // A run stops at the next sheet, or part way through one, leaving its older files as
        // they were; the window closes once it has.
        event->ignore();
        if (!m_close_when_done &&
            m_dialogs.question(this, QString::fromUtf8(text::window_title),
                               QString::fromUtf8(text::close_while_running))) {
            m_close_when_done = true;
            cancel();
        }
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace tarvel::ui
