#pragma once
// CSerial with the reader's frame layer (command table, command frames, reply
// validation) and a reader thread that collects each reply frame when its end
// byte 0x03 arrives and posts LINK_REPLY or LINK_ERROR to the client thread.
//
// Threads: Connect and Close run on the controlling thread; SendCommand on the
// client (worker) thread; the listener and the reader are the link's own. The
// fields that cross threads without a lock are atomics or handle slots.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Serial/CSerialWnd.h"
#include "Serial/FrameFormat.h"
#include "Serial/LinkTrace.h"
#include "Serial/ReplyFramer.h"
#include "Serial/ReplyQueue.h"
#include "platform/Event.h"
#include "platform/SharedHandle.h"
#include "platform/Thread.h"

// The loader's own status, and that of a frame it built or checked.
enum class LinkStatus {
    Ok,
    BadFrame,  // a bad code or payload; a reply short, under another header or too long
    BadChecksum,
    NoMemory,  // the reply buffer could not be had
};

// What a frame call did, and apart from it how many bytes it concerns: a
// frame's length, the bytes written, a payload's length. Bytes are 0 unless
// the status is Ok.
struct LinkResult {
    LinkStatus status = LinkStatus::Ok;
    int32_t bytes = 0;

    bool Ok() const { return status == LinkStatus::Ok; }
    bool operator==(const LinkResult&) const = default;
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
    static constexpr int READ_CODE = 18;  // "M81", answered by a fixed frame
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
    // Frames and writes command cCode (0..20): Ok with the number of bytes
    // written (fewer than the frame's when the write failed), or BadFrame for a
    // bad code, a missing required payload or a payload that does not fit the
    // 160-byte frame; nothing is written then.
    virtual LinkResult SendCommand(int8_t cCode, const char* pPayload, int32_t nLength,
                                   uint32_t dwTimeout);
    // Validates a reply to cCode and copies its payload to pDest: Ok with the
    // payload's length, BadFrame (bad arguments, short frame, wrong header, or
    // a payload longer than nCapacity - 1) or BadChecksum.
    virtual LinkResult ParseReply(int8_t cCode, const uint8_t* pFrame, int32_t nFrameLength,
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
    LinkStatus m_status;
    std::unique_ptr<uint8_t[]> m_pReply;
    uint32_t m_nReplySize;
    ReplyQueue m_replies;
    ReplyFramer m_framer;  // the reader thread's, and Connect's before it runs

  private:
    static const Command* CommandTable();
    // The frame of command cCode with its payload: Ok with its length, or
    // BadFrame for a bad code, a missing required payload or a payload that
    // does not fit.
    LinkResult BuildFrame(int8_t cCode, const char* pPayload, int32_t nLength,
                          uint8_t (&out)[frame::kCommandFrameSize]) const;
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
