#include "datafile/DataFileReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "datafile/DataFileFormat.h"
#include "datafile/DataFileScan.h"
#include "device/CivilTime.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"

namespace {

using namespace omb;

// What a header's two digits can announce (ParseInt of two characters).
constexpr int kMinChannelCount = -9;
constexpr int kMaxChannelCount = 99;
constexpr int kMaxStep = 255;  // a step byte
constexpr std::size_t kMaxFileBytes = 256u << 20;

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

class Reader {
  public:
    Reader(std::string_view text, ReadResult& result) : text_(text), result_(result) {}

    // The header block, then the data lines.
    bool Read() {
        std::vector<SectionLines> sections;
        return TitleBlock() && InstrumentSection() && ChannelSections(sections) &&
               DataHeader(sections) && ReadData();
    }

  private:
    // The channel sections' five key lines, to be found again in the data header.
    using SectionLines = std::vector<std::string_view>;

    bool Fail(const std::string& reason) {
        // A line the file ends in, without its line end, was cut short.
        const bool cut = AtEnd() && !text_.ends_with('\n') && !line_.empty();
        return FailAt(
            number_, cut ? reason + " (the file ends inside this line: it was cut short)" : reason);
    }
    bool FailAt(int line, const std::string& reason) {
        result_.errorLine = line;
        result_.error = reason;
        return false;
    }

    bool AtEnd() const { return next_ >= text_.size(); }
    // The next line without its line end (CR LF or LF).
    bool NextLine() {
        ++number_;
        if (AtEnd()) {
            line_ = {};
            return Fail(number_ == 1
                            ? "the file is empty"
                            : "the file ends here, before its closing line " + Quoted(kEndLine));
        }
        const std::size_t end = text_.find('\n', next_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line_ = text_.substr(next_, stop - next_);
        if (line_.ends_with('\r')) {
            line_.remove_suffix(1);
        }
        next_ = end == std::string_view::npos ? text_.size() : end + 1;
        return true;
    }
    bool Expect(std::string_view exact) {
        if (!NextLine()) {
            return false;
        }
        return line_ == exact || Fail("expected " + Quoted(exact) + ", found " + Quoted(line_));
    }
    // A key line; value is what follows its "=".
    bool Key(std::string_view key, std::string_view& value) {
        if (!NextLine()) {
            return false;
        }
        std::string prefix;
        AppendKey(prefix, key);
        if (!line_.starts_with(prefix)) {
            return Fail("expected the key " + Quoted(key));
        }
        value = line_.substr(prefix.size());
        return true;
    }
    template <std::size_t N>
    bool TextKey(std::string_view key, char (&field)[N], std::size_t width = N) {
        std::string_view value;
        if (!Key(key, value)) {
            return false;
        }
        char text[N] = {};
        if (!ReadFieldValue(value, text, width)) {
            return Fail(std::string(key) + " has more than " + std::to_string(width) +
                        " characters, or a zero byte");
        }
        std::memcpy(field, text, N);
        return true;
    }
    // A key line of the data header that repeats one of the instrument section.
    bool SameKey(std::string_view key, std::string_view expected) {
        std::string_view value;
        if (!Key(key, value)) {
            return false;
        }
        return value == expected || Differs(key);
    }
    // The same for a text field, in either of its forms.
    template <std::size_t N>
    bool SameTextKey(std::string_view key, const char (&field)[N]) {
        std::string_view value;
        if (!Key(key, value)) {
            return false;
        }
        char text[N] = {};
        return (ReadFieldValue(value, text, N) && std::equal(text, text + N, field)) ||
               Differs(key);
    }
    bool Differs(std::string_view key) {
        return Fail(std::string(key) + " differs from the one in " + Quoted(kInstrumentSection));
    }

    bool TitleBlock() {
        if (!NextLine()) {
            return false;
        }
        if (line_ != kTitleLine) {
            return Fail("not a data file of this program: it does not begin with " +
                        Quoted(kTitleLine));
        }
        // The rest of the title block says when, by whom and where it was written.
        for (int n = 2; n < kTitleLines; ++n) {
            if (!NextLine()) {
                return false;
            }
        }
        return true;
    }

    bool InstrumentSection() {
        LogHeader& header = result_.log.header();
        std::string_view value;
        if (!Expect(kBeginLine) || !Expect(kInstrumentSection) || !Key("Instrument type", value)) {
            return false;
        }
        if (!InstrumentType(value, header.instrumentType)) {
            return Fail("unknown instrument type " + Quoted(value));
        }
        if (!Key("Instrument state", value)) {
            return false;
        }
        if (value != kInstrumentState) {
            return Fail("unknown instrument state " + Quoted(value));
        }
        if (!TextKey("Serial number", header.serialNumber) ||
            !TextKey("Instrument number", header.instrumentNumber) || !Expect(kConstantLine) ||
            !TextKey("Location", header.location) || !TextKey("Sample Rate", header.sampleRate) ||
            !Key("Sample Mode", value)) {
            return false;
        }
        // A mode the writer would write otherwise was not written by it.
        if (!ReadFieldValue(value, header.sampleMode, sizeof header.sampleMode) ||
            SampleModeValue(header) != value) {
            return Fail("unknown sample mode " + Quoted(value));
        }
        if (!Key("Channel", value)) {
            return false;
        }
        if (!ChannelCount(value, header.channelCount)) {
            return Fail("the channel count " + Quoted(value) + " is not a number from " +
                        std::to_string(kMinChannelCount) + " to " +
                        std::to_string(kMaxChannelCount));
        }
        return true;
    }

    // The rim parameters, then the channel sections.
    bool ChannelSections(std::vector<SectionLines>& sections) {
        // The rim parameters are known once the first channel is.
        int rimLine = 0;
        std::string_view rim[std::size(kRimGroups)];
        if (TraitsOf(result_.log.header().instrumentType).switchLevel) {
            rimLine = number_ + 1;
            for (std::size_t g = 0; g < std::size(kRimGroups); ++g) {
                if (!Key(kRimGroups[g].key, rim[g])) {
                    return false;
                }
            }
        }
        // A section for each channel the log held, whatever the count says.
        for (int i = 1; NextLineIs(ChannelTitle(i, "")); ++i) {
            if (i > kMaxChannels) {
                return Fail("more than " + std::to_string(kMaxChannels) + " channels");
            }
            LogChannel channel;
            if (!ChannelSection(i, channel.header(), sections.emplace_back())) {
                return false;
            }
            if (i == 1 && rimLine > 0 &&
                !EncodeRim(channel.header().identification, rim, rimLine)) {
                return false;
            }
            result_.log.addChannel(channel);
        }
        return rimLine == 0 || !sections.empty() || FreshRim(rim, rimLine);
    }

    // Without a channel the rim parameters are those of a fresh one.
    bool FreshRim(const std::string_view (&rim)[std::size(kRimGroups)], int rimLine) {
        const LogChannel fresh;
        for (std::size_t g = 0; g < std::size(kRimGroups); ++g) {
            if (rim[g] !=
                DecimalText(RimValue(fresh.header().identification, kRimGroups[g]), kRimDecimals)) {
                return FailAt(rimLine + static_cast<int>(g), std::string(kRimGroups[g].key) + " " +
                                                                 Quoted(rim[g]) +
                                                                 " without a channel to hold it");
            }
        }
        return true;
    }

    // The data header repeats the instrument section and each channel's.
    bool DataHeader(const std::vector<SectionLines>& sections) {
        LogHeader& header = result_.log.header();
        if (!Expect(kDataHeaderSection) || !SameTextKey("Serial number", header.serialNumber) ||
            !SameTextKey("Instrument number", header.instrumentNumber) ||
            !SameTextKey("Location", header.location) ||
            !SameTextKey("Sample Rate", header.sampleRate) ||
            !SameKey("Sample Mode", SampleModeValue(header)) || !TextKey("Tb", header.startTime) ||
            !TextKey("Te", header.endTime)) {
            return false;
        }
        for (int i = 1; i <= static_cast<int>(sections.size()); ++i) {
            const std::string title = ChannelTitle(i, kChannelSuffix);
            if (!Expect(title)) {
                return false;
            }
            for (const std::string_view line : sections[static_cast<std::size_t>(i - 1)]) {
                if (!NextLine()) {
                    return false;
                }
                if (line_ != line) {
                    return Fail("differs from the same line of " + Quoted(ChannelTitle(i, "")));
                }
            }
        }
        return true;
    }

    static std::string ChannelTitle(int number, std::string_view suffix) {
        return "[Channel " + std::to_string(number) + std::string(suffix) + "]";
    }

    static bool InstrumentType(std::string_view text, int32_t& type) {
        for (const InstrumentTraits& candidate : FileInstrumentTypes()) {
            if (candidate.fileText == text) {
                type = candidate.fileType;
                return true;
            }
        }
        return false;
    }

    // As the writer prints it: an optional minus, digits without a leading zero.
    static bool ChannelCount(std::string_view text, int32_t& count) {
        int value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
            std::to_string(value) != text || value < kMinChannelCount || value > kMaxChannelCount) {
            return false;
        }
        count = value;
        return true;
    }

    // Whether the next line is exactly this, without reading it.
    bool NextLineIs(std::string_view exact) const {
        if (AtEnd()) {
            return false;
        }
        std::string_view rest = text_.substr(next_);
        rest = rest.substr(0, rest.find('\n'));
        if (rest.ends_with('\r')) {
            rest.remove_suffix(1);
        }
        return rest == exact;
    }

    bool ChannelSection(int number, ChannelHeader& channel, SectionLines& lines) {
        if (!Expect(ChannelTitle(number, ""))) {
            return false;
        }
        const int type = result_.log.header().instrumentType;
        if (!TextKey("Identification", channel.identification, IdentificationWidth(type))) {
            return false;
        }
        lines.push_back(line_);
        const struct {
            std::string_view key;
            double& value;
            int32_t& decimals;
            char (&unit)[6];
        } numbers[] = {
            {"Reference", channel.referenceLevel, channel.referenceDecimals, channel.referenceUnit},
            {"Range", channel.range, channel.rangeDecimals, channel.rangeUnit},
            {TraitsOf(type).levelName, channel.masterLevel, channel.masterLevelDecimals,
             channel.masterLevelUnit},
            {"Altitude", channel.altitude, channel.altitudeDecimals, channel.altitudeUnit},
        };
        for (const auto& n : numbers) {
            if (!ChannelNumber(n.key, n.value, n.decimals, n.unit)) {
                return false;
            }
            lines.push_back(line_);
        }
        return true;
    }

    // A number left-justified in at least 10 characters, then its unit.
    bool ChannelNumber(std::string_view key, double& value, int32_t& decimals, char (&unit)[6]) {
        std::string_view text;
        if (!Key(key, text)) {
            return false;
        }
        const std::size_t length = NumberLength(text, -1);
        std::size_t unitFrom = length;
        if (length < kChannelNumberWidth) {
            unitFrom = std::min<std::size_t>(kChannelNumberWidth, text.size());
            if (text.substr(length, unitFrom - length).find_first_not_of(' ') !=
                std::string_view::npos) {
                unitFrom = 0;
            }
        } else if (unitFrom < text.size() && text[unitFrom] == ' ') {
            // The blank that keeps a unit beginning with digits off a wide number.
            const std::size_t first = text.find_first_not_of(' ', unitFrom);
            if (first != std::string_view::npos && (IsDigit(text[first]) || text[first] == '.')) {
                ++unitFrom;
            }
        }
        const std::string_view token = text.substr(0, length);
        if (length == 0 || unitFrom == 0 ||
            !ReadFieldValue(text.substr(unitFrom), unit, sizeof unit)) {
            return Fail(std::string(key) +
                        " is not a number followed by a unit of up to 6 "
                        "characters");
        }
        if (!NumberValue(token, value)) {
            return Fail(std::string(key) + " is too large a number to read");
        }
        decimals = DecimalsOf(token);
        // Written again, the line must be the same.
        std::string again;
        AppendChannelNumber(again, value, decimals, unit);
        if (decimals > kMaxDecimals || again != text) {
            return Fail(std::string(key) + " is not written as this program writes it");
        }
        return true;
    }

    // The rim parameters the file states, back into the first identification.
    bool EncodeRim(char (&identification)[20], const std::string_view (&texts)[3], int line) {
        const int failed = omb::EncodeRim(identification, texts);
        if (failed < 0) {
            return true;
        }
        if (failed < static_cast<int>(std::size(kRimGroups))) {
            return FailAt(line + failed, std::string(kRimGroups[failed].key) + " " +
                                             Quoted(texts[failed]) +
                                             " is not a value the instrument can hold");
        }
        return FailAt(line, "the instrument cannot hold these three rim parameters together");
    }

    bool ReadData() {
        if (!NextLine()) {
            return false;
        }
        if (!line_.starts_with(kDataLine) ||
            line_.find_first_not_of(' ', kDataLine.size()) != std::string_view::npos) {
            return Fail("expected " + Quoted(kDataLine));
        }
        if (!NextLine()) {
            return false;
        }
        const int countLine = number_;
        const std::string_view countText = line_;
        if (countText.empty() || countText.size() > 10 ||
            countText.find_first_not_of("0123456789") != std::string_view::npos) {
            return Fail("expected the number of data lines, found " + Quoted(countText));
        }
        // One value for each channel section.
        const int channels = result_.log.channels().count();
        for (int j = 0; j < channels; ++j) {
            channels_.push_back(result_.log.channel(j));
            decimals_.push_back(channels_.back()->header().rangeDecimals);
        }
        values_.resize(static_cast<std::size_t>(channels));
        clock_.emplace(result_.log.header());
        previous_ = result_.log.startTime();
        int64_t lines = 0;
        while (true) {
            if (!NextLine()) {
                return false;
            }
            if (line_ == kEndLine) {
                break;
            }
            if (!DataLine(lines == 0)) {
                return false;
            }
            ++lines;
        }
        if (std::to_string(lines) != countText) {
            return FailAt(countLine, "the file says it holds " + std::string(countText) +
                                         " data lines, but it holds " + std::to_string(lines));
        }
        if (text_.substr(next_).find_first_not_of("\r\n") != std::string_view::npos) {
            return FailAt(number_ + 1, "text after the closing line");
        }
        // Every channel keeps a value for each line, -100 included: a
        // sample of -100 and the -100 written past the end of a channel
        // shorter than the first cannot be told apart, and the reader's logs
        // give every channel a sample for each record.
        return true;
    }

    bool DataLine(bool first) {
        if (first) {
            result_.layout = LayoutOf(line_);
        }
        TimeScanner scanner(line_);
        LineTime time;
        if (!scanner.LineStart(result_.layout, time)) {
            return Fail("not a data line: it does not begin with a date and time of the layout " +
                        std::string(first ? "it shows" : "of the first data line"));
        }
        if (!Values(line_.substr(scanner.Position()))) {
            return false;
        }
        uint8_t step = 0;
        if (!NextTime(time, step)) {
            return Fail("the time does not follow the log's start time and sample rate");
        }
        const std::size_t k = static_cast<std::size_t>(channels_.front()->sampleCount());
        if (k >= static_cast<std::size_t>(LogChannel::kMaxSamples)) {
            ++result_.samplesNotKept;
            return true;
        }
        for (std::size_t j = 0; j < channels_.size(); ++j) {
            channels_[j]->appendValue(values_[j], step);
        }
        return true;
    }

    // One number per channel, with that channel's decimals.
    bool Values(std::string_view text) {
        const bool comma = result_.layout != DataLayout::Text;
        std::size_t pos = 0;
        for (std::size_t j = 0; j < channels_.size(); ++j) {
            if (comma && (pos >= text.size() || text[pos++] != ',')) {
                return Fail("expected " + std::to_string(channels_.size()) +
                            " values, one per channel");
            }
            while (pos < text.size() && text[pos] == ' ') {
                ++pos;
            }
            const std::size_t length = NumberLength(text.substr(pos), decimals_[j]);
            // In the text layout a number of 12 characters or more runs into the one before.
            const bool ends = !comma || pos + length == text.size() || text[pos + length] == ',';
            if (length == 0 || !ends) {
                return Fail("the value of channel " + std::to_string(j + 1) +
                            " is not a number with " + std::to_string(decimals_[j]) + " decimals");
            }
            if (!NumberValue(text.substr(pos, length), values_[j])) {
                return Fail("the value of channel " + std::to_string(j + 1) +
                            " is too large a number to read");
            }
            pos += length;
        }
        return pos == text.size() ||
               Fail("more values than the " + std::to_string(channels_.size()) + " channels");
    }

    // The clock's next time, which must be the one written. In the step modes
    // the written time tells the step: how many intervals after the previous.
    bool NextTime(LineTime time, uint8_t& step) {
        if (result_.log.header().isStepMode()) {
            if (time.twoDigitYear) {
                // The century of the previous time, or the next one.
                const int64_t previousYear = CivilFromSeconds(previous_.FloorSeconds()).year;
                time.civil.year += previousYear - (previousYear % 100 + 100) % 100;
                if (time.Since1970() < previous_) {
                    time.civil.year += 100;
                }
                time.twoDigitYear = false;
            }
            const int64_t delta = (time.Since1970() - previous_).count();
            const int64_t interval = result_.log.sampleInterval().count();
            if (delta < 0 || delta % interval != 0 || delta / interval > kMaxStep) {
                return false;
            }
            step = static_cast<uint8_t>(delta / interval);
            previous_ = time.Since1970();
        }
        return time.Shows(clock_->Next(step));
    }

    std::string_view text_;
    ReadResult& result_;
    std::size_t next_ = 0;  // where the next line begins
    int number_ = 0;        // of the current line, 1-based
    std::string_view line_;

    // While the data lines are read.
    std::vector<LogChannel*> channels_;
    std::vector<int> decimals_;
    std::vector<double> values_;
    std::optional<SampleClock> clock_;
    Tenths previous_;  // in the step modes, of the previous line
};

}  // namespace

std::string ReadResult::Message() const {
    return errorLine > 0 ? "line " + std::to_string(errorLine) + ": " + error : error;
}

ReadResult ReadDataText(std::string_view text) {
    ReadResult result;
    if (!Reader(text, result).Read()) {
        result.log = DeviceLog();
        result.samplesNotKept = 0;
    }
    return result;
}

ReadResult ReadDataFile(const std::string& path) {
    ReadResult result;
    // Opening a pipe waits for a writer, and a device never ends: only a
    // regular file is opened at all.
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(path, error).type();
    if (type == std::filesystem::file_type::directory) {
        result.error = std::strerror(EISDIR);
        return result;
    }
    if (!error && type != std::filesystem::file_type::regular) {
        result.error = "not a regular file";
        return result;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        result.error = std::strerror(errno);
        return result;
    }
    // A foreign file is told by its first line, before the whole of it is read.
    std::string text(kTitleLine.size(), '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text != kTitleLine) {
        return ReadDataText(text);
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<std::size_t>(size) > kMaxFileBytes) {
        result.error = "too large for a data file of this program";
        return result;
    }
    text.resize(static_cast<std::size_t>(size));
    file.seekg(0);
    if (!file.read(text.data(), size)) {
        result.error = std::strerror(errno);
        return result;
    }
    return ReadDataText(text);
}
