// The archive's figures, one line each: "name value unit".
//   archive_import_ms         one log of 30000 samples x 12 channels into a fresh SQLite archive
//   archive_reimport_ms       the same log downloaded again: every sample a duplicate
//   archive_series_ms         one channel-year (35040 samples) out of an archive of 10^7 samples
//   well_series_ms            one well-year (35040 samples, two loggers) out of that archive
//   archive_bytes_per_sample  that archive's file size per sample
//   archive_migrate_s         that archive as version 1 (its rows copied into version 1's
//                             tables) brought to this version, its copy kept first
//   archive_pg_import_ms      the first figure on a local PostgreSQL server
// Times are the median of several runs. With --smoke: one run each, and an
// archive of one logger for the series.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "archive/Archive.h"
#include "archive/IsoTime.h"
#include "archive/Schema.h"
#include "bench/Smoke.h"
#include "bench/Stopwatch.h"
#include "support/ArchiveLogs.h"
#include "support/PostgresServer.h"

namespace {

namespace fs = std::filesystem;
using bench::Median;
using bench::Milliseconds;

constexpr int kChannels = 12;
constexpr int kSamples = 30000;
constexpr int kRuns = 5;

struct SavedLog {
    DeviceLog log;
    std::string text;
};

// A full log of one logger, every 15 minutes from start, as a download saves it.
SavedLog FullLog(const fs::path& folder, const std::string& serial, const std::string& start,
                 const std::string& user, const std::string& location = "WELL 7") {
    archivetest::LogRecipe recipe;
    recipe.location = location;
    recipe.serial = serial;
    recipe.start = start;
    recipe.range = "10.000";
    recipe.values.assign(kChannels, std::vector<double>(kSamples));
    for (int j = 0; j < kChannels; ++j) {
        for (int k = 0; k < kSamples; ++k) {
            recipe.values[j][k] = 5 + 4.5 * std::sin(k * 0.001 + j) + (k * 7 % 13) * 0.001;
        }
    }
    SavedLog saved{archivetest::MakeLog(recipe), {}};
    const fs::path path = folder / (serial + user + ".omb");
    archivetest::SaveLog(saved.log, path.string(), user);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    saved.text = text.str();
    fs::remove(path);
    return saved;
}

std::unique_ptr<archive::Archive> Open(const std::string& location) {
    auto opened = archive::Archive::Open(location);
    if (!opened) {
        std::fprintf(stderr, "bench_archive: %s\n", opened.failure().message.c_str());
        std::exit(1);
    }
    return std::move(*opened);
}

void Import(archive::Archive& archive, const SavedLog& log) {
    const auto r = archive.Import(log.text, log.log, "bench", "bench.omb");
    if (!r) {
        std::fprintf(stderr, "bench_archive: %s\n", r.failure().message.c_str());
        std::exit(1);
    }
}

// A fresh archive each run, on the location newLocation gives; the median time of the import.
template <class NewLocation>
double ImportMs(const SavedLog& log, int runs, NewLocation newLocation) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto archive = Open(newLocation());
        times.push_back(Milliseconds([&] { Import(*archive, log); }));
    }
    return Median(times);
}

// "PX00-000001" for the first logger.
std::string Serial(int logger) {
    std::string digits = std::to_string(logger);
    return "PX00-" + std::string(digits.size() < 6 ? 6 - digits.size() : 0, '0') + digits;
}

// The archive at path as version 1 held it, its rows copied into version 1's
// tables, opened and so brought to this version: the time of that, in seconds.
double MigrateSeconds(const std::string& path, const fs::path& folder) {
    const std::string old = (folder / "version1.sqlite").string();
    {
        const auto db = archive::OpenSqlite(old, 1000);
        db->Execute(archive::SchemaStep(1, archive::Engine::Sqlite) +
                    ";INSERT INTO archive_info VALUES ('schema_version', '1');"
                    "ATTACH DATABASE '" +
                    path +
                    "' AS now; BEGIN;"
                    "INSERT INTO loggers SELECT * FROM now.loggers;"
                    "INSERT INTO series SELECT * FROM now.series;"
                    "INSERT INTO deployments SELECT id, logger_id, location, start_time,"
                    " sample_rate, sample_mode, interval_tenths, fixed_interval, headers"
                    " FROM now.recordings;"
                    "INSERT INTO downloads SELECT * FROM now.downloads;"
                    "INSERT INTO sample_blocks SELECT * FROM now.sample_blocks;"
                    "INSERT INTO conflicts SELECT * FROM now.conflicts; COMMIT; DETACH now");
        if (db->Failed()) {
            std::fprintf(stderr, "bench_archive: %s\n", db->Error().message.c_str());
            std::exit(1);
        }
    }
    return Milliseconds([&] { Open(old); }) / 1000;
}

// Each run another download of the log: the same samples, its own title.
double ReimportMs(const fs::path& folder, const SavedLog& log, const std::string& path, int runs) {
    std::vector<double> times;
    const auto archive = Open(path);
    Import(*archive, log);
    for (int run = 0; run < runs; ++run) {
        const SavedLog again =
            FullLog(folder, Serial(1), "00:00:00 01/01/23", "again" + std::to_string(run));
        times.push_back(Milliseconds([&] { Import(*archive, again); }));
    }
    return Median(times);
}

// The loggers (one in a smoke run), two logs each, one after the other:
// 14 give 10,080,000 samples. Each logger moves on to the next well with its
// second log, so that a well's year is two loggers'. Gives the samples made.
int64_t MakeBig(const fs::path& folder, const std::string& path, int loggers) {
    int64_t samples = 0;
    const auto archive = Open(path);
    for (int logger = 1; logger <= loggers; ++logger) {
        // The second log starts where the first ends: 30000 x 15 min later.
        for (const int visit : {0, 1}) {
            Import(*archive, FullLog(folder, Serial(logger),
                                     visit == 0 ? "00:00:00 01/01/23" : "00:00:12 09/11/23", "log",
                                     "WELL " + std::to_string(logger + visit)));
            samples += int64_t{kSamples} * kChannels;
        }
    }
    return samples;
}

// A year of the middle logger's first channel read; negative when it fails.
double SeriesMs(archive::Archive& archive, int loggers, int runs) {
    // The middle logger's, its serial followed by its channel count.
    const std::string serial = Serial(loggers / 2 + 1) + std::to_string(kChannels);
    const auto found = archive.FindSeries(serial, "1");
    if (!found) {
        std::fprintf(stderr, "bench_archive: %s\n", found.failure().message.c_str());
        return -1;
    }
    std::vector<double> times;
    std::size_t count = 0;
    for (int run = 0; run < runs; ++run) {
        times.push_back(Milliseconds([&] {
            const auto year = archive.Samples(*found, archive::ParseIsoTime("2023-01-01", false),
                                              archive::ParseIsoTime("2023-12-31", true));
            count = year ? year->size() : 0;
        }));
    }
    if (count != 35040) {
        std::fprintf(stderr, "bench_archive: the year held %zu samples\n", count);
        return -1;
    }
    return Median(times);
}

// A year of the middle logger's first well, where the one before it came
// after it; negative when it fails.
double WellSeriesMs(archive::Archive& archive, int loggers, int runs) {
    const std::string well = "WELL " + std::to_string(loggers / 2 + 1);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        std::optional<archive::Result<archive::WellRecord>> year;
        times.push_back(Milliseconds([&] {
            year = archive.WellSeries(well, "1", archive::ParseIsoTime("2023-01-01", false),
                                      archive::ParseIsoTime("2023-12-31", true));
        }));
        if (!*year) {
            std::fprintf(stderr, "bench_archive: %s\n", year->failure().message.c_str());
            return -1;
        }
        const std::size_t count = (*year)->rows.size();
        // One logger's first log alone in a smoke run.
        if (count != (loggers > 1 ? 35040u : 30000u) ||
            (*year)->loggers.size() != (loggers > 1 ? 2u : 1u)) {
            std::fprintf(stderr, "bench_archive: the well's year held %zu samples\n", count);
            return -1;
        }
    }
    return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = bench::Smoke(argc, argv);
    const int runs = smoke ? 1 : kRuns;
    const int loggers = smoke ? 1 : 14;
    const fs::path folder =
        fs::temp_directory_path() / ("arvelo-bench-archive-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const SavedLog log = FullLog(folder, Serial(1), "00:00:00 01/01/23", "first");

    int fresh = 0;
    const auto newFile = [&] { return (folder / ("fresh" + std::to_string(++fresh))).string(); };
    std::printf("archive_import_ms %.1f ms\n", ImportMs(log, runs, newFile));
    std::printf("archive_reimport_ms %.1f ms\n", ReimportMs(folder, log, newFile(), runs));
    std::fflush(stdout);

    const std::string big = (folder / "big.sqlite").string();
    const int64_t samples = MakeBig(folder, big, loggers);
    {
        const auto archive = Open(big);
        const double series = SeriesMs(*archive, loggers, runs);
        const double well = series < 0 ? -1 : WellSeriesMs(*archive, loggers, runs);
        if (well < 0) {
            return 1;
        }
        std::printf("archive_series_ms %.1f ms\n", series);
        std::printf("well_series_ms %.1f ms\n", well);
    }
    std::printf("archive_bytes_per_sample %.2f bytes\n",
                static_cast<double>(fs::file_size(big)) / static_cast<double>(samples));
    std::fflush(stdout);
    std::printf("archive_migrate_s %.2f s\n", MigrateSeconds(big, folder));
    std::fflush(stdout);

    pgtest::PostgresServer server;
    if (server.Why().empty()) {
        std::printf("archive_pg_import_ms %.1f ms\n",
                    ImportMs(log, runs, [&] { return server.Uri(server.NewDatabase()); }));
    } else {
        std::fprintf(stderr, "archive_pg_import_ms not measured: %s\n", server.Why().c_str());
    }
    fs::remove_all(folder);
    return 0;
}
