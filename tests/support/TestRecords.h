#pragma once
// Builders for the text records the reader sends, so that tests decode logs
// through the real decoders instead of filling fields by hand.

#include <string>
#include <string_view>

#include "device/DeviceLog.h"

namespace test {

// The text cut or blank padded to exactly width characters.
inline std::string Pad(std::string_view text, std::size_t width) {
    std::string field(text.substr(0, width));
    field.resize(width, ' ');
    return field;
}

struct HeaderFields {
    std::string location = "RIVER GAUGE 7";
    std::string serialNumber = "PX00-012767021.0";  // characters 11-12: channel count
    std::string instrumentNumber = "IN-4711";
    std::string sampleRate = "00 00:00:01 5";
    std::string sampleMode = "T   ";
    std::string startTime = "05:04:03 02/01/03";
    std::string endTime = "35:04:03 02/01/03";
};

// The 109-character header text.
inline std::string HeaderText(const HeaderFields& f) {
    return Pad(f.location, 20) + Pad(f.serialNumber, 16) + Pad(f.instrumentNumber, 20) +
           Pad(f.sampleRate, 13) + Pad(f.sampleMode, 4) + Pad(f.startTime, 17) + "  " +
           Pad(f.endTime, 17);
}

struct ChannelFields {
    std::string identification = "WELL LEVEL";
    std::string reference = "  12.50";
    std::string referenceUnit = "cm";
    std::string range = "1000.0";
    std::string rangeUnit = "cm";
    std::string masterLevel = "  5.125";
    std::string masterLevelUnit = "m";
    std::string altitude = "     3";
    std::string altitudeUnit = "m";
};

// The 84-character channel record.
inline std::string ChannelRecord(const ChannelFields& f) {
    return Pad(f.identification, 20) + Pad(f.reference, 10) + Pad(f.referenceUnit, 6) +
           Pad(f.range, 10) + Pad(f.rangeUnit, 6) + Pad(f.masterLevel, 10) +
           Pad(f.masterLevelUnit, 6) + Pad(f.altitude, 10) + Pad(f.altitudeUnit, 6);
}

inline LogChannel DecodeChannel(const ChannelFields& f) {
    LogChannel channel;
    const std::string record = ChannelRecord(f);
    channel.parseChannelHeader(record.data(), static_cast<int>(record.size()));
    return channel;
}

inline DeviceLog DecodeLog(const HeaderFields& f, std::string_view typeDigits = "10") {
    DeviceLog log;
    const std::string text = HeaderText(f);
    log.parseLogHeader(text.data(), static_cast<int>(text.size()));
    const std::string digits(typeDigits);
    log.setInstrumentInfo(digits.c_str(), "PEXIL    ", "DD   ");
    return log;
}

}  // namespace test
