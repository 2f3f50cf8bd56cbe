// Gaps: where a series' record has a hole. Found from the samples' times
// and the interval of the recording each sample belongs to.

#include <algorithm>
#include <map>

#include "archive/SampleBlock.h"
#include "archive/Store.h"

namespace archive {

bool EachSeriesOf(Connection& db, int64_t loggerId, int64_t total, const Progress& progress,
                  const std::function<void(int64_t, const std::vector<int64_t>&)>& each) {
    auto blocks = db.Prepare(
        "SELECT b.series_id, b.first_time, b.sample_count, b.samples"
        " FROM sample_blocks b JOIN series s ON b.series_id = s.id WHERE " +
        std::string(kOfLogger) + " ORDER BY b.series_id, b.first_time");
    blocks->Bind(1, loggerId);
    int64_t read = 0;
    if (progress && !progress(read, total)) {
        db.Fail(Fault::Other, "stopped");
        return false;
    }
    const bool whole = EachSeriesTimes(db, *blocks, [&](int64_t id, std::vector<int64_t>& times) {
        each(id, times);
        read += static_cast<int64_t>(times.size());
        return !progress || progress(read, total);
    });
    if (!whole && !db.Failed()) {
        db.Fail(Fault::Other, "stopped");
    }
    return whole;
}

// A gap: two samples in a row two or more intervals apart (of the
// fixed-interval recording the first one belongs to), so that at least one
// sample is missing: exactly two intervals is a gap of one sample. The step
// between recordings counts too: the record has a hole there. recordings:
// the series' logger's, in the order they began.
void GapsIn(const SeriesName& series, std::span<const int64_t> times,
            std::span<const Recording> recordings, std::vector<GapRow>& out) {
    std::size_t d = 0;
    for (std::size_t i = 1; i < times.size();) {
        const int64_t before = times[i - 1];
        while (d + 1 < recordings.size() && recordings[d + 1].first <= before) {
            ++d;
        }
        if (recordings.empty() || before < recordings[d].first || before > recordings[d].last ||
            !recordings[d].fixedInterval) {
            ++i;
            continue;
        }
        // Every step from here that begins within this recording, before the next one begins.
        const int64_t until = d + 1 < recordings.size()
                                  ? std::min(recordings[d].last, recordings[d + 1].first - 1)
                                  : recordings[d].last;
        const int64_t interval = std::max<int64_t>(1, recordings[d].interval);
        for (; i < times.size() && times[i - 1] <= until; ++i) {
            const int64_t step = times[i] - times[i - 1];
            if (step >= 2 * interval) {
                out.push_back({series, times[i - 1], times[i], step / interval - 1});
            }
        }
    }
}

// The recordings of one logger within those of several, ordered by logger.
std::span<const Recording> OfLogger(const std::vector<Recording>& all, int64_t loggerId) {
    const auto first =
        std::lower_bound(all.begin(), all.end(), loggerId,
                         [](const Recording& d, int64_t id) { return d.loggerId < id; });
    const auto last = std::upper_bound(
        first, all.end(), loggerId, [](int64_t id, const Recording& d) { return id < d.loggerId; });
    return {first, last};
}

// The gaps of the series of a logger (0: of every logger), each series' in
// time order, the series in serial and channel order.
bool GapsOf(Connection& db, int64_t loggerId, std::vector<GapRow>& out) {
    std::vector<std::pair<int64_t, SeriesName>> series;
    std::vector<Recording> recordings;
    if (!SeriesOf(db, loggerId, series) || !RecordingsOf(db, loggerId, recordings)) {
        return false;
    }
    std::map<int64_t, std::vector<GapRow>> found;  // by series id
    std::map<int64_t, const std::pair<int64_t, SeriesName>*> byId;
    for (const auto& s : series) {
        byId[s.second.id] = &s;
    }
    const bool read =
        EachSeriesOf(db, loggerId, 0, {}, [&](int64_t id, const std::vector<int64_t>& times) {
            const auto named = byId.find(id);
            if (named != byId.end()) {
                GapsIn(named->second->second, times, OfLogger(recordings, named->second->first),
                       found[id]);
            }
        });
    for (const auto& s : series) {
        const std::vector<GapRow>& gaps = found[s.second.id];
        out.insert(out.end(), gaps.begin(), gaps.end());
    }
    return read;
}

namespace {

// Gaps found in the loggers' clocks, shown in UTC.
void InUtc(Connection& db, std::vector<GapRow>& gaps) {
    std::map<std::string, std::vector<Stay>> stays;
    StaysBySerial(db, stays);
    for (GapRow& gap : gaps) {
        const std::vector<Stay>& of = stays[gap.series.serial];
        gap.lastBefore = UtcOf(of, gap.lastBefore);
        gap.firstAfter = UtcOf(of, gap.firstAfter);
    }
}

}  // namespace

Result<std::vector<GapRow>> Archive::Gaps(const std::optional<std::string>& serial) {
    const Result<int64_t> logger = serial ? LoggerId(*serial) : 0;
    if (!logger) {
        return logger.failure();
    }
    std::vector<GapRow> out;
    GapsOf(*db_, *logger, out);
    InUtc(*db_, out);
    return Done(std::move(out));
}

Result<std::vector<GapRow>> Archive::DownloadGaps(int64_t downloadId) {
    Connection& db = *db_;
    std::vector<GapRow> out;
    // The series the download added to, and the times it added: the gaps
    // next to them lie between the sample before its first and the one
    // after its last, and only those are read.
    std::map<int64_t, std::vector<StoredSample>> brought;  // by series id
    auto blocks = db.Prepare(
        "SELECT series_id, first_time, sample_count, decimals, download_id, samples"
        " FROM sample_blocks WHERE download_id = ?1 ORDER BY series_id, first_time");
    blocks->Bind(1, downloadId);
    EachSeries(db, *blocks, kEarliest, kLatest, [&](int64_t id, std::vector<StoredSample>& s) {
        brought[id] = std::move(s);
        return true;
    });
    blocks.reset();
    // The download's logger: its series and recordings.
    int64_t logger = 0;
    std::vector<std::pair<int64_t, SeriesName>> series;
    std::vector<Recording> recordings;
    for (const auto& entry : brought) {
        const int64_t id = entry.first;  // named: a lambda below takes it
        const auto& times = entry.second;
        // No sample before or after: the download's own first or last.
        auto bounds = db.Prepare(
            "SELECT s.logger_id, coalesce((SELECT max(last_time) FROM sample_blocks"
            " WHERE series_id = ?1 AND last_time < ?2), ?2), coalesce((SELECT min(first_time)"
            " FROM sample_blocks WHERE series_id = ?1 AND first_time > ?3), ?3)"
            " FROM series s WHERE s.id = ?1");
        BindAll(*bounds, {id, times.front().time, times.back().time});
        if (!bounds->Step()) {
            break;
        }
        if (bounds->Int(0) != logger) {
            logger = bounds->Int(0);
            series.clear();
            recordings.clear();
            SeriesOf(db, logger, series);
            RecordingsOf(db, logger, recordings);
        }
        std::vector<StoredSample> near;
        if (!HeldSamples(db, id, bounds->Int(1), bounds->Int(2), near)) {
            break;
        }
        const auto named = std::find_if(series.begin(), series.end(),
                                        [id](const auto& s) { return s.second.id == id; });
        std::vector<GapRow> gaps;
        if (named != series.end()) {
            GapsIn(named->second, TimesOf(near), recordings, gaps);
        }
        const auto added = [&times](int64_t time) {
            const auto at = FirstFrom(times, time);
            return at != times.end() && at->time == time;
        };
        for (const GapRow& gap : gaps) {
            if (added(gap.lastBefore) || added(gap.firstAfter)) {
                out.push_back(gap);
            }
        }
    }
    InUtc(*db_, out);
    return Done(std::move(out));
}

}  // namespace archive
