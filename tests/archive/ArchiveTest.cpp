// The archive's merge rules, its wells and its schema, the same tables on
// SQLite and on a real PostgreSQL server.

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
using archive::Engine;

// A request done, or what it failed with.
template <typename T>
::testing::AssertionResult Ok(const archive::Result<T>& result) {
    if (result) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << result.failure().message;
}

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

// The rows of an SQLite archive of version 1 into the tables of version 1 on
// another engine, ids and all; the ids to come follow them.
void CopyVersionOne(const std::string& sqlite, archive::Connection& to) {
    ASSERT_TRUE(to.Execute(archive::SchemaStep(1, to.Kind()) +
                           ";INSERT INTO archive_info VALUES ('schema_version', '1')"));
    // Each table's columns: i a number, t a text, b bytes.
    const std::pair<const char*, const char*> tables[] = {
        {"loggers (id, serial, instrument_number)", "itt"},
        {"series (id, logger_id, channel, identification, unit)", "iiitt"},
        {"deployments (id, logger_id, location, start_time, sample_rate, sample_mode,"
         " interval_tenths, fixed_interval, headers)",
         "iitittiit"},
        {"downloads (id, deployment_id, imported_at, source, file_name, file_hash, file_size,"
         " file_text, first_time, last_time, new_samples, duplicates, conflicts)",
         "iiittiibiiiii"},
        {"sample_blocks (series_id, first_time, last_time, sample_count, decimals, download_id,"
         " samples)",
         "iiiiiib"},
        {"conflicts (id, series_id, time, kept_value, kept_download_id, other_value,"
         " other_download_id)",
         "iiititi"}};
    const auto from = archive::OpenSqlite(sqlite, 1000);
    for (const auto& [table, types] : tables) {
        const std::string name(table, std::string_view(table).find(' '));
        const std::string columns = std::string(table).substr(name.size() + 1);
        auto rows =
            from->Prepare("SELECT " + columns.substr(1, columns.size() - 2) + " FROM " + name);
        std::string values;
        for (std::size_t c = 0; c < std::strlen(types); ++c) {
            values += (c == 0 ? "?" : ", ?") + std::to_string(c + 1);
        }
        while (rows->Step()) {
            auto insert =
                to.Prepare("INSERT INTO " + std::string(table) + " VALUES (" + values + ")");
            for (int c = 0; types[c] != '\0'; ++c) {
                if (types[c] == 'i') {
                    insert->Bind(c + 1, rows->Int(c));
                } else if (types[c] == 't') {
                    insert->Bind(c + 1, rows->Text(c));
                } else {
                    insert->BindBlob(c + 1, rows->Blob(c));
                }
            }
            insert->Step();
        }
        ASSERT_FALSE(from->Failed() || to.Failed())
            << name << ": " << from->Error().message << to.Error().message;
        if (name != "sample_blocks") {
            ASSERT_TRUE(to.Execute("SELECT setval(pg_get_serial_sequence('" + name +
                                   "', 'id'), (SELECT max(id) FROM " + name + "))"));
        }
    }
}

// Until that many sessions of the server's database wait for a lock.
void WaitForLockWaiters(archive::Connection& watch, int sessions) {
    for (int waiting = 0; waiting != sessions;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto count = watch.Prepare(
            "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'"
            " AND datname = current_database()");
        if (!count->Step()) {
            ADD_FAILURE() << watch.Error().message;
            return;
        }
        waiting = static_cast<int>(count->Int(0));
    }
}

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
        auto opened = archive::Archive::Open(location);
        EXPECT_TRUE(opened) << opened.failure().message;
        return opened ? std::move(*opened) : nullptr;
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
        const auto conflicts = archive->Conflicts();
        ASSERT_TRUE(conflicts);
        std::vector<std::string> conflictTexts;
        for (const archive::ConflictRow& k : *conflicts) {
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
        const auto gaps = archive->Gaps();
        ASSERT_TRUE(gaps);
        std::vector<std::string> gapTexts;
        for (const archive::GapRow& g : *gaps) {
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
    const auto newer = archive::Archive::Open(location);
    ASSERT_FALSE(newer);
    EXPECT_NE(newer.failure().message.find("made by a newer version of this program"),
              std::string::npos)
        << newer.failure().message;

    const std::string other = NewLocation();
    ASSERT_TRUE(connect(other)->Execute("CREATE TABLE accounts (name TEXT)"));
    const auto foreign = archive::Archive::Open(other);
    ASSERT_FALSE(foreign);
    EXPECT_NE(foreign.failure().message.find("holds other tables and is not an archive"),
              std::string::npos)
        << foreign.failure().message;
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
    std::optional<archive::Result<archive::Imported>> results[2];
    std::thread desks[2];
    for (int d = 0; d < 2; ++d) {
        desks[d] = std::thread([&, d] {
            results[d] = (d == 0 ? first : second)->Import(text, later, "COM5", "later.omb");
        });
    }
    WaitForLockWaiters(*watch, 2);
    ASSERT_TRUE(holder->Commit());
    for (std::thread& desk : desks) {
        desk.join();
    }
    ASSERT_TRUE(*results[0] && *results[1]);
    EXPECT_NE((*results[0])->alreadyImported, (*results[1])->alreadyImported);
    const auto downloads = first->Downloads();
    const auto conflicts = first->Conflicts();
    ASSERT_TRUE(downloads && conflicts);
    EXPECT_EQ(downloads->size(), 2u);
    EXPECT_EQ(conflicts->size(), 1u);
}

TEST_P(ArchiveEngines, ReadingMakesNoArchiveAndSaysWhatOneHolds) {
    const std::string location = NewLocation();
    const auto none = archive::Archive::Open(location, archive::Archive::OpenMode::Existing);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.failure().kind, archive::Fault::Missing);
    EXPECT_NE(none.failure().message.find("there is no archive at "), std::string::npos)
        << none.failure().message;
    const auto archive = OpenArchive(location);  // made now
    ASSERT_TRUE(archive);
    for (const char* serial : {"PX00-000001", "PX00-000002"}) {
        const DeviceLog log = MakeLog(With(Levels({1, 2, 3}), &LogRecipe::serial, serial));
        SaveLog(log, dir_.File("log.omb"), serial);
        ASSERT_TRUE(
            archive->Import(e2e::ReadText(dir_.File("log.omb")), log, "COM5", "l.omb").ok());
    }
    const auto existing = archive::Archive::Open(location, archive::Archive::OpenMode::Existing);
    ASSERT_TRUE(existing) << existing.failure().message;
    const auto read = archive->Facts();
    ASSERT_TRUE(read) << read.failure().message;
    const archive::ArchiveFacts& facts = *read;
    EXPECT_TRUE(
        facts.engine.starts_with(GetParam() == Engine::Sqlite ? "SQLite 3." : "PostgreSQL "))
        << facts.engine;
    EXPECT_EQ(facts.version, archive::kSchemaVersion);
    EXPECT_EQ(facts.loggers, 2);
    EXPECT_EQ(facts.downloads, 2);
    // What a request names and the archive does not hold is not found, by kind.
    for (const archive::Failure& missing :
         {archive->Deployments("PX99-000001").failure(), archive->DownloadText(99).failure(),
          archive->RenameWell("NO WELL", "X").failure()}) {
        EXPECT_EQ(missing.kind, archive::Fault::NotFound) << missing.message;
    }

    // A long read follows its progress to the whole, and stops when asked to.
    std::vector<int64_t> done;
    ASSERT_TRUE(archive->Loggers([&](int64_t d, int64_t total) {
        EXPECT_EQ(total, 6);
        done.push_back(d);
        return true;
    }));
    EXPECT_EQ(done.back(), 6);
    EXPECT_FALSE(archive->Loggers([](int64_t, int64_t) { return false; }));
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
    void LockText(int64_t) override {}
    bool Adopt() override { return file_->Adopt(); }

  private:
    std::unique_ptr<archive::Connection> file_;
    int commits_ = 0;
};

// A computed number (a level, an offset) is written as printf writes it:
// exact halves to even, a value a hair off a half rounded by its true value,
// negatives, no "-0", large values.
TEST(SeriesCsv, NumbersAreWrittenAsPrintfWritesThem) {
    std::vector<double> values = {0.125,    0.375,   2.5,       3.5,          -2.5, 1.005, 2.675,
                                  -0.00001, 0.88995, 1e9 + 0.5, 123456.78905, 8.41, -7.0};
    // Quarters and eighths between loggers' samples, as interpolation makes them.
    for (int k = -400; k <= 400; ++k) {
        values.push_back(k / 8.0 + 1021.34);
        values.push_back((1110.0 - (1020.0 + k * 0.0025)) / 100);
    }
    for (const double value : values) {
        for (int decimals = 0; decimals <= 6; ++decimals) {
            char printed[64];
            std::snprintf(printed, sizeof printed, "%.*f", decimals, value);
            // A negative that rounds to zero is written without its sign.
            const bool zero = std::string(printed).find_first_not_of("-0.") == std::string::npos;
            const std::string expected = printed + (zero && printed[0] == '-' ? 1 : 0);
            const auto decimal = archive::DecimalOf(value, decimals);
            ASSERT_TRUE(decimal);
            EXPECT_EQ(archive::DecimalText(*decimal), expected) << value << " to " << decimals;
        }
    }
}

TEST(ArchiveImport, AnImportGivenUpForAnotherIsTriedAgainWhole) {
    simtest::TempDir dir;
    const std::string path = dir.File("a.sqlite");
    const auto made = archive::Archive::Open(path);
    ASSERT_TRUE(made) << made.failure().message;  // the tables made
    archive::Archive archive(
        std::make_unique<FirstCommitDeadlocks>(archive::OpenSqlite(path, 1000)), path);
    const DeviceLog log = MakeLog(Levels({1, 2, 3}));
    SaveLog(log, dir.File("l.omb"));
    const auto r = archive.Import(e2e::ReadText(dir.File("l.omb")), log, "COM5", "l.omb");
    ASSERT_TRUE(r) << r.failure().message;
    EXPECT_EQ(r->newSamples, 3);
    const auto downloads = archive.Downloads();
    ASSERT_TRUE(downloads);
    EXPECT_EQ(downloads->size(), 1u);
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

LogRecipe At(std::string location, std::string start, std::vector<double> values,
             std::string serial = "PX00-012767") {
    LogRecipe recipe = Levels(std::move(values));
    recipe.location = std::move(location);
    recipe.start = std::move(start);
    recipe.serial = std::move(serial);
    return recipe;
}

WellStep Log(LogRecipe log, int clock = 0) {
    return {std::move(log), clock};
}

const std::string kSouth = "WELL FIELD SOUTH W7", kEast = "WELL FIELD EAST W7";
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
        for (const archive::WellRow& w : wells) {
            std::string text = w.name + " [";
            for (const std::string& name : w.names) {
                text += (name == w.names.front() ? "" : "; ") + name;
            }
            text += "]:";
            for (const archive::DeploymentRow& d : w.deployments) {
                text += (&d == &w.deployments.front() ? " " : "; ") + d.serial + " " +
                        archive::IsoTime(d.startTime) + "-" +
                        (d.end ? archive::IsoTime(*d.end) : "") + " " +
                        archive::ClockOffsetText(d.clockOffset) + (d.declared ? " declared" : "");
            }
            texts.push_back(text);
        }
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

// An archive of version 1, as the program before wells made it (four logs
// imported with arvelo-cli archive import: a logger moved from one well to
// another with a conflict in the first, and a well of a Latin-1 name),
// opened: every sample kept, a well for each location, each logger's stays.
// On PostgreSQL the same rows are copied into the tables of version 1.
TEST_P(ArchiveEngines, AnArchiveOfVersionOneIsMigratedWithEverySample) {
    const std::string original =
        std::string(ARVELO_SOURCE_DIR) + "/tests/archive/data/version1.sqlite";
    std::string location;
    if (GetParam() == Engine::Sqlite) {
        location = dir_.File("old.sqlite");
        std::filesystem::copy_file(original, location);
    } else {
        location = NewLocation();
        CopyVersionOne(original, *archive::OpenPostgres(location, 10));
    }
    auto opened = archive::Archive::Open(location);
    ASSERT_TRUE(opened) << opened.failure().message;
    const auto archive = std::move(*opened);
    EXPECT_NE(archive->Migrated().find("brought from version 1 to version 3"), std::string::npos)
        << archive->Migrated();
    if (GetParam() == Engine::Sqlite) {
        const std::string copy = dir_.File("old.version1.sqlite");
        EXPECT_NE(archive->Migrated().find(copy), std::string::npos) << archive->Migrated();
        EXPECT_EQ(archive::SchemaVersion(*archive::OpenSqlite(copy, 1000)), 1);
    }
    const auto facts = archive->Facts();
    ASSERT_TRUE(Ok(facts));
    EXPECT_EQ(facts->version, archive::kSchemaVersion);
    EXPECT_EQ(facts->downloads, 4);
    const auto loggers = archive->Loggers();
    ASSERT_TRUE(Ok(loggers));
    ASSERT_EQ(loggers->size(), 2u);
    EXPECT_EQ(loggers->at(0).held.samples + loggers->at(1).held.samples, 21);
    EXPECT_EQ(loggers->at(0).held.conflicts, 1);
    const auto read = archive->Wells();
    ASSERT_TRUE(Ok(read));
    const std::vector<archive::WellRow>& wells = *read;
    ASSERT_EQ(wells.size(), 3u);
    EXPECT_EQ(wells[0].name, "BRUNNEN GR\xC3\x9CN 3");
    EXPECT_EQ(wells[2].name, kSouth);
    ASSERT_EQ(wells[2].deployments.size(), 1u);
    EXPECT_EQ(wells[2].deployments[0].end, *archive::ParseIsoTime("2024-03-16T06:00:00Z", false));
    const auto south = archive->WellSeries(kSouth, "1", std::nullopt, std::nullopt);
    ASSERT_TRUE(Ok(south));
    EXPECT_EQ(south->rows.size(), 6u);
    // Importing goes on where the old archive stood.
    const DeviceLog log = MakeLog(At(kSouth, "00:00:12 16/03/24", {5}));
    SaveLog(log, dir_.File("later.omb"));
    const auto later =
        archive->Import(e2e::ReadText(dir_.File("later.omb")), log, "COM5", "later.omb");
    ASSERT_TRUE(Ok(later));
    EXPECT_EQ(later->downloadId, 5);
}

// Two programs open one archive of version 1 on a server at once: it is
// brought to this version once, under the schema's lock, and only the one that
// did it says so. A session holding the schema's lock keeps both waiting
// until both have seen version 1.
TEST_P(ArchiveEngines, TwoOpenersOfAnArchiveOfVersionOneMigrateItOnce) {
    if (GetParam() == Engine::Sqlite) {
        GTEST_SKIP() << "the file's write lock, taken at the start, serialises openers";
    }
    const std::string location = NewLocation();
    CopyVersionOne(std::string(ARVELO_SOURCE_DIR) + "/tests/archive/data/version1.sqlite",
                   *archive::OpenPostgres(location, 10));
    const auto holder = archive::OpenPostgres(location, 10);
    const auto watch = archive::OpenPostgres(location, 10);
    ASSERT_TRUE(holder->Begin());
    holder->LockSchema();
    std::optional<archive::Result<std::unique_ptr<archive::Archive>>> opened[2];
    std::thread openers[2];
    for (int o = 0; o < 2; ++o) {
        openers[o] = std::thread([&, o] { opened[o] = archive::Archive::Open(location); });
    }
    WaitForLockWaiters(*watch, 2);
    ASSERT_TRUE(holder->Commit());
    for (std::thread& opener : openers) {
        opener.join();
    }
    int migrated = 0;
    for (const auto& o : opened) {
        ASSERT_TRUE(Ok(*o));
        migrated +=
            (**o)->Migrated().find("brought from version 1 to version 3") != std::string::npos;
    }
    EXPECT_EQ(migrated, 1);
    const auto facts = (**opened[0])->Facts();
    const auto loggers = (**opened[1])->Loggers();
    ASSERT_TRUE(Ok(facts) && Ok(loggers));
    EXPECT_EQ(facts->version, archive::kSchemaVersion);
    EXPECT_EQ(facts->downloads, 4);
    ASSERT_EQ(loggers->size(), 2u);
    EXPECT_EQ(loggers->at(0).held.samples + loggers->at(1).held.samples, 21);
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

// An archive of version 2, as the program before water levels made it (the
// archive of version 1 opened, a conflict resolved and a stay declared),
// opened: brought to this version with its choices and stays, and a well's
// facts can be declared.
TEST(ArchiveVersions, AnArchiveOfVersionTwoKeepsItsChoicesAndStays) {
    const simtest::TempDir dir;
    const std::string location = dir.File("old.sqlite");
    std::filesystem::copy_file(
        std::string(ARVELO_SOURCE_DIR) + "/tests/archive/data/version2.sqlite", location);
    auto opened = archive::Archive::Open(location);
    ASSERT_TRUE(opened) << opened.failure().message;
    const auto archive = std::move(*opened);
    EXPECT_NE(archive->Migrated().find("brought from version 2 to version 3"), std::string::npos)
        << archive->Migrated();
    const auto conflicts = archive->Conflicts();
    ASSERT_TRUE(Ok(conflicts));
    ASSERT_EQ(conflicts->size(), 1u);
    ASSERT_TRUE(conflicts->at(0).choice);
    EXPECT_EQ(conflicts->at(0).choice->value, "1.31");
    const auto well = archive->Well("BRUNNEN GR\xC3\x9CN 3");
    ASSERT_TRUE(Ok(well));
    ASSERT_EQ(well->deployments.size(), 1u);
    EXPECT_TRUE(well->deployments[0].declared);
    EXPECT_EQ(well->deployments[0].clockOffset, 60);
    EXPECT_TRUE(Ok(archive->SetWell(well->name, {"3.25", "m NAP", "52.1", std::nullopt})));
}

INSTANTIATE_TEST_SUITE_P(, ArchiveEngines, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const auto& engine) {
                             return engine.param == Engine::Sqlite ? "Sqlite" : "Postgres";
                         });

// Times as the archive prints and reads them, before 1970 too.
TEST(IsoTime, ReadsWhatItPrintsAndEachFormGiven) {
    const struct {
        std::string given;
        bool endOfDay;
        std::string printed;
    } cases[] = {
        {"1969-12-31T23:59:59.9Z", false, "1969-12-31T23:59:59.9Z"},
        {"1970-01-01T00:00:00", false, "1970-01-01T00:00:00.0Z"},
        {"1969-12-31", false, "1969-12-31T00:00:00.0Z"},
        {"1969-12-31", true, "1969-12-31T23:59:59.9Z"},
        {"2024-03-16T01:15:00.5+01:00", false, "2024-03-16T00:15:00.5Z"},
        {"2024-03-16T00:15:00-03:30", false, "2024-03-16T03:45:00.0Z"},
    };
    for (const auto& c : cases) {
        const std::optional<int64_t> tenths = archive::ParseIsoTime(c.given, c.endOfDay);
        ASSERT_TRUE(tenths) << c.given;
        EXPECT_EQ(archive::IsoTime(*tenths), c.printed) << c.given;
        EXPECT_EQ(archive::ParseIsoTime(c.printed, false), tenths) << c.given;
    }
    EXPECT_EQ(archive::ParseIsoTime("1969-12-31T23:59:59.9Z", false), -1);
}

}  // namespace
