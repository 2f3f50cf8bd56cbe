// Gaps: where a series' record has a hole. Found from the samples' times
// and the interval of the deployment each sample belongs to.

#include <algorithm>
#include <map>

#include "archive/SampleBlock.h"
#include "archive/Store.h"

namespace archive {

// Calls each(seriesId, times) for every series of a logger (0: of every
// logger) that holds samples, with the times of its samples in order; a
// pass over every block, each series' blocks in a row. progress follows the
// samples read. False when the archive failed or progress stopped it.
bool EachSeriesTimes(Connection& db, int64_t loggerId, int64_t total, const Progress& progress,
                     const std::function<void(int64_t, const std::vector<int64_t>&)>& each) {
    auto blocks = db.Prepare(
        "SELECT b.series_id, b.first_time, b.sample_count, b.samples FROM sample_blocks b"
        " JOIN series s ON b.series_id = s.id WHERE " +
        std::string(kOfLogger) + " ORDER BY b.series_id, b.first_time");
    blocks->Bind(1, loggerId);
    std::vector<int64_t> times;
    std::vector<PackedSample> samples;
    int64_t series = 0;
    int64_t read = 0;
    bool interleaved = false;
    const auto finish = [&] {
        if (interleaved) {
            std::sort(times.begin(), times.end());
        }
        if (!times.empty()) {
            each(series, times);
        }
        times.clear();
        interleaved = false;
    };
    while (blocks->Step()) {
        if (blocks->Int(0) != series) {
            finish();
            series = blocks->Int(0);
            if (progress && !progress(read, total)) {
                db.Fail(Fault::Other, "stopped");
                return false;
            }
        }
        samples.clear();
        if (!UnpackSamples(blocks->Blob(3), blocks->Int(1), blocks->Int(2), samples)) {
            db.Fail(Fault::Other,
                    "a block of samples of series " + std::to_string(series) + " is damaged");
            return false;
        }
        // A later download may have filled a hole inside an earlier block.
        interleaved = interleaved ||
                      (!times.empty() && !samples.empty() && samples.front().time < times.back());
        for (const PackedSample& s : samples) {
            times.push_back(s.time);
        }
        read += static_cast<int64_t>(samples.size());
    }
    if (db.Failed()) {
        return false;
    }
    finish();
    return !progress || progress(read, total);
}

// A gap: two samples in a row further apart than two intervals of the
// fixed-interval deployment the first one belongs to, so that at least one
// sample is missing. The step between deployments counts too: the record
// has a hole there. deployments: the series' logger's, in the order they began.
void GapsIn(const SeriesName& series, const std::vector<int64_t>& times,
            std::span<const Deployment> deployments, std::vector<GapRow>& out) {
    std::size_t d = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const int64_t before = times[i - 1];
        while (d + 1 < deployments.size() && deployments[d + 1].first <= before) {
            ++d;
        }
        if (deployments.empty() || before < deployments[d].first || before > deployments[d].last ||
            !deployments[d].fixedInterval) {
            continue;
        }
        const int64_t interval = std::max<int64_t>(1, deployments[d].interval);
        const int64_t step = times[i] - before;
        if (step >= 2 * interval) {
            out.push_back({series, before, times[i], step / interval - 1});
        }
    }
}

// The deployments of one logger within those of several, ordered by logger.
std::span<const Deployment> OfLogger(const std::vector<Deployment>& all, int64_t loggerId) {
    const auto first =
        std::lower_bound(all.begin(), all.end(), loggerId,
                         [](const Deployment& d, int64_t id) { return d.loggerId < id; });
    const auto last =
        std::upper_bound(first, all.end(), loggerId,
                         [](int64_t id, const Deployment& d) { return id < d.loggerId; });
    return {first, last};
}

// The gaps of the series of a logger (0: of every logger), each series' in
// time order, the series in serial and channel order.
bool GapsOf(Connection& db, int64_t loggerId, std::vector<GapRow>& out) {
    std::vector<std::pair<int64_t, SeriesName>> series;
    std::vector<Deployment> deployments;
    if (!SeriesOf(db, loggerId, series) || !DeploymentsOf(db, loggerId, deployments)) {
        return false;
    }
    std::map<int64_t, std::vector<GapRow>> found;  // by series id
    std::map<int64_t, const std::pair<int64_t, SeriesName>*> byId;
    for (const auto& s : series) {
        byId[s.second.id] = &s;
    }
    const bool read =
        EachSeriesTimes(db, loggerId, 0, {}, [&](int64_t id, const std::vector<int64_t>& times) {
            const auto named = byId.find(id);
            if (named != byId.end()) {
                GapsIn(named->second->second, times, OfLogger(deployments, named->second->first),
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
void InUtc(Connection& db, std::vector<GapRow>& gaps, std::size_t first) {
    std::map<std::string, std::vector<Stay>> stays;
    StaysBySerial(db, stays);
    for (std::size_t i = first; i < gaps.size(); ++i) {
        const std::vector<Stay>& of = stays[gaps[i].series.serial];
        gaps[i].lastBefore = UtcOf(of, gaps[i].lastBefore);
        gaps[i].firstAfter = UtcOf(of, gaps[i].firstAfter);
    }
}

}  // namespace

bool Archive::Gaps(std::vector<GapRow>& out, const std::optional<std::string>& serial) {
    const int64_t logger = serial ? LoggerId(*serial) : 0;
    if (serial && logger == 0) {
        return false;
    }
    const std::size_t first = out.size();
    GapsOf(*db_, logger, out);
    InUtc(*db_, out, first);
    return Done();
}

bool Archive::DownloadGaps(int64_t downloadId, std::vector<GapRow>& out) {
    // The loggers the download added to: few, each looked at whole.
    std::vector<int64_t> loggers;
    auto added = db_->Prepare(
        "SELECT DISTINCT s.logger_id FROM sample_blocks b JOIN series s ON b.series_id = s.id"
        " WHERE b.download_id = ?1");
    added->Bind(1, downloadId);
    while (added->Step()) {
        loggers.push_back(added->Int(0));
    }
    added.reset();
    std::vector<GapRow> gaps;
    for (const int64_t logger : loggers) {
        GapsOf(*db_, logger, gaps);
    }
    // Whether a sample at a time of a series came with the download.
    std::map<int64_t, std::vector<int64_t>> brought;  // by series id
    auto blocks = db_->Prepare(
        "SELECT series_id, first_time, sample_count, samples FROM sample_blocks"
        " WHERE download_id = ?1");
    blocks->Bind(1, downloadId);
    std::vector<PackedSample> samples;
    while (blocks->Step()) {
        samples.clear();
        if (!UnpackSamples(blocks->Blob(3), blocks->Int(1), blocks->Int(2), samples)) {
            db_->Fail(Fault::Other, "a block of samples of download " + std::to_string(downloadId) +
                                        " is damaged");
            break;
        }
        std::vector<int64_t>& times = brought[blocks->Int(0)];
        for (const PackedSample& s : samples) {
            times.push_back(s.time);
        }
    }
    blocks.reset();
    for (auto& [id, times] : brought) {
        std::sort(times.begin(), times.end());
    }
    const std::size_t first = out.size();
    for (const GapRow& gap : gaps) {
        const std::vector<int64_t>& times = brought[gap.series.id];
        if (std::binary_search(times.begin(), times.end(), gap.lastBefore) ||
            std::binary_search(times.begin(), times.end(), gap.firstAfter)) {
            out.push_back(gap);
        }
    }
    InUtc(*db_, out, first);
    return Done();
}

}  // namespace archive
