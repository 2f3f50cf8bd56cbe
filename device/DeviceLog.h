#pragma once
// One log as downloaded from the reader: the instrument header, one channel
// per measured quantity with its own header and samples, and the list of
// downloaded logs the main window keeps.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "device/OwnedList.h"
#include "device/Tenths.h"

inline constexpr int RESULT_OK = 100;
inline constexpr int RESULT_BAD_INPUT = 101;  // a required text is missing or too short
inline constexpr int RESULT_FULL = 102;       // a sample was not appended

// Text fields are fixed width, blank padded and not necessarily zero
// terminated; read them with FieldText (device/FixedText.h).
struct LogHeader {
    char location[20] = {};
    char serialNumber[16] = {};  // characters 5-10: short serial, 11-12: channel count
    char instrumentNumber[20] = {};
    int32_t channelCount = 0;  // as announced by the header text
    char sampleRate[13] = {};  // "DD HH:MM:SS T"
    char sampleMode[4] = {};   // "T..." fixed interval, "L..." step modes
    char startTime[17] = {};   // "SS:MM:HH DD/MM/YY"
    char endTime[17] = {};
    int32_t instrumentType = 0;
    char instrumentTypeName[9] = {};
    char instrumentTypeTag[5] = {};

    // The six characters at positions 5-10 of the serial number, up to a zero byte.
    std::string_view shortSerial() const;
    bool isStepMode() const { return sampleMode[0] == 'L'; }
    // What the sample mode is shown as: "Fixed", the pump tests, "Event
    // Based", or the four stored characters.
    std::string_view sampleModeName() const;
};

struct ChannelHeader {
    char identification[20] = {};  // 10 significant characters for instrument types 4 and 5
    double referenceLevel = 0.0;   // added to every sample
    char referenceUnit[6] = {};
    double range = 0.0;  // scales every sample
    char rangeUnit[6] = {};
    double masterLevel = 0.0;
    char masterLevelUnit[6] = {};
    double altitude = 0.0;
    char altitudeUnit[6] = {};
    int32_t referenceDecimals = 0;
    int32_t rangeDecimals = 0;  // sample values are printed with this many decimals
    int32_t masterLevelDecimals = 0;
    int32_t altitudeDecimals = 0;
};

// What an instrument type changes in a log, for the data files, the data
// window and the Graph alike.
struct InstrumentTraits {
    std::string_view fileText;  // its "Instrument type" line in a data file
    int fileType;               // the type that line reads back as
    // Types 4 and 5: a switch level, and the rim parameters in characters
    // 10-19 of the first channel's identification, which keeps 10 of its own.
    bool switchLevel;
    std::string_view levelName;  // a channel's third number
    bool altitude;               // a channel's altitude means something
};
const InstrumentTraits& TraitsOf(int instrumentType);
// The types a data file can name, each once, the common one first.
std::span<const InstrumentTraits> FileInstrumentTypes();
// The identification characters a channel has: 10 or 20.
inline std::size_t IdentificationWidth(int instrumentType) {
    return TraitsOf(instrumentType).switchLevel ? 10 : sizeof(ChannelHeader::identification);
}
// A channel's name: its first IdentificationWidth characters.
std::string_view ChannelIdentification(const ChannelHeader& channel, int instrumentType);

// A sample mode: the text a data file states for it (empty: the four stored
// characters) and its name.
struct SampleModeTraits {
    std::string_view stored;  // the stored characters it is known by ("T", "LA" ...)
    std::string_view text;
    std::string_view name;
};
// Null for a mode of none of the kinds.
const SampleModeTraits* SampleModeOf(const LogHeader& header);

// The value of a sample from its two base-250 digits, low first: the raw
// value 30000 stands for the channel's full range.
double DecodeSample(const ChannelHeader& header, uint8_t lowByte, uint8_t highByte);

inline constexpr int LOG_HEADER_TEXT_LENGTH = 109;
inline constexpr int CHANNEL_RECORD_LENGTH = 84;

class LogChannel {
  public:
    static constexpr int kMaxSamples = 30000;
    static constexpr double kNoValue = -100.0;  // sampleValue out of range
    static constexpr uint8_t kNoStep = 156;     // stepByte out of range

    LogChannel() { reset(); }

    // Defaults: "LEVEL", units "CM", values and decimals 0, mode "T   ", no samples.
    void reset();
    // Decodes an 84-byte channel record; 101 when the text is missing or shorter.
    int parseChannelHeader(const char* text, int length);
    // Decodes one sample from its two base-250 digits (low first); 102 when full.
    int appendSample(uint8_t lowByte, uint8_t highByte, uint8_t stepByte);
    // Appends a value already decoded (read back from a data file); 102 when full.
    int appendValue(double value, uint8_t stepByte);
    // Keeps the first count samples, dropping the rest.
    void keepFirst(int count);

    int sampleCount() const { return static_cast<int>(values_.size()); }
    double sampleValue(int index) const;
    uint8_t stepByte(int index) const;
    std::span<const double> values() const { return values_; }
    std::span<const uint8_t> stepBytes() const { return stepBytes_; }

    const ChannelHeader& header() const { return header_; }
    ChannelHeader& header() { return header_; }
    std::string_view sampleMode() const { return {sampleMode_, sizeof sampleMode_}; }
    void setSampleMode(const char (&mode)[4]);

  private:
    ChannelHeader header_;
    char sampleMode_[4] = {};
    // Both hold exactly sampleCount elements; capacity grows geometrically.
    std::vector<double> values_;
    std::vector<uint8_t> stepBytes_;
};

using ChannelList = OwnedList<LogChannel>;

// Seconds since 1970-01-01 00:00:00 UTC of a "SS:MM:HH DD/MM/YY" field (year
// 2000 + YY). Each pair is read as an integer (" 2" is 2); values outside
// their range count on into the next field, as mktime counts them. Every
// field gives a time: the two-digit pairs cannot leave the seconds' range.
int64_t DateFieldSeconds(const char (&field)[17]);

// Tenths of a second of a "DD HH:MM:SS T" field; 10 when the sum is not positive.
uint32_t SampleRateTenths(const char (&rate)[13]);

class DeviceLog {
  public:
    DeviceLog();

    // Decodes the 109-character header text; 101 when missing or shorter.
    int parseLogHeader(const char* text, int length);
    // Type digits, name and tag of the log information block; with any of
    // them missing, the defaults (10, "PEXIL    ", "DD   ") and 101.
    int setInstrumentInfo(const char* typeDigits, const char* name, const char* tag);
    // Appends a deep copy that takes the log's sample mode.
    int addChannel(const LogChannel& channel);

    // None past the channels held; the first channel for a negative index.
    const LogChannel* channel(int index) const { return channels_.item(index); }
    LogChannel* channel(int index) { return channels_.item(index); }
    const ChannelList& channels() const { return channels_; }
    // What the header text announces; may differ from channels().count().
    int channelCount() const { return header_.channelCount; }

    const LogHeader& header() const { return header_; }
    LogHeader& header() { return header_; }

    int64_t startSeconds() const { return DateFieldSeconds(header_.startTime); }
    int64_t endSeconds() const { return DateFieldSeconds(header_.endTime); }
    Tenths startTime() const { return Tenths::OfSeconds(startSeconds()); }
    Tenths sampleInterval() const { return Tenths(SampleRateTenths(header_.sampleRate)); }
    uint64_t expectedSampleCount() const;

  private:
    LogHeader header_;
    ChannelList channels_;
};

using LogList = OwnedList<DeviceLog>;
