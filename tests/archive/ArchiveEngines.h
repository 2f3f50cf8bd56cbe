#pragma once
// What the archive's tests share: a fixture that runs a case on SQLite and on
// a real PostgreSQL server, a request's outcome as an assertion, the logs the
// cases are made of, and the server-side helpers of the concurrency cases.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/Schema.h"
#include "support/ArchiveLogs.h"
#include "support/PostgresServer.h"
#include "support/SimTestSupport.h"

namespace archivetest {

using archive::Engine;

// A request done, or what it failed with.
template <typename T>
::testing::AssertionResult Ok(const archive::Result<T>& result) {
    if (result) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << result.failure().message;
}

inline LogRecipe Levels(std::vector<double> values) {
    LogRecipe recipe;
    recipe.values = {std::move(values)};
    return recipe;
}

inline LogRecipe With(LogRecipe recipe, std::string LogRecipe::*field, std::string value) {
    recipe.*field = std::move(value);
    return recipe;
}

inline LogRecipe At(std::string location, std::string start, std::vector<double> values,
                    std::string serial = "PX00-012767") {
    LogRecipe recipe = Levels(std::move(values));
    recipe.location = std::move(location);
    recipe.start = std::move(start);
    recipe.serial = std::move(serial);
    return recipe;
}

// Two wells of the field, by the names their logs give.
inline const std::string kSouth = "WELL FIELD SOUTH W7", kEast = "WELL FIELD EAST W7";

// The rows of an SQLite archive of version 1 into the tables of version 1 on
// another engine, ids and all; the ids to come follow them.
inline void CopyVersionOne(const std::string& sqlite, archive::Connection& to) {
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
inline void WaitForLockWaiters(archive::Connection& watch, int sessions) {
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

}  // namespace archivetest
