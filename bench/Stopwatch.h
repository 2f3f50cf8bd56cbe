#pragma once
// How the timed benchmark programs measure: the time a piece of work takes,
// and the median of runs, which one run disturbed by the machine does not move.
#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

template <class Work>
double Milliseconds(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace bench
