#pragma once
// The one small interface through which the archive speaks to its engines,
// SQLite (a file) and PostgreSQL (a server): statements with numbered
// values (?1, ?2, ...), always bound, never written into the text; rows read
// one at a time; write transactions.
//
// A failure is kept by the connection until the next Begin or Clear, and
// every statement after it does nothing: a transaction is written as a
// straight line and its failure looked at once, before Commit.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace archive {

enum class Engine { Sqlite, Postgres };

// What kind of failure, for the words the user gets and whether to try again.
// The engines give the first kinds; the archive adds those after Retry.
enum class Fault {
    None,
    Busy,         // another program kept the archive for longer than the busy time-out
    ReadOnly,     // the file or the server's role may not be written
    Full,         // no room left on the disk
    Unreachable,  // the file cannot be opened, the server not reached or the login refused
    Lost,         // the connection broke during the work
    Unknown,   // the connection broke during a commit: whether it was made, only the server knows
    Retry,     // the server gave up this transaction for another's (deadlock): try again
    Missing,   // there is no archive at the location yet
    NotFound,  // no such logger, well, series, conflict or download in the archive
    Refused,   // the log itself cannot be kept, or the request makes no sense
    Other,
};

struct DbError {
    Fault fault = Fault::None;
    std::string message;  // the engine's words
};

class Statement {
  public:
    virtual ~Statement() = default;

    // The value of ?index (from 1); before the first Step.
    virtual void Bind(int index, int64_t value) = 0;
    virtual void Bind(int index, std::string_view text) = 0;
    virtual void BindBlob(int index, std::span<const uint8_t> bytes) = 0;
    // Runs the statement at the first call, then moves on a row: true while
    // a row is there; false at the end, and on a failure (the connection's Error).
    virtual bool Step() = 0;
    // The columns of the row Step stands on, from 0.
    virtual int64_t Int(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    virtual std::vector<uint8_t> Blob(int column) const = 0;
    // The rows an INSERT or UPDATE changed, once it ran.
    virtual int64_t Changes() const = 0;
};

class Connection {
  public:
    virtual ~Connection() = default;

    virtual Engine Kind() const = 0;
    virtual std::unique_ptr<Statement> Prepare(std::string_view sql) = 0;
    // Statements without values, separated by ';' (the schema).
    virtual bool Execute(std::string_view sql) = 0;
    // A write transaction: on SQLite it holds the file's write lock from here on.
    // On a server whose connection broke, it connects again first.
    virtual bool Begin() = 0;
    virtual bool Commit() = 0;
    virtual void Rollback() = 0;
    // Hold every other writer of the series, or of the schema, back until
    // this transaction ends (on SQLite the write lock does that already).
    virtual void LockSeries(int64_t seriesId) = 0;
    virtual void LockSchema() = 0;
    // The same for every importer of a file text of that hash: taken before
    // asking whether the text is in already, so that the second importer
    // of one file sees the first one's download.
    virtual void LockText(int64_t hash) = 0;
    // Called once the database is known to be an archive of this program's
    // (or made one just now), never before: another program's database is
    // left as it was. SQLite: the file is switched to write-ahead logging.
    virtual bool Adopt() = 0;

    bool Failed() const { return error_.fault != Fault::None; }
    const DbError& Error() const { return error_; }
    void Clear() { error_ = {}; }
    // The first failure stays.
    void Fail(Fault fault, std::string message) {
        if (!Failed()) {
            error_ = {fault, std::move(message)};
        }
    }

  private:
    DbError error_;
};

// An existing archive file, or a new one; never null (a failure is the
// connection's Error).
std::unique_ptr<Connection> OpenSqlite(const std::string& path, int busyTimeoutMs);
// A libpq connection string or URI, as ReadLocation gives it: without a
// password, which comes from where libpq takes it (.pgpass, a service file,
// the environment).
std::unique_ptr<Connection> OpenPostgres(const std::string& uri, int connectTimeoutSeconds);

}  // namespace archive
