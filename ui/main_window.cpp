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
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSizePolicy>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "run/messages.hpp"
#include "run/output_names.hpp"
#include "run/procesamos_fichero.hpp"
#include "ui/dialogs.hpp"
#include "ui/paths.hpp"
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

/// The folder a picker opens in: the folder of `shown` when it names a file, else of
/// `fallback`.
QString folder_of(const QString& shown, const std::filesystem::path& fallback) {
    const std::filesystem::path path = shown.isEmpty() ? fallback : to_path(shown);
    return to_qstring(path.parent_path());
}

} // namespace

MainWindow::MainWindow(Dialogs& dialogs, QWidget* parent) : QWidget(parent), m_dialogs(dialogs) {
    setObjectName(QStringLiteral("tarvel"));
    setWindowTitle(QString::fromUtf8(text::window_title));
    build_controls();
    lay_out();
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

    m_process = named(new QPushButton(QString::fromUtf8(text::process_button), this), "Command3");
    m_process->setDefault(true);

    m_progress_line = named(new QLabel(this), "ProgressLine");
    m_progress_line->setTextFormat(Qt::PlainText);
    m_progress = named(new QProgressBar(this), "Progress");
    // Hidden between runs, without the window changing size when they show.
    for (QWidget* widget :
         {static_cast<QWidget*>(m_progress_line), static_cast<QWidget*>(m_progress)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
        widget->hide();
    }
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

    auto* mode = new QVBoxLayout(m_mode);
    mode->addWidget(m_all_files);
    mode->addWidget(m_one_file);
    mode->addStretch(1);

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
    bottom->addWidget(m_progress_line, 0, 0);
    bottom->addWidget(m_progress, 1, 0);
    bottom->addWidget(m_process, 1, 1);

    auto* window = new QVBoxLayout(this);
    window->addWidget(m_form);
    window->addSpacing(metrics.height() / 2);
    window->addLayout(bottom);
    window->addStretch(1);
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
    connect(&m_runner, &RunThread::file_started, this,
            [this](int index) { guarded([this, index] { on_file_started(index); }); });
    connect(&m_runner, &RunThread::file_done, this,
            [this](int index) { guarded([this, index] { on_file_done(index); }); });
    connect(&m_runner, &RunThread::finished, this,
            [this] { guarded([this] { on_run_finished(); }); });
}

void MainWindow::pick_input() {
    const QString picked = m_dialogs.open_file(
        this, QString::fromUtf8(text::input_picker_title), QString::fromUtf8(text::bin_filter),
        to_qstring(m_input.parent_path()), Existence::must_exist);
    if (picked.isEmpty()) {
        return;
    }
    m_input = to_path(picked);
    m_input_name->setText(picked);
    m_output_name->setText(to_qstring(run::derived_output_name(m_input)));
    if (m_all_files->isChecked()) {
        // The list is emptied first, so a folder that cannot be listed leaves no stale list.
        m_batch.clear();
        m_batch = run::batch_list(m_input.parent_path());
    }
}

void MainWindow::pick_output() {
    const QString picked = m_dialogs.open_file(
        this, QString::fromUtf8(text::output_picker_title), QString::fromUtf8(text::bin_filter),
        folder_of(m_output_name->text(), m_input), Existence::may_be_new);
    if (!picked.isEmpty()) {
        m_output_name->setText(picked);
    }
}

void MainWindow::pick_codes() {
    const QString picked = m_dialogs.open_file(
        this, QString::fromUtf8(text::codes_picker_title), QString::fromUtf8(text::codes_filter),
        folder_of(m_codes_name->text(), m_input), Existence::must_exist);
    if (!picked.isEmpty()) {
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
    // Every setting is read once, here; what the user changes while files are processed
    // belongs to the next run.
    run::RunSettings settings = read_settings();
    RunThread::Job job;
    m_run_is_batch = m_all_files->isChecked();
    if (m_run_is_batch) {
        // The list built when the input was picked; it is not rebuilt here.
        m_run_files = m_batch;
        job = [files = m_run_files, settings](const run::FileDone& done) {
            return run::run_batch(files, settings, 1, done);
        };
    } else {
        if (settings.output.empty() && m_input.has_filename()) {
            settings.output = run::derived_output_name(m_input);
            m_output_name->setText(to_qstring(settings.output));
        }
        m_run_files = {m_input};
        job = [settings](const run::FileDone& done) {
            std::vector<run::FileOutcome> outcomes{run::run_file(settings)};
            done(0, outcomes.front());
            return outcomes;
        };
    }
    set_busy(true);
    try {
        m_runner.start(m_run_files.size(), std::move(job));
    } catch (...) {
        set_busy(false);
        throw;
    }
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
    m_progress->setVisible(busy);
    m_progress_line->setVisible(busy);
}

void MainWindow::on_file_started(int index) {
    const std::filesystem::path& input = m_run_files.at(static_cast<std::size_t>(index));
    if (m_run_is_batch) {
        m_input = input;
        m_input_name->setText(to_qstring(input));
        m_output_name->setText(to_qstring(run::derived_output_name(input)));
    }
    m_progress_line->setText(QString::fromUtf8(text::progress_line)
                                 .arg(index + 1)
                                 .arg(static_cast<qsizetype>(m_run_files.size()))
                                 .arg(to_qstring(input.filename())));
}

void MainWindow::on_file_done(int index) {
    m_progress->setValue(index + 1);
}

void MainWindow::on_run_finished() {
    const std::vector<run::FileOutcome> outcomes = m_runner.take_outcomes();
    set_busy(false);
    if (!m_run_is_batch && outcomes.size() == 1 && outcomes.front().summary) {
        m_output_name->setText(to_qstring(outcomes.front().summary->output));
    }
    m_dialogs.information(this, from_utf8(run::fin_de_proceso),
                          from_utf8(run::closing_message(outcomes)));
    emit run_finished();
}

void MainWindow::show_failure(const QString& text) {
    m_dialogs.warning(this, QString::fromUtf8(text::window_title), text);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The run cannot be stopped half way through a file; the window closes once it is over.
    if (m_runner.running()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace tarvel::ui
