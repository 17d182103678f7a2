// The map of a sheet with what goes around it: a button that shows the whole sheet, the
// pointer's place in metres, the legend, and the list of findings beside the map. Choosing a
// finding in the list centres the map on it.
#pragma once

#include <QAbstractTableModel>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <memory>

#include "run/sheet_results.hpp"
#include "ui/sheet_map.hpp"

class QLabel;
class QPushButton;
class QTableView;

namespace tarvel::ui {

class MapView;

/// The findings of one sheet as rows: kind (with its symbol), X and Y in metres, details.
class FindingsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit FindingsModel(QObject* parent = nullptr);
    /// Shows the findings of `map` (null: none).
    void set_map(std::shared_ptr<const SheetMap> map);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    std::shared_ptr<const SheetMap> m_map;
    std::array<QPixmap, finding_kinds> m_symbols;
};

class MapPanel : public QWidget {
    Q_OBJECT

public:
    explicit MapPanel(QWidget* parent = nullptr);

    /// Shows the map of `results`, titled `title`. Precondition: `results` is not null.
    void show_sheet(std::shared_ptr<const run::SheetResults> results, const QString& title);
    /// Shows `text` where the map goes, and no findings.
    void show_text(const QString& text);

    /// Chooses finding `index` in the list, as a click on its row does.
    void choose_finding(int index);

private:
    void show_pointer(WorldPoint place);

    QLabel* m_title = nullptr;
    QPushButton* m_fit = nullptr;
    MapView* m_view = nullptr;
    QLabel* m_pointer = nullptr;
    QLabel* m_findings_caption = nullptr;
    QTableView* m_findings = nullptr;
    FindingsModel* m_model = nullptr;
};

} // namespace tarvel::ui
