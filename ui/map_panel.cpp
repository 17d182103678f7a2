#include "ui/map_panel.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/map_painting.hpp"
#include "ui/map_view.hpp"
#include "ui/texts.hpp"

namespace tarvel::ui {
namespace {

constexpr int symbol_pixels = 14;

enum Column { kind_column, x_column, y_column, detail_column, column_count };

/// Symbols and line styles with what they stand for, one to a row.
QWidget* make_legend(QWidget* parent) {
    auto* legend = new QWidget(parent);
    legend->setObjectName(QStringLiteral("Legend"));
    auto* grid = new QGridLayout(legend);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    int row = 0;
    const auto add = [&](const QPixmap& sample, const char* caption) {
        auto* picture = new QLabel(legend);
        picture->setPixmap(sample);
        picture->setAlignment(Qt::AlignCenter);
        grid->addWidget(picture, row, 0);
        grid->addWidget(new QLabel(QString::fromUtf8(caption), legend), row, 1);
        ++row;
    };
    add(line_sample_pixmap(LineStyle::joined, QSize(24, symbol_pixels)), text::legend_joined);
    add(line_sample_pixmap(LineStyle::untouched, QSize(24, symbol_pixels)), text::legend_untouched);
    for (std::size_t kind = 0; kind < finding_kinds; ++kind) {
        add(symbol_pixmap(static_cast<FindingKind>(kind), symbol_pixels),
            text::finding_names[kind]);
    }
    grid->setColumnStretch(1, 1);
    return legend;
}

} // namespace

FindingsModel::FindingsModel(QObject* parent) : QAbstractTableModel(parent) {
    for (std::size_t kind = 0; kind < finding_kinds; ++kind) {
        m_symbols[kind] = symbol_pixmap(static_cast<FindingKind>(kind), symbol_pixels);
    }
}

void FindingsModel::set_map(std::shared_ptr<const SheetMap> map) {
    beginResetModel();
    m_map = std::move(map);
    endResetModel();
}

int FindingsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_map ? 0 : static_cast<int>(m_map->findings().size());
}

int FindingsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : column_count;
}

QVariant FindingsModel::data(const QModelIndex& index, int role) const {
    if (!m_map || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const MapFinding& finding = m_map->findings()[static_cast<std::size_t>(index.row())];
    const auto kind = static_cast<std::size_t>(finding.kind);
    if (role == Qt::DecorationRole && index.column() == kind_column) {
        return m_symbols[kind];
    }
    if (role == Qt::TextAlignmentRole &&
        (index.column() == x_column || index.column() == y_column)) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    switch (index.column()) {
    case kind_column:
        return QString::fromUtf8(role == Qt::ToolTipRole ? text::finding_names[kind]
                                                         : text::finding_short_names[kind]);
    case x_column:
        return QString::fromStdString(m_map->metres(finding.at().x));
    case y_column:
        return QString::fromStdString(m_map->metres(finding.at().y));
    case detail_column:
        return QString::fromStdString(m_map->describe(finding));
    default:
        return {};
    }
}

QVariant FindingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= column_count) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return QString::fromUtf8(text::findings_columns[section]);
}

MapPanel::MapPanel(QWidget* parent) : QWidget(parent) {
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("MapTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_fit = new QPushButton(QString::fromUtf8(text::map_fit), this);
    m_fit->setObjectName(QStringLiteral("FitButton"));
    m_fit->setEnabled(false);
    m_view = new MapView(this);
    m_view->setObjectName(QStringLiteral("Map"));
    m_pointer = new QLabel(this);
    m_pointer->setObjectName(QStringLiteral("PointerPlace"));
    m_pointer->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The line keeps its height while the pointer is away from the map.
    m_pointer->setMinimumHeight(fontMetrics().height());

    m_model = new FindingsModel(this);
    m_findings_caption = new QLabel(QString::fromUtf8(text::findings_caption).arg(0), this);
    m_findings = new QTableView(this);
    m_findings->setObjectName(QStringLiteral("Findings"));
    m_findings->setModel(m_model);
    m_findings_caption->setBuddy(m_findings);
    m_findings->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_findings->setSelectionMode(QAbstractItemView::SingleSelection);
    m_findings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_findings->verticalHeader()->hide();
    m_findings->horizontalHeader()->setStretchLastSection(true);
    // Every row the same height: the list stays quick with any number of findings.
    m_findings->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_findings->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);

    auto* top = new QHBoxLayout;
    top->addWidget(m_title, 1);
    top->addWidget(m_fit);

    auto* map_side = new QWidget(this);
    auto* map_column = new QVBoxLayout(map_side);
    map_column->setContentsMargins(0, 0, 0, 0);
    map_column->addLayout(top);
    map_column->addWidget(m_view, 1);
    map_column->addWidget(m_pointer);

    auto* list_side = new QWidget(this);
    auto* list_column = new QVBoxLayout(list_side);
    list_column->setContentsMargins(0, 0, 0, 0);
    list_column->addWidget(m_findings_caption);
    list_column->addWidget(m_findings, 1);
    list_column->addWidget(make_legend(this));

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(map_side);
    splitter->addWidget(list_side);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);

    auto* panel = new QVBoxLayout(this);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(splitter);

    connect(m_fit, &QPushButton::clicked, m_view, &MapView::fit);
    connect(m_view, &MapView::pointer_moved, this, &MapPanel::show_pointer);
    connect(m_view, &MapView::pointer_left, m_pointer, &QLabel::clear);
    const auto choose = [this](const QModelIndex& index) {
        if (index.isValid()) {
            m_view->show_finding(static_cast<std::size_t>(index.row()));
        }
    };
    connect(m_findings->selectionModel(), &QItemSelectionModel::currentRowChanged, this, choose);
    // Choosing the same finding again brings it back after the map was moved.
    connect(m_findings, &QTableView::clicked, this, choose);
    connect(m_findings, &QTableView::activated, this, choose);
    show_text(QString::fromUtf8(text::map_empty));
}

void MapPanel::show_sheet(std::shared_ptr<const run::SheetResults> results, const QString& title) {
    auto map = std::make_shared<const SheetMap>(std::move(results));
    m_title->setText(title);
    m_model->set_map(map);
    m_findings_caption->setText(QString::fromUtf8(text::findings_caption)
                                    .arg(static_cast<qsizetype>(map->findings().size())));
    m_view->set_map(std::move(map));
    m_fit->setEnabled(true);
    m_findings->resizeColumnsToContents();
}

void MapPanel::choose_finding(int index) {
    if (index >= 0 && index < m_model->rowCount()) {
        m_findings->selectRow(index);
        m_findings->scrollTo(m_model->index(index, 0));
    }
}

void MapPanel::show_text(const QString& text) {
    m_title->clear();
    m_pointer->clear();
    m_model->set_map(nullptr);
    m_findings_caption->setText(QString::fromUtf8(text::findings_caption).arg(0));
    m_view->set_map(nullptr);
    m_view->set_placeholder(text);
    m_fit->setEnabled(false);
}

void MapPanel::show_pointer(WorldPoint place) {
    const std::shared_ptr<const SheetMap>& map = m_view->map();
    if (!map) {
        return;
    }
    m_pointer->setText(QString::fromUtf8(text::pointer_place)
                           .arg(QString::fromStdString(map->metres(place.x)))
                           .arg(QString::fromStdString(map->metres(place.y))));
}

} // namespace tarvel::ui
