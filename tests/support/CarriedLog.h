#pragma once
// Whether a log read back from a data file is the log that was written, as
// far as the file carries a log (datafile/DataFileReader.h lists what it
// carries and what not).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "datafile/DataFileFormat.h"
#include "device/DeviceLog.h"
#include "device/FixedText.h"

namespace test {

// Empty when read is written as its file carries it; else the first difference.
inline std::string CarriedDifference(const DeviceLog& written, const DeviceLog& read) {
    const LogHeader& w = written.header();
    const LogHeader& r = read.header();
    const auto field = [](const char* what, std::string_view a, std::string_view b) {
        return a == b ? std::string() : std::string(what) + " differs";
    };
    const auto mode = [](std::string_view four) {
        LogHeader header;
        std::memcpy(header.sampleMode, four.data(), sizeof header.sampleMode);
        return omb::SampleModeValue(header);
    };
    for (const std::string& d :
         {field("location", FieldText(w.location), FieldText(r.location)),
          field("serial number", FieldText(w.serialNumber), FieldText(r.serialNumber)),
          field("instrument number", FieldText(w.instrumentNumber), FieldText(r.instrumentNumber)),
          field("sample rate", FieldText(w.sampleRate), FieldText(r.sampleRate)),
          field("start time", FieldText(w.startTime), FieldText(r.startTime)),
          field("end time", FieldText(w.endTime), FieldText(r.endTime)),
          field("sample mode", omb::SampleModeValue(w), omb::SampleModeValue(r)),
          field("instrument type", TraitsOf(w.instrumentType).fileText,
                TraitsOf(r.instrumentType).fileText),
          field("channel count", std::to_string(w.channelCount), std::to_string(r.channelCount)),
          field("channels held", std::to_string(written.channels().count()),
                std::to_string(read.channels().count()))}) {
        if (!d.empty()) {
            return d;
        }
    }
    const LogChannel* first = written.channel(0);
    const int samples = first ? first->sampleCount() : 0;
    for (int j = 0; j < written.channels().count(); ++j) {
        const LogChannel& a = *written.channel(j);
        const LogChannel& b = *read.channel(j);
        const ChannelHeader& ha = a.header();
        const ChannelHeader& hb = b.header();
        const std::string channel = "channel " + std::to_string(j + 1) + ": ";
        const std::size_t width = IdentificationWidth(w.instrumentType);
        if (FieldText(ha.identification, width) != FieldText(hb.identification, width)) {
            return channel + "identification differs";
        }
        if (j == 0 && TraitsOf(w.instrumentType).switchLevel) {
            for (const omb::RimGroup& group : omb::kRimGroups) {
                if (DecimalText(omb::RimValue(ha.identification, group), omb::kRimDecimals) !=
                    DecimalText(omb::RimValue(hb.identification, group), omb::kRimDecimals)) {
                    return channel + std::string(group.key) + " differs";
                }
            }
        }
        const struct {
            const char* what;
            double a, b;
            int32_t da, db;
            std::string_view ua, ub;
        } numbers[] = {
            {"reference", ha.referenceLevel, hb.referenceLevel, ha.referenceDecimals,
             hb.referenceDecimals, FieldText(ha.referenceUnit), FieldText(hb.referenceUnit)},
            {"range", ha.range, hb.range, ha.rangeDecimals, hb.rangeDecimals,
             FieldText(ha.rangeUnit), FieldText(hb.rangeUnit)},
            {"master level", ha.masterLevel, hb.masterLevel, ha.masterLevelDecimals,
             hb.masterLevelDecimals, FieldText(ha.masterLevelUnit), FieldText(hb.masterLevelUnit)},
            {"altitude", ha.altitude, hb.altitude, ha.altitudeDecimals, hb.altitudeDecimals,
             FieldText(ha.altitudeUnit), FieldText(hb.altitudeUnit)},
        };
        for (const auto& n : numbers) {
            const int decimals = std::clamp(n.da, 0, omb::kMaxDecimals);
            // A number that is not finite is printed without decimals.
            if (DecimalText(n.a, decimals) != DecimalText(n.b, decimals) ||
                (std::isfinite(n.a) && decimals != n.db) || n.ua != n.ub) {
                return channel + n.what + " differs";
            }
        }
        if (mode(a.sampleMode()) != mode(b.sampleMode())) {
            return channel + "sample mode differs";
        }
        if (b.sampleCount() != samples) {
            return channel + std::to_string(b.sampleCount()) + " samples, not " +
                   std::to_string(samples);
        }
        for (int k = 0; k < samples; ++k) {
            const uint8_t step = w.isStepMode() ? first->stepByte(k) : 0;
            if (DecimalText(a.sampleValue(k), ha.rangeDecimals) !=
                    DecimalText(b.sampleValue(k), ha.rangeDecimals) ||
                b.stepByte(k) != step) {
                return channel + "sample " + std::to_string(k) + " differs";
            }
        }
    }
    return {};
}

}  // namespace test
