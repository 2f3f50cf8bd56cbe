// The levels' figure, one line: "name value unit".
//   levels_compute_ms  350400 pressure samples (two deployments of five years
//                      at 15 minutes), a baro at an hour and 40 dips
// The time is the median of several runs. With --smoke: one run of a day.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/Smoke.h"
#include "level/Levels.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kQuarter = 9000;  // tenths
constexpr int64_t kHour = 4 * kQuarter;

level::Series Wave(int64_t from, int64_t to, int64_t step, double mean, double swing) {
    level::Series series{{}, {{from, step}}, "cmH2O"};
    for (int64_t t = from; t < to; t += step) {
        series.samples.push_back({t, mean + swing * std::sin(t * 1e-6)});
    }
    return series;
}

level::Well TenYears(int64_t samples) {
    level::Well well;
    well.reference = 12.5;
    const int64_t half = samples / 2 * kQuarter;
    for (int64_t from : {int64_t{0}, half}) {
        level::Deployment deployment;
        deployment.serial = "PX00-00000101";
        deployment.from = from;
        deployment.to = from + half;
        deployment.pressure = Wave(from, from + half, kQuarter, 1400, 80);
        deployment.cable = 15;
        well.deployments.push_back(deployment);
    }
    level::Baro baro;
    baro.serial = "PX00-00000202";
    baro.pressure = Wave(0, 2 * half, kHour, 1030, 20);
    well.baros.push_back(baro);
    for (int k = 0; k < 40; ++k) {
        well.dips.push_back({2 * half / 40 * k + kHour / 3, 11.0, ""});
    }
    return well;
}

double Milliseconds(const level::Well& well) {
    const auto start = Clock::now();
    const auto levels = level::Compute(well, {}, {});
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!std::holds_alternative<level::Levels>(levels)) {
        std::fprintf(stderr, "bench_level: %s\n", std::get<level::Failed>(levels).why.c_str());
        return -1;
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = bench::Smoke(argc, argv);
    const level::Well well = TenYears(smoke ? 96 : 350400);
    std::vector<double> times;
    for (int run = 0; run < (smoke ? 1 : 9); ++run) {
        times.push_back(Milliseconds(well));
        if (times.back() < 0) {
            return 1;
        }
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    std::printf("levels_compute_ms %.1f ms\n", times[times.size() / 2]);
}
