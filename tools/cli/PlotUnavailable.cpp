// arvelo-cli plot in a build without Qt Widgets and the plotting library.
#include "tools/cli/Commands.h"

namespace cli {

int Plot(const Options&) {
    Fail("plot is not built into this arvelo-cli: it needs Qt Widgets and QCustomPlot");
    return kBadArguments;
}

}  // namespace cli
