// A build without libpq (Windows): a server location says so.
#include "archive/Database.h"

namespace archive {

namespace {

class Unavailable final : public Connection {
  public:
    Unavailable() {
        Fail(Fault::Unreachable,
             "this build has no PostgreSQL; use an SQLite archive (a file) instead");
    }
    Engine Kind() const override { return Engine::Postgres; }
    std::unique_ptr<Statement> Prepare(std::string_view) override { return nullptr; }
    bool Execute(std::string_view) override { return false; }
    bool Begin() override { return false; }
    bool Commit() override { return false; }
    void Rollback() override {}
    void LockSeries(int64_t) override {}
    void LockSchema() override {}
    void LockText(int64_t) override {}
    bool Adopt() override { return false; }
};

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const std::string&, int) {
    return std::make_unique<Unavailable>();
}

}  // namespace archive
