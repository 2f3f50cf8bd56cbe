#pragma once
// What the parts of the archive share: how a statement takes its values,
// how texts and failures are put, and the reads of the tables that imports,
// gaps and queries all make. Not for use outside archive/.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "archive/Archive.h"
#include "archive/Database.h"
#include "device/Tenths.h"

namespace archive {

// A recording: a logger at a location, recording from startTime; the times
// its downloads held, and the rule of its gaps.
struct Recording {
    int64_t loggerId;
    std::string location;
    int64_t startTime;
    int64_t first, last;  // of the samples of its downloads
    int64_t interval;
    bool fixedInterval;
    int64_t lastImport;  // seconds since 1970 UTC
};

constexpr int64_t kEarliest = std::numeric_limits<int64_t>::min();
constexpr int64_t kLatest = std::numeric_limits<int64_t>::max();

using Value = std::variant<int64_t, std::string>;

// ?1, ?2, ... of the statement: the values in order.
void BindAll(Statement& statement, const std::vector<Value>& values);
// Statements run whole or not at all; a failure stays the connection's.
void Change(Connection& db, const std::vector<std::pair<std::string, std::vector<Value>>>& all);

// A text field of the log as the archive keeps it: trailing blanks dropped,
// and valid UTF-8 (the reader's bytes taken as Latin-1), as a server's text
// columns require.
std::string Field(std::string_view bytes);

// The data file deflated: fast rather than smallest, as it is done for every
// log; empty when there is no memory for it. Unpack gives it back, or none
// when it is damaged (size: the text's length).
std::vector<uint8_t> Pack(std::string_view text);
std::optional<std::string> Unpack(const std::vector<uint8_t>& packed, int64_t size);

// A failure of the archive at the location chosen, of its kind, in words:
// the one place an engine's failure becomes one the user is told.
Failure FailureOf(const DbError& error, const std::string& chosen);

// A clock's offset from UTC (minutes) in the tenths the samples are counted in.
constexpr int64_t OffsetTenths(int clockOffset) {
    return Tenths::OfMinutes(clockOffset).count();
}

// A logger's stay in a well: its samples from `from` (included) to `to`
// (excluded; kLatest: open), UTC tenths; its clock at clockOffset minutes
// from UTC (the logger's time is UTC + offset).
struct Stay {
    int64_t loggerId, wellId;
    int64_t from, to;
    int clockOffset;
    bool declared;
    LoggerFacts facts;  // a declared one's
};

// Why a number the user gave (none: not given) is not one, or outside
// [lowest, highest]; empty when it is.
std::string NotANumber(const std::string& what, const std::optional<std::string>& text,
                       double lowest = -1e9, double highest = 1e9);

// A declared span over those of before (each with from and to, in time
// order): what they held over its span is its.
template <class Span>
void Over(const Span& declared, std::vector<Span>& spans) {
    std::vector<Span> kept;
    for (const Span& s : spans) {
        if (s.to <= declared.from || s.from >= declared.to) {
            kept.push_back(s);
            continue;
        }
        if (s.from < declared.from) {
            kept.push_back(s);
            kept.back().to = declared.from;
        }
        if (s.to > declared.to) {
            kept.push_back(s);
            kept.back().from = declared.to;
        }
    }
    kept.push_back(declared);
    std::sort(kept.begin(), kept.end(),
              [](const Span& a, const Span& b) { return a.from < b.from; });
    spans = std::move(kept);
}

// The facts, baros and dips of the wells (by id; serials: the loggers' by id).
bool FactsOf(Connection& db, const std::map<int64_t, std::string>& serials,
             std::map<int64_t, WellRow>& wells);

// A stay as the archive shows it, with its well's name and its logger's serial.
DeploymentRow RowOf(const Stay& s, const std::string& well, const std::string& serial);

// A time moved by an offset, held within the ends of time.
int64_t Shifted(int64_t time, int64_t offset);

// The stays of a logger (0: of every logger), by logger, each logger's in
// the order they began: found from its recordings, and each declared one
// over what was found (or declared before) over its span.
bool StaysOf(Connection& db, int64_t loggerId, std::map<int64_t, std::vector<Stay>>& out);

// The name of every well, by id.
bool WellNames(Connection& db, std::map<int64_t, std::string>& out);

// The stays of every logger, by its serial.
bool StaysBySerial(Connection& db, std::map<std::string, std::vector<Stay>>& out);

// The UTC of a time of the logger's clock: by the offset of the stay begun
// then (+00:00 before the first). stays: the logger's.
int64_t UtcOf(const std::vector<Stay>& stays, int64_t loggerTime);

// The one reader of sample blocks. blocks: a statement selecting series_id,
// first_time, sample_count, decimals, download_id and samples, each series'
// blocks in a row in first_time order. Calls each(seriesId, samples) once
// a series, with its samples within [from, to] in time order (as kept
// first: no choices applied); each may take them. False when a block is
// damaged, the archive failed, or each returned false.
bool EachSeries(Connection& db, Statement& blocks, int64_t from, int64_t to,
                const std::function<bool(int64_t, std::vector<StoredSample>&)>& each);
// The same with the times alone, for what needs no values: blocks selecting
// series_id, first_time, sample_count and samples.
bool EachSeriesTimes(Connection& db, Statement& blocks,
                     const std::function<bool(int64_t, std::vector<int64_t>&)>& each);

inline int64_t TimeOf(const StoredSample& s) {
    return s.time;
}
inline int64_t TimeOf(int64_t time) {
    return time;
}
std::vector<int64_t> TimesOf(std::span<const StoredSample> samples);

// The first of samples, or of times (in time order), at time or after it.
template <class Samples>
auto FirstFrom(Samples& samples, int64_t time) {
    return std::lower_bound(samples.begin(), samples.end(), time,
                            [](const auto& s, int64_t t) { return TimeOf(s) < t; });
}

// The samples of a series within [from, to], in time order, with the values
// the user chose at conflicts.
bool HeldSamples(Connection& db, int64_t seriesId, int64_t from, int64_t to,
                 std::vector<StoredSample>& out);

// A statement's ?1 that is a logger's id, or 0 for every logger.
constexpr std::string_view kOfLogger = "(CAST(?1 AS BIGINT) = 0 OR s.logger_id = ?1)";

// Joined to conflicts c: the choice r that resolves each, if any. A choice
// resolves the conflicts at its time it saw; one a later download brings
// there is open again.
constexpr std::string_view kItsChoice =
    " LEFT JOIN resolutions r ON r.series_id = c.series_id AND r.time = c.time"
    " AND r.ended_at IS NULL AND r.last_conflict_id >= c.id";

// The series of a logger (0: of every logger), in serial and channel order,
// with the logger of each.
bool SeriesOf(Connection& db, int64_t loggerId, std::vector<std::pair<int64_t, SeriesName>>& out);

// Whether channel names the series: its number ("1") or its identification.
bool NamesChannel(const SeriesName& series, const std::string& channel);
// The first of a logger's series that channel names; empty channel: its
// first of a pressure unit. None when it has none such.
const SeriesName* SeriesNamed(const std::vector<std::pair<int64_t, SeriesName>>& series,
                              const std::string& channel);

// The recordings of a logger (0: of every logger), by logger, each
// logger's in the order they began.
bool RecordingsOf(Connection& db, int64_t loggerId, std::vector<Recording>& out);

// Calls each(seriesId, times) for every series of a logger (0: of every
// logger) that holds samples, with its samples' times in order; a pass over
// every block. progress follows the samples read. False when the archive
// failed or progress stopped it.
bool EachSeriesOf(Connection& db, int64_t loggerId, int64_t total, const Progress& progress,
                  const std::function<void(int64_t, const std::vector<int64_t>&)>& each);

// A gap: two samples in a row further apart than two intervals of the
// fixed-interval recording the first one belongs to, so that at least one
// sample is missing. The step between recordings counts too: the record
// has a hole there. recordings: the series' logger's, in the order they began.
void GapsIn(const SeriesName& series, std::span<const int64_t> times,
            std::span<const Recording> recordings, std::vector<GapRow>& out);

// The recordings of one logger within those of several, ordered by logger.
std::span<const Recording> OfLogger(const std::vector<Recording>& all, int64_t loggerId);

// The gaps of the series of a logger (0: of every logger), each series' in
// time order, the series in serial and channel order.
bool GapsOf(Connection& db, int64_t loggerId, std::vector<GapRow>& out);

}  // namespace archive
