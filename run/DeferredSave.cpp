// The logs of a run whose output directory is on drive A: or B: are saved
// after it, from what the run kept of each.
#include <vector>

#include "datafile/DataFileWriter.h"
#include "datafile/LogFileName.h"
#include "datafile/StagedFile.h"
#include "platform/Check.h"
#include "run/Session.h"

namespace run {

void Session::SaveDeferredLogs() {
    ARVELO_ASSERT(lines_.size() == static_cast<std::size_t>(logs_.count()));
    if (firstUnsavedLog_ >= logs_.count()) {
        return;
    }
    std::string lastName;
    for (int i = firstUnsavedLog_; i < logs_.count(); ++i) {
        // Where the log stands in the reader's chain, for what the run did not save.
        const auto place = static_cast<std::size_t>(i - firstUnsavedLog_);
        RunLog* run = nullptr;
        if (place < listedPositions_.size() &&
            listedPositions_[place] <= static_cast<int>(runLogs_.size())) {
            run = &runLogs_[static_cast<std::size_t>(listedPositions_[place] - 1)];
        }
        const auto failed = [&](const FileFailure& failure) {
            observer_.DeferredFileFailed(failure);
            if (run != nullptr) {
                run->fate.why = UnsavedLog::Why::FileFailed;
                run->fate.detail = Describe(failure);
            }
        };
        DeviceLog& log = *logs_.item(i);
        std::string name;
        if (NameLog(log, false, &name) <= 0) {
            failed({FileFailure::Kind::NoName, settings_().directory});
            continue;
        }
        lastName = name;
        StagedDataFile file;
        if (file.Open(name.c_str(), "w") != 0) {
            failed({FileFailure::Kind::CannotCreate, name, file.LastError()});
            continue;
        }
        WriteDeferredLog(file.Writer(), log, lines_[static_cast<std::size_t>(i)]);
        // A file that could not be completed (a full disk) is not saved.
        if (const int error = file.Finish(); error != 0) {
            failed({FileFailure::Kind::WriteFailed, name, error});
            observer_.PartialKept(PartialName(name));
            continue;
        }
        if (run != nullptr) {
            run->saved = true;
        }
        observer_.DeferredLogSaved(i, name);
        ArchiveFile(name);
    }
    observer_.DeferredSaveDone(lastName);
}

void Session::WriteDeferredLog(DataFileWriter& writer, const DeviceLog& log,
                               const LogLines& lines) {
    const bool comma = UsesCommaLayout(outputExtension_.c_str());
    if (lines.seconds.empty()) {
        WriteWholeLog(writer, log, comma);  // no lines kept: what the log holds
        return;
    }
    writer.WriteLog(&log);
    const std::size_t channels = lines.values.size() / lines.seconds.size();
    std::vector<int32_t> decimals(channels);
    for (std::size_t j = 0; j < channels; ++j) {
        const LogChannel* channel = log.channel(static_cast<int>(j));
        decimals[j] = channel != nullptr ? channel->header().rangeDecimals : 0;
    }
    for (std::size_t k = 0; k < lines.seconds.size(); ++k) {
        writer.WriteSampleLine(lines.seconds[k], lines.tenths[k], &lines.values[k * channels],
                               decimals.data(), static_cast<int>(channels), comma);
    }
}

}  // namespace run
