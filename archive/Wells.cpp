// Wells: the places loggers hang in, and the stays of each logger there.
// A well's record is what its loggers measured while they hung in it.

#include <algorithm>
#include <ctime>
#include <map>

#include "archive/Store.h"

namespace archive {

namespace {

// A recording of a logger in a well, after those that began before it: a
// row of recordings in one well is one stay, until the next begins elsewhere.
void Found(int64_t wellId, int64_t start, int clockOffset, int64_t loggerId,
           std::vector<Stay>& stays) {
    if (!stays.empty() && stays.back().wellId == wellId) {
        return;
    }
    const int64_t from = start - OffsetTenths(clockOffset);
    if (!stays.empty()) {
        stays.back().to = from;
    }
    stays.push_back({loggerId, wellId, from, kLatest, clockOffset, false, {}});
}

std::vector<Stay> Flattened(const std::map<int64_t, std::vector<Stay>>& byLogger) {
    std::vector<Stay> all;
    for (const auto& [logger, stays] : byLogger) {
        all.insert(all.end(), stays.begin(), stays.end());
    }
    return all;
}

}  // namespace

void Change(Connection& db, const std::vector<std::pair<std::string, std::vector<Value>>>& all) {
    db.Begin();
    for (const auto& [sql, values] : all) {
        auto statement = db.Prepare(sql);
        BindAll(*statement, values);
        statement->Step();
    }
    db.Commit();
    if (db.Failed()) {
        db.Rollback();
    }
}

DeploymentRow RowOf(const Stay& s, const std::string& well, const std::string& serial) {
    return {well,   s.from,        s.to == kLatest ? std::nullopt : std::optional<int64_t>(s.to),
            serial, s.clockOffset, s.declared,
            s.facts};
}

int64_t Shifted(int64_t time, int64_t offset) {
    if (offset > 0 && time > kLatest - offset) {
        return kLatest;
    }
    if (offset < 0 && time < kEarliest - offset) {
        return kEarliest;
    }
    return time + offset;
}

bool WellNames(Connection& db, std::map<int64_t, std::string>& out) {
    auto wells = db.Prepare("SELECT id, name FROM wells");
    while (wells->Step()) {
        out[wells->Int(0)] = wells->Text(1);
    }
    return !db.Failed();
}

bool StaysOf(Connection& db, int64_t loggerId, std::map<int64_t, std::vector<Stay>>& out) {
    auto recordings = db.Prepare(
        "SELECT r.logger_id, n.well_id, r.start_time, r.clock_offset FROM recordings r"
        " JOIN well_names n ON n.name = r.location WHERE CAST(?1 AS BIGINT) = 0 OR"
        " r.logger_id = ?1 ORDER BY r.logger_id, r.start_time, r.id");
    recordings->Bind(1, loggerId);
    while (recordings->Step()) {
        Found(recordings->Int(1), recordings->Int(2), static_cast<int>(recordings->Int(3)),
              recordings->Int(0), out[recordings->Int(0)]);
    }
    recordings.reset();
    auto declared = db.Prepare(
        "SELECT logger_id, well_id, from_time, coalesce(to_time, ?2), clock_offset,"
        " pressure_channel, temperature_channel, coalesce(cable, ''), vented"
        " FROM deployments WHERE CAST(?1 AS BIGINT) = 0 OR logger_id = ?1"
        " ORDER BY logger_id, id");
    BindAll(*declared, {loggerId, kLatest});
    while (declared->Step()) {
        const std::string cable = declared->Text(7);  // empty: none given
        Over(Stay{declared->Int(0),
                  declared->Int(1),
                  declared->Int(2),
                  declared->Int(3),
                  static_cast<int>(declared->Int(4)),
                  true,
                  {declared->Text(5), declared->Text(6),
                   cable.empty() ? std::nullopt : std::optional<std::string>(cable),
                   declared->Int(8) != 0}},
             out[declared->Int(0)]);
    }
    return !db.Failed();
}

bool StaysBySerial(Connection& db, std::map<std::string, std::vector<Stay>>& out) {
    std::map<int64_t, std::vector<Stay>> stays;
    StaysOf(db, 0, stays);
    auto loggers = db.Prepare("SELECT id, serial FROM loggers");
    while (loggers->Step()) {
        out[loggers->Text(1)] = std::move(stays[loggers->Int(0)]);
    }
    return !db.Failed();
}

int64_t UtcOf(const std::vector<Stay>& stays, int64_t loggerTime) {
    // The last stay begun by then, in the logger's clock.
    int offset = 0;
    for (const Stay& s : stays) {
        if (s.from + OffsetTenths(s.clockOffset) > loggerTime) {
            break;
        }
        offset = s.clockOffset;
    }
    return loggerTime - OffsetTenths(offset);
}

Result<int64_t> Archive::WellId(const std::string& name) {
    for (const char* select : {"SELECT id FROM wells WHERE name = ?1",
                               "SELECT well_id FROM well_names WHERE name = ?1"}) {
        auto well = db_->Prepare(select);
        well->Bind(1, name);
        if (well->Step()) {
            return well->Int(0);
        }
    }
    if (db_->Failed()) {
        return Failed();
    }
    return Failure{Fault::NotFound, "no well " + name + " in the archive (well list lists them)"};
}

Result<std::vector<WellRow>> Archive::Wells() {
    Connection& db = *db_;
    std::map<int64_t, std::string> wells, serials;
    WellNames(db, wells);
    auto loggers = db.Prepare("SELECT id, serial FROM loggers");
    while (loggers->Step()) {
        serials[loggers->Int(0)] = loggers->Text(1);
    }
    loggers.reset();
    std::map<int64_t, WellRow> byId;
    for (const auto& [id, name] : wells) {
        byId[id].name = name;
    }
    auto names = db.Prepare("SELECT well_id, name FROM well_names ORDER BY name");
    while (names->Step()) {
        byId[names->Int(0)].names.push_back(names->Text(1));
    }
    names.reset();
    std::map<int64_t, std::vector<Stay>> stays;
    StaysOf(db, 0, stays);
    for (const auto& [logger, ofLogger] : stays) {
        for (const Stay& s : ofLogger) {
            byId[s.wellId].deployments.push_back(RowOf(s, wells[s.wellId], serials[logger]));
        }
    }
    FactsOf(db, serials, byId);
    std::vector<WellRow> out;
    for (auto& [id, well] : byId) {
        std::stable_sort(well.deployments.begin(), well.deployments.end(),
                         [](const DeploymentRow& a, const DeploymentRow& b) {
                             return a.startTime < b.startTime;
                         });
        out.push_back(std::move(well));
    }
    std::sort(out.begin(), out.end(),
              [](const WellRow& a, const WellRow& b) { return a.name < b.name; });
    return Done(std::move(out));
}

Result<std::vector<DeploymentRow>> Archive::Deployments(const std::string& serial) {
    const Result<int64_t> logger = LoggerId(serial);
    if (!logger) {
        return logger.failure();
    }
    std::map<int64_t, std::string> wells;
    std::map<int64_t, std::vector<Stay>> stays;
    WellNames(*db_, wells);
    StaysOf(*db_, *logger, stays);
    std::vector<DeploymentRow> out;
    for (const Stay& s : stays[*logger]) {
        out.push_back(RowOf(s, wells[s.wellId], serial));
    }
    return Done(std::move(out));
}

Result<WellRecord> Archive::WellSeries(const std::string& well, const std::string& channel,
                                       std::optional<int64_t> from, std::optional<int64_t> to) {
    const Result<int64_t> found = WellId(well);
    if (!found) {
        return found.failure();
    }
    const int64_t wellId = *found;
    Connection& db = *db_;
    std::map<int64_t, std::vector<Stay>> byLogger;
    std::vector<std::pair<int64_t, SeriesName>> series;
    if (!StaysOf(db, 0, byLogger) || !SeriesOf(db, 0, series)) {
        return Failed();
    }
    WellRecord out;
    const int64_t first = from.value_or(kEarliest), last = to.value_or(kLatest);
    std::vector<StoredSample> held;
    for (const Stay& s : Flattened(byLogger)) {
        if (s.wellId != wellId || s.to <= first || s.from > last) {
            continue;
        }
        // Within the stay and the span asked for, in the logger's clock.
        const int64_t offset = OffsetTenths(s.clockOffset);
        const int64_t begin = std::max(s.from, first), end = std::min(s.to - 1, last);
        for (const auto& [logger, name] : series) {
            if (logger != s.loggerId || !NamesChannel(name, channel)) {
                continue;
            }
            if (out.identification.empty()) {
                out.identification = name.identification;
                out.unit = name.unit;
            }
            const auto known = std::find(out.loggers.begin(), out.loggers.end(), name.serial);
            const std::size_t index = static_cast<std::size_t>(known - out.loggers.begin());
            if (known == out.loggers.end()) {
                out.loggers.push_back(name.serial);
            }
            held.clear();
            if (!HeldSamples(db, name.id, Shifted(begin, offset), Shifted(end, offset), held)) {
                return Failed();
            }
            for (const StoredSample& h : held) {
                out.rows.push_back({h.time - offset, h.value, index});
            }
        }
    }
    if (out.loggers.empty()) {
        return Failure{Fault::NotFound,
                       "well " + well + " has no channel " + channel + " in the archive"};
    }
    std::stable_sort(
        out.rows.begin(), out.rows.end(),
        [](const WellRecord::Row& a, const WellRecord::Row& b) { return a.time < b.time; });
    return Done(std::move(out));
}

Result<void> Archive::RenameWell(const std::string& old, const std::string& name) {
    const Result<int64_t> well = WellId(old);
    if (!well) {
        return well.failure();
    }
    auto taken = db_->Prepare("SELECT id FROM wells WHERE name = ?1 AND id <> ?2");
    BindAll(*taken, {name, *well});
    if (taken->Step()) {
        return Failure{Fault::Refused,
                       "a well " + name + " is there already: well merge makes two wells one"};
    }
    taken.reset();
    if (db_->Failed()) {
        return Failed();  // before Change begins anew
    }
    Change(*db_, {{"UPDATE wells SET name = ?1 WHERE id = ?2", {name, *well}}});
    return Done();
}

Result<void> Archive::MergeWells(const std::string& well, const std::string& other) {
    const Result<int64_t> into = WellId(well);
    if (!into) {
        return into.failure();
    }
    const Result<int64_t> from = WellId(other);
    if (!from) {
        return from.failure();
    }
    if (*from == *into) {
        return Failure{Fault::Refused, other + " is well " + well + " already"};
    }
    Change(*db_, {{"UPDATE well_names SET well_id = ?1 WHERE well_id = ?2", {*into, *from}},
                  {"UPDATE deployments SET well_id = ?1 WHERE well_id = ?2", {*into, *from}},
                  {"UPDATE baros SET well_id = ?1 WHERE well_id = ?2", {*into, *from}},
                  {"UPDATE dips SET well_id = ?1 WHERE well_id = ?2", {*into, *from}},
                  {"DELETE FROM wells WHERE id = ?1", {*from}}});
    return Done();
}

Result<void> Archive::Deploy(const std::string& well, const std::string& serial, int64_t from,
                             std::optional<int64_t> to, int clockOffset, const LoggerFacts& facts) {
    const Result<int64_t> wellId = WellId(well);
    if (!wellId) {
        return wellId.failure();
    }
    const Result<int64_t> logger = LoggerId(serial);
    if (!logger) {
        return logger.failure();
    }
    if (to && *to <= from) {
        return Failure{Fault::Refused, "a deployment ends after it begins"};
    }
    if (const std::string why = NotANumber("the cable's length in metres", facts.cable);
        !why.empty()) {
        return Failure{Fault::Refused, why};
    }
    // An open end, a cable not given: kept as none.
    Change(*db_,
           {{"INSERT INTO deployments (logger_id, well_id, from_time, to_time, clock_offset,"
             " declared_at, pressure_channel, temperature_channel, cable, vented) VALUES (?1, ?2,"
             " ?3, NULLIF(CAST(?4 AS BIGINT), CAST(?5 AS BIGINT)), ?6, ?7, ?8, ?9,"
             " NULLIF(CAST(?10 AS TEXT), ''), ?11)",
             {*logger, *wellId, from, to.value_or(kLatest), kLatest, int64_t{clockOffset},
              static_cast<int64_t>(std::time(nullptr)), facts.pressure, facts.temperature,
              facts.cable.value_or(""), int64_t{facts.vented ? 1 : 0}}}});
    return Done();
}

}  // namespace archive
