// The archive on a PostgreSQL server, through libpq. Values travel apart
// from the statement's text (text form, blobs as binary); results come as
// text.
#include <libpq-fe.h>

#include <cstdlib>
#include <optional>

#include "archive/Database.h"

namespace archive {

namespace {

// The first line of a server's or libpq's message.
std::string FirstLine(const char* message) {
    std::string text = message != nullptr ? message : "";
    text = text.substr(0, text.find('\n'));
    return text.empty() ? "the server gave no reason" : text;
}

// ?1, ?2, ... as PostgreSQL numbers its values: $1, $2, ...
std::string Numbered(std::string_view sql) {
    std::string text(sql);
    for (char& c : text) {
        if (c == '?') {
            c = '$';
        }
    }
    return text;
}

int HexDigit(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

class PgConnection;

class PgStatement final : public Statement {
  public:
    PgStatement(PgConnection& connection, std::string sql)
        : connection_(connection), sql_(std::move(sql)) {}
    ~PgStatement() override { PQclear(result_); }

    void Bind(int index, int64_t value) override { Set(index, std::to_string(value), 0); }
    void Bind(int index, std::string_view text) override { Set(index, std::string(text), 0); }
    void BindBlob(int index, std::span<const uint8_t> bytes) override {
        Set(index, std::string(bytes.begin(), bytes.end()), 1);
    }
    bool Step() override;
    int64_t Int(int column) const override {
        return std::strtoll(PQgetvalue(result_, row_, column), nullptr, 10);
    }
    std::string Text(int column) const override {
        return std::string(PQgetvalue(result_, row_, column),
                           static_cast<std::size_t>(PQgetlength(result_, row_, column)));
    }
    // bytea in text form: "\x" and two hexadecimal digits a byte.
    std::vector<uint8_t> Blob(int column) const override {
        const std::string text = Text(column);
        std::vector<uint8_t> bytes;
        bytes.reserve(text.size() / 2);
        for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
        }
        return bytes;
    }
    int64_t Changes() const override { return changes_; }

  private:
    void Set(int index, std::string value, int format) {
        const auto at = static_cast<std::size_t>(index - 1);
        if (values_.size() <= at) {
            values_.resize(at + 1);
            formats_.resize(at + 1, 0);
        }
        values_[at] = std::move(value);
        formats_[at] = format;
    }

    PgConnection& connection_;
    const std::string sql_;
    std::vector<std::optional<std::string>> values_;
    std::vector<int> formats_;
    PGresult* result_ = nullptr;
    bool ran_ = false;
    int row_ = -1;
    int64_t changes_ = 0;
};

class PgConnection final : public Connection {
  public:
    PgConnection(const std::string& uri, int connectTimeoutSeconds) {
        // What the location says itself wins over these: it comes after them.
        const std::string timeout = std::to_string(connectTimeoutSeconds);
        const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char* values[] = {timeout.c_str(), "arvelo", uri.c_str(), nullptr};
        pg_ = PQconnectdbParams(keywords, values, 1);
        Connected();
    }
    ~PgConnection() override { PQfinish(pg_); }

    Engine Kind() const override { return Engine::Postgres; }
    std::unique_ptr<Statement> Prepare(std::string_view sql) override {
        return std::make_unique<PgStatement>(*this, Numbered(sql));
    }
    bool Execute(std::string_view sql) override {
        if (Failed()) {
            return false;
        }
        PGresult* result = PQexec(pg_, std::string(sql).c_str());
        Check(result);
        PQclear(result);
        return !Failed();
    }
    bool Begin() override {
        Clear();
        if (PQstatus(pg_) == CONNECTION_BAD) {
            PQreset(pg_);
            if (!Connected()) {
                return false;
            }
        }
        return Execute("BEGIN");
    }
    bool Commit() override {
        if (Failed()) {
            return false;
        }
        // The server may have made the commit before the answer was lost.
        committing_ = true;
        Execute("COMMIT");
        committing_ = false;
        return !Failed();
    }
    void Rollback() override {
        if (pg_ != nullptr && PQtransactionStatus(pg_) != PQTRANS_IDLE &&
            PQstatus(pg_) == CONNECTION_OK) {
            PQclear(PQexec(pg_, "ROLLBACK"));
        }
    }
    // Series ids are positive: the schema's key is none of them.
    void LockSeries(int64_t seriesId) override { Lock(seriesId); }
    void LockSchema() override { Lock(0); }
    // Another space of keys than the series': a lock of two 32-bit halves.
    void LockText(int64_t hash) override {
        auto lock = Prepare("SELECT pg_advisory_xact_lock(1, ?1)");
        lock->Bind(1, static_cast<int64_t>(static_cast<int32_t>(hash ^ (hash >> 32))));
        lock->Step();
    }
    bool Adopt() override { return !Failed(); }

    PGconn* Pg() const { return pg_; }

    // False, and the failure kept, unless the result is a success.
    bool Check(const PGresult* result) {
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            return true;
        }
        const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        const std::string code = state != nullptr ? state : "";
        const std::string message =
            FirstLine(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(pg_));
        if (PQstatus(pg_) != CONNECTION_OK || code.starts_with("08") || code.starts_with("57P")) {
            Fail(committing_ ? Fault::Unknown : Fault::Lost, message);
        } else if (code == "40P01" || code == "40001") {
            Fail(Fault::Retry, message);
        } else if (code == "42501" || code == "25006") {
            Fail(Fault::ReadOnly, message);
        } else if (code == "53100") {
            Fail(Fault::Full, message);
        } else {
            Fail(Fault::Other, message);
        }
        return false;
    }

  private:
    // False, and the failure kept, unless the connection was made; then
    // its settings given.
    bool Connected() {
        if (PQstatus(pg_) != CONNECTION_OK) {
            Fail(Fault::Unreachable, FirstLine(PQerrorMessage(pg_)));
            return false;
        }
        return Execute("SET client_min_messages = warning");
    }
    void Lock(int64_t key) {
        auto lock = Prepare("SELECT pg_advisory_xact_lock(?1)");
        lock->Bind(1, key);
        lock->Step();
    }

    PGconn* pg_ = nullptr;
    bool committing_ = false;
};

bool PgStatement::Step() {
    if (!ran_) {
        ran_ = true;
        if (connection_.Failed()) {
            return false;
        }
        std::vector<const char*> values(values_.size());
        std::vector<int> lengths(values_.size());
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values[i] = values_[i] ? values_[i]->data() : nullptr;
            lengths[i] = values_[i] ? static_cast<int>(values_[i]->size()) : 0;
        }
        result_ = PQexecParams(connection_.Pg(), sql_.c_str(), static_cast<int>(values.size()),
                               nullptr, values.data(), lengths.data(), formats_.data(), 0);
        if (!connection_.Check(result_)) {
            return false;
        }
        changes_ = std::strtoll(PQcmdTuples(result_), nullptr, 10);
    }
    if (result_ == nullptr || connection_.Failed()) {
        return false;
    }
    return ++row_ < PQntuples(result_);
}

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const std::string& uri, int connectTimeoutSeconds) {
    return std::make_unique<PgConnection>(uri, connectTimeoutSeconds);
}

}  // namespace archive
