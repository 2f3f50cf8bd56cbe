// arvelo-cli: Download All and Erase from the command line, through the same
// run core as the window program; the support tools: a dump of the reader's
// memory for the virtual reader, and a trace of the serial line; and saved
// data files shown as a summary or drawn as a picture; and the archive of
// every log.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/Commands.h"

namespace {

void OnSignal(int) {
    cli::interrupted = true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return Usage();
    }
    if (const std::string help = HelpAskedFor(args); !help.empty()) {
        std::fputs(help.c_str(), stdout);
        return kDone;
    }
    Options options;
    if (const std::string complaint = ParseCommandLine(args, &options); !complaint.empty()) {
        return BadArguments(complaint);
    }
    std::shared_ptr<LinkTrace> trace;
    if (options.trace) {
        std::string error;
        trace = FileLinkTrace::Open(*options.trace, &error);
        if (!trace) {
            Fail("cannot write the trace file " + *options.trace + ": " + error);
            return kFileError;
        }
    }
    switch (options.command) {
        case Command::Ports:
            return Ports();
        case Command::Show:
            return Show(options);
        case Command::Plot:
            return Plot(options);
        case Command::Archive:
            return Archive(options);
        case Command::Well:
            return Well(options);
        default:
            break;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    if (options.command == Command::Erase) {
        return Erase(options, trace);
    }
    if (options.command == Command::Dump) {
        return Dump(options, trace);
    }
    return Download(options, trace);
}
