// Times the data window on the largest log a reader holds (30000 samples,
// 10 channels), painted offscreen, and a grid with one item per cell filled
// with the same texts; and the Graph of 30000 samples of 12 channels in three
// units: opened, then one step of zoom or pan redrawn. Prints "name value
// unit" lines, medians. With --smoke: one run each, a few Graph steps.

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Timing.h"
#include "bench/Smoke.h"
#include "graph/LogPlot.h"
#include "views/TfrmGraph.h"
#include "views/TfrmOutput.h"
#include "widgets/Prompts.h"

namespace {

using namespace bench;

constexpr int kSamples = LogChannel::kMaxSamples;
constexpr int kChannels = 10;
constexpr int kGraphChannels = 12;
constexpr int kRuns = 5;
constexpr int kFrames = 40;

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

DeviceLog FullLog(int channels) {
    DeviceLog log;
    const std::string header = Padded("BENCH WELL", 20) +
                               Padded("PX00-012767" + std::to_string(channels) + "1.0", 16) +
                               Padded("IN-1", 20) + "00 00:00:00 5" + "T   " + "00:00:08 01/06/04" +
                               "  " + "00:00:12 01/06/04";
    log.parseLogHeader(header.data(), static_cast<int>(header.size()));
    for (int j = 0; j < channels; ++j) {
        LogChannel channel;
        const std::string unit = j % 3 == 0 ? "cm" : j % 3 == 1 ? "C" : "mS";
        const std::string record = Padded("CHANNEL " + std::to_string(j), 20) +
                                   Padded("  12.50", 10) + Padded(unit, 6) +
                                   Padded("1000.000", 10) + Padded(unit, 6) + Padded("1.5", 10) +
                                   Padded("m", 6) + Padded("3", 10) + Padded("m", 6);
        channel.parseChannelHeader(record.data(), static_cast<int>(record.size()));
        for (int k = 0; k < kSamples; ++k) {
            channel.appendSample(static_cast<uint8_t>((k * 7 + j) % 250),
                                 static_cast<uint8_t>(k % 120), 0);
        }
        log.addChannel(channel);
    }
    return log;
}

class QuietPrompter final : public Prompter {
  public:
    Answer MessageBox(QWidget*, const QString&, const QString&, Buttons, Icon) override {
        return Answer::Ok;
    }
    int Choose(QWidget*, const QString&, const QString&, const QStringList&, Icon) override {
        return -1;
    }
    void DismissMessageBox(const QString&) override {}
    QString BrowseForFolder(QWidget*) override { return {}; }
    SaveResult SaveFile(QWidget*, const SaveRequest&) override { return {}; }
    QString OpenFile(QWidget*, const QString&, const QStringList&) override { return {}; }
    QStringList OpenFiles(QWidget*, const QString&, const QStringList&) override { return {}; }
    void SetBusyCursor(bool) override {}
};

// The data window: the log shown, then scrolled to its end, each run.
bool TimeDataWindow(const DeviceLog& log, int runs, std::vector<double>& show,
                    std::vector<double>& scroll) {
    for (int run = 0; run < runs; ++run) {
        TfrmOutput window(0);
        window.show();
        Paint(window);
        show.push_back(Milliseconds([&] {
            window.ShowLog(&log);
            Paint(window);
        }));
        scroll.push_back(Milliseconds([&] {
            window.stgData->scrollToBottom();
            Paint(window);
        }));
        const QScrollBar* bar = window.stgData->verticalScrollBar();
        if (window.GridModel().GridRowCount() != kSamples + 1 || bar->value() != bar->maximum()) {
            std::fprintf(stderr, "the grid does not show the whole log\n");
            return false;
        }
    }
    return true;
}

// The same texts, one item per cell and per time.
void TimeItemGrid(const DeviceLog& log, int runs, std::vector<double>& naive) {
    SampleGridModel texts;
    texts.SetLog(log);
    for (int run = 0; run < runs; ++run) {
        QTableWidget table;
        table.resize(553, 201);
        table.show();
        Paint(table);
        naive.push_back(Milliseconds([&] {
            table.setRowCount(kSamples);
            table.setColumnCount(kChannels);
            for (int c = 1; c <= kChannels; ++c) {
                table.setHorizontalHeaderItem(
                    c - 1, new QTableWidgetItem(QString::fromStdString(texts.Cell(c, 0))));
            }
            for (int r = 1; r <= kSamples; ++r) {
                table.setVerticalHeaderItem(
                    r - 1, new QTableWidgetItem(QString::fromStdString(texts.Cell(0, r))));
                for (int c = 1; c <= kChannels; ++c) {
                    table.setItem(r - 1, c - 1,
                                  new QTableWidgetItem(QString::fromStdString(texts.Cell(c, r))));
                }
            }
            Paint(table);
        }));
    }
}

// The Graph: a window opened on the log, then the wheel zooms in and out
// and the time axis is dragged, one step at a time.
bool TimeGraph(bool smoke, int runs, std::vector<double>& open, std::vector<double>& frames) {
    const DeviceLog graphLog = FullLog(kGraphChannels);
    for (int run = 0; run < runs; ++run) {
        std::unique_ptr<TfrmGraph> graph;
        open.push_back(Milliseconds([&] {
            graph = std::make_unique<TfrmGraph>();
            graph->resize(1000, 700);
            graph->ShowLog(graphLog, QStringLiteral("bench"));
            graph->show();
            Paint(*graph);
        }));
        LogPlot& plot = *graph->plotLog;
        if (plot.SampleCount() != kSamples || plot.graphCount() != kGraphChannels) {
            std::fprintf(stderr, "the Graph does not show the whole log\n");
            return false;
        }
        const std::vector<double> steps = ZoomPanFrames(plot, smoke ? 3 : kFrames);
        frames.insert(frames.end(), steps.begin(), steps.end());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    DrawOffscreenUnlessTold();
    const bool smoke = Smoke(argc, argv);
    const int runs = smoke ? 1 : kRuns;
    QApplication app(argc, argv);
    QuietPrompter prompter;
    SetPrompter(&prompter);
    const DeviceLog log = FullLog(kChannels);

    std::vector<double> show, scroll, naive, open, frames;
    if (!TimeDataWindow(log, runs, show, scroll)) {
        return 1;
    }
    TimeItemGrid(log, runs, naive);
    if (!TimeGraph(smoke, runs, open, frames)) {
        return 1;
    }
    std::printf("datawindow_show_ms %.1f ms\n", Median(show));
    std::printf("datawindow_scroll_ms %.1f ms\n", Median(scroll));
    std::printf("datawindow_naive_ms %.1f ms\n", Median(naive));
    std::printf("graph_open_ms %.1f ms\n", Median(open));
    std::printf("graph_frame_ms %.1f ms\n", Median(frames));
    return 0;
}
