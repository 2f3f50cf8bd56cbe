#pragma once
// Decoded logs for the tests that write or show them.

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/TestRecords.h"

namespace test {

struct Sample {
    uint8_t low = 0;
    uint8_t high = 0;
    uint8_t step = 0;
};

// A log decoded from reader records; channel j gets samples[j].
inline DeviceLog MakeLog(const HeaderFields& header, const std::vector<ChannelFields>& channels,
                         const std::vector<std::vector<Sample>>& samples,
                         std::string_view typeDigits = "10") {
    DeviceLog log = DecodeLog(header, typeDigits);
    for (const ChannelFields& fields : channels) {
        log.addChannel(DecodeChannel(fields));
    }
    for (std::size_t j = 0; j < samples.size(); ++j) {
        for (const Sample& s : samples[j]) {
            log.channel(static_cast<int>(j))->appendSample(s.low, s.high, s.step);
        }
    }
    return log;
}

// Level in cm with 1 decimal of range (1000.0), and a temperature channel
// with 2 decimals.
inline const ChannelFields kLevel{};
inline const ChannelFields kTemperature{.identification = "TEMPERATURE",
                                        .reference = "-5.0",
                                        .referenceUnit = "C",
                                        .range = "50.00",
                                        .rangeUnit = "C",
                                        .masterLevel = "0",
                                        .masterLevelUnit = "C",
                                        .altitude = "0.0",
                                        .altitudeUnit = "m"};

}  // namespace test
