#pragma once
// The commands of arvelo-cli, each in a file of its own; each returns the
// program's exit code.

#include <memory>

#include "Serial/LinkTrace.h"
#include "archive/Archive.h"
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
// The data file read; what could not be read is reported on standard error.
ReadResult ReadOrReport(const std::string& path);
// Needs Qt Widgets and the plotting library; a build without them says so.
int Plot(const Options& options);

}  // namespace cli
