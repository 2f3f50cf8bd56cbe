#pragma once
// The archive: every log ever downloaded or imported, merged into one record
// per logger channel (a series). Each sample (series, time, value) is kept
// once; a later log that repeats part of an earlier one adds only what is
// new; the same series and time with another value is a conflict: the first
// value stays, both values and both downloads are recorded, until the user
// chooses which value the record keeps (Resolve): a choice is a row of its
// own, and every read of the samples follows it. A log enters
// whole or not at all. Each download keeps its data file's text, so it can
// be given back byte for byte.
//
// Opened from a location (archive/Location.h): the path of an SQLite file,
// or a PostgreSQL server's. Both hold the same tables and behave the same.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Database.h"
#include "archive/Result.h"
#include "archive/SampleBlock.h"
#include "device/DeviceLog.h"
#include "level/Levels.h"

namespace archive {

// How long an SQLite writer waits for another program before giving up.
inline constexpr int kBusyTimeoutMs = 15000;
inline constexpr int kConnectTimeoutSeconds = 10;

// <data folder>/Arvelo/archive.sqlite; empty when the system names no data folder.
std::string DefaultLocation();

// The files named, and the data files (.omb, .csv) below the folders named,
// each folder's in name order: what an import of them takes.
std::vector<std::string> DataFilesUnder(const std::vector<std::string>& paths);

// A log in the archive, now or already. A log that cannot be kept fails
// with Fault::Refused; one whose commit was cut off with Fault::Unknown (it
// may be in: the message says so).
struct Imported {
    int64_t downloadId = 0;
    bool alreadyImported = false;  // the same file text was imported before, as downloadId
    std::string serial;            // of the log's logger, as the archive keeps it
    int64_t newSamples = 0;
    int64_t duplicates = 0;
    int64_t conflicts = 0;
};

struct SeriesName {
    int64_t id = 0;
    std::string serial;
    int channel = 0;  // 1 = first
    std::string identification;
    std::string unit;
};

// What the archive holds of a series, or of all the series of a logger.
struct Holdings {
    std::optional<int64_t> firstTime, lastTime;  // tenths
    int64_t samples = 0;
    int64_t conflicts = 0;
    int64_t open = 0;  // of the conflicts, those not resolved
    int64_t gaps = 0;
};

struct SeriesSummary {
    SeriesName name;
    Holdings held;
};

// A number as the user gives it, in whatever locale: "12.5", "-0.75";
// none when it is not one.
std::optional<double> NumberOf(const std::string& text);

// What a declared stay says of its logger, for the well's water levels.
// Numbers are kept as the user gave them.
struct LoggerFacts {
    // Channels, each a number or an identification; empty: the logger's
    // first channel of a pressure unit, and no temperature.
    std::string pressure, temperature;
    std::optional<std::string> cable;  // m from the well's reference point to the sensor
    bool vented = false;               // the sensor measures the water column alone
};

// A logger's stay in a well (a deployment): its samples from startTime
// (included) to end (excluded; none: open), UTC tenths, its clock at
// clockOffset minutes from UTC. declared: the user's, else found from the
// logs' locations.
struct DeploymentRow {
    std::string location;  // the well's name
    int64_t startTime = 0;
    std::optional<int64_t> end;
    std::string serial;
    int clockOffset = 0;
    bool declared = false;
    LoggerFacts facts;  // a found stay's: none declared
};

// What a well is declared to be, for its water levels; numbers as given.
struct WellFacts {
    std::optional<std::string> reference;  // m above the datum: the top of the casing
    std::optional<std::string> datum;      // its name: "m NAP", "m AHD"
    std::optional<std::string> latitude;   // degrees north
    std::optional<std::string> ground;     // m above the datum
};

// A barometric logger's channel assigned to a well from (included) to end
// (excluded; none: open), UTC; its clock at clockOffset minutes from UTC,
// hung height m above the well's reference point.
struct BaroRow {
    std::string serial;
    std::string channel;  // a number or an identification
    int clockOffset = 0;
    std::string height = "0";
    int64_t from = 0;
    std::optional<int64_t> end;
};

// A manual reading of a well: the depth to water below its reference point.
struct DipRow {
    int64_t time = 0;   // UTC tenths
    std::string depth;  // m, as given
    std::string note;
    int64_t id = 0;  // the archive's, once kept
};

// What a logger's stay holds: of all its channels, and of each.
struct StaySummary {
    DeploymentRow deployment;
    Holdings held;
    std::vector<Holdings> series;  // of the logger's series, in their order
};

struct LoggerSummary {
    std::string serial;
    std::string instrumentNumber;
    std::vector<std::string> locations;  // the wells it stayed in, in name order
    std::string location;                // the well of its latest stay: where it is now
    std::vector<SeriesSummary> series;   // its channels, in channel order
    Holdings held;
    std::vector<StaySummary> stays;       // in the order they began
    std::optional<int64_t> lastDownload;  // seconds since 1970 UTC
};

// How a log is imported: the offset of its logger's clock from UTC, in
// minutes (the logger's time is UTC + offset; loggers keep no daylight
// saving). It is the offset of the stay the log begins, if it begins one.
struct ImportOptions {
    int clockOffset = 0;
};

// A well: its name, the location texts that name it (in name order), and
// the stays of loggers in it, in the order they began.
struct WellRow {
    std::string name;
    std::vector<std::string> names;
    std::vector<DeploymentRow> deployments;
    WellFacts facts;
    std::vector<BaroRow> baros;  // in the order they begin
    std::vector<DipRow> dips;    // in time order
};

// A well's record of a channel across its loggers: each sample in UTC with
// the logger that took it (an index in loggers), in time order.
struct WellRecord {
    std::string identification, unit;  // as the first logger names the channel
    std::vector<std::string> loggers;
    struct Row {
        int64_t time;
        Decimal value;
        std::size_t logger;
    };
    std::vector<Row> rows;
};

// A well's levels and what they were computed from.
struct WellLevels {
    level::Well inputs;
    level::Levels levels;
};

// A sample as kept: its value as the data file printed it, and the download
// that brought it.
struct StoredSample {
    int64_t time;  // tenths
    Decimal value;
    int64_t download;
};

struct Sample {
    int64_t time;       // tenths
    std::string value;  // as the data file prints it
};

// The value a conflict was resolved to, and by whom.
struct Choice {
    int64_t download = 0;  // whose value the record keeps
    std::string value;
    std::string by;  // the login (SQLite) or the server's role
    int64_t at = 0;  // seconds since 1970 UTC
};

struct ConflictRow {
    SeriesName series;
    int64_t time = 0;
    // kept: the value the record held when the other came.
    std::string keptValue, otherValue;
    int64_t keptDownload = 0, otherDownload = 0;
    std::string keptFile, otherFile;              // the downloads' file names
    int64_t keptImported = 0, otherImported = 0;  // seconds since 1970 UTC
    std::optional<Choice> choice;                 // none: open, not resolved yet
};

// Which value the record keeps at a conflict's time.
struct Keep {
    enum class Kind {
        First,     // the value the record held first
        Other,     // the other value (one only at that time)
        Download,  // the value of download
        None,      // the choice taken back: the first value again, the conflict open
    };
    Kind kind = Kind::First;
    int64_t download = 0;
};

struct GapRow {
    SeriesName series;
    int64_t lastBefore, firstAfter;  // the samples either side
    int64_t missing;                 // samples the interval asks for in between
};

// A series' samples as kept, and the gaps between them when asked for.
struct SeriesValues {
    std::vector<StoredSample> samples;
    std::vector<GapRow> gaps;
};

struct DownloadRow {
    int64_t id;
    int64_t importedAt;  // seconds since 1970 UTC
    std::string source, fileName, serial, location;
    int64_t newSamples, duplicates, conflicts;
};

// What an archive is: its engine with the engine's version, the archive's
// version, and what it holds.
struct ArchiveFacts {
    std::string engine;  // "SQLite 3.40.1", "PostgreSQL 15.18"
    int version = 0;
    int64_t loggers = 0, downloads = 0;
};

// A long read says how far it is (done of total) as it goes; false stops it.
using Progress = std::function<bool(int64_t done, int64_t total)>;

struct PreparedLog;

class Archive {
  public:
    enum class OpenMode {
        Create,    // makes the archive where none is yet, or brings an older one up to date
        Existing,  // only an archive that is there and of this version: for reading
    };
    // Opens the archive at location (empty: the default). With
    // OpenMode::Existing none is made: Fault::Missing says there is none yet.
    static Result<std::unique_ptr<Archive>> Open(const std::string& location,
                                                 OpenMode mode = OpenMode::Create);
    // An archive on a connection whose tables are ready; location names it in messages.
    Archive(std::unique_ptr<Connection> db, std::string location, std::string migrated = {});

    // A log with its data file's text (what was saved, byte for byte), from
    // source: the port it was downloaded from or the file it was read from.
    Result<Imported> Import(std::string_view fileText, const DeviceLog& log,
                            const std::string& source, const std::string& fileName,
                            const ImportOptions& options = {});
    // A saved data file, read with the data file reader.
    Result<Imported> ImportFile(const std::string& path, const std::string& source,
                                const ImportOptions& options = {});
    // What opening did to the archive, in words for the user (it was
    // brought to this version, and where its copy is); empty when nothing.
    const std::string& Migrated() const { return migrated_; }

    // Queries fail when the archive failed (or progress stopped it), or
    // with Fault::NotFound when what they name is not there. Those that
    // take a serial read that logger's only, the others every logger's.
    // Every logger, in serial order: a few queries whatever their number,
    // and one pass over the samples for the gaps, which progress follows.
    Result<std::vector<LoggerSummary>> Loggers(const Progress& progress = {});
    // The series of a logger named by its channel number ("1") or identification.
    Result<SeriesName> FindSeries(const std::string& serial, const std::string& channel);
    Result<std::vector<Sample>> Samples(const SeriesName& series, std::optional<int64_t> from,
                                        std::optional<int64_t> to);
    // The same as numbers, with the download of each; withGaps: also the
    // gaps between them, from the same read.
    Result<SeriesValues> Values(const SeriesName& series, std::optional<int64_t> from,
                                std::optional<int64_t> to, bool withGaps = false);
    // Each with its downloads' files and dates and its choice.
    Result<std::vector<ConflictRow>> Conflicts(
        const std::optional<std::string>& serial = std::nullopt);
    // The user's choice of the value kept at a conflict's time of series
    // (every conflict there). On a server it takes an editor's role: one
    // that may update resolutions; an importer's is refused in words.
    Result<void> Resolve(const SeriesName& series, int64_t time, const Keep& keep);
    Result<std::vector<GapRow>> Gaps(const std::optional<std::string>& serial = std::nullopt);
    // The gaps next to a sample that the download added: the holes a log
    // left in its series, or between it and what was there before.
    Result<std::vector<GapRow>> DownloadGaps(int64_t downloadId);
    // A logger's stays in wells, in the order they began.
    Result<std::vector<DeploymentRow>> Deployments(const std::string& serial);
    // Every well, in name order.
    Result<std::vector<WellRow>> Wells();
    // A well (by its name or one of its location texts) and a channel (its
    // number or identification): what each logger in the well measured
    // there, within [from, to] UTC.
    Result<WellRecord> WellSeries(const std::string& well, const std::string& channel,
                                  std::optional<int64_t> from, std::optional<int64_t> to);
    // What the user declares; each whole or not at all.
    Result<void> RenameWell(const std::string& well, const std::string& name);
    // other's location texts and stays become well's; other is no more.
    Result<void> MergeWells(const std::string& well, const std::string& other);
    // The logger in the well from (UTC) to (excluded; none: open), over
    // whatever was found or declared for it then.
    Result<void> Deploy(const std::string& well, const std::string& serial, int64_t from,
                        std::optional<int64_t> to, int clockOffset, const LoggerFacts& facts = {});
    // The facts of the well named (made, when there is none of that name),
    // each over what was declared before.
    Result<void> SetWell(const std::string& well, const WellFacts& facts);
    // The well's barometric logger over a span, over what was assigned for it then.
    Result<void> AssignBaro(const std::string& well, const BaroRow& baro);
    // Manual readings, of a well each (its name or a location text): all or none.
    Result<void> AddDips(const std::vector<std::pair<std::string, DipRow>>& dips);
    // The dip of that id corrected (its time, depth and note as dip gives
    // them), or removed when there is no dip.
    Result<void> ChangeDip(int64_t id, const std::optional<DipRow>& dip);
    // One well with its facts, stays, baros and dips.
    Result<WellRow> Well(const std::string& well);
    // What the well's levels are computed from: its facts, the samples of
    // the pressure (and temperature) channels of its stays and of its baros
    // within their spans, in UTC, and its dips.
    Result<level::Well> LevelInputs(const std::string& well);
    // The well's levels computed from those inputs; an input they cannot be
    // computed from is refused in words.
    Result<WellLevels> Levels(const std::string& well, const level::Density& density = {},
                              const level::Gravity& gravity = {});
    Result<std::vector<DownloadRow>> Downloads();
    // How many samples the archive holds of the recording log belongs to
    // (its logger's, from its start, whatever the location), in its first
    // channel: what an erase of that log would leave kept.
    Result<int64_t> RecordingSamples(const DeviceLog& log);
    // The data file's text of a download.
    Result<std::string> DownloadText(int64_t id);
    Result<ArchiveFacts> Facts();

    ~Archive();

  private:
    Result<Imported> ImportOnce(const PreparedLog& log);
    // A request's end: value, or the connection's failure in words, which
    // the connection lets go for the next request.
    template <typename T>
    Result<T> Done(T value) {
        if (db_->Failed()) {
            return Failed();
        }
        return value;
    }
    Result<void> Done();
    Failure Failed();
    // The id of the logger of a serial number, or of a well by its name or a location text.
    Result<int64_t> LoggerId(const std::string& serial);
    Result<int64_t> WellId(const std::string& name);

    std::unique_ptr<Connection> db_;
    std::string location_;
    std::string migrated_;
};

}  // namespace archive
