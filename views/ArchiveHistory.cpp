#include "views/ArchiveHistory.h"

#include <algorithm>
#include <limits>

#include "archive/SeriesCsv.h"
#include "device/SampleTime.h"

namespace {

const std::vector<archive::DeploymentRow>* DeploymentsOf(const ArchiveHistory& history,
                                                         const std::string& serial) {
    for (const auto& [s, rows] : history.deployments) {
        if (s == serial) {
            return &rows;
        }
    }
    return nullptr;
}

// A stretch of a logger's record in one well: its stays there in a row,
// [from, to) UTC; the first from the beginning of time, the last to its end,
// so that no sample is left out. One of the whole record when the archive
// knows of no stay.
struct Piece {
    int64_t from, to;
    std::string well;
};

std::vector<Piece> PiecesOf(const ArchiveHistory& history, const std::string& serial) {
    constexpr int64_t kEarliest = std::numeric_limits<int64_t>::min();
    constexpr int64_t kLatest = std::numeric_limits<int64_t>::max();
    std::vector<Piece> pieces;
    const auto* rows = DeploymentsOf(history, serial);
    for (const archive::DeploymentRow& row : rows ? *rows : std::vector<archive::DeploymentRow>{}) {
        if (!pieces.empty() && pieces.back().well == row.location) {
            continue;
        }
        if (!pieces.empty()) {
            pieces.back().to = row.startTime;
        }
        pieces.push_back({pieces.empty() ? kEarliest : row.startTime, kLatest, row.location});
    }
    if (pieces.empty()) {
        pieces.push_back({kEarliest, kLatest, {}});
    }
    return pieces;
}

}  // namespace

archive::Result<ArchiveHistory> ReadHistory(archive::Archive& archive,
                                            const std::vector<archive::SeriesName>& series,
                                            const archive::Progress& progress) {
    ArchiveHistory out;
    const int64_t total = static_cast<int64_t>(series.size());
    for (const archive::SeriesName& s : series) {
        auto values = archive.Values(s, std::nullopt, std::nullopt, true);
        if (!values) {
            return values.failure();
        }
        out.series.push_back(s);
        out.samples.push_back(std::move(values->samples));
        out.gaps.insert(out.gaps.end(), values->gaps.begin(), values->gaps.end());
        if (DeploymentsOf(out, s.serial) == nullptr) {
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
            return archive::Failure{archive::Fault::Other, "stopped"};
        }
    }
    return out;
}

std::string HistoryTitle(const ArchiveHistory& history) {
    std::vector<std::string> places;
    for (const auto& [serial, rows] : history.deployments) {
        for (const Piece& piece : PiecesOf(history, serial)) {
            const std::string place = piece.well.empty() ? serial : piece.well;
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

std::vector<PlotTrace> HistoryTraces(const ArchiveHistory& history) {
    // A trace for each series in each well its logger stayed in: a logger
    // moved draws each well's levels under that well's name, never one
    // line from one well into the other. The serial is added where one well
    // has the same channel of several loggers.
    struct Part {
        std::size_t series;
        Piece piece;
    };
    std::vector<Part> parts;
    for (std::size_t i = 0; i < history.series.size(); ++i) {
        for (const Piece& piece : PiecesOf(history, history.series[i].serial)) {
            const auto& samples = history.samples[i];
            const auto first = std::lower_bound(
                samples.begin(), samples.end(), piece.from,
                [](const archive::StoredSample& s, int64_t t) { return s.time < t; });
            if (first != samples.end() && first->time < piece.to) {
                parts.push_back({i, piece});
            }
        }
    }
    const bool named = history.deployments.size() > 1 || parts.size() > history.series.size();
    std::vector<PlotTrace> traces;
    for (const Part& part : parts) {
        const archive::SeriesName& name = history.series[part.series];
        PlotTrace& trace = traces.emplace_back();
        trace.name = name.identification;
        if (named) {
            const bool shared = std::any_of(parts.begin(), parts.end(), [&](const Part& other) {
                const archive::SeriesName& o = history.series[other.series];
                return other.piece.well == part.piece.well && o.serial != name.serial &&
                       o.identification == name.identification;
            });
            const std::string& place = part.piece.well;
            trace.name += " (" + (place.empty() ? name.serial : place) +
                          (shared && !place.empty() ? ", " + name.serial : "") + ")";
        }
        trace.unit = name.unit;
        const auto within = [&part](int64_t time) {
            return time >= part.piece.from && time < part.piece.to;
        };
        std::vector<int64_t> breaks;  // a time inside each gap: no line is drawn across it
        for (const archive::GapRow& gap : history.gaps) {
            if (gap.series.id == name.id && within(gap.lastBefore) && within(gap.firstAfter)) {
                breaks.push_back(gap.lastBefore + (gap.firstAfter - gap.lastBefore) / 2);
            }
        }
        std::sort(breaks.begin(), breaks.end());
        auto nextBreak = breaks.begin();
        for (const archive::StoredSample& sample : history.samples[part.series]) {
            if (!within(sample.time)) {
                continue;
            }
            for (; nextBreak != breaks.end() && *nextBreak < sample.time; ++nextBreak) {
                trace.times.push_back(SampleTimeOfTenths(*nextBreak));
                trace.values.push_back(std::numeric_limits<double>::quiet_NaN());
            }
            trace.decimals = sample.value.decimals;
            trace.times.push_back(SampleTimeOfTenths(sample.time));
            trace.values.push_back(archive::DoubleOf(sample.value));
        }
        std::vector<int64_t> marks;
        for (const archive::ConflictRow& conflict : history.conflicts) {
            // Only an open one: a resolved conflict is the value the user chose.
            if (conflict.series.id == name.id && !conflict.choice && within(conflict.time)) {
                marks.push_back(conflict.time);
            }
        }
        std::sort(marks.begin(), marks.end());
        for (int64_t time : marks) {
            trace.marks.push_back(SampleTimeOfTenths(time));
        }
    }
    return traces;
}

std::vector<PlotLine> HistoryLines(const ArchiveHistory& history) {
    std::vector<PlotLine> lines;
    for (const auto& [serial, rows] : history.deployments) {
        for (std::size_t k = 1; k < rows.size(); ++k) {
            if (rows[k].location != rows[k - 1].location) {
                lines.push_back(
                    {SampleTimeOfTenths(rows[k].startTime), serial + " to " + rows[k].location});
            }
        }
    }
    return lines;
}

std::string HistoryCsv(const ArchiveHistory& history, int64_t first, int64_t last) {
    std::vector<std::vector<archive::StoredSample>> shown;
    for (const std::vector<archive::StoredSample>& samples : history.samples) {
        const auto from =
            std::lower_bound(samples.begin(), samples.end(), first,
                             [](const archive::StoredSample& s, int64_t t) { return s.time < t; });
        const auto to =
            std::upper_bound(from, samples.end(), last,
                             [](int64_t t, const archive::StoredSample& s) { return t < s.time; });
        shown.emplace_back(from, to);
    }
    return archive::SeriesCsv(history.series, shown);
}
