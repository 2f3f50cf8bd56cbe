#pragma once
// A PostgreSQL server of the tests' own: a cluster made with initdb in a
// temporary folder, reached only through a Unix socket there, stopped and
// removed at the end. As root (CI) it runs as the postgres user Debian's
// package creates: the server refuses to run as root.

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pgtest {

inline std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class PostgresServer {
  public:
    PostgresServer() {
        for (const char* version : {"17", "16", "15", "14", "13"}) {
            const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin/";
            if (std::filesystem::exists(bin + "initdb")) {
                bin_ = bin;
                break;
            }
        }
        if (bin_.empty()) {
            why_ = "the PostgreSQL server programs are not installed (Debian: postgresql)";
            return;
        }
        char pattern[] = "/tmp/arvelo-pg-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            why_ = "no temporary folder";
            return;
        }
        dir_ = pattern;
        if (geteuid() == 0) {
            const passwd* user = getpwnam("postgres");
            if (user == nullptr || chown(dir_.c_str(), user->pw_uid, user->pw_gid) != 0) {
                why_ = "running as root, and there is no postgres user to run the server as";
                return;
            }
            asUser_ = "runuser -u postgres -- ";
        }
        if (!Run(asUser_ + bin_ + "initdb -D " + dir_ + "/data -A trust -U postgres -E UTF8" +
                 " --locale=C --no-sync >" + dir_ + "/initdb.log 2>&1") ||
            !Start()) {
            why_ = "the server did not start (see " + dir_ + ")";
            dir_.clear();  // kept for a look
        }
    }
    ~PostgresServer() {
        if (!dir_.empty()) {
            Stop(true);
            std::filesystem::remove_all(dir_);
        }
    }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Empty when the server runs; else why not.
    const std::string& Why() const { return why_; }

    bool Start() {
        return Run(asUser_ + bin_ + "pg_ctl -D " + dir_ + "/data -l " + dir_ +
                   "/server.log -w -t 60 -o \"-k " + dir_ +
                   " -c listen_addresses='' -c fsync=off\" start >/dev/null");
    }
    // immediate: as a crash, the clients' connections cut at once.
    bool Stop(bool immediate) {
        return Run(asUser_ + bin_ + "pg_ctl -D " + dir_ + "/data -w -m " +
                   (immediate ? "immediate" : "fast") + " stop >/dev/null 2>&1");
    }

    std::string Uri(const std::string& database) const {
        return "postgresql:///" + database + "?host=" + dir_ + "&user=postgres";
    }
    // The psql command that runs sql in database, for a shell.
    std::string PsqlCommand(const std::string& sql, const std::string& database) const {
        return bin_ + "psql -X -q -At -v ON_ERROR_STOP=1 -h " + dir_ + " -U postgres -d " +
               database + " -c " + ShellQuoted(sql);
    }
    bool Psql(const std::string& sql, const std::string& database = "postgres") const {
        return Run(PsqlCommand(sql, database) + " >/dev/null");
    }
    // A new empty database; its name.
    std::string NewDatabase() {
        const std::string name = "archive" + std::to_string(++databases_);
        return Psql("CREATE DATABASE " + name) ? name : std::string();
    }

  private:
    static bool Run(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string bin_;
    std::string dir_;
    std::string asUser_;
    std::string why_;
    int databases_ = 0;
};

// One server for all the tests of a program, started when first asked for.
inline PostgresServer& SharedServer() {
    static PostgresServer server;
    return server;
}

}  // namespace pgtest
