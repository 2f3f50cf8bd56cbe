// The archive's merge rules and its schema, the same table on SQLite and on
// a real PostgreSQL server.

#include "archive/Archive.h"

#include <gtest/gtest.h>

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
      {Levels({1, 2, 3, 4}), 1, 3, 0}},
     "2024-03-16T00:00:00.0Z 1.00\n2024-03-16T00:07:00.0Z 7.00\n2024-03-16T00:15:00.0Z 2.00\n"
     "2024-03-16T00:22:00.0Z 8.00\n2024-03-16T00:30:00.0Z 3.00\n2024-03-16T00:45:00.0Z 4.00\n"},
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
        std::string serial;  // as the archive keeps it
        for (std::size_t s = 0; s < c.steps.size(); ++s) {
            const Step& step = c.steps[s];
            if (step.choose) {
                archive::SeriesName name;
                ASSERT_TRUE(archive->FindSeries(serial, "1", name)) << archive->Error();
                EXPECT_EQ(archive->Resolve(name, *archive::ParseIsoTime(step.choose->time, false),
                                           step.choose->keep),
                          !step.refused)
                    << archive->Error();
                continue;
            }
            const std::string path = dir_.File("log" + std::to_string(s) + ".omb");
            const DeviceLog log = MakeLog(step.log);
            if (!step.sameFileAgain) {
                SaveLog(log, path, "desk" + std::to_string(s));
                text = e2e::ReadText(path);
            }
            const archive::ImportResult r =
                archive->Import(text, log, "COM5", "log" + std::to_string(s) + ".omb");
            ASSERT_EQ(r.ok(), !step.refused) << r.error;
            EXPECT_EQ(r.alreadyImported, step.sameFileAgain);
            EXPECT_EQ(r.newSamples, step.fresh);
            EXPECT_EQ(r.duplicates, step.duplicates);
            EXPECT_EQ(r.conflicts, step.conflicts);
            if (r.ok()) {
                EXPECT_EQ(archive->DownloadText(r.downloadId), text);  // byte for byte
                lastDownload = r.downloadId;
                serial = r.serial;
            }
        }
        std::vector<archive::LoggerSummary> loggers;
        ASSERT_TRUE(archive->Loggers(loggers)) << archive->Error();
        std::string series;
        if (!loggers.empty()) {
            std::vector<archive::DeploymentRow> deployments;
            ASSERT_TRUE(archive->Deployments(loggers[0].serial, deployments));
            EXPECT_EQ(deployments.back().location, c.steps.back().log.location);
            EXPECT_EQ(loggers[0].location, c.steps.back().log.location);
            archive::SeriesName name;
            std::vector<archive::Sample> samples;
            ASSERT_TRUE(archive->FindSeries(loggers[0].serial, "LEVEL", name)) << archive->Error();
            ASSERT_TRUE(archive->Samples(name, std::nullopt, std::nullopt, samples));
            for (const archive::Sample& sample : samples) {
                series += archive::IsoTime(sample.time) + " " + sample.value + "\n";
            }
            // The series' gaps from the same read as its values.
            std::vector<archive::StoredSample> values;
            std::vector<archive::GapRow> seriesGaps;
            ASSERT_TRUE(archive->Values(name, std::nullopt, std::nullopt, values, &seriesGaps));
            EXPECT_EQ(seriesGaps.size(), c.gaps.size());
            EXPECT_EQ(loggers[0].held.conflicts, static_cast<int64_t>(c.conflicts.size()));
            EXPECT_EQ(loggers[0].held.open,
                      std::count_if(c.conflicts.begin(), c.conflicts.end(),
                                    [](const std::string& k) { return k.ends_with(" open"); }));
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
            conflictTexts.push_back(
                archive::IsoTime(k.time) + " " + k.keptValue + " (" +
                std::to_string(k.keptDownload) + " " + k.keptFile + ") " + k.otherValue + " (" +
                std::to_string(k.otherDownload) + " " + k.otherFile + ") " +
                (k.choice
                     ? "-> " + k.choice->value + " (" + std::to_string(k.choice->download) + ")"
                     : "open"));
            EXPECT_GT(k.keptImported, 1700000000);
            EXPECT_GE(k.otherImported, k.keptImported);
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

// A file archive whose first commit the "server" gives up for another
// transaction, as PostgreSQL does in a deadlock.
class FirstCommitDeadlocks : public archive::Connection {
  public:
    explicit FirstCommitDeadlocks(std::unique_ptr<archive::Connection> file)
        : file_(std::move(file)) {}
    archive::Engine Kind() const override { return file_->Kind(); }
    std::unique_ptr<archive::Statement> Prepare(std::string_view sql) override {
        return file_->Prepare(sql);
    }
    bool Execute(std::string_view sql) override { return file_->Execute(sql); }
    bool Begin() override {
        Clear();
        return file_->Begin();
    }
    bool Commit() override {
        if (commits_++ == 0) {
            Fail(archive::Fault::Retry, "deadlock detected");
            return false;
        }
        return file_->Commit();
    }
    void Rollback() override { file_->Rollback(); }
    void LockSeries(int64_t) override {}
    void LockSchema() override {}

  private:
    std::unique_ptr<archive::Connection> file_;
    int commits_ = 0;
};

TEST(ArchiveImport, AnImportGivenUpForAnotherIsTriedAgainWhole) {
    simtest::TempDir dir;
    const std::string path = dir.File("a.sqlite");
    std::string error;
    ASSERT_TRUE(archive::Archive::Open(path, &error)) << error;  // the tables made
    archive::Archive archive(
        std::make_unique<FirstCommitDeadlocks>(archive::OpenSqlite(path, 1000)), path);
    const DeviceLog log = MakeLog(Levels({1, 2, 3}));
    SaveLog(log, dir.File("l.omb"));
    const archive::ImportResult r =
        archive.Import(e2e::ReadText(dir.File("l.omb")), log, "COM5", "l.omb");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.newSamples, 3);
    std::vector<archive::DownloadRow> downloads;
    ASSERT_TRUE(archive.Downloads(downloads));
    EXPECT_EQ(downloads.size(), 1u);
}

// The grants the user guide gives a desk: insert and select, nothing more.
// A choice takes an editor: a desk's resolve is refused in words.
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
        const archive::ImportResult r =
            archive->Import(e2e::ReadText(dir_.File("desk.omb")), log, "COM5", "desk.omb");
        EXPECT_TRUE(r.ok()) << r.error;
    }
    std::vector<archive::ConflictRow> conflicts;
    EXPECT_TRUE(archive->Conflicts(conflicts));
    ASSERT_EQ(conflicts.size(), 1u);
    EXPECT_FALSE(archive->Resolve(conflicts[0].series, conflicts[0].time, {Kind::Other}));
    EXPECT_NE(archive->Error().find("takes an editor's role"), std::string::npos)
        << archive->Error();
    EXPECT_TRUE(owner->Resolve(conflicts[0].series, conflicts[0].time, {Kind::Other}))
        << owner->Error();
}

INSTANTIATE_TEST_SUITE_P(, ArchiveEngines, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& info) {
                             return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
                         });

}  // namespace
