// The archive opened: where it is, its engine, its tables made ready.

#include "archive/Archive.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "archive/Location.h"
#include "archive/Schema.h"
#include "archive/Store.h"
#include "platform/System.h"

namespace archive {

std::string DefaultLocation() {
    const std::string folder = platform::UserDataFolder();
    if (folder.empty()) {
        return {};
    }
    return (std::filesystem::path(folder) / "Arvelo" / "archive.sqlite").string();
}

namespace {

bool IsDataFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".omb" || extension == ".csv";
}

// Before an SQLite archive of an older version is brought up to this one: a
// copy of it as it is, beside it, under a name not taken yet. Its path; empty,
// with the failure the connection's, when none could be made.
std::string KeepCopy(Connection& db, const std::string& path, int version) {
    const std::filesystem::path original(path);
    const std::string stem =
        (original.parent_path() / original.stem()).string() + ".version" + std::to_string(version);
    for (int n = 1; n < 100; ++n) {
        const std::string copy =
            stem + (n == 1 ? "" : "-" + std::to_string(n)) + original.extension().string();
        std::error_code ignored;
        if (std::filesystem::exists(copy, ignored)) {
            continue;
        }
        auto vacuum = db.Prepare("VACUUM INTO ?1");
        vacuum->Bind(1, copy);
        vacuum->Step();
        return db.Failed() ? std::string() : copy;
    }
    db.Fail(Fault::Other, "every name for a copy beside it is taken");
    return {};
}

}  // namespace

std::vector<std::string> DataFilesUnder(const std::vector<std::string>& paths) {
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!std::filesystem::is_directory(path, error)) {
            files.push_back(path);
            continue;
        }
        std::vector<std::string> found;
        for (auto it = std::filesystem::recursive_directory_iterator(path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file(error) && IsDataFile(it->path())) {
                found.push_back(it->path().string());
            }
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

Archive::Archive(std::unique_ptr<Connection> db, std::string location, std::string migrated)
    : db_(std::move(db)), location_(std::move(location)), migrated_(std::move(migrated)) {}

Archive::~Archive() = default;

Result<std::unique_ptr<Archive>> Archive::Open(const std::string& chosen, OpenMode mode) {
    const Location read = ReadLocation(chosen);
    if (read.kind == Location::Kind::Refused) {
        return Failure{Fault::Refused,
                       "cannot open the archive " + Shown(chosen) + ": " + read.why};
    }
    const std::string location = read.text.empty() ? DefaultLocation() : read.text;
    if (location.empty()) {
        return Failure{Fault::Unreachable,
                       "the system names no data folder for the archive: choose its location"};
    }
    const Failure none{Fault::Missing, "there is no archive at " + Shown(location) +
                                           " yet: it is made when the first log is saved"};
    std::unique_ptr<Connection> db;
    if (read.kind == Location::Kind::Server) {
        db = OpenPostgres(location, kConnectTimeoutSeconds);
    } else {
        std::error_code ignored;
        if (mode == OpenMode::Existing && !std::filesystem::exists(location, ignored)) {
            return none;
        }
        // The default place's folder may not be there yet; another is the user's to make.
        if (read.text.empty()) {
            std::filesystem::create_directories(std::filesystem::path(location).parent_path(),
                                                ignored);
        }
        db = OpenSqlite(location, kBusyTimeoutMs);
    }
    if (db->Failed()) {
        return FailureOf(db->Error(), location);
    }
    const int version = SchemaVersion(*db);
    if (mode == OpenMode::Existing && version == 0 && !db->Failed()) {
        return none;  // an empty database
    }
    const bool older = version > 0 && version < kSchemaVersion;
    std::string copy;
    if (older && read.kind != Location::Kind::Server) {
        copy = KeepCopy(*db, location, version);
        if (copy.empty()) {
            return Failure{db->Error().fault,
                           "the archive " + Shown(location) + " is of version " +
                               std::to_string(version) + " and no copy of it could be kept" +
                               " before bringing it to version " + std::to_string(kSchemaVersion) +
                               ": " + db->Error().message};
        }
    }
    int broughtFrom = 0;
    if (const std::string why = PrepareSchema(*db, broughtFrom); !why.empty() || !db->Adopt()) {
        DbError failed = db->Error();
        // Tables whose making was cut off are looked for again at the next opening.
        if (failed.fault == Fault::Unknown) {
            failed.fault = Fault::Lost;
        }
        if (db->Failed()) {
            return FailureOf(failed, location);
        }
        return Failure{Fault::Other, "the archive " + Shown(location) + " cannot be used: " + why};
    }
    // Another program opening it at the same time may have brought it up first.
    std::string migrated;
    if (broughtFrom > 0) {
        migrated = "the archive " + Shown(location) + " was brought from version " +
                   std::to_string(broughtFrom) + " to version " + std::to_string(kSchemaVersion) +
                   (broughtFrom >= 2 ? ": room for the facts of water levels"
                                     : ": a well for each location, each logger's stays found"
                                       " from its logs, their clocks taken as UTC+00:00"
                                       " (arvelo-cli well deploy --clock declares another)") +
                   (copy.empty() ? ""
                                 : "; a copy at version " + std::to_string(version) +
                                       " is kept at " + Shown(copy));
    }
    return std::make_unique<Archive>(std::move(db), location, std::move(migrated));
}

Failure Archive::Failed() {
    Failure failed = FailureOf(db_->Error(), location_);
    db_->Clear();
    return failed;
}

Result<void> Archive::Done() {
    if (db_->Failed()) {
        return Failed();
    }
    return {};
}

}  // namespace archive
