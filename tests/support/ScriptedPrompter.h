#pragma once
// A scripted Prompter that records what the window program shows.

#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "widgets/Prompts.h"

namespace test {

class ScriptedPrompter final : public Prompter {
  public:
    struct Shown {
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
        QStringList choices;  // the buttons of a Choose box
    };

    ScriptedPrompter() { SetPrompter(this); }
    ~ScriptedPrompter() override { SetPrompter(nullptr); }

    Answer MessageBox(QWidget*, const QString& text, const QString& caption, Buttons buttons,
                      Icon icon) override {
        shown.push_back({text, caption, buttons, icon, {}});
        if (whileShown) {
            whileShown(text);  // what happens while a modal box is open
        }
        if (buttons == Buttons::Ok) {
            return Answer::Ok;
        }
        if (dismissed.removeOne(text)) {
            return Answer::No;
        }
        if (answers.empty()) {
            return Answer::No;  // an unscripted question is declined
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    int Choose(QWidget*, const QString& text, const QString& caption, const QStringList& buttons,
               Icon icon) override {
        shown.push_back({text, caption, Buttons::Ok, icon, buttons});
        if (whileShown) {
            whileShown(text);
        }
        if (choices.empty()) {
            return -1;  // closed without a choice
        }
        const int choice = choices.front();
        choices.pop_front();
        return choice;
    }
    void DismissMessageBox(const QString& text) override { dismissed << text; }
    QString BrowseForFolder(QWidget*) override { return folder; }
    SaveResult SaveFile(QWidget*, const SaveRequest& request) override {
        requests.push_back(request);
        return save;
    }
    QString OpenFile(QWidget*, const QString&, const QStringList& filters) override {
        openFilters = filters;
        return openPath;
    }
    QStringList OpenFiles(QWidget*, const QString&, const QStringList& filters) override {
        openFilters = filters;
        return openPaths;
    }
    void SetBusyCursor(bool busy) override { cursor.push_back(busy); }

    QStringList Texts() const {
        QStringList texts;
        for (const Shown& s : shown) {
            texts << s.text;
        }
        return texts;
    }
    bool Busy() const { return !cursor.empty() && cursor.back(); }

    std::vector<Shown> shown;
    std::function<void(const QString&)> whileShown;
    std::deque<Answer> answers;  // for Yes/No questions, in order
    std::deque<int> choices;     // for boxes of the caller's buttons, in order
    QStringList dismissed;       // questions closed while shown, not answered yet
    QString folder;              // what the folder browser returns; empty: cancelled
    std::vector<SaveRequest> requests;
    SaveResult save;        // the answer to every save dialog
    QString openPath;       // the answer to every open dialog; empty: cancelled
    QStringList openPaths;  // the answer to every dialog of several files
    QStringList openFilters;
    std::vector<bool> cursor;
};

}  // namespace test
