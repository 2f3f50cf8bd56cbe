#pragma once
// Series of the archive as the Graph shows them: a well over years, or two
// wells compared. Each series is a trace on the one UTC time axis for each
// well its logger stayed in, named by the well; its gaps break the line
// (never a straight line across a missing stretch), its open conflicts are
// marked, and a line across the panes shows where a logger was moved.

#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "graph/LogPlot.h"

struct ArchiveHistory {
    std::vector<archive::SeriesName> series;
    std::vector<std::vector<archive::StoredSample>> samples;  // of series[i], in time order
    std::vector<archive::GapRow> gaps;                        // of the series
    std::vector<archive::ConflictRow> conflicts;              // of their loggers
    // Their loggers' deployments, by serial, in the order they began.
    std::vector<std::pair<std::string, std::vector<archive::DeploymentRow>>> deployments;
};

// Reads the series' samples with their gaps (from the same read), and their
// loggers' conflicts and deployments; fails when the archive failed or
// progress stopped it.
archive::Result<ArchiveHistory> ReadHistory(archive::Archive& archive,
                                            const std::vector<archive::SeriesName>& series,
                                            const archive::Progress& progress);

// "WELL 7, WELL 9": the wells the series were taken in, in the order met.
std::string HistoryTitle(const ArchiveHistory& history);
std::vector<PlotTrace> HistoryTraces(const ArchiveHistory& history);
std::vector<PlotLine> HistoryLines(const ArchiveHistory& history);
// The samples from first to last (tenths, both included) in the archive's CSV layout.
std::string HistoryCsv(const ArchiveHistory& history, int64_t first, int64_t last);
