// The window's modal dialogs behind one small interface: the open-file dialog of the three
// pickers, the save dialog of the exports, the message boxes and a yes/no question. The
// program uses the Qt dialogs; tests answer them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <memory>

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

    /// Shows a save dialog with `title` and the filters `filters` (";;" between them, the
    /// first one chosen), offering `suggested`. Returns the chosen full file name, with the
    /// chosen filter's extension when none was typed, or an empty string when the user
    /// cancels.
    [[nodiscard]] virtual QString save_file(QWidget* parent, const QString& title,
                                            const QString& filters, const QString& suggested) = 0;

    /// Shows a message box with the information icon, `title` and `text`, and `detail`
    /// (when not empty) in a part that scrolls; returns when the user has closed it.
    virtual void information(QWidget* parent, const QString& title, const QString& text,
                             const QString& detail = {}) = 0;

    /// Shows a message box with the warning icon, for a failure outside a run.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;

    /// Asks `text` with the buttons Yes and No; true for Yes.
    [[nodiscard]] virtual bool question(QWidget* parent, const QString& title,
                                        const QString& text) = 0;
};

/// The message box the Qt dialogs show: `text`, and `detail` in its scrolling part.
[[nodiscard]] std::unique_ptr<QMessageBox> message_box(QWidget* parent, QMessageBox::Icon icon,
                                                       const QString& title, const QString& text,
                                                       const QString& detail);

/// The Qt dialogs: QFileDialog (Qt's own, so the filter ignores case on every platform) and
/// QMessageBox.
class QtDialogs final : public Dialogs {
public:
    [[nodiscard]] QString open_file(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& folder, Existence existence) override;
    [[nodiscard]] QString save_file(QWidget* parent, const QString& title, const QString& filters,
                                    const QString& suggested) override;
    void information(QWidget* parent, const QString& title, const QString& text,
                     const QString& detail = {}) override;
    void warning(QWidget* parent, const QString& title, const QString& text) override;
    [[nodiscard]] bool question(QWidget* parent, const QString& title,
                                const QString& text) override;
};

} // namespace tarvel::ui
