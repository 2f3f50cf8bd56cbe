#pragma once
// What the window tests share: a prompter that answers prompts from a script
// and records every text shown. The application object comes from the test
// programs' main (tests/views/ViewsTestMain.cpp).

#include <QString>
#include <QStringList>

#include <deque>
#include <ostream>
#include <vector>

#include "views/Prompts.h"

// Readable test failures.
inline std::ostream& operator<<(std::ostream& os, const QString& text) {
    return os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << text;
}
inline void PrintTo(const QStringList& texts, std::ostream* os) {
    *os << "{" << texts.join(", ") << "}";
}

class ScriptedPrompter final : public Prompter {
  public:
    struct Shown {
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
    };

    ScriptedPrompter() { SetPrompter(this); }
    ~ScriptedPrompter() override { SetPrompter(nullptr); }

    Answer MessageBox(QWidget*, const QString& text, const QString& caption, Buttons buttons,
                      Icon icon) override {
        shown.push_back({text, caption, buttons, icon});
        if (buttons == Buttons::Ok) {
            return Answer::Ok;
        }
        if (answers.empty()) {
            return Answer::No;  // an unscripted question is declined
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QString BrowseForFolder(QWidget*) override { return folder; }
    SaveResult SaveFile(QWidget*, const SaveRequest& request) override {
        saveRequests.push_back(request);
        return saveResult;
    }
    void SetBusyCursor(bool isBusy) override { busy = isBusy; }

    QStringList Texts() const {
        QStringList texts;
        for (const Shown& s : shown) {
            texts << s.text;
        }
        return texts;
    }

    std::vector<Shown> shown;
    std::deque<Answer> answers;  // for Yes/No questions, in order
    QString folder;              // what the folder browser returns; empty = cancel
    SaveResult saveResult;
    std::vector<SaveRequest> saveRequests;
    bool busy = false;
};
