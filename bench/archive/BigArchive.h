#pragma once
// Archives as a large office holds them, made once for the benchmarks of the
// Archive window and the Graph (under build/bench; a smoke run makes smaller
// ones):
// - 500 loggers in 500 wells, two channels each, 10^7 samples in all; every
//   tenth logger was read twice and moved to the next well at its second
//   visit, a day after the first ended (50 moves, 100 gaps);
// - four loggers of ten years at 15 minutes, each with a month's gap halfway
//   and a conflict a year;
// - a well of ten years at 15 minutes, two loggers of five years each
//   declared in it, a baro at an hour and 40 dips.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "device/DeviceLog.h"
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

// A channel's values from start at step seconds, imported as a reader holds
// them: in logs of at most static_cast<std::size_t>(LogChannel::kMaxSamples) each.
template <class Import>
bool ImportLogs(const Import& import, archivetest::LogRecipe recipe,
                const std::vector<double>& values, int64_t start, int64_t step) {
    for (std::size_t first = 0; first < values.size();
         first += static_cast<std::size_t>(LogChannel::kMaxSamples)) {
        const std::size_t last =
            std::min(values.size(), first + static_cast<std::size_t>(LogChannel::kMaxSamples));
        recipe.start = ReaderTime(start + static_cast<int64_t>(first) * step);
        recipe.values = {std::vector<double>(values.begin() + static_cast<std::ptrdiff_t>(first),
                                             values.begin() + static_cast<std::ptrdiff_t>(last))};
        if (!import(recipe)) {
            return false;
        }
    }
    return true;
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
                std::vector<double> values;
                for (int64_t k = first; k < first + perLog; ++k) {
                    values.push_back(level(logger, k));
                }
                if (!ImportLogs(import, recipe, values,
                                kStart + first * kStep + (part >= 2 ? kMonth : 0), kStep)) {
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

inline constexpr char kLevelWell[] = "WELL L";

// The well of levels, of samples in all (kTenYears: ten years) from
// 2010-01-01 UTC.
inline bool MakeLevelArchive(const std::filesystem::path& path, int64_t samples) {
    constexpr int64_t kStart = 1262304000;  // 2010-01-01 UTC
    constexpr int64_t kStep = 15 * 60;
    const int64_t half = samples / 2;
    const auto wave = [](int64_t count, double mean, double swing) {
        std::vector<double> values;
        for (int64_t k = 0; k < count; ++k) {
            values.push_back(std::round((mean + swing * std::sin(k * 1e-3)) * 100) / 100);
        }
        return values;
    };
    const bool made = MakeArchive(path, [&](const auto& import) {
        archivetest::LogRecipe recipe;
        recipe.range = "2000.00";
        recipe.location = kLevelWell;
        for (int logger = 0; logger < 2; ++logger) {
            recipe.serial = BigSerial(logger);
            if (!ImportLogs(import, recipe, wave(half, 1400, 80), kStart + logger * half * kStep,
                            kStep)) {
                return false;
            }
        }
        recipe.serial = BigSerial(2);
        recipe.location = "OFFICE";
        recipe.rate = "00 01:00:00 0";
        return ImportLogs(import, recipe, wave(samples / 4, 1030, 20), kStart, 4 * kStep);
    });
    if (!made) {
        return false;
    }
    // Declared once: the facts of a well made before stay as they were.
    auto opened = archive::Archive::Open(path.string());
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.failure().message.c_str());
        return false;
    }
    archive::Archive& archive = **opened;
    const auto well = archive.Well(kLevelWell);
    if (well && well->facts.reference) {
        return true;
    }
    const int64_t middle = (kStart + half * kStep) * 10;
    std::vector<std::pair<std::string, archive::DipRow>> dips;
    for (int k = 0; k < 40; ++k) {
        dips.push_back({kLevelWell, {(kStart + samples * kStep / 40 * k + 1200) * 10, "11.0", ""}});
    }
    for (const archive::Result<void>& done :
         {archive.Deploy(kLevelWell, BigSerial(0) + "01", kStart * 10, middle, 0,
                         {"", "", "15", false}),
          archive.Deploy(kLevelWell, BigSerial(1) + "01", middle, std::nullopt, 0,
                         {"", "", "15", false}),
          archive.AssignBaro(kLevelWell, {BigSerial(2) + "01", "", 0, "0",
                                          std::numeric_limits<int64_t>::min(), std::nullopt}),
          archive.AddDips(dips), archive.SetWell(kLevelWell, {"12.5", "m NAP", "52.0", {}})}) {
        if (!done) {
            std::fprintf(stderr, "%s\n", done.failure().message.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace bench
