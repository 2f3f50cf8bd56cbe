// The archive in one SQLite file, through SQLite's C API. Statements are
// prepared once per connection and kept: an import runs the same few
// hundreds of times.
#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <map>

#include "archive/Database.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace archive {

namespace {

constexpr uint32_t kJournalRetryMs = 20;

Fault FaultOf(int code) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Fault::Busy;
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return Fault::ReadOnly;
        case SQLITE_FULL:
            return Fault::Full;
        case SQLITE_CANTOPEN:
            return Fault::Unreachable;
        default:
            return Fault::Other;
    }
}

// path as the file part of an SQLite URI: every byte but the plainest escaped.
std::string UriPath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 15];
        }
    }
    return escaped;
}

// The query that opens a file this user may not write for reading only,
// leaving nothing beside it: its write-ahead log and shared memory, made by
// such a reader, would be the reader's, and their owner could no longer use
// the archive. A log in use is read through its files, there already; with
// none, the file is read as it stands (no program has changes of it in a
// log), and changes made after are seen when it is opened again.
std::string ReadOnlyQuery(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path + "-wal", ignored) &&
                   std::filesystem::exists(path + "-shm", ignored)
               ? "?mode=ro"
               : "?immutable=1";
}

class SqliteConnection;

class SqliteStatement final : public Statement {
  public:
    SqliteStatement(SqliteConnection& connection, sqlite3_stmt* statement, bool cached)
        : connection_(connection), statement_(statement), cached_(cached) {}
    ~SqliteStatement() override;

    void Bind(int index, int64_t value) override { sqlite3_bind_int64(statement_, index, value); }
    void Bind(int index, std::string_view text) override {
        sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
    }
    void BindBlob(int index, std::span<const uint8_t> bytes) override {
        // A null pointer would bind NULL, not an empty blob.
        static const uint8_t kNothing = 0;
        sqlite3_bind_blob64(statement_, index, bytes.empty() ? &kNothing : bytes.data(),
                            bytes.size(), SQLITE_TRANSIENT);
    }
    bool Step() override;
    int64_t Int(int column) const override { return sqlite3_column_int64(statement_, column); }
    std::string Text(int column) const override {
        const auto* text = sqlite3_column_text(statement_, column);
        return text == nullptr
                   ? std::string()
                   : std::string(
                         reinterpret_cast<const char*>(text),
                         static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
    }
    std::vector<uint8_t> Blob(int column) const override {
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
        return bytes == nullptr
                   ? std::vector<uint8_t>()
                   : std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(statement_, column));
    }
    int64_t Changes() const override { return changes_; }

  private:
    SqliteConnection& connection_;
    sqlite3_stmt* statement_;
    const bool cached_;
    int64_t changes_ = 0;
};

class SqliteConnection final : public Connection {
  public:
    SqliteConnection(const std::string& path, int busyTimeoutMs) : busyTimeoutMs_(busyTimeoutMs) {
        std::error_code ignored;
        const bool readOnly = std::filesystem::exists(path, ignored) && !platform::MayWrite(path);
        const int opened =
            readOnly ? sqlite3_open_v2(("file:" + UriPath(path) + ReadOnlyQuery(path)).c_str(),
                                       &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
                     : sqlite3_open_v2(path.c_str(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (opened != SQLITE_OK) {
            Fail(FaultOf(opened), db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(opened));
            return;
        }
        sqlite3_extended_result_codes(db_, 1);
        // Short waits for another program (the window program and arvelo-cli
        // on one file) are waited out, never shown.
        sqlite3_busy_timeout(db_, busyTimeoutMs);
        // 16 KiB pages for a new file (an existing one keeps its own): a block
        // of samples then fits a page, and a read of every block takes a
        // quarter of the reads of the default 4 KiB.
        Execute("PRAGMA page_size=16384; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON");
    }
    ~SqliteConnection() override {
        for (auto& [sql, entry] : cache_) {
            sqlite3_finalize(entry.statement);
        }
        sqlite3_close(db_);
    }

    Engine Kind() const override { return Engine::Sqlite; }

    std::unique_ptr<Statement> Prepare(std::string_view sql) override {
        auto found = cache_.find(sql);
        if (found == cache_.end()) {
            sqlite3_stmt* statement = nullptr;
            if (!Check(sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement,
                                          nullptr))) {
                return std::make_unique<SqliteStatement>(*this, nullptr, false);
            }
            found = cache_.emplace(std::string(sql), Entry{statement, false}).first;
        }
        if (found->second.inUse) {
            // The same statement twice at once (a query inside a query's loop).
            sqlite3_stmt* statement = nullptr;
            Check(sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement,
                                     nullptr));
            return std::make_unique<SqliteStatement>(*this, statement, false);
        }
        found->second.inUse = true;
        return std::make_unique<SqliteStatement>(*this, found->second.statement, true);
    }

    bool Execute(std::string_view sql) override {
        if (Failed()) {
            return false;
        }
        char* message = nullptr;
        const int result = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message);
        if (result != SQLITE_OK) {
            Fail(FaultOf(result), message != nullptr ? message : sqlite3_errstr(result));
        }
        sqlite3_free(message);
        return !Failed();
    }

    bool Begin() override {
        Clear();
        return Execute("BEGIN IMMEDIATE");
    }
    bool Commit() override { return Execute("COMMIT"); }
    void Rollback() override {
        if (sqlite3_get_autocommit(db_) == 0) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    void LockSeries(int64_t) override {}
    void LockSchema() override {}
    void LockText(int64_t) override {}

    // Write-ahead logging: readers never wait for a writer, and a commit is
    // one synced write. A read-only file keeps its journal. Switching a
    // file to it does not wait for another program as the busy time-out
    // would: it is asked again until that time is up.
    bool Adopt() override {
        if (Failed() || sqlite3_db_readonly(db_, "main") != 0) {
            return !Failed();
        }
        const uint64_t giveUpAt = platform::TickCount() + static_cast<uint64_t>(busyTimeoutMs_);
        int result = SQLITE_BUSY;
        while (((result = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr)) &
                0xff) == SQLITE_BUSY &&
               platform::TickCount() < giveUpAt) {
            platform::Sleep(kJournalRetryMs);
        }
        return Check(result);
    }

    // False, and the failure kept, unless result is a success.
    bool Check(int result) {
        if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) {
            return true;
        }
        Fail(FaultOf(result), sqlite3_errmsg(db_));
        return false;
    }
    int64_t Changes() const { return sqlite3_changes64(db_); }

    void Release(sqlite3_stmt* statement) {
        for (auto& [sql, entry] : cache_) {
            if (entry.statement == statement) {
                entry.inUse = false;
            }
        }
    }

  private:
    struct Entry {
        sqlite3_stmt* statement;
        bool inUse;
    };

    const int busyTimeoutMs_;
    sqlite3* db_ = nullptr;
    std::map<std::string, Entry, std::less<>> cache_;
};

SqliteStatement::~SqliteStatement() {
    if (statement_ == nullptr) {
        return;
    }
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    if (cached_) {
        connection_.Release(statement_);
    } else {
        sqlite3_finalize(statement_);
    }
}

bool SqliteStatement::Step() {
    if (statement_ == nullptr || connection_.Failed()) {
        return false;
    }
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) {
        return true;
    }
    changes_ = result == SQLITE_DONE ? connection_.Changes() : 0;
    connection_.Check(result);
    return false;
}

}  // namespace

std::unique_ptr<Connection> OpenSqlite(const std::string& path, int busyTimeoutMs) {
    return std::make_unique<SqliteConnection>(path, busyTimeoutMs);
}

}  // namespace archive
