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
    Enter(portError_ == 0 ? Phase::Between : Phase::Idle);
    command_ = command;
    firstUnsavedLog_ = logs_.count();
    logsTotal_ = 0;
    position_ = 1;
    runLogs_.clear();
    listedPositions_.clear();
    held_ = false;
    answered_ = false;
    heldNotices_.clear();
    port_ = port;
    EndArchiving();
    return Running();
}

void Session::Enter(Phase next) {
    phase_ = next;
}

void Session::Shutdown() {
    controller_.Shutdown();
    Enter(Phase::Idle);
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
    Enter(Phase::Erasing);
    return EraseStart::Started;
}

void Session::Handle(uint16_t code, uint16_t high, intptr_t value) {
    // What a worker posted before it was stopped arrives after the run ended.
    if (!Running()) {
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
            Skip(phase_ == Phase::Corrupted ? corrupted_
                                            : ReaderLog{position_, logsTotal_, {}, {}});
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
        case DEV_PORT_LOST:
            LineEnded(code);
            break;
        case DEV_RECOVERED:
            observer_.FaultsRecovered(high);
            break;
        case DEV_LOG_COUNT:
            LogsCounted(high);
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
            LogCorrupt();
            break;
        case DEV_ERASE_RESULT:
            EraseResult(high == 0);
            break;
        default:
            observer_.UnknownNotice(code);
            break;
    }
}

void Session::LineEnded(uint16_t code) {
    // A notice from before the port was opened again is stale.
    if (code == DEV_PORT_LOST && !controller_.PortLost()) {
        return;
    }
    // The worker has stopped trying: what it read of the log is kept.
    EndIncomplete();
    EndRun({code == DEV_PORT_LOST    ? End::PortLost
            : code == DEV_COMM_ERROR ? End::LinkError
                                     : End::Unexpected});
}

void Session::LogsCounted(int total) {
    logsTotal_ = total;
    runLogs_.resize(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i) {
        runLogs_[static_cast<std::size_t>(i)].fate.log = {i + 1, total, {}, {}};
    }
    if (total > 0) {
        observer_.LogsCounted(total);
        return;
    }
    Shutdown();
    UncountLastLog();
    EndRun({command_ == Command::Survey ? End::Surveyed : End::Empty});
}

void Session::LogCorrupt() {
    corrupted_ = CorruptedLog();
    Enter(Phase::Corrupted);
    if (const bool canReadAgain = CanGoOn(); observer_.LogCorrupt(canReadAgain) && canReadAgain) {
        controller_.Resume();
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
    // The worker waits for the file meanwhile, holding the log's lock.
    const ReaderLog identity = Identify(*controller_.CurrentLog(), position_, logsTotal_);
    NotSaved(UnsavedLog::Why::Incomplete, {}, &identity);  // until it is saved
    Enter(Phase::Named);
    // A deferred run's worker goes on filling the log: it is not touched.
    // Naming also trims the log's location, which its file shows; its drive
    // check may find drive A: or B: just now.
    std::string name;
    const int length = deferredSave_ ? 0 : NameLog(*controller_.CurrentLog(), true, &name);
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
    const int32_t error = controller_.OpenOutputFile(name.c_str(), outputExtension_.c_str());
    if (error == 0) {
        Enter(Phase::Writing);
        return;
    }
    EndWithFileError({FileFailure::Kind::CannotCreate, name, error});
}

Session::Kept Session::KeepFinishedLog(bool named) {
    FinishedLog finished;
    // Taken in every case: the worker hands the current log over even when it
    // is the default one of a skipped log.
    if (!controller_.TakeFinishedLog(finished) || !named) {
        return Kept::NotRead;
    }
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
    const Phase was = phase_;
    if (!deferredSave_) {
        controller_.CloseOutputFile();
    }
    if (last) {
        Shutdown();
    } else {
        Enter(Phase::Between);
    }
    const Kept kept = KeepFinishedLog(was == Phase::Named || was == Phase::Writing);
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
            if (was == Phase::Corrupted) {
                Skip(corrupted_);
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

void Session::Skip(const ReaderLog& skipped) {
    if (phase_ == Phase::Corrupted) {
        Enter(Phase::Between);
    }
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
    const Phase was = phase_;
    controller_.CloseOutputFile();
    UncountLastLog();
    Shutdown();
    if (was == Phase::Writing) {
        observer_.PartialKept(PartialName(currentFileName_));
        NotSaved(UnsavedLog::Why::Incomplete, PartialName(currentFileName_));
    } else if (was == Phase::Corrupted) {
        NotSaved(UnsavedLog::Why::Corrupted, {}, &corrupted_);  // held until the run ended
    }
}

void Session::EraseResult(bool erased) {
    if (phase_ != Phase::Erasing) {
        return;  // no erase of this run
    }
    Shutdown();
    EndRun({erased ? End::Erased : End::NotErased});
}

int Session::AddOpenedLog(DeviceLog log) {
    if (Running()) {
        return -1;
    }
    logs_.append(std::move(log));
    lines_.emplace_back();  // saved already: no lines kept, but the places stay in step
    return logs_.count() - 1;
}

void Session::Hold() {
    if (Running() && !held_) {
        held_ = true;
        controller_.Hold();
    }
}

bool Session::Release(bool goingOn) {
    held_ = false;
    bool decided = false;
    while (!heldNotices_.empty() && Running() && !held_) {
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
    if (!Running()) {
        return false;
    }
    // A corrupted log is read again, which a run of one log cannot do.
    if (phase_ == Phase::Corrupted) {
        return command_ == Command::DownloadAll && logsTotal_ > 1;
    }
    return command_ != Command::Download;
}

void Session::GoOn() {
    // A question may have been open while the run ended, or a corrupted log
    // reported meanwhile has been asked about already.
    if (Release(true) || !Running()) {
        return;
    }
    // A reader unplugged and plugged in again is reached through a new port.
    if (controller_.PortLost() && controller_.Reopen() != 0) {
        EndIncomplete();
        EndRun({End::PortLost});
        return;
    }
    // A corrupted log is read again from its start.
    if (phase_ == Phase::Corrupted) {
        controller_.Resume();
    } else {
        controller_.GoOn();
    }
}

void Session::GiveUp() {
    Release(false);
    if (!Running()) {
        return;
    }
    if (phase_ == Phase::Erasing) {
        // A read-back that comes later is ignored.
        Shutdown();
        EndRun({End::EraseGivenUp});
        return;
    }
    EndIncomplete();  // what was read of the log is kept
    EndRun({End::GivenUp});
}

bool Session::Cancel() {
    Release(false);
    if (!Running()) {
        return false;
    }
    const Phase was = phase_;
    controller_.Stop();
    Enter(Phase::Idle);
    if (was != Phase::Erasing) {
        // The log in progress goes; the logs finished before stay.
        if (was == Phase::Writing) {
            std::error_code error;
            std::filesystem::remove(PartialName(currentFileName_), error);
            NotSaved(UnsavedLog::Why::Deleted);
        }
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

}  // namespace run
