#pragma once
// What an erase would destroy: each log a survey found in the reader, and
// whether it is kept elsewhere. A log counts as kept in the archive when the
// archive holds its recording (its logger, from its start) with at least its
// samples, and in the files of this session when a log listed since
// start-up is of that logger, from that start, with at least its samples.

#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceLog.h"
#include "run/Observer.h"
#include "run/Session.h"

namespace run {

struct LogKept {
    ReaderLog place;
    bool readable = true;  // its header was valid: what it is is known
    bool inArchive = false;
    bool inFiles = false;
};

struct EraseCheck {
    std::vector<LogKept> logs;
    bool archiveOn = false;
    std::string archiveError;   // why the archive could not be read; empty when it was
    bool filesCounted = false;  // the session's files were looked at
};

// The logs surveyed, with what the session listed (null: not looked at).
EraseCheck CheckErase(const std::vector<HeldLog>& held, const LogList* listed);
// The archive's part: the samples it holds of each log's recording, in the
// order of the logs. Read on any thread.
archive::Result<std::vector<int64_t>> ArchivedSamples(archive::Archive& archive,
                                                      const std::vector<HeldLog>& held);
void AddArchive(EraseCheck& check, const std::vector<HeldLog>& held,
                const std::vector<int64_t>& archived);

// "The reader holds 4 logs: all 4 are in the archive.", then the files and
// the logs kept nowhere, named.
std::string Describe(const EraseCheck& check);
// The logs an erase would lose: kept neither in the archive nor in files.
std::vector<LogKept> KeptNowhere(const EraseCheck& check);

}  // namespace run
