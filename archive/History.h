#pragma once
// Series of the archive read to be shown together: a well over years, or two
// wells compared. Each series comes with its gaps, its loggers' open and
// resolved conflicts and their deployments, so that a view can draw each
// series well by well (graph/HistoryTraces.h) and export what it shows.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"

namespace archive {

struct History {
    std::vector<SeriesName> series;
    std::vector<std::vector<StoredSample>> samples;  // of series[i], in time order
    std::vector<GapRow> gaps;                        // of the series
    std::vector<ConflictRow> conflicts;              // of their loggers
    // Their loggers' deployments, by serial, in the order they began.
    std::vector<std::pair<std::string, std::vector<DeploymentRow>>> deployments;
};

// A stretch of a logger's record in one well: its stays there in a row,
// [from, to) UTC; the first from the beginning of time, the last to its end,
// so that no sample is left out. One of the whole record (no well) when the
// archive knows of no stay.
struct Stretch {
    int64_t from, to;
    std::string well;
};
std::vector<Stretch> StretchesOf(const History& history, const std::string& serial);

// Reads the series' samples with their gaps (from the same read), and their
// loggers' conflicts and deployments; fails when the archive failed or
// progress stopped it.
Result<History> ReadHistory(Archive& archive, const std::vector<SeriesName>& series,
                            const Progress& progress);

// "WELL 7, WELL 9": the wells the series were taken in, in the order met.
std::string HistoryTitle(const History& history);
// The samples from first to last (tenths, both included) in the archive's CSV layout.
std::string HistoryCsv(const History& history, int64_t first, int64_t last);

}  // namespace archive
