#include "archive/SeriesCsv.h"

#include <algorithm>
#include <limits>

#include "archive/IsoTime.h"

namespace archive {

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

namespace {

// A number of metres or mm/day with its decimals, as printf prints it (no
// "-0.0000"); nothing when there is none.
void AppendFixed(std::string& out, const std::optional<double>& value, int decimals) {
    if (const std::optional<Decimal> printed = value ? DecimalOf(*value, decimals) : std::nullopt) {
        AppendDecimal(out, *printed);
    }
}

std::string Fixed(const std::optional<double>& value, int decimals) {
    std::string text;
    AppendFixed(text, value, decimals);
    return text;
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
        AppendIsoTime(csv, time);
        for (std::size_t i = 0; i < series.size(); ++i) {
            csv += ',';
            if (next[i] < samples[i].size() && samples[i][next[i]].time == time) {
                AppendDecimal(csv, samples[i][next[i]].value);
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
        AppendIsoTime(csv, row.time);
        csv += ',';
        AppendDecimal(csv, row.value);
        csv += ',';
        csv += loggers[row.logger];
        csv += '\n';
    }
    return csv;
}

std::string LevelCsv(const level::Levels& levels, std::optional<int64_t> from,
                     std::optional<int64_t> to) {
    std::string csv = "time_utc,water_column_m,depth_m,level_m,flags\n";
    csv.reserve(csv.size() + levels.rows.size() * 56);
    for (const level::Row& row : levels.rows) {
        if ((from && row.time < *from) || (to && row.time > *to)) {
            continue;
        }
        AppendIsoTime(csv, row.time);
        for (const std::optional<double>& metres : {row.waterColumn, row.depth, row.level}) {
            csv += ',';
            AppendFixed(csv, metres, 4);
        }
        csv += ',';
        csv += row.flags;
        csv += '\n';
    }
    return csv;
}

std::string DipsCsv(const level::Well& well, const level::Levels& levels) {
    std::string csv =
        "time_utc,depth_m,note,logger,estimate_m,offset_m,drift_mm_per_day,not_used_because\n";
    for (const level::DipUse& use : levels.dips) {
        csv += IsoTime(use.dip.time) + ',' + Fixed(use.dip.depth, 4) + ',' +
               CsvField(use.dip.note) + ',' +
               (use.deployment ? CsvField(well.deployments[*use.deployment].serial) : "") + ',' +
               Fixed(use.estimate, 4) + ',' + Fixed(use.offset, 4) + ',' +
               Fixed(use.driftMmPerDay, 2) + ',' + CsvField(use.why) + '\n';
    }
    return csv;
}

namespace {

// The fields of a CSV line; none when a quote is not closed.
std::optional<std::vector<std::string>> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    return fields;
}

}  // namespace

DipSheet ReadDipSheet(const std::string& text) {
    DipSheet sheet;
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" ,") == std::string::npos ||
            (number == 1 && line.starts_with("well,"))) {
            continue;  // blank, or the titles
        }
        const std::string at = "line " + std::to_string(number) + ": ";
        const auto fields = Fields(line);
        if (!fields || fields->size() < 3 || fields->size() > 4) {
            sheet.why = at + "not well,time,depth_m[,note]";
            return sheet;
        }
        const std::optional<int64_t> time = ParseIsoTime((*fields)[1], false);
        if (!time || (*fields)[1].size() <= 10) {
            sheet.why = at + "the time " + (*fields)[1] +
                        " is not one as 2024-03-16T15:00:00Z or 2024-03-16T16:00:00+01:00";
            return sheet;
        }
        if (!NumberOf((*fields)[2])) {
            sheet.why = at + "the depth " + (*fields)[2] + " is not a number of metres";
            return sheet;
        }
        sheet.dips.push_back(
            {(*fields)[0], {*time, (*fields)[2], fields->size() > 3 ? (*fields)[3] : ""}});
    }
    return sheet;
}

}  // namespace archive
