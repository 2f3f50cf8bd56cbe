#pragma once
// Where a run's saved files go into the archive: one sink for the window
// program (on the archive queue's thread, run/ArchiveQueue.h) and for
// arvelo-cli (inline). A run's archive is opened at its first file, once:
// one that cannot be opened is not tried again for each file (a server that
// does not answer would hold each one up), and the first failure is the one
// the run's gain tells. It is let go at the run's end.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace run {

// Where a run's logs go: the archive's location (empty: the default) and
// what each import takes (the offset of the loggers' clocks).
struct ArchiveTarget {
    std::string location;
    archive::ImportOptions options;
};

// What a run brought into the archive of one logger's samples.
struct LoggerGain {
    std::string serial;
    int64_t newSamples = 0;
    int64_t repeated = 0;     // held already with the same value
    int64_t conflicting = 0;  // held already with another value, which stays
};

// What a run brought into the archive.
struct ArchiveGain {
    std::vector<LoggerGain> loggers;  // of its logs, in the order they came
    int files = 0;                    // given to the archive
    int alreadyIn = 0;                // of those, files the archive held already
    int64_t newSamples = 0, conflicts = 0, gaps = 0;
    std::string location;  // of the archive they went into
    int notArchived = 0;   // files the archive could not take
    int unsure = 0;        // of those, files that may be in: the connection broke at the commit
    std::string why;       // the first of those: why, in words
    std::string migrated;  // what opening did to an older archive (Archive::Migrated)
};

// In words for the status bar: "Archive: 3 loggers, 12,480 new samples, 0
// conflicts, 1 gap", or what was not archived and how to catch up.
std::string Describe(const ArchiveGain& gain);
// For the end of a run that could not archive every file: "The archive was
// not updated: WHY.", or that it may not have been when every such file may
// be in all the same.
std::string NotUpdated(const ArchiveGain& gain);
// A line for each logger: "Archive: logger PX00-000001: 0 new samples, 96
// repeated: nothing new."; none when the archive took nothing.
std::vector<std::string> DescribeLoggers(const ArchiveGain& gain);

// What became of one file given to the archive, or (no path) what the run
// brought at its end.
struct ArchiveOutcome {
    std::string path;  // the file; empty at the end of a run
    archive::Result<archive::Imported> result = archive::Imported{};  // of the file
    std::optional<ArchiveGain> gain;                                  // at the end of a run
};

class ArchiveSink {
  public:
    // A saved file into the target's archive, opened at the run's first
    // file; source: where it came from (the port).
    ArchiveOutcome Import(const ArchiveTarget& target, const std::string& path,
                          const std::string& source);
    // The run's files are all given: what it brought. The archive is let go.
    ArchiveOutcome EndRun();

  private:
    std::unique_ptr<archive::Archive> archive_;
    std::optional<archive::Failure> openFailure_;
    ArchiveGain gain_;
};

}  // namespace run
