#pragma once
// Series as the archive writes them for other programs: CSV with a column
// "time_utc" (ISO 8601 in UTC with the tenths) and one column per series,
// named by its identification and unit ("LEVEL [M]"), and by its logger's
// serial number too when the series come from more than one logger. A row
// per time any of them has a sample, in time order; a cell is empty where a
// series has none then. Values as the data file printed them. pandas and R
// read it with nothing but the dates to parse.

#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace archive {

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);

// samples[i]: the samples of series[i], in time order.
std::string SeriesCsv(const std::vector<SeriesName>& series,
                      const std::vector<std::vector<StoredSample>>& samples);

// A well's record: "time_utc,IDENTIFICATION [UNIT],logger", a row per sample.
std::string WellCsv(const WellRecord& record);

// A well's levels within [from, to]: "time_utc,water_column_m,depth_m,
// level_m,flags", a row per pressure sample, metres with four decimals,
// empty where there is none.
std::string LevelCsv(const level::Levels& levels, std::optional<int64_t> from,
                     std::optional<int64_t> to);
// What became of each dip: "time_utc,depth_m,note,logger,estimate_m,
// offset_m,drift_mm_per_day,not_used_because".
std::string DipsCsv(const level::Well& well, const level::Levels& levels);

// A field sheet of dips: lines "well,time,depth_m[,note]" (a first line of
// those titles is skipped), fields quoted as CSV quotes them, times ISO 8601
// with Z or an offset. Why not, naming the line, when a line is not one.
struct DipSheet {
    std::vector<std::pair<std::string, DipRow>> dips;
    std::string why;
};
DipSheet ReadDipSheet(const std::string& text);

}  // namespace archive
