// The archive's merge rules: a log's samples against what a series holds,
// its conflicts and the user's choices, and who may make them; on SQLite and
// on a real PostgreSQL server.

#include "archive/Archive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

// The user's choice at a conflict's time of channel 1 instead of an import.
struct Choose {
    const char* time;
    archive::Keep keep;
};

struct Step {
    LogRecipe log;
    // Expected: new samples, duplicates, conflicts; or the same file again.
    int64_t fresh = 0, duplicates = 0, conflicts = 0;
    bool sameFileAgain = false;  // the previous step's file, byte for byte
    bool refused = false;        // also a choice refused
    std::optional<Choose> choose = std::nullopt;
};

Step Resolve(const char* time, archive::Keep::Kind kind, int64_t download = 0,
             bool refused = false) {
    return {{}, 0, 0, 0, false, refused, Choose{time, {kind, download}}};
}

using Kind = archive::Keep::Kind;

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string series;  // channel 1 after the last step: "time value" lines
    // "time kept (download file) other (download file) choice": the choice
    // as "-> value (download)", or "open".
    std::vector<std::string> conflicts = {};
    std::vector<std::string> gaps = {};
    // Of them, those next to a sample the last download added; -1: all.
    int lastDownloadGaps = -1;
};

LogRecipe Steps(std::vector<double> values, std::vector<uint8_t> steps) {
    LogRecipe recipe = With(Levels(std::move(values)), &LogRecipe::mode, "LA  ");
    recipe.steps = std::move(steps);
    return recipe;
}

const std::string kHostile = "a'\"; DROP TABLE x--";  // the field's 20 characters at most

const Case kCases[] = {
    {"a second download of a log adds nothing",
     {{Levels({1, 2, 3}), 3, 0, 0}, {Levels({1, 2, 3}), 0, 3, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n2024-03-16T00:30:00.0Z 3.00\n"},
    {"the same file again is known",
     {{Levels({1, 2}), 2, 0, 0}, {Levels({1, 2}), 0, 0, 0, true}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n"},
    {"a later log adds only its new samples",
     {{Levels({1, 2}), 2, 0, 0}, {Levels({1, 2, 3, 4}), 2, 2, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n2024-03-16T00:30:00.0Z 3.00\n"
     "2024-03-16T00:45:00.0Z 4.00\n"},
    {"another value is a conflict: the first stays, both are listed",
     {{Levels({1, 2, 3}), 3, 0, 0}, {Levels({1, 2.5, 3, 4}), 1, 2, 1}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n2024-03-16T00:30:00.0Z 3.00\n"
     "2024-03-16T00:45:00.0Z 4.00\n",
     {"2024-03-16T00:15:00.0Z 2.00 (1 log0.omb) 2.50 (2 log1.omb) open"}},
    {"at other decimals the same number is a duplicate, another a conflict",
     {{With(Levels({12.5}), &LogRecipe::range, "100.0"), 1, 0, 0},
      {With(Levels({12.5}), &LogRecipe::range, "100.000"), 0, 1, 0},
      {With(Levels({12.51}), &LogRecipe::range, "100.00"), 0, 0, 1}},
     "2024-03-16T00:00:00.0Z 12.5\n",
     {"2024-03-16T00:00:00.0Z 12.5 (1 log0.omb) 12.51 (3 log2.omb) open"}},
    {"a conflict resolved: the record keeps the choice; it again repeats, another is open",
     {{Levels({1, 2, 3}), 3, 0, 0},
      {Levels({1, 2.5, 3}), 0, 2, 1},
      Resolve("2024-03-16T00:15:00.0Z", Kind::Other),
      {Levels({1, 2.5, 3, 4}), 1, 3, 0},
      {Levels({1, 2, 3, 4, 5}), 1, 3, 1}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.50\n2024-03-16T00:30:00.0Z 3.00\n"
     "2024-03-16T00:45:00.0Z 4.00\n2024-03-16T01:00:00.0Z 5.00\n",
     {"2024-03-16T00:15:00.0Z 2.00 (1 log0.omb) 2.50 (2 log1.omb) -> 2.50 (2)",
      "2024-03-16T00:15:00.0Z 2.50 (2 log1.omb) 2.00 (4 log4.omb) open"}},
    {"a choice taken back: the first value again, the conflict open",
     {{Levels({1, 2}), 2, 0, 0},
      {Levels({1, 3}), 0, 1, 1},
      Resolve("2024-03-16T00:15:00.0Z", Kind::Download, 7, true),
      Resolve("2024-03-16T00:00:00.0Z", Kind::First, 0, true),
      Resolve("2024-03-16T00:15:00.0Z", Kind::Download, 2),
      Resolve("2024-03-16T00:15:00.0Z", Kind::None)},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n",
     {"2024-03-16T00:15:00.0Z 2.00 (1 log0.omb) 3.00 (2 log1.omb) open"}},
    {"a step of exactly two intervals is a gap of one sample",
     {{Levels({1, 2, 3}), 3, 0, 0},
      {With(Levels({4}), &LogRecipe::start, "00:00:01 16/03/24"), 1, 0, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n2024-03-16T00:30:00.0Z 3.00\n"
     "2024-03-16T01:00:00.0Z 4.00\n",
     {},
     {"2024-03-16T00:30:00.0Z 2024-03-16T01:00:00.0Z 1"}},
    {"interleaved downloads are read in time order and merged against it",
     {{Levels({1, 2, 3}), 3, 0, 0},
      {With(Levels({7, 8}), &LogRecipe::start, "00:07:00 16/03/24"), 2, 0, 0},
      {Levels({1, 2, 3, 4}), 1, 3, 0},
      {With(Levels({7, 8, 9}), &LogRecipe::start, "00:07:00 16/03/24"), 1, 2, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:07:00.0Z 7.00\n2024-03-16T00:15:00.0Z 2.00\n"
     "2024-03-16T00:22:00.0Z 8.00\n2024-03-16T00:30:00.0Z 3.00\n2024-03-16T00:37:00.0Z 9.00\n"
     "2024-03-16T00:45:00.0Z 4.00\n"},
    {"a hostile location is kept as text",
     {{With(Levels({-0.25}), &LogRecipe::location, kHostile), 1, 0, 0}},
     "2024-03-16T00:00:00.0Z -0.25\n"},
    {"a hole between two deployments is a gap",
     {{Levels({1, 2, 3}), 3, 0, 0},
      {With(Levels({4, 5}), &LogRecipe::start, "00:30:01 16/03/24"), 2, 0, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n2024-03-16T00:30:00.0Z 3.00\n"
     "2024-03-16T01:30:00.0Z 4.00\n2024-03-16T01:45:00.0Z 5.00\n",
     {},
     {"2024-03-16T00:30:00.0Z 2024-03-16T01:30:00.0Z 3"}},
    {"a later download of the deployment after a hole leaves no new gap",
     {{Levels({1, 2, 3}), 3, 0, 0},
      {With(Levels({4, 5}), &LogRecipe::start, "00:30:01 16/03/24"), 2, 0, 0},
      {With(Levels({4, 5, 6}), &LogRecipe::start, "00:30:01 16/03/24"), 1, 2, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:15:00.0Z 2.00\n2024-03-16T00:30:00.0Z 3.00\n"
     "2024-03-16T01:30:00.0Z 4.00\n2024-03-16T01:45:00.0Z 5.00\n2024-03-16T02:00:00.0Z 6.00\n",
     {},
     {"2024-03-16T00:30:00.0Z 2024-03-16T01:30:00.0Z 3"},
     0},
    {"a step mode has no gaps; a time twice in one log is a conflict within it",
     {{Steps({1, 2, 3}, {1, 0, 4}), 2, 0, 1}},
     "2024-03-16T00:15:00.0Z 1.00\n2024-03-16T01:15:00.0Z 3.00\n",
     {"2024-03-16T00:15:00.0Z 1.00 (1 log0.omb) 2.00 (1 log0.omb) open"}},
    {"a value of more than 17 digits is refused and nothing is kept",
     {{With(Levels({1, 2e10}), &LogRecipe::range, "1.000000000"), 0, 0, 0, false, true}},
     ""},
};

// The archive's conflicts as the cases write them.
std::vector<std::string> ConflictTexts(archive::Archive& archive) {
    const auto conflicts = archive.Conflicts();
    if (!conflicts) {
        ADD_FAILURE() << conflicts.failure().message;
        return {};
    }
    std::vector<std::string> texts;
    for (const archive::ConflictRow& k : *conflicts) {
        texts.push_back(
            archive::IsoTime(k.time) + " " + k.keptValue + " (" + std::to_string(k.keptDownload) +
            " " + k.keptFile + ") " + k.otherValue + " (" + std::to_string(k.otherDownload) + " " +
            k.otherFile + ") " +
            (k.choice ? "-> " + k.choice->value + " (" + std::to_string(k.choice->download) + ")"
                      : "open"));
        EXPECT_GT(k.keptImported, 1700000000);
        EXPECT_GE(k.otherImported, k.keptImported);
    }
    return texts;
}

// The archive's gaps as the cases write them.
std::vector<std::string> GapTexts(archive::Archive& archive) {
    const auto gaps = archive.Gaps();
    if (!gaps) {
        ADD_FAILURE() << gaps.failure().message;
        return {};
    }
    std::vector<std::string> texts;
    for (const archive::GapRow& g : *gaps) {
        texts.push_back(archive::IsoTime(g.lastBefore) + " " + archive::IsoTime(g.firstAfter) +
                        " " + std::to_string(g.missing));
    }
    return texts;
}

TEST_P(ArchiveEngines, MergeRules) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto archive = OpenArchive(NewLocation());
        ASSERT_TRUE(archive);
        std::string text;
        int64_t lastDownload = 0;
        std::string serial;  // as the archive keeps it
        for (std::size_t s = 0; s < c.steps.size(); ++s) {
            const Step& step = c.steps[s];
            if (step.choose) {
                const auto name = archive->FindSeries(serial, "1");
                ASSERT_TRUE(name) << name.failure().message;
                const auto resolved = archive->Resolve(
                    *name, *archive::ParseIsoTime(step.choose->time, false), step.choose->keep);
                EXPECT_EQ(resolved.ok(), !step.refused);
                continue;
            }
            const std::string path = dir_.File("log" + std::to_string(s) + ".omb");
            const DeviceLog log = MakeLog(step.log);
            if (!step.sameFileAgain) {
                SaveLog(log, path, "desk" + std::to_string(s));
                text = e2e::ReadText(path);
            }
            const auto r = archive->Import(text, log, "COM5", "log" + std::to_string(s) + ".omb");
            ASSERT_EQ(r.ok(), !step.refused);
            if (!r) {
                EXPECT_EQ(r.failure().kind, archive::Fault::Refused);
                continue;
            }
            EXPECT_EQ(r->alreadyImported, step.sameFileAgain);
            EXPECT_EQ(r->newSamples, step.fresh);
            EXPECT_EQ(r->duplicates, step.duplicates);
            EXPECT_EQ(r->conflicts, step.conflicts);
            const auto kept = archive->DownloadText(r->downloadId);
            ASSERT_TRUE(kept);
            EXPECT_EQ(*kept, text);  // byte for byte
            lastDownload = r->downloadId;
            serial = r->serial;
        }
        const auto read = archive->Loggers();
        ASSERT_TRUE(read) << read.failure().message;
        const std::vector<archive::LoggerSummary>& loggers = *read;
        std::string series;
        if (!loggers.empty()) {
            const auto deployments = archive->Deployments(loggers[0].serial);
            ASSERT_TRUE(deployments);
            EXPECT_EQ(deployments->back().location, c.steps.back().log.location);
            EXPECT_EQ(loggers[0].location, c.steps.back().log.location);
            const auto name = archive->FindSeries(loggers[0].serial, "LEVEL");
            ASSERT_TRUE(name) << name.failure().message;
            const auto samples = archive->Samples(*name, std::nullopt, std::nullopt);
            ASSERT_TRUE(samples);
            for (const archive::Sample& sample : *samples) {
                series += archive::IsoTime(sample.time) + " " + sample.value + "\n";
            }
            // The series' gaps from the same read as its values.
            const auto values = archive->Values(*name, std::nullopt, std::nullopt, true);
            ASSERT_TRUE(values);
            EXPECT_EQ(values->gaps.size(), c.gaps.size());
            EXPECT_EQ(loggers[0].held.conflicts, static_cast<int64_t>(c.conflicts.size()));
            EXPECT_EQ(loggers[0].held.open,
                      std::count_if(c.conflicts.begin(), c.conflicts.end(),
                                    [](const std::string& k) { return k.ends_with(" open"); }));
            EXPECT_EQ(loggers[0].held.gaps, static_cast<int64_t>(c.gaps.size()));
            EXPECT_EQ(loggers[0].series[0].held.samples, static_cast<int64_t>(samples->size()));
            const auto added = archive->DownloadGaps(lastDownload);
            ASSERT_TRUE(added);
            EXPECT_EQ(static_cast<int>(added->size()), c.lastDownloadGaps < 0
                                                           ? static_cast<int>(c.gaps.size())
                                                           : c.lastDownloadGaps);
        }
        EXPECT_EQ(series, c.series);
        EXPECT_EQ(ConflictTexts(*archive), c.conflicts);
        EXPECT_EQ(GapTexts(*archive), c.gaps);
    }
}

// The grants the user guide gives a desk: insert and select, nothing more;
// resolving and declaring take an editor's.
TEST_P(ArchiveEngines, ADeskThatMayOnlyInsertAndSelectImportsButResolvesNothing) {
    if (GetParam() == Engine::Sqlite) {
        GTEST_SKIP() << "a file has no roles";
    }
    pgtest::PostgresServer& server = pgtest::SharedServer();
    const std::string database = server.NewDatabase();
    const auto owner = OpenArchive(server.Uri(database));  // the owner makes the tables
    ASSERT_TRUE(owner);
    ASSERT_TRUE(
        server.Psql("DROP ROLE IF EXISTS desk; CREATE ROLE desk LOGIN;"
                    "GRANT USAGE ON SCHEMA public TO desk;"
                    "GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA public TO desk;"
                    "GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO desk;",
                    database));
    std::string desk = server.Uri(database);
    desk.replace(desk.find("user=postgres"), 13, "user=desk");
    const auto archive = OpenArchive(desk);
    ASSERT_TRUE(archive);
    for (const auto& values : {std::vector<double>{1, 2}, std::vector<double>{1, 3, 4}}) {
        const DeviceLog log = MakeLog(Levels(values));
        SaveLog(log, dir_.File("desk.omb"), std::to_string(values.size()));
        const auto r =
            archive->Import(e2e::ReadText(dir_.File("desk.omb")), log, "COM5", "desk.omb");
        EXPECT_TRUE(r) << r.failure().message;
    }
    const auto read = archive->Conflicts();
    ASSERT_TRUE(read);
    const std::vector<archive::ConflictRow>& conflicts = *read;
    ASSERT_EQ(conflicts.size(), 1u);
    const auto refused = archive->Resolve(conflicts[0].series, conflicts[0].time, {Kind::Other});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().kind, archive::Fault::ReadOnly);
    EXPECT_NE(refused.failure().message.find("takes an editor's role"), std::string::npos)
        << refused.failure().message;
    const auto resolved = owner->Resolve(conflicts[0].series, conflicts[0].time, {Kind::Other});
    EXPECT_TRUE(resolved) << resolved.failure().message;
    // Declaring is an editor's: the grants the user guide gives one.
    EXPECT_FALSE(archive->RenameWell("WELL 7", "Well 7"));
    ASSERT_TRUE(
        server.Psql("GRANT UPDATE, DELETE ON wells, well_names, deployments TO desk;", database));
    const auto renamed = archive->RenameWell("WELL 7", "Well 7");
    EXPECT_TRUE(renamed) << renamed.failure().message;
    const auto deployed = archive->Deploy("Well 7", "PX00-01276701", 0, std::nullopt, 0);
    EXPECT_TRUE(deployed) << deployed.failure().message;
}

}  // namespace
