// The physical constants and formulas the levels rest on.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <utility>

#include "level/Levels.h"

namespace level {

std::optional<double> PascalPer(const std::string& unit) {
    std::string key;
    for (const char c : unit) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    static const std::pair<const char*, double> kUnits[] = {
        {"pa", 1},          {"hpa", 100},    {"mbar", 100},
        {"kpa", 1000},      {"bar", 100000}, {"psi", 6894.757293168},
        {"cmh2o", 98.0665}, {"cm", 98.0665}, {"mh2o", 9806.65},
        {"m", 9806.65},
    };
    const auto* found = std::find_if(std::begin(kUnits), std::end(kUnits),
                                     [&](const auto& entry) { return key == entry.first; });
    if (found == std::end(kUnits)) {
        return std::nullopt;
    }
    return found->second;
}

double KellDensity(double t) {
    const double numerator = 999.83952 + 16.945176 * t - 7.9870401e-3 * t * t -
                             46.170461e-6 * t * t * t + 105.56302e-9 * t * t * t * t -
                             280.54253e-12 * t * t * t * t * t;
    return numerator / (1 + 16.879850e-3 * t);
}

double LocalGravity(double latitude, double elevation) {
    const double phi = latitude * std::numbers::pi / 180;
    const double s = std::sin(phi);
    const double s2 = std::sin(2 * phi);
    return 9.780327 * (1 + 0.0053024 * s * s - 0.0000058 * s2 * s2) - 3.086e-6 * elevation;
}

}  // namespace level
