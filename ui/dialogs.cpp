#include "ui/dialogs.hpp"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace tarvel::ui {

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
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

void QtDialogs::information(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::information(parent, title, text);
}

void QtDialogs::warning(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
}

} // namespace tarvel::ui
