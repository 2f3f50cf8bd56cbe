#include "archive/Archive.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <span>
#include <variant>

#include "archive/Location.h"
#include "archive/SampleBlock.h"
#include "archive/Schema.h"
#include "datafile/DataFileReader.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"
#include "platform/System.h"

namespace archive {

// One channel of a log as it is merged: its samples in time order.
struct ChannelSamples {
    int number = 0;  // 1 = first
    std::string identification, unit;
    int decimals = 0;
    std::vector<PackedSample> samples;
};

// A log made ready outside the transaction: texts, times and values as they
// are kept, and the data file packed.
struct PreparedLog {
    std::string_view fileText;
    std::string source, fileName;
    std::string serial, instrumentNumber, location, sampleRate, sampleMode, headers;
    int64_t startTime = 0;
    int64_t interval = 0;
    bool fixedInterval = true;
    int64_t firstTime = 0, lastTime = 0;
    std::vector<ChannelSamples> channels;
    int64_t hash = 0;
    std::vector<uint8_t> packedText;
};

namespace {

// A logger at a location: the times its downloads held, and the rule of its gaps.
struct Deployment {
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

void BindAll(Statement& statement, const std::vector<Value>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        if (const auto* number = std::get_if<int64_t>(&values[i])) {
            statement.Bind(index, *number);
        } else {
            statement.Bind(index, std::get<std::string>(values[i]));
        }
    }
}

// A text field of the log as the archive keeps it: trailing blanks dropped,
// and valid UTF-8 (the reader's bytes taken as Latin-1), as a server's text
// columns require.
std::string Field(std::string_view bytes) {
    while (!bytes.empty() && bytes.back() == ' ') {
        bytes.remove_suffix(1);
    }
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xc0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3f));
        }
    }
    return text;
}

int64_t Fnv1a(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return static_cast<int64_t>(hash);
}

// The data file deflated: fast rather than smallest, as it is done for every log.
std::vector<uint8_t> Pack(std::string_view text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<uint8_t> packed(size);
    if (compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(text.data()),
                  static_cast<uLong>(text.size()), 1) != Z_OK) {
        return {};
    }
    packed.resize(size);
    return packed;
}

std::optional<std::string> Unpack(const std::vector<uint8_t>& packed, int64_t size) {
    if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<uLong>::max()) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    uLongf length = static_cast<uLongf>(size);
    // A zero-length buffer must still be a valid pointer.
    Bytef none = 0;
    if (uncompress(text.empty() ? &none : reinterpret_cast<Bytef*>(text.data()), &length,
                   packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
        length != static_cast<uLongf>(size)) {
        return std::nullopt;
    }
    return text;
}

// The file's instrument and channel sections: from "[Instrument info]" up
// to the "[Data]" line.
std::string HeaderSections(std::string_view text) {
    const std::size_t begin = text.find("\r\n[Instrument info]");
    const std::size_t end = text.find("\r\n[Data]");
    if (begin == std::string_view::npos || end == std::string_view::npos || end < begin) {
        return {};
    }
    return Field(text.substr(begin + 2, end - begin));
}

// Why the log cannot be kept, or empty.
std::string PrepareLog(std::string_view fileText, const DeviceLog& log, PreparedLog& out) {
    const LogHeader& header = log.header();
    out.fileText = fileText;
    out.serial = Field(FieldText(header.serialNumber));
    out.instrumentNumber = Field(FieldText(header.instrumentNumber));
    out.location = Field(FieldText(header.location));
    out.sampleRate = Field(FieldText(header.sampleRate));
    out.sampleMode = Field(FieldText(header.sampleMode));
    out.headers = HeaderSections(fileText);
    out.startTime = log.startSeconds() * 10;
    out.interval = log.sampleIntervalTenths();
    out.fixedInterval = !header.isStepMode();
    const std::vector<SampleTime> times = SampleTimes(log);
    std::vector<int64_t> tenths(times.size());
    std::transform(times.begin(), times.end(), tenths.begin(),
                   [](const SampleTime& t) { return t.seconds * 10 + t.tenths; });
    out.firstTime =
        tenths.empty() ? out.startTime : *std::min_element(tenths.begin(), tenths.end());
    out.lastTime = tenths.empty() ? out.startTime : *std::max_element(tenths.begin(), tenths.end());
    // What the file holds: its channelCount columns, each as long as the
    // channel is (a shorter one was written with -100 after its end).
    const int held = std::min(log.channelCount(), log.channels().count());
    for (int j = 0; j < held; ++j) {
        const LogChannel& channel = *log.channel(j);
        const std::size_t count =
            std::min(static_cast<std::size_t>(channel.sampleCount()), tenths.size());
        if (count == 0) {
            continue;
        }
        ChannelSamples samples;
        samples.number = j + 1;
        samples.identification =
            Field(ChannelIdentification(channel.header(), header.instrumentType));
        samples.unit = Field(FieldText(channel.header().rangeUnit));
        samples.decimals = channel.header().rangeDecimals;
        samples.samples.reserve(count);
        for (std::size_t k = 0; k < count; ++k) {
            const std::optional<Decimal> value = DecimalOf(channel.values()[k], samples.decimals);
            if (!value) {
                return "the value of channel " + std::to_string(j + 1) + " at " +
                       SampleTimeText(times[k]) +
                       " cannot be kept: not a number, or more than 17 digits";
            }
            samples.samples.push_back({tenths[k], value->mantissa});
        }
        std::stable_sort(
            samples.samples.begin(), samples.samples.end(),
            [](const PackedSample& a, const PackedSample& b) { return a.time < b.time; });
        out.channels.push_back(std::move(samples));
    }
    return {};
}

std::string Words(const DbError& error, const std::string& chosen) {
    const std::string location = Shown(chosen);
    switch (error.fault) {
        case Fault::Busy:
            return "the archive " + location + " is in use by another program and was not free" +
                   " within " + std::to_string(kBusyTimeoutMs / 1000) + " s";
        case Fault::ReadOnly:
            return "the archive " + location + " may not be written: " + error.message;
        case Fault::Full:
            return "no room left for the archive " + location + ": " + error.message;
        case Fault::Unreachable:
            return "cannot open the archive " + location + ": " + error.message;
        case Fault::Lost:
            return "the connection to the archive " + location + " was lost: " + error.message;
        default:
            return "the archive " + location + " failed: " + error.message;
    }
}

// The id of the row the select finds with the first keys values, inserted
// with all the values when there is none. A row another importer inserts
// meanwhile is taken as found.
int64_t EnsureRow(Connection& db, std::string_view select, std::string_view insert,
                  const std::vector<Value>& values, std::size_t keys) {
    const std::vector<Value> keyValues(values.begin(), values.begin() + keys);
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto found = db.Prepare(select);
        BindAll(*found, keyValues);
        if (found->Step()) {
            return found->Int(0);
        }
        if (attempt == 0) {
            auto add = db.Prepare(insert);
            BindAll(*add, values);
            add->Step();
        }
    }
    db.Fail(Fault::Other, "a row just inserted cannot be found");
    return 0;
}

// The samples of a series within [from, to], in time order.
bool HeldSamples(Connection& db, int64_t seriesId, int64_t from, int64_t to,
                 std::vector<StoredSample>& out) {
    auto blocks = db.Prepare(
        "SELECT first_time, sample_count, decimals, download_id, samples FROM sample_blocks"
        " WHERE series_id = ?1 AND first_time <= ?3 AND last_time >= ?2 ORDER BY first_time");
    BindAll(*blocks, {seriesId, from, to});
    std::vector<PackedSample> samples;
    bool interleaved = false;
    while (blocks->Step()) {
        samples.clear();
        if (!UnpackSamples(blocks->Blob(4), blocks->Int(0), blocks->Int(1), samples)) {
            db.Fail(Fault::Other,
                    "a block of samples of series " + std::to_string(seriesId) + " is damaged");
            return false;
        }
        const int decimals = static_cast<int>(blocks->Int(2));
        const int64_t download = blocks->Int(3);
        // A later download may have filled a hole inside an earlier block.
        interleaved = interleaved ||
                      (!out.empty() && !samples.empty() && samples.front().time < out.back().time);
        for (const PackedSample& s : samples) {
            if (s.time >= from && s.time <= to) {
                out.push_back({s.time, {s.mantissa, decimals}, download});
            }
        }
    }
    if (interleaved) {
        std::sort(out.begin(), out.end(),
                  [](const StoredSample& a, const StoredSample& b) { return a.time < b.time; });
    }
    return !db.Failed();
}

// A statement's ?1 that is a logger's id, or 0 for every logger.
constexpr std::string_view kOfLogger = "(CAST(?1 AS BIGINT) = 0 OR s.logger_id = ?1)";

// The series of a logger (0: of every logger), in serial and channel order,
// with the logger of each.
bool SeriesOf(Connection& db, int64_t loggerId, std::vector<std::pair<int64_t, SeriesName>>& out) {
    auto series = db.Prepare(
        "SELECT s.id, l.serial, s.channel, s.identification, s.unit, s.logger_id FROM series s"
        " JOIN loggers l ON s.logger_id = l.id WHERE " +
        std::string(kOfLogger) + " ORDER BY l.serial, s.channel, s.id");
    series->Bind(1, loggerId);
    while (series->Step()) {
        out.push_back({series->Int(5),
                       {series->Int(0), series->Text(1), static_cast<int>(series->Int(2)),
                        series->Text(3), series->Text(4)}});
    }
    return !db.Failed();
}

// The deployments of a logger (0: of every logger), by logger, each
// logger's in the order they began.
bool DeploymentsOf(Connection& db, int64_t loggerId, std::vector<Deployment>& out) {
    auto deployments = db.Prepare(
        "SELECT p.logger_id, p.location, p.start_time, min(d.first_time), max(d.last_time),"
        " p.interval_tenths, p.fixed_interval, max(d.imported_at)"
        " FROM deployments p JOIN downloads d ON d.deployment_id = p.id"
        " WHERE CAST(?1 AS BIGINT) = 0 OR p.logger_id = ?1"
        " GROUP BY p.id, p.logger_id, p.location, p.start_time, p.interval_tenths,"
        " p.fixed_interval ORDER BY p.logger_id, 4, p.id");
    deployments->Bind(1, loggerId);
    while (deployments->Step()) {
        out.push_back({deployments->Int(0), deployments->Text(1), deployments->Int(2),
                       deployments->Int(3), deployments->Int(4), deployments->Int(5),
                       deployments->Int(6) != 0, deployments->Int(7)});
    }
    return !db.Failed();
}

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

}  // namespace

std::string DefaultLocation() {
    const std::string folder = platform::UserDataFolder();
    if (folder.empty()) {
        return {};
    }
    return (std::filesystem::path(folder) / "Arvelo" / "archive.sqlite").string();
}

namespace {

bool IsDataFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".omb" || extension == ".csv";
}

}  // namespace

std::vector<std::string> DataFilesUnder(const std::vector<std::string>& paths) {
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!std::filesystem::is_directory(path, error)) {
            files.push_back(path);
            continue;
        }
        std::vector<std::string> found;
        for (auto it = std::filesystem::recursive_directory_iterator(path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file(error) && IsDataFile(it->path())) {
                found.push_back(it->path().string());
            }
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

Archive::Archive(std::unique_ptr<Connection> db, std::string location)
    : db_(std::move(db)), location_(std::move(location)) {}

Archive::~Archive() = default;

std::unique_ptr<Archive> Archive::Open(const std::string& chosen, std::string* error, OpenMode mode,
                                       bool* missing) {
    const Location read = ReadLocation(chosen);
    if (read.kind == Location::Kind::Refused) {
        *error = "cannot open the archive " + Shown(chosen) + ": " + read.why;
        return nullptr;
    }
    const std::string location = read.text.empty() ? DefaultLocation() : read.text;
    if (location.empty()) {
        *error = "the system names no data folder for the archive: choose its location";
        return nullptr;
    }
    const auto none = [&] {
        *error = "there is no archive at " + Shown(location) +
                 " yet: it is made when the first log is saved";
        if (missing != nullptr) {
            *missing = true;
        }
        return nullptr;
    };
    std::unique_ptr<Connection> db;
    if (read.kind == Location::Kind::Server) {
        db = OpenPostgres(location, kConnectTimeoutSeconds);
    } else {
        std::error_code ignored;
        if (mode == OpenMode::Existing && !std::filesystem::exists(location, ignored)) {
            return none();
        }
        // The default place's folder may not be there yet; another is the user's to make.
        if (read.text.empty()) {
            std::filesystem::create_directories(std::filesystem::path(location).parent_path(),
                                                ignored);
        }
        db = OpenSqlite(location, kBusyTimeoutMs);
    }
    if (db->Failed()) {
        *error = Words(db->Error(), location);
        return nullptr;
    }
    if (mode == OpenMode::Existing && SchemaVersion(*db) == 0 && !db->Failed()) {
        return none();  // an empty database
    }
    if (const std::string why = PrepareSchema(*db); !why.empty()) {
        *error = db->Failed() ? Words(db->Error(), location)
                              : "the archive " + Shown(location) + " cannot be used: " + why;
        return nullptr;
    }
    return std::make_unique<Archive>(std::move(db), location);
}

ImportResult Archive::ImportFile(const std::string& path, const std::string& source) {
    ImportResult result;
    result.refused = true;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        result.error = std::filesystem::exists(path, error) ? "not a regular file" : "no such file";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = "cannot be read";
        return result;
    }
    const ReadResult read = ReadDataText(text);
    if (!read.ok()) {
        result.error = read.Message();
        return result;
    }
    return Import(text, read.log, source, std::filesystem::path(path).filename().string());
}

ImportResult Archive::Import(std::string_view fileText, const DeviceLog& log,
                             const std::string& source, const std::string& fileName) {
    PreparedLog prepared;
    if (std::string why = PrepareLog(fileText, log, prepared); !why.empty()) {
        ImportResult refused;
        refused.error = std::move(why);
        refused.refused = true;
        return refused;
    }
    prepared.source = Field(source);
    prepared.fileName = Field(fileName);
    prepared.hash = Fnv1a(fileText);
    prepared.packedText = Pack(fileText);
    if (prepared.packedText.empty()) {
        ImportResult failed;
        failed.error = "no memory to pack the file";
        return failed;
    }
    // The server may give this transaction up for another's: once more then.
    ImportResult result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = ImportOnce(prepared);
        if (result.ok() || db_->Error().fault != Fault::Retry) {
            break;
        }
    }
    return result;
}

ImportResult Archive::ImportOnce(const PreparedLog& log) {
    Connection& db = *db_;
    ImportResult result;
    db.Begin();
    // The same file again: nothing to add.
    auto same =
        db.Prepare("SELECT id, file_text FROM downloads WHERE file_hash = ?1 AND file_size = ?2");
    same->Bind(1, log.hash);
    same->Bind(2, static_cast<int64_t>(log.fileText.size()));
    while (!result.alreadyImported && same->Step()) {
        const std::optional<std::string> text =
            Unpack(same->Blob(1), static_cast<int64_t>(log.fileText.size()));
        if (text && *text == log.fileText) {
            result.alreadyImported = true;
            result.downloadId = same->Int(0);
        }
    }
    same.reset();
    if (result.alreadyImported) {
        db.Rollback();
        return result;
    }

    result.serial = log.serial;
    const int64_t logger = EnsureRow(
        db, "SELECT id FROM loggers WHERE serial = ?1",
        "INSERT INTO loggers (serial, instrument_number) VALUES (?1, ?2) ON CONFLICT DO NOTHING",
        {log.serial, log.instrumentNumber}, 1);
    const int64_t deployment = EnsureRow(
        db, "SELECT id FROM deployments WHERE logger_id = ?1 AND location = ?2 AND start_time = ?3",
        "INSERT INTO deployments (logger_id, location, start_time, sample_rate, sample_mode,"
        " interval_tenths, fixed_interval, headers) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"
        " ON CONFLICT DO NOTHING",
        {logger, log.location, log.startTime, log.sampleRate, log.sampleMode, log.interval,
         int64_t{log.fixedInterval}, log.headers},
        3);
    const std::vector<ChannelSamples>& channels = log.channels;
    std::vector<int64_t> seriesIds;
    for (const ChannelSamples& channel : channels) {
        seriesIds.push_back(EnsureRow(
            db,
            "SELECT id FROM series WHERE logger_id = ?1 AND channel = ?2 AND identification = ?3"
            " AND unit = ?4",
            "INSERT INTO series (logger_id, channel, identification, unit)"
            " VALUES (?1, ?2, ?3, ?4) ON CONFLICT DO NOTHING",
            {logger, int64_t{channel.number}, channel.identification, channel.unit}, 4));
    }
    // Importers of one series take turns, always locking in the same order.
    std::vector<int64_t> lockOrder = seriesIds;
    std::sort(lockOrder.begin(), lockOrder.end());
    for (const int64_t series : lockOrder) {
        db.LockSeries(series);
    }

    struct Conflict {
        int64_t series, time;
        Decimal kept;
        int64_t keptDownload;  // 0: the download being imported
        Decimal other;
    };
    std::vector<Conflict> conflicts;
    std::vector<std::vector<PackedSample>> fresh(channels.size());
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const ChannelSamples& channel = channels[c];
        if (channel.samples.empty()) {
            continue;
        }
        std::vector<StoredSample> held;
        HeldSamples(db, seriesIds[c], channel.samples.front().time, channel.samples.back().time,
                    held);
        std::size_t h = 0;
        for (const PackedSample& sample : channel.samples) {
            const Decimal value{sample.mantissa, channel.decimals};
            while (h < held.size() && held[h].time < sample.time) {
                ++h;
            }
            std::optional<StoredSample> kept;
            if (h < held.size() && held[h].time == sample.time) {
                kept = held[h];
            } else if (!fresh[c].empty() && fresh[c].back().time == sample.time) {
                kept = StoredSample{sample.time, {fresh[c].back().mantissa, channel.decimals}, 0};
            }
            if (!kept) {
                fresh[c].push_back(sample);
                ++result.newSamples;
            } else if (SameNumber(kept->value, value)) {
                ++result.duplicates;
            } else {
                conflicts.push_back(
                    {seriesIds[c], sample.time, kept->value, kept->download, value});
            }
        }
    }
    result.conflicts = static_cast<int64_t>(conflicts.size());

    auto download = db.Prepare(
        "INSERT INTO downloads (deployment_id, imported_at, source, file_name, file_hash,"
        " file_size, file_text, first_time, last_time, new_samples, duplicates, conflicts)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) RETURNING id");
    BindAll(*download, {deployment, static_cast<int64_t>(std::time(nullptr)), log.source,
                        log.fileName, log.hash, static_cast<int64_t>(log.fileText.size())});
    download->BindBlob(7, log.packedText);
    download->Bind(8, log.firstTime);
    download->Bind(9, log.lastTime);
    download->Bind(10, result.newSamples);
    download->Bind(11, result.duplicates);
    download->Bind(12, result.conflicts);
    result.downloadId = download->Step() ? download->Int(0) : 0;
    download.reset();

    for (std::size_t c = 0; c < channels.size(); ++c) {
        const std::vector<PackedSample>& samples = fresh[c];
        for (std::size_t at = 0; at < samples.size(); at += kBlockSamples) {
            const std::span<const PackedSample> block(
                samples.data() + at, std::min<std::size_t>(kBlockSamples, samples.size() - at));
            auto insert = db.Prepare(
                "INSERT INTO sample_blocks (series_id, first_time, last_time, sample_count,"
                " decimals, download_id, samples) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
            BindAll(*insert, {seriesIds[c], block.front().time, block.back().time,
                              static_cast<int64_t>(block.size()), int64_t{channels[c].decimals},
                              result.downloadId});
            insert->BindBlob(7, PackSamples(block));
            insert->Step();
        }
    }
    for (const Conflict& conflict : conflicts) {
        auto insert = db.Prepare(
            "INSERT INTO conflicts (series_id, time, kept_value, kept_download_id, other_value,"
            " other_download_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        BindAll(*insert, {conflict.series, conflict.time, DecimalText(conflict.kept),
                          conflict.keptDownload != 0 ? conflict.keptDownload : result.downloadId,
                          DecimalText(conflict.other), result.downloadId});
        insert->Step();
    }
    db.Commit();
    if (db.Failed()) {
        db.Rollback();
        ImportResult failed;
        failed.error = Words(db.Error(), location_);
        return failed;
    }
    return result;
}

bool Archive::Done() {
    if (!db_->Failed()) {
        return true;
    }
    error_ = Words(db_->Error(), location_);
    db_->Clear();
    return false;
}

int64_t Archive::LoggerId(const std::string& serial) {
    auto logger = db_->Prepare("SELECT id FROM loggers WHERE serial = ?1");
    logger->Bind(1, serial);
    if (logger->Step()) {
        return logger->Int(0);
    }
    if (Done()) {
        error_ = "no logger " + serial + " in the archive";
    }
    return 0;
}

bool Archive::Loggers(std::vector<LoggerSummary>& out, const Progress& progress) {
    Connection& db = *db_;
    std::map<int64_t, std::size_t> loggerAt;  // by id: the index in out
    const std::size_t first = out.size();
    auto loggers = db.Prepare("SELECT id, serial, instrument_number FROM loggers ORDER BY serial");
    while (loggers->Step()) {
        loggerAt[loggers->Int(0)] = out.size();
        LoggerSummary& logger = out.emplace_back();
        logger.serial = loggers->Text(1);
        logger.instrumentNumber = loggers->Text(2);
    }
    loggers.reset();
    std::vector<Deployment> deployments;
    DeploymentsOf(db, 0, deployments);
    for (const Deployment& d : deployments) {
        LoggerSummary& logger = out[loggerAt[d.loggerId]];
        if (std::find(logger.locations.begin(), logger.locations.end(), d.location) ==
            logger.locations.end()) {
            logger.locations.push_back(d.location);
        }
        logger.location = d.location;  // the latest comes last
        logger.lastDownload = std::max(logger.lastDownload.value_or(d.lastImport), d.lastImport);
    }
    std::map<int64_t, SeriesSummary*> seriesAt;  // by id
    std::vector<std::pair<int64_t, SeriesName>> series;
    SeriesOf(db, 0, series);
    for (auto& [loggerId, name] : series) {
        out[loggerAt[loggerId]].series.push_back({std::move(name), {}});
    }
    for (std::size_t i = first; i < out.size(); ++i) {
        std::sort(out[i].locations.begin(), out[i].locations.end());
        for (SeriesSummary& s : out[i].series) {
            seriesAt[s.name.id] = &s;
        }
    }
    int64_t total = 0;
    auto held = db.Prepare(
        "SELECT series_id, sum(sample_count), min(first_time), max(last_time) FROM sample_blocks"
        " GROUP BY series_id");
    while (held->Step()) {
        if (const auto s = seriesAt.find(held->Int(0)); s != seriesAt.end()) {
            s->second->held.samples = held->Int(1);
            s->second->held.firstTime = held->Int(2);
            s->second->held.lastTime = held->Int(3);
            total += held->Int(1);
        }
    }
    held.reset();
    auto conflicts = db.Prepare("SELECT series_id, count(*) FROM conflicts GROUP BY series_id");
    while (conflicts->Step()) {
        if (const auto s = seriesAt.find(conflicts->Int(0)); s != seriesAt.end()) {
            s->second->held.conflicts = conflicts->Int(1);
        }
    }
    conflicts.reset();
    std::map<int64_t, int64_t> loggerOf;  // by series id
    for (const auto& [loggerId, index] : loggerAt) {
        for (const SeriesSummary& s : out[index].series) {
            loggerOf[s.name.id] = loggerId;
        }
    }
    std::vector<GapRow> gaps;
    if (!db.Failed()) {
        EachSeriesTimes(db, 0, total, progress, [&](int64_t id, const std::vector<int64_t>& times) {
            const auto s = seriesAt.find(id);
            if (s == seriesAt.end()) {
                return;
            }
            gaps.clear();
            GapsIn(s->second->name, times, OfLogger(deployments, loggerOf[id]), gaps);
            s->second->held.gaps = static_cast<int64_t>(gaps.size());
        });
    }
    for (std::size_t i = first; i < out.size(); ++i) {
        Holdings& logger = out[i].held;
        for (const SeriesSummary& s : out[i].series) {
            logger.samples += s.held.samples;
            logger.conflicts += s.held.conflicts;
            logger.gaps += s.held.gaps;
            if (s.held.firstTime) {
                logger.firstTime = std::min(logger.firstTime.value_or(kLatest), *s.held.firstTime);
                logger.lastTime = std::max(logger.lastTime.value_or(kEarliest), *s.held.lastTime);
            }
        }
    }
    return Done();
}

bool Archive::FindSeries(const std::string& serial, const std::string& channel, SeriesName& found) {
    const int64_t logger = LoggerId(serial);
    if (logger == 0) {
        return false;
    }
    std::vector<std::pair<int64_t, SeriesName>> series;
    SeriesOf(*db_, logger, series);
    if (!Done()) {
        return false;
    }
    std::vector<SeriesName> matches;
    const bool number =
        !channel.empty() && channel.find_first_not_of("0123456789") == std::string::npos;
    for (auto& [id, s] : series) {
        if (number ? std::to_string(s.channel) == channel : s.identification == channel) {
            matches.push_back(std::move(s));
        }
    }
    if (matches.size() == 1) {
        found = matches.front();
        return true;
    }
    if (matches.empty()) {
        error_ = "logger " + serial + " has no channel " + channel + " in the archive";
        return false;
    }
    error_ = "channel " + channel + " of logger " + serial + " names several series:";
    for (const SeriesName& s : matches) {
        error_ += " " + std::to_string(s.channel) + " " + s.identification + " [" + s.unit + "];";
    }
    error_ += " name it by its other part";
    return false;
}

bool Archive::Values(const SeriesName& series, std::optional<int64_t> from,
                     std::optional<int64_t> to, std::vector<StoredSample>& out) {
    HeldSamples(*db_, series.id, from.value_or(kEarliest), to.value_or(kLatest), out);
    return Done();
}

bool Archive::Samples(const SeriesName& series, std::optional<int64_t> from,
                      std::optional<int64_t> to, std::vector<Sample>& out) {
    std::vector<StoredSample> held;
    if (!Values(series, from, to, held)) {
        return false;
    }
    out.reserve(out.size() + held.size());
    for (const StoredSample& h : held) {
        out.push_back({h.time, DecimalText(h.value)});
    }
    return true;
}

bool Archive::Conflicts(std::vector<ConflictRow>& out, const std::optional<std::string>& serial) {
    const int64_t logger = serial ? LoggerId(*serial) : 0;
    if (serial && logger == 0) {
        return false;
    }
    auto conflicts = db_->Prepare(
        "SELECT s.id, l.serial, s.channel, s.identification, s.unit, c.time, c.kept_value,"
        " c.other_value, c.kept_download_id, c.other_download_id FROM conflicts c"
        " JOIN series s ON c.series_id = s.id JOIN loggers l ON s.logger_id = l.id WHERE " +
        std::string(kOfLogger) + " ORDER BY l.serial, s.channel, s.id, c.time, c.id");
    conflicts->Bind(1, logger);
    while (conflicts->Step()) {
        out.push_back({{conflicts->Int(0), conflicts->Text(1), static_cast<int>(conflicts->Int(2)),
                        conflicts->Text(3), conflicts->Text(4)},
                       conflicts->Int(5),
                       conflicts->Text(6),
                       conflicts->Text(7),
                       conflicts->Int(8),
                       conflicts->Int(9)});
    }
    return Done();
}

bool Archive::Gaps(std::vector<GapRow>& out, const std::optional<std::string>& serial) {
    const int64_t logger = serial ? LoggerId(*serial) : 0;
    if (serial && logger == 0) {
        return false;
    }
    GapsOf(*db_, logger, out);
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
    for (const GapRow& gap : gaps) {
        const std::vector<int64_t>& times = brought[gap.series.id];
        if (std::binary_search(times.begin(), times.end(), gap.lastBefore) ||
            std::binary_search(times.begin(), times.end(), gap.firstAfter)) {
            out.push_back(gap);
        }
    }
    return Done();
}

bool Archive::RecordingSamples(const DeviceLog& log, int64_t& samples) {
    // Each sample is in the block of the download that brought it first; a
    // channel renamed since is a series of its own, and the one that holds
    // most counts.
    auto count = db_->Prepare(
        "SELECT coalesce(max(n), 0) FROM (SELECT sum(b.sample_count) AS n FROM sample_blocks b"
        " JOIN series s ON s.id = b.series_id JOIN loggers l ON l.id = s.logger_id"
        " JOIN downloads d ON d.id = b.download_id"
        " JOIN deployments p ON p.id = d.deployment_id"
        " WHERE l.serial = ?1 AND p.start_time = ?2 AND s.channel = 1 GROUP BY s.id) AS held");
    count->Bind(1, Field(FieldText(log.header().serialNumber)));
    count->Bind(2, log.startSeconds() * 10);
    samples = count->Step() ? count->Int(0) : 0;
    count.reset();
    return Done();
}

bool Archive::Deployments(const std::string& serial, std::vector<DeploymentRow>& out) {
    const int64_t logger = LoggerId(serial);
    if (logger == 0) {
        return false;
    }
    std::vector<Deployment> deployments;
    DeploymentsOf(*db_, logger, deployments);
    for (const Deployment& d : deployments) {
        out.push_back({d.location, d.startTime, d.first, d.last});
    }
    return Done();
}

bool Archive::Downloads(std::vector<DownloadRow>& out) {
    auto downloads = db_->Prepare(
        "SELECT d.id, d.imported_at, d.source, d.file_name, l.serial, p.location, d.new_samples,"
        " d.duplicates, d.conflicts FROM downloads d"
        " JOIN deployments p ON d.deployment_id = p.id JOIN loggers l ON p.logger_id = l.id"
        " ORDER BY d.id");
    while (downloads->Step()) {
        out.push_back({downloads->Int(0), downloads->Int(1), downloads->Text(2), downloads->Text(3),
                       downloads->Text(4), downloads->Text(5), downloads->Int(6), downloads->Int(7),
                       downloads->Int(8)});
    }
    return Done();
}

std::optional<std::string> Archive::DownloadText(int64_t id) {
    auto download = db_->Prepare("SELECT file_text, file_size FROM downloads WHERE id = ?1");
    download->Bind(1, id);
    std::optional<std::string> text;
    if (download->Step()) {
        text = Unpack(download->Blob(0), download->Int(1));
        if (!text) {
            db_->Fail(Fault::Other, "the text of download " + std::to_string(id) + " is damaged");
        }
    } else if (!db_->Failed()) {
        error_ = "no download " + std::to_string(id) + " in the archive";
        return std::nullopt;
    }
    return Done() ? text : std::nullopt;
}

bool Archive::Facts(ArchiveFacts& out) {
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
    return Done();
}

}  // namespace archive
