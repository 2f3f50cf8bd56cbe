#pragma once
// The download protocol engine: the worker's handling of one message at a
// time. It walks the reader's log chain, decodes each log's information
// block, header block and data records into the current DeviceLog, writes
// each record to the open data file and reports every step to the window.
//
// The engine itself starts no thread and waits on nothing but its host, so a
// test can drive Handle with recorded replies and read what it sent,
// notified and wrote (DeviceController::Run is the threaded loop around it).

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
#include "device/SampleTime.h"
#include "platform/Event.h"
#include "platform/MessageQueue.h"

// What the worker shares with the thread that drives the controller.
class DeviceState {
  public:
    // Each log's data file is written through sink.
    explicit DeviceState(std::unique_ptr<LogSink> sink);

    std::atomic<bool> busy{false};  // a download runs on the worker
    std::atomic<bool> saveDuringDownload{true};
    std::atomic<bool> inData{false};     // the current log's data records are being read
    std::atomic<bool> eraseMode{false};  // the next read reply is an erase read-back
    std::atomic<int> logIndex{0};        // next entry of logAddress to download
    std::array<uint32_t, reader::kMaxLogs> logAddress{};  // the worker's alone
    std::atomic<int> fileError{0};                        // first error met closing a data file

    // The current log's data file: opened by the main thread, written and
    // closed by the worker, each holding fileLock meanwhile.
    int OpenOutputFile(const char* path, const char* extension);
    void CloseOutputFile();
    // Tells a worker waiting for the data file that the main thread has
    // answered (opened, failed, saving suppressed, or stopping).
    void AnswerOutputFile() { fileAnswer_.Set(); }
    // Waits until the main thread answered or timeoutMs ran out.
    void AwaitOutputFile(uint32_t timeoutMs);
    void ResetOutputFileAnswer() { fileAnswer_.Reset(); }

    // The worker's side: runs fn(sink, comma) holding fileLock; sink is
    // null unless the file is open and saving is on.
    template <class Fn>
    void WithFile(Fn fn) {
        std::lock_guard<std::mutex> lock(fileLock_);
        fn(saveDuringDownload && sink_->IsOpen() ? sink_.get() : nullptr,
           UsesCommaLayout(outputExt_ ? outputExt_->c_str() : nullptr));
    }
    // Closes the data file if it is open, keeping the first close error.
    void CloseFile();
    bool IsFileOpen() const { return sink_->IsOpen(); }

    // The log being filled: replaced and filled by the worker while it holds
    // "DeviceMutex"; others read it through CurrentLog.
    DeviceLog* CurrentLog() const { return currentLogView_.load(std::memory_order_acquire); }
    DeviceLog& NewCurrentLog();  // the worker's: replaces the current log by a fresh one

    // Finished logs not yet taken by the main thread, oldest first.
    void HandOverCurrentLog();
    bool TakeFinishedLog(DeviceLog& out);
    void ForgetFinishedLogs();

  private:
    void CloseFileLocked();

    std::mutex fileLock_;
    std::unique_ptr<LogSink> sink_;
    std::optional<std::string> outputExt_;  // ".omb" (any case) selects the text layout
    platform::Event fileAnswer_;

    std::unique_ptr<DeviceLog> currentLog_;
    std::atomic<DeviceLog*> currentLogView_{nullptr};

    std::mutex finishedLock_;  // never held for longer than one copy
    std::deque<DeviceLog> finished_;
};

// The engine's surroundings: the link, the window, "DeviceMutex" and time.
class EngineHost {
  public:
    virtual ~EngineHost() = default;
    virtual void Send(int8_t code, const char* payload, int32_t length) = 0;
    // The payload of the reply just notified.
    virtual const uint8_t* Reply() = 0;
    virtual void Notify(uint16_t code, uint16_t high, intptr_t value) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // Waits for the main thread's answer to DEV_LOG_OPEN_FILE, bounded.
    virtual void AwaitOutputFile() = 0;
    virtual void LockLog() = 0;  // "DeviceMutex", no time limit
    virtual void UnlockLog() = 0;
};

class DownloadEngine {
  public:
    // Largest header block (99 channels) plus the largest reply.
    static constexpr int kBufferBytes = reader::HeaderBytes(99) + reader::kReplyBufferBytes;

    DownloadEngine(DeviceState& state, EngineHost& host);
    // Releases "DeviceMutex" when it still holds it.
    ~DownloadEngine();
    DownloadEngine(const DownloadEngine&) = delete;
    DownloadEngine& operator=(const DownloadEngine&) = delete;

    void Handle(const platform::Message& message);

    bool Quit() const { return quit_; }
    // Lowest message number the worker takes from its queue.
    uint32_t QueueFloor() const { return queueFloor_; }

  private:
    void Start(uint32_t wParam);
    void ResumeLog();
    void LinkError();
    void Reply(int8_t code, int length);
    void ChainEntry();
    void InformationBlock();
    void HeaderBlock(int8_t code);
    void DataRecords(int8_t code);
    void EndOfLog(int8_t code);
    // The next log of the chain, or the end of the run.
    void NextLog();
    // Notifies notice and asks for the next log's information block; false
    // when the chain has no log left.
    bool BeginNextLog(uint16_t notice);
    void Request(int8_t code);
    void LockLog();
    void UnlockLog();

    DeviceState& state_;
    EngineHost& host_;
    std::vector<uint8_t> receiveBuffer_;
    int received_ = 0;
    uint32_t address_ = 0;
    int frameChannels_ = 1;
    int linkRetries_ = 3;
    int logRetries_ = 3;
    bool directoryDone_ = false;
    bool infoRead_ = false;
    bool endOfLog_ = false;
    int logsFound_ = 0;
    uint32_t logStart_ = 0;
    int recordSize_ = 2;
    bool stepMode_ = false;  // records start with a step byte
    uint32_t queueFloor_ = 0;
    bool quit_ = false;
    bool holdsLog_ = false;
    int8_t requestCode_ = -1;  // code of the last request sent, -1 before the first
    // Texts of the information block, kept for the header.
    char typeDigits_[3] = {};
    char typeName_[10] = {};
    char typeTag_[6] = {};
    // Times of the current log's records, counted record by record.
    std::optional<SampleClock> clock_;
    std::vector<double> values_;
    std::vector<int32_t> decimals_;
};
