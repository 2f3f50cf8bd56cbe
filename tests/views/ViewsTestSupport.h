#pragma once
// A scripted Prompter that records what the window program shows, and the
// logs the data window tests show.

#include <QStringList>
#include <deque>
#include <string>
#include <vector>

#include "device/TestRecords.h"
#include "views/Prompts.h"

namespace test {

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
        requests.push_back(request);
        return save;
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
    std::deque<Answer> answers;  // for Yes/No questions, in order
    QString folder;              // what the folder browser returns; empty: cancelled
    std::vector<SaveRequest> requests;
    SaveResult save;  // the answer to every save dialog
    std::vector<bool> cursor;
};

struct Sample {
    uint8_t low = 0;
    uint8_t high = 0;
    uint8_t step = 0;
};

// A log decoded from reader records; channel j gets samples[j].
inline DeviceLog MakeLog(const HeaderFields& header, const std::vector<ChannelFields>& channels,
                         const std::vector<std::vector<Sample>>& samples,
                         std::string_view typeDigits = "10") {
    DeviceLog log = DecodeLog(header, typeDigits);
    for (const ChannelFields& fields : channels) {
        log.addChannel(DecodeChannel(fields));
    }
    for (std::size_t j = 0; j < samples.size(); ++j) {
        for (const Sample& s : samples[j]) {
            log.channel(static_cast<int>(j))->appendSample(s.low, s.high, s.step);
        }
    }
    return log;
}

// Level in cm with 1 decimal of range (1000.0), and a temperature channel
// with 2 decimals.
inline const ChannelFields kLevel{};
inline const ChannelFields kTemperature{.identification = "TEMPERATURE",
                                        .reference = "-5.0",
                                        .referenceUnit = "C",
                                        .range = "50.00",
                                        .rangeUnit = "C",
                                        .masterLevel = "0",
                                        .masterLevelUnit = "C",
                                        .altitude = "0.0",
                                        .altitudeUnit = "m"};

}  // namespace test
