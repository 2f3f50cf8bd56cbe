// The archive in the window program, one line each: "name value unit".
//   archive_window_open_ms   the Archive window over 500 loggers and 10^7 samples
//                            (bench/archive/BigArchive.h), from opening to its
//                            rows painted, the archive read on its own thread
//   history_graph_open_ms    a Graph of four series of 10 years at 15 minutes
//                            (350,400 samples each, with gaps and conflicts),
//                            held in memory: shown and painted
//   history_graph_frame_ms   one zoom or pan step of that Graph redrawn
// Times are medians; the archive is made once, under build/bench. With
// --smoke: an archive of 20 loggers, one year of the series, one run each.
#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "../archive/BigArchive.h"
#include "Timing.h"
#include "bench/Smoke.h"
#include "views/TfrmArchive.h"
#include "views/TfrmGraph.h"

namespace {

using namespace bench;

constexpr int kRuns = 5;
constexpr int kFrames = 40;
constexpr int kSeries = 4;
constexpr int64_t kTenYears = 350400;  // at 15 minutes
constexpr int64_t kStepTenths = 15 * 60 * 10;
constexpr int64_t kStart = 1262304000LL * 10;  // 2010-01-01 UTC

// Four wells over ten years (or fewer samples): a yearly swing; each a gap of
// a month halfway and a conflict a year.
ArchiveHistory History(int64_t samplesPerSeries) {
    ArchiveHistory history;
    for (int s = 0; s < kSeries; ++s) {
        const std::string serial = "PX00-00000" + std::to_string(s + 1);
        history.series.push_back({s + 1, serial, 1, "LEVEL", "m"});
        auto& samples = history.samples.emplace_back();
        samples.reserve(samplesPerSeries);
        const int64_t gapFrom = samplesPerSeries / 2, gapTo = gapFrom + 30 * 96;
        for (int64_t k = 0; k < samplesPerSeries; ++k) {
            if (k >= gapFrom && k < gapTo) {
                continue;
            }
            const double level = 8 + s * 0.5 + std::sin(k * 2 * 3.14159265 / (365.25 * 96));
            samples.push_back({kStart + k * kStepTenths, {std::llround(level * 1000), 3}, 1});
        }
        history.gaps.push_back({history.series.back(), kStart + (gapFrom - 1) * kStepTenths,
                                kStart + gapTo * kStepTenths, gapTo - gapFrom});
        for (int year = 0; year < 10; ++year) {
            archive::ConflictRow conflict;
            conflict.series = history.series.back();
            conflict.time = kStart + year * 35040 * kStepTenths;
            conflict.keptValue = "8.000";
            conflict.otherValue = "8.100";
            conflict.keptDownload = 1;
            conflict.otherDownload = 2;
            history.conflicts.push_back(conflict);
        }
        history.deployments.push_back({serial,
                                       {{.location = "WELL " + std::to_string(s + 1),
                                         .startTime = kStart,
                                         .end = {},
                                         .serial = serial,
                                         .clockOffset = 0,
                                         .declared = false}}});
    }
    return history;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const bool smoke = Smoke(argc, argv);
    const int runs = smoke ? 1 : kRuns;
    const int loggers = smoke ? 20 : kBigLoggers;
    QApplication app(argc, argv);
    const std::filesystem::path big =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
        (smoke ? "smoke-archive.sqlite" : "big-archive.sqlite");
    if (!MakeBigArchive(big, loggers)) {
        return 1;
    }

    std::vector<double> open;
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
        if (rows != loggers) {
            std::fprintf(stderr, "the Archive window shows %d loggers, not %d\n", rows, loggers);
            return 1;
        }
    }

    const ArchiveHistory history = History(smoke ? kTenYears / 10 : kTenYears);
    std::vector<double> graphOpen;
    std::vector<double> frames;
    for (int run = 0; run < runs; ++run) {
        ArchiveHistory copy = history;
        std::unique_ptr<TfrmGraph> graph;
        graphOpen.push_back(Milliseconds([&] {
            graph = std::make_unique<TfrmGraph>();
            graph->resize(1000, 700);
            graph->ShowHistory(std::move(copy));
            graph->show();
            Paint(*graph);
        }));
        if (graph->plotLog->graphCount() != 2 * kSeries) {
            std::fprintf(stderr, "the Graph does not show the four series\n");
            return 1;
        }
        const std::vector<double> steps = ZoomPanFrames(*graph->plotLog, smoke ? 3 : kFrames);
        frames.insert(frames.end(), steps.begin(), steps.end());
    }

    std::printf("archive_window_open_ms %.1f ms\n", Median(open));
    std::printf("history_graph_open_ms %.1f ms\n", Median(graphOpen));
    std::printf("history_graph_frame_ms %.1f ms\n", Median(frames));
    return 0;
}
