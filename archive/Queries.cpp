// What the archive holds, read: loggers and their series, samples,
// conflicts, deployments, downloads.

#include <algorithm>
#include <cstdlib>
#include <map>

#include "archive/Store.h"
#include "device/FixedText.h"

namespace archive {

namespace {

void Add(Holdings& into, const Holdings& h) {
    into.samples += h.samples;
    into.conflicts += h.conflicts;
    into.open += h.open;
    into.gaps += h.gaps;
    if (h.firstTime) {
        into.firstTime = std::min(into.firstTime.value_or(kLatest), *h.firstTime);
        into.lastTime = std::max(into.lastTime.value_or(kEarliest), *h.lastTime);
    }
}

// What series k of a logger holds in each of its stays: samples, gaps and
// conflicts (logger's clock, time order) by the stay they begin in; the
// span in UTC.
void HeldInStays(const std::vector<int64_t>& times, const std::vector<GapRow>& gaps,
                 const std::vector<std::pair<int64_t, bool>>& conflicts, std::size_t k,
                 std::vector<StaySummary>& stays) {
    for (StaySummary& stay : stays) {
        const DeploymentRow& d = stay.deployment;
        const int64_t offset = OffsetTenths(d.clockOffset);
        const int64_t from = Shifted(d.startTime, offset);
        const int64_t to = d.end ? Shifted(*d.end, offset) : kLatest;
        const auto within = [from, to](int64_t time) { return time >= from && time < to; };
        Holdings& held = stay.series[k];
        const auto begin = FirstFrom(times, from);
        const auto end = to == kLatest ? times.end() : FirstFrom(times, to);
        held.samples = end - begin;
        if (begin != end) {
            held.firstTime = *begin - offset;
            held.lastTime = *std::prev(end) - offset;
        }
        held.gaps = std::count_if(gaps.begin(), gaps.end(),
                                  [&within](const GapRow& g) { return within(g.lastBefore); });
        for (const auto& [time, open] : conflicts) {
            if (within(time)) {
                ++held.conflicts;
                held.open += open ? 1 : 0;
            }
        }
    }
}

// The loggers' summaries while Loggers gathers them, and the ways into them.
struct LoggerCensus {
    std::vector<LoggerSummary> out;
    std::map<int64_t, std::size_t> loggerAt;     // by logger id: the index in out
    std::map<int64_t, SeriesSummary*> seriesAt;  // by series id
    std::map<int64_t, std::pair<LoggerSummary*, std::size_t>> channelAt;  // by series id
    std::map<int64_t, int64_t> loggerOf;                                  // by series id
};

// Every logger, with when it was last downloaded.
void ReadLoggers(Connection& db, const std::vector<Recording>& recordings, LoggerCensus& census) {
    auto loggers = db.Prepare("SELECT id, serial, instrument_number FROM loggers ORDER BY serial");
    while (loggers->Step()) {
        census.loggerAt[loggers->Int(0)] = census.out.size();
        LoggerSummary& logger = census.out.emplace_back();
        logger.serial = loggers->Text(1);
        logger.instrumentNumber = loggers->Text(2);
    }
    loggers.reset();
    for (const Recording& d : recordings) {
        LoggerSummary& logger = census.out[census.loggerAt[d.loggerId]];
        logger.lastDownload = std::max(logger.lastDownload.value_or(d.lastImport), d.lastImport);
    }
}

// Where each logger was: the wells of its stays, the latest last.
void ReadStays(Connection& db, const std::map<int64_t, std::vector<Stay>>& stays,
               LoggerCensus& census) {
    std::map<int64_t, std::string> wells;
    WellNames(db, wells);
    for (const auto& [loggerId, ofLogger] : stays) {
        LoggerSummary& logger = census.out[census.loggerAt[loggerId]];
        for (const Stay& s : ofLogger) {
            const std::string& well = wells[s.wellId];
            if (std::find(logger.locations.begin(), logger.locations.end(), well) ==
                logger.locations.end()) {
                logger.locations.push_back(well);
            }
            logger.location = well;
            logger.stays.push_back({RowOf(s, well, logger.serial), {}, {}});
        }
    }
    for (LoggerSummary& logger : census.out) {
        std::sort(logger.locations.begin(), logger.locations.end());
    }
}

// Each logger's series, in it and in each of its stays.
void ReadSeries(Connection& db, LoggerCensus& census) {
    std::vector<std::pair<int64_t, SeriesName>> series;
    SeriesOf(db, 0, series);
    for (auto& [loggerId, name] : series) {
        census.out[census.loggerAt[loggerId]].series.push_back({std::move(name), {}});
    }
    for (const auto& [loggerId, index] : census.loggerAt) {
        LoggerSummary& logger = census.out[index];
        for (std::size_t k = 0; k < logger.series.size(); ++k) {
            const int64_t id = logger.series[k].name.id;
            census.seriesAt[id] = &logger.series[k];
            census.channelAt[id] = {&logger, k};
            census.loggerOf[id] = loggerId;
        }
        for (StaySummary& stay : logger.stays) {
            stay.series.resize(logger.series.size());
        }
    }
}

// What each series holds; the samples of all of them.
int64_t ReadHeld(Connection& db, LoggerCensus& census) {
    int64_t total = 0;
    auto held = db.Prepare(
        "SELECT series_id, sum(sample_count), min(first_time), max(last_time) FROM sample_blocks"
        " GROUP BY series_id");
    while (held->Step()) {
        if (const auto s = census.seriesAt.find(held->Int(0)); s != census.seriesAt.end()) {
            s->second->held.samples = held->Int(1);
            s->second->held.firstTime = held->Int(2);
            s->second->held.lastTime = held->Int(3);
            total += held->Int(1);
        }
    }
    return total;
}

// Each conflict counted in its series; by series, their times and whether
// each is open, to count them in the stay they fall in.
std::map<int64_t, std::vector<std::pair<int64_t, bool>>> ReadConflicts(Connection& db,
                                                                       LoggerCensus& census) {
    std::map<int64_t, std::vector<std::pair<int64_t, bool>>> conflictsOf;
    auto conflicts = db.Prepare(
        "SELECT c.series_id, c.time, CASE WHEN r.id IS NULL THEN 1 ELSE 0 END FROM conflicts c" +
        std::string(kItsChoice));
    while (conflicts->Step()) {
        if (const auto s = census.seriesAt.find(conflicts->Int(0)); s != census.seriesAt.end()) {
            ++s->second->held.conflicts;
            s->second->held.open += conflicts->Int(2);
            conflictsOf[conflicts->Int(0)].emplace_back(conflicts->Int(1), conflicts->Int(2) != 0);
        }
    }
    return conflictsOf;
}

// The series' spans in UTC, and what each logger and stay holds in all.
void Totals(std::map<int64_t, std::vector<Stay>>& stays, LoggerCensus& census) {
    for (const auto& [loggerId, index] : census.loggerAt) {
        for (SeriesSummary& s : census.out[index].series) {
            if (s.held.firstTime) {
                s.held.firstTime = UtcOf(stays[loggerId], *s.held.firstTime);
                s.held.lastTime = UtcOf(stays[loggerId], *s.held.lastTime);
            }
        }
    }
    for (LoggerSummary& logger : census.out) {
        for (const SeriesSummary& s : logger.series) {
            Add(logger.held, s.held);
        }
        for (StaySummary& stay : logger.stays) {
            for (const Holdings& h : stay.series) {
                Add(stay.held, h);
            }
        }
    }
}

}  // namespace

Result<int64_t> Archive::LoggerId(const std::string& serial) {
    auto logger = db_->Prepare("SELECT id FROM loggers WHERE serial = ?1");
    logger->Bind(1, serial);
    if (logger->Step()) {
        return logger->Int(0);
    }
    if (db_->Failed()) {
        return Failed();
    }
    return Failure{Fault::NotFound, "no logger " + serial + " in the archive"};
}

Result<std::vector<LoggerSummary>> Archive::Loggers(const Progress& progress) {
    Connection& db = *db_;
    LoggerCensus census;
    std::vector<Recording> recordings;
    RecordingsOf(db, 0, recordings);
    ReadLoggers(db, recordings, census);
    std::map<int64_t, std::vector<Stay>> stays;
    StaysOf(db, 0, stays);
    ReadStays(db, stays, census);
    ReadSeries(db, census);
    const int64_t total = ReadHeld(db, census);
    std::map<int64_t, std::vector<std::pair<int64_t, bool>>> conflictsOf =
        ReadConflicts(db, census);
    std::vector<GapRow> gaps;
    if (!db.Failed()) {
        EachSeriesOf(db, 0, total, progress, [&](int64_t id, const std::vector<int64_t>& times) {
            const auto s = census.seriesAt.find(id);
            if (s == census.seriesAt.end()) {
                return;
            }
            gaps.clear();
            GapsIn(s->second->name, times, OfLogger(recordings, census.loggerOf[id]), gaps);
            s->second->held.gaps = static_cast<int64_t>(gaps.size());
            const auto [logger, k] = census.channelAt[id];
            HeldInStays(times, gaps, conflictsOf[id], k, logger->stays);
        });
    }
    Totals(stays, census);
    return Done(std::move(census.out));
}

Result<SeriesName> Archive::FindSeries(const std::string& serial, const std::string& channel) {
    const Result<int64_t> logger = LoggerId(serial);
    if (!logger) {
        return logger.failure();
    }
    std::vector<std::pair<int64_t, SeriesName>> series;
    if (!SeriesOf(*db_, *logger, series)) {
        return Failed();
    }
    std::vector<SeriesName> matches;
    for (auto& [id, s] : series) {
        if (NamesChannel(s, channel)) {
            matches.push_back(std::move(s));
        }
    }
    if (matches.size() == 1) {
        return std::move(matches.front());
    }
    if (matches.empty()) {
        return Failure{Fault::NotFound,
                       "logger " + serial + " has no channel " + channel + " in the archive"};
    }
    std::string several = "channel " + channel + " of logger " + serial + " names several series:";
    for (const SeriesName& s : matches) {
        several += " " + std::to_string(s.channel) + " " + s.identification + " [" + s.unit + "];";
    }
    return Failure{Fault::Refused, several + " name it by its other part"};
}

Result<SeriesValues> Archive::Values(const SeriesName& series, std::optional<int64_t> from,
                                     std::optional<int64_t> to, bool withGaps) {
    // Kept in the logger's clock, read in UTC: a day either side holds
    // every offset a clock keeps.
    constexpr int64_t kDay = Tenths::OfMinutes(24 * 60).count();
    auto logger = db_->Prepare("SELECT logger_id FROM series WHERE id = ?1");
    logger->Bind(1, series.id);
    const int64_t loggerId = logger->Step() ? logger->Int(0) : 0;
    logger.reset();
    std::map<int64_t, std::vector<Stay>> stays;
    StaysOf(*db_, loggerId, stays);
    const int64_t first = from.value_or(kEarliest), last = to.value_or(kLatest);
    std::vector<StoredSample> held;
    HeldSamples(*db_, series.id, from ? first - kDay : kEarliest, to ? last + kDay : kLatest, held);
    const std::vector<Stay>& of = stays[loggerId];
    std::vector<Recording> recordings;
    SeriesValues out;
    if (withGaps && !db_->Failed() && RecordingsOf(*db_, loggerId, recordings)) {
        // Found in the logger's clock, as its intervals run; shown in UTC.
        std::vector<GapRow> found;
        GapsIn(series, TimesOf(held), recordings, found);
        for (GapRow& gap : found) {
            gap.lastBefore = UtcOf(of, gap.lastBefore);
            gap.firstAfter = UtcOf(of, gap.firstAfter);
            if (gap.firstAfter >= first && gap.lastBefore <= last) {
                out.gaps.push_back(gap);
            }
        }
    }
    for (StoredSample& h : held) {
        h.time = UtcOf(of, h.time);
        if (h.time >= first && h.time <= last) {
            out.samples.push_back(h);
        }
    }
    // Two stays of other offsets may overlap in UTC.
    std::stable_sort(out.samples.begin(), out.samples.end(),
                     [](const StoredSample& a, const StoredSample& b) { return a.time < b.time; });
    return Done(std::move(out));
}

Result<std::vector<Sample>> Archive::Samples(const SeriesName& series, std::optional<int64_t> from,
                                             std::optional<int64_t> to) {
    const Result<SeriesValues> held = Values(series, from, to);
    if (!held) {
        return held.failure();
    }
    std::vector<Sample> out;
    out.reserve(held->samples.size());
    for (const StoredSample& h : held->samples) {
        out.push_back({h.time, DecimalText(h.value)});
    }
    return out;
}

Result<std::vector<ConflictRow>> Archive::Conflicts(const std::optional<std::string>& serial) {
    const Result<int64_t> logger = serial ? LoggerId(*serial) : 0;
    if (!logger) {
        return logger.failure();
    }
    auto conflicts = db_->Prepare(
        "SELECT s.id, l.serial, s.channel, s.identification, s.unit, c.time, c.kept_value,"
        " c.other_value, c.kept_download_id, c.other_download_id, k.file_name, k.imported_at,"
        " o.file_name, o.imported_at, coalesce(r.kept_download_id, 0), r.kept_value, r.made_by,"
        " r.made_at FROM conflicts c JOIN series s ON c.series_id = s.id"
        " JOIN loggers l ON s.logger_id = l.id JOIN downloads k ON k.id = c.kept_download_id"
        " JOIN downloads o ON o.id = c.other_download_id" +
        std::string(kItsChoice) + " WHERE " + std::string(kOfLogger) +
        " ORDER BY l.serial, s.channel, s.id, c.time, c.id");
    conflicts->Bind(1, *logger);
    std::vector<ConflictRow> out;
    while (conflicts->Step()) {
        ConflictRow& row = out.emplace_back();
        row.series = {conflicts->Int(0), conflicts->Text(1), static_cast<int>(conflicts->Int(2)),
                      conflicts->Text(3), conflicts->Text(4)};
        row.time = conflicts->Int(5);
        row.keptValue = conflicts->Text(6);
        row.otherValue = conflicts->Text(7);
        row.keptDownload = conflicts->Int(8);
        row.otherDownload = conflicts->Int(9);
        row.keptFile = conflicts->Text(10);
        row.keptImported = conflicts->Int(11);
        row.otherFile = conflicts->Text(12);
        row.otherImported = conflicts->Int(13);
        if (conflicts->Int(14) != 0) {
            row.choice = Choice{conflicts->Int(14), conflicts->Text(15), conflicts->Text(16),
                                conflicts->Int(17)};
        }
    }
    conflicts.reset();
    std::map<std::string, std::vector<Stay>> stays;
    StaysBySerial(*db_, stays);
    for (ConflictRow& row : out) {
        row.time = UtcOf(stays[row.series.serial], row.time);
    }
    return Done(std::move(out));
}

Result<int64_t> Archive::RecordingSamples(const DeviceLog& log) {
    // Each sample is in the block of the download that brought it first; a
    // channel renamed since is a series of its own, and the one that holds
    // most counts.
    auto count = db_->Prepare(
        "SELECT coalesce(max(n), 0) FROM (SELECT sum(b.sample_count) AS n FROM sample_blocks b"
        " JOIN series s ON s.id = b.series_id JOIN loggers l ON l.id = s.logger_id"
        " JOIN downloads d ON d.id = b.download_id"
        " JOIN recordings p ON p.id = d.recording_id"
        " WHERE l.serial = ?1 AND p.start_time = ?2 AND s.channel = 1 GROUP BY s.id) AS held");
    count->Bind(1, Field(FieldText(log.header().serialNumber)));
    count->Bind(2, log.startTime().count());
    const int64_t samples = count->Step() ? count->Int(0) : 0;
    count.reset();
    return Done(samples);
}

Result<std::vector<DownloadRow>> Archive::Downloads() {
    std::vector<DownloadRow> out;
    auto downloads = db_->Prepare(
        "SELECT d.id, d.imported_at, d.source, d.file_name, l.serial, p.location, d.new_samples,"
        " d.duplicates, d.conflicts FROM downloads d"
        " JOIN recordings p ON d.recording_id = p.id JOIN loggers l ON p.logger_id = l.id"
        " ORDER BY d.id");
    while (downloads->Step()) {
        out.push_back({downloads->Int(0), downloads->Int(1), downloads->Text(2), downloads->Text(3),
                       downloads->Text(4), downloads->Text(5), downloads->Int(6), downloads->Int(7),
                       downloads->Int(8)});
    }
    downloads.reset();
    return Done(std::move(out));
}

Result<std::string> Archive::DownloadText(int64_t id) {
    auto download = db_->Prepare("SELECT file_text, file_size FROM downloads WHERE id = ?1");
    download->Bind(1, id);
    if (!download->Step()) {
        if (db_->Failed()) {
            return Failed();
        }
        return Failure{Fault::NotFound, "no download " + std::to_string(id) + " in the archive"};
    }
    std::optional<std::string> text = Unpack(download->Blob(0), download->Int(1));
    if (!text) {
        db_->Fail(Fault::Other, "the text of download " + std::to_string(id) + " is damaged");
    }
    return Done(std::move(text).value_or(std::string()));
}

Result<ArchiveFacts> Archive::Facts() {
    ArchiveFacts out;
    const bool sqlite = db_->Kind() == Engine::Sqlite;
    auto version = db_->Prepare(sqlite ? "SELECT sqlite_version()" : "SHOW server_version");
    if (version->Step()) {
        // "15.18 (Debian 15.18-0+deb12u1)": the number is enough.
        const std::string number = version->Text(0);
        out.engine = (sqlite ? "SQLite " : "PostgreSQL ") + number.substr(0, number.find(' '));
    }
    version.reset();
    auto stamp = db_->Prepare("SELECT value FROM archive_info WHERE name = 'schema_version'");
    out.version = stamp->Step() ? std::atoi(stamp->Text(0).c_str()) : 0;
    stamp.reset();
    auto counts =
        db_->Prepare("SELECT (SELECT count(*) FROM loggers), (SELECT count(*) FROM downloads)");
    if (counts->Step()) {
        out.loggers = counts->Int(0);
        out.downloads = counts->Int(1);
    }
    counts.reset();
    return Done(out);
}

}  // namespace archive
