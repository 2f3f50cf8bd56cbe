#pragma once
// The commands of arvelo-cli, each in a file of its own; each returns the
// program's exit code.

#include <functional>
#include <memory>

#include "Serial/LinkTrace.h"
#include "archive/Archive.h"
#include "archive/Exports.h"
#include "datafile/DataFileReader.h"
#include "tools/cli/Options.h"

namespace cli {

int Ports();
int Download(const Options& options, const std::shared_ptr<LinkTrace>& trace);
int Erase(const Options& options, const std::shared_ptr<LinkTrace>& trace);
int Dump(const Options& options, const std::shared_ptr<LinkTrace>& trace);
int Show(const Options& options);
int Archive(const Options& options);
int Well(const Options& options);
// The archive the options name, opened; none after saying why. What opening
// did to it (brought to this version) is said on standard error.
std::unique_ptr<archive::Archive> OpenArchive(const Options& options);
// text to the file of --out, or to standard output.
int Output(const Options& options, const std::string& text);
// A series to the file of --out, or to standard output, in the format of
// --format: csv the command's own layout, pandas or waterml the series'.
int OutputSeries(const Options& options, const std::function<std::string()>& csv,
                 const std::function<archive::ExportSeries()>& series);
// The data file read; what could not be read is reported on standard error.
ReadResult ReadOrReport(const std::string& path);
// well level and plot: the quantity of --quantity, the level without one.
inline level::Quantity QuantityOf(const Options& options) {
    return level::QuantityNamed(options.quantity).value_or(level::Quantity::Level);
}
// Need Qt Widgets and the plotting library; a build without them says so.
int Plot(const Options& options);
// well plot: the well's level Graph as a picture.
int PlotLevels(const Options& options, const std::string& well, const archive::WellLevels& levels);

}  // namespace cli
