#pragma once
// What a run reports, step by step, to the face that started it: the window
// program shows it, arvelo-cli prints it. Every call comes on the thread
// that drives the session, in the order the run makes its steps; a face
// overrides what it shows.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "run/ArchiveSink.h"

namespace run {

// A data file that could not be had.
struct FileFailure {
    enum class Kind { NoName, CannotCreate, WriteFailed };
    Kind kind = Kind::NoName;
    std::string path;  // the file, or the directory when no name fits
    int error = 0;     // the C library's error number (errno), 0 or less when none is known
};

// What failed, in words: "writing PATH failed: No space left on device".
std::string Describe(const FileFailure& failure);

// Why a port could not be opened, in words, with what to do about it:
// "COM5 (/dev/ttyUSB0): the port is in use by another program". error is
// the result of the session's command (Session::PortError).
std::string DescribePortFailure(const std::string& port, int32_t error);

// A port that opened but on which the reader never answered: "the reader
// did not answer on COM5 (/dev/ttyUSB0): check that it is connected and
// switched on, and that this is its port".
std::string DescribeSilentPort(const std::string& port);

// A log of the reader: its place in the chain and what its header said.
struct ReaderLog {
    int position = 0;  // in the reader's chain, from 1
    int total = 0;     // of the logs the run found
    // What its header said, where it said it in printable characters.
    std::string location;
    std::string serialNumber;  // the six characters that identify the logger
};

// Which log, in words: "log 2 of 4 (WELLFIELD NORTH PT2, serial number 31882)".
std::string Describe(const ReaderLog& log);

// A log of the reader that a run did not save, and why.
struct UnsavedLog {
    enum class Why {
        Corrupted,   // its header stayed corrupted in the reader
        Incomplete,  // the run ended while it was read
        Deleted,     // the user cancelled the run while it was read
        NotRead,     // the run ended before it
        FileFailed,  // its file could not be named, created or written
    };
    ReaderLog log;
    Why why = Why::NotRead;
    // Incomplete: the name what was read is kept under (none when nothing
    // was); FileFailed: the failure in words.
    std::string detail;
};

// "log 3 of 4 (WELL 9, serial number 12767): the run ended while it was
// read; what was read is kept as WELL_9.omb.partial".
std::string Describe(const UnsavedLog& log);

enum class End {
    Done,          // the last log finished (or was skipped)
    Empty,         // the reader holds no logs
    FileError,     // a data file could not be named, created or written completely
    LinkError,     // the serial link failed and the worker gave up
    Unexpected,    // the reader answered a command the download does not read
    GivenUp,       // no sign of life and the run did not go on, or the program is closing
    PortLost,      // the port stopped working (a USB adapter pulled, the reader gone)
    Cancelled,     // by the user
    Erased,        // the memory reads back erased
    NotErased,     // it does not
    EraseGivenUp,  // no read-back came in time
    Surveyed,      // every log of the reader was looked at (Session::Surveyed)
};

struct RunEnd {
    RunEnd(End end, FileFailure failure = {}) : how(end), file(std::move(failure)) {}

    End how;
    FileFailure file;  // for End::FileError
    // Of a download: the logs of the reader it did not save, in chain order,
    // and how many the reader holds (-1: the run ended before they were counted).
    bool download = false;
    std::vector<UnsavedLog> unsaved;
    int logs = -1;
    bool answered = true;    // the reader answered at all: a silent one may be on another port
    bool archiving = false;  // its logs went to the archive thread, which tells what came of them
};

// How a download ended for the logs of the reader, one line each: "Not
// saved: log 4 of 4: not read", or that the run ended before it counted
// them; nothing when every log was saved, or the run was no download.
std::vector<std::string> DescribeUnsaved(const RunEnd& end);

// Who tells the user how a run ended. The window program and arvelo-cli
// have words of their own for each end; a run that only reads what the
// reader holds before an erase (a survey) is told by the window as what
// stopped the erase.
struct Voice {
    enum class Face { Window, CommandLine };
    enum class Run { Download, Survey, Erase, Dump };
    Face face = Face::Window;
    Run run = Run::Download;
    // The command line names the port that stopped working, and gives its
    // own reason when it gave the run up (a time-out, a signal).
    std::string port;
    std::string givenUp;
};

// How the run ended, in the voice's words: "Serial Communication Error" in
// the window, "serial communication error" on the command line; nothing
// when there is nothing to say (a download done, a survey complete).
std::string Describe(const RunEnd& end, const Voice& voice);

// The erase sequence could not be sent, or the memory does not read back
// erased: "Data Erase Error".
std::string DescribeEraseError();

// The reader said nothing for seconds: "no answer from the reader for 10 s";
// when is what the reader was asked before ("after the erase ").
std::string DescribeSilence(int seconds, const std::string& when = {});

class Observer {
  public:
    virtual ~Observer() = default;

    virtual void LogFound(int /*found*/) {}
    // The reader answered, though nothing else is to be reported: a sign of life.
    virtual void ReaderAlive() {}
    virtual void LogsCounted(int /*total*/) {}  // the run reads total > 0 logs
    virtual void BlockTotal(int32_t /*blocks*/) {}
    virtual void BlockRead() {}
    // The log's header block is not valid. It is read again when the run can
    // (canReadAgain: a Download All of more than one log) and the answer is
    // true: the window program asks the user, arvelo-cli answers from its
    // options. Otherwise the reader holds the log and the run waits: its
    // time-out then offers to go on, or gives the run up, as after any silence.
    virtual bool LogCorrupt(bool /*canReadAgain*/) { return false; }
    // A corrupted log was given up; when another follows, the run goes on.
    virtual void LogSkipped(const ReaderLog& /*skipped*/) {}
    // A survey read what the reader holds of one more log.
    virtual void LogSurveyed(const ReaderLog& /*log*/) {}
    // A log finished and another follows. listedName: the name it is listed
    // under, none when it was not read.
    virtual void LogDone(const std::string* /*listedName*/) {}
    // The run's last log finished (none listed when it was skipped); the
    // controller is shut down. The logs of a deferred run are saved after
    // this, then the run ends with End::Done.
    virtual void LastLogDone(const std::string* /*listedName*/) {}
    // Saving after the run (output directory on drive A: or B:): log index
    // of the session's list was written under name, or could not be.
    virtual void DeferredLogSaved(int /*index*/, const std::string& /*name*/) {}
    virtual void DeferredFileFailed(const FileFailure& /*failure*/) {}
    // The last name built, empty when none was.
    virtual void DeferredSaveDone(const std::string& /*lastName*/) {}
    virtual void RunEnded(const RunEnd& /*end*/) {}
    // The reader's log chain points back to an earlier log after this many
    // entries: the logs up to there are read, the walk ends.
    virtual void ChainLoops(int /*entries*/) {}
    // Faults of the line the run recovered from by asking again, so far.
    virtual void FaultsRecovered(int /*total*/) {}
    // What was read of a log that did not complete is kept under this name.
    virtual void PartialKept(const std::string& /*path*/) {}
    // What the archive made of the log saved under path: taken (or that file
    // held already), else why not; the file is saved all the
    // same, and importing it later catches up.
    virtual void FileArchived(const std::string& /*path*/,
                              const archive::Result<archive::Imported>& /*result*/) {}
    // The run's saved logs are all given to the archive: what they brought.
    virtual void RunArchived(const ArchiveGain& /*gain*/) {}
    // A notification the run does not know.
    virtual void UnknownNotice(uint16_t /*code*/) {}
};

// Hands what the archive sink made of a file, or of a run, to observer: the
// one way both faces hear of it, whichever thread ran the sink.
void Report(const ArchiveOutcome& outcome, Observer& observer);

}  // namespace run
