// What the user declares of a well for its water levels: its reference
// point and datum, its barometric loggers, the dips read in it.

#include <algorithm>
#include <ctime>

#include "archive/Store.h"

namespace archive {

namespace {

// A baro as kept, with the span it holds after those assigned before it.
struct Assigned {
    int64_t wellId;
    BaroRow row;
    int64_t from, to;
};

}  // namespace

bool FactsOf(Connection& db, const std::map<int64_t, std::string>& serials,
             std::map<int64_t, WellRow>& wells) {
    const auto optional = [](const std::string& text) {
        return text.empty() ? std::nullopt : std::optional<std::string>(text);
    };
    auto facts = db.Prepare(
        "SELECT id, coalesce(reference, ''), datum, coalesce(latitude, ''), coalesce(ground, '')"
        " FROM wells");
    while (facts->Step()) {
        wells[facts->Int(0)].facts = {optional(facts->Text(1)), optional(facts->Text(2)),
                                      optional(facts->Text(3)), optional(facts->Text(4))};
    }
    facts.reset();
    std::map<int64_t, std::vector<Assigned>> baros;  // by well
    auto assigned = db.Prepare(
        "SELECT well_id, logger_id, channel, clock_offset, height, from_time,"
        " coalesce(to_time, ?1) FROM baros ORDER BY id");
    BindAll(*assigned, {kLatest});
    while (assigned->Step()) {
        const auto serial = serials.find(assigned->Int(1));
        Over(Assigned{assigned->Int(0),
                      {serial != serials.end() ? serial->second : std::string(), assigned->Text(2),
                       static_cast<int>(assigned->Int(3)), assigned->Text(4), 0, std::nullopt},
                      assigned->Int(5),
                      assigned->Int(6)},
             baros[assigned->Int(0)]);
    }
    assigned.reset();
    for (auto& [well, spans] : baros) {
        for (Assigned& a : spans) {
            a.row.from = a.from;
            a.row.end = a.to == kLatest ? std::nullopt : std::optional<int64_t>(a.to);
            wells[well].baros.push_back(std::move(a.row));
        }
    }
    auto dips =
        db.Prepare("SELECT well_id, time, depth, note, id FROM dips ORDER BY well_id, time, id");
    while (dips->Step()) {
        wells[dips->Int(0)].dips.push_back(
            {dips->Int(1), dips->Text(2), dips->Text(3), dips->Int(4)});
    }
    return !db.Failed();
}

Result<void> Archive::SetWell(const std::string& well, const WellFacts& facts) {
    for (const std::string& why : {NotANumber("the reference point's elevation", facts.reference),
                                   NotANumber("the latitude", facts.latitude, -90, 90),
                                   NotANumber("the ground's elevation", facts.ground)}) {
        if (!why.empty()) {
            return Failure{Fault::Refused, why};
        }
    }
    Result<int64_t> found = WellId(well);
    std::vector<std::pair<std::string, std::vector<Value>>> changes;
    if (!found && found.failure().kind != Fault::NotFound) {
        return found.failure();
    }
    if (!found) {
        // A well of its own name: the logs that name it come to it.
        changes.push_back({"INSERT INTO wells (name) VALUES (?1)", {well}});
        changes.push_back(
            {"INSERT INTO well_names (name, well_id) SELECT ?1, id FROM wells WHERE name = ?1",
             {well}});
    }
    const std::string named = found ? "id = CAST(?2 AS BIGINT)" : "name = CAST(?2 AS TEXT)";
    const Value which = found ? Value(*found) : Value(well);
    for (const auto& [column, value] : {std::pair{"reference", facts.reference},
                                        {"datum", facts.datum},
                                        {"latitude", facts.latitude},
                                        {"ground", facts.ground}}) {
        if (value) {
            changes.push_back({"UPDATE wells SET " + std::string(column) + " = ?1 WHERE " + named,
                               {*value, which}});
        }
    }
    Change(*db_, changes);
    return Done();
}

Result<void> Archive::AssignBaro(const std::string& well, const BaroRow& baro) {
    const Result<int64_t> wellId = WellId(well);
    if (!wellId) {
        return wellId.failure();
    }
    const Result<int64_t> logger = LoggerId(baro.serial);
    if (!logger) {
        return logger.failure();
    }
    // No channel named: the logger's first of a pressure unit, kept by its number.
    std::string channel = baro.channel;
    std::vector<std::pair<int64_t, SeriesName>> all;
    SeriesOf(*db_, *logger, all);
    if (const SeriesName* first = SeriesNamed(all, ""); channel.empty() && first != nullptr) {
        channel = std::to_string(first->channel);
    }
    const Result<SeriesName> series = FindSeries(baro.serial, channel);
    if (!series) {
        return series.failure();
    }
    if (const std::string why = NotANumber("the baro's height", baro.height); !why.empty()) {
        return Failure{Fault::Refused, why};
    }
    if (baro.end && *baro.end <= baro.from) {
        return Failure{Fault::Refused, "a baro's span ends after it begins"};
    }
    // An open end is kept as none.
    Change(*db_,
           {{"INSERT INTO baros (well_id, logger_id, channel, clock_offset, height, from_time,"
             " to_time, declared_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, NULLIF(CAST(?7 AS BIGINT), "
             "CAST(?8 AS BIGINT)), ?9)",
             {*wellId, *logger, channel, int64_t{baro.clockOffset}, baro.height, baro.from,
              baro.end.value_or(kLatest), kLatest, static_cast<int64_t>(std::time(nullptr))}}});
    return Done();
}

Result<void> Archive::AddDips(const std::vector<std::pair<std::string, DipRow>>& dips) {
    std::vector<std::pair<std::string, std::vector<Value>>> inserts;
    const auto now = static_cast<int64_t>(std::time(nullptr));
    for (std::size_t i = 0; i < dips.size(); ++i) {
        const auto& [well, dip] = dips[i];
        const std::string which = dips.size() > 1 ? "dip " + std::to_string(i + 1) + ": " : "";
        const Result<int64_t> wellId = WellId(well);
        if (!wellId) {
            return Failure{wellId.failure().kind, which + wellId.failure().message};
        }
        if (const std::string why = NotANumber("the depth to water", dip.depth); !why.empty()) {
            return Failure{Fault::Refused, which + why};
        }
        inserts.push_back(
            {"INSERT INTO dips (well_id, time, depth, note, entered_at) VALUES (?1, ?2, ?3, ?4, "
             "?5)",
             {*wellId, dip.time, dip.depth, dip.note, now}});
    }
    Change(*db_, inserts);
    return Done();
}

Result<void> Archive::ChangeDip(int64_t id, const std::optional<DipRow>& dip) {
    auto kept = db_->Prepare("SELECT 1 FROM dips WHERE id = ?1");
    kept->Bind(1, id);
    if (!kept->Step()) {
        return Failure{Fault::NotFound, "no dip " + std::to_string(id) + " in the archive"};
    }
    kept.reset();
    if (!dip) {
        Change(*db_, {{"DELETE FROM dips WHERE id = ?1", {id}}});
        return Done();
    }
    if (const std::string why = NotANumber("the depth to water", dip->depth); !why.empty()) {
        return Failure{Fault::Refused, why};
    }
    Change(*db_,
           {{"UPDATE dips SET time = ?2, depth = ?3, note = ?4, entered_at = ?5 WHERE id = ?1",
             {id, dip->time, dip->depth, dip->note, static_cast<int64_t>(std::time(nullptr))}}});
    return Done();
}

Result<WellRow> Archive::Well(const std::string& well) {
    const Result<int64_t> wellId = WellId(well);
    if (!wellId) {
        return wellId.failure();
    }
    auto name = db_->Prepare("SELECT name FROM wells WHERE id = ?1");
    name->Bind(1, *wellId);
    const std::string named = name->Step() ? name->Text(0) : std::string();
    name.reset();
    Result<std::vector<WellRow>> wells = Wells();
    if (!wells) {
        return wells.failure();
    }
    const auto found = std::find_if(wells->begin(), wells->end(),
                                    [&named](const WellRow& w) { return w.name == named; });
    if (found == wells->end()) {
        return Failure{Fault::NotFound, "no well " + well + " in the archive"};
    }
    return std::move(*found);
}

}  // namespace archive
