// A conflict resolved: the user's choice of the value the record keeps at a
// series' time, as a row of its own that a later choice, or taking it back,
// ends but never changes.

#include <ctime>
#include <optional>

#include "archive/IsoTime.h"
#include "archive/Store.h"
#include "platform/System.h"

namespace archive {

namespace {

struct Offered {
    int64_t conflict;
    std::string kept, other;
    int64_t keptDownload, otherDownload;
};

// The chosen value and its download among the conflicts at a time (in the
// order they came); empty why when there is one.
std::string Chosen(const std::vector<Offered>& conflicts, const Keep& keep, Choice& out) {
    switch (keep.kind) {
        case Keep::Kind::First:
            out.download = conflicts.front().keptDownload;
            out.value = conflicts.front().kept;
            return {};
        case Keep::Kind::Other: {
            std::string downloads;
            for (const Offered& c : conflicts) {
                downloads += " " + std::to_string(c.otherDownload);
                if (c.other != conflicts.front().other) {
                    return "several other values came at that time: name the download to keep"
                           " (one of" +
                           downloads + "...)";
                }
            }
            out.download = conflicts.front().otherDownload;
            out.value = conflicts.front().other;
            return {};
        }
        case Keep::Kind::Download:
            for (const Offered& c : conflicts) {
                if (c.keptDownload == keep.download || c.otherDownload == keep.download) {
                    out.download = keep.download;
                    out.value = c.keptDownload == keep.download ? c.kept : c.other;
                    return {};
                }
            }
            return "download " + std::to_string(keep.download) +
                   " gave none of the values in conflict at that time";
        case Keep::Kind::None:
            return {};
    }
    return {};
}

}  // namespace

Result<void> Archive::Resolve(const SeriesName& series, int64_t time, const Keep& keep) {
    Connection& db = *db_;
    db.Begin();
    // Two editors of one series take turns.
    db.LockSeries(series.id);
    std::vector<Offered> conflicts;
    auto at = db.Prepare(
        "SELECT id, kept_value, other_value, kept_download_id, other_download_id FROM conflicts"
        " WHERE series_id = ?1 AND time = ?2 ORDER BY id");
    BindAll(*at, {series.id, time});
    while (at->Step()) {
        conflicts.push_back({at->Int(0), at->Text(1), at->Text(2), at->Int(3), at->Int(4)});
    }
    at.reset();
    Choice choice;
    std::optional<Failure> refused;
    if (conflicts.empty() && !db.Failed()) {
        refused =
            Failure{Fault::NotFound, "no conflict of " + series.serial + " channel " +
                                         std::to_string(series.channel) + " at " + IsoTime(time)};
    } else if (!conflicts.empty()) {
        if (std::string why = Chosen(conflicts, keep, choice); !why.empty()) {
            refused = Failure{Fault::Refused, std::move(why)};
        }
    }
    if (refused) {
        db.Rollback();
        return *refused;
    }
    choice.at = static_cast<int64_t>(std::time(nullptr));
    if (db.Kind() == Engine::Postgres) {
        auto role = db.Prepare("SELECT CAST(current_user AS TEXT)");
        choice.by = role->Step() ? role->Text(0) : std::string();
    } else {
        choice.by = Field(platform::LoginName());
    }
    // The choice in force ends: an importer may not, so it is refused here.
    auto end = db.Prepare(
        "UPDATE resolutions SET ended_by = ?1, ended_at = ?2 WHERE series_id = ?3 AND time = ?4"
        " AND ended_at IS NULL");
    BindAll(*end, {choice.by, choice.at, series.id, time});
    end->Step();
    end.reset();
    if (keep.kind != Keep::Kind::None) {
        auto add = db.Prepare(
            "INSERT INTO resolutions (series_id, time, last_conflict_id, kept_download_id,"
            " kept_value, made_by, made_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        BindAll(*add, {series.id, time, conflicts.back().conflict, choice.download, choice.value,
                       choice.by, choice.at});
        add->Step();
    }
    db.Commit();
    if (!db.Failed()) {
        return {};
    }
    db.Rollback();
    const std::string engineWords = db.Error().message;
    const Failure failed = Failed();
    if (failed.kind == Fault::ReadOnly && db.Kind() == Engine::Postgres) {
        return Failure{Fault::ReadOnly,
                       "resolving a conflict takes an editor's role, one that may update the"
                       " table resolutions; the role " +
                           choice.by + " may only import (" + engineWords + ")"};
    }
    return failed;
}

}  // namespace archive
