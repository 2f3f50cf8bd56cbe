#include "graph/HistoryTraces.h"

#include <algorithm>
#include <limits>

#include "device/SampleTime.h"

std::vector<PlotTrace> HistoryTraces(const archive::History& history) {
    // A trace for each series in each well its logger stayed in: a logger
    // moved draws each well's levels under that well's name, never one
    // line from one well into the other. The serial is added where one well
    // has the same channel of several loggers.
    struct Part {
        std::size_t series;
        archive::Stretch piece;
    };
    std::vector<Part> parts;
    for (std::size_t i = 0; i < history.series.size(); ++i) {
        for (const archive::Stretch& piece :
             archive::StretchesOf(history, history.series[i].serial)) {
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
                trace.times.push_back(SampleTimeOf(Tenths(*nextBreak)));
                trace.values.push_back(std::numeric_limits<double>::quiet_NaN());
            }
            trace.decimals = sample.value.decimals;
            trace.times.push_back(SampleTimeOf(Tenths(sample.time)));
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
            trace.marks.push_back(SampleTimeOf(Tenths(time)));
        }
    }
    return traces;
}

std::vector<PlotLine> HistoryLines(const archive::History& history) {
    std::vector<PlotLine> lines;
    for (const auto& [serial, rows] : history.deployments) {
        for (std::size_t k = 1; k < rows.size(); ++k) {
            if (rows[k].location != rows[k - 1].location) {
                lines.push_back(
                    {SampleTimeOf(Tenths(rows[k].startTime)), serial + " to " + rows[k].location});
            }
        }
    }
    return lines;
}
