#include "graph/LevelTraces.h"

#include <limits>

#include "device/FixedText.h"
#include "device/SampleTime.h"

namespace {

constexpr LengthUnit kLengthUnits[] = {{"m", 1, 3}, {"cm", 100, 1}, {"ft", 1 / 0.3048, 3}};
constexpr int kPressureDecimals = 2;

// A trace drawn sample by sample, broken where the levels would not read
// across: between two loggers, or across a gap wider than the logger's reach.
struct Drawn {
    PlotTrace trace;
    const level::Series* series = nullptr;  // of the last sample
    int64_t last = 0;

    void Add(const level::Series& of, int64_t time, double value) {
        if (series != nullptr) {
            const auto interval = level::IntervalAt(of, last);
            const bool joined =
                series == &of && (!interval || time - last <= level::kReach * *interval);
            if (!joined) {
                trace.times.push_back(SampleTimeOf(Tenths(last + (time - last) / 2)));
                trace.values.push_back(std::numeric_limits<double>::quiet_NaN());
            }
        }
        trace.times.push_back(SampleTimeOf(Tenths(time)));
        trace.values.push_back(value);
        series = &of;
        last = time;
    }
};

// The raw pressures of a kind of logger, a trace per unit: each unit has its
// pane. One logger's samples are not joined to the next logger's.
void AddPressure(std::vector<Drawn>& traces, const std::string& name, const level::Series& series) {
    Drawn* drawn = nullptr;
    for (Drawn& d : traces) {
        if (d.trace.name == name && d.trace.unit == series.unit) {
            drawn = &d;
        }
    }
    if (drawn == nullptr) {
        drawn = &traces.emplace_back();
        drawn->trace.name = name;
        drawn->trace.unit = series.unit;
        drawn->trace.decimals = kPressureDecimals;
    }
    for (const level::Series::Sample& sample : series.samples) {
        drawn->Add(series, sample.time, sample.value);
    }
}

// The datum's name without the length its text may begin with: "NAP" of "m NAP".
std::string DatumName(const std::string& datum) {
    for (const LengthUnit& unit : kLengthUnits) {
        const std::string word = std::string(unit.name) + " ";
        if (datum.starts_with(word)) {
            return datum.substr(word.size());
        }
    }
    return datum;
}

std::string Signed(double value, int decimals) {
    return (value > 0 ? "+" : "") + DecimalText(value, decimals);
}

}  // namespace

std::span<const LengthUnit> LengthUnits() {
    return kLengthUnits;
}

std::string LevelTitle(const std::string& well) {
    return "Level: " + well;
}

std::vector<PlotTrace> LevelTraces(const level::Well& inputs, const level::Levels& levels,
                                   level::Quantity quantity, const LengthUnit& unit) {
    using level::Quantity;
    const std::string datum = DatumName(inputs.datum);
    const bool above = quantity == Quantity::Level;
    Drawn main;
    main.trace.name = above ? "Level" : quantity == Quantity::Depth ? "Depth" : "Water column";
    main.trace.unit = above && !datum.empty() ? std::string(unit.name) + " " + datum : unit.name;
    main.trace.decimals = unit.decimals;
    main.trace.downward = quantity == Quantity::Depth;
    main.trace.pane = "levels";
    main.trace.times.reserve(levels.rows.size());
    main.trace.values.reserve(levels.rows.size());
    for (const level::Row& row : levels.rows) {
        const std::optional<double>& metres = level::MetresOf(row, quantity);
        main.Add(inputs.deployments[row.deployment].pressure, row.time,
                 metres ? *metres * unit.perMetre : std::numeric_limits<double>::quiet_NaN());
    }
    std::vector<PlotTrace> traces{std::move(main.trace)};
    if (quantity != Quantity::WaterColumn) {
        // A dip is read from the reference point: it has no water column of its own.
        PlotTrace& dips = traces.emplace_back();
        dips.name = "Dip";
        dips.unit = traces.front().unit;
        dips.decimals = unit.decimals;
        dips.points = true;
        dips.downward = traces.front().downward;
        dips.pane = traces.front().pane;
        for (const level::DipUse& use : levels.dips) {
            dips.times.push_back(SampleTimeOf(Tenths(use.dip.time)));
            const double depth = use.dip.depth;  // below the reference point, as read
            dips.values.push_back((above ? inputs.reference - depth : depth) * unit.perMetre);
            const std::string note =
                use.offset ? "residual " + Signed(*use.offset * unit.perMetre, unit.decimals) +
                                 " " + unit.name
                           : "not used: " + use.why;
            dips.notes.push_back(use.dip.note.empty() ? note : note + "; " + use.dip.note);
        }
    }
    std::vector<Drawn> pressures;
    for (const level::Deployment& deployment : inputs.deployments) {
        AddPressure(pressures, "Pressure", deployment.pressure);
    }
    for (const level::Baro& baro : inputs.baros) {
        AddPressure(pressures, "Baro", baro.pressure);
    }
    for (Drawn& drawn : pressures) {
        traces.push_back(std::move(drawn.trace));
    }
    return traces;
}
