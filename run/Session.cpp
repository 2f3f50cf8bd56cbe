#include "run/Session.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "datafile/LogFileName.h"
#include "datafile/StagedFile.h"
#include "device/DeviceMessages.h"
#include "device/FixedText.h"
#include "device/ReaderMemory.h"
#include "platform/Check.h"
#include "platform/NamedMutex.h"
#include "platform/Time.h"
#include "run/ArchiveQueue.h"

namespace run {

namespace {

constexpr int kFileNameCapacity = 256;

bool Exists(const std::string& name) {
    std::error_code error;
    return std::filesystem::exists(name, error);
}

// A name is taken by a file, and by what was kept of a log that did not
// complete under it: that must never be overwritten.
bool FileExists(const std::string& name) {
    return Exists(name) || Exists(PartialName(name));
}

}  // namespace

Session::Session(FileSettingsSource settings, Observer& observer,
                 platform::WindowHandle notifyWindow)
    : settings_(std::move(settings)),
      observer_(observer),
      notifyWindow_(notifyWindow),
      controller_(std::make_unique<StagedDataFile>()) {}

bool Session::StartController(const std::string& port, Command command) {
    portError_ = controller_.Start(port.c_str(), notifyWindow_, WM_DEVICE_NOTIFY, 0);
    // Only 0 counts: a port that was open already is not ours to use.
    runActive_ = portError_ == 0;
    command_ = command;
    firstUnsavedLog_ = logs_.count();
    logsTotal_ = 0;
    position_ = 1;
    corrupted_.reset();
    currentLogNamed_ = false;
    currentFileOpen_ = false;
    runLogs_.clear();
    listedPositions_.clear();
    held_ = false;
    answered_ = false;
    heldNotices_.clear();
    reuseName_.reset();
    port_ = port;
    EndArchiving();
    return runActive_;
}

void Session::Shutdown() {
    controller_.Shutdown();
    runActive_ = false;
}

bool Session::DownloadAll(const std::string& port) {
    if (!StartController(port, Command::DownloadAll)) {
        return false;
    }
    logCounter_ += 1;
    controller_.DownloadAll();
    return true;
}

bool Session::Download(const std::string& port) {
    if (!StartController(port, Command::Download)) {
        return false;
    }
    logCounter_ += 1;
    logsTotal_ = 1;
    runLogs_.resize(1);
    runLogs_[0].fate.log = {1, 1, {}, {}};
    controller_.Download();
    return true;
}

bool Session::Survey(const std::string& port) {
    if (!StartController(port, Command::Survey)) {
        return false;
    }
    surveyed_.clear();
    controller_.Survey();
    return true;
}

Session::EraseStart Session::Erase(const std::string& port) {
    if (!StartController(port, Command::Erase)) {
        return EraseStart::PortError;
    }
    // The reader takes a command only after a pause; each send purges what
    // the line has not sent yet.
    platform::Sleep(ERASE_COMMAND_PAUSE_MS);
    bool sent = controller_.SendEraseCommand("0000") == 0;
    if (sent) {
        const std::string fill(reader::kBlockBytes, '\xFF');
        platform::Sleep(ERASE_FILL_PAUSE_MS);
        sent = controller_.EraseMemory(fill.c_str()) == 0;
    }
    if (!sent) {
        Shutdown();
        return EraseStart::NotSent;
    }
    eraseInProgress_ = true;
    return EraseStart::Started;
}

void Session::Handle(uint16_t code, uint16_t high, intptr_t value) {
    // What a worker posted before it was stopped arrives after the run ended.
    if (!runActive_) {
        return;
    }
    // While the user is asked, nothing moves: taken when the answer is in.
    if (held_) {
        heldNotices_.push_back({code, high, value});
        return;
    }
    answered_ = answered_ || code != DEV_PORT_LOST;
    switch (code) {
        case DEV_RESERVED:
        case DEV_LOG_HEADER:
            break;
        case DEV_BLOCK_TOTAL:
            observer_.BlockTotal(static_cast<int32_t>(value));
            break;
        case DEV_BLOCK:
            observer_.BlockRead();
            break;
        case DEV_LOG_OPEN_FILE:
            OpenLogFile();
            break;
        case DEV_LOG_SKIPPED:
            // What an earlier try read of the skipped log stays, incomplete.
            if (reuseName_) {
                observer_.PartialKept(PartialName(*std::exchange(reuseName_, std::nullopt)));
            }
            Skip();
            break;
        case DEV_LOG_DONE:
            LogDone(false);
            break;
        case DEV_DONE:
            if (command_ == Command::Survey) {
                Shutdown();
                EndRun({End::Surveyed});
            } else {
                LogDone(true);
            }
            break;
        case DEV_LOG_SURVEYED:
            Surveyed(value);
            break;
        case DEV_COMM_ERROR:
        case DEV_UNEXPECTED:
            // The worker has stopped trying: what it read of the log is kept.
            if (eraseInProgress_) {
                eraseInProgress_ = false;  // an erase counted no log
                Shutdown();
            } else {
                EndIncomplete();
            }
            EndRun({code == DEV_COMM_ERROR ? End::LinkError : End::Unexpected});
            break;
        case DEV_PORT_LOST:
            // A notice from before the port was opened again is stale.
            if (controller_.PortLost()) {
                eraseInProgress_ = false;
                EndIncomplete();
                EndRun({End::PortLost});
            }
            break;
        case DEV_RECOVERED:
            observer_.FaultsRecovered(high);
            break;
        case DEV_LOG_COUNT:
            logsTotal_ = high;
            runLogs_.resize(high);
            for (int i = 0; i < high; ++i) {
                runLogs_[static_cast<std::size_t>(i)].fate.log = {i + 1, high, {}, {}};
            }
            if (high > 0) {
                observer_.LogsCounted(high);
            } else {
                Shutdown();
                UncountLastLog();
                EndRun({command_ == Command::Survey ? End::Surveyed : End::Empty});
            }
            break;
        case DEV_LOG_FOUND:
            observer_.LogFound(high);
            break;
        case DEV_ALIVE:
            observer_.ReaderAlive();
            break;
        case DEV_CHAIN_LOOP:
            observer_.ChainLoops(high);
            break;
        case DEV_LOG_CORRUPT:
            currentLogNamed_ = false;
            corrupted_ = CorruptedLog();
            if (const bool canReadAgain = CanGoOn();
                observer_.LogCorrupt(canReadAgain) && canReadAgain) {
                ResumeLog();
            }
            break;
        case DEV_ERASE_RESULT:
            EraseResult(high == 0);
            break;
        default:
            observer_.UnknownNotice(code);
            break;
    }
}

namespace {

// A field of the header as the user may be shown it: trimmed, and nothing
// when it holds what no one typed (a header gone bad).
std::string Readable(std::string_view field) {
    const std::size_t end = field.find_last_not_of(' ');
    field = field.substr(0, end == std::string_view::npos ? 0 : end + 1);
    const bool printable =
        std::all_of(field.begin(), field.end(), [](char c) { return c >= ' ' && c <= '~'; });
    return printable ? std::string(field) : std::string();
}

ReaderLog Identify(const DeviceLog& log, int position, int total) {
    return {position, total, Readable(FieldText(log.header().location)),
            Readable(log.header().shortSerial())};
}

}  // namespace

int Session::NameLog(DeviceLog& log, bool driveCheck, std::string* name) {
    const FileSettings file = settings_();
    outputExtension_ = file.extension;
    if (driveCheck && IsDeferredDrive(file.directory)) {
        deferredSave_ = true;
        controller_.SuppressSaving(1);
        return 0;
    }
    LogFileNameSettings naming;
    naming.options = file.options;
    naming.directory = file.directory;
    naming.extension = file.extension;
    naming.logCounter = logCounter_;
    naming.capacity = kFileNameCapacity;
    naming.fileExists = FileExists;
    return MakeLogFileName(name, naming, log);
}

void Session::OpenLogFile() {
    currentLogNamed_ = true;
    corrupted_.reset();
    // The worker waits for the file meanwhile, holding the log's lock.
    const ReaderLog identity = Identify(*controller_.CurrentLog(), position_, logsTotal_);
    NotSaved(UnsavedLog::Why::Incomplete, {}, &identity);  // until it is saved
    // A deferred run's worker goes on filling the log: it is not touched.
    if (deferredSave_) {
        currentFileName_ = "log" + std::to_string(logCounter_);
        return;
    }
    // Naming also trims the log's location, which its file shows.
    std::string name;
    int length = NameLog(*controller_.CurrentLog(), true, &name);
    const bool reused = reuseName_.has_value();
    if (reused) {
        // The log read again after a resume takes its name back, and its
        // incomplete file is written anew.
        name = *std::exchange(reuseName_, std::nullopt);
        length = static_cast<int>(name.size());
    }
    // The drive check may have found drive A: or B: just now.
    if (deferredSave_) {
        currentFileName_ = "log" + std::to_string(logCounter_);
        return;
    }
    // No name fits: the run ends as for a file that cannot be created, so the
    // previous log's file is never opened again.
    if (length <= 0) {
        EndWithFileError({FileFailure::Kind::NoName, settings_().directory});
        return;
    }
    currentFileName_ = name;
    // An incomplete file is only ever created new: the one this run left of
    // the log's try before goes first.
    if (reused) {
        std::error_code removeError;
        std::filesystem::remove(PartialName(name), removeError);
    }
    const int32_t error = controller_.OpenOutputFile(name.c_str(), outputExtension_.c_str());
    if (error == 0) {
        currentFileOpen_ = true;
        return;
    }
    EndWithFileError({FileFailure::Kind::CannotCreate, name, error});
}

Session::Kept Session::KeepFinishedLog() {
    FinishedLog finished;
    // Taken in every case: the worker hands the current log over even when it
    // is the default one of a skipped log.
    if (!controller_.TakeFinishedLog(finished) || !currentLogNamed_) {
        return Kept::NotRead;
    }
    currentLogNamed_ = false;
    // A file the worker could not write completely (a full disk) is not saved.
    if (!deferredSave_ && controller_.FileError() != 0) {
        return Kept::FileFailed;
    }
    logs_.append(std::move(finished.log));
    lines_.push_back(std::move(finished.lines));
    listedPositions_.push_back(position_);
    if (!deferredSave_ && position_ <= static_cast<int>(runLogs_.size())) {
        runLogs_[static_cast<std::size_t>(position_ - 1)].saved = true;
    }
    return Kept::Listed;
}

void Session::LogDone(bool last) {
    if (!deferredSave_) {
        controller_.CloseOutputFile();
    }
    currentFileOpen_ = false;
    if (last) {
        Shutdown();
    }
    const Kept kept = KeepFinishedLog();
    if (kept == Kept::FileFailed) {
        Shutdown();
        EndWithWriteFailure();
        return;
    }
    const std::string* listed = kept == Kept::Listed ? &currentFileName_ : nullptr;
    if (!last) {
        if (listed != nullptr) {
            logCounter_ += 1;
        }
        position_ += 1;
        observer_.LogDone(listed);
    } else {
        // The last log of a run was counted when the run or the log before
        // began; a skipped one takes its count back.
        if (listed == nullptr) {
            UncountLastLog();
            if (corrupted_) {
                Skip();
            }
        }
        observer_.LastLogDone(listed);
    }
    if (listed != nullptr && !deferredSave_) {
        ArchiveFile(currentFileName_);
    }
    if (last) {
        EndRun({End::Done});
    }
}

void Session::UncountLastLog() {
    if (command_ == Command::DownloadAll || command_ == Command::Download) {
        logCounter_ -= 1;
    }
}

ReaderLog Session::CorruptedLog() {
    ReaderLog log{position_, logsTotal_, {}, {}};
    // The worker waits to be resumed; its lock is taken all the same.
    const std::unique_ptr<platform::NamedMutex> mutex =
        platform::NamedMutex::Open(DEVICE_MUTEX_NAME);
    if (mutex) {
        mutex->Wait(platform::INFINITE);
    }
    if (const DeviceLog* current = controller_.CurrentLog()) {
        log = Identify(*current, position_, logsTotal_);
    }
    if (mutex) {
        mutex->Release();
    }
    return log;
}

void Session::NotSaved(UnsavedLog::Why why, std::string detail, const ReaderLog* identity) {
    if (position_ >= 1 && position_ <= static_cast<int>(runLogs_.size())) {
        UnsavedLog& fate = runLogs_[static_cast<std::size_t>(position_ - 1)].fate;
        fate.why = why;
        fate.detail = std::move(detail);
        if (identity != nullptr) {
            fate.log = *identity;
        }
    }
}

void Session::Skip() {
    const ReaderLog skipped = corrupted_.value_or(ReaderLog{position_, logsTotal_, {}, {}});
    corrupted_.reset();
    NotSaved(UnsavedLog::Why::Corrupted, {}, &skipped);
    position_ += 1;
    observer_.LogSkipped(skipped);
}

void Session::Surveyed(intptr_t samples) {
    FinishedLog finished;
    controller_.TakeFinishedLog(finished);
    HeldLog held{Identify(finished.log, position_, logsTotal_), std::move(finished.log), samples};
    position_ += 1;
    observer_.LogSurveyed(held.place);
    surveyed_.push_back(std::move(held));
}

void Session::EndIncomplete() {
    controller_.CloseOutputFile();
    UncountLastLog();
    Shutdown();
    if (currentFileOpen_) {
        observer_.PartialKept(PartialName(currentFileName_));
        NotSaved(UnsavedLog::Why::Incomplete, PartialName(currentFileName_));
    } else if (corrupted_) {
        NotSaved(UnsavedLog::Why::Corrupted, {}, &*corrupted_);  // held until the run ended
    }
    currentFileOpen_ = false;
}

void Session::EraseResult(bool erased) {
    if (!eraseInProgress_) {
        return;  // the erase was given up already
    }
    eraseInProgress_ = false;
    Shutdown();
    EndRun({erased ? End::Erased : End::NotErased});
}

int Session::AddOpenedLog(DeviceLog log) {
    if (runActive_) {
        return -1;
    }
    logs_.append(std::move(log));
    lines_.emplace_back();  // saved already: no lines kept, but the places stay in step
    return logs_.count() - 1;
}

void Session::Hold() {
    if (runActive_ && !held_) {
        held_ = true;
        controller_.Hold();
    }
}

bool Session::Release(bool goingOn) {
    held_ = false;
    bool decided = false;
    while (!heldNotices_.empty() && runActive_ && !held_) {
        const Notice notice = heldNotices_.front();
        // A run that ends opens no file for its next log.
        if (!goingOn && notice.code == DEV_LOG_OPEN_FILE) {
            break;
        }
        heldNotices_.pop_front();
        decided = decided || notice.code == DEV_LOG_CORRUPT;
        Handle(notice.code, notice.high, notice.value);
    }
    heldNotices_.clear();
    return decided;
}

bool Session::CanGoOn() const {
    if (!runActive_) {
        return false;
    }
    // A corrupted log is read again, which a run of one log cannot do.
    if (corrupted_) {
        return command_ == Command::DownloadAll && logsTotal_ > 1;
    }
    return command_ != Command::Download;
}

void Session::GoOn() {
    // A question may have been open while the run ended, or a corrupted log
    // reported meanwhile has been asked about already.
    if (Release(true) || !runActive_) {
        return;
    }
    // A reader unplugged and plugged in again is reached through a new port.
    if (controller_.PortLost() && controller_.Reopen() != 0) {
        EndIncomplete();
        EndRun({End::PortLost});
        return;
    }
    if (corrupted_) {
        ResumeLog();
    } else {
        controller_.GoOn();
    }
}

void Session::ResumeLog() {
    // The log is read again from its start: its file is written anew under
    // the same name, and kept as it is should the reading fail.
    if (currentFileOpen_) {
        controller_.CloseOutputFile();
        reuseName_ = currentFileName_;
        currentFileOpen_ = false;
    }
    controller_.Resume();
}

void Session::GiveUp() {
    Release(false);
    if (!runActive_) {
        return;
    }
    if (eraseInProgress_) {
        // A read-back that comes later is ignored.
        eraseInProgress_ = false;
        Shutdown();
        EndRun({End::EraseGivenUp});
        return;
    }
    EndIncomplete();  // what was read of the log is kept
    EndRun({End::GivenUp});
}

bool Session::Cancel() {
    Release(false);
    if (!runActive_) {
        return false;
    }
    controller_.Stop();
    runActive_ = false;
    if (eraseInProgress_) {
        eraseInProgress_ = false;
    } else {
        // The log in progress goes; the logs finished before stay.
        if (currentFileOpen_) {
            std::error_code error;
            std::filesystem::remove(PartialName(currentFileName_), error);
            NotSaved(UnsavedLog::Why::Deleted);
        }
        currentFileOpen_ = false;
        UncountLastLog();
    }
    EndRun({End::Cancelled});
    return true;
}

void Session::EndWithFileError(FileFailure failure) {
    Shutdown();
    UncountLastLog();
    NotSaved(UnsavedLog::Why::FileFailed, Describe(failure));
    EndRun({End::FileError, std::move(failure)});
}

void Session::EndWithWriteFailure() {
    UncountLastLog();
    observer_.PartialKept(PartialName(currentFileName_));
    FileFailure failure{FileFailure::Kind::WriteFailed, currentFileName_, controller_.FileError()};
    NotSaved(UnsavedLog::Why::FileFailed, Describe(failure));
    EndRun({End::FileError, std::move(failure)});
}

void Session::EndRun(RunEnd end) {
    // The logs a deferred run finished before it ended are saved all the same.
    if (deferredSave_) {
        SaveDeferredLogs();
    }
    end.answered = answered_;
    end.archiving = archiveGiven_ && archiveQueue_ != nullptr;
    EndArchiving();
    end.download = command_ == Command::DownloadAll || command_ == Command::Download;
    if (end.download) {
        end.logs = logsTotal_ > 0 || end.how == End::Empty ? logsTotal_ : -1;
        for (const RunLog& log : runLogs_) {
            if (!log.saved) {
                end.unsaved.push_back(log.fate);
            }
        }
    }
    observer_.RunEnded(end);
}

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

void Session::EndArchiving() {
    if (archiveGiven_) {
        if (archiveQueue_ != nullptr) {
            archiveQueue_->EndRun();
        } else {
            Report(sink_.EndRun(), observer_);
        }
    }
    archiveGiven_ = false;
    archiveAsked_ = false;
    archiveTarget_.reset();
}

void Session::ArchiveFile(const std::string& path) {
    if (!std::exchange(archiveAsked_, true)) {
        archiveTarget_ = archiveSettings_ ? archiveSettings_() : std::nullopt;
    }
    if (!archiveTarget_) {
        return;  // no archive
    }
    archiveGiven_ = true;
    if (archiveQueue_ != nullptr) {
        archiveQueue_->Add(*archiveTarget_, path, port_);
    } else {
        Report(sink_.Import(*archiveTarget_, path, port_), observer_);
    }
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
