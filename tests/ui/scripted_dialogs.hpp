// Dialogs answered by a test: each open-file dialog takes the next scripted answer (none
// left: the user cancels), and every dialog shown is recorded.
#pragma once

#include <QString>
#include <deque>
#include <vector>

#include "ui/dialogs.hpp"

namespace tarvel::testing {

struct PickerShown {
    QString title;
    QString filter;
    QString folder;
    ui::Existence existence;
};

struct MessageShown {
    QString title;
    QString text;
    bool warning;
};

class ScriptedDialogs final : public ui::Dialogs {
public:
    /// Answers for the coming open-file dialogs, in order; an empty answer cancels.
    std::deque<QString> answers;
    std::vector<PickerShown> pickers;
    std::vector<MessageShown> messages;

    QString open_file(QWidget*, const QString& title, const QString& filter, const QString& folder,
                      ui::Existence existence) override {
        pickers.push_back({title, filter, folder, existence});
        if (answers.empty()) {
            return {};
        }
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }

    void information(QWidget*, const QString& title, const QString& text) override {
        messages.push_back({title, text, false});
    }

    void warning(QWidget*, const QString& title, const QString& text) override {
        messages.push_back({title, text, true});
    }
};

} // namespace tarvel::testing
