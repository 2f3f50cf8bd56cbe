// arvelo-cli plot and well plot in a build without Qt Widgets and the plotting library.
#include "tools/cli/Commands.h"

namespace cli {

int Plot(const Options&) {
    Fail("plot is not built into this arvelo-cli: it needs Qt Widgets and QCustomPlot");
    return kBadArguments;
}

int PlotLevels(const Options&, const std::string&, const archive::WellLevels&) {
    Fail("well plot is not built into this arvelo-cli: it needs Qt Widgets and QCustomPlot");
    return kBadArguments;
}

}  // namespace cli
