// The device calls of SerialPort over the Win32 comm API. The behaviour the
// program relies on (pending operations, time-outs, the event character,
// purge, error numbers) stays in SerialPort.cpp, as on Linux: a COM port is
// opened for overlapped I/O, read for what the driver holds, and
// WaitCommEvent tells when bytes came.
//
// Writes do not wait for the line. A driver completes a write only once the
// bytes are on the line, or, under Wine, once the far end made room for them;
// waiting for that under SerialPort's lock would stall the port for as long
// (for ever, if the far end waits for the writer). So, as a tty does, the
// device takes bytes into a buffer of its own and sends them in the
// background; the watcher, waking when a send completes, passes on more.
// Closing lets the taken bytes leave first, as a tty does.
//
// Wine on a pseudo-terminal (the virtual reader) departs from Windows in two
// ways this file copes with, without giving up what Windows does:
// - WaitCommEvent ends at once, aborted, with no event: the driver cannot
//   read the modem lines of a pseudo-terminal. Nobody here cancels that wait,
//   so an aborted wait means the device reports no events, and the port is
//   then asked for bytes every few milliseconds instead.
// - A read with the "return at once" time-outs stays pending when no byte is
//   there. Reads therefore ask only for the bytes the driver says it holds.
// Wine also lets a second handle open a port that is open, which Windows
// refuses with ERROR_ACCESS_DENIED; nothing here makes up for that.

#include "platform/Errors.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPortOs.h"

// After our headers: windows.h defines many of their names as macros.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

namespace platform {
namespace {

// Where the device reports events, a wait for them also asks the port this
// often, in case one is missed; where it reports none, the port is asked
// this often instead, a small share of a reply's time on the line.
constexpr DWORD kAskEveryMs = 20;
constexpr DWORD kPollEveryMs = 2;

// The bytes taken to send, as much as a serial driver's transmit buffer.
constexpr DWORD kSendBuffer = 4096;
// Closing waits for the taken bytes this long beyond their time on the line.
constexpr ULONGLONG kCloseSpareMs = 1000;

// Errors of a device that went away: a USB adapter pulled out.
bool IsGone(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
           error == ERROR_GEN_FAILURE || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_HANDLE;
}

detail::Transfer Failed(DWORD error) {
    detail::Transfer t;
    t.gone = IsGone(error);
    t.error = error;
    return t;
}

class CommPort final : public detail::SerialDevice {
  public:
    CommPort(HANDLE port, HANDLE io, HANDLE comm, HANDLE sent, HANDLE wake, DWORD baud)
        : port_(port), io_(io), comm_(comm), sent_(sent), wake_(wake), baud_(baud) {}

    ~CommPort() override {
        // Nobody else calls in now. The send runs on from this thread:
        // Windows cancels the writes of a thread that ends, the watcher's too.
        std::lock_guard<std::mutex> lock(sendLock_);
        const ULONGLONG end = ::GetTickCount64() + LineTimeMs(held_) + kCloseSpareMs;
        for (;;) {
            Collect();
            Send();
            const ULONGLONG now = ::GetTickCount64();
            if (!sending_ || now >= end) {
                break;
            }
            ::WaitForSingleObject(sent_, static_cast<DWORD>(end - now));
        }
        // Whichever thread started them.
        ::CancelIoEx(port_, nullptr);
        DWORD ignored = 0;
        if (waiting_) {
            ::GetOverlappedResult(port_, &wait_, &ignored, TRUE);
        }
        if (sending_) {
            ::GetOverlappedResult(port_, &send_, &ignored, TRUE);
        }
        for (HANDLE h : {port_, io_, comm_, sent_, wake_}) {
            ::CloseHandle(h);
        }
    }

    uint32_t Apply(const DCB& dcb) override {
        ::DCB native{};
        native.DCBlength = sizeof native;
        if (!::GetCommState(port_, &native)) {
            return ::GetLastError();
        }
        native.BaudRate = dcb.BaudRate;
        native.ByteSize = dcb.ByteSize;
        native.Parity = dcb.Parity;
        native.StopBits = dcb.StopBits;
        native.fBinary = TRUE;
        native.fParity = dcb.fParity;
        native.fOutxCtsFlow = dcb.fOutxCtsFlow;
        native.fOutxDsrFlow = dcb.fOutxDsrFlow;
        native.fDtrControl = dcb.fDtrControl;
        native.fRtsControl = dcb.fRtsControl;
        native.fOutX = dcb.fOutX;
        native.fInX = dcb.fInX;
        native.EvtChar = static_cast<char>(dcb.EvtChar);
        if (!::SetCommState(port_, &native)) {
            return ::GetLastError();
        }
        baud_ = dcb.BaudRate;
        return ERROR_SUCCESS;
    }

    detail::Transfer Read(uint8_t* data, size_t size) override {
        COMSTAT status{};
        if (!QueryStatus(&status)) {
            return Failed(::GetLastError());
        }
        if (status.cbInQue == 0) {
            return {};
        }
        // Not more than is there, so the read ends at once, and is waited for.
        OVERLAPPED o{};
        o.hEvent = io_;
        ::ResetEvent(io_);
        DWORD moved = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, status.cbInQue));
        if (!::ReadFile(port_, data, want, &moved, &o)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) {
                return Failed(error);
            }
            if (!::GetOverlappedResult(port_, &o, &moved, TRUE)) {
                return Failed(::GetLastError());
            }
        }
        detail::Transfer t;
        t.count = moved;
        return t;
    }

    detail::Transfer Write(const uint8_t* data, size_t size) override {
        std::lock_guard<std::mutex> lock(sendLock_);
        Collect();
        const DWORD taken = static_cast<DWORD>(std::min<size_t>(size, kSendBuffer - held_));
        if (sendError_ == ERROR_SUCCESS && taken > 0) {
            std::memcpy(buffer_ + held_, data, taken);
            held_ += taken;
            Send();
        }
        if (sendError_ != ERROR_SUCCESS) {
            return Failed(std::exchange(sendError_, ERROR_SUCCESS));
        }
        if (sending_) {
            ::SetEvent(wake_);  // so the watcher waits for the send and passes on the rest
        }
        detail::Transfer t;
        t.count = taken;
        return t;
    }

    uint32_t TakeLineErrors() override {
        COMSTAT status{};
        QueryStatus(&status);
        return lineErrors_.exchange(0) &
               (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
    }

    uint32_t Purge(bool output, bool input) override {
        if (output) {
            std::lock_guard<std::mutex> lock(sendLock_);
            if (sending_) {
                // PURGE_TXABORT ends it on Windows; Wine only empties the tty.
                ::CancelIoEx(port_, &send_);
                DWORD ignored = 0;
                ::GetOverlappedResult(port_, &send_, &ignored, TRUE);
                sending_ = false;
            }
            held_ = 0;
            if (!::PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR)) {
                return ::GetLastError();
            }
        }
        if (input && !::PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR)) {
            return ::GetLastError();
        }
        return ERROR_SUCCESS;
    }

    unsigned WaitReady(unsigned watch, int timeoutMs) override {
        const unsigned now = Ready(watch);
        if (now != 0) {
            return now;
        }
        if ((watch & detail::kReadable) != 0 && reportsEvents_ && !waiting_) {
            ::ResetEvent(comm_);
            wait_ = OVERLAPPED{};
            wait_.hEvent = comm_;
            if (::WaitCommEvent(port_, &events_, &wait_)) {
                return Ready(watch);
            }
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) {
                return EventWaitFailed(error, watch);
            }
            waiting_ = true;
        }
        HANDLE handles[3] = {wake_};
        DWORD count = 1;
        if (waiting_) {
            handles[count++] = comm_;
        }
        if (Sending()) {
            handles[count++] = sent_;  // when it ends, the next bytes go
        }
        const DWORD askEvery = reportsEvents_ ? kAskEveryMs : kPollEveryMs;
        const DWORD limit =
            timeoutMs < 0 ? askEvery : std::min<DWORD>(static_cast<DWORD>(timeoutMs), askEvery);
        const DWORD woken = ::WaitForMultipleObjects(count, handles, FALSE, limit);
        if (woken == WAIT_OBJECT_0) {
            ::ResetEvent(wake_);
            return 0;
        }
        if (woken < WAIT_OBJECT_0 + count && handles[woken - WAIT_OBJECT_0] == comm_) {
            waiting_ = false;
            DWORD ignored = 0;
            if (!::GetOverlappedResult(port_, &wait_, &ignored, FALSE)) {
                return EventWaitFailed(::GetLastError(), watch);
            }
        }
        return Ready(watch);
    }

    void Wake() override { ::SetEvent(wake_); }

  private:
    // How long count bytes take on the line: ten bits each.
    ULONGLONG LineTimeMs(DWORD count) const {
        return ULONGLONG{count} * 10 * 1000 / std::max<DWORD>(baud_, 1);
    }

    // Under sendLock_: takes the end of the send in progress, if it ended.
    // Sent bytes leave the buffer. A send cancelled by nobody here was
    // cancelled by Windows because the thread that started it ended: the
    // bytes it did not send go again.
    void Collect() {
        if (!sending_ || !HasOverlappedIoCompleted(&send_)) {
            return;
        }
        sending_ = false;
        DWORD moved = 0;
        const bool ok = ::GetOverlappedResult(port_, &send_, &moved, FALSE);
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        moved = std::min(moved, held_);
        std::memmove(buffer_, buffer_ + moved, held_ - moved);
        held_ -= moved;
        if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
            sendError_ = error;
            held_ = 0;
        }
    }

    // Under sendLock_: starts sending the held bytes unless a send is in
    // progress. A send that ends at once is collected at once.
    void Send() {
        if (sending_ || held_ == 0 || sendError_ != ERROR_SUCCESS) {
            return;
        }
        ::ResetEvent(sent_);
        send_ = OVERLAPPED{};
        send_.hEvent = sent_;
        DWORD moved = 0;
        if (!::WriteFile(port_, buffer_, held_, &moved, &send_) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            sendError_ = ::GetLastError();
            held_ = 0;
            return;
        }
        sending_ = true;
        Collect();
    }

    bool Sending() {
        std::lock_guard<std::mutex> lock(sendLock_);
        return sending_;
    }

    // What the driver holds. The line errors the query takes are kept for
    // TakeLineErrors, whoever asked.
    bool QueryStatus(COMSTAT* status) {
        DWORD errors = 0;
        if (!::ClearCommError(port_, &errors, status)) {
            return false;
        }
        lineErrors_ |= errors;
        return true;
    }

    // A wait for events that failed: the device went away, or it cannot
    // report events and is asked for bytes from now on. Either way what the
    // port holds now tells.
    unsigned EventWaitFailed(DWORD error, unsigned watch) {
        if (error == ERROR_OPERATION_ABORTED) {
            reportsEvents_ = false;
        } else if (IsGone(error)) {
            return detail::kBroken & watch;
        }
        return Ready(watch);
    }

    // What is ready now: bytes the driver holds, room to take bytes to send,
    // or a device that went away. Moves the send on first.
    unsigned Ready(unsigned watch) {
        unsigned found = 0;
        {
            std::lock_guard<std::mutex> lock(sendLock_);
            Collect();
            Send();
            found |= held_ < kSendBuffer ? watch & detail::kWritable : 0;
            found |= IsGone(sendError_) ? watch & detail::kBroken : 0;
        }
        COMSTAT status{};
        if (!QueryStatus(&status)) {
            return IsGone(::GetLastError()) ? found | (watch & detail::kBroken) : found;
        }
        if ((watch & detail::kReadable) != 0 && status.cbInQue > 0) {
            found |= detail::kReadable;
        }
        return found;
    }

    HANDLE port_;
    HANDLE io_;    // for reads
    HANDLE comm_;  // for WaitCommEvent
    HANDLE sent_;  // for the send in progress
    HANDLE wake_;
    // The watcher's alone.
    OVERLAPPED wait_{};
    DWORD events_ = 0;
    bool waiting_ = false;       // a WaitCommEvent is pending on wait_
    bool reportsEvents_ = true;  // until a wait for them came back aborted
    // CE_ flags a status query took before TakeLineErrors; the watcher's
    // queries run outside SerialPort's lock.
    std::atomic<DWORD> lineErrors_{0};
    // The bytes taken to send, from Write under SerialPort's lock and from
    // the watcher outside it.
    std::mutex sendLock_;
    uint8_t buffer_[kSendBuffer];
    DWORD held_ = 0;        // bytes in buffer_; the send in progress has the first ones
    bool sending_ = false;  // a WriteFile of buffer_ is pending on send_
    OVERLAPPED send_{};
    DWORD sendError_ = ERROR_SUCCESS;  // why the last send failed, for the next Write
    DWORD baud_;                       // the line's speed, for how long closing waits
};

std::unique_ptr<detail::SerialDevice> FailOpen(DWORD error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace

std::unique_ptr<detail::SerialDevice> detail::OpenSerialDevice(const std::string& name,
                                                               DCB* settings) {
    const int number = ComPortNumber(name);
    const std::string path =
        number != 0 ? "\\\\.\\COM" + std::to_string(number) : name;  // a device path as given
    // Not shared: a second opener gets ERROR_ACCESS_DENIED, the "busy" of Win32.
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return FailOpen(error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error);
    }
    ::DCB native{};
    native.DCBlength = sizeof native;
    // Reads return at once with what the driver holds; writes do not time out.
    ::COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    HANDLE events[4] = {};
    for (HANDLE& e : events) {
        e = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (!::GetCommState(port, &native) || !::SetCommTimeouts(port, &timeouts) ||
        !::SetCommMask(port, EV_RXCHAR | EV_ERR | EV_BREAK) ||
        std::find(std::begin(events), std::end(events), nullptr) != std::end(events)) {
        const DWORD error = ::GetLastError();
        for (HANDLE e : events) {
            if (e) {
                ::CloseHandle(e);
            }
        }
        ::CloseHandle(port);
        return FailOpen(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
    }
    settings->BaudRate = native.BaudRate;
    settings->ByteSize = native.ByteSize;
    settings->Parity = native.Parity;
    settings->StopBits = native.StopBits;
    settings->fParity = native.fParity;
    settings->fOutxCtsFlow = native.fOutxCtsFlow;
    settings->fOutxDsrFlow = native.fOutxDsrFlow;
    settings->fDtrControl = static_cast<uint8_t>(native.fDtrControl);
    settings->fRtsControl = static_cast<uint8_t>(native.fRtsControl);
    settings->fOutX = native.fOutX;
    settings->fInX = native.fInX;
    settings->EvtChar = static_cast<uint8_t>(native.EvtChar);
    return std::make_unique<CommPort>(port, events[0], events[1], events[2], events[3],
                                      native.BaudRate);
}

}  // namespace platform
