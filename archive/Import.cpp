// A log into the archive: made ready outside the transaction (texts, times,
// values, the file packed), then merged into its logger's series whole or
// not at all.

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "archive/Merge.h"
#include "archive/SampleBlock.h"
#include "archive/Store.h"
#include "datafile/DataFileReader.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"

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
    int clockOffset = 0;  // minutes: the logger's time is UTC + offset
    int64_t interval = 0;
    bool fixedInterval = true;
    int64_t firstTime = 0, lastTime = 0;
    std::vector<ChannelSamples> channels;
    int64_t hash = 0;
    std::vector<uint8_t> packedText;
};

namespace {

int64_t Fnv1a(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return static_cast<int64_t>(hash);
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
    out.startTime = log.startTime().count();
    out.interval = log.sampleInterval().count();
    out.fixedInterval = !header.isStepMode();
    const std::vector<SampleTime> times = SampleTimes(log);
    std::vector<int64_t> tenths(times.size());
    std::transform(times.begin(), times.end(), tenths.begin(),
                   [](const SampleTime& time) { return TenthsOf(time).count(); });
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

// A location text not seen before names a well of its own (or the well the
// user gave that name); one the archive knows stays with its well, also
// when the user made that well one with another.
void WellNamed(Connection& db, const std::string& location) {
    auto known = db.Prepare("SELECT well_id FROM well_names WHERE name = ?1");
    known->Bind(1, location);
    if (known->Step() || db.Failed()) {
        return;
    }
    known.reset();
    const int64_t well =
        EnsureRow(db, "SELECT id FROM wells WHERE name = ?1",
                  "INSERT INTO wells (name) VALUES (?1) ON CONFLICT DO NOTHING", {location}, 1);
    EnsureRow(db, "SELECT well_id FROM well_names WHERE name = ?1",
              "INSERT INTO well_names (name, well_id) VALUES (?1, ?2) ON CONFLICT DO NOTHING",
              {location, well}, 1);
}

// The download that holds this very file already.
std::optional<int64_t> SameFile(Connection& db, const PreparedLog& log) {
    auto same =
        db.Prepare("SELECT id, file_text FROM downloads WHERE file_hash = ?1 AND file_size = ?2");
    same->Bind(1, log.hash);
    same->Bind(2, static_cast<int64_t>(log.fileText.size()));
    while (same->Step()) {
        const std::optional<std::string> text =
            Unpack(same->Blob(1), static_cast<int64_t>(log.fileText.size()));
        if (text && *text == log.fileText) {
            return same->Int(0);
        }
    }
    return std::nullopt;
}

// The rows a log's samples hang from, found or made: its recording and a
// series for each channel, the series locked.
struct LogRows {
    int64_t recording = 0;
    std::vector<int64_t> series;  // one per channel
};

LogRows EnsureRows(Connection& db, const PreparedLog& log) {
    const int64_t logger = EnsureRow(
        db, "SELECT id FROM loggers WHERE serial = ?1",
        "INSERT INTO loggers (serial, instrument_number) VALUES (?1, ?2) ON CONFLICT DO NOTHING",
        {log.serial, log.instrumentNumber}, 1);
    WellNamed(db, log.location);
    LogRows rows;
    rows.recording = EnsureRow(
        db, "SELECT id FROM recordings WHERE logger_id = ?1 AND location = ?2 AND start_time = ?3",
        "INSERT INTO recordings (logger_id, location, start_time, sample_rate, sample_mode,"
        " interval_tenths, fixed_interval, headers, clock_offset)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT DO NOTHING",
        {logger, log.location, log.startTime, log.sampleRate, log.sampleMode, log.interval,
         int64_t{log.fixedInterval}, log.headers, int64_t{log.clockOffset}},
        3);
    for (const ChannelSamples& channel : log.channels) {
        rows.series.push_back(EnsureRow(
            db,
            "SELECT id FROM series WHERE logger_id = ?1 AND channel = ?2 AND identification = ?3"
            " AND unit = ?4",
            "INSERT INTO series (logger_id, channel, identification, unit)"
            " VALUES (?1, ?2, ?3, ?4) ON CONFLICT DO NOTHING",
            {logger, int64_t{channel.number}, channel.identification, channel.unit}, 4));
    }
    // Importers of one series take turns, always locking in the same order.
    std::vector<int64_t> lockOrder = rows.series;
    std::sort(lockOrder.begin(), lockOrder.end());
    for (const int64_t series : lockOrder) {
        db.LockSeries(series);
    }
    return rows;
}

// Each channel merged with what its series holds: the samples new to it,
// and the conflicts with the ones it keeps.
struct Merges {
    struct Conflict {
        int64_t series;
        MergeConflict at;
    };
    std::vector<std::vector<PackedSample>> fresh;  // one per channel
    std::vector<Conflict> conflicts;
};

Merges MergeChannels(Connection& db, const PreparedLog& log, const std::vector<int64_t>& series,
                     Imported& result) {
    Merges out;
    out.fresh.resize(log.channels.size());
    for (std::size_t c = 0; c < log.channels.size(); ++c) {
        const ChannelSamples& channel = log.channels[c];
        if (channel.samples.empty()) {
            continue;
        }
        std::vector<StoredSample> held;
        HeldSamples(db, series[c], channel.samples.front().time, channel.samples.back().time, held);
        Merged merged = Merge(held, channel.samples, channel.decimals);
        out.fresh[c] = std::move(merged.fresh);
        result.newSamples += static_cast<int64_t>(out.fresh[c].size());
        result.duplicates += merged.repeated;
        for (const MergeConflict& conflict : merged.conflicts) {
            out.conflicts.push_back({series[c], conflict});
        }
    }
    result.conflicts = static_cast<int64_t>(out.conflicts.size());
    return out;
}

// The download's row, with what its import counted; its id.
int64_t InsertDownload(Connection& db, const PreparedLog& log, int64_t recording,
                       const Imported& result) {
    auto download = db.Prepare(
        "INSERT INTO downloads (recording_id, imported_at, source, file_name, file_hash,"
        " file_size, file_text, first_time, last_time, new_samples, duplicates, conflicts)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) RETURNING id");
    BindAll(*download, {recording, static_cast<int64_t>(std::time(nullptr)), log.source,
                        log.fileName, log.hash, static_cast<int64_t>(log.fileText.size())});
    download->BindBlob(7, log.packedText);
    download->Bind(8, log.firstTime);
    download->Bind(9, log.lastTime);
    download->Bind(10, result.newSamples);
    download->Bind(11, result.duplicates);
    download->Bind(12, result.conflicts);
    return download->Step() ? download->Int(0) : 0;
}

// The new samples in blocks, and the conflicts, as the download's.
void InsertMerges(Connection& db, const PreparedLog& log, const std::vector<int64_t>& series,
                  const Merges& merges, int64_t downloadId) {
    for (std::size_t c = 0; c < log.channels.size(); ++c) {
        const std::vector<PackedSample>& samples = merges.fresh[c];
        for (std::size_t at = 0; at < samples.size(); at += kBlockSamples) {
            const std::span<const PackedSample> block(
                samples.data() + at, std::min<std::size_t>(kBlockSamples, samples.size() - at));
            auto insert = db.Prepare(
                "INSERT INTO sample_blocks (series_id, first_time, last_time, sample_count,"
                " decimals, download_id, samples) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
            BindAll(*insert, {series[c], block.front().time, block.back().time,
                              static_cast<int64_t>(block.size()), int64_t{log.channels[c].decimals},
                              downloadId});
            insert->BindBlob(7, PackSamples(block));
            insert->Step();
        }
    }
    for (const Merges::Conflict& conflict : merges.conflicts) {
        auto insert = db.Prepare(
            "INSERT INTO conflicts (series_id, time, kept_value, kept_download_id, other_value,"
            " other_download_id) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        const MergeConflict& at = conflict.at;
        BindAll(*insert, {conflict.series, at.time, DecimalText(at.kept),
                          at.keptDownload != 0 ? at.keptDownload : downloadId,
                          DecimalText(at.other), downloadId});
        insert->Step();
    }
}

}  // namespace

Result<Imported> Archive::ImportFile(const std::string& path, const std::string& source,
                                     const ImportOptions& options) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return Failure{Fault::Refused, std::filesystem::exists(path, error) ? "not a regular file"
                                                                            : "no such file"};
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return Failure{Fault::Refused, "cannot be read"};
    }
    const ReadResult read = ReadDataText(text);
    if (!read.ok()) {
        return Failure{Fault::Refused, read.Message()};
    }
    return Import(text, read.log, source, std::filesystem::path(path).filename().string(), options);
}

Result<Imported> Archive::Import(std::string_view fileText, const DeviceLog& log,
                                 const std::string& source, const std::string& fileName,
                                 const ImportOptions& options) {
    PreparedLog prepared;
    if (std::string why = PrepareLog(fileText, log, prepared); !why.empty()) {
        return Failure{Fault::Refused, std::move(why)};
    }
    prepared.source = Field(source);
    prepared.fileName = Field(fileName);
    prepared.hash = Fnv1a(fileText);
    prepared.packedText = Pack(fileText);
    prepared.clockOffset = options.clockOffset;
    if (prepared.packedText.empty()) {
        return Failure{Fault::Other, "no memory to pack the file"};
    }
    // The server may give this transaction up for another's: once more then.
    for (int attempt = 1;; ++attempt) {
        Result<Imported> result = ImportOnce(prepared);
        if (result || result.failure().kind != Fault::Retry || attempt == 3) {
            return result;
        }
    }
}

Result<Imported> Archive::ImportOnce(const PreparedLog& log) {
    Connection& db = *db_;
    Imported result;
    db.Begin();
    db.LockText(log.hash);
    // The same file again: nothing to add.
    if (const std::optional<int64_t> download = SameFile(db, log)) {
        result.alreadyImported = true;
        result.downloadId = *download;
        db.Rollback();
        return result;
    }
    result.serial = log.serial;
    const LogRows rows = EnsureRows(db, log);
    const Merges merges = MergeChannels(db, log, rows.series, result);
    result.downloadId = InsertDownload(db, log, rows.recording, result);
    InsertMerges(db, log, rows.series, merges, result.downloadId);
    db.Commit();
    if (db.Failed()) {
        db.Rollback();
    }
    return Done(std::move(result));
}

}  // namespace archive
