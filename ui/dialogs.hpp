// The window's modal dialogs behind one small interface: the open-file dialog of the three
// pickers and the message boxes. The program uses the Qt dialogs; tests answer them.
#pragma once

#include <QString>

class QWidget;

namespace tarvel::ui {

/// Whether an open-file dialog accepts only a file that exists already.
enum class Existence { must_exist, may_be_new };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    /// Shows an open-file dialog with `title` and the name filter `filter` (matched without
    /// regard to case), starting in `folder` (empty: the current folder). Returns the chosen
    /// full file name, or an empty string when the user cancels.
    [[nodiscard]] virtual QString open_file(QWidget* parent, const QString& title,
                                            const QString& filter, const QString& folder,
                                            Existence existence) = 0;

    /// Shows a message box with the information icon, `title` and `text`; returns when the
    /// user has closed it.
    virtual void information(QWidget* parent, const QString& title, const QString& text) = 0;

    /// Shows a message box with the warning icon, for a failure outside a run.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
};

/// The Qt dialogs: QFileDialog (Qt's own, so the filter ignores case on every platform) and
/// QMessageBox.
class QtDialogs final : public Dialogs {
public:
    [[nodiscard]] QString open_file(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& folder, Existence existence) override;
    void information(QWidget* parent, const QString& title, const QString& text) override;
    void warning(QWidget* parent, const QString& title, const QString& text) override;
};

} // namespace tarvel::ui
