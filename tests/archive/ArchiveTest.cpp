// The archive's schema and its openers: versions refused and migrated,
// importers at once, what a read makes and says, and the texts it writes; on
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
