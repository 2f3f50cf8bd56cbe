#include "Serial/SERIAL.h"

#include "Serial/FrameFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Check.h"
#include "platform/Errors.h"
#include "platform/MessageQueue.h"
#include "platform/Window.h"

using platform::INFINITE;

namespace {

constexpr int32_t kAlreadyOpen = platform::ERROR_ALREADY_INITIALIZED;  // counts as success
constexpr uint32_t kFramingQueueSize = 2048;
constexpr uint32_t kStartRetryMs = 10;  // quit request to a reader that failed to start
constexpr uint32_t kStopRetryMs = 3;    // quit request in Close and the destructor
constexpr int kStopAttempts = 4;
constexpr uint32_t kReadChunk = 511;
constexpr uint32_t kFramePollMs = 2;  // while the rest of a frame is awaited
constexpr int32_t kPayloadBufferSize = 256;

std::atomic<uint32_t> g_defaultComMsg{0};
std::atomic<bool> g_defaultComMsgRegistered{false};

}  // namespace

// ---------------------------------------------------------------- CSerial

CSerial::CSerial() : m_lLastResult(0), m_dwEvents(0xFFFF) {}

CSerial::~CSerial() {
    if (m_hPort.Get()) {
        CSerial::Close();
    }
}

int32_t CSerial::SetResult(int32_t error) {
    m_lLastResult = error;
    return error;
}

int32_t CSerial::RecordError() {
    return SetResult(static_cast<int32_t>(platform::LastError()));
}

int32_t CSerial::Open(const char* lpszDevice, uint32_t dwInQueue, uint32_t dwOutQueue) {
    m_lLastResult = 0;
    if (m_hPort.Get()) {
        return SetResult(platform::ERROR_ALREADY_INITIALIZED);
    }
    auto port = platform::SerialPort::Open(lpszDevice != nullptr ? lpszDevice : "");
    if (!port) {
        return RecordError();
    }
    ARVELO_ASSERT(m_hevtOverlapped == nullptr);
    m_hevtOverlapped.Set(std::make_shared<platform::Event>());
    m_hevtRead.Set(std::make_shared<platform::Event>());
    m_hPort.Set(port);
    if (!port->SetupComm(dwInQueue, dwOutQueue)) {
        const uint32_t error = platform::LastError();
        // Only what Open made: a derived Close would also end threads that
        // its caller is still starting.
        CSerial::Close();
        return SetResult(error);
    }
    // Every step is tried; a port that failed any of them is closed again,
    // so that a later Open starts anew instead of finding it open.
    int32_t failed = 0;
    for (const int32_t result :
         {SetEventMask(platform::EV_RXCHAR | platform::EV_BREAK | platform::EV_ERR),
          SetLineSettings(9600, 8, platform::NOPARITY, platform::ONESTOPBIT),
          SetReadMode(READ_NONBLOCKING), SetFlowControl(FLOW_NONE)}) {
        failed = result != 0 ? result : failed;
    }
    if (failed != 0) {
        CSerial::Close();
        return SetResult(failed);
    }
    return 0;
}

int32_t CSerial::Close() {
    m_lLastResult = 0;
    if (m_hPort.Get()) {
        m_hevtOverlapped.Take();
        m_hevtRead.Take();
        // Cancels what other threads still have pending on it; their next
        // calls fail with ERROR_INVALID_HANDLE.
        m_hPort.Take()->Close();
    }
    return 0;
}

template <class Change>
int32_t CSerial::ChangeState(Change change) {
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    platform::DCB dcb;
    if (!port->GetCommState(&dcb)) {
        return RecordError();
    }
    change(dcb);
    if (!port->SetCommState(dcb)) {
        return RecordError();
    }
    return 0;
}

int32_t CSerial::SetLineSettings(uint32_t dwBaudrate, uint8_t bDataBits, uint8_t bParity,
                                 uint8_t bStopBits) {
    return ChangeState([&](platform::DCB& dcb) {
        dcb.BaudRate = dwBaudrate;
        dcb.ByteSize = bDataBits;
        dcb.Parity = bParity;
        dcb.StopBits = bStopBits;
        dcb.fParity = bParity != platform::NOPARITY;
    });
}

int32_t CSerial::SetTriggerChar(uint8_t bEventChar, bool fAdjustMask) {
    return ChangeState([&](platform::DCB& dcb) {
        if (fAdjustMask) {
            SetEventMask(GetEventMask() | platform::EV_RXFLAG);
        }
        dcb.EvtChar = bEventChar;
    });
}

int32_t CSerial::SetEventMask(uint32_t dwMask) {
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    return port->SetCommMask(dwMask) ? 0 : RecordError();
}

int32_t CSerial::SetFlowControl(int eFlowControl) {
    m_lLastResult = 0;
    if (eFlowControl != FLOW_NONE && eFlowControl != FLOW_HARDWARE &&
        eFlowControl != FLOW_SOFTWARE) {
        ARVELO_ASSERT(false);
        return SetResult(platform::E_INVALIDARG);
    }
    const bool hardware = eFlowControl == FLOW_HARDWARE;
    const bool software = eFlowControl == FLOW_SOFTWARE;
    return ChangeState([&](platform::DCB& dcb) {
        dcb.fOutxCtsFlow = hardware;
        dcb.fOutxDsrFlow = hardware;
        dcb.fDtrControl =
            hardware ? platform::DTR_CONTROL_HANDSHAKE : platform::DTR_CONTROL_DISABLE;
        dcb.fOutX = software;
        dcb.fInX = software;
        dcb.fRtsControl =
            hardware ? platform::RTS_CONTROL_HANDSHAKE : platform::RTS_CONTROL_DISABLE;
    });
}

int32_t CSerial::SetReadMode(int eReadMode) {
    m_lLastResult = 0;
    if (eReadMode != READ_NONBLOCKING && eReadMode != READ_BLOCKING) {
        ARVELO_ASSERT(false);
        return SetResult(platform::E_INVALIDARG);
    }
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    platform::COMMTIMEOUTS timeouts;
    if (!port->GetCommTimeouts(&timeouts)) {
        return RecordError();
    }
    // Non-blocking: a read returns at once with what is there. Blocking: it
    // waits until the requested count has come.
    timeouts.ReadIntervalTimeout = eReadMode == READ_NONBLOCKING ? platform::MAXDWORD : 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    return port->SetCommTimeouts(timeouts) ? 0 : RecordError();
}

bool CSerial::QueryState(platform::DCB* dcb) {
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        SetResult(platform::ERROR_INVALID_HANDLE);
        return false;
    }
    if (!port->GetCommState(dcb)) {
        RecordError();
        return false;
    }
    return true;
}

int32_t CSerial::GetBaudRate() {
    platform::DCB dcb;
    return QueryState(&dcb) ? static_cast<int32_t>(dcb.BaudRate) : -1;
}

int32_t CSerial::GetDataBits() {
    platform::DCB dcb;
    return QueryState(&dcb) ? dcb.ByteSize : -1;
}

int32_t CSerial::GetParity() {
    platform::DCB dcb;
    return QueryState(&dcb) ? (dcb.fParity ? dcb.Parity : 0) : -1;
}

int32_t CSerial::GetStopBits() {
    platform::DCB dcb;
    return QueryState(&dcb) ? dcb.StopBits : -1;
}

int32_t CSerial::GetFlowControl() {
    platform::DCB dcb;
    if (!QueryState(&dcb)) {
        return -1;
    }
    if (dcb.fDtrControl == platform::DTR_CONTROL_HANDSHAKE &&
        dcb.fRtsControl == platform::RTS_CONTROL_HANDSHAKE) {
        return FLOW_HARDWARE;
    }
    return dcb.fOutX && dcb.fInX ? FLOW_SOFTWARE : FLOW_NONE;
}

uint32_t CSerial::GetEventMask() {
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        SetResult(platform::ERROR_INVALID_HANDLE);
        return 0;
    }
    uint32_t mask = 0;
    if (!port->GetCommMask(&mask)) {
        RecordError();
        return 0;
    }
    return mask;
}

uint8_t CSerial::GetTriggerChar() {
    platform::DCB dcb;
    return QueryState(&dcb) ? dcb.EvtChar : 0;
}

// The steps every overlapped operation shares. start() begins the transfer
// on a control block: true when it completed at once, false with the error
// (ERROR_IO_PENDING when it goes on in the background).
template <class Start>
int32_t CSerial::Transfer(platform::SerialPort& port,
                          const platform::SharedHandle<platform::Event>& event,
                          platform::Overlapped* lpOverlapped, uint32_t dwTimeout,
                          uint32_t* pdwCount, Start start) {
    platform::Overlapped local;
    const bool ownBlock = lpOverlapped == nullptr;
    std::shared_ptr<platform::Event> internalEvent;
    if (ownBlock) {
        internalEvent = event.Get();
        if (!internalEvent) {
            return SetResult(platform::ERROR_INVALID_HANDLE);  // closed meanwhile
        }
        local.hEvent = internalEvent.get();
        lpOverlapped = &local;
    }
    ARVELO_ASSERT(HasOverlappedIoCompleted(lpOverlapped));
    if (start(lpOverlapped)) {
        if (lpOverlapped->hEvent != nullptr) {
            lpOverlapped->hEvent->Set();
        }
        return 0;
    }
    const uint32_t error = platform::LastError();
    if (error != platform::ERROR_IO_PENDING) {
        return SetResult(error);
    }
    if (!ownBlock) {
        return 0;
    }
    const uint32_t waited = platform::WaitForSingle(*internalEvent, dwTimeout);
    if (!platform::HasOverlappedIoCompleted(&local)) {
        // The block lives on this stack: nothing may stay pending on it.
        port.CancelIo(&local);
    }
    uint32_t transferred = 0;
    const bool succeeded = platform::GetOverlappedResult(&local, &transferred, false);
    if (pdwCount != nullptr) {
        *pdwCount = transferred;
    }
    if (succeeded) {
        return 0;  // also when it completed just before it could be cancelled
    }
    return waited == platform::WAIT_TIMEOUT ? SetResult(platform::ERROR_TIMEOUT) : RecordError();
}

int32_t CSerial::WaitForEvent(platform::Overlapped* lpOverlapped, uint32_t dwTimeout) {
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    return Transfer(
        *port, m_hevtOverlapped, lpOverlapped, dwTimeout, nullptr,
        [&](platform::Overlapped* block) { return port->WaitCommEvent(&m_dwEvents, block); });
}

int32_t CSerial::Write(const void* pData, uint32_t iLen, uint32_t* pdwWritten,
                       platform::Overlapped* lpOverlapped, uint32_t dwTimeout) {
    ARVELO_ASSERT(!lpOverlapped || pdwWritten);
    uint32_t dwWritten = 0;
    if (pdwWritten == nullptr) {
        pdwWritten = &dwWritten;
    }
    *pdwWritten = 0;
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    return Transfer(*port, m_hevtOverlapped, lpOverlapped, dwTimeout, pdwWritten,
                    [&](platform::Overlapped* block) {
                        return port->WriteFile(pData, iLen, pdwWritten, block);
                    });
}

int32_t CSerial::WriteText(const char* pszText, uint32_t* pdwWritten,
                           platform::Overlapped* lpOverlapped, uint32_t dwTimeout) {
    return Write(pszText, static_cast<uint32_t>(std::strlen(pszText)), pdwWritten, lpOverlapped,
                 dwTimeout);
}

int32_t CSerial::Read(void* pData, uint32_t iLen, uint32_t* pdwRead,
                      platform::Overlapped* lpOverlapped, uint32_t dwTimeout) {
    ARVELO_ASSERT(!lpOverlapped || pdwRead);
    uint32_t dwRead = 0;
    if (pdwRead == nullptr) {
        pdwRead = &dwRead;
    }
    *pdwRead = 0;
    m_lLastResult = 0;
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    return Transfer(
        *port, m_hevtRead, lpOverlapped, dwTimeout, pdwRead,
        [&](platform::Overlapped* block) { return port->ReadFile(pData, iLen, pdwRead, block); });
}

int32_t CSerial::Purge() {
    const auto port = m_hPort.Get();
    if (!port) {
        return SetResult(platform::ERROR_INVALID_HANDLE);
    }
    if (!port->PurgeComm(platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR)) {
        RecordError();
    }
    return m_lLastResult;
}

uint64_t CSerial::LastByteTime() const {
    const auto port = m_hPort.Get();
    return port ? port->LastReceived() : 0;
}

uint16_t CSerial::TakeEvent() {
    const uint16_t events = static_cast<uint16_t>(m_dwEvents & 0xFFFF);
    m_dwEvents = (m_dwEvents & 0xFFFF0000) | 0xFFFF;
    return events;
}

// ---------------------------------------------------------------- CSerialWnd

CSerialWnd::CSerialWnd() : m_dwNotifyThread(0), m_nNotifyMsg(0), m_lNotifyParam(0) {}

CSerialWnd::~CSerialWnd() {
    if (m_hListener) {
        CSerialWnd::Close();
    }
}

void CSerialWnd::RegisterDefaultComMsg() {
    if (!g_defaultComMsgRegistered.load()) {
        g_defaultComMsg = platform::RegisterWindowMessage("CSerialWnd_DefaultComMsg");
        g_defaultComMsgRegistered = true;
    }
}

uint32_t CSerialWnd::DefaultComMsg() {
    return g_defaultComMsg.load();
}

uint32_t CSerialWnd::ListenerThread(void* object) {
    return static_cast<CSerialWnd*>(object)->ListenerLoop();
}

int32_t CSerialWnd::OpenWithListener(const char* lpszDevice, platform::ThreadId dwNotifyThread,
                                     uint32_t nNotifyMsg, int32_t lParam, uint32_t dwInQueue,
                                     uint32_t dwOutQueue) {
    if (m_hListener) {
        return SetResult(platform::ERROR_ALREADY_INITIALIZED);  // never a second listener
    }
    const int32_t opened = CSerial::Open(lpszDevice, dwInQueue, dwOutQueue);
    if (opened != 0 && opened != kAlreadyOpen) {
        return opened;
    }
    m_hevtStop = std::make_shared<platform::Event>();
    m_hevtComm = std::make_shared<platform::Event>();
    m_hListener = platform::Thread::CreateSuspended(ListenerThread, this);
    if (!m_hListener) {
        const uint32_t error = platform::LastError();
        m_hevtStop.reset();
        m_hevtComm.reset();
        CSerial::Close();
        return SetResult(error);
    }
    if (nNotifyMsg == 0) {
        RegisterDefaultComMsg();
        nNotifyMsg = DefaultComMsg();
    }
    m_dwNotifyThread = dwNotifyThread;
    m_nNotifyMsg = nNotifyMsg;
    m_lNotifyParam = lParam;
    m_hListener->Resume();
    return m_lLastResult;
}

uint32_t CSerialWnd::ListenerLoop() {
    platform::Overlapped block;
    block.hEvent = m_hevtComm.get();
    platform::Event* const handles[] = {m_hevtStop.get(), m_hevtComm.get()};
    uint32_t exitCode = 0;
    // Starts the next comm-event wait; false when the thread is to end.
    auto startWait = [&] {
        const int32_t result = WaitForEvent(&block, INFINITE);
        if (result < 0) {
            exitCode = static_cast<uint32_t>(m_lLastResult.load());
            return false;
        }
        if (result > 0) {
            // The port failed (it has gone, say). Nothing will set the comm
            // event again: wait for the stop event rather than spin on it.
            m_hevtComm->Reset();
            if (result == static_cast<int32_t>(platform::ERROR_GEN_FAILURE) &&
                !m_bPortLost.exchange(true)) {
                platform::PostThreadMessage(m_dwNotifyThread, m_nNotifyMsg, LINK_GONE,
                                            m_lNotifyParam);
            }
        }
        return true;
    };
    if (startWait()) {
        while (platform::WaitForAny(handles, INFINITE) == platform::WAIT_OBJECT_0 + 1) {
            const uint16_t events = TakeEvent();
            uint32_t errors = 0;
            const auto port = m_hPort.Get();
            if (!port) {
                SetResult(platform::ERROR_INVALID_HANDLE);
            } else if (!port->ClearCommError(&errors)) {
                RecordError();
                errors = 0;
            }
            // An empty set comes when the mask changed during the wait.
            if (events != 0) {
                platform::PostThreadMessage(m_dwNotifyThread, m_nNotifyMsg,
                                            platform::MAKEWPARAM(events, errors & 0xFFFF),
                                            m_lNotifyParam);
            }
            if (!startWait()) {
                break;
            }
        }
    }
    // The block lives on this stack: no wait may stay pending on it.
    if (const auto port = m_hPort.Get()) {
        port->CancelIo(&block);
    }
    return exitCode;
}

int32_t CSerialWnd::Close() {
    if (m_hListener) {
        m_hevtStop->Set();
        m_hListener->Join(INFINITE);
    }
    m_bPortLost = false;
    m_hevtStop.reset();
    m_hevtComm.reset();
    m_hListener.reset();
    m_dwNotifyThread = 0;
    m_nNotifyMsg = 0;
    m_lNotifyParam = 0;
    return CSerial::Close();
}

// ---------------------------------------------------------------- CSerialLoader

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
    m_nStatus = m_pReply ? LINK_OK : LINK_NO_MEMORY;
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
    return m_replies.Take(m_pReply.get()) >= 0 ? m_pReply.get() : nullptr;
}

int32_t CSerialLoader::SendCommand(int8_t cCode, const char* pPayload, int32_t nLength,
                                   uint32_t dwTimeout) {
    // No purge: the input may hold a reply on its way, and only the client
    // can tell whether it is still of use.
    uint8_t frame[COMMAND_FRAME_SIZE];
    const int32_t size = BuildFrame(cCode, pPayload, nLength, frame);
    if (size == LINK_BAD_FRAME) {
        return LINK_BAD_FRAME;
    }
    m_cLastCommand = cCode;

    // Traced before it goes out, so that its reply never comes first in the trace.
    Trace([&](LinkTrace& trace) {
        trace.Frame(TraceDirection::Sent, frame, static_cast<size_t>(size), "");
    });
    uint32_t written = 0;
    Write(frame, static_cast<uint32_t>(size), &written, nullptr, dwTimeout);
    if (written != static_cast<uint32_t>(size)) {
        Trace([&](LinkTrace& trace) {
            trace.Note("only " + std::to_string(written) + " bytes of that command went out");
        });
    }
    return static_cast<int32_t>(written);
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
    if (opened != 0 && opened != kAlreadyOpen) {
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
                                         code == READ_CODE ? READ_REPLY_SIZE : 0,
                                         READ_REPLY_SIZE - 7};
    const uint16_t codeWord = static_cast<uint16_t>(code);
    for (;;) {
        uint32_t skipped = 0;
        int32_t length = 0;
        const std::optional<ReplyFramer::Frame> frame = m_framer.Next(
            expected, platform::TickCount(), m_nReplyGapMs.load(),
            [&](const uint8_t* bytes, int32_t count) {
                length = ParseReply(code, bytes, count, payload, capacity);
                return length >= 0 && length != LINK_BAD_FRAME && length != LINK_BAD_CHECKSUM;
            },
            &skipped);
        if (skipped > 0) {
            Trace([&](LinkTrace& trace) {
                trace.Note(std::to_string(skipped) + " bytes outside any reply frame, skipped");
            });
        }
        if (!frame) {
            return;
        }
        const bool good = frame->good && !frame->suspect && m_pReply;
        Trace([&](LinkTrace& trace) {
            const char* remark = good             ? ""
                                 : frame->suspect ? "hit by line errors, rejected"
                                 : !frame->good && length == LINK_BAD_CHECKSUM
                                     ? "bad checksum, rejected"
                                     : "damaged or cut short, rejected";
            trace.Frame(TraceDirection::Received, frame->bytes, static_cast<size_t>(frame->length),
                        remark);
        });
        if (!good) {
            platform::PostThreadMessage(m_dwClientThread, m_nClientMsg,
                                        platform::MAKEWPARAM(LINK_REJECTED, codeWord), 0);
            continue;
        }
        // Frames can come faster than the client takes them: each waits in
        // its slot until the client takes it on its notification.
        if (!m_replies.Push(payload, length)) {
            Trace([](LinkTrace& trace) { trace.Note("the client takes no replies; one dropped"); });
            continue;
        }
        if (!platform::PostThreadMessage(
                m_dwClientThread, m_nClientMsg,
                platform::MAKEWPARAM(LINK_REPLY, static_cast<uint16_t>(length)), code)) {
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
