#pragma once
// The download protocol engine: the worker's handling of one message at a
// time. It walks the reader's log chain, decodes each log's information
// block, header block and data records into the current DeviceLog, writes
// each record to the open data file and reports every step to the window.
//
// The engine itself starts no thread and waits on nothing but its host, so a
// test can drive Handle with recorded replies and read what it sent,
// notified and wrote (DeviceController::Run is the threaded loop around it).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceLog.h"
#include "device/DeviceState.h"
#include "device/ReaderMemory.h"
#include "device/RequestLine.h"
#include "device/SampleTime.h"
#include "platform/MessageQueue.h"

// The engine's surroundings: the link, the window, "DeviceMutex" and time.
class EngineHost {
  public:
    virtual ~EngineHost() = default;
    virtual void Send(int8_t code, const char* payload, int32_t length) = 0;
    // Takes the payload of the reply just notified; called once per reply.
    virtual const uint8_t* Reply() = 0;
    virtual void Notify(uint16_t code, uint16_t high, intptr_t value) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint64_t Now() = 0;  // milliseconds, from any start
    // When the link last received a byte (on Now's clock), 0 when never.
    virtual uint64_t LastByteAt() { return 0; }
    // A line of the engine's own in the link's trace.
    virtual void TraceNote(const std::string& /*text*/) {}
    // An answer the engine took, with the address of the request it answers.
    virtual void Answered(int8_t /*code*/, uint32_t /*address*/, const uint8_t* /*payload*/,
                          int /*length*/) {}
    // Whether the port the replies come through stopped working.
    virtual bool PortLost() { return false; }
    // Waits for the main thread's answer to DEV_LOG_OPEN_FILE, or the stop.
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
    // When Tick next has something to do (a reply's time-out); none: nothing is timed.
    std::optional<uint64_t> Deadline() const { return line_.Deadline(); }
    // Asks again for a reply whose time is up.
    void Tick();

    bool Quit() const { return quit_; }
    // Nothing is asked of the reader until the run goes on (DEV_GO_ON).
    bool Held() const { return line_.Held(); }
    // Lowest message number the worker takes from its queue.
    uint32_t QueueFloor() const { return queueFloor_; }

  private:
    void Start(uint32_t wParam);
    // The rest of an erase: wait command, fill block, pauses, read-back.
    void EraseFill();
    void ResumeLog();
    // The run goes on after a hold, with the answer that came meanwhile.
    void GoOn();
    void LinkError(uint16_t code);
    void PortGone();
    void Reply(int8_t code, int length, const uint8_t* payload);
    // The answer to the request out: the walk, the log or the erase moves on.
    void Answer(int8_t code, int n, const uint8_t* payload);
    void ChainEntry();
    // Whether the chain's next entry points back to one already found.
    bool Loops(uint32_t address) const;
    void InformationBlock();
    void HeaderBlock(int8_t code);
    // The log whose header block is held, with its channels; null when the
    // block is no valid header.
    DeviceLog* ReadLogHeader(int8_t code, int channels, int headerBytes);
    // How many blocks the log's data takes, as far as can be told.
    uint64_t ExpectedBlocks(const DeviceLog& log, int8_t code, int headerBytes) const;
    // Writes the log's start into the file the main thread opened; false
    // when it opened none.
    bool WriteLogStart(DeviceLog& log);
    void DataRecords(int8_t code);
    void EndOfLog(int8_t code);
    // The next log of the chain (notice, when not 0, says the last one
    // ended), or the end of the run.
    void NextLog(uint16_t notice);
    // Notifies notice (when not 0) and asks for the next log's information
    // block; false when the chain has no log left.
    bool BeginNextLog(uint16_t notice);
    // A survey: where the log's data ends, found by reading a few blocks.
    void BeginEndSearch(const DeviceLog& log, int headerBytes);
    void EndSearchBlock(const uint8_t* block);
    void AskEndSearchBlock();
    // Hands the log surveyed over with its sample count (-1: unreadable).
    void Surveyed(int64_t samples);
    void Request(int8_t code);
    void LockLog();
    void UnlockLog();

    DeviceState& state_;
    EngineHost& host_;
    RequestLine& line_;        // outlives the engine: replies still due belong to the next run too
    int recoveredBefore_ = 0;  // by earlier runs
    int recoveredReported_ = 0;
    // An answer that came while the run was held, used when it goes on.
    struct KeptAnswer {
        int8_t code;
        std::vector<uint8_t> payload;
    };
    std::optional<KeptAnswer> kept_;
    std::vector<uint8_t> receiveBuffer_;
    int received_ = 0;
    uint32_t address_ = 0;
    int frameChannels_ = 1;
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
    // Texts of the information block, kept for the header.
    char typeDigits_[3] = {};
    char typeName_[10] = {};
    char typeTag_[6] = {};
    // A survey's search for the end of a log's data. Bytes count from the
    // log's header block; blocks are the reader's 128-byte blocks from there.
    // No byte of a record is an end marker, and the memory behind a log's
    // end reads as end markers: a block holds one exactly when it lies at
    // or past the end, so the first such block is found by halving.
    struct EndSearch {
        uint32_t base = 0;       // the address of the header block
        int64_t dataStart = 0;   // the first data byte
        int64_t regionEnd = 0;   // where the next log (or the memory) begins
        int64_t lo = 0, hi = 0;  // the first block at or past the end lies in [lo, hi]
        int64_t hint = -1;       // the block to read next, when in range
        int64_t probe = 0;       // the block asked for
        int64_t endByte = -1;    // the first end marker found, in block hi
        bool first = true;
    };
    std::optional<EndSearch> search_;
    // Times of the current log's records, counted record by record.
    std::optional<SampleClock> clock_;
    std::vector<double> values_;
    std::vector<int32_t> decimals_;
};
