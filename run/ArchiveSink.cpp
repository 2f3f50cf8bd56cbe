#include "run/ArchiveSink.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace run {

namespace {

// 12480 as "12,480".
std::string Grouped(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return n < 0 ? "-" + digits : digits;
}

std::string Counted(int64_t n, const char* one, const char* many) {
    return Grouped(n) + " " + (n == 1 ? one : many);
}

// ". The archive NAME was brought from version 1 to version 3: ..."
std::string Migration(const ArchiveGain& gain) {
    if (gain.migrated.empty()) {
        return {};
    }
    return ". " +
           std::string(1, static_cast<char>(
                              std::toupper(static_cast<unsigned char>(gain.migrated.front())))) +
           gain.migrated.substr(1) + ".";
}

}  // namespace

std::string Describe(const ArchiveGain& gain) {
    if (gain.notArchived > 0) {
        const std::string which =
            gain.notArchived == gain.files
                ? (gain.files == 1 ? std::string("the log")
                                   : "the " + Grouped(gain.files) + " logs")
                : Grouped(gain.notArchived) + " of " + Counted(gain.files, "log", "logs");
        // Importing again is safe either way: a file in already adds nothing.
        return "Archive: " + which + " of this download " +
               (gain.unsure == gain.notArchived ? "may not be in it (" : "could not be added (") +
               gain.why +
               "). The files are saved; importing their folder later catches up (arvelo-cli "
               "archive import FOLDER)." +
               Migration(gain);
    }
    return "Archive: " + Counted(static_cast<int64_t>(gain.loggers.size()), "logger", "loggers") +
           ", " + Counted(gain.newSamples, "new sample", "new samples") + ", " +
           Counted(gain.conflicts, "conflict", "conflicts") + ", " +
           Counted(gain.gaps, "gap", "gaps") +
           (gain.alreadyIn > 0
                ? " (" + Counted(gain.alreadyIn, "file", "files") + " in the archive already)"
                : "") +
           Migration(gain);
}

std::string NotUpdated(const ArchiveGain& gain) {
    return (gain.unsure == gain.notArchived ? "The archive may not have been updated: "
                                            : "The archive was not updated: ") +
           gain.why + ".";
}

std::vector<std::string> DescribeLoggers(const ArchiveGain& gain) {
    std::vector<std::string> lines;
    for (const LoggerGain& logger : gain.loggers) {
        std::string line = "Archive: logger " + logger.serial + ": " +
                           Counted(logger.newSamples, "new sample", "new samples") + ", " +
                           Grouped(logger.repeated) + " repeated";
        if (logger.conflicting > 0) {
            line += ", " + Grouped(logger.conflicting) + " conflicting";
        }
        // A conflicting value is not taken: the first one stays.
        lines.push_back(line + (logger.newSamples == 0 ? ": nothing new." : "."));
    }
    return lines;
}

ArchiveOutcome ArchiveSink::Import(const ArchiveTarget& target, const std::string& path,
                                   const std::string& source) {
    const std::string& location = target.location;
    if (!archive_ && !openFailure_) {
        auto opened = archive::Archive::Open(location);
        if (opened) {
            archive_ = std::move(*opened);
            gain_.migrated = archive_->Migrated();
        } else {
            openFailure_ = opened.failure();
        }
    }
    ArchiveOutcome outcome{
        path, openFailure_ ? *openFailure_ : archive_->ImportFile(path, source, target.options),
        std::nullopt};
    ++gain_.files;
    gain_.location = location;
    if (!outcome.result) {
        if (gain_.notArchived++ == 0) {
            gain_.why = outcome.result.failure().message;
        }
        gain_.unsure += outcome.result.failure().kind == archive::Fault::Unknown ? 1 : 0;
        return outcome;
    }
    const archive::Imported& result = *outcome.result;
    if (result.alreadyImported) {
        ++gain_.alreadyIn;  // brings nothing, names no logger
        return outcome;
    }
    auto logger =
        std::find_if(gain_.loggers.begin(), gain_.loggers.end(),
                     [&result](const LoggerGain& l) { return l.serial == result.serial; });
    if (logger == gain_.loggers.end()) {
        logger = gain_.loggers.insert(gain_.loggers.end(), LoggerGain{result.serial});
    }
    logger->newSamples += result.newSamples;
    logger->repeated += result.duplicates;
    logger->conflicting += result.conflicts;
    gain_.newSamples += result.newSamples;
    gain_.conflicts += result.conflicts;
    if (const auto gaps = archive_->DownloadGaps(result.downloadId)) {
        gain_.gaps += static_cast<int64_t>(gaps->size());
    }
    return outcome;
}

ArchiveOutcome ArchiveSink::EndRun() {
    archive_.reset();
    openFailure_.reset();
    return {{}, archive::Imported{}, std::exchange(gain_, {})};
}

}  // namespace run
