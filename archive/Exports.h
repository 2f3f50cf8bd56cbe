#pragma once
// A series in the forms other tools read without editing:
// - pandas: "time_utc,<quantity>_<unit>", one row per sample that has a
//   value, times "YYYY-MM-DD HH:MM:SS" in UTC without a zone (pastas refuses
//   an index that carries one; tenths only where a time has them), values
//   with the decimals they carry. `pd.read_csv(f, index_col=0,
//   parse_dates=True).squeeze("columns")` gives a float series.
// - WaterML 2.0: a wml2:Collection with one om:OM_Observation per series:
//   what it measures, where (the well, its reference point and datum), how
//   its values came to be, and a wml2:MeasurementTimeseries of its points in
//   UTC, a point without a value nil with its reason. Every gml:id is unique
//   in the document.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace archive {

struct ExportSeries {
    std::string quantity;  // "level", "depth", "water_column", "LEVEL"
    std::string unit;      // "m", "cm"
    struct Point {
        int64_t time;                  // UTC tenths
        std::optional<Decimal> value;  // none: no value then
    };
    std::vector<Point> points;  // in time order
    std::string nilReason;      // why a point has none
    std::string feature;        // the well or the logger it was measured at
    std::string featureText;    // about it: "reference point 10.50 m NAP (top of casing)"
    std::string datum;          // the datum its values are above; empty: none
    std::string procedure;      // how the values came to be, in words
};

// A well's levels within [from, to] (UTC tenths, both included), in metres
// with four decimals; a sample without a value is kept as a nil point.
ExportSeries LevelExport(const WellLevels& levels, const std::string& well,
                         level::Quantity quantity, std::optional<int64_t> from,
                         std::optional<int64_t> to);
// A well's record of a channel across its loggers.
ExportSeries RecordExport(const WellRecord& record, const std::string& well);
// A logger's channel as kept.
ExportSeries SeriesExport(const SeriesName& series, const std::vector<StoredSample>& samples);

std::string PandasCsv(const ExportSeries& series);
// generated: when the document was made, seconds since 1970 UTC.
std::string WaterMl(const std::vector<ExportSeries>& series, int64_t generated);

}  // namespace archive
