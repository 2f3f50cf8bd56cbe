// What a well's water levels are computed from, read out of the archive:
// each stay's pressure (and temperature) samples and each baro's within
// their spans, in UTC, with the intervals their logs recorded at.

#include <map>
#include <optional>

#include "archive/Store.h"

namespace archive {

namespace {

struct KnownLogger {
    std::vector<std::pair<int64_t, SeriesName>> series;
    std::vector<Recording> recordings;
};

// A logger's channel within [from, to) UTC, its clock at offset minutes.
bool Read(Connection& db, const SeriesName& name, const std::vector<Recording>& recordings,
          int64_t from, int64_t to, int clockOffset, level::Series& out) {
    const int64_t offset = OffsetTenths(clockOffset);
    std::vector<StoredSample> held;
    if (!HeldSamples(db, name.id, Shifted(from, offset),
                     to == kLatest ? kLatest : Shifted(to, offset) - 1, held)) {
        return false;
    }
    out.unit = name.unit;
    out.samples.reserve(held.size());
    for (const StoredSample& s : held) {
        out.samples.push_back({s.time - offset, DoubleOf(s.value)});
    }
    for (const Recording& r : recordings) {
        // A log of no fixed interval gives none to go by.
        out.intervals.push_back({r.startTime - offset, r.fixedInterval ? r.interval : 0});
    }
    return true;
}

// A stay's pressure (and temperature) samples; why not, when its logger
// has no such channel.
std::optional<Failure> ReadStay(Connection& db, const std::string& well, const DeploymentRow& d,
                                const KnownLogger& logger, level::Deployment& deployment) {
    deployment.serial = d.serial;
    deployment.from = d.startTime;
    deployment.to = d.end.value_or(kLatest);
    deployment.cable = d.facts.cable ? *NumberOf(*d.facts.cable) : 0;
    deployment.vented = d.facts.vented;
    const SeriesName* pressure = SeriesNamed(logger.series, d.facts.pressure);
    if (pressure == nullptr) {
        return Failure{Fault::NotFound,
                       "logger " + d.serial + " in well " + well +
                           (d.facts.pressure.empty() ? " has no channel of a pressure unit"
                                                     : " has no channel " + d.facts.pressure) +
                           ": well deploy --channel names the channel of its pressure"};
    }
    Read(db, *pressure, logger.recordings, deployment.from, deployment.to, d.clockOffset,
         deployment.pressure);
    if (!d.facts.temperature.empty()) {
        const SeriesName* temperature = SeriesNamed(logger.series, d.facts.temperature);
        if (temperature == nullptr) {
            return Failure{Fault::NotFound,
                           "logger " + d.serial + " has no channel " + d.facts.temperature};
        }
        Read(db, *temperature, logger.recordings, deployment.from, deployment.to, d.clockOffset,
             deployment.temperature.emplace());
    }
    return std::nullopt;
}

}  // namespace

Result<level::Well> Archive::LevelInputs(const std::string& name) {
    Result<WellRow> found = Well(name);
    if (!found) {
        return found.failure();
    }
    const WellRow& well = *found;
    if (!well.facts.reference) {
        return Failure{Fault::Refused, "well " + well.name +
                                           " has no reference point: well set WELL --reference M"
                                           " declares its elevation above the datum"};
    }
    Connection& db = *db_;
    level::Well out;
    out.reference = *NumberOf(*well.facts.reference);
    out.datum = well.facts.datum.value_or("");
    if (well.facts.latitude) {
        out.latitude = NumberOf(*well.facts.latitude);
    }
    if (well.facts.ground) {
        out.ground = NumberOf(*well.facts.ground);
    }
    // A logger's series and recordings, read once for all its stays and baros.
    std::map<std::string, KnownLogger> loggers;
    const auto logger = [&](const std::string& serial) -> Result<const KnownLogger*> {
        auto known = loggers.find(serial);
        if (known == loggers.end()) {
            const Result<int64_t> id = LoggerId(serial);
            if (!id) {
                return id.failure();
            }
            known = loggers.emplace(serial, KnownLogger{}).first;
            SeriesOf(db, *id, known->second.series);
            RecordingsOf(db, *id, known->second.recordings);
        }
        return &known->second;
    };
    for (const DeploymentRow& d : well.deployments) {
        const auto of = logger(d.serial);
        if (!of) {
            return of.failure();
        }
        if (std::optional<Failure> failed =
                ReadStay(db, well.name, d, **of, out.deployments.emplace_back())) {
            return *std::move(failed);
        }
    }
    for (const BaroRow& b : well.baros) {
        const auto of = logger(b.serial);
        if (!of) {
            return of.failure();
        }
        const SeriesName* series = SeriesNamed((*of)->series, b.channel);
        if (series == nullptr) {
            return Failure{Fault::NotFound, "logger " + b.serial + " has no channel " + b.channel};
        }
        level::Baro& baro = out.baros.emplace_back();
        baro.serial = b.serial;
        baro.from = b.from;
        baro.to = b.end.value_or(kLatest);
        baro.height = NumberOf(b.height).value_or(0);
        Read(db, *series, (*of)->recordings, baro.from, baro.to, b.clockOffset, baro.pressure);
    }
    for (const DipRow& d : well.dips) {
        out.dips.push_back({d.time, NumberOf(d.depth).value_or(0), d.note});
    }
    return Done(std::move(out));
}

Result<WellLevels> Archive::Levels(const std::string& well, const level::Density& density,
                                   const level::Gravity& gravity) {
    Result<level::Well> inputs = LevelInputs(well);
    if (!inputs) {
        return inputs.failure();
    }
    auto computed = level::Compute(*inputs, density, gravity);
    if (const auto* failed = std::get_if<level::Failed>(&computed)) {
        return Failure{Fault::Refused,
                       "the levels of well " + well + " cannot be computed: " + failed->why};
    }
    return WellLevels{std::move(*inputs), std::get<level::Levels>(std::move(computed))};
}

}  // namespace archive
