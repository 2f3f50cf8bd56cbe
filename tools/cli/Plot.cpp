// arvelo-cli plot and well plot: a data file, or a well's levels, drawn as
// the window program's Graph draws them, offscreen, into a picture.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "graph/LevelTraces.h"
#include "graph/LogPlot.h"
#include "tools/cli/Commands.h"

namespace cli {

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;

// Draws into the picture of --out what show puts on the plot.
int Draw(const Options& options, const std::function<void(LogPlot&)>& show) {
    // No window is shown: the picture is drawn without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "arvelo-cli";
    char* argv[] = {name, nullptr};
    const QApplication application(argc, argv);
    LogPlot plot;
    plot.resize(kWidth, kHeight);
    show(plot);
    const std::string& picture = *options.out;
    if (!plot.SavePicture(QString::fromLocal8Bit(picture.c_str()))) {
        Fail("cannot write " + picture + " (a " + PictureExtensions() + " file)");
        return kFileError;
    }
    std::printf("wrote %s\n", picture.c_str());
    return kDone;
}

// The samples of a trace within [from, to] (tenths, both included).
void Cut(PlotTrace& trace, std::optional<int64_t> from, std::optional<int64_t> to) {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < trace.times.size(); ++k) {
        const int64_t t = TenthsOf(trace.times[k]).count();
        if ((from && t < *from) || (to && t > *to)) {
            continue;
        }
        trace.times[kept] = trace.times[k];
        trace.values[kept] = trace.values[k];
        if (k < trace.notes.size()) {
            trace.notes[kept] = trace.notes[k];
        }
        ++kept;
    }
    trace.times.resize(kept);
    trace.values.resize(kept);
    trace.notes.resize(std::min(trace.notes.size(), kept));
}

}  // namespace

int Plot(const Options& options) {
    const ReadResult read = ReadOrReport(*options.file);
    if (!read.ok()) {
        return kFileError;
    }
    return Draw(options, [&read](LogPlot& plot) { plot.SetLog(read.log); });
}

int PlotLevels(const Options& options, const std::string& well, const archive::WellLevels& levels) {
    std::vector<PlotTrace> traces =
        LevelTraces(levels.inputs, levels.levels, QuantityOf(options), LengthUnits().front());
    for (PlotTrace& trace : traces) {
        Cut(trace, options.from, options.to);
    }
    return Draw(options, [&](LogPlot& plot) { plot.SetTraces(LevelTitle(well), traces); });
}

}  // namespace cli
