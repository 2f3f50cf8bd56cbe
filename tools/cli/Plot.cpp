// arvelo-cli plot: a data file drawn as the window program's Graph draws it,
// offscreen, into a picture.
#include <QApplication>

#include <cstdio>

#include "graph/LogPlot.h"
#include "tools/cli/Commands.h"

namespace cli {

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;

}  // namespace

int Plot(const Options& options) {
    const std::string& path = *options.file;
    const ReadResult read = ReadOrReport(path);
    if (!read.ok()) {
        return kFileError;
    }
    // No window is shown: the picture is drawn without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "arvelo-cli";
    char* argv[] = {name, nullptr};
    const QApplication application(argc, argv);
    LogPlot plot;
    plot.resize(kWidth, kHeight);
    plot.SetLog(read.log);
    const std::string& picture = *options.out;
    if (!plot.SavePicture(QString::fromLocal8Bit(picture.c_str()))) {
        Fail("cannot write " + picture + " (a " + PictureExtensions() + " file)");
        return kFileError;
    }
    std::printf("wrote %s\n", picture.c_str());
    return kDone;
}

}  // namespace cli
