// Levels from samples: the baro and the water's density at each level
// sample, the water column they give, and the correction the dips make of it.

#include "level/Levels.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <span>
#include <tuple>
#include <utility>

namespace level {
namespace {

using Samples = std::span<const Series::Sample>;

constexpr double kStandardGravity = 9.80665;  // m/s2
constexpr double kWaterDensity = 1000;        // kg/m3
constexpr double kAirDensity = 1.2;           // kg/m3, between a baro and the reference point
constexpr double kTenthsPerDay = 864000;

double Mix(double before, double after, double weight) {
    return before + weight * (after - before);
}

// Where a time falls among held samples. A series is read between two samples
// only when they are at most twice its interval apart: a wider gap is
// missing data, not a slope.
struct Place {
    enum Kind { kOn, kBetween, kBeforeFirst, kAfterLast, kNoInterval, kTooFarApart } kind;
    std::size_t before = 0, after = 0;  // indexes into the held samples; equal when on one
    double weight = 0;                  // of the sample after
};

// The samples of a series that a span holds, read at times that mostly rise
// (one row after another): each search goes on from where the last ended.
class Reader {
  public:
    Reader(const Series& series, int64_t from, int64_t to) : series_(series) {
        const auto first =
            std::lower_bound(series.samples.begin(), series.samples.end(), from, kByTime);
        held_ = {first, std::lower_bound(first, series.samples.end(), to, kByTime)};
    }

    Samples held() const { return held_; }

    Place Locate(int64_t t) {
        const std::size_t i = FirstFrom(t);
        if (i < held_.size() && held_[i].time == t) {
            return {Place::kOn, i, i};
        }
        if (i == 0) {
            return {Place::kBeforeFirst};
        }
        if (i == held_.size()) {
            return {Place::kAfterLast};
        }
        const int64_t gap = held_[i].time - held_[i - 1].time;
        const auto interval = IntervalAt(series_, held_[i - 1].time);
        if (!interval) {
            return {Place::kNoInterval};
        }
        if (gap > kReach * *interval) {
            return {Place::kTooFarApart};
        }
        return {Place::kBetween, i - 1, i, static_cast<double>(t - held_[i - 1].time) / gap};
    }

    // The value at t: on a sample or between two close ones; none otherwise.
    std::optional<double> ValueAt(int64_t t) {
        const Place place = Locate(t);
        if (place.kind != Place::kOn && place.kind != Place::kBetween) {
            return std::nullopt;
        }
        return Mix(held_[place.before].value, held_[place.after].value, place.weight);
    }

  private:
    static constexpr auto kByTime = [](const Series::Sample& sample, int64_t t) {
        return sample.time < t;
    };

    // The index of the first held sample at t or later.
    std::size_t FirstFrom(int64_t t) {
        if (next_ > 0 && held_[next_ - 1].time >= t) {
            next_ =
                std::lower_bound(held_.begin(), held_.begin() + next_, t, kByTime) - held_.begin();
        }
        while (next_ < held_.size() && held_[next_].time < t) {
            ++next_;
        }
        return next_;
    }

    const Series& series_;
    Samples held_;
    std::size_t next_ = 0;
};

std::string UnknownUnit(const Series& series, const char* logger, const std::string& serial) {
    return "unknown pressure unit \"" + series.unit + "\" of " + logger + " " + serial;
}

// The baro assignments as read at the reference point, in Pa.
class Baros {
  public:
    Baros(const std::vector<Baro>& baros, double gravity) : baros_(baros), gravity_(gravity) {}

    // The unit's error, if any.
    std::optional<std::string> Prepare() {
        for (const Baro& baro : baros_) {
            const auto pascal = PascalPer(baro.pressure.unit);
            if (!pascal) {
                return UnknownUnit(baro.pressure, "baro", baro.serial);
            }
            channels_.push_back({Reader(baro.pressure, baro.from, baro.to), *pascal});
        }
        return std::nullopt;
    }

    std::optional<double> At(int64_t t) {
        const auto after =
            std::upper_bound(baros_.begin(), baros_.end(), t,
                             [](int64_t time, const Baro& b) { return time < b.from; });
        if (after == baros_.begin() || t >= std::prev(after)->to) {
            return std::nullopt;
        }
        const Baro& baro = *std::prev(after);
        Channel& channel = channels_[std::prev(after) - baros_.begin()];
        const auto value = channel.reader.ValueAt(t);
        if (!value) {
            return std::nullopt;
        }
        return *value * channel.pascal + kAirDensity * gravity_ * baro.height;
    }

  private:
    struct Channel {
        Reader reader;
        double pascal;
    };
    const std::vector<Baro>& baros_;
    double gravity_;
    std::vector<Channel> channels_;
};

std::string Shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// The depth below the reference point before dips (d0) of a row with values.
double Estimate(const Deployment& deployment, const Row& row) {
    return deployment.cable - *row.waterColumn;
}

// Matches a dip to the deployment's rows (one per held sample): its estimate
// and offset, or why it cannot be used.
void Match(DipUse& use, const Deployment& deployment, Reader& pressure, std::span<const Row> rows) {
    const Place place = pressure.Locate(use.dip.time);
    switch (place.kind) {
        case Place::kBeforeFirst:
            use.why = "before the logger's first sample";
            return;
        case Place::kAfterLast:
            use.why = "after the logger's last sample";
            return;
        case Place::kNoInterval:
            use.why = "between samples and the logger's interval is not known";
            return;
        case Place::kTooFarApart:
            use.why = "the logger's samples around it are too far apart";
            return;
        case Place::kOn:
        case Place::kBetween:
            break;
    }
    for (const std::size_t i : {place.before, place.after}) {
        if (!rows[i].waterColumn) {
            use.why = std::string(rows[i].flags == "B" ? "no baro" : "no temperature") +
                      (place.kind == Place::kOn ? " at its time" : " next to its time");
            return;
        }
    }
    use.estimate = Mix(Estimate(deployment, rows[place.before]),
                       Estimate(deployment, rows[place.after]), place.weight);
    use.offset = use.dip.depth - *use.estimate;
}

// The offset the used dips (in time order) give a row's time, and whether it
// is held from the nearest dip rather than read at or between dips.
std::pair<double, bool> OffsetAt(const std::vector<const DipUse*>& used, int64_t t) {
    const auto k =
        std::lower_bound(used.begin(), used.end(), t,
                         [](const DipUse* use, int64_t time) { return use->dip.time < time; }) -
        used.begin();
    const auto size = static_cast<std::ptrdiff_t>(used.size());
    if (k < size && used[k]->dip.time == t) {
        return {*used[k]->offset, false};
    }
    if (k == 0 || k == size) {
        return {*used[k == 0 ? 0 : size - 1]->offset, true};
    }
    const DipUse& before = *used[k - 1];
    const DipUse& after = *used[k];
    const double weight =
        static_cast<double>(t - before.dip.time) / (after.dip.time - before.dip.time);
    return {Mix(*before.offset, *after.offset, weight), false};
}

// The water's density at a sample, kg/m3; none without a temperature then.
class Densities {
  public:
    explicit Densities(const Density& density) : density_(density) {}

    std::string Words() const {
        if (std::holds_alternative<Kell>(density_)) {
            return "Kell (1975)";
        }
        if (const double* given = std::get_if<double>(&density_)) {
            return Shortest(*given) + " kg/m3";
        }
        return Shortest(kWaterDensity) + " kg/m3";
    }

    std::optional<std::string> Check(const Well& well) const {
        if (const double* given = std::get_if<double>(&density_); given && !(*given > 0)) {
            return "the water's density must be above 0, not " + Shortest(*given);
        }
        if (!std::holds_alternative<Kell>(density_)) {
            return std::nullopt;
        }
        for (const Deployment& deployment : well.deployments) {
            if (!deployment.temperature) {
                return "the density by Kell's formula needs a temperature channel, and " +
                       deployment.serial + " has none";
            }
        }
        return std::nullopt;
    }

    std::optional<double> At(std::optional<Reader>& temperature, int64_t t) const {
        if (const double* given = std::get_if<double>(&density_)) {
            return *given;
        }
        if (!std::holds_alternative<Kell>(density_)) {
            return kWaterDensity;
        }
        const auto celsius = temperature->ValueAt(t);
        if (!celsius) {
            return std::nullopt;
        }
        return KellDensity(*celsius);
    }

  private:
    const Density& density_;
};

std::variant<double, Failed> GravityOf(const Well& well, const Gravity& gravity) {
    double g = kStandardGravity;
    if (std::holds_alternative<Local>(gravity)) {
        if (!well.latitude) {
            return Failed{"local gravity needs the well's latitude"};
        }
        g = LocalGravity(*well.latitude, well.reference);
    } else if (const double* given = std::get_if<double>(&gravity)) {
        g = *given;
    }
    if (!(g > 0)) {
        return Failed{"gravity must be above 0, not " + Shortest(g)};
    }
    return g;
}

// Pascal per unit of each deployment's pressure channel.
std::variant<std::vector<double>, Failed> PascalsOf(const Well& well) {
    std::vector<double> pascals;
    for (const Deployment& deployment : well.deployments) {
        const auto pascal = PascalPer(deployment.pressure.unit);
        if (!pascal) {
            return Failed{UnknownUnit(deployment.pressure, "level logger", deployment.serial)};
        }
        pascals.push_back(*pascal);
    }
    return pascals;
}

// Each dip goes to the deployment whose span holds its time: the dips of
// each deployment, in the order given.
std::vector<std::vector<DipUse*>> AssignDips(const Well& well, std::vector<DipUse>& uses) {
    std::vector<std::vector<DipUse*>> dipsOf(well.deployments.size());
    uses.reserve(well.dips.size());
    for (const Dip& dip : well.dips) {
        DipUse& use = uses.emplace_back();
        use.dip = dip;
        const auto after =
            std::upper_bound(well.deployments.begin(), well.deployments.end(), dip.time,
                             [](int64_t time, const Deployment& d) { return time < d.from; });
        if (after == well.deployments.begin() || dip.time >= std::prev(after)->to) {
            use.why = "no deployment holds its time";
            continue;
        }
        use.deployment = std::prev(after) - well.deployments.begin();
        dipsOf[*use.deployment].push_back(&use);
    }
    return dipsOf;
}

// What the water column over a vented or unvented logger is computed with.
struct Conditions {
    Baros& baros;
    const Densities& densities;
    double gravity;
};

// A row for each pressure sample of deployment d, with its water column
// where the air pressure and the water's density are known then.
void WaterColumns(const Deployment& deployment, std::size_t d, Reader& pressure, double pascal,
                  Conditions at, std::vector<Row>& rows) {
    std::optional<Reader> temperature;
    if (deployment.temperature) {
        temperature.emplace(*deployment.temperature, deployment.from, deployment.to);
    }
    for (const Series::Sample& sample : pressure.held()) {
        Row& row = rows.emplace_back();
        row.time = sample.time;
        row.deployment = d;
        const auto baro = deployment.vented ? 0.0 : at.baros.At(sample.time);
        const auto rho = at.densities.At(temperature, sample.time);
        if (!baro) {
            row.flags = "B";
        } else if (!rho) {
            row.flags = "T";
        } else {
            row.waterColumn = (sample.value * pascal - *baro) / (*rho * at.gravity);
        }
    }
}

// The deployment's dips matched to its rows; those that give an offset, in
// time order, each with its drift since the one before.
std::vector<const DipUse*> MatchDips(const std::vector<DipUse*>& dips, const Deployment& deployment,
                                     Reader& pressure, std::span<const Row> rows) {
    std::vector<const DipUse*> used;
    for (DipUse* use : dips) {
        Match(*use, deployment, pressure, rows);
        if (!use->offset) {
            continue;
        }
        if (!used.empty() && use->dip.time > used.back()->dip.time) {
            const double days = (use->dip.time - used.back()->dip.time) / kTenthsPerDay;
            use->driftMmPerDay = (*use->offset - *used.back()->offset) * 1000 / days;
        }
        used.push_back(use);
    }
    return used;
}

// Each row's depth and level, from its water column and the offsets the dips give.
void Depths(const Well& well, const Deployment& deployment, const std::vector<const DipUse*>& used,
            std::span<Row> rows) {
    for (Row& row : rows) {
        if (!row.waterColumn) {
            continue;
        }
        double offset = 0;
        if (used.empty()) {
            row.flags = "N";
        } else {
            bool held = false;
            std::tie(offset, held) = OffsetAt(used, row.time);
            row.flags = held ? "D" : "";
        }
        row.depth = Estimate(deployment, row) + offset;
        row.level = well.reference - *row.depth;
    }
}

}  // namespace

namespace {

constexpr std::pair<Quantity, std::string_view> kQuantityNames[] = {
    {Quantity::Level, "level"},
    {Quantity::Depth, "depth"},
    {Quantity::WaterColumn, "water_column"}};

}  // namespace

std::string_view QuantityName(Quantity quantity) {
    for (const auto& [q, name] : kQuantityNames) {
        if (q == quantity) {
            return name;
        }
    }
    return {};
}

std::optional<Quantity> QuantityNamed(std::string_view name) {
    for (const auto& [q, text] : kQuantityNames) {
        if (text == name) {
            return q;
        }
    }
    return std::nullopt;
}

const std::optional<double>& MetresOf(const Row& row, Quantity quantity) {
    return quantity == Quantity::Level   ? row.level
           : quantity == Quantity::Depth ? row.depth
                                         : row.waterColumn;
}

std::optional<int64_t> IntervalAt(const Series& series, int64_t t) {
    const auto& intervals = series.intervals;
    const auto after =
        std::upper_bound(intervals.begin(), intervals.end(), t,
                         [](int64_t time, const Series::Interval& i) { return time < i.from; });
    if (after == intervals.begin()) {
        return std::nullopt;
    }
    // A log of no fixed interval gives none to go by.
    return std::prev(after)->tenths > 0 ? std::optional(std::prev(after)->tenths) : std::nullopt;
}

std::variant<Levels, Failed> Compute(const Well& well, const Density& density,
                                     const Gravity& gravity) {
    Levels levels;
    const auto g = GravityOf(well, gravity);
    if (const Failed* failed = std::get_if<Failed>(&g)) {
        return *failed;
    }
    levels.gravity = std::get<double>(g);
    const Densities densities(density);
    levels.density = densities.Words();
    if (const auto why = densities.Check(well)) {
        return Failed{*why};
    }
    Baros baros(well.baros, levels.gravity);
    if (const auto why = baros.Prepare()) {
        return Failed{*why};
    }
    const auto pascals = PascalsOf(well);
    if (const Failed* failed = std::get_if<Failed>(&pascals)) {
        return *failed;
    }
    const std::vector<std::vector<DipUse*>> dipsOf = AssignDips(well, levels.dips);
    std::size_t samples = 0;  // every row made at once: a well holds years of them
    for (const Deployment& deployment : well.deployments) {
        samples += Reader(deployment.pressure, deployment.from, deployment.to).held().size();
    }
    levels.rows.reserve(samples);
    for (std::size_t d = 0; d < well.deployments.size(); ++d) {
        const Deployment& deployment = well.deployments[d];
        Reader pressure(deployment.pressure, deployment.from, deployment.to);
        const std::size_t first = levels.rows.size();
        const double pascal = std::get<std::vector<double>>(pascals)[d];
        WaterColumns(deployment, d, pressure, pascal, {baros, densities, levels.gravity},
                     levels.rows);
        const std::span<Row> rows(levels.rows.begin() + first, levels.rows.end());
        Depths(well, deployment, MatchDips(dipsOf[d], deployment, pressure, rows), rows);
    }
    return levels;
}

}  // namespace level
