#include "datafile/DataFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <vector>

#include "datafile/DataFileFormat.h"
#include "device/DigitPairs.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"
#include "platform/Files.h"

namespace {

constexpr std::size_t kFileBufferSize = 256 * 1024;
// "[Data]" and the count line keep the same length, so Close can rewrite the
// count in place: six characters, 10 - n blanks, CR LF, n digits, CR LF.
constexpr std::string_view kDataPlaceholder = "[Data]         \r\n0\r\n";
constexpr int kDataFieldWidth = 10;

using namespace omb;

// Appends the number's decimal digits; no allocation.
void AppendInteger(std::string& out, int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// The title block's free texts only inform (no reader looks at them), but a
// control byte in them would still break the lines that follow: '?' instead.
void AppendPrintable(std::string& out, std::string_view text) {
    for (const char c : text) {
        out += BreaksLine(c) ? '?' : c;
    }
}

}  // namespace

DataFileWriter::DataFileWriter() : titleSource_(CurrentTitleStamp) {
    line_.reserve(1024);
}

DataFileWriter::~DataFileWriter() {
    Close();
}

int DataFileWriter::Open(const char* path, const char* mode, const char* titleName) {
    if (file_) {
        return 0;
    }
    path_ = titleName ? titleName : path ? path : "";
    if (path == nullptr || mode == nullptr) {
        lastError_ = -1;
        return -1;
    }
    // Binary mode: the line ends are written as CR LF on every platform.
    std::string binaryMode = mode;
    if (binaryMode.find('b') == std::string::npos) {
        binaryMode += 'b';
    }
    errno = 0;
    std::FILE* file = std::fopen(path, binaryMode.c_str());
    return Adopt(file, errno);
}

int DataFileWriter::OpenNew(const char* path, const char* titleName) {
    if (file_) {
        return 0;
    }
    path_ = titleName ? titleName : path ? path : "";
    if (path == nullptr) {
        lastError_ = -1;
        return -1;
    }
    int error = 0;
    std::FILE* file = platform::CreateNewFile(path, &error);
    return Adopt(file, error);
}

int DataFileWriter::Adopt(std::FILE* file, int error) {
    file_.reset(file);
    if (!file_) {
        // The system's reason, for the message that the file could not be made.
        lastError_ = error > 0 ? error : -1;
        return -1;
    }
    if (!buffer_) {
        buffer_ = std::make_unique<char[]>(kFileBufferSize);
    }
    std::setvbuf(file_.get(), buffer_.get(), _IOFBF, kFileBufferSize);
    dataOffset_ = 0;
    lineCount_ = 0;
    writeError_ = 0;
    open_.store(true, std::memory_order_release);
    return 0;
}

int DataFileWriter::WriteHeader(const LogHeader* header, const ChannelHeader* channels, int count) {
    // No channels still make a header, which a reader takes for a log.
    if (header == nullptr || count < 0 || (channels == nullptr && count > 0) || !file_) {
        return WRITE_SKIPPED;
    }
    WriteHeaderBlock(*header, count,
                     [channels](int i) -> const ChannelHeader& { return channels[i]; });
    return WRITE_OK;
}

int DataFileWriter::WriteLog(const DeviceLog* log) {
    if (log == nullptr || !file_) {
        return WRITE_SKIPPED;
    }
    // The count the header announces and the channels held can differ (the
    // header text and the framing of the reader's block disagree). The
    // "Channel" line states the count as announced, the sections are the
    // channels held, as are the values of each data line: nothing that was
    // read is left out, nothing is made up, and the file reads back whole.
    WriteHeaderBlock(log->header(), log->channels().count(),
                     [log](int i) -> const ChannelHeader& { return log->channel(i)->header(); });
    return WRITE_OK;
}

template <class ChannelAt>
void DataFileWriter::WriteHeaderBlock(const LogHeader& header, int count, ChannelAt channelAt) {
    const TitleStamp stamp = titleSource_();
    const CivilTime& now = stamp.localTime;
    Line(kTitleLine);
    Line(kRuleLine);
    Line("COMPANY    : Your Company Name");
    line_ += "USER       : ";
    AppendPrintable(line_, stamp.user);
    EndLine();
    line_ += "DATE       : ";
    AppendPairs(line_, '/', {now.month, now.day, TwoDigitYear(now.year)});
    EndLine();
    line_ += "TIME       : ";
    AppendPairs(line_, ':', {now.hour, now.minute, now.second});
    EndLine();
    line_ += "FILENAME   : ";
    AppendPrintable(line_, path_);
    EndLine();
    Line("CREATED BY : Ombrel version 1.9");
    Line(kBeginLine);

    const int type = header.instrumentType;
    Line(kInstrumentSection);
    KeyLine("Instrument type", TraitsOf(type).fileText);
    KeyLine("Instrument state", kInstrumentState);
    FieldLine("Serial number", header.serialNumber);
    FieldLine("Instrument number", header.instrumentNumber);
    Line(kConstantLine);
    FieldLine("Location", header.location);
    FieldLine("Sample Rate", header.sampleRate);
    KeyLine("Sample Mode", SampleModeValue(header));
    AppendKey("Channel");
    AppendInteger(line_, header.channelCount);
    EndLine();

    if (TraitsOf(type).switchLevel) {
        // A log without channels states those of a fresh one: 0.
        static const LogChannel fresh;
        const ChannelHeader& first = count > 0 ? channelAt(0) : fresh.header();
        for (const RimGroup& group : kRimGroups) {
            AppendKey(group.key);
            AppendFixed(line_, RimValue(first.identification, group), kRimDecimals, 0, false);
            EndLine();
        }
    }

    for (int i = 0; i < count; ++i) {
        WriteChannelSection(i + 1, "", channelAt(i), type);
    }

    Line(kDataHeaderSection);
    FieldLine("Serial number", header.serialNumber);
    FieldLine("Instrument number", header.instrumentNumber);
    FieldLine("Location", header.location);
    FieldLine("Sample Rate", header.sampleRate);
    KeyLine("Sample Mode", SampleModeValue(header));
    FieldLine("Tb", header.startTime);
    FieldLine("Te", header.endTime);
    for (int i = 0; i < count; ++i) {
        WriteChannelSection(i + 1, kChannelSuffix, channelAt(i), type);
    }

    dataOffset_ = std::ftell(file_.get());
    if (dataOffset_ < 0) {
        dataOffset_ = 0;  // cannot seek back: the count stays 0
    }
    Write(kDataPlaceholder);
}

void DataFileWriter::WriteChannelSection(int number, std::string_view suffix,
                                         const ChannelHeader& channel, int instrumentType) {
    line_ += "[Channel ";
    AppendInteger(line_, number);
    line_ += suffix;
    line_ += ']';
    EndLine();
    AppendKey("Identification");
    AppendFieldValue(line_, channel.identification, IdentificationWidth(instrumentType));
    EndLine();
    const auto numberLine = [this](std::string_view key, double value, int decimals,
                                   const char(&unit)[6]) {
        AppendKey(key);
        AppendChannelNumber(line_, value, decimals, unit);
        EndLine();
    };
    numberLine("Reference", channel.referenceLevel, channel.referenceDecimals,
               channel.referenceUnit);
    numberLine("Range", channel.range, channel.rangeDecimals, channel.rangeUnit);
    numberLine(TraitsOf(instrumentType).levelName, channel.masterLevel, channel.masterLevelDecimals,
               channel.masterLevelUnit);
    numberLine("Altitude", channel.altitude, channel.altitudeDecimals, channel.altitudeUnit);
}

int DataFileWriter::WriteSampleLine(int64_t seconds, int tenths, const double* values,
                                    const int32_t* decimals, int count, bool comma) {
    if (!file_ || values == nullptr || decimals == nullptr || count <= 0) {
        return WRITE_SKIPPED;
    }
    AppendTime(seconds, tenths, comma);
    bool previousBare = false;  // the value before: digits without a point
    for (int j = 0; j < count; ++j) {
        if (comma) {
            line_ += ',';
            AppendFixed(line_, values[j], decimals[j], kCommaValueWidth, false);
            continue;
        }
        // NeedsSeparator, from the numbers: printed without decimals, a
        // finite number is all digits; a wide one beginning with a digit
        // fills its field.
        const std::size_t length =
            AppendFixed(line_, values[j], decimals[j], kTextValueWidth, false);
        const std::size_t from = line_.size() - length;
        if (previousBare && length >= static_cast<std::size_t>(kTextValueWidth) &&
            line_[from] >= '0' && line_[from] <= '9') {
            line_.insert(from, 1, ' ');
        }
        previousBare = decimals[j] <= 0 && std::isfinite(values[j]);
    }
    EndLine();
    ++lineCount_;
    return WRITE_OK;
}

int DataFileWriter::WriteTextLine(const char* date, const char* time, const char* const* values,
                                  int count, bool comma) {
    if (!file_ || date == nullptr || time == nullptr || values == nullptr || count <= 0) {
        return WRITE_SKIPPED;
    }
    line_ += date;
    line_ += comma ? ',' : ' ';
    line_ += time;
    std::string_view previous;
    for (int j = 0; j < count; ++j) {
        const std::string_view value = values[j] ? values[j] : "";
        if (comma) {
            line_ += ',';
        } else if (value.size() < kTextValueWidth) {
            line_.append(kTextValueWidth - value.size(), ' ');
        } else if (NeedsSeparator(previous, value)) {
            line_ += ' ';
        }
        line_ += value;
        previous = value;
    }
    EndLine();
    ++lineCount_;
    return WRITE_OK;
}

int DataFileWriter::Close(bool toDisk) {
    if (!file_) {
        return 0;
    }
    Line(kEndLine);
    // Flushing before the seek keeps the error of a write that failed in the
    // buffer; the data is lost then, which the caller must learn.
    Flush();
    if (dataOffset_ != 0 && std::fseek(file_.get(), dataOffset_, SEEK_SET) == 0) {
        line_ += kDataLine;
        char digits[16];
        const auto result = std::to_chars(digits, digits + sizeof digits, lineCount_);
        const std::size_t n = static_cast<std::size_t>(result.ptr - digits);
        line_.append(kDataFieldWidth > static_cast<int>(n) ? kDataFieldWidth - n : 0, ' ');
        line_ += "\r\n";
        line_.append(digits, n);
        EndLine();
        Flush();
    }
    int error = writeError_;
    if (std::ferror(file_.get()) && error == 0) {
        error = EIO;
    }
    if (toDisk && error == 0) {
        error = platform::SyncFile(file_.get());
    }
    errno = 0;
    if (std::fclose(file_.release()) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    open_.store(false, std::memory_order_release);
    dataOffset_ = 0;
    lineCount_ = 0;
    if (error != 0) {
        lastError_ = error;
    }
    return error;
}

int64_t DataFileWriter::ParseHexDigits(const char* text, int n) {
    if (text == nullptr) {
        return 0;
    }
    uint64_t value = 0;  // unsigned: many digits wrap instead of overflowing
    for (int i = 0; i < n; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return 0;  // also stops at a zero byte, never reading past a terminated text
        }
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return static_cast<int64_t>(value);
}

void DataFileWriter::KeyLine(std::string_view key, std::string_view value) {
    AppendKey(key);
    line_ += value;
    EndLine();
}

template <std::size_t N>
void DataFileWriter::FieldLine(std::string_view key, const char (&field)[N]) {
    AppendKey(key);
    AppendFieldValue(line_, field, N);
    EndLine();
}

void DataFileWriter::AppendKey(std::string_view key) {
    omb::AppendKey(line_, key);
}

// "YYYY/MM/DD HH:MM:SS.t", or "MM/DD/YY,HH:MM:SS.t" for the comma layout;
// the seconds are the reader's clock, broken down without a time-zone shift.
void DataFileWriter::AppendTime(int64_t seconds, int tenths, bool comma) {
    if (!comma) {
        AppendSampleTime(line_, {seconds, tenths}, " ");
        return;
    }
    const CivilTime time = CivilFromSeconds(seconds);
    AppendPairs(line_, '/', {time.month, time.day, TwoDigitYear(time.year)});
    line_ += ',';
    AppendPairs(line_, ':', {time.hour, time.minute, time.second});
    line_ += '.';
    AppendInteger(line_, tenths);
}

void DataFileWriter::Line(std::string_view text) {
    line_ += text;
    EndLine();
}

void DataFileWriter::EndLine() {
    line_ += "\r\n";
    Write(line_);
    line_.clear();
}

void DataFileWriter::Write(std::string_view bytes) {
    // Individual write errors do not stop the file; Close reports them.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size() &&
        writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
}

int DataFileWriter::Flush() {
    if (!file_) {
        return 0;
    }
    if (std::fflush(file_.get()) != 0 && writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
    return writeError_;
}

int WriteLogSamples(DataFileWriter& writer, const DeviceLog& log, bool comma) {
    // One value for each channel held, as WriteLog writes their sections.
    const int count = log.channels().count();
    if (!writer.IsOpen()) {
        return WRITE_SKIPPED;
    }
    const LogChannel* first = log.channel(0);
    const int samples = first ? first->sampleCount() : 0;
    std::vector<const LogChannel*> channels(count);
    std::vector<double> values(count);
    std::vector<int32_t> decimals(count);
    for (int j = 0; j < count; ++j) {
        channels[j] = log.channel(j);
        decimals[j] = channels[j]->header().rangeDecimals;
    }
    SampleClock clock(log);
    for (int k = 0; k < samples; ++k) {
        const SampleTime time = clock.Next(first->stepByte(k));
        for (int j = 0; j < count; ++j) {
            values[j] = channels[j]->sampleValue(k);
        }
        writer.WriteSampleLine(time.seconds, time.tenths, values.data(), decimals.data(), count,
                               comma);
    }
    return WRITE_OK;
}

int WriteWholeLog(DataFileWriter& writer, const DeviceLog& log, bool comma) {
    const int result = writer.WriteLog(&log);
    if (result != WRITE_OK) {
        return result;
    }
    return WriteLogSamples(writer, log, comma);
}
