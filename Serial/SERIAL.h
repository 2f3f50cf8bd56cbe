#pragma once
// The serial link to the reader unit.
//
// CSerial      a COM port with overlapped I/O: line settings, flow control,
//              read modes, event mask and trigger character, reads, writes,
//              waits for port events. Every operation returns a Win32 error
//              code (0 for success) and keeps it in m_lLastResult.
// CSerialWnd   adds a listener thread that waits for port events and posts
//              each event set, with the line error flags, to a thread.
// CSerialLoader adds the reader's frame layer (command table, command frames,
//              reply validation) and a reader thread that collects each reply
//              frame when its end byte 0x03 arrives and posts LINK_REPLY or
//              LINK_ERROR to the client thread.
//
// Threads: Connect and Close run on the controlling thread; SendCommand on the
// client (worker) thread; the listener and the reader are the link's own. The
// fields that cross threads without a lock are atomics or handle slots.

#include <atomic>
#include <cstdint>
#include <memory>

#include "Serial/LinkTrace.h"
#include "Serial/ReplyFramer.h"
#include "Serial/ReplyQueue.h"
#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/SharedHandle.h"
#include "platform/Thread.h"
#include "platform/Time.h"

// SetFlowControl modes.
constexpr int FLOW_NONE = 0;
constexpr int FLOW_HARDWARE = 1;
constexpr int FLOW_SOFTWARE = 2;

// SetReadMode modes.
constexpr int READ_NONBLOCKING = 0;
constexpr int READ_BLOCKING = 1;

// Status codes of CSerialLoader.
constexpr int32_t LINK_OK = 1200;
constexpr int32_t LINK_BAD_FRAME = 1201;
constexpr int32_t LINK_BAD_CHECKSUM = 1202;
constexpr int32_t LINK_NO_MEMORY = 1203;

// Low words of wParam of the link's notifications, and its quit request.
constexpr uint16_t LINK_REPLY = 33268;
constexpr uint16_t LINK_ERROR = 33270;
// A reply frame came but failed its checksum; high word: the command's code.
constexpr uint16_t LINK_REJECTED = 33286;
// The port stopped working (a USB adapter pulled, the far end gone); posted once.
constexpr uint16_t LINK_GONE = 33287;
constexpr uint16_t LINK_QUIT = 100;

class CSerial {
  public:
    CSerial();
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // lpszDevice: "COMn" or a device path. Queue sizes 0 keep the driver's.
    virtual int32_t Open(const char* lpszDevice, uint32_t dwInQueue = 0, uint32_t dwOutQueue = 0);
    virtual int32_t Close();
    virtual int32_t SetLineSettings(uint32_t dwBaudrate, uint8_t bDataBits, uint8_t bParity,
                                    uint8_t bStopBits);
    virtual int32_t SetTriggerChar(uint8_t bEventChar, bool fAdjustMask);
    virtual int32_t SetEventMask(uint32_t dwMask);
    // The event set lands in m_dwEvents. With the caller's block a pending
    // wait returns 0 at once; the caller waits for the block's event.
    virtual int32_t WaitForEvent(platform::Overlapped* lpOverlapped, uint32_t dwTimeout);
    virtual int32_t SetFlowControl(int eFlowControl);
    virtual int32_t SetReadMode(int eReadMode);
    virtual int32_t GetBaudRate();
    virtual int32_t GetDataBits();
    virtual int32_t GetParity();
    virtual int32_t GetStopBits();
    virtual int32_t GetFlowControl();
    virtual uint32_t GetEventMask();
    virtual uint8_t GetTriggerChar();
    // Without a control block these wait up to dwTimeout (platform::INFINITE:
    // no limit) and return ERROR_TIMEOUT when it runs out, with nothing left
    // pending and the bytes moved so far in the out-count.
    virtual int32_t Write(const void* pData, uint32_t iLen, uint32_t* pdwWritten = nullptr,
                          platform::Overlapped* lpOverlapped = nullptr,
                          uint32_t dwTimeout = platform::INFINITE);
    virtual int32_t WriteText(const char* pszText, uint32_t* pdwWritten = nullptr,
                              platform::Overlapped* lpOverlapped = nullptr,
                              uint32_t dwTimeout = platform::INFINITE);
    virtual int32_t Read(void* pData, uint32_t iLen, uint32_t* pdwRead = nullptr,
                         platform::Overlapped* lpOverlapped = nullptr,
                         uint32_t dwTimeout = platform::INFINITE);

    // Discards both driver buffers; returns m_lLastResult, not cleared first.
    int32_t Purge();
    // When the port last received a byte (platform::TickCount), 0 when never
    // or closed: a reply may be on its way even before its end byte came.
    uint64_t LastByteTime() const;
    // The low 16 bits of m_dwEvents, which are then set to 0xFFFF again.
    uint16_t TakeEvent();

  protected:
    int32_t SetResult(int32_t error);
    int32_t RecordError();  // the calling thread's last platform error

    std::atomic<int32_t> m_lLastResult;
    platform::SharedHandle<platform::SerialPort> m_hPort;
    uint32_t m_dwEvents;
    platform::SharedHandle<platform::Event> m_hevtOverlapped;  // writes and event waits
    platform::SharedHandle<platform::Event> m_hevtRead;        // reads, so no read disturbs a write

  private:
    template <class Start>
    int32_t Transfer(platform::SerialPort& port,
                     const platform::SharedHandle<platform::Event>& event,
                     platform::Overlapped* lpOverlapped, uint32_t dwTimeout, uint32_t* pdwCount,
                     Start start);
    template <class Change>
    int32_t ChangeState(Change change);
    bool QueryState(platform::DCB* dcb);
};

class CSerialWnd : public CSerial {
  public:
    CSerialWnd();
    ~CSerialWnd() override;

    // Ends the listener, then closes the port.
    int32_t Close() override;
    // Opens the port and starts the listener, which posts nNotifyMsg (0: the
    // default message) to dwNotifyThread for each port event set, and once
    // with the low word LINK_GONE when the port stops working. 1247 when a
    // listener runs already.
    virtual int32_t OpenWithListener(const char* lpszDevice, platform::ThreadId dwNotifyThread,
                                     uint32_t nNotifyMsg = 0, int32_t lParam = 0,
                                     uint32_t dwInQueue = 0, uint32_t dwOutQueue = 0);
    virtual uint32_t ListenerLoop();

    // Registers "CSerialWnd_DefaultComMsg" once; the program entry calls it at
    // start-up.
    static void RegisterDefaultComMsg();
    static uint32_t DefaultComMsg();

    // The open port stopped working; it stays so until it is closed.
    bool PortLost() const { return m_bPortLost.load(); }

  protected:
    std::unique_ptr<platform::Thread> m_hListener;
    std::shared_ptr<platform::Event> m_hevtStop;
    std::shared_ptr<platform::Event> m_hevtComm;
    platform::ThreadId m_dwNotifyThread;
    uint32_t m_nNotifyMsg;
    int32_t m_lNotifyParam;

  private:
    static uint32_t ListenerThread(void* object);

    std::atomic<bool> m_bPortLost{false};
};

class CSerialLoader : public CSerialWnd {
  public:
    struct Command {
        uint8_t code;
        char text[4];
        int32_t length;
        bool payloadRequired;  // else the payload is optional
    };
    static constexpr int COMMAND_COUNT = 21;
    static constexpr int COMMAND_FRAME_SIZE = 160;
    static constexpr int READ_CODE = 18;         // "M81", answered by a fixed frame
    static constexpr int READ_REPLY_SIZE = 135;  // of that frame
    static constexpr uint32_t DEFAULT_REPLY_GAP_MS = 250;

    explicit CSerialLoader(uint32_t nReplySize);
    ~CSerialLoader() override;

    // Ends the listener and closes the port, then ends the reader. 0, or 1
    // when closing the port failed.
    int32_t Close() override;
    // Opens the port (lpszDevice null: "COM1") at 9600 8N1 without flow
    // control, starts listener and reader, and arms the trigger character
    // 0x03. Replies go to dwClientThread as nClientMsg. 0, 1247 (already open
    // or connected; nothing changes then) or an error code.
    virtual int32_t Connect(const char* lpszDevice, platform::ThreadId dwClientThread,
                            uint32_t nClientMsg, int32_t lClientParam);
    // Frames and writes command cCode (0..20). The number of bytes written, or
    // LINK_BAD_FRAME for a bad code, a missing required payload or a payload
    // that does not fit the 160-byte frame.
    virtual int32_t SendCommand(int8_t cCode, const char* pPayload, int32_t nLength,
                                uint32_t dwTimeout);
    // Validates a reply to cCode and copies its payload to pDest. The payload
    // length, LINK_BAD_FRAME (bad arguments, short frame, wrong header, or a
    // payload longer than nCapacity - 1) or LINK_BAD_CHECKSUM.
    virtual int32_t ParseReply(int8_t cCode, const uint8_t* pFrame, int32_t nFrameLength,
                               uint8_t* pDest, int32_t nCapacity);
    virtual uint32_t ReaderLoop();

    // Takes the payload that the oldest LINK_REPLY not yet taken announced
    // into the reply buffer and returns it (null when none is left). Call it
    // once for each LINK_REPLY, in order: replies that came back to back
    // each keep their payload until then.
    uint8_t* TakeReply();
    // The payload taken last.
    uint8_t* GetReply() const { return m_pReply.get(); }
    static int32_t FrameChecksum(const uint8_t* pBytes, int32_t nCount);

    // How long the line may stay quiet inside a reply frame before the frame
    // counts as cut short (and a reply of varying length as complete).
    void SetReplyGapLimit(uint32_t milliseconds) { m_nReplyGapMs.store(milliseconds); }

    // Records every frame sent and collected from now on, and the line's
    // events; null stops it. Without a trace the link only tests a flag.
    void SetTrace(std::shared_ptr<LinkTrace> trace);
    // A line of the client's own in the trace (a retry, say).
    void TraceNote(const std::string& text);

  protected:
    Command m_commands[COMMAND_COUNT];
    std::atomic<int8_t> m_cLastCommand;  // -1 until the first command
    std::unique_ptr<platform::Thread> m_hReader;
    platform::ThreadId m_dwReaderThread;
    platform::ThreadId m_dwClientThread;
    uint32_t m_nClientMsg;
    int32_t m_lClientParam;
    int32_t m_nStatus;
    std::unique_ptr<uint8_t[]> m_pReply;
    uint32_t m_nReplySize;
    ReplyQueue m_replies;
    ReplyFramer m_framer;  // the reader thread's, and Connect's before it runs

  private:
    static const Command* CommandTable();
    // The frame of command cCode with its payload; its length, or
    // LINK_BAD_FRAME for a bad code, a missing required payload or a payload
    // that does not fit.
    int32_t BuildFrame(int8_t cCode, const char* pPayload, int32_t nLength,
                       uint8_t (&out)[COMMAND_FRAME_SIZE]) const;
    static uint32_t ReaderThread(void* object);
    // Validates every complete frame the framer holds and posts it to the client.
    void HandOverFrames(uint8_t* payload, int32_t capacity);
    template <class Record>
    void Trace(Record record);
    void EndReader(std::unique_ptr<platform::Thread>& reader, uint32_t retryMs);

    // A reader that took no quit request in Close; ended before the next
    // Connect or by the destructor, so it never outlives the object.
    std::unique_ptr<platform::Thread> m_hUnstoppedReader;
    platform::Event m_evtReaderReady;  // the reader has its message queue
    std::atomic<uint32_t> m_nReplyGapMs{DEFAULT_REPLY_GAP_MS};
    std::atomic<bool> m_bTracing{false};
    platform::SharedHandle<LinkTrace> m_trace;
};
