#pragma once
// The archive: every log ever downloaded or imported, merged into one record
// per logger channel (a series). Each sample (series, time, value) is kept
// once; a later log that repeats part of an earlier one adds only what is
// new; the same series and time with another value is a conflict: the first
// value stays, both values and both downloads are recorded. A log enters
// whole or not at all. Each download keeps its data file's text, so it can
// be given back byte for byte.
//
// Opened from a location: a PostgreSQL connection URI (postgresql://...)
// or else the path of an SQLite file. Both hold the same tables and behave
// the same.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Database.h"
#include "device/DeviceLog.h"

namespace archive {

// How long an SQLite writer waits for another program before giving up.
inline constexpr int kBusyTimeoutMs = 15000;
inline constexpr int kConnectTimeoutSeconds = 10;

// <data folder>/Arvelo/archive.sqlite; empty when the system names no data folder.
std::string DefaultLocation();
bool IsServerLocation(std::string_view location);

struct ImportResult {
    // Empty when the log is in the archive (now or already); else why not.
    std::string error;
    // The log itself cannot be kept (a file that cannot be read, a value too
    // large); false when the archive failed.
    bool refused = false;
    int64_t downloadId = 0;
    bool alreadyImported = false;  // the same file text was imported before, as downloadId
    int64_t newSamples = 0;
    int64_t duplicates = 0;
    int64_t conflicts = 0;

    bool ok() const { return error.empty(); }
};

struct LoggerSummary {
    std::string serial;
    std::string instrumentNumber;
    std::vector<std::string> locations;
    int channels = 0;
    std::optional<int64_t> firstTime, lastTime;  // tenths
    int64_t samples = 0;
    std::optional<int64_t> lastDownload;  // seconds since 1970 UTC
    int64_t conflicts = 0;
    int64_t gaps = 0;
};

struct SeriesName {
    int64_t id = 0;
    std::string serial;
    int channel = 0;  // 1 = first
    std::string identification;
    std::string unit;
};

struct Sample {
    int64_t time;       // tenths
    std::string value;  // as the data file prints it
};

struct ConflictRow {
    SeriesName series;
    int64_t time;
    std::string keptValue, otherValue;
    int64_t keptDownload, otherDownload;
};

struct GapRow {
    SeriesName series;
    int64_t lastBefore, firstAfter;  // the samples either side
    int64_t missing;                 // samples the interval asks for in between
};

struct DownloadRow {
    int64_t id;
    int64_t importedAt;  // seconds since 1970 UTC
    std::string source, fileName, serial, location;
    int64_t newSamples, duplicates, conflicts;
};

struct PreparedLog;
struct HeldSample;

class Archive {
  public:
    // Opens the archive at location (empty: the default), creating it or
    // bringing an older one up to date; none, and *error in words, when it
    // cannot be used.
    static std::unique_ptr<Archive> Open(const std::string& location, std::string* error);
    // An archive on a connection whose tables are ready; location names it in messages.
    Archive(std::unique_ptr<Connection> db, std::string location);

    // A log with its data file's text (what was saved, byte for byte), from
    // source: the port it was downloaded from or the file it was read from.
    ImportResult Import(std::string_view fileText, const DeviceLog& log, const std::string& source,
                        const std::string& fileName);
    // A saved data file, read with the data file reader.
    ImportResult ImportFile(const std::string& path, const std::string& source);

    // Queries: false, and Error() in words, when the archive failed.
    bool Loggers(std::vector<LoggerSummary>& out);
    // The series of a logger named by its channel number ("1") or identification.
    bool FindSeries(const std::string& serial, const std::string& channel, SeriesName& found);
    bool Samples(const SeriesName& series, std::optional<int64_t> from, std::optional<int64_t> to,
                 std::vector<Sample>& out);
    bool Conflicts(std::vector<ConflictRow>& out);
    bool Gaps(std::vector<GapRow>& out);
    bool Downloads(std::vector<DownloadRow>& out);
    // The data file's text of a download; none with Error() when it is not there.
    std::optional<std::string> DownloadText(int64_t id);

    const std::string& Error() const { return error_; }

    ~Archive();

  private:
    struct Deployment;
    ImportResult ImportOnce(const PreparedLog& log);
    // A query's end: false, with the failure in words, when the archive failed.
    bool Done();
    // The series of a logger, in channel order.
    bool SeriesOf(int64_t loggerId, std::vector<SeriesName>& out);
    // Each logger's id, in serial order.
    bool LoggerIds(std::vector<int64_t>& out);
    bool DeploymentsOf(int64_t loggerId, std::vector<Deployment>& out);
    bool GapsOf(const SeriesName& series, const std::vector<Deployment>& deployments,
                std::vector<GapRow>& out);
    // The series of a logger, and their gaps.
    bool LoggerGaps(int64_t loggerId, std::vector<SeriesName>& series, std::vector<GapRow>& out);
    // The samples of a series within [from, to], in time order.
    bool HeldSamples(int64_t seriesId, int64_t from, int64_t to, std::vector<HeldSample>& out);

    std::unique_ptr<Connection> db_;
    std::string location_;
    std::string error_;
};

}  // namespace archive
