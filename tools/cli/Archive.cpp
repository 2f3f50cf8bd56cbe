// arvelo-cli archive: saved files into the archive, and what the archive
// holds: its loggers, a series as CSV, conflicts and the choice of one,
// gaps, downloads, and a download's file given back.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "archive/Archive.h"
#include "archive/IsoTime.h"
#include "archive/SeriesCsv.h"
#include "datafile/StagedFile.h"
#include "device/Tenths.h"
#include "platform/Errors.h"
#include "tools/cli/Commands.h"
#include "tools/cli/StoredDefaults.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

// Each file in turn, whatever became of the one before (a server back
// meanwhile takes the rest); what was not imported is counted at the end.
int Import(archive::Archive& archive, const Options& options) {
    const std::vector<std::string> files = archive::DataFilesUnder(options.operands);
    int refused = 0, failed = 0, unsure = 0;
    for (const std::string& file : files) {
        const archive::Result<archive::Imported> r =
            archive.ImportFile(file, file, {options.clockOffset});
        const std::string name = PrintableText(file);
        if (r && r->alreadyImported) {
            std::printf("%s: already in the archive (download %lld)\n", name.c_str(),
                        static_cast<long long>(r->downloadId));
        } else if (r) {
            std::printf("%s: imported, %lld new samples, %lld duplicates, %lld conflicts\n",
                        name.c_str(), static_cast<long long>(r->newSamples),
                        static_cast<long long>(r->duplicates),
                        static_cast<long long>(r->conflicts));
        } else if (r.failure().kind == archive::Fault::Refused) {
            std::printf("%s: refused: %s\n", name.c_str(),
                        PrintableText(r.failure().message).c_str());
            ++refused;
        } else {
            const bool maybeIn = r.failure().kind == archive::Fault::Unknown;
            std::fflush(stdout);
            Fail(name + (maybeIn ? ": " : " not imported: ") + PrintableText(r.failure().message));
            ++failed;
            unsure += maybeIn ? 1 : 0;
        }
        std::fflush(stdout);
    }
    if (refused + failed > 0) {
        Fail(std::to_string(refused + failed) + " of " + std::to_string(files.size()) +
             " files not imported" +
             (unsure > 0 ? " (" + std::to_string(unsure) + " of them perhaps in)" : ""));
    }
    return failed > 0 ? kArchiveError : refused > 0 ? kFileError : kDone;
}

// When a download was imported, to the second.
std::string ImportTime(int64_t seconds) {
    return archive::IsoTime(Tenths::OfSeconds(seconds).count()).substr(0, 19) + "Z";
}

std::string TimeOrDash(const std::optional<int64_t>& tenths) {
    return tenths ? archive::IsoTime(*tenths) : "-";
}

// Rows in columns as wide as their widest cell, two blanks apart.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], Columns(row[c]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) {
                line.append(widths[c] - Columns(row[c]) + 2, ' ');
            }
        }
        std::printf("%s\n", line.c_str());
    }
}

int Loggers(archive::Archive& archive) {
    const auto loggers = archive.Loggers();
    if (!loggers) {
        Fail(loggers.failure().message);
        return kArchiveError;
    }
    std::vector<std::vector<std::string>> rows{{"serial", "instrument", "locations", "channels",
                                                "first", "last", "samples", "last download",
                                                "conflicts", "gaps"}};
    for (const archive::LoggerSummary& l : *loggers) {
        std::string locations;
        for (const std::string& location : l.locations) {
            locations += (locations.empty() ? "" : "; ") + location;
        }
        rows.push_back({PrintableText(l.serial), PrintableText(l.instrumentNumber),
                        PrintableText(locations), std::to_string(l.series.size()),
                        TimeOrDash(l.held.firstTime), TimeOrDash(l.held.lastTime),
                        std::to_string(l.held.samples),
                        l.lastDownload ? ImportTime(*l.lastDownload) : "-",
                        std::to_string(l.held.conflicts), std::to_string(l.held.gaps)});
    }
    PrintTable(rows);
    return kDone;
}

// "SERIAL channel N IDENTIFICATION"
std::string SeriesText(const archive::SeriesName& s) {
    return PrintableText(s.serial) + " channel " + std::to_string(s.channel) + " " +
           PrintableText(s.identification);
}

// text into path, whole or not at all; false after saying why.
bool WriteWhole(const std::string& path, const std::string& text) {
    if (const int error = WriteWholeFile(path, text); error != 0) {
        Fail("writing " + path + " failed: " + platform::ErrnoText(error));
        return false;
    }
    return true;
}

}  // namespace

// To the file, or to standard output.
int Output(const Options& options, const std::string& text) {
    if (options.out) {
        return WriteWhole(*options.out, text) ? kDone : kFileError;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kDone;
}

int OutputSeries(const Options& options, const std::function<std::string()>& csv,
                 const std::function<archive::ExportSeries()>& series) {
    if (options.format == "pandas") {
        return Output(options, archive::PandasCsv(series()));
    }
    if (options.format == "waterml") {
        return Output(options, archive::WaterMl({series()}, std::time(nullptr)));
    }
    return Output(options, csv());
}

namespace {

int Series(archive::Archive& archive, const Options& options) {
    const auto series = archive.FindSeries(options.operands[0], options.operands[1]);
    if (!series) {
        Fail(series.failure().message);
        return kArchiveError;
    }
    const auto values = archive.Values(*series, options.from, options.to);
    if (!values) {
        Fail(values.failure().message);
        return kArchiveError;
    }
    return OutputSeries(
        options, [&] { return archive::SeriesCsv({*series}, {values->samples}); },
        [&] { return archive::SeriesExport(*series, values->samples); });
}

// "2.50 (download 2, log1.omb, imported 2024-04-01T12:00:00Z)"
std::string ValueOf(const std::string& value, int64_t download, const std::string& file,
                    int64_t imported) {
    return value + " (download " + std::to_string(download) + ", " + PrintableText(file) +
           ", imported " + ImportTime(imported) + ")";
}

int Conflicts(archive::Archive& archive) {
    const auto conflicts = archive.Conflicts();
    if (!conflicts) {
        Fail(conflicts.failure().message);
        return kArchiveError;
    }
    for (const archive::ConflictRow& c : *conflicts) {
        const std::string choice = c.choice ? "keeps " + c.choice->value + " of download " +
                                                  std::to_string(c.choice->download) +
                                                  ", chosen by " + PrintableText(c.choice->by) +
                                                  " at " + ImportTime(c.choice->at)
                                            : "open";
        std::printf("%s %s: first %s, other %s: %s\n", SeriesText(c.series).c_str(),
                    archive::IsoTime(c.time).c_str(),
                    ValueOf(c.keptValue, c.keptDownload, c.keptFile, c.keptImported).c_str(),
                    ValueOf(c.otherValue, c.otherDownload, c.otherFile, c.otherImported).c_str(),
                    choice.c_str());
    }
    return kDone;
}

int Resolve(archive::Archive& archive, const Options& options) {
    using Kind = archive::Keep::Kind;
    archive::Keep keep;
    if (options.keep == "other") {
        keep.kind = Kind::Other;
    } else if (options.keep == "none") {
        keep.kind = Kind::None;
    } else if (options.keep != "first") {
        keep = {Kind::Download, std::stoll(options.keep)};
    }
    const auto series = archive.FindSeries(options.operands[0], options.operands[1]);
    const archive::Result<void> resolved =
        series ? archive.Resolve(*series, *options.time, keep) : series.failure();
    if (!resolved) {
        Fail(PrintableText(resolved.failure().message));
        return kArchiveError;
    }
    std::printf("%s %s: %s\n", SeriesText(*series).c_str(), archive::IsoTime(*options.time).c_str(),
                keep.kind == Kind::None ? "the choice taken back, the conflict open" : "resolved");
    return kDone;
}

int Gaps(archive::Archive& archive) {
    const auto gaps = archive.Gaps();
    if (!gaps) {
        Fail(gaps.failure().message);
        return kArchiveError;
    }
    for (const archive::GapRow& g : *gaps) {
        std::printf("%s: %lld missing between %s and %s\n", SeriesText(g.series).c_str(),
                    static_cast<long long>(g.missing), archive::IsoTime(g.lastBefore).c_str(),
                    archive::IsoTime(g.firstAfter).c_str());
    }
    return kDone;
}

int Downloads(archive::Archive& archive) {
    const auto downloads = archive.Downloads();
    if (!downloads) {
        Fail(downloads.failure().message);
        return kArchiveError;
    }
    std::vector<std::vector<std::string>> rows{{"download", "imported", "serial", "location",
                                                "file", "from", "new", "duplicates", "conflicts"}};
    for (const archive::DownloadRow& d : *downloads) {
        rows.push_back({std::to_string(d.id), ImportTime(d.importedAt), PrintableText(d.serial),
                        PrintableText(d.location), PrintableText(d.fileName),
                        PrintableText(d.source), std::to_string(d.newSamples),
                        std::to_string(d.duplicates), std::to_string(d.conflicts)});
    }
    PrintTable(rows);
    return kDone;
}

int Export(archive::Archive& archive, const Options& options) {
    const auto text = archive.DownloadText(*options.downloadId);
    if (!text) {
        Fail(text.failure().message);
        return kArchiveError;
    }
    return Output(options, *text);
}

}  // namespace

std::unique_ptr<archive::Archive> OpenArchive(const Options& options) {
    auto opened =
        archive::Archive::Open(options.archive.value_or(LoadStoredDefaults().archiveLocation));
    if (!opened) {
        Fail(PrintableText(opened.failure().message));
        return nullptr;
    }
    if (!(*opened)->Migrated().empty()) {
        std::fprintf(stderr, "arvelo-cli: %s\n", PrintableText((*opened)->Migrated()).c_str());
    }
    return std::move(*opened);
}

int Archive(const Options& options) {
    const std::unique_ptr<archive::Archive> archive = OpenArchive(options);
    if (!archive) {
        return kArchiveError;
    }
    const std::string& sub = options.subcommand;
    if (sub == "import") {
        return Import(*archive, options);
    }
    if (sub == "loggers") {
        return Loggers(*archive);
    }
    if (sub == "series") {
        return Series(*archive, options);
    }
    if (sub == "conflicts") {
        return Conflicts(*archive);
    }
    if (sub == "resolve") {
        return Resolve(*archive, options);
    }
    if (sub == "gaps") {
        return Gaps(*archive);
    }
    if (sub == "downloads") {
        return Downloads(*archive);
    }
    return Export(*archive, options);
}

}  // namespace cli
