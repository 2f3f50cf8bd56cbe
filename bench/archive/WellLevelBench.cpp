// A well's levels read as `arvelo-cli well level` reads them, one line each:
// "name value unit".
//   level_ms               the levels of a well of ten years at 15 minutes (two
//                          deployments, a baro at an hour, 40 dips) out of
//                          SQLite, computed and written as CSV
//   level_vs_series_ratio  that time / the time of the well's record of the
//                          same span read and written (well series)
// Times are medians; the archive is made once, under build/bench. With
// --smoke: a month, one run.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <variant>

#include "BigArchive.h"
#include "archive/SeriesCsv.h"
#include "bench/Smoke.h"
#include "bench/Stopwatch.h"

namespace {

using bench::Median;
using bench::Milliseconds;

void Write(const std::filesystem::path& path, const std::string& text, std::string& why) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file) {
        why = "cannot write " + path.string();
    }
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
                return;
            }
            const auto computed = level::Compute(*inputs, {}, {});
            if (!std::holds_alternative<level::Levels>(computed)) {
                why = std::get<level::Failed>(computed).why;
                return;
            }
            Write(csv,
                  archive::LevelCsv(std::get<level::Levels>(computed), std::nullopt, std::nullopt),
                  why);
        }));
        series.push_back(Milliseconds([&] {
            const auto record =
                archive.WellSeries(bench::kLevelWell, "1", std::nullopt, std::nullopt);
            if (!record) {
                why = record.failure().message;
                return;
            }
            Write(csv, archive::WellCsv(*record), why);
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
