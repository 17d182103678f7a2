#include "ui/dialogs.hpp"

#include <QDir>
#include <QFileDialog>
#include <QRegularExpression>
#include <QStringList>

namespace tarvel::ui {
namespace {

/// The extension of the first pattern of a filter such as "GeoPackage (*.gpkg)".
QString extension_of(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    return pattern.match(filter).captured(1);
}

/// Shows `dialog` and returns the file chosen in it, or an empty string when cancelled.
QString chosen_file(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

} // namespace

std::unique_ptr<QMessageBox> message_box(QWidget* parent, QMessageBox::Icon icon,
                                         const QString& title, const QString& text,
                                         const QString& detail) {
    auto box = std::make_unique<QMessageBox>(icon, title, text, QMessageBox::Ok, parent);
    if (!detail.isEmpty()) {
        box->setDetailedText(detail);
    }
    return box;
}

QString QtDialogs::open_file(QWidget* parent, const QString& title, const QString& filter,
                             const QString& folder, Existence existence) {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(existence == Existence::must_exist ? QFileDialog::ExistingFile
                                                          : QFileDialog::AnyFile);
    // Sheets arrive as hoja.bin, HOJA.BIN or hoja.Bin alike. A platform's native dialog may
    // match "*.bin" by case, Qt's own dialog does not when CaseSensitive is left out.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::Filters(QDir::CaseSensitive));
    return chosen_file(dialog);
}

QString QtDialogs::save_file(QWidget* parent, const QString& title, const QString& filters,
                             const QString& suggested) {
    QFileDialog dialog(parent, title, QString(), filters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.selectFile(suggested);
    // The format follows the extension: a name typed without one gets the chosen filter's.
    dialog.setDefaultSuffix(extension_of(filters));
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog](const QString& filter) { dialog.setDefaultSuffix(extension_of(filter)); });
    return chosen_file(dialog);
}

void QtDialogs::information(QWidget* parent, const QString& title, const QString& text,
                            const QString& detail) {
    message_box(parent, QMessageBox::Information, title, text, detail)->exec();
}

void QtDialogs::warning(QWidget* parent, const QString& title, const QString& text) {
    message_box(parent, QMessageBox::Warning, title, text, {})->exec();
}

bool QtDialogs::question(QWidget* parent, const QString& title, const QString& text) {
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace tarvel::ui
