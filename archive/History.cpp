#include "archive/History.h"

#include <algorithm>
#include <limits>

#include "archive/SeriesCsv.h"

namespace archive {

namespace {

const std::vector<DeploymentRow>* DeploymentsIn(const History& history, const std::string& serial) {
    for (const auto& [s, rows] : history.deployments) {
        if (s == serial) {
            return &rows;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<Stretch> StretchesOf(const History& history, const std::string& serial) {
    constexpr int64_t kEarliest = std::numeric_limits<int64_t>::min();
    constexpr int64_t kLatest = std::numeric_limits<int64_t>::max();
    std::vector<Stretch> stretches;
    const auto* rows = DeploymentsIn(history, serial);
    for (const DeploymentRow& row : rows ? *rows : std::vector<DeploymentRow>{}) {
        if (!stretches.empty() && stretches.back().well == row.location) {
            continue;
        }
        if (!stretches.empty()) {
            stretches.back().to = row.startTime;
        }
        stretches.push_back({stretches.empty() ? kEarliest : row.startTime, kLatest, row.location});
    }
    if (stretches.empty()) {
        stretches.push_back({kEarliest, kLatest, {}});
    }
    return stretches;
}

Result<History> ReadHistory(Archive& archive, const std::vector<SeriesName>& series,
                            const Progress& progress) {
    History out;
    const int64_t total = static_cast<int64_t>(series.size());
    for (const SeriesName& s : series) {
        auto values = archive.Values(s, std::nullopt, std::nullopt, true);
        if (!values) {
            return values.failure();
        }
        out.series.push_back(s);
        out.samples.push_back(std::move(values->samples));
        out.gaps.insert(out.gaps.end(), values->gaps.begin(), values->gaps.end());
        if (DeploymentsIn(out, s.serial) == nullptr) {
            auto rows = archive.Deployments(s.serial);
            if (!rows) {
                return rows.failure();
            }
            const auto conflicts = archive.Conflicts(s.serial);
            if (!conflicts) {
                return conflicts.failure();
            }
            out.deployments.emplace_back(s.serial, std::move(*rows));
            out.conflicts.insert(out.conflicts.end(), conflicts->begin(), conflicts->end());
        }
        if (progress && !progress(static_cast<int64_t>(out.series.size()), total)) {
            return Failure{Fault::Other, "stopped"};
        }
    }
    return out;
}

std::string HistoryTitle(const History& history) {
    std::vector<std::string> places;
    for (const auto& [serial, rows] : history.deployments) {
        for (const Stretch& stretch : StretchesOf(history, serial)) {
            const std::string place = stretch.well.empty() ? serial : stretch.well;
            if (std::find(places.begin(), places.end(), place) == places.end()) {
                places.push_back(place);
            }
        }
    }
    std::string title;
    for (const std::string& place : places) {
        title += (title.empty() ? "" : ", ") + place;
    }
    return title;
}

std::string HistoryCsv(const History& history, int64_t first, int64_t last) {
    std::vector<std::vector<StoredSample>> shown;
    for (const std::vector<StoredSample>& samples : history.samples) {
        const auto from =
            std::lower_bound(samples.begin(), samples.end(), first,
                             [](const StoredSample& s, int64_t t) { return s.time < t; });
        const auto to = std::upper_bound(
            from, samples.end(), last, [](int64_t t, const StoredSample& s) { return t < s.time; });
        shown.emplace_back(from, to);
    }
    return SeriesCsv(history.series, shown);
}

}  // namespace archive
