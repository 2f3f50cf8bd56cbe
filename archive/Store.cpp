#include "archive/Store.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>

#include "archive/Location.h"
#include "archive/SampleBlock.h"

namespace archive {

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

std::optional<double> NumberOf(const std::string& text) {
    // Digits with a sign and a point, what a field sheet holds: no
    // exponent, no blanks. Read whatever the locale's decimal point.
    const std::size_t sign = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.find_first_of("0123456789") == std::string::npos ||
        text.find_first_not_of(".0123456789", sign) != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1) {
        return std::nullopt;
    }
    double value = 0;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    std::from_chars(first, text.data() + text.size(), value);
    return value;
}

std::string NotANumber(const std::string& what, const std::optional<std::string>& text,
                       double lowest, double highest) {
    if (!text) {
        return {};
    }
    const std::optional<double> number = NumberOf(*text);
    if (!number || *number < lowest || *number > highest) {
        return what + " is a number" +
               (lowest > -1e9 ? " from " + std::to_string(static_cast<int>(lowest)) + " to " +
                                    std::to_string(static_cast<int>(highest))
                              : std::string()) +
               ", not " + *text;
    }
    return {};
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

namespace {

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
        case Fault::Unknown:
            return "the connection to the archive " + location +
                   " was lost while the log was being committed (" + error.message +
                   "): it may or may not be in the archive; importing it again settles it (a log"
                   " already in is not added twice)";
        default:
            return "the archive " + location + " failed: " + error.message;
    }
}

}  // namespace

Failure FailureOf(const DbError& error, const std::string& chosen) {
    return {error.fault, Words(error, chosen)};
}

namespace {

// Each series' blocks gathered, then handed on in time order: read(blocks,
// into) adds a block's items, false when the block is damaged.
template <class Item, class Read>
bool Gathered(Connection& db, Statement& blocks, Read read,
              const std::function<bool(int64_t, std::vector<Item>&)>& each) {
    std::vector<Item> series;
    int64_t id = 0;
    bool interleaved = false;
    const auto finish = [&] {
        if (interleaved) {
            std::sort(series.begin(), series.end(),
                      [](const Item& a, const Item& b) { return TimeOf(a) < TimeOf(b); });
        }
        const bool go = series.empty() || each(id, series);
        series.clear();
        interleaved = false;
        return go;
    };
    while (blocks.Step()) {
        if (blocks.Int(0) != id && (!finish() || db.Failed())) {
            return false;
        }
        id = blocks.Int(0);
        const std::size_t before = series.size();
        if (!read(blocks, series)) {
            db.Fail(Fault::Other,
                    "a block of samples of series " + std::to_string(id) + " is damaged");
            return false;
        }
        // A later download may have filled a hole inside an earlier block.
        interleaved = interleaved || (before > 0 && series.size() > before &&
                                      TimeOf(series[before]) < TimeOf(series[before - 1]));
    }
    return !db.Failed() && finish();
}

}  // namespace

bool EachSeries(Connection& db, Statement& blocks, int64_t from, int64_t to,
                const std::function<bool(int64_t, std::vector<StoredSample>&)>& each) {
    std::vector<PackedSample> samples;
    const auto read = [&samples, from, to](Statement& block, std::vector<StoredSample>& into) {
        samples.clear();
        if (!UnpackSamples(block.Blob(5), block.Int(1), block.Int(2), samples)) {
            return false;
        }
        const int decimals = static_cast<int>(block.Int(3));
        const int64_t download = block.Int(4);
        for (const PackedSample& s : samples) {
            if (s.time >= from && s.time <= to) {
                into.push_back({s.time, {s.mantissa, decimals}, download});
            }
        }
        return true;
    };
    return Gathered(db, blocks, read, each);
}

bool EachSeriesTimes(Connection& db, Statement& blocks,
                     const std::function<bool(int64_t, std::vector<int64_t>&)>& each) {
    const auto read = [](Statement& block, std::vector<int64_t>& into) {
        return UnpackTimes(block.Blob(3), block.Int(1), block.Int(2), into);
    };
    return Gathered(db, blocks, read, each);
}

std::vector<int64_t> TimesOf(std::span<const StoredSample> samples) {
    std::vector<int64_t> times;
    times.reserve(samples.size());
    for (const StoredSample& s : samples) {
        times.push_back(s.time);
    }
    return times;
}

namespace {

// "-12.50" as the number it prints; none when it is not one.
std::optional<Decimal> DecimalFromText(std::string_view text) {
    Decimal value;
    const bool negative = text.starts_with('-');
    text.remove_prefix(negative ? 1 : 0);
    const std::size_t point = text.find('.');
    value.decimals =
        point == std::string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
    if (text.empty() || value.decimals > kMaxDecimals || text.size() > 19) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == point) {
            continue;
        }
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value.mantissa = value.mantissa * 10 + (text[i] - '0');
    }
    value.mantissa = negative ? -value.mantissa : value.mantissa;
    return value;
}

// The values the user chose at conflicts, in place of those first kept.
bool ApplyChoices(Connection& db, int64_t seriesId, int64_t from, int64_t to,
                  std::span<StoredSample> samples) {
    auto choices = db.Prepare(
        "SELECT time, kept_value, kept_download_id FROM resolutions WHERE series_id = ?1"
        " AND ended_at IS NULL AND time >= ?2 AND time <= ?3");
    BindAll(*choices, {seriesId, from, to});
    while (choices->Step()) {
        const int64_t time = choices->Int(0);
        const auto at = FirstFrom(samples, time);
        const std::optional<Decimal> value = DecimalFromText(choices->Text(1));
        if (!value) {
            db.Fail(Fault::Other, "a choice of series " + std::to_string(seriesId) +
                                      " holds no number: " + choices->Text(1));
            return false;
        }
        if (at != samples.end() && at->time == time) {
            at->value = *value;
            at->download = choices->Int(2);
        }
    }
    return !db.Failed();
}

}  // namespace

// The samples of a series within [from, to], in time order, as the user chose them.
bool HeldSamples(Connection& db, int64_t seriesId, int64_t from, int64_t to,
                 std::vector<StoredSample>& out) {
    auto blocks = db.Prepare(
        "SELECT series_id, first_time, sample_count, decimals, download_id, samples"
        " FROM sample_blocks WHERE series_id = ?1 AND first_time <= ?3 AND last_time >= ?2"
        " ORDER BY first_time");
    BindAll(*blocks, {seriesId, from, to});
    const std::size_t first = out.size();
    EachSeries(db, *blocks, from, to, [&](int64_t, std::vector<StoredSample>& samples) {
        if (out.empty()) {
            out = std::move(samples);  // years of samples are not copied
        } else {
            out.insert(out.end(), samples.begin(), samples.end());
        }
        return true;
    });
    return !db.Failed() && ApplyChoices(db, seriesId, from, to, std::span(out).subspan(first));
}

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

const SeriesName* SeriesNamed(const std::vector<std::pair<int64_t, SeriesName>>& series,
                              const std::string& channel) {
    for (const auto& [logger, name] : series) {
        if (channel.empty() ? level::PascalPer(name.unit).has_value()
                            : NamesChannel(name, channel)) {
            return &name;
        }
    }
    return nullptr;
}

bool NamesChannel(const SeriesName& series, const std::string& channel) {
    const bool number =
        !channel.empty() && channel.find_first_not_of("0123456789") == std::string::npos;
    return number ? std::to_string(series.channel) == channel : series.identification == channel;
}

// The deployments of a logger (0: of every logger), by logger, each
// logger's in the order they began.
bool RecordingsOf(Connection& db, int64_t loggerId, std::vector<Recording>& out) {
    auto deployments = db.Prepare(
        "SELECT p.logger_id, p.location, p.start_time, min(d.first_time), max(d.last_time),"
        " p.interval_tenths, p.fixed_interval, max(d.imported_at)"
        " FROM recordings p JOIN downloads d ON d.recording_id = p.id"
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

}  // namespace archive
