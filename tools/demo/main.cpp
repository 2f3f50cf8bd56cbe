// arvelo-demo [OUTDIR]: decodes a day of readings from a well logger, as the
// reader would send them, and writes its ".omb" and ".csv" data files into
// OUTDIR (default: the current directory), printing their paths.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "datafile/DataFileWriter.h"
#include "device/DeviceLog.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Pad(std::string_view text, std::size_t width) {
    std::string field(text.substr(0, width));
    field.resize(width, ' ');
    return field;
}

// The 109-character header text: a two-channel logger sampling every 15
// minutes for a day from 2024-05-14 08:00:00.
std::string HeaderText() {
    return Pad("WELL 3 NORTH FIELD", 20) + Pad("PX00-027413022.1", 16) + Pad("PX-27413", 20) +
           Pad("00 00:15:00 0", 13) + Pad("T", 4) + Pad("00:00:08 14/05/24", 17) + "  " +
           Pad("00:00:08 15/05/24", 17);
}

std::string ChannelRecord(std::string_view id, std::string_view reference, std::string_view range,
                          std::string_view masterLevel, std::string_view altitude,
                          std::string_view unit) {
    return Pad(id, 20) + Pad(reference, 10) + Pad(unit, 6) + Pad(range, 10) + Pad(unit, 6) +
           Pad(masterLevel, 10) + Pad(unit, 6) + Pad(altitude, 10) + Pad("m", 6);
}

// The two base-250 digits the logger stores for a value of the channel.
void AppendValue(LogChannel& channel, double value) {
    const ChannelHeader& h = channel.header();
    const long raw = std::lround((value - h.referenceLevel) / h.range * 30000.0);
    const long clamped = raw < 0 ? 0 : raw > 30000 ? 30000 : raw;
    channel.appendSample(static_cast<uint8_t>(clamped % 250), static_cast<uint8_t>(clamped / 250),
                         0);
}

DeviceLog DemoLog() {
    DeviceLog log;
    const std::string header = HeaderText();
    log.parseLogHeader(header.data(), static_cast<int>(header.size()));
    log.setInstrumentInfo("10", "PEXIL    ", "DD   ");
    const std::string records[] = {
        ChannelRecord("WELL 3 LEVEL", "  98.000", "10.000", "100.00", "245.5", "m"),
        ChannelRecord("WATER TEMPERATURE", "   0.0", "40.00", "0", "245.5", "C"),
    };
    for (const std::string& record : records) {
        LogChannel channel;
        channel.parseChannelHeader(record.data(), static_cast<int>(record.size()));
        log.addChannel(channel);
    }
    const int samples = static_cast<int>(log.expectedSampleCount()) + 1;
    for (int k = 0; k < samples; ++k) {
        const double hours = k * 0.25;
        // Tide-driven head with a slow drawdown, and a daily temperature swing.
        AppendValue(*log.channel(0),
                    103.2 + 0.42 * std::sin(2 * kPi * hours / 12.42) - 0.015 * hours);
        AppendValue(*log.channel(1), 11.5 + 1.2 * std::sin(2 * kPi * (hours - 6) / 24));
    }
    return log;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : ".";
    if (!dir.empty() && dir.back() != '/') {
        dir += '/';
    }
    const DeviceLog log = DemoLog();
    for (const char* extension : {".omb", ".csv"}) {
        const std::string path = dir + "arvelo-demo" + extension;
        DataFileWriter writer;
        if (writer.Open(path.c_str(), "w") != 0) {
            std::fprintf(stderr, "arvelo-demo: cannot create %s\n", path.c_str());
            return 1;
        }
        writer.WriteLog(&log);
        WriteLogSamples(writer, log, UsesCommaLayout(extension));
        if (const int error = writer.Close(); error != 0) {
            std::fprintf(stderr, "arvelo-demo: writing %s failed (error %d)\n", path.c_str(),
                         error);
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
