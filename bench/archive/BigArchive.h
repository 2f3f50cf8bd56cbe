#pragma once
// An archive as a large office holds it, made once for the benchmarks of the
// Archive window: 500 loggers at 50 locations, two channels each, 10^7
// samples in all; every tenth logger was read twice, with a gap between the
// visits (100 gaps in all). A smoke run makes one of fewer loggers.
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive/Archive.h"
#include "support/ArchiveLogs.h"

namespace bench {

inline constexpr int kBigLoggers = 500;
inline constexpr int kBigSamplesPerChannel = 10000;

// Makes the archive of that many loggers at path unless it is there already;
// false after saying why.
inline bool MakeBigArchive(const std::filesystem::path& path, int loggers) {
    if (std::filesystem::exists(path)) {
        return true;
    }
    const std::filesystem::path partial = path.string() + ".partial";
    std::filesystem::remove(partial);
    auto opened = archive::Archive::Open(partial.string());
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.failure().message.c_str());
        return false;
    }
    std::unique_ptr<archive::Archive> archive = std::move(*opened);
    const std::filesystem::path file = partial.string() + ".omb";
    for (int logger = 0; logger < loggers; ++logger) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "PX00-%06d", logger + 1);
        const bool twoVisits = logger % 10 == 0;
        const int visits = twoVisits ? 2 : 1;
        for (int visit = 0; visit < visits; ++visit) {
            archivetest::LogRecipe recipe;
            recipe.serial = serial;
            recipe.location = "WELL FIELD " + std::to_string(logger % 50 + 1);
            // The second visit starts a day after the first ended.
            recipe.start = visit == 0 ? "00:00:00 01/01/23" : "00:00:00 24/02/23";
            recipe.range = "10.000";
            const int count = kBigSamplesPerChannel / visits;
            recipe.values.assign(2, std::vector<double>(count));
            for (int j = 0; j < 2; ++j) {
                for (int k = 0; k < count; ++k) {
                    recipe.values[j][k] = 5 + (k * 7 % 13) * 0.01 + j + logger * 0.001;
                }
            }
            const DeviceLog log = archivetest::MakeLog(recipe);
            archivetest::SaveLog(log, file.string(), "visit" + std::to_string(visit));
            const auto r = archive->ImportFile(file.string(), "bench");
            if (!r) {
                std::fprintf(stderr, "%s\n", r.failure().message.c_str());
                return false;
            }
        }
    }
    archive.reset();
    std::filesystem::remove(file);
    std::filesystem::rename(partial, path);
    return true;
}

}  // namespace bench
