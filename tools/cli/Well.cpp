// arvelo-cli well: the wells of the archive, a well's record across its
// loggers, and what the user declares: a well's name, two wells made one,
// a logger's stay in a well.
#include <cstdio>

#include "archive/Archive.h"
#include "archive/IsoTime.h"
#include "archive/SeriesCsv.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

int List(archive::Archive& archive) {
    const auto wells = archive.Wells();
    if (!wells) {
        Fail(wells.failure().message);
        return kArchiveError;
    }
    for (const archive::WellRow& well : *wells) {
        std::string names;
        for (const std::string& name : well.names) {
            names += (names.empty() ? "" : "; ") + name;
        }
        std::printf("%s (names: %s)\n", PrintableText(well.name).c_str(),
                    PrintableText(names.empty() ? "-" : names).c_str());
        for (const archive::DeploymentRow& d : well.deployments) {
            std::printf("  %s from %s to %s clock UTC%s%s\n", PrintableText(d.serial).c_str(),
                        archive::IsoTime(d.startTime).c_str(),
                        d.end ? archive::IsoTime(*d.end).c_str() : "now",
                        archive::ClockOffsetText(d.clockOffset).c_str(),
                        d.declared ? " (declared)" : "");
        }
    }
    return kDone;
}

int Series(archive::Archive& archive, const Options& options) {
    const auto record =
        archive.WellSeries(options.operands[0], options.operands[1], options.from, options.to);
    if (!record) {
        Fail(record.failure().message);
        return kArchiveError;
    }
    return Output(options, archive::WellCsv(*record));
}

}  // namespace

int Well(const Options& options) {
    const std::unique_ptr<archive::Archive> archive = OpenArchive(options);
    if (!archive) {
        return kArchiveError;
    }
    const std::string& sub = options.subcommand;
    const std::vector<std::string>& o = options.operands;
    if (sub == "list") {
        return List(*archive);
    }
    if (sub == "series") {
        return Series(*archive, options);
    }
    const archive::Result<void> done = sub == "rename" ? archive->RenameWell(o[0], o[1])
                                       : sub == "merge"
                                           ? archive->MergeWells(o[0], o[1])
                                           : archive->Deploy(o[0], *options.logger, *options.from,
                                                             options.to, options.clockOffset);
    if (!done) {
        Fail(done.failure().message);
        return kArchiveError;
    }
    return kDone;
}

}  // namespace cli
