#pragma once
// The one object through which the main window (or the command-line tool)
// works with the reader: it owns the serial link, the worker thread that runs
// the download engine, the data file writer of the log being downloaded and
// that log itself.
//
// Every operation runs on the thread that drives the controller (the main
// thread). The worker reports to the window given to Start with posted
// WM_DEVICE_NOTIFY messages (device/DeviceMessages.h). Results are the
// system's error codes (0 success; 1247, port already open, counts as success
// for Start) or -1 for a message that could not be posted.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Serial/CSerialLoader.h"
#include "device/DeviceLog.h"
#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/Window.h"

// The named mutex that guards the current log.
inline constexpr char DEVICE_MUTEX_NAME[] = "DeviceMutex";
// The reader's own time to erase: the pause before the erase's read-back.
inline constexpr uint32_t ERASE_READ_BACK_DELAY_MS = 1800;

class DeviceController {
  public:
    // Waits and pauses, in milliseconds; tests shorten them.
    struct Timing {
        uint32_t workerJoinMs = 5000;      // how long Stop, Shutdown and a failed Start wait
        uint32_t startRetryMs = 10;        // between refused posts of Start, Download(All), Resume
        uint32_t stopRetryMs = 3;          // between refused posts of Stop and Shutdown
        uint32_t eraseBlockDelayMs = 100;  // wait command -> fill block
        uint32_t eraseReadDelayMs = ERASE_READ_BACK_DELAY_MS;  // fill block -> read-back
    };

    // Each log's data file is written through sink (a DataFileWriter).
    explicit DeviceController(std::unique_ptr<LogSink> sink);
    virtual ~DeviceController();
    DeviceController(const DeviceController&) = delete;
    DeviceController& operator=(const DeviceController&) = delete;

    // Starts the worker and connects the link to portName ("COM1" when null).
    // 0 or 1247 on success, else the error (also kept in ErrorCode()).
    int32_t Start(const char* portName, platform::WindowHandle window, uint32_t messageId,
                  int32_t param);
    int32_t Download();     // the single-log stream; 0, or -1 (no worker, not posted)
    int32_t DownloadAll();  // every log of the chain; 0 or -1
    // Every log's header and sample count, read without its data and saved
    // nowhere (DEV_LOG_SURVEYED for each); 0 or -1.
    int32_t Survey();
    int32_t Resume();  // retry or skip a corrupted log; 0 or -1
    // The run is held while the user is asked whether to go on: nothing is
    // asked of the reader, an answer that comes is kept. 0 or -1.
    int32_t Hold();
    // The run goes on where it stood, with the answer kept. 0 or -1.
    int32_t GoOn();
    // Opens the port of the running worker again, after it stopped working
    // (a USB adapter pulled and plugged in again); 0, or the error.
    int32_t Reopen();
    bool PortLost() const;
    // Ends the worker, closes an open data file and the link; the link's Close result.
    int32_t Stop();
    // Ends the worker and closes the link; an open data file stays open.
    int32_t Shutdown();

    // Opens the current log's data file (the answer to DEV_LOG_OPEN_FILE);
    // 0, or the writer's LastError. An extension starting with ".omb" (any
    // case) selects the text layout of the data lines, anything else commas.
    int32_t OpenOutputFile(const char* path, const char* extension);
    int32_t CloseOutputFile();  // 0
    // Non-zero: the worker writes no file during the download (deferred saving).
    void SuppressSaving(int flag);
    // The user's communication time-out: a request unanswered for this long
    // holds the run until the user decides. Before Start.
    void SetReplyTimeLimit(uint32_t milliseconds) { state_.replyTimeLimitMs = milliseconds; }

    // The log being filled; read it only while holding "DeviceMutex", or
    // while the worker waits for the answer to DEV_LOG_OPEN_FILE.
    DeviceLog* CurrentLog();
    // The oldest finished log not taken yet: one is handed over before every
    // DEV_LOG_DONE and DEV_DONE, so the main thread takes the log that
    // notification reports, however late it handles it. False when none is left.
    bool TakeFinishedLog(FinishedLog& out);

    // The erase command "xxxxG00000000000" from the first 4 characters of
    // text; 0, or -1 for a shorter text or no worker. Nothing is sent while busy.
    int32_t SendEraseCommand(const char* text);
    // Has the worker send the wait command, the 128-byte fill block and the
    // read-back request of address 0, with their pauses; it answers with
    // DEV_ERASE_RESULT. 0, or -1 for a block shorter than 128 bytes before a
    // zero byte, no worker, or a message that could not be posted.
    int32_t EraseMemory(const char* block);

    // Called on the worker with every block it reads (the address it asked
    // for and the 128 bytes that answered it). Set it while no worker runs.
    using BlockTap = std::function<void(uint32_t address, const uint8_t* block)>;
    void SetBlockTap(BlockTap tap) { blockTap_ = std::move(tap); }

    // The worker's body (the download engine's message loop); 0.
    virtual int Run();

    int32_t ErrorCode() const { return errorCode_; }
    bool IsBusy() const { return state_.busy.load(); }
    // The first error met closing a data file in this run (0: none).
    int FileError() const { return state_.fileError.load(); }
    // Before Start; tests shorten the waits.
    void SetTiming(const Timing& timing) { timing_ = timing; }
    CSerialLoader& Link() { return *link_; }

  private:
    class WorkerHost;
    static uint32_t WorkerThread(void* controller);

    // Posts to the worker, retrying a refused post 3 more times.
    bool PostToWorker(uint32_t message, uint32_t wParam, uint32_t retryMs);
    int32_t PostCommand(uint32_t message, uint32_t wParam);
    // Waits for the worker after a quit request (or not, when it was not
    // delivered) and forgets it.
    void EndWorker(bool delivered);
    void Notify(uint16_t code, uint16_t high, intptr_t value);

    Timing timing_;
    DeviceState state_;
    std::unique_ptr<CSerialLoader> link_;
    std::unique_ptr<platform::Thread> workerThread;
    // A worker that did not end in time; joined before the next start and
    // by the destructor, so it never outlives the controller.
    std::unique_ptr<platform::Thread> strayWorker_;
    platform::ThreadId workerThreadId = 0;
    platform::Event workerReady_;
    int32_t errorCode_ = 0;
    std::atomic<platform::WindowHandle> notifyWindow{0};
    std::atomic<uint32_t> notifyMessageId{0};
    std::atomic<int32_t> notifyParam{0};
    std::string portName_;
    BlockTap blockTap_;
};
