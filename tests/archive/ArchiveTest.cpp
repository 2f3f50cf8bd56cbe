// The archive's merge rules and its schema, the same table on SQLite and on
// a real PostgreSQL server.

#include "archive/Archive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "archive/IsoTime.h"
#include "archive/Schema.h"
#include "archive/SeriesCsv.h"
#include "support/ArchiveLogs.h"
#include "support/DataFiles.h"
#include "support/PostgresServer.h"
#include "support/SimTestSupport.h"

namespace {

using namespace archivetest;
using archive::Engine;

struct Step {
    LogRecipe log;
    // Expected: new samples, duplicates, conflicts; or the same file again.
    int64_t fresh = 0, duplicates = 0, conflicts = 0;
    bool sameFileAgain = false;  // the previous step's file, byte for byte
    bool refused = false;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string series;  // channel 1 after the last step: "time value" lines
    std::vector<std::string> conflicts = {};
    std::vector<std::string> gaps = {};
    // Of them, those next to a sample the last download added; -1: all.
    int lastDownloadGaps = -1;
};

LogRecipe Levels(std::vector<double> values) {
    LogRecipe recipe;
    recipe.values = {std::move(values)};
    return recipe;
}

LogRecipe With(LogRecipe recipe, std::string LogRecipe::*field, std::string value) {
    recipe.*field = std::move(value);
    return recipe;
}

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
     {"2024-03-16T00:15:00.0Z 2.00 (1) 2.50 (2)"}},
    {"the same number with more decimals is a duplicate",
     {{With(Levels({12.5}), &LogRecipe::range, "100.0"), 1, 0, 0},
      {With(Levels({12.5}), &LogRecipe::range, "100.000"), 0, 1, 0}},
     "2024-03-16T00:00:00.0Z 12.5\n"},
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
     {"2024-03-16T00:15:00.0Z 1.00 (1) 2.00 (1)"}},
    {"a value of more than 17 digits is refused and nothing is kept",
     {{With(Levels({1, 2e10}), &LogRecipe::range, "1.000000000"), 0, 0, 0, false, true}},
     ""},
};

class ArchiveEngines : public ::testing::TestWithParam<Engine> {
  protected:
    // A new, empty archive's location on the engine.
    std::string NewLocation() {
        if (GetParam() == Engine::Sqlite) {
            return dir_.File("archive" + std::to_string(++files_) + ".sqlite");
        }
        return pgtest::SharedServer().Uri(pgtest::SharedServer().NewDatabase());
    }
    std::unique_ptr<archive::Archive> OpenArchive(const std::string& location) {
        std::string error;
        auto opened = archive::Archive::Open(location, &error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }
    void SetUp() override {
        if (GetParam() == Engine::Postgres && !pgtest::SharedServer().Why().empty()) {
            GTEST_SKIP() << "PostgreSQL cases skipped: " << pgtest::SharedServer().Why();
        }
    }

    simtest::TempDir dir_;
    int files_ = 0;
};

TEST_P(ArchiveEngines, MergeRules) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const auto archive = OpenArchive(NewLocation());
        ASSERT_TRUE(archive);
        std::string text;
        int64_t lastDownload = 0;
        for (std::size_t s = 0; s < c.steps.size(); ++s) {
            const Step& step = c.steps[s];
            const std::string path = dir_.File("log" + std::to_string(s) + ".omb");
            const DeviceLog log = MakeLog(step.log);
            if (!step.sameFileAgain) {
                SaveLog(log, path, "desk" + std::to_string(s));
                text = e2e::ReadText(path);
            }
            const archive::ImportResult r = archive->Import(text, log, "COM5", "log.omb");
            ASSERT_EQ(r.ok(), !step.refused) << r.error;
            EXPECT_EQ(r.alreadyImported, step.sameFileAgain);
            EXPECT_EQ(r.newSamples, step.fresh);
            EXPECT_EQ(r.duplicates, step.duplicates);
            EXPECT_EQ(r.conflicts, step.conflicts);
            if (r.ok()) {
                EXPECT_EQ(archive->DownloadText(r.downloadId), text);  // byte for byte
                lastDownload = r.downloadId;
            }
        }
        std::vector<archive::LoggerSummary> loggers;
        ASSERT_TRUE(archive->Loggers(loggers)) << archive->Error();
        std::string series;
        if (!loggers.empty()) {
            EXPECT_EQ(loggers[0].location, c.steps.back().log.location);
            std::vector<archive::DeploymentRow> deployments;
            ASSERT_TRUE(archive->Deployments(loggers[0].serial, deployments));
            EXPECT_EQ(deployments.back().location, c.steps.back().log.location);
            archive::SeriesName name;
            std::vector<archive::Sample> samples;
            ASSERT_TRUE(archive->FindSeries(loggers[0].serial, "LEVEL", name)) << archive->Error();
            ASSERT_TRUE(archive->Samples(name, std::nullopt, std::nullopt, samples));
            for (const archive::Sample& sample : samples) {
                series += archive::IsoTime(sample.time) + " " + sample.value + "\n";
            }
            EXPECT_EQ(loggers[0].held.conflicts, static_cast<int64_t>(c.conflicts.size()));
            EXPECT_EQ(loggers[0].held.gaps, static_cast<int64_t>(c.gaps.size()));
            EXPECT_EQ(loggers[0].series[0].held.samples, static_cast<int64_t>(samples.size()));
            std::vector<archive::GapRow> added;
            ASSERT_TRUE(archive->DownloadGaps(lastDownload, added));
            EXPECT_EQ(static_cast<int>(added.size()), c.lastDownloadGaps < 0
                                                          ? static_cast<int>(c.gaps.size())
                                                          : c.lastDownloadGaps);
        }
        EXPECT_EQ(series, c.series);
        std::vector<archive::ConflictRow> conflicts;
        ASSERT_TRUE(archive->Conflicts(conflicts));
        std::vector<std::string> conflictTexts;
        for (const archive::ConflictRow& k : conflicts) {
            conflictTexts.push_back(archive::IsoTime(k.time) + " " + k.keptValue + " (" +
                                    std::to_string(k.keptDownload) + ") " + k.otherValue + " (" +
                                    std::to_string(k.otherDownload) + ")");
        }
        EXPECT_EQ(conflictTexts, c.conflicts);
        std::vector<archive::GapRow> gaps;
        ASSERT_TRUE(archive->Gaps(gaps));
        std::vector<std::string> gapTexts;
        for (const archive::GapRow& g : gaps) {
            gapTexts.push_back(archive::IsoTime(g.lastBefore) + " " +
                               archive::IsoTime(g.firstAfter) + " " + std::to_string(g.missing));
        }
        EXPECT_EQ(gapTexts, c.gaps);
    }
}

TEST_P(ArchiveEngines, AnArchiveOfANewerVersionOrAnotherDatabaseIsRefused) {
    const std::string location = NewLocation();
    ASSERT_TRUE(OpenArchive(location));
    ASSERT_TRUE(OpenArchive(location));  // opened again as it is
    const auto connect = [&](const std::string& where) {
        return GetParam() == Engine::Sqlite ? archive::OpenSqlite(where, 1000)
                                            : archive::OpenPostgres(where, 10);
    };
    ASSERT_TRUE(connect(location)->Execute("UPDATE archive_info SET value = '" +
                                           std::to_string(archive::kSchemaVersion + 1) + "'"));
    std::string error;
    EXPECT_FALSE(archive::Archive::Open(location, &error));
    EXPECT_NE(error.find("made by a newer version of this program"), std::string::npos) << error;

    const std::string other = NewLocation();
    ASSERT_TRUE(connect(other)->Execute("CREATE TABLE accounts (name TEXT)"));
    EXPECT_FALSE(archive::Archive::Open(other, &error));
    EXPECT_NE(error.find("holds other tables and is not an archive"), std::string::npos) << error;
    if (GetParam() == Engine::Sqlite) {
        // Refused, and left in the journal mode its own program gave it.
        const auto db = connect(other);
        const auto mode = db->Prepare("PRAGMA journal_mode");
        ASSERT_TRUE(mode->Step());
        EXPECT_EQ(mode->Text(0), "delete");
    }
}

// Two desks import one file at the same moment: one download, its
// conflicts listed once. A session holding the loggers' table keeps both
// inside their transactions until both have come as far as they can.
TEST_P(ArchiveEngines, TwoImportersOfOneFileAtOnceStoreItOnce) {
    if (GetParam() == Engine::Sqlite) {
        GTEST_SKIP() << "the file's write lock, taken at the start, serialises importers";
    }
    const std::string location = NewLocation();
    const auto first = OpenArchive(location), second = OpenArchive(location);
    ASSERT_TRUE(first && second);
    const DeviceLog earlier = MakeLog(Levels({1, 2, 3})), later = MakeLog(Levels({1, 2.5, 3}));
    SaveLog(earlier, dir_.File("earlier.omb"), "desk");
    SaveLog(later, dir_.File("later.omb"), "desk");
    ASSERT_TRUE(
        first->Import(e2e::ReadText(dir_.File("earlier.omb")), earlier, "COM5", "earlier.omb")
            .ok());
    const std::string text = e2e::ReadText(dir_.File("later.omb"));
    const auto holder = archive::OpenPostgres(location, 10);
    const auto watch = archive::OpenPostgres(location, 10);
    ASSERT_TRUE(holder->Begin() && holder->Execute("LOCK TABLE loggers"));
    archive::ImportResult results[2];
    std::thread desks[2];
    for (int d = 0; d < 2; ++d) {
        desks[d] = std::thread([&, d] {
            results[d] = (d == 0 ? first : second)->Import(text, later, "COM5", "later.omb");
        });
    }
    for (int waiting = 0; waiting != 2;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto count = watch->Prepare(
            "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'"
            " AND datname = current_database()");
        if (!count->Step()) {
            ADD_FAILURE() << watch->Error().message;
            break;
        }
        waiting = static_cast<int>(count->Int(0));
    }
    ASSERT_TRUE(holder->Commit());
    for (std::thread& desk : desks) {
        desk.join();
    }
    EXPECT_TRUE(results[0].ok() && results[1].ok()) << results[0].error << results[1].error;
    EXPECT_NE(results[0].alreadyImported, results[1].alreadyImported);
    std::vector<archive::DownloadRow> downloads;
    std::vector<archive::ConflictRow> conflicts;
    ASSERT_TRUE(first->Downloads(downloads) && first->Conflicts(conflicts));
    EXPECT_EQ(downloads.size(), 2u);
    EXPECT_EQ(conflicts.size(), 1u);
}

TEST_P(ArchiveEngines, ReadingMakesNoArchiveAndSaysWhatOneHolds) {
    const std::string location = NewLocation();
    std::string error;
    bool missing = false;
    EXPECT_FALSE(
        archive::Archive::Open(location, &error, archive::Archive::OpenMode::Existing, &missing));
    EXPECT_TRUE(missing);
    EXPECT_NE(error.find("there is no archive at "), std::string::npos) << error;
    const auto archive = OpenArchive(location);  // made now
    ASSERT_TRUE(archive);
    for (const char* serial : {"PX00-000001", "PX00-000002"}) {
        const DeviceLog log = MakeLog(With(Levels({1, 2, 3}), &LogRecipe::serial, serial));
        SaveLog(log, dir_.File("log.omb"), serial);
        ASSERT_TRUE(
            archive->Import(e2e::ReadText(dir_.File("log.omb")), log, "COM5", "l.omb").ok());
    }
    ASSERT_TRUE(archive::Archive::Open(location, &error, archive::Archive::OpenMode::Existing))
        << error;
    archive::ArchiveFacts facts;
    ASSERT_TRUE(archive->Facts(facts)) << archive->Error();
    EXPECT_TRUE(
        facts.engine.starts_with(GetParam() == Engine::Sqlite ? "SQLite 3." : "PostgreSQL "))
        << facts.engine;
    EXPECT_EQ(facts.version, archive::kSchemaVersion);
    EXPECT_EQ(facts.loggers, 2);
    EXPECT_EQ(facts.downloads, 2);

    // A long read follows its progress to the whole, and stops when asked to.
    std::vector<archive::LoggerSummary> loggers;
    std::vector<int64_t> done;
    ASSERT_TRUE(archive->Loggers(loggers, [&](int64_t d, int64_t total) {
        EXPECT_EQ(total, 6);
        done.push_back(d);
        return true;
    }));
    EXPECT_EQ(done.back(), 6);
    loggers.clear();
    EXPECT_FALSE(archive->Loggers(loggers, [](int64_t, int64_t) { return false; }));
}

// Two loggers' series in one table: a row per time, empty where one has no sample.
TEST(SeriesCsv, MergesSeriesByTime) {
    const archive::SeriesName a{1, "PX1", 1, "LEVEL", "M"}, b{2, "PX2", 1, "LEVEL, \"DEEP\"", "M"};
    const std::vector<archive::StoredSample> first = {{0, {125, 2}, 1}, {9000, {-5, 1}, 1}};
    const std::vector<archive::StoredSample> second = {{9000, {7, 0}, 2}, {18000, {30, 1}, 2}};
    EXPECT_EQ(archive::SeriesCsv({a, b}, {first, second}),
              "time_utc,PX1 LEVEL [M],\"PX2 LEVEL, \"\"DEEP\"\" [M]\"\n"
              "1970-01-01T00:00:00.0Z,1.25,\n"
              "1970-01-01T00:15:00.0Z,-0.5,7\n"
              "1970-01-01T00:30:00.0Z,,3.0\n");
    EXPECT_EQ(archive::SeriesCsv({a}, {first}),
              "time_utc,LEVEL [M]\n1970-01-01T00:00:00.0Z,1.25\n1970-01-01T00:15:00.0Z,-0.5\n");
}

// The grants the user guide gives a desk: insert and select, nothing more.
TEST_P(ArchiveEngines, ADeskThatMayOnlyInsertAndSelectImports) {
    if (GetParam() == Engine::Sqlite) {
        GTEST_SKIP() << "a file has no roles";
    }
    pgtest::PostgresServer& server = pgtest::SharedServer();
    const std::string database = server.NewDatabase();
    ASSERT_TRUE(OpenArchive(server.Uri(database)));  // the owner makes the tables
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
        const archive::ImportResult r =
            archive->Import(e2e::ReadText(dir_.File("desk.omb")), log, "COM5", "desk.omb");
        EXPECT_TRUE(r.ok()) << r.error;
    }
    std::vector<archive::ConflictRow> conflicts;
    EXPECT_TRUE(archive->Conflicts(conflicts));
    EXPECT_EQ(conflicts.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(, ArchiveEngines, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& info) {
                             return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
                         });

}  // namespace
