// Dialogs answered by a test: each open-file or save dialog takes the next scripted answer
// (none left: the user cancels), each question the next scripted yes or no (none left: no),
// and every dialog shown is recorded.
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
    QString detail;
};

class ScriptedDialogs final : public ui::Dialogs {
public:
    /// Answers for the coming open-file and save dialogs, in order; an empty answer cancels.
    std::deque<QString> answers;
    /// Answers for the coming questions, in order.
    std::deque<bool> yes;
    std::vector<PickerShown> pickers;
    std::vector<MessageShown> messages;
    std::vector<QString> questions;

    QString open_file(QWidget*, const QString& title, const QString& filter, const QString& folder,
                      ui::Existence existence) override {
        pickers.push_back({title, filter, folder, existence});
        return next_answer();
    }

    QString save_file(QWidget*, const QString& title, const QString& filters,
                      const QString& suggested) override {
        pickers.push_back({title, filters, suggested, ui::Existence::may_be_new});
        return next_answer();
    }

    void information(QWidget*, const QString& title, const QString& text,
                     const QString& detail) override {
        messages.push_back({title, text, false, detail});
    }

    void warning(QWidget*, const QString& title, const QString& text) override {
        messages.push_back({title, text, true, {}});
    }

    bool question(QWidget*, const QString&, const QString& text) override {
        questions.push_back(text);
        if (yes.empty()) {
            return false;
        }
        const bool answer = yes.front();
        yes.pop_front();
        return answer;
    }

private:
    QString next_answer() {
        if (answers.empty()) {
            return {};
        }
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

} // namespace tarvel::testing
