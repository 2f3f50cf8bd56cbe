#pragma once
// Archives as a large office holds them, made once for the benchmarks of the
// Archive window and the Graph (under build/bench; a smoke run makes smaller
// ones):
// - 500 loggers in 500 wells, two channels each, 10^7 samples in all; every
//   tenth logger was read twice and moved to the next well at its second
//   visit, a day after the first ended (50 moves, 100 gaps);
// - four loggers of ten years at 15 minutes, each with a month's gap halfway
//   and a conflict a year.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "archive/Archive.h"
#include "support/ArchiveLogs.h"

namespace bench {

inline constexpr int kBigLoggers = 500;
inline constexpr int kBigSamplesPerChannel = 10000;
inline constexpr int kHistoryLoggers = 4;
inline constexpr int64_t kTenYears = 350400;  // samples at 15 minutes

// "SS:MM:HH DD/MM/YY", as the reader stamps a log's start.
inline std::string ReaderTime(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm civil{};
    gmtime_r(&t, &civil);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d %02d/%02d/%02d", civil.tm_sec, civil.tm_min,
                  civil.tm_hour, civil.tm_mday, civil.tm_mon + 1, civil.tm_year % 100);
    return text;
}

// Makes an archive at path by import (each recipe through a data file)
// unless it is there already; false after saying why.
inline bool MakeArchive(
    const std::filesystem::path& path,
    const std::function<bool(const std::function<bool(const archivetest::LogRecipe&)>&)>& logs) {
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
    int n = 0;
    const bool made = logs([&](const archivetest::LogRecipe& recipe) {
        archivetest::SaveLog(archivetest::MakeLog(recipe), file.string(),
                             "visit" + std::to_string(++n));
        const auto r = archive->ImportFile(file.string(), "bench");
        if (!r) {
            std::fprintf(stderr, "%s\n", r.failure().message.c_str());
        }
        return r.ok();
    });
    archive.reset();
    std::filesystem::remove(file);
    if (made) {
        std::filesystem::rename(partial, path);
    }
    return made;
}

inline std::string BigSerial(int logger) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "PX00-%06d", logger + 1);
    return serial;
}

// The archive of that many loggers and wells.
inline bool MakeBigArchive(const std::filesystem::path& path, int loggers) {
    return MakeArchive(path, [loggers](const auto& import) {
        for (int logger = 0; logger < loggers; ++logger) {
            const bool twoVisits = logger % 10 == 0;
            const int visits = twoVisits ? 2 : 1;
            for (int visit = 0; visit < visits; ++visit) {
                archivetest::LogRecipe recipe;
                recipe.serial = BigSerial(logger);
                recipe.location = "WELL FIELD " + std::to_string((logger + visit) % loggers + 1);
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
                if (!import(recipe)) {
                    return false;
                }
            }
        }
        return true;
    });
}

// The rows the Archive window shows of it: a logger's under each well it was in.
inline int BigArchiveRows(int loggers) {
    return loggers + (loggers + 9) / 10;
}

// The four loggers of samplesPerLogger each (kTenYears: ten years), from
// 2010-01-01 UTC: a yearly swing, read in four logs with a month's gap
// after the second, and a conflict a year (a one-sample log of another value).
inline bool MakeHistoryArchive(const std::filesystem::path& path, int64_t samplesPerLogger) {
    constexpr int64_t kStart = 1262304000;  // 2010-01-01 UTC
    constexpr int64_t kStep = 15 * 60;
    constexpr int64_t kMonth = 30 * 24 * 3600;
    return MakeArchive(path, [samplesPerLogger](const auto& import) {
        const auto level = [](int logger, int64_t k) {
            return 8 + logger * 0.5 + std::sin(k * 2 * 3.14159265 / (365.25 * 96));
        };
        for (int logger = 0; logger < kHistoryLoggers; ++logger) {
            archivetest::LogRecipe recipe;
            recipe.serial = BigSerial(logger);
            recipe.location = "WELL " + std::to_string(logger + 1);
            recipe.range = "10.000";
            const int64_t perLog = samplesPerLogger / 4;
            for (int part = 0; part < 4; ++part) {
                const int64_t first = part * perLog;
                recipe.start = ReaderTime(kStart + first * kStep + (part >= 2 ? kMonth : 0));
                recipe.values.assign(1, std::vector<double>());
                for (int64_t k = first; k < first + perLog; ++k) {
                    recipe.values[0].push_back(level(logger, k));
                }
                if (!import(recipe)) {
                    return false;
                }
            }
            for (int64_t k = 0; k < perLog * 2; k += 35040) {
                recipe.start = ReaderTime(kStart + k * kStep);
                recipe.values = {{level(logger, k) + 0.1}};
                if (!import(recipe)) {
                    return false;
                }
            }
        }
        return true;
    });
}

}  // namespace bench
