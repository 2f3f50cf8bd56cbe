// arvelo-cli well: the wells of the archive, a well's record across its
// loggers, its water levels, and what the user declares: a well's name and
// facts, two wells made one, a logger's stay in a well, its barometric
// logger, the dips read in it.
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <variant>

#include "archive/Archive.h"
#include "archive/IsoTime.h"
#include "archive/SeriesCsv.h"
#include "level/Levels.h"
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
    return OutputSeries(
        options, [&] { return archive::WellCsv(*record); },
        [&] { return archive::RecordExport(*record, options.operands[0]); });
}

// The well's levels computed as the options ask.
archive::Result<archive::WellLevels> Levels(archive::Archive& archive, const Options& options) {
    level::Density density;
    level::Gravity gravity;
    if (options.density == "kell") {
        density = level::Kell{};
    } else if (!options.density.empty()) {
        density = *archive::NumberOf(options.density);
    }
    if (options.gravity == "local") {
        gravity = level::Local{};
    } else if (!options.gravity.empty()) {
        gravity = *archive::NumberOf(options.gravity);
    }
    return archive.Levels(options.operands[0], density, gravity);
}

int ImportDips(archive::Archive& archive, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        Fail("cannot read " + path);
        return kFileError;
    }
    const archive::DipSheet sheet = archive::ReadDipSheet(text.str());
    if (!sheet.why.empty()) {
        Fail(path + ", " + sheet.why + ": no dip imported");
        return kFileError;
    }
    if (const auto added = archive.AddDips(sheet.dips); !added) {
        Fail(added.failure().message + ": no dip imported");
        return kArchiveError;
    }
    std::printf("%zu dips imported\n", sheet.dips.size());
    return kDone;
}

// What the user declares of a well.
archive::Result<void> Declare(archive::Archive& archive, const Options& options) {
    const std::string& sub = options.subcommand;
    const std::vector<std::string>& o = options.operands;
    if (sub == "rename") {
        return archive.RenameWell(o[0], o[1]);
    }
    if (sub == "merge") {
        return archive.MergeWells(o[0], o[1]);
    }
    if (sub == "set") {
        return archive.SetWell(
            o[0], {options.reference, options.datum, options.latitude, options.ground});
    }
    if (sub == "baro") {
        return archive.AssignBaro(
            o[0],
            {*options.logger, options.channel, options.clockOffset, options.height.value_or("0"),
             options.from.value_or(std::numeric_limits<int64_t>::min()), options.to});
    }
    if (sub == "dip") {
        return archive.AddDips({{o[0], {*options.time, *options.depth, options.note}}});
    }
    return archive.Deploy(o[0], *options.logger, *options.from, options.to, options.clockOffset,
                          {options.channel, options.temperature, options.cable, options.vented});
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
    if (sub == "dips" && o.size() == 2) {
        return ImportDips(*archive, o[1]);
    }
    if (sub == "dips" || sub == "level" || sub == "plot") {
        const auto levels = Levels(*archive, options);
        if (!levels) {
            Fail(levels.failure().message);
            return kArchiveError;
        }
        if (sub == "dips") {
            return Output(options, archive::DipsCsv(levels->inputs, levels->levels));
        }
        if (sub == "plot") {
            return PlotLevels(options, o[0], *levels);
        }
        return OutputSeries(
            options, [&] { return archive::LevelCsv(levels->levels, options.from, options.to); },
            [&] {
                return archive::LevelExport(*levels, o[0], QuantityOf(options), options.from,
                                            options.to);
            });
    }
    const archive::Result<void> done = Declare(*archive, options);
    if (!done) {
        Fail(done.failure().message);
        return kArchiveError;
    }
    return kDone;
}

}  // namespace cli
