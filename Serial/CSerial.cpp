#include "Serial/CSerial.h"

#include <cstring>

#include "Serial/FrameFormat.h"
#include "platform/Check.h"
#include "platform/Errors.h"

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
          SetLineSettings(frame::kLineBaud, frame::kDataBits, platform::NOPARITY,
                          platform::ONESTOPBIT),
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
