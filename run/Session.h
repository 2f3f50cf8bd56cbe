#pragma once
// The rules of a run against the reader, written once for the window program
// and arvelo-cli: Download All, the single-log Download, Erase with its
// read-back check, the name and the data file of every log, saving a run's
// logs after it when the output directory asks for that (drive A: or B:),
// and the count of what was saved since start-up.
//
// The session owns the DeviceController and reports every step to an
// Observer. It runs on the one thread that drives the controller: that
// thread hands each WM_DEVICE_NOTIFY it receives to Handle, and when its
// watchdog finds the reader silent it holds the run (Hold), asks the user,
// and calls GoOn or GiveUp.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "datafile/DataFileWriter.h"
#include "device/DeviceController.h"
#include "device/DeviceLog.h"
#include "platform/Window.h"
#include "run/ArchiveSink.h"
#include "run/Observer.h"

namespace run {

class ArchiveQueue;

// Where and how the next data file is saved.
struct FileSettings {
    uint32_t options = 0;   // FILE_NAME_* bits
    std::string directory;  // used as given (platform::WithTrailingSeparator ends it)
    std::string extension;  // ".omb" or ".csv"
};
// Asked each time a file is named, so a change of the settings counts from
// the next file on.
using FileSettingsSource = std::function<FileSettings()>;
// The archive every saved log also goes into, asked at a run's first saved
// log; none when the archive is off.
using ArchiveSettingsSource = std::function<std::optional<ArchiveTarget>()>;

// How long the erase sequence pauses before its command and its fill block.
inline constexpr uint32_t ERASE_COMMAND_PAUSE_MS = 10;
inline constexpr uint32_t ERASE_FILL_PAUSE_MS = 100;
// The reader's own time to erase, added to a watchdog while the read-back is awaited.
inline constexpr uint32_t ERASE_EXTRA_MS = ERASE_READ_BACK_DELAY_MS;

// A log as a survey found it in the reader: its header (no samples) and how
// many samples its data holds.
struct HeldLog {
    ReaderLog place;
    DeviceLog log;
    int64_t samples = 0;  // -1: its header is not valid, nothing is known
};

class Session {
  public:
    // The worker's notifications go to notifyWindow, whose owner hands them to Handle.
    Session(FileSettingsSource settings, Observer& observer, platform::WindowHandle notifyWindow);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Every log saved from now on also goes into the archive that names.
    void SetArchive(ArchiveSettingsSource archive) { archiveSettings_ = std::move(archive); }
    // The logs then go into the archive on the queue's thread (the window
    // program's, whose own thread must stay free), which tells what became
    // of them; without a queue the session runs the same sink inline and
    // reports to the observer as it goes.
    void SetArchiveQueue(ArchiveQueue* queue) { archiveQueue_ = queue; }

    // The commands. Each opens the port first; false (or PortError) when it
    // cannot be opened, and then nothing else happened.
    bool DownloadAll(const std::string& port);
    bool Download(const std::string& port);  // the single-log stream
    enum class EraseStart { Started, PortError, NotSent };
    // Sends the erase sequence; when Started, the read-back's result ends the run.
    EraseStart Erase(const std::string& port);
    // Reads which logs the reader holds, without their data, saving nothing;
    // ends with End::Surveyed, the logs in Surveyed().
    bool Survey(const std::string& port);
    int32_t PortError() const { return portError_; }

    // A notification of the worker (WM_DEVICE_NOTIFY): code and high word of
    // wParam, and lParam. Ignored when no run is going.
    void Handle(uint16_t code, uint16_t high, intptr_t value);

    // The reader was silent for the time-out (or the user is asked anything
    // else): nothing is asked of it and nothing the worker reports is taken
    // until GoOn or GiveUp; an answer that comes meanwhile is kept for then.
    void Hold();
    // Whether the run may go on after a silence: a Download All, a survey
    // or an erase; after a corrupted log only a Download All of more than
    // one log, which reads it again.
    bool CanGoOn() const;
    // Goes on after a silence where the run stood (a corrupted log is read
    // again, or skipped).
    void GoOn();
    // No sign of life, or the program is closing: the run (or the erase)
    // ends; what was read of the log in progress is kept, incomplete.
    void GiveUp();
    // The user stops the run: the log in progress is deleted. False when no
    // run is going.
    bool Cancel();

    bool Running() const { return phase_ != Phase::Idle; }
    bool EraseInProgress() const { return phase_ == Phase::Erasing; }
    // Set once a run found its directory on drive A: or B:; never cleared.
    bool DeferredSave() const { return deferredSave_; }
    // The number of the log being read, counting every log since start-up.
    int32_t LogCounter() const { return logCounter_; }
    // The name of the last log named ("log<n>" while saving is deferred).
    const std::string& CurrentFileName() const { return currentFileName_; }
    // A copy of every log listed since start-up, downloaded or opened.
    const LogList& Logs() const { return logs_; }
    // A log read from a file joins the list; it was not downloaded, so it
    // counts as no saved log. Its index in Logs(), or -1 while a run is
    // going, whose logs are listed in the order they come.
    int AddOpenedLog(DeviceLog log);
    // What the last survey found, in chain order.
    const std::vector<HeldLog>& Surveyed() const { return surveyed_; }

    DeviceController& Controller() { return controller_; }

  private:
    enum class Command { DownloadAll, Download, Erase, Survey };
    // Where the run stands. A run starts Between logs; a log's header makes
    // it Corrupted, or Named and then Writing once its file is open; a log
    // done or skipped is Between again; an erase sent is Erasing; every end
    // is Idle. Enter is the one place it changes. A hold can fall in any
    // phase and leaves it as it was: it is kept beside it (held_).
    enum class Phase {
        Idle,       // no run is going
        Between,    // the chain walk, between two logs, a survey: no log is being read
        Corrupted,  // the header of the log being read is not valid (corrupted_ says which)
        Named,      // the log being read is named; a deferred run opens no file for it
        Writing,    // its file is open: currentFileName_ is being written
        Erasing,    // the erase sequence was sent; its read-back ends the run
    };
    // A log of the reader in the run going on, and whether it was saved.
    struct RunLog {
        UnsavedLog fate;  // why not, while it is not saved
        bool saved = false;
    };

    bool StartController(const std::string& port, Command command);
    void Enter(Phase next);
    // The controller stops, and the run is Idle.
    void Shutdown();
    // Names log from the settings; 0 when its run is saved afterwards (the
    // drive check, when asked for, found drive A: or B:), else the length
    // of the name or FILE_NAME_NO_FIT.
    int NameLog(DeviceLog& log, bool driveCheck, std::string* name);
    void OpenLogFile();
    enum class Kept { Listed, NotRead, FileFailed };
    // Takes the log DEV_LOG_DONE or DEV_DONE reports and lists it when it was
    // read (named: its header was good).
    Kept KeepFinishedLog(bool named);
    // A log finished: its file is closed and the log kept; another follows,
    // or it was the run's last.
    void LogDone(bool last);
    // The worker gave up on the line (DEV_COMM_ERROR, DEV_UNEXPECTED), or
    // the port stopped working (DEV_PORT_LOST): the run ends.
    void LineEnded(uint16_t code);
    void LogsCounted(int total);
    void LogCorrupt();
    // A log the run counted ahead was not kept.
    void UncountLastLog();
    // The corrupted log being read, by its place and what its header said.
    ReaderLog CorruptedLog();
    // What became of the log being read, when it was not saved (and what its
    // header said, when it is known now).
    void NotSaved(UnsavedLog::Why why, std::string detail = {},
                  const ReaderLog* identity = nullptr);
    // A log was given up (the corrupted one, whose phase ends).
    void Skip(const ReaderLog& skipped);
    void Surveyed(intptr_t samples);
    // Ends a download that did not complete its log: what was read of it
    // is kept under its incomplete name, and the run no longer counts it.
    void EndIncomplete();
    void EndWithWriteFailure();
    // The log's data lines as kept during the download, else what it holds.
    void WriteDeferredLog(DataFileWriter& writer, const DeviceLog& log, const LogLines& lines);
    void EraseResult(bool erased);
    // Ends the run: a deferred run's logs are saved first, then the
    // observer hears how it ended and which logs of the reader it did not save.
    void EndRun(RunEnd end);
    void EndWithFileError(FileFailure failure);
    void SaveDeferredLogs();
    // Hands over what the worker reported while the run was held; on a
    // give-up, up to a file that would only be opened to be closed. True
    // when a corrupted log among it was asked about already.
    bool Release(bool goingOn);
    // The saved file of a log into the run's archive, opened at its first log.
    void ArchiveFile(const std::string& path);
    // The run's logs are all given: the sink says what they brought.
    void EndArchiving();

    FileSettingsSource settings_;
    Observer& observer_;
    const platform::WindowHandle notifyWindow_;
    DeviceController controller_;
    int32_t portError_ = 0;

    // The runs since start-up.
    int32_t logCounter_ = 0;
    int32_t firstUnsavedLog_ = 0;  // index in logs_ of the first log of the current run
    bool deferredSave_ = false;
    std::string currentFileName_;
    std::string outputExtension_;
    LogList logs_;
    std::deque<LogLines> lines_;  // beside logs_: the lines kept for saving afterwards
    std::vector<HeldLog> surveyed_;

    // The run going on.
    Phase phase_ = Phase::Idle;
    Command command_ = Command::DownloadAll;
    int logsTotal_ = 0;                 // of this run, once known
    int position_ = 1;                  // in the reader's chain of the log being read
    ReaderLog corrupted_;               // the log being read, while it is Corrupted
    std::vector<RunLog> runLogs_;       // the reader's logs, once counted
    std::vector<int> listedPositions_;  // of the logs this run listed, in the order listed
    bool held_ = false;                 // the user is asked: see Hold
    bool answered_ = false;             // the reader answered in this run
    struct Notice {
        uint16_t code, high;
        intptr_t value;
    };
    std::deque<Notice> heldNotices_;  // what the worker reported while the run was held
    std::string port_;
    ArchiveSettingsSource archiveSettings_;
    bool archiveAsked_ = false;                   // the run asked archiveSettings_
    std::optional<ArchiveTarget> archiveTarget_;  // its answer: none, the archive is off
    ArchiveSink sink_;                            // without a queue
    ArchiveQueue* archiveQueue_ = nullptr;
    bool archiveGiven_ = false;  // the run gave the archive a log
};

}  // namespace run
