#include "device/DeviceLog.h"

#include <algorithm>
#include <new>

#include "device/CivilTime.h"
#include "device/FixedText.h"

namespace {

constexpr std::string_view kDefaultTypeName = "PEXIL    ";
constexpr std::string_view kDefaultTypeTag = "DD   ";
constexpr int kDefaultInstrumentType = 10;

// What a log says of its instrument until its information block is read.
void SetDefaultInstrumentInfo(LogHeader& header) {
    header.instrumentType = kDefaultInstrumentType;
    CopyField(header.instrumentTypeName, kDefaultTypeName);
    CopyField(header.instrumentTypeTag, kDefaultTypeTag);
}

// The number at position of a field of numbers, read as the reader's
// integers are: blanks skipped, an optional sign, digits.
int64_t FieldNumber(const char* field, int position, int width) {
    return ParseInt(FieldText(field + position, static_cast<std::size_t>(width)));
}

// Makes room for one more element without ever reallocating inside push_back,
// so a failed allocation leaves both arrays as they were.
template <class T>
bool ReserveOneMore(std::vector<T>& array) {
    if (array.size() < array.capacity()) {
        return true;
    }
    const std::size_t wanted = std::max<std::size_t>(array.capacity() * 2, 256);
    try {
        array.reserve(std::min<std::size_t>(wanted, LogChannel::kMaxSamples));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

std::string_view LogHeader::shortSerial() const {
    return FieldText(serialNumber + 5, 6);
}

namespace {

// The common type (10, and any the reader does not name) first.
constexpr InstrumentTraits kInstruments[] = {
    {"Pexil =3", 10, false, "Master Level", true},
    {"Marut =7", 4, true, "Switch Level", false},
    {"Wendrow =9", 6, false, "Totalisation factor", false},
    {"Pexil =2", 7, false, "Master Level", true},
    {"Pexil =4", 9, false, "Master Level", true},
    {"Pexil =12", 11, false, "Master Level", true},
};

// Known by their first stored characters, the first that fits.
constexpr SampleModeTraits kSampleModes[] = {
    {"T", "T   ", "Fixed"},
    {"LA", "LA  ", "Short Pump Test"},
    {"LB", "LB  ", "Standard Pump Test"},
    {"LC", "LC  ", "Long Pump Test"},
    {"L", "", "Event Based"},
};

}  // namespace

const InstrumentTraits& TraitsOf(int instrumentType) {
    const int type = instrumentType == 5 ? 4 : instrumentType;  // 5 is a 4 to everything shown
    for (const InstrumentTraits& traits : kInstruments) {
        if (traits.fileType == type) {
            return traits;
        }
    }
    return kInstruments[0];
}

std::span<const InstrumentTraits> FileInstrumentTypes() {
    return kInstruments;
}

std::string_view ChannelIdentification(const ChannelHeader& channel, int instrumentType) {
    return FieldText(channel.identification).substr(0, IdentificationWidth(instrumentType));
}

const SampleModeTraits* SampleModeOf(const LogHeader& header) {
    for (const SampleModeTraits& mode : kSampleModes) {
        if (std::string_view(header.sampleMode, sizeof header.sampleMode)
                .starts_with(mode.stored)) {
            return &mode;
        }
    }
    return nullptr;
}

std::string_view LogHeader::sampleModeName() const {
    const SampleModeTraits* mode = SampleModeOf(*this);
    return mode != nullptr ? mode->name : FieldText(sampleMode);
}

void LogChannel::reset() {
    header_ = ChannelHeader{};
    CopyField(header_.identification, "LEVEL");
    CopyField(header_.referenceUnit, "CM");
    CopyField(header_.rangeUnit, "CM");
    CopyField(header_.masterLevelUnit, "CM");
    CopyField(header_.altitudeUnit, "CM");
    CopyField(sampleMode_, "T   ");
    values_ = {};
    stepBytes_ = {};
}

int LogChannel::parseChannelHeader(const char* text, int length) {
    if (text == nullptr || length < CHANNEL_RECORD_LENGTH) {
        return RESULT_BAD_INPUT;
    }
    // Identification and units are kept byte for byte, zero bytes included.
    const auto copyRaw = [text](auto& field, int position) {
        std::copy_n(text + position, sizeof field, field);
    };
    // A value text's number and, when it has a point, its decimals.
    const auto readValue = [text](int position, double& value, int32_t& decimals) {
        const std::string_view valueText = FieldText(text + position, 10);
        value = ParseDecimal(valueText);
        const int afterPoint = DecimalsAfterPoint(valueText);
        if (afterPoint >= 0) {
            decimals = afterPoint;
        }
    };
    copyRaw(header_.identification, 0);
    readValue(20, header_.referenceLevel, header_.referenceDecimals);
    copyRaw(header_.referenceUnit, 30);
    readValue(36, header_.range, header_.rangeDecimals);
    copyRaw(header_.rangeUnit, 46);
    readValue(52, header_.masterLevel, header_.masterLevelDecimals);
    copyRaw(header_.masterLevelUnit, 62);
    readValue(68, header_.altitude, header_.altitudeDecimals);
    copyRaw(header_.altitudeUnit, 78);
    return RESULT_OK;
}

double DecodeSample(const ChannelHeader& header, uint8_t lowByte, uint8_t highByte) {
    const long double raw = lowByte + 250.0L * highByte;
    const long double value = raw * (1.0L / 30000.0L) * static_cast<long double>(header.range) +
                              static_cast<long double>(header.referenceLevel);
    return static_cast<double>(value);
}

int LogChannel::appendSample(uint8_t lowByte, uint8_t highByte, uint8_t stepByte) {
    return appendValue(DecodeSample(header_, lowByte, highByte), stepByte);
}

int LogChannel::appendValue(double value, uint8_t stepByte) {
    if (sampleCount() + 1 > kMaxSamples || !ReserveOneMore(values_) ||
        !ReserveOneMore(stepBytes_)) {
        return RESULT_FULL;
    }
    values_.push_back(value);
    stepBytes_.push_back(stepByte);
    return RESULT_OK;
}

void LogChannel::keepFirst(int count) {
    const auto kept = static_cast<std::size_t>(std::clamp(count, 0, sampleCount()));
    values_.resize(kept);
    stepBytes_.resize(kept);
}

double LogChannel::sampleValue(int index) const {
    return index < 0 || index >= sampleCount() ? kNoValue : values_[index];
}

uint8_t LogChannel::stepByte(int index) const {
    return index < 0 || index >= sampleCount() ? kNoStep : stepBytes_[index];
}

void LogChannel::setSampleMode(const char (&mode)[4]) {
    std::copy_n(mode, sizeof sampleMode_, sampleMode_);
}

int64_t DateFieldSeconds(const char (&field)[17]) {
    // Values outside their usual range count on, as the C library's
    // normalisation counts them: hour 24 is 00 of the next day, day 0 the
    // last day of the month before, month 13 January of the next year.
    const int64_t months = (2000 + FieldNumber(field, 15, 2)) * 12 + FieldNumber(field, 12, 2) - 1;
    CivilTime time;
    time.year = months >= 0 ? months / 12 : (months - 11) / 12;
    time.month = static_cast<int>(months - time.year * 12) + 1;
    const int64_t firstOfMonth = SecondsFromCivil(time);
    return firstOfMonth + (FieldNumber(field, 9, 2) - 1) * 86400 + FieldNumber(field, 6, 2) * 3600 +
           FieldNumber(field, 3, 2) * 60 + FieldNumber(field, 0, 2);
}

uint32_t SampleRateTenths(const char (&rate)[13]) {
    const auto number = [&rate](int position, int width) {
        return FieldNumber(rate, position, width);
    };
    const int64_t tenths = number(0, 2) * 864000 + number(3, 2) * 36000 + number(6, 2) * 600 +
                           number(9, 2) * 10 + number(12, 1);
    return tenths <= 0 ? 10 : static_cast<uint32_t>(tenths);
}

DeviceLog::DeviceLog() {
    CopyField(header_.location, "MERVA");
    CopyField(header_.serialNumber, "..00-12767  1...");
    CopyField(header_.instrumentNumber, "12345");
    header_.channelCount = 1;
    CopyField(header_.sampleRate, "00 00:10:00 0");
    CopyField(header_.sampleMode, "T   ");
    CopyField(header_.startTime, "00:00:00 01/01/98");
    CopyField(header_.endTime, "00:30:00 01/01/98");
    SetDefaultInstrumentInfo(header_);
}

int DeviceLog::parseLogHeader(const char* text, int length) {
    if (text == nullptr || length < LOG_HEADER_TEXT_LENGTH) {
        return RESULT_BAD_INPUT;
    }
    const auto copy = [text](auto& field, int position) {
        CopyField(field, std::string_view(text + position, sizeof field));
    };
    copy(header_.location, 0);
    copy(header_.serialNumber, 20);
    copy(header_.instrumentNumber, 36);
    copy(header_.sampleRate, 56);
    copy(header_.sampleMode, 69);
    copy(header_.startTime, 73);
    copy(header_.endTime, 92);
    header_.channelCount = ParseInt(FieldText(text + 31, 2));
    return RESULT_OK;
}

int DeviceLog::setInstrumentInfo(const char* typeDigits, const char* name, const char* tag) {
    if (typeDigits == nullptr || name == nullptr || tag == nullptr) {
        SetDefaultInstrumentInfo(header_);
        return RESULT_BAD_INPUT;
    }
    header_.instrumentType = ParseInt(FieldText(typeDigits, 2));
    CopyField(header_.instrumentTypeName, FieldText(name, sizeof header_.instrumentTypeName));
    CopyField(header_.instrumentTypeTag, FieldText(tag, sizeof header_.instrumentTypeTag));
    return RESULT_OK;
}

int DeviceLog::addChannel(const LogChannel& channel) {
    channels_.append(channel);
    channels_.item(channels_.count() - 1)->setSampleMode(header_.sampleMode);
    return RESULT_OK;
}

uint64_t DeviceLog::expectedSampleCount() const {
    const int64_t interval = sampleInterval().count();
    const int64_t start = startSeconds();
    const int64_t end = endSeconds();
    // A field that is not a date gives no span to count samples in.
    if (interval == 0 || start < 0 || end < 0 || end <= start) {
        return 1;
    }
    return static_cast<uint64_t>((Tenths::OfSeconds(end) - Tenths::OfSeconds(start)).count() /
                                 interval);
}
