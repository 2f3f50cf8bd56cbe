// A well's levels read as `arvelo-cli well level` reads them, one line each:
// "name value unit".
//   level_ms               the levels of a well of ten years at 15 minutes (two
//                          deployments, a baro at an hour, 40 dips) out of
//                          SQLite, computed and written as CSV
//   level_vs_series_ratio  that time / the time of the well's record of the
//                          same span read and written (well series)
// Times are medians; the archive is made once, under build/bench. With
// --smoke: a month, one run.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <variant>

#include "BigArchive.h"
#include "archive/SeriesCsv.h"
#include "bench/Smoke.h"

namespace {

double Milliseconds(const std::function<bool()>& work) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = bench::Smoke(argc, argv);
    const std::filesystem::path folder = std::filesystem::path(argv[0]).parent_path();
    const std::filesystem::path path = folder / (smoke ? "smoke-level.sqlite" : "level.sqlite");
    if (!bench::MakeLevelArchive(path, smoke ? 96 * 30 : bench::kTenYears)) {
        return 1;
    }
    auto opened = archive::Archive::Open(path.string(), archive::Archive::OpenMode::Existing);
    if (!opened) {
        std::fprintf(stderr, "bench_well_level: %s\n", opened.failure().message.c_str());
        return 1;
    }
    archive::Archive& archive = **opened;
    const std::filesystem::path csv = folder / "level.csv";
    std::string why;
    std::vector<double> levels, series;
    for (int run = 0; run < (smoke ? 1 : 5) && why.empty(); ++run) {
        levels.push_back(Milliseconds([&] {
            const auto inputs = archive.LevelInputs(bench::kLevelWell);
            if (!inputs) {
                why = inputs.failure().message;
                return false;
            }
            const auto computed = level::Compute(*inputs, {}, {});
            if (!std::holds_alternative<level::Levels>(computed)) {
                why = std::get<level::Failed>(computed).why;
                return false;
            }
            return Write(csv, archive::LevelCsv(std::get<level::Levels>(computed), std::nullopt,
                                                std::nullopt));
        }));
        series.push_back(Milliseconds([&] {
            const auto record =
                archive.WellSeries(bench::kLevelWell, "1", std::nullopt, std::nullopt);
            if (!record) {
                why = record.failure().message;
                return false;
            }
            return Write(csv, archive::WellCsv(*record));
        }));
    }
    std::filesystem::remove(csv);
    if (!why.empty()) {
        std::fprintf(stderr, "bench_well_level: %s\n", why.c_str());
        return 1;
    }
    std::printf("level_ms %.1f ms\n", Median(levels));
    std::printf("level_vs_series_ratio %.2f\n", Median(levels) / Median(series));
    return 0;
}
