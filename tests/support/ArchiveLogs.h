#pragma once
// Logs for the archive's tests, written as the data files a download saves.

#include <cstdio>
#include <string>
#include <vector>

#include "datafile/DataFileWriter.h"
#include "device/DeviceLog.h"

namespace archivetest {

struct LogRecipe {
    std::string location = "WELL 7";
    std::string serial = "PX00-012767";       // the channel count follows it
    std::string start = "00:00:00 16/03/24";  // SS:MM:HH DD/MM/YY: 2024-03-16 00:00:00
    std::string rate = "00 00:15:00 0";
    std::string mode = "T   ";
    std::string range = "100.00";             // its decimals are the values' decimals
    std::vector<std::vector<double>> values;  // per channel
    std::vector<uint8_t> steps;               // step modes: per sample
    std::vector<std::string> units;           // per channel; none: cm
};

inline std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

inline DeviceLog MakeLog(const LogRecipe& recipe) {
    const int channels = static_cast<int>(recipe.values.size());
    char count[3];
    std::snprintf(count, sizeof count, "%02d", channels);
    const std::string header = Padded(recipe.location, 20) + Padded(recipe.serial + count, 16) +
                               Padded("12345", 20) + recipe.rate + recipe.mode + recipe.start +
                               "  " + recipe.start;
    DeviceLog log;
    log.parseLogHeader(header.data(), static_cast<int>(header.size()));
    log.setInstrumentInfo("10", "PEXIL    ", "DD   ");
    for (int j = 0; j < channels; ++j) {
        const std::string unit = static_cast<std::size_t>(j) < recipe.units.size()
                                     ? recipe.units[static_cast<std::size_t>(j)]
                                     : "cm";
        const std::string record = Padded(j == 0 ? "LEVEL" : "TEMP " + std::to_string(j), 20) +
                                   Padded("0.0", 10) + Padded(unit, 6) + Padded(recipe.range, 10) +
                                   Padded("cm", 6) + Padded("0.0", 10) + Padded("cm", 6) +
                                   Padded("0.0", 10) + Padded("m", 6);
        LogChannel channel;
        channel.parseChannelHeader(record.data(), static_cast<int>(record.size()));
        log.addChannel(channel);
        for (std::size_t k = 0; k < recipe.values[j].size(); ++k) {
            log.channel(j)->appendValue(recipe.values[j][k],
                                        k < recipe.steps.size() ? recipe.steps[k] : 0);
        }
    }
    return log;
}

// The log saved as a ".omb" file at path, its title naming user (so that
// two saves of one log differ as two downloads do).
inline void SaveLog(const DeviceLog& log, const std::string& path,
                    const std::string& user = "desk") {
    DataFileWriter writer;
    writer.SetTitleSource([user] { return TitleStamp{CivilTime{2024, 4, 1, 12, 0, 0}, user}; });
    writer.Open(path.c_str(), "w");
    WriteWholeLog(writer, log, false);
    writer.Close();
}

// WELL 7's level logger at 15 minutes (PX00-000001: 1100 to 1130 cm from
// 2024-03-16 00:00) and the office's baro at 30 (PX00-000002: 1020 to 1024
// cm): 0.80 to 1.07 m of water.
inline std::vector<LogRecipe> LevelAndBaroLogs() {
    LogRecipe level;
    level.serial = "PX00-000001";
    level.values = {{1100, 1110, 1120, 1130}};
    LogRecipe baro = level;
    baro.serial = "PX00-000002";
    baro.location = "OFFICE";
    baro.rate = "00 00:30:00 0";
    baro.values = {{1020, 1022, 1024}};
    return {level, baro};
}

}  // namespace archivetest
