#pragma once
// Series as the archive writes them for other programs: CSV with a column
// "time_utc" (ISO 8601 in UTC with the tenths) and one column per series,
// named by its identification and unit ("LEVEL [M]"), and by its logger's
// serial number too when the series come from more than one logger. A row
// per time any of them has a sample, in time order; a cell is empty where a
// series has none then. Values as the data file printed them. pandas and R
// read it with nothing but the dates to parse.

#include <string>
#include <vector>

#include "archive/Archive.h"

namespace archive {

// samples[i]: the samples of series[i], in time order.
std::string SeriesCsv(const std::vector<SeriesName>& series,
                      const std::vector<std::vector<StoredSample>>& samples);

// A well's record: "time_utc,IDENTIFICATION [UNIT],logger", a row per sample.
std::string WellCsv(const WellRecord& record);

}  // namespace archive
