// The archive's wells: a well's record from its loggers' stays, renamed,
// merged and declared, in UTC, and its levels from its facts; on SQLite and
// on a real PostgreSQL server.

#include "archive/Archive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <optional>
#include <thread>
#include <variant>

#include "ArchiveEngines.h"
#include "archive/IsoTime.h"
#include "archive/SampleBlock.h"
#include "archive/Schema.h"
#include "archive/SeriesCsv.h"
#include "support/ArchiveLogs.h"
#include "support/DataFiles.h"
#include "support/PostgresServer.h"
#include "support/SimTestSupport.h"

namespace {

using namespace archivetest;

// What the user does to the wells: a log imported (its logger's clock at
// clock minutes from UTC), or a well renamed, two made one, a stay declared.
struct WellStep {
    LogRecipe log;
    int clock = 0;
    // The well named first: "OLD>NEW", "WELL<OTHER", "WELL"; the span of the stay declared.
    std::string rename = {}, merge = {}, deploy = {}, from = {}, to = {};
};

struct WellCase {
    const char* name;
    std::vector<WellStep> steps;
    std::vector<std::string> wells;  // "NAME [TEXTS]: SERIAL FROM-TO OFFSET" per stay
    std::string well;                // its record of LEVEL: "time value serial" lines
    std::string record;
    std::string conflicts = {};  // the times of the conflicts, in UTC
};

WellStep Log(LogRecipe log, int clock = 0) {
    return {std::move(log), clock};
}

const LogRecipe kAtSouth = At(kSouth, "00:00:00 16/03/24", {1, 2, 3});
const LogRecipe kAtEast = At(kEast, "00:00:01 16/03/24", {7, 8});

const WellCase kWellCases[] = {
    {"a logger moved keeps each well's record",
     {Log(kAtSouth), Log(kAtEast)},
     {"WELL FIELD EAST W7 [WELL FIELD EAST W7]: PX00-01276701 2024-03-16T01:00:00.0Z- +00:00",
      "WELL FIELD SOUTH W7 [WELL FIELD SOUTH W7]: PX00-01276701 2024-03-16T00:00:00.0Z-"
      "2024-03-16T01:00:00.0Z +00:00"},
     kSouth,
     "2024-03-16T00:00:00.0Z 1.00 PX00-01276701\n2024-03-16T00:15:00.0Z 2.00 PX00-01276701\n"
     "2024-03-16T00:30:00.0Z 3.00 PX00-01276701\n"},
    {"logs imported out of order: a stay ends where the next begins elsewhere",
     {Log(At(kSouth, "00:00:02 16/03/24", {4})), Log(kAtSouth), Log(kAtEast)},
     {"WELL FIELD EAST W7 [WELL FIELD EAST W7]: PX00-01276701 2024-03-16T01:00:00.0Z-"
      "2024-03-16T02:00:00.0Z +00:00",
      "WELL FIELD SOUTH W7 [WELL FIELD SOUTH W7]: PX00-01276701 2024-03-16T00:00:00.0Z-"
      "2024-03-16T01:00:00.0Z +00:00; PX00-01276701 2024-03-16T02:00:00.0Z- +00:00"},
     kEast,
     "2024-03-16T01:00:00.0Z 7.00 PX00-01276701\n2024-03-16T01:15:00.0Z 8.00 PX00-01276701\n"},
    {"two texts made one well: one record of two loggers; a rename keeps its texts",
     {Log(At("WELL 7", "00:00:00 16/03/24", {1})),
      Log(At("WELL7", "00:30:00 16/03/24", {2}, "PX00-012768")),
      {{}, 0, "", "WELL 7<WELL7"},
      {{}, 0, "WELL 7>Well 7"},
      Log(At("WELL7", "00:00:01 16/03/24", {3}, "PX00-012768"))},
     {"Well 7 [WELL 7; WELL7]: PX00-01276701 2024-03-16T00:00:00.0Z- +00:00; PX00-01276801 "
      "2024-03-16T00:30:00.0Z- +00:00"},
     "WELL7",
     "2024-03-16T00:00:00.0Z 1.00 PX00-01276701\n2024-03-16T00:30:00.0Z 2.00 PX00-01276801\n"
     "2024-03-16T01:00:00.0Z 3.00 PX00-01276801\n"},
    {"a declared stay takes its span from what was found",
     {Log(At(kSouth, "00:00:00 16/03/24", {1, 2, 3, 4})),
      Log(kAtEast),
      {{}, 0, "", "", kEast, "2024-03-16T00:15:00Z", "2024-03-16T00:45:00Z"}},
     {"WELL FIELD EAST W7 [WELL FIELD EAST W7]: PX00-01276701 2024-03-16T00:15:00.0Z-"
      "2024-03-16T00:45:00.0Z +00:00 declared; PX00-01276701 2024-03-16T01:00:00.0Z- +00:00",
      "WELL FIELD SOUTH W7 [WELL FIELD SOUTH W7]: PX00-01276701 2024-03-16T00:00:00.0Z-"
      "2024-03-16T00:15:00.0Z +00:00; PX00-01276701 2024-03-16T00:45:00.0Z-"
      "2024-03-16T01:00:00.0Z +00:00"},
     kSouth,
     "2024-03-16T00:00:00.0Z 1.00 PX00-01276701\n2024-03-16T00:45:00.0Z 4.00 PX00-01276701\n"},
    {"a clock ahead of UTC is shown in UTC",
     {Log(At(kSouth, "00:00:01 16/03/24", {1, 2}), 60),
      Log(At(kSouth, "00:00:01 16/03/24", {1, 3}), 60)},
     {"WELL FIELD SOUTH W7 [WELL FIELD SOUTH W7]: PX00-01276701 2024-03-16T00:00:00.0Z- "
      "+01:00"},
     kSouth,
     "2024-03-16T00:00:00.0Z 1.00 PX00-01276701\n2024-03-16T00:15:00.0Z 2.00 PX00-01276701\n",
     "2024-03-16T00:15:00.0Z "},
};

// A well as the cases write it: "NAME [TEXTS]: SERIAL FROM-TO OFFSET" per stay.
std::string WellText(const archive::WellRow& w) {
    std::string text = w.name + " [";
    for (const std::string& name : w.names) {
        text += (name == w.names.front() ? "" : "; ") + name;
    }
    text += "]:";
    for (const archive::DeploymentRow& d : w.deployments) {
        text += (&d == &w.deployments.front() ? " " : "; ") + d.serial + " " +
                archive::IsoTime(d.startTime) + "-" + (d.end ? archive::IsoTime(*d.end) : "") +
                " " + archive::ClockOffsetText(d.clockOffset) + (d.declared ? " declared" : "");
    }
    return text;
}

TEST_P(ArchiveEngines, AWellsRecordIsWhatItsLoggersMeasuredThere) {
    for (const WellCase& c : kWellCases) {
        SCOPED_TRACE(c.name);
        const auto archive = OpenArchive(NewLocation());
        ASSERT_TRUE(archive);
        for (std::size_t s = 0; s < c.steps.size(); ++s) {
            const WellStep& step = c.steps[s];
            const auto split = [](const std::string& text, char at) {
                return std::pair(text.substr(0, text.find(at)), text.substr(text.find(at) + 1));
            };
            if (!step.rename.empty()) {
                const auto [old, name] = split(step.rename, '>');
                ASSERT_TRUE(Ok(archive->RenameWell(old, name)));
            } else if (!step.merge.empty()) {
                const auto [well, other] = split(step.merge, '<');
                ASSERT_TRUE(Ok(archive->MergeWells(well, other)));
            } else if (!step.deploy.empty()) {
                ASSERT_TRUE(Ok(archive->Deploy(step.deploy, "PX00-01276701",
                                               *archive::ParseIsoTime(step.from, false),
                                               archive::ParseIsoTime(step.to, false), 0)));
            } else {
                const DeviceLog log = MakeLog(step.log);
                SaveLog(log, dir_.File("log.omb"), std::to_string(s));
                ASSERT_TRUE(archive
                                ->Import(e2e::ReadText(dir_.File("log.omb")), log, "COM5",
                                         "log.omb", {step.clock})
                                .ok());
            }
        }
        const auto read = archive->Wells();
        ASSERT_TRUE(Ok(read));
        const std::vector<archive::WellRow>& wells = *read;
        std::vector<std::string> texts;
        std::transform(wells.begin(), wells.end(), std::back_inserter(texts), WellText);
        EXPECT_EQ(texts, c.wells);
        const auto record = archive->WellSeries(c.well, "LEVEL", std::nullopt, std::nullopt);
        ASSERT_TRUE(Ok(record));
        std::string rows;
        for (const archive::WellRecord::Row& row : record->rows) {
            rows += archive::IsoTime(row.time) + " " + DecimalText(row.value) + " " +
                    record->loggers[row.logger] + "\n";
        }
        EXPECT_EQ(rows, c.record);
        const auto conflicts = archive->Conflicts();
        ASSERT_TRUE(Ok(conflicts));
        std::string times;
        for (const archive::ConflictRow& k : *conflicts) {
            times += archive::IsoTime(k.time) + " ";
        }
        EXPECT_EQ(times, c.conflicts);
        // The loggers by well: their stays there hold the well's record, and
        // their stays together all they hold.
        const auto loggers = archive->Loggers();
        ASSERT_TRUE(Ok(loggers));
        const auto well = std::find_if(wells.begin(), wells.end(), [&c](const auto& w) {
            return std::find(w.names.begin(), w.names.end(), c.well) != w.names.end();
        });
        ASSERT_NE(well, wells.end());
        int64_t inWell = 0;
        for (const archive::LoggerSummary& l : *loggers) {
            int64_t inStays = 0;
            for (const archive::StaySummary& stay : l.stays) {
                inStays += stay.held.samples;
                for (std::size_t k = 0; k < l.series.size(); ++k) {
                    if (stay.deployment.location == well->name &&
                        l.series[k].name.identification.starts_with("LEVEL")) {
                        inWell += stay.series[k].samples;
                    }
                }
            }
            EXPECT_EQ(inStays, l.held.samples) << l.serial;
        }
        EXPECT_EQ(inWell, static_cast<int64_t>(record->rows.size()));
    }
}

// A logger moved to a well where its clock was set another way: its two
// stays overlap in UTC, and its series still reads in UTC order.
TEST_P(ArchiveEngines, StaysOfOtherClocksThatOverlapInUtcReadInTimeOrder) {
    const auto archive = OpenArchive(NewLocation());
    ASSERT_TRUE(archive);
    // South: logger 00:00-00:45 at UTC-01:00 (UTC 01:00-01:45); east: from
    // logger 01:00 at UTC+01:00 (UTC 00:00-00:15).
    for (const auto& [recipe, clock] :
         {std::pair(At(kSouth, "00:00:00 16/03/24", {1, 2, 3, 4}), -60),
          std::pair(At(kEast, "00:00:01 16/03/24", {5, 6}), 60)}) {
        const DeviceLog log = MakeLog(recipe);
        SaveLog(log, dir_.File("log.omb"), std::to_string(clock));
        ASSERT_TRUE(
            archive->Import(e2e::ReadText(dir_.File("log.omb")), log, "COM5", "log.omb", {clock})
                .ok());
    }
    const auto name = archive->FindSeries("PX00-01276701", "1");
    ASSERT_TRUE(name);
    const auto samples = archive->Samples(*name, std::nullopt, std::nullopt);
    ASSERT_TRUE(samples);
    std::string times;
    for (const archive::Sample& sample : *samples) {
        times += archive::IsoTime(sample.time).substr(11, 5) + " ";
    }
    EXPECT_EQ(times, "00:00 00:15 01:00 01:15 01:30 01:45 ");
}

// A well's levels from its declared facts: a level logger, a barometric
// logger at half the rate (so that the baro between its samples is
// interpolated), one dip. Computed twice they are equal, and the raw
// samples are what they were.
TEST_P(ArchiveEngines, AWellsLevelsComeFromItsFactsAndLeaveItsSamplesAsTheyWere) {
    const auto archive = OpenArchive(NewLocation());
    ASSERT_TRUE(archive);
    LogRecipe baro = At("OFFICE", "00:00:00 16/03/24", {1020, 1022, 1024}, "PX00-000201");
    baro.rate = "00 00:30:00 0";
    for (const LogRecipe& recipe :
         {At("WELL 7", "00:00:00 16/03/24", {1100, 1110, 1120, 1130}, "PX00-000101"), baro}) {
        const DeviceLog log = MakeLog(recipe);
        SaveLog(log, dir_.File("log.omb"), recipe.serial);
        ASSERT_TRUE(
            Ok(archive->Import(e2e::ReadText(dir_.File("log.omb")), log, "COM5", "log.omb")));
    }
    const auto levels = archive->LevelInputs("WELL 7");
    ASSERT_FALSE(levels);
    EXPECT_NE(levels.failure().message.find("has no reference point"), std::string::npos);
    ASSERT_TRUE(Ok(archive->SetWell("WELL 7", {"10.5", "m NAP", std::nullopt, std::nullopt})));
    ASSERT_TRUE(Ok(archive->AssignBaro(
        "WELL 7", {"PX00-00020101", "", 0, "0", std::numeric_limits<int64_t>::min(), {}})));
    ASSERT_TRUE(Ok(archive->AddDips(
        {{"WELL 7",
          {*archive::ParseIsoTime("2024-03-16T01:15:00+01:00", false), "2.0", "tape"}}})));
    EXPECT_FALSE(archive->SetWell("WELL 7", {"ten", {}, {}, {}}));  // not a number: refused
    const auto series = archive->FindSeries("PX00-00010101", "1");
    ASSERT_TRUE(Ok(series));
    const auto before = archive->Samples(*series, std::nullopt, std::nullopt);
    std::string csv[2];
    for (std::string& computed : csv) {
        const auto inputs = archive->LevelInputs("WELL 7");
        ASSERT_TRUE(Ok(inputs));
        const auto result = level::Compute(*inputs, {}, {});
        ASSERT_TRUE(std::holds_alternative<level::Levels>(result));
        computed = archive::LevelCsv(std::get<level::Levels>(result), std::nullopt, std::nullopt);
    }
    // At 00:15 the baro is 1021, between 00:00 and 00:30; the dip there
    // ties the depth to 2 m, and its offset is held either side.
    EXPECT_EQ(csv[0],
              "time_utc,water_column_m,depth_m,level_m,flags\n"
              "2024-03-16T00:00:00.0Z,0.8000,2.0900,8.4100,D\n"
              "2024-03-16T00:15:00.0Z,0.8900,2.0000,8.5000,\n"
              "2024-03-16T00:30:00.0Z,0.9800,1.9100,8.5900,D\n"
              "2024-03-16T00:45:00.0Z,1.0700,1.8200,8.6800,D\n");
    EXPECT_EQ(csv[1], csv[0]);
    const auto after = archive->Samples(*series, std::nullopt, std::nullopt);
    ASSERT_TRUE(Ok(before) && Ok(after));
    const auto text = [](const std::vector<archive::Sample>& samples) {
        std::string all;
        for (const archive::Sample& sample : samples) {
            all += archive::IsoTime(sample.time) + " " + sample.value + "\n";
        }
        return all;
    };
    EXPECT_EQ(text(*after), text(*before));
    const auto well = archive->Well("WELL 7");
    ASSERT_TRUE(Ok(well));
    EXPECT_EQ(well->facts.datum, "m NAP");
    ASSERT_EQ(well->baros.size(), 1u);
    EXPECT_EQ(well->baros[0].channel, "1");  // the first of a pressure unit, kept by its number

    // A dip corrected, then removed, by its id; a depth not a number refused.
    ASSERT_EQ(well->dips.size(), 1u);
    archive::DipRow dip = well->dips[0];
    dip.depth = "2.1";
    ASSERT_TRUE(Ok(archive->ChangeDip(dip.id, dip)));
    EXPECT_EQ(archive->Well("WELL 7")->dips[0].depth, "2.1");
    dip.depth = "deep";
    EXPECT_EQ(archive->ChangeDip(dip.id, dip).failure().kind, archive::Fault::Refused);
    ASSERT_TRUE(Ok(archive->ChangeDip(dip.id, std::nullopt)));
    EXPECT_TRUE(archive->Well("WELL 7")->dips.empty());
    EXPECT_EQ(archive->ChangeDip(dip.id, std::nullopt).failure().kind, archive::Fault::NotFound);
}

}  // namespace
