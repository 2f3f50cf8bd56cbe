#include "archive/SeriesCsv.h"

#include <algorithm>
#include <limits>

#include "archive/IsoTime.h"

namespace archive {

namespace {

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

}  // namespace

std::string SeriesCsv(const std::vector<SeriesName>& series,
                      const std::vector<std::vector<StoredSample>>& samples) {
    const bool loggers = std::any_of(series.begin(), series.end(), [&](const SeriesName& s) {
        return s.serial != series.front().serial;
    });
    std::string csv = "time_utc";
    std::size_t rows = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const SeriesName& s = series[i];
        csv += ',' +
               CsvField((loggers ? s.serial + " " : "") + s.identification + " [" + s.unit + "]");
        rows = std::max(rows, samples[i].size());
    }
    csv += '\n';
    csv.reserve(csv.size() + rows * (26 + 10 * series.size()));
    // The series merged by time: each row takes the samples at the earliest time left.
    std::vector<std::size_t> next(series.size(), 0);
    for (;;) {
        int64_t time = std::numeric_limits<int64_t>::max();
        for (std::size_t i = 0; i < series.size(); ++i) {
            if (next[i] < samples[i].size()) {
                time = std::min(time, samples[i][next[i]].time);
            }
        }
        if (time == std::numeric_limits<int64_t>::max()) {
            return csv;
        }
        csv += IsoTime(time);
        for (std::size_t i = 0; i < series.size(); ++i) {
            csv += ',';
            if (next[i] < samples[i].size() && samples[i][next[i]].time == time) {
                csv += DecimalText(samples[i][next[i]].value);
                ++next[i];
            }
        }
        csv += '\n';
    }
}

std::string WellCsv(const WellRecord& record) {
    std::string csv =
        "time_utc," + CsvField(record.identification + " [" + record.unit + "]") + ",logger\n";
    std::vector<std::string> loggers;
    for (const std::string& serial : record.loggers) {
        loggers.push_back(CsvField(serial));
    }
    csv.reserve(csv.size() + record.rows.size() * 48);
    for (const WellRecord::Row& row : record.rows) {
        csv += IsoTime(row.time) + ',' + DecimalText(row.value) + ',' + loggers[row.logger] + '\n';
    }
    return csv;
}

}  // namespace archive
