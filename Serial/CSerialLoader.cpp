#include "Serial/CSerialLoader.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Serial/FrameFormat.h"
#include "platform/Errors.h"
#include "platform/MessageQueue.h"

using platform::INFINITE;

namespace {

constexpr uint32_t kFramingQueueSize = 2048;
constexpr uint32_t kStartRetryMs = 10;  // quit request to a reader that failed to start
constexpr uint32_t kStopRetryMs = 3;    // quit request in Close and the destructor
constexpr int kStopAttempts = 4;
constexpr uint32_t kReadChunk = 511;
constexpr uint32_t kFramePollMs = 2;  // while the rest of a frame is awaited
constexpr int32_t kPayloadBufferSize = 256;

}  // namespace

CSerialLoader::CSerialLoader(uint32_t nReplySize)
    : m_cLastCommand(-1),
      m_dwReaderThread(0),
      m_dwClientThread(0),
      m_nClientMsg(0),
      m_lClientParam(0),
      m_pReply(new (std::nothrow) uint8_t[nReplySize]),
      m_nReplySize(m_pReply ? nReplySize : 0),
      m_replies(m_nReplySize) {
    std::copy(CommandTable(), CommandTable() + COMMAND_COUNT, m_commands);
    m_status = m_pReply ? LinkStatus::Ok : LinkStatus::NoMemory;
}

CSerialLoader::~CSerialLoader() {
    // Stop the listener while this object is whole: it calls virtual functions.
    if (m_hListener) {
        CSerialWnd::Close();
    }
    if (m_hReader) {
        EndReader(m_hReader, kStopRetryMs);
    }
    if (m_hUnstoppedReader) {
        EndReader(m_hUnstoppedReader, kStopRetryMs);
    }
}

void CSerialLoader::TraceNote(const std::string& text) {
    Trace([&](LinkTrace& trace) { trace.Note(text); });
}

void CSerialLoader::SetTrace(std::shared_ptr<LinkTrace> trace) {
    m_bTracing = trace != nullptr;
    m_trace.Set(std::move(trace));
}

template <class Record>
void CSerialLoader::Trace(Record record) {
    if (m_bTracing.load(std::memory_order_relaxed)) {
        if (const std::shared_ptr<LinkTrace> trace = m_trace.Get()) {
            record(*trace);
        }
    }
}

uint8_t* CSerialLoader::TakeReply() {
    return m_replies.Take(m_pReply.get()) ? m_pReply.get() : nullptr;
}

LinkResult CSerialLoader::SendCommand(int8_t cCode, const char* pPayload, int32_t nLength,
                                      uint32_t dwTimeout) {
    // No purge: the input may hold a reply on its way, and only the client
    // can tell whether it is still of use.
    uint8_t command[frame::kCommandFrameSize];
    const LinkResult built = BuildFrame(cCode, pPayload, nLength, command);
    if (!built.Ok()) {
        return built;
    }
    m_cLastCommand = cCode;
    const auto size = static_cast<uint32_t>(built.bytes);

    // Traced before it goes out, so that its reply never comes first in the trace.
    Trace([&](LinkTrace& trace) { trace.Frame(TraceDirection::Sent, command, size, ""); });
    uint32_t written = 0;
    Write(command, size, &written, nullptr, dwTimeout);
    if (written != size) {
        Trace([&](LinkTrace& trace) {
            trace.Note("only " + std::to_string(written) + " bytes of that command went out");
        });
    }
    return {LinkStatus::Ok, static_cast<int32_t>(written)};
}

uint32_t CSerialLoader::ReaderThread(void* object) {
    auto* self = static_cast<CSerialLoader*>(object);
    // Make the queue now, so that no notification is refused from here on.
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);
    self->m_evtReaderReady.Set();
    return self->ReaderLoop();
}

void CSerialLoader::EndReader(std::unique_ptr<platform::Thread>& reader, uint32_t retryMs) {
    reader->Resume();
    while (!platform::PostThreadMessage(reader->Id(), m_nClientMsg, LINK_QUIT, 0) &&
           !reader->Join(0)) {
        platform::Sleep(retryMs);
    }
    reader->Join(INFINITE);
    reader.reset();
}

int32_t CSerialLoader::Connect(const char* lpszDevice, platform::ThreadId dwClientThread,
                               uint32_t nClientMsg, int32_t lClientParam) {
    if (m_hReader || m_hListener) {
        return SetResult(platform::ERROR_ALREADY_INITIALIZED);  // connected: change nothing
    }
    if (m_hUnstoppedReader) {
        EndReader(m_hUnstoppedReader, kStopRetryMs);
    }
    m_evtReaderReady.Reset();
    m_hReader = platform::Thread::CreateSuspended(ReaderThread, this);
    if (!m_hReader) {
        const uint32_t error = platform::LastError();
        CSerialWnd::Close();
        return SetResult(error);
    }
    m_dwReaderThread = m_hReader->Id();

    const char* device = lpszDevice != nullptr ? lpszDevice : "COM1";
    const int32_t opened = CSerialWnd::OpenWithListener(device, m_dwReaderThread, nClientMsg, 0,
                                                        kFramingQueueSize, kFramingQueueSize);
    if (!Opened(opened)) {
        EndReader(m_hReader, kStartRetryMs);
        return SetResult(opened);
    }
    m_dwClientThread = dwClientThread;
    m_nClientMsg = m_nNotifyMsg;  // nClientMsg, or the default message for 0
    m_lClientParam = lClientParam;
    // Only the end byte of a frame is to wake the listener. A port that
    // cannot be set up is closed again, so that the next Connect starts anew.
    if (CSerial::SetEventMask(platform::EV_RXFLAG) != 0 ||
        CSerial::SetTriggerChar(frame::kEndOfText, false) != 0) {
        const int32_t error = m_lLastResult;
        EndReader(m_hReader, kStartRetryMs);
        CSerialWnd::Close();
        return SetResult(error);
    }
    // Bytes that came before this connection are of no use to it.
    Purge();
    m_framer.Clear();
    m_replies.Clear();
    m_cLastCommand = -1;
    m_hReader->Resume();
    platform::WaitForSingle(m_evtReaderReady, INFINITE);
    Trace([&](LinkTrace& trace) { trace.Note(std::string("connected to ") + device); });
    return opened;
}

uint32_t CSerialLoader::ReaderLoop() {
    bool quit = false;
    uint8_t readBuffer[kReadChunk];
    uint8_t payload[kPayloadBufferSize];
    // The payload must fit both the payload buffer (with its terminating zero)
    // and the reply buffer.
    const int32_t capacity =
        static_cast<int32_t>(std::min<uint32_t>(kPayloadBufferSize, m_nReplySize + 1));
    while (!quit) {
        // While part of a frame is held its rest is read as it comes: no
        // event announces the checksum after the end byte, nor a cut.
        if (m_framer.Waiting()) {
            platform::WaitMessage(kFramePollMs);
        } else {
            platform::WaitMessage();
        }
        bool arrived = false;
        bool lineErrors = false;
        platform::Message message;
        while (!quit && platform::PeekMessage(&message, 0, 0, platform::PM_REMOVE)) {
            if (message.message != m_nClientMsg) {
                continue;
            }
            const uint16_t events = platform::LOWORD(message.wParam);
            if (events == LINK_QUIT) {
                quit = true;
            } else if (events == LINK_GONE) {
                Trace([](LinkTrace& trace) { trace.Note("the port stopped working"); });
                platform::PostThreadMessage(m_dwClientThread, m_nClientMsg, LINK_GONE, 0);
            } else {
                if (platform::HIWORD(message.wParam) != 0) {
                    lineErrors = true;
                    Trace([&](LinkTrace& trace) {
                        char text[40];
                        std::snprintf(text, sizeof text, "line error flags 0x%04X",
                                      static_cast<unsigned>(platform::HIWORD(message.wParam)));
                        trace.Note(text);
                    });
                    platform::PostThreadMessage(m_dwClientThread, m_nClientMsg, LINK_ERROR, 0);
                }
                arrived = arrived || (events & platform::EV_RXFLAG) != 0;
            }
        }
        if (quit || !(arrived || lineErrors || m_framer.Waiting())) {
            continue;
        }
        uint32_t got = 0;
        do {
            got = 0;
            Read(readBuffer, kReadChunk, &got, nullptr, INFINITE);
            m_framer.Add(readBuffer, got, platform::TickCount());
        } while (got == kReadChunk);
        // The errors came with bytes read by now: the frame they fall in is not trusted.
        if (lineErrors) {
            m_framer.MarkSuspect();
        }
        HandOverFrames(payload, capacity);
    }
    return 0;
}

void CSerialLoader::HandOverFrames(uint8_t* payload, int32_t capacity) {
    const int8_t code = m_cLastCommand.load();
    if (code < 0) {
        m_framer.Clear();  // nothing asked yet: no reply can be due
        return;
    }
    // A read is answered under the header of the stream command, in a fixed frame.
    const Command& header = m_commands[code == READ_CODE ? 0 : code];
    const ReplyFramer::Expected expected{{header.text, static_cast<size_t>(header.length)},
                                         code == READ_CODE ? frame::kReadReplySize : 0,
                                         frame::kLongestReplyPayload};
    const uint16_t codeWord = static_cast<uint16_t>(code);
    for (;;) {
        uint32_t skipped = 0;
        LinkResult parsed;  // of the last frame checked
        const std::optional<ReplyFramer::Frame> reply = m_framer.Next(
            expected, platform::TickCount(), m_nReplyGapMs.load(),
            [&](const uint8_t* bytes, int32_t count) {
                parsed = ParseReply(code, bytes, count, payload, capacity);
                return parsed.Ok();
            },
            &skipped);
        if (skipped > 0) {
            Trace([&](LinkTrace& trace) {
                trace.Note(std::to_string(skipped) + " bytes outside any reply frame, skipped");
            });
        }
        if (!reply) {
            return;
        }
        const bool good = reply->good && !reply->suspect && m_pReply;
        Trace([&](LinkTrace& trace) {
            const char* remark = good             ? ""
                                 : reply->suspect ? "hit by line errors, rejected"
                                 : parsed.status == LinkStatus::BadChecksum
                                     ? "bad checksum, rejected"
                                     : "damaged or cut short, rejected";
            trace.Frame(TraceDirection::Received, reply->bytes, static_cast<size_t>(reply->length),
                        remark);
        });
        if (!good) {
            platform::PostThreadMessage(m_dwClientThread, m_nClientMsg,
                                        platform::MAKEWPARAM(LINK_REJECTED, codeWord), 0);
            continue;
        }
        // Frames can come faster than the client takes them: each waits in
        // its slot until the client takes it on its notification.
        if (!m_replies.Push(payload, parsed.bytes)) {
            Trace([](LinkTrace& trace) { trace.Note("the client takes no replies; one dropped"); });
            continue;
        }
        if (!platform::PostThreadMessage(
                m_dwClientThread, m_nClientMsg,
                platform::MAKEWPARAM(LINK_REPLY, static_cast<uint16_t>(parsed.bytes)), code)) {
            m_replies.DropNewest();
        }
    }
}

int32_t CSerialLoader::Close() {
    const int32_t closed = CSerialWnd::Close();
    if (m_hReader) {
        Trace([](LinkTrace& trace) { trace.Note("disconnected"); });
        bool posted = false;
        for (int attempt = 0; attempt < kStopAttempts && !posted; ++attempt) {
            if (attempt > 0) {
                platform::Sleep(kStopRetryMs);
            }
            posted = platform::PostThreadMessage(m_dwReaderThread, m_nClientMsg, LINK_QUIT, 0);
        }
        if (posted || m_hReader->Join(0)) {
            m_hReader->Join(INFINITE);
            m_hReader.reset();
        } else {
            m_hUnstoppedReader = std::move(m_hReader);
        }
    }
    return closed != 0 ? 1 : 0;
}
