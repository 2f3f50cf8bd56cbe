// The archive in the window program, one line each: "name value unit".
//   archive_window_open_ms   the Archive window by well over 500 wells and 10^7
//                            samples (bench/archive/BigArchive.h), from opening
//                            to its rows painted, the archive read on its own thread
//   history_graph_open_ms    a Graph of four series of 10 years at 15 minutes
//                            (350,400 samples each, with a gap and conflicts):
//                            read from the archive, shown and painted
//   history_graph_frame_ms   one zoom or pan step of that Graph redrawn
//   level_graph_open_ms      the level Graph of a well of ten years at 15 minutes
//                            (two stays, a baro at an hour, 40 dips): read,
//                            computed, shown and painted
// Times are medians; the archives are made once, under build/bench. With
// --smoke: an archive of 20 loggers, one year of the series, one run each.
#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "../archive/BigArchive.h"
#include "Timing.h"
#include "archive/WellView.h"
#include "bench/Smoke.h"
#include "graph/LogPlot.h"
#include "views/TfrmArchive.h"
#include "views/TfrmGraph.h"

namespace {

using namespace bench;

constexpr int kRuns = 5;
constexpr int kFrames = 40;

// Opening to its rows painted, each run; false when a run shows too few rows.
bool TimeArchiveWindow(const std::filesystem::path& big, int loggers, int runs,
                       std::vector<double>& open) {
    for (int run = 0; run < runs; ++run) {
        std::unique_ptr<TfrmArchive> window;
        open.push_back(Milliseconds([&] {
            window = std::make_unique<TfrmArchive>(big.string());
            window->resize(1200, 700);
            window->show();
            while (window->Loading()) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            }
            Paint(*window);
        }));
        int rows = 0;
        for (int g = 0; g < window->tvwLoggers->topLevelItemCount(); ++g) {
            rows += window->tvwLoggers->topLevelItem(g)->childCount();
        }
        if (rows != BigArchiveRows(loggers)) {
            std::fprintf(stderr, "the Archive window shows %d rows, not %d\n", rows,
                         BigArchiveRows(loggers));
            return false;
        }
    }
    return true;
}

// The history Graph opened, then zoomed and panned, each run.
bool TimeHistoryGraph(const std::filesystem::path& path, bool smoke, int runs,
                      std::vector<double>& open, std::vector<double>& frames) {
    auto opened = archive::Archive::Open(path.string(), archive::Archive::OpenMode::Existing);
    std::vector<archive::SeriesName> series;
    for (int logger = 0; opened && logger < kHistoryLoggers; ++logger) {
        auto found = (*opened)->FindSeries(BigSerial(logger) + "01", "1");
        if (!found) {
            opened = found.failure();
        } else {
            series.push_back(*found);
        }
    }
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.failure().message.c_str());
        return false;
    }
    for (int run = 0; run < runs; ++run) {
        std::unique_ptr<TfrmGraph> graph;
        bool read = false;
        open.push_back(Milliseconds([&] {
            auto history = archive::ReadHistory(**opened, series, {});
            read = history.ok();
            graph = std::make_unique<TfrmGraph>();
            graph->resize(1000, 700);
            graph->ShowHistory(read ? std::move(*history) : archive::History{});
            graph->show();
            Paint(*graph);
        }));
        if (!read || graph->plotLog->graphCount() != 2 * kHistoryLoggers) {
            std::fprintf(stderr, "the Graph does not show the four series with their conflicts\n");
            return false;
        }
        const std::vector<double> steps = ZoomPanFrames(*graph->plotLog, smoke ? 3 : kFrames);
        frames.insert(frames.end(), steps.begin(), steps.end());
    }
    return true;
}

// The well's level Graph read, computed, shown and painted, each run.
bool TimeLevelGraph(const std::filesystem::path& path, int runs, std::vector<double>& open) {
    auto opened = archive::Archive::Open(path.string(), archive::Archive::OpenMode::Existing);
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.failure().message.c_str());
        return false;
    }
    for (int run = 0; run < runs; ++run) {
        std::unique_ptr<TfrmGraph> graph;
        std::string why;
        open.push_back(Milliseconds([&] {
            auto view = archive::ReadWell(**opened, kLevelWell);
            why = !view ? view.failure().message : view->why;
            graph = std::make_unique<TfrmGraph>();
            graph->resize(1000, 700);
            if (view) {
                graph->ShowLevels(std::move(*view));
            }
            graph->show();
            Paint(*graph);
        }));
        if (!why.empty() || graph->plotLog->graphCount() != 4) {
            std::fprintf(stderr, "the level Graph is not shown: %s\n", why.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    DrawOffscreenUnlessTold();
    const bool smoke = Smoke(argc, argv);
    const int runs = smoke ? 1 : kRuns;
    const int loggers = smoke ? 20 : kBigLoggers;
    QApplication app(argc, argv);
    const std::filesystem::path folder(QCoreApplication::applicationDirPath().toStdString());
    const std::filesystem::path big = folder / (smoke ? "smoke-wells.sqlite" : "big-wells.sqlite");
    const std::filesystem::path history =
        folder / (smoke ? "smoke-history.sqlite" : "history.sqlite");
    const std::filesystem::path level = folder / (smoke ? "smoke-level.sqlite" : "level.sqlite");
    const int64_t samples = smoke ? kTenYears / 10 : kTenYears;  // each series'

    std::vector<double> open, graphOpen, frames, levelOpen;
    if (!MakeBigArchive(big, loggers) || !TimeArchiveWindow(big, loggers, runs, open) ||
        !MakeHistoryArchive(history, samples) ||
        !TimeHistoryGraph(history, smoke, runs, graphOpen, frames) ||
        !MakeLevelArchive(level, samples) || !TimeLevelGraph(level, runs, levelOpen)) {
        return 1;
    }
    std::printf("archive_window_open_ms %.1f ms\n", Median(open));
    std::printf("history_graph_open_ms %.1f ms\n", Median(graphOpen));
    std::printf("history_graph_frame_ms %.1f ms\n", Median(frames));
    std::printf("level_graph_open_ms %.1f ms\n", Median(levelOpen));
    return 0;
}
