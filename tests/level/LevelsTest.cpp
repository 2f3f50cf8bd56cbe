// Water levels from a well's samples, baro and dips.

#include "level/Levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

namespace {

using namespace level;

constexpr int64_t kHour = 36000;  // tenths

// A level logger every half hour at 1100 cm from 0 to 8 h, 20 m below the
// reference point at 10 m; a baro every hour rising 1 cm an hour from 1000 cm.
// With the defaults a cm of difference is 1 cm of water: the column is
// 1 m - 1 cm per hour.
Well HalfHourly() {
    Well well;
    well.reference = 10;
    Deployment& deployment = well.deployments.emplace_back();
    deployment.serial = "PX00-00000101";
    deployment.pressure = {{}, {{0, kHour / 2}}, "cm"};
    for (int64_t t = 0; t <= 8 * kHour; t += kHour / 2) {
        deployment.pressure.samples.push_back({t, 1100});
    }
    deployment.cable = 20;
    Baro& baro = well.baros.emplace_back();
    baro.serial = "PX00-00000202";
    baro.pressure = {{}, {{0, kHour}}, "cm"};
    for (int64_t h = 0; h <= 8; ++h) {
        baro.pressure.samples.push_back({h * kHour, 1000.0 + h});
    }
    return well;
}

std::vector<Series::Sample>& BaroSamples(Well& well) {
    return well.baros[0].pressure.samples;
}

std::vector<Dip> Dips(std::initializer_list<std::pair<int64_t, double>> times) {
    std::vector<Dip> dips;
    for (const auto& [time, depth] : times) {
        dips.push_back({time, depth, ""});
    }
    return dips;
}

void Erase(std::vector<Series::Sample>& samples, int64_t from, int64_t to) {
    std::erase_if(samples, [&](const Series::Sample& s) { return s.time >= from && s.time <= to; });
}

Levels LevelsOf(const Well& well, const Density& density = {}, const Gravity& gravity = {}) {
    auto result = Compute(well, density, gravity);
    if (const Failed* failed = std::get_if<Failed>(&result)) {
        ADD_FAILURE() << failed->why;
        return {};
    }
    return std::get<Levels>(result);
}

const Row* RowAt(const Levels& levels, int64_t t) {
    const auto it = std::find_if(levels.rows.begin(), levels.rows.end(),
                                 [&](const Row& row) { return row.time == t; });
    return it == levels.rows.end() ? nullptr : &*it;
}

// A change to the half-hourly well, and what the row at a time must then be.
struct BoundaryCase {
    const char* name;
    std::function<void(Well&)> change;
    int64_t at;
    std::string flags;             // "-": no row at all
    std::optional<double> column;  // m
    Density density = {};
};
const BoundaryCase kBoundaryCases[] = {
    {"on a baro sample", {}, 2 * kHour, "N", 0.98},
    {"between baro samples", {}, 5 * kHour / 2, "N", 0.975},
    {"baro neighbours exactly twice the interval apart",
     [](Well& w) { Erase(BaroSamples(w), 3 * kHour, 3 * kHour); }, 3 * kHour, "N", 0.97},
    {"baro neighbours a tenth more than twice apart",
     [](Well& w) {
         Erase(BaroSamples(w), 3 * kHour, 3 * kHour);
         BaroSamples(w)[3].time += 1;
     },
     3 * kHour,
     "B",
     {}},
    {"before the first baro sample",
     [](Well& w) { Erase(BaroSamples(w), 0, 0); },
     kHour / 2,
     "B",
     {}},
    {"in a baro gap",
     [](Well& w) { Erase(BaroSamples(w), 3 * kHour, 5 * kHour); },
     4 * kHour,
     "B",
     {}},
    {"a baro span ending at the sample",
     [](Well& w) { w.baros[0].to = 3 * kHour; },
     3 * kHour,
     "B",
     {}},
    {"a baro span ending at the later neighbour",
     [](Well& w) { w.baros[0].to = 3 * kHour; },
     5 * kHour / 2,
     "B",
     {}},
    {"unknown baro interval: on a sample", [](Well& w) { w.baros[0].pressure.intervals.clear(); },
     2 * kHour, "N", 0.98},
    {"unknown baro interval: between samples",
     [](Well& w) { w.baros[0].pressure.intervals.clear(); },
     5 * kHour / 2,
     "B",
     {}},
    {"the baro's interval as of the earlier sample",
     [](Well& w) {
         Erase(BaroSamples(w), 3 * kHour, 3 * kHour);
         w.baros[0].pressure.intervals.push_back({4 * kHour, kHour / 2});
     },
     3 * kHour, "N", 0.97},
    {"vented needs no baro",
     [](Well& w) {
         w.baros.clear();
         w.deployments[0].vented = true;
     },
     5 * kHour / 2, "N", 11.0},
    {"a baro 10 m above the reference point reads 1.2 cm of water less",
     [](Well& w) { w.baros[0].height = 10; }, 2 * kHour, "N", 0.968},
    {"a sample outside the deployment has no row",
     [](Well& w) { w.deployments[0].to = 3 * kHour; },
     3 * kHour,
     "-",
     {}},
    {"temperature between samples",
     [](Well& w) {
         w.deployments[0].temperature =
             Series{{{2 * kHour, 10}, {3 * kHour, 20}}, {{0, kHour}}, "C"};
     },
     5 * kHour / 2, "N", 0.975 * 1000 / KellDensity(15), Kell{}},
    {"temperature too far apart",
     [](Well& w) {
         w.deployments[0].temperature =
             Series{{{2 * kHour, 10}, {5 * kHour, 20}}, {{0, kHour}}, "C"};
     },
     3 * kHour,
     "T",
     {},
     Kell{}},
    {"no baro outranks no temperature",
     [](Well& w) {
         w.baros.clear();
         w.deployments[0].temperature = Series{};
     },
     3 * kHour,
     "B",
     {},
     Kell{}},
};

TEST(Levels, EachRuleHoldsAtItsBoundary) {
    for (const BoundaryCase& c : kBoundaryCases) {
        SCOPED_TRACE(c.name);
        Well well = HalfHourly();
        if (c.change) {
            c.change(well);
        }
        const Levels levels = LevelsOf(well, c.density);
        const Row* row = RowAt(levels, c.at);
        ASSERT_EQ(row ? row->flags : "-", c.flags);
        if (!row) {
            continue;
        }
        ASSERT_EQ(row->waterColumn.has_value(), c.column.has_value());
        EXPECT_EQ(row->depth.has_value(), c.column.has_value());
        if (c.column) {
            EXPECT_NEAR(*row->waterColumn, *c.column, 1e-9);
            EXPECT_NEAR(*row->depth, 20 - *c.column, 1e-9);
            EXPECT_NEAR(*row->level, 10 - *row->depth, 1e-9);
        }
    }
}

TEST(Levels, DipsThatCannotBeUsedSayWhy) {
    Well well = HalfHourly();
    well.deployments[0].from = -kHour;
    well.deployments[0].to = 8 * kHour;
    Erase(BaroSamples(well), 5 * kHour, 6 * kHour);  // B from 4.5 h to 6.5 h
    auto& samples = well.deployments[0].pressure.samples;
    samples.erase(samples.begin() + 3, samples.begin() + 5);  // 1 h to 2.5 h apart
    well.dips = Dips({{-kHour / 2, 19},
                      {5 * kHour / 4, 19},
                      {17 * kHour / 4, 19},
                      {5 * kHour, 19},
                      {8 * kHour, 19},
                      {9 * kHour, 19}});
    const Levels levels = LevelsOf(well);
    const char* whys[] = {
        "before the logger's first sample", "the logger's samples around it are too far apart",
        "no baro next to its time",         "no baro at its time",
        "no deployment holds its time",     "no deployment holds its time"};
    ASSERT_EQ(levels.dips.size(), std::size(whys));
    for (std::size_t i = 0; i < levels.dips.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(levels.dips[i].why, whys[i]);
        EXPECT_FALSE(levels.dips[i].offset);
        EXPECT_EQ(levels.dips[i].deployment.has_value(), i < 4);
    }
    EXPECT_EQ(RowAt(levels, 3 * kHour)->flags, "N");
}

TEST(Levels, OneDipHoldsItsOffsetAndTwoDriftBetween) {
    Well well = HalfHourly();
    well.dips = Dips({{5 * kHour / 4, 19.5}});  // between samples: d0 = 20 - 0.9875
    Levels levels = LevelsOf(well);
    EXPECT_NEAR(*levels.dips[0].estimate, 19.0125, 1e-9);
    EXPECT_NEAR(*levels.dips[0].offset, 0.4875, 1e-9);
    EXPECT_FALSE(levels.dips[0].driftMmPerDay);
    EXPECT_EQ(RowAt(levels, 0)->flags, "D");
    EXPECT_NEAR(*RowAt(levels, 2 * kHour)->depth, 20 - 0.98 + 0.4875, 1e-9);

    well.dips = Dips({{kHour, 19.0}, {3 * kHour, 19.05}});  // offsets -0.01 and +0.02
    levels = LevelsOf(well);
    EXPECT_NEAR(*levels.dips[1].driftMmPerDay, 0.03 * 1000 * 12, 1e-6);
    struct Expected {
        int64_t at;
        const char* flags;
        double offset;
    };
    const Expected rows[] = {{0, "D", -0.01},
                             {kHour, "", -0.01},
                             {2 * kHour, "", 0.005},
                             {3 * kHour, "", 0.02},
                             {8 * kHour, "D", 0.02}};
    for (const Expected& e : rows) {
        SCOPED_TRACE(e.at);
        const Row& row = *RowAt(levels, e.at);
        EXPECT_EQ(row.flags, e.flags);
        EXPECT_NEAR(*row.depth, 20 - *row.waterColumn + e.offset, 1e-9);
        EXPECT_NEAR(*row.level, 10 - *row.depth, 1e-9);
    }
}

TEST(Levels, ReferenceNumbers) {
    Well well = HalfHourly();
    well.deployments[0].pressure = {{{0, 1234.56}}, {}, "cmH2O"};
    well.baros[0].pressure = {{{0, 1021.34}}, {}, "cmH2O"};
    const Levels levels = LevelsOf(well);
    struct Case {
        const char* name;
        double got, want, tolerance;
    };
    const Case cases[] = {
        {"Kell at 0 C", KellDensity(0), 999.8395, 1e-4},
        {"Kell at 4 C", KellDensity(4), 999.9720, 1e-4},
        {"Kell at 10 C", KellDensity(10), 999.6996, 1e-4},
        {"Kell at 20 C", KellDensity(20), 998.2041, 1e-4},
        {"g at 45 deg, 0 m", LocalGravity(45, 0), 9.806200, 1e-6},
        {"g at 52 deg, 0 m", LocalGravity(52, 0), 9.812476, 1e-6},
        {"g at 45 deg, 1000 m", LocalGravity(45, 1000), 9.803114, 1e-6},
        {"water column", levels.rows.at(0).waterColumn.value_or(0), 2.1322, 1e-4},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(c.got, c.want, c.tolerance) << c.name;
    }
}

TEST(Levels, UnitsAndWhatIsUsedInWords) {
    EXPECT_EQ(PascalPer("CM H2O"), 98.0665);
    EXPECT_EQ(PascalPer(" m "), 9806.65);
    EXPECT_EQ(PascalPer("hPa"), 100);
    EXPECT_EQ(PascalPer("PSI"), 6894.757293168);
    EXPECT_EQ(PascalPer("furlong"), std::nullopt);

    Well well = HalfHourly();
    well.latitude = 52;
    EXPECT_EQ(LevelsOf(well).density, "1000 kg/m3");
    EXPECT_EQ(LevelsOf(well).gravity, 9.80665);
    EXPECT_EQ(LevelsOf(well, 998.2, 9.81).density, "998.2 kg/m3");
    EXPECT_EQ(LevelsOf(well, 998.2, 9.81).gravity, 9.81);
    EXPECT_EQ(LevelsOf(well, {}, Local{}).gravity, LocalGravity(52, 10));
    well.deployments[0].temperature = Series{};
    EXPECT_EQ(LevelsOf(well, Kell{}).density, "Kell (1975)");
}

TEST(Levels, FailuresNameWhatStoppedThem) {
    struct Case {
        std::function<void(Well&)> change;
        Density density;
        Gravity gravity;
        std::string why;
    };
    const Case cases[] = {
        {[](Well& w) { w.deployments[0].pressure.unit = "furlong"; },
         {},
         {},
         "unknown pressure unit \"furlong\" of level logger PX00-00000101"},
        {[](Well& w) { w.baros[0].pressure.unit = "inHg"; },
         {},
         {},
         "unknown pressure unit \"inHg\" of baro PX00-00000202"},
        {{},
         Kell{},
         {},
         "the density by Kell's formula needs a temperature channel, and PX00-00000101 has none"},
        {{}, {}, Local{}, "local gravity needs the well's latitude"},
        {{}, 0.0, {}, "the water's density must be above 0, not 0"},
    };
    for (const Case& c : cases) {
        Well well = HalfHourly();
        if (c.change) {
            c.change(well);
        }
        const auto result = Compute(well, c.density, c.gravity);
        ASSERT_TRUE(std::holds_alternative<Failed>(result)) << c.why;
        EXPECT_EQ(std::get<Failed>(result).why, c.why);
    }
}

TEST(Levels, TheSameInputsGiveTheSameLevels) {
    Well well = HalfHourly();
    Erase(BaroSamples(well), 5 * kHour, 6 * kHour);
    well.dips = Dips({{kHour, 19.0}, {3 * kHour, 19.05}});
    const Levels first = LevelsOf(well);
    const Levels second = LevelsOf(well);
    const auto fields = [](const Row& r) {
        return std::tie(r.time, r.deployment, r.waterColumn, r.depth, r.level, r.flags);
    };
    ASSERT_EQ(first.rows.size(), 17u);
    ASSERT_EQ(second.rows.size(), first.rows.size());
    for (std::size_t i = 0; i < first.rows.size(); ++i) {
        EXPECT_TRUE(fields(first.rows[i]) == fields(second.rows[i])) << i;
    }
}

}  // namespace
