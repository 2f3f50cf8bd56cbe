#include "tools/sim/ImageBuilder.h"

// Malformed input is reported through result values; nothing here may throw.
#define JSON_NOEXCEPTION
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string_view>

namespace sim {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kPageBytes = std::size_t{2} * kPageUnits;
constexpr std::size_t kInfoByte = std::size_t{2} * kInfoBlockOffset;
constexpr std::size_t kHeaderByte = std::size_t{2} * kHeaderBlockOffset;
// The chain stores pages in one byte, and 0xFF ends it.
constexpr unsigned kLastChainPage = 254;
constexpr long kFullScale = 30000;
constexpr long kMaxRaw = 249 + 250 * 249;
constexpr std::uint8_t kDefaultEndMarker = 0xFD;

// Information block offsets.
constexpr std::size_t kInfoChannels = 17;
constexpr std::size_t kInfoType = 102;
constexpr std::size_t kInfoName = 107;
constexpr std::size_t kInfoTag = 117;
// Characters of the serial number that carry the channel count.
constexpr std::size_t kSerialCountAt = 11;

struct TextField {
    const char* key;
    std::size_t width;
    const char* fallback;
};

// In the order they are laid out.
constexpr TextField kHeadFields[] = {
    {"location", 20, "MERVA"},
    {"serialNumber", 16, "..00-12767  1..."},
    {"instrumentNumber", 20, "12345"},
};
constexpr TextField kTailFields[] = {
    {"sampleRate", 13, "00 00:10:00 0"},
    {"sampleMode", 4, "T"},
    {"startTime", 17, "00:00:00 01/01/98"},
    {"endTime", 17, "00:30:00 01/01/98"},
};
constexpr std::size_t kMarkLength = 3;
constexpr std::size_t kHeadLength = 20 + 16 + 20;
constexpr std::size_t kModeInTail = 13;
// Two characters between the start and the end time that nothing reads.
constexpr std::size_t kUnusedAt = kModeInTail + 4 + 17;
constexpr TextField kChannelFields[] = {
    {"identification", 20, "LEVEL"}, {"reference", 10, "0.000"}, {"referenceUnit", 6, "M"},
    {"range", 10, "10.000"},         {"rangeUnit", 6, "M"},      {"masterLevel", 10, "0.000"},
    {"masterLevelUnit", 6, "M"},     {"altitude", 10, "0.000"},  {"altitudeUnit", 6, "M"},
};

// Reads one log object, recording the first problem met.
class LogReader {
  public:
    LogReader(const Json& log, std::size_t position)
        : log_(log), where_("log " + std::to_string(position) + ": ") {}

    bool Read(ImageBuilder::Log* out);
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const std::string& text) {
        if (error_.empty()) {
            error_ = where_ + text;
        }
        return false;
    }
    bool OnlyKeys(const Json& object, std::initializer_list<std::string_view> keys,
                  const std::string& what);
    bool Text(const Json& object, const TextField& field, std::string* out);
    bool Number(const Json& value, long low, long high, const std::string& what, long* out);
    bool TwoDigits(const char* key, int fallback, const char* format, std::string* out);
    bool Channels(std::string* records, std::vector<double>* references,
                  std::vector<double>* ranges);
    bool InfoBlock(int channels, Bytes* out);
    bool HeaderBlock(const std::string& records, int channels, Bytes* out);
    bool Records(const std::vector<double>& references, const std::vector<double>& ranges,
                 bool stepMode, Bytes* out);
    bool EncodedSample(const Json& value, double reference, double range, const std::string& what,
                       Bytes* out);

    const Json& log_;
    std::string where_;
    std::string error_;
};

bool LogReader::OnlyKeys(const Json& object, std::initializer_list<std::string_view> keys,
                         const std::string& what) {
    for (const auto& item : object.items()) {
        if (std::find(keys.begin(), keys.end(), item.key()) == keys.end()) {
            return Fail("unknown key \"" + item.key() + "\" in " + what);
        }
    }
    return true;
}

namespace {

// UTF-8 text as Latin-1 bytes, one per character; false for a character
// above U+00FF or for bytes that are not UTF-8.
bool Latin1(const std::string& utf8, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            *out += static_cast<char>(byte);
            continue;
        }
        if ((byte & 0xFE) != 0xC2 || i + 1 == utf8.size() ||
            (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) != 0x80) {
            return false;
        }
        *out += static_cast<char>(((byte & 0x03) << 6) | (utf8[++i] & 0x3F));
    }
    return true;
}

}  // namespace

bool LogReader::Text(const Json& object, const TextField& field, std::string* out) {
    const auto it = object.find(field.key);
    std::string text = field.fallback;
    if (it != object.end()) {
        if (!it->is_string()) {
            return Fail(std::string("\"") + field.key + "\" must be a text");
        }
        // A reader keeps its texts in Latin-1; JSON gives them in UTF-8.
        if (!Latin1(it->get<std::string>(), &text)) {
            return Fail(std::string("\"") + field.key +
                        "\" holds a character a reader cannot keep (only Latin-1 ones)");
        }
    }
    if (text.size() > field.width) {
        return Fail(std::string("\"") + field.key + "\" is longer than " +
                    std::to_string(field.width) + " characters");
    }
    text.resize(field.width, ' ');
    *out += text;
    return true;
}

bool LogReader::Number(const Json& value, long low, long high, const std::string& what, long* out) {
    if (!value.is_number_integer() || value.get<long>() < low || value.get<long>() > high) {
        return Fail(what + " must be a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high));
    }
    *out = value.get<long>();
    return true;
}

// A two-character count or code: a number printed with `format`, or the two
// characters as given (to make a log the program cannot read).
bool LogReader::TwoDigits(const char* key, int fallback, const char* format, std::string* out) {
    const auto it = log_.find(key);
    long value = fallback;
    if (it != log_.end() && it->is_string()) {
        return Text(log_, {key, 2, ""}, out);
    }
    if (it != log_.end() && !Number(*it, 0, 99, std::string("\"") + key + "\"", &value)) {
        return false;
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, format, static_cast<int>(value));
    *out += digits;
    return true;
}

bool LogReader::Channels(std::string* records, std::vector<double>* references,
                         std::vector<double>* ranges) {
    static const Json kOneDefaultChannel = Json::array({Json::object()});
    const auto it = log_.find("channels");
    const Json& channels = it != log_.end() ? *it : kOneDefaultChannel;
    // The counts are two digits wide.
    if (!channels.is_array() || channels.size() > 99) {
        return Fail("\"channels\" must be a list of at most 99 channels");
    }
    for (std::size_t j = 0; j < channels.size(); ++j) {
        const Json& channel = channels[j];
        const std::string what = "channel " + std::to_string(j + 1);
        if (!channel.is_object()) {
            return Fail(what + " must be an object");
        }
        if (!OnlyKeys(channel,
                      {"identification", "reference", "referenceUnit", "range", "rangeUnit",
                       "masterLevel", "masterLevelUnit", "altitude", "altitudeUnit"},
                      what)) {
            return false;
        }
        std::string record;
        for (const TextField& field : kChannelFields) {
            if (!Text(channel, field, &record)) {
                return false;
            }
        }
        // The reference (at 20) and range (at 36) texts, read the way the program reads them.
        references->push_back(std::strtod(record.substr(20, 10).c_str(), nullptr));
        ranges->push_back(std::strtod(record.substr(36, 10).c_str(), nullptr));
        *records += record;
    }
    return true;
}

bool LogReader::EncodedSample(const Json& value, double reference, double range,
                              const std::string& what, Bytes* out) {
    if (!value.is_number()) {
        return Fail(what + " must be a number");
    }
    if (range == 0.0) {
        return Fail(what + ": values cannot be encoded with a range of 0");
    }
    const double scaled = std::round((value.get<double>() - reference) / range * kFullScale);
    if (!(scaled >= 0 && scaled <= kMaxRaw)) {
        return Fail(what + " lies outside what the channel can hold (reference to reference + " +
                    std::to_string(static_cast<double>(kMaxRaw) / kFullScale) + " x range)");
    }
    const long raw = static_cast<long>(scaled);
    out->push_back(static_cast<std::uint8_t>(raw % 250));
    out->push_back(static_cast<std::uint8_t>(raw / 250));
    return true;
}

bool LogReader::Records(const std::vector<double>& references, const std::vector<double>& ranges,
                        bool stepMode, Bytes* out) {
    const std::size_t channels = references.size();
    const auto values = log_.find("values");
    const auto raw = log_.find("raw");
    if (values != log_.end() && raw != log_.end()) {
        return Fail("give either \"values\" or \"raw\", not both");
    }
    const bool encode = values != log_.end();
    const auto samples = encode ? values : raw;
    std::size_t count = 0;
    if (samples != log_.end()) {
        const char* key = encode ? "\"values\"" : "\"raw\"";
        if (!samples->is_array() || samples->size() != channels) {
            return Fail(std::string(key) + " must hold one list per channel (" +
                        std::to_string(channels) + ")");
        }
        for (const Json& list : *samples) {
            if (!list.is_array() || list.size() != (*samples)[0].size()) {
                return Fail(std::string(key) + " must hold lists of the same length");
            }
        }
        count = channels != 0 ? (*samples)[0].size() : 0;
    }
    const auto steps = log_.find("steps");
    if (steps != log_.end()) {
        if (!stepMode) {
            return Fail("\"steps\" belong to step modes (a sample mode starting with L)");
        }
        if (!steps->is_array()) {
            return Fail("\"steps\" must be a list");
        }
        if (channels == 0) {
            count = steps->size();
        } else if (steps->size() != count) {
            return Fail("\"steps\" must hold one step per record (" + std::to_string(count) + ")");
        }
    } else if (stepMode && count != 0) {
        return Fail("a log in a step mode needs \"steps\"");
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::string record = "record " + std::to_string(k + 1);
        long value = 0;
        if (stepMode && !Number((*steps)[k], 0, 255, "step of " + record, &value)) {
            return false;
        }
        if (stepMode) {
            out->push_back(static_cast<std::uint8_t>(value));
        }
        for (std::size_t j = 0; j < channels; ++j) {
            const Json& sample = (*samples)[j][k];
            const std::string what = "channel " + std::to_string(j + 1) + " " + record;
            if (encode) {
                if (!EncodedSample(sample, references[j], ranges[j], what, out)) {
                    return false;
                }
                continue;
            }
            long lo = 0;
            long hi = 0;
            if (!sample.is_array() || sample.size() != 2) {
                return Fail(what + " must be a pair [low, high]");
            }
            if (!Number(sample[0], 0, 255, what + " low byte", &lo) ||
                !Number(sample[1], 0, 255, what + " high byte", &hi)) {
                return false;
            }
            out->push_back(static_cast<std::uint8_t>(lo));
            out->push_back(static_cast<std::uint8_t>(hi));
        }
    }
    return true;
}

bool LogReader::InfoBlock(int channels, Bytes* out) {
    std::string count;
    std::string type;
    std::string name;
    std::string tag;
    if (!TwoDigits("infoChannelCount", channels, "%02d", &count) ||
        !TwoDigits("instrumentType", 10, "%02d", &type) ||
        !Text(log_, {"instrumentName", 9, "PEXIL"}, &name) ||
        !Text(log_, {"instrumentTag", 5, "DD"}, &tag)) {
        return false;
    }
    out->assign(kBlockBytes, ' ');
    const auto put = [out](const std::string& text, std::size_t at) {
        std::copy(text.begin(), text.end(), out->begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(count, kInfoChannels);
    put(type, kInfoType);
    put(name, kInfoName);
    put(tag, kInfoTag);
    return true;
}

bool LogReader::HeaderBlock(const std::string& records, int channels, Bytes* out) {
    std::string head;
    std::string tail;
    for (const TextField& field : kHeadFields) {
        if (!Text(log_, field, &head)) {
            return false;
        }
    }
    for (const TextField& field : kTailFields) {
        if (!Text(log_, field, &tail)) {
            return false;
        }
    }
    tail.insert(kUnusedAt, "  ");
    std::string serialCount;
    if (!TwoDigits("headerChannelCount", channels, "%2d", &serialCount)) {
        return false;
    }
    head.replace(kHeadFields[0].width + kSerialCountAt, 2, serialCount);

    out->assign(kMarkLength, 0xFF);
    if (const auto mark = log_.find("validityMark"); mark != log_.end()) {
        if (!mark->is_array() || mark->size() != kMarkLength) {
            return Fail("\"validityMark\" must be a list of 3 bytes");
        }
        for (std::size_t i = 0; i < kMarkLength; ++i) {
            long value = 0;
            if (!Number((*mark)[i], 0, 255, "\"validityMark\" byte", &value)) {
                return false;
            }
            (*out)[i] = static_cast<std::uint8_t>(value);
        }
    }
    out->insert(out->end(), head.begin(), head.end());
    out->insert(out->end(), records.begin(), records.end());
    out->insert(out->end(), tail.begin(), tail.end());
    return true;
}

bool LogReader::Read(ImageBuilder::Log* out) {
    if (!log_.is_object()) {
        return Fail("must be an object");
    }
    if (!OnlyKeys(log_,
                  {"description",
                   "page",
                   "location",
                   "serialNumber",
                   "instrumentNumber",
                   "sampleRate",
                   "sampleMode",
                   "startTime",
                   "endTime",
                   "instrumentType",
                   "instrumentName",
                   "instrumentTag",
                   "infoChannelCount",
                   "headerChannelCount",
                   "validityMark",
                   "channels",
                   "steps",
                   "values",
                   "raw",
                   "endMarker",
                   "fill"},
                  "the log")) {
        return false;
    }
    long value = 0;
    if (const auto page = log_.find("page"); page != log_.end()) {
        if (!Number(*page, 0, kLastChainPage, "\"page\"", &value)) {
            return false;
        }
        out->page = static_cast<unsigned>(value);
    }
    std::string records;
    std::vector<double> references;
    std::vector<double> ranges;
    if (!Channels(&records, &references, &ranges)) {
        return false;
    }
    const int channels = static_cast<int>(references.size());
    if (!InfoBlock(channels, &out->info) || !HeaderBlock(records, channels, &out->body)) {
        return false;
    }
    // The first character of the sample mode, as laid out, decides the records.
    const std::size_t modeAt = kMarkLength + kHeadLength + records.size() + kModeInTail;
    const bool stepMode = out->body[modeAt] == 'L';
    if (!Records(references, ranges, stepMode, &out->body)) {
        return false;
    }
    const auto marker = log_.find("endMarker");
    if (marker == log_.end()) {
        out->body.push_back(kDefaultEndMarker);
    } else if (!marker->is_string() || marker->get<std::string>() != "none") {
        if (!Number(*marker, 0xFD, 0xFF, "\"endMarker\" (or \"none\")", &value)) {
            return false;
        }
        out->body.push_back(static_cast<std::uint8_t>(value));
    }
    if (const auto fill = log_.find("fill"); fill != log_.end()) {
        if (!Number(*fill, 0, 255, "\"fill\"", &value)) {
            return false;
        }
        out->fill = static_cast<std::uint8_t>(value);
    }
    return true;
}

std::size_t PagesFor(const ImageBuilder::Log& log) {
    return (kHeaderByte + log.body.size() + kPageBytes - 1) / kPageBytes;
}

}  // namespace

bool ImageBuilder::AddLogs(const std::string& json, std::string* error) {
    const Json document = Json::parse(json, nullptr, false);
    const auto fail = [&](const std::string& text) {
        if (error != nullptr) {
            *error = text;
        }
        return false;
    };
    if (document.is_discarded()) {
        return fail("not valid JSON");
    }
    if (!document.is_object() || !document.contains("logs") || !document["logs"].is_array()) {
        return fail("expected an object with a list \"logs\"");
    }
    for (const auto& item : document.items()) {
        if (item.key() != "logs" && item.key() != "description") {
            return fail("unknown key \"" + item.key() + "\"");
        }
    }
    std::vector<Log> added;
    for (const Json& entry : document["logs"]) {
        Log log;
        LogReader reader(entry, logs_.size() + added.size() + 1);
        if (!reader.Read(&log)) {
            return fail(reader.Error());
        }
        added.push_back(std::move(log));
    }
    logs_.insert(logs_.end(), added.begin(), added.end());
    return true;
}

bool ImageBuilder::Build(MemoryImage* image, std::string* error) const {
    const auto fail = [&](std::size_t index, const std::string& text) {
        if (error != nullptr) {
            *error = "log " + std::to_string(index + 1) + ": " + text;
        }
        return false;
    };
    // Start pages, then the page behind the last log: the free memory.
    std::vector<std::size_t> pages;
    std::size_t next = 0;
    for (std::size_t i = 0; i < logs_.size(); ++i) {
        const std::size_t page = logs_[i].page.value_or(next);
        if (i == 0 && page != 0) {
            return fail(i, "the first log must start at page 0, where the chain begins");
        }
        if (page < next) {
            return fail(i, "page " + std::to_string(page) + " is still used by the log before");
        }
        pages.push_back(page);
        next = page + PagesFor(logs_[i]);
        if (next > kLastChainPage) {
            return fail(i, "does not fit: it needs " + std::to_string(PagesFor(logs_[i])) +
                               " pages from page " + std::to_string(page) +
                               ", and the chain cannot point past page " +
                               std::to_string(kLastChainPage));
        }
    }
    pages.push_back(next);

    MemoryImage memory;
    std::uint8_t* bytes = memory.Data();
    for (std::size_t i = 0; i < logs_.size(); ++i) {
        const Log& log = logs_[i];
        std::uint8_t* start = bytes + pages[i] * kPageBytes;
        std::fill(start, bytes + pages[i + 1] * kPageBytes, log.fill);
        std::fill(start, start + kHeaderByte, 0x00);
        start[kNextPageByte] = static_cast<std::uint8_t>(pages[i + 1]);
        std::copy(log.info.begin(), log.info.end(), start + kInfoByte);
        std::copy(log.body.begin(), log.body.end(), start + kHeaderByte);
    }
    *image = std::move(memory);
    return true;
}

}  // namespace sim
