#pragma once
// What the download engine's worker shares with the thread that drives the
// device controller: flags, the chain of logs, the data file of the log
// being read, the log being filled, and the finished logs waiting to be taken.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceLog.h"
#include "device/LogSink.h"
#include "device/ReaderMemory.h"
#include "device/RequestLine.h"
#include "platform/Event.h"

// The data lines of a log as its file would get them, kept while the file is
// written only after the download: every record, also past what a channel
// of the log holds.
struct LogLines {
    std::vector<int64_t> seconds;
    std::vector<int8_t> tenths;
    std::vector<double> values;  // one per channel, line after line

    void Add(int64_t second, int tenth, const double* lineValues, int channels) {
        seconds.push_back(second);
        tenths.push_back(static_cast<int8_t>(tenth));
        values.insert(values.end(), lineValues, lineValues + channels);
    }
};

// A log the worker finished, as the main thread takes it.
struct FinishedLog {
    DeviceLog log;
    LogLines lines;  // empty unless the file is written after the download
};

class DeviceState {
  public:
    // Each log's data file is written through sink.
    explicit DeviceState(std::unique_ptr<LogSink> sink);

    std::atomic<bool> busy{false};  // a download runs on the worker
    std::atomic<bool> saveDuringDownload{true};
    std::atomic<bool> inData{false};     // the current log's data records are being read
    std::atomic<bool> eraseMode{false};  // the next read reply is an erase read-back
    // The walk of every log reads headers and where each log's data ends, no data.
    std::atomic<bool> surveyOnly{false};
    std::atomic<int> logIndex{0};                         // next entry of logAddress to download
    std::array<uint32_t, reader::kMaxLogs> logAddress{};  // the worker's alone
    std::atomic<int> fileError{0};  // first error met closing or finishing a data file
    // The user's communication time-out: a request without an answer for
    // this long holds the run.
    std::atomic<uint32_t> replyTimeLimitMs{5000};
    // What TM_ERASE_FILL sends and how long it pauses: set before it is posted.
    std::array<char, reader::kBlockBytes> eraseBlock{};
    uint32_t eraseBlockDelayMs = 0;  // wait command -> fill block
    uint32_t eraseReadDelayMs = 0;   // fill block -> read-back request
    // The requests on the line and their replies still due: the worker's,
    // kept from one run to the next (a reply to the last run may still come).
    RequestLine line;

    // The current log's data file: opened by the main thread, written and
    // closed by the worker, each holding fileLock meanwhile.
    int OpenOutputFile(const char* path, const char* extension);
    // Closes the file of a log that did not complete (it keeps its
    // incomplete name).
    void CloseOutputFile();
    // The worker waits for the main thread's answer to DEV_LOG_OPEN_FILE
    // (opened, failed, saving suppressed) or for the stop, however long.
    void AnswerOutputFile() { fileAnswer_.Set(); }
    void AwaitOutputFile();
    void ResetOutputFileAnswer() { fileAnswer_.Reset(); }
    // A stop or shutdown ends any wait of the worker at once; only the next
    // worker's start takes it back.
    void RequestStop() { stop_.Set(); }
    void ClearStop() { stop_.Reset(); }

    // The worker's side: runs fn(sink, comma) holding fileLock; sink is
    // null unless the file is open and saving is on.
    template <class Fn>
    void WithFile(Fn fn) {
        std::lock_guard<std::mutex> lock(fileLock_);
        fn(saveDuringDownload && sink_->IsOpen() ? sink_.get() : nullptr,
           UsesCommaLayout(outputExt_ ? outputExt_->c_str() : nullptr));
    }
    // Closes the data file if it is open, keeping the first error: complete
    // (under its final name) or not.
    void CloseFile(bool complete);
    bool IsFileOpen() const { return sink_->IsOpen(); }

    // The log being filled: replaced and filled by the worker while it holds
    // "DeviceMutex"; others read it through CurrentLog.
    DeviceLog* CurrentLog() const { return currentLogView_.load(std::memory_order_acquire); }
    DeviceLog& NewCurrentLog();  // the worker's: replaces the current log by a fresh one
    // The worker's: a data line of the current log kept for writing later.
    void KeepLine(int64_t seconds, int tenths, const double* values, int channels) {
        lines_.Add(seconds, tenths, values, channels);
    }

    // Finished logs not yet taken by the main thread, oldest first.
    void HandOverCurrentLog();
    bool TakeFinishedLog(FinishedLog& out);
    void ForgetFinishedLogs();

  private:
    void CloseFileLocked(bool complete);

    std::mutex fileLock_;
    std::unique_ptr<LogSink> sink_;
    std::optional<std::string> outputExt_;  // ".omb" (any case) selects the text layout
    platform::Event fileAnswer_;
    platform::Event stop_;

    std::unique_ptr<DeviceLog> currentLog_;
    std::atomic<DeviceLog*> currentLogView_{nullptr};
    LogLines lines_;  // of the current log; the worker's alone

    std::mutex finishedLock_;  // never held for longer than one move
    std::deque<FinishedLog> finished_;
};
