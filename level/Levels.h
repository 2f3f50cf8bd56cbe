#pragma once
// Water levels from a well's raw samples and its declared facts. A level
// logger records absolute pressure (the water above it and the air above
// that); its barometric twin the air alone. Subtracted, and divided by the
// water's density and gravity, the difference is the water column above the
// sensor; hung on a cable from the well's reference point (the top of its
// casing), that gives the depth to water, corrected by the manual readings
// ("dips") taken with a tape from the same point. Nothing here changes a
// sample: the same inputs give the same levels, every time.
//
// All times are UTC tenths of a second since 1970, after each logger's
// clock offset; a span holds what lies from its start (included) to its end
// (excluded).

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace level {

constexpr int64_t kOpen = std::numeric_limits<int64_t>::max();  // a span without an end

// A logger's channel as read: its samples in time order (values in the
// channel's unit), and the interval its logs recorded at from each time on.
struct Series {
    struct Sample {
        int64_t time;
        double value;
    };
    struct Interval {
        int64_t from;    // UTC tenths: from this time on...
        int64_t tenths;  // ...the logger recorded at this interval (0: at none fixed)
    };
    std::vector<Sample> samples;
    std::vector<Interval> intervals;  // in time order; none: the interval is not known
    std::string unit;                 // as the channel names it ("cm", "mbar", ...)
};

// A level logger's stay in the well.
struct Deployment {
    std::string serial;
    int64_t from = 0, to = kOpen;
    Series pressure;
    std::optional<Series> temperature;  // degrees Celsius; for the density by Kell's formula
    double cable = 0;                   // m, from the reference point to the sensor
    bool vented = false;                // measures the water column alone: no baro needed
};

// A barometric logger's channel assigned to the well for a span.
struct Baro {
    std::string serial;
    int64_t from = 0, to = kOpen;
    Series pressure;
    double height = 0;  // m above the well's reference point
};

// A manual reading: depth to water below the reference point.
struct Dip {
    int64_t time = 0;
    double depth = 0;  // m
    std::string note;
};

struct Kell {};   // density from the water's temperature
struct Local {};  // gravity from the well's latitude and elevation
using Density = std::variant<std::monostate, double, Kell>;   // none: 1000 kg/m3
using Gravity = std::variant<std::monostate, double, Local>;  // none: 9.80665 m/s2

struct Well {
    double reference = 0;                 // elevation of the reference point above the datum, m
    std::string datum;                    // "m NAP", ...
    std::optional<double> latitude;       // degrees
    std::optional<double> ground;         // elevation of the ground, m
    std::vector<Deployment> deployments;  // in time order, not overlapping
    std::vector<Baro> baros;              // in time order, not overlapping
    std::vector<Dip> dips;                // in time order
};

// One pressure sample of a deployment, computed. No baro at its time: no
// values and the flag B alone. Flags: B no baro; N no dip in its deployment
// matched, so not corrected; D its offset is held from the nearest dip
// (before the first or after the last matched one); T no temperature for the
// density (Kell's formula asked).
struct Row {
    int64_t time;
    std::size_t deployment;                           // index in Well::deployments
    std::optional<double> waterColumn, depth, level;  // m
    std::string_view flags;  // one of "B", "N", "D", "T", or none: years of rows stay small
};

// What became of a dip.
struct DipUse {
    Dip dip;
    std::optional<std::size_t> deployment;  // matched to: the one whose span holds its time
    std::optional<double> estimate;         // the logger's depth at its time before dips (d0), m
    std::optional<double> offset;           // dip depth - estimate, m
    std::optional<double> driftMmPerDay;  // offset change since the deployment's previous used dip
    std::string why;                      // not used: why ("no deployment holds its time", ...)
};

struct Levels {
    std::vector<Row> rows;     // every pressure sample of every deployment, in time order
    std::vector<DipUse> dips;  // as Well::dips
    double gravity = 0;        // m/s2, as used
    std::string density;       // as used, in words: "1000 kg/m3", "Kell (1975)", "998.2 kg/m3"
};

// An error names what stopped the computation: "unknown pressure unit
// \"furlong\" of level logger PX00-00000101".
struct Failed {
    std::string why;
};

std::variant<Levels, Failed> Compute(const Well& well, const Density& density,
                                     const Gravity& gravity);

// A series is read between two of its samples only when they are at most
// this many of its intervals apart: a wider gap is missing data, not a slope.
constexpr int64_t kReach = 2;
// The interval (tenths) a series recorded at from t on; none when it is not
// known or the log had none fixed.
std::optional<int64_t> IntervalAt(const Series& series, int64_t t);

// What a row gives of a well's water: its level above the datum, its depth
// below the reference point, or the water column above the sensor.
enum class Quantity { Level, Depth, WaterColumn };
// "level", "depth", "water_column": the names files and commands give them.
std::string_view QuantityName(Quantity quantity);
std::optional<Quantity> QuantityNamed(std::string_view name);
// The row's metres of the quantity; none when it has none.
const std::optional<double>& MetresOf(const Row& row, Quantity quantity);

// Pascal per unit of a channel's unit text (read without case and blanks:
// "cmH2O", "cm" and "CM H2O" alike); none when it is not a pressure unit.
std::optional<double> PascalPer(const std::string& unit);
// Kell (1975): kg/m3 of water at celsius.
double KellDensity(double celsius);
// m/s2 at a latitude (degrees) and an elevation (m).
double LocalGravity(double latitude, double elevation);

}  // namespace level
