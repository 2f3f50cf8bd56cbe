// The device calls of SerialPort over the Win32 comm API. The behaviour the
// program relies on (pending operations, time-outs, the event character,
// purge, error numbers) stays in SerialPort.cpp, as on Linux: a COM port is
// opened for overlapped I/O, read for what the driver holds, and
// WaitCommEvent tells when bytes came.
//
// Wine on a pseudo-terminal (the virtual reader) departs from Windows in two
// ways this file copes with, without giving up what Windows does:
// - WaitCommEvent ends at once, aborted, with no event: the driver cannot
//   read the modem lines of a pseudo-terminal. Nobody here cancels that wait,
//   so an aborted wait means the device reports no events, and the port is
//   then asked for bytes every few milliseconds instead.
// - A read with the "return at once" time-outs stays pending when no byte is
//   there. Reads therefore ask only for the bytes the driver says it holds.

#include "platform/Errors.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPortOs.h"

// After our headers: windows.h defines many of their names as macros.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <utility>

namespace platform {
namespace {

// Where the device reports events, a wait for them also asks the port this
// often, in case one is missed; where it reports none, the port is asked
// this often instead, a small share of a reply's time on the line.
constexpr DWORD kAskEveryMs = 20;
constexpr DWORD kPollEveryMs = 2;

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
    CommPort(HANDLE port, HANDLE io, HANDLE comm, HANDLE wake)
        : port_(port), io_(io), comm_(comm), wake_(wake) {}

    ~CommPort() override {
        ::CancelIo(port_);
        if (waiting_) {
            DWORD ignored = 0;
            ::GetOverlappedResult(port_, &wait_, &ignored, TRUE);
        }
        for (HANDLE h : {port_, io_, comm_, wake_}) {
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
        return ::SetCommState(port_, &native) ? ERROR_SUCCESS : ::GetLastError();
    }

    detail::Transfer Read(uint8_t* data, size_t size) override {
        COMSTAT status{};
        DWORD errors = 0;
        if (!::ClearCommError(port_, &errors, &status)) {
            return Failed(::GetLastError());
        }
        lineErrors_ |= errors;
        if (status.cbInQue == 0) {
            return {};
        }
        return Move([&](OVERLAPPED* o, DWORD* moved) {
            return ::ReadFile(port_, data, Chunk(std::min<size_t>(size, status.cbInQue)), moved, o);
        });
    }

    detail::Transfer Write(const uint8_t* data, size_t size) override {
        // Done once the driver holds the bytes, which it takes at once.
        return Move([&](OVERLAPPED* o, DWORD* moved) {
            return ::WriteFile(port_, data, Chunk(size), moved, o);
        });
    }

    uint32_t TakeLineErrors() override {
        DWORD errors = 0;
        COMSTAT status{};
        ::ClearCommError(port_, &errors, &status);
        errors |= std::exchange(lineErrors_, 0);
        return errors & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
    }

    uint32_t Purge(bool output, bool input) override {
        if (output && !::PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR)) {
            return ::GetLastError();
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
        const HANDLE handles[] = {wake_, comm_};
        const DWORD askEvery = reportsEvents_ ? kAskEveryMs : kPollEveryMs;
        const DWORD limit =
            timeoutMs < 0 ? askEvery : std::min<DWORD>(static_cast<DWORD>(timeoutMs), askEvery);
        const DWORD woken = ::WaitForMultipleObjects(waiting_ ? 2 : 1, handles, FALSE, limit);
        if (woken == WAIT_OBJECT_0) {
            ::ResetEvent(wake_);
            return 0;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
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
    static DWORD Chunk(size_t size) { return static_cast<DWORD>(std::min<size_t>(size, 1 << 20)); }

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

    // What is ready now: bytes the driver holds, room to write (always: a
    // write completes into the driver's buffer), or a device that went away.
    unsigned Ready(unsigned watch) {
        unsigned found = watch & detail::kWritable;
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port_, &errors, &status)) {
            return IsGone(::GetLastError()) ? found | (watch & detail::kBroken) : found;
        }
        lineErrors_ |= errors;
        if ((watch & detail::kReadable) != 0 && status.cbInQue > 0) {
            found |= detail::kReadable;
        }
        return found;
    }

    // An overlapped read or write, waited for: both end at once here.
    template <class Call>
    detail::Transfer Move(Call call) {
        OVERLAPPED o{};
        o.hEvent = io_;
        ::ResetEvent(io_);
        DWORD moved = 0;
        if (!call(&o, &moved)) {
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

    HANDLE port_;
    HANDLE io_;    // for reads and writes
    HANDLE comm_;  // for WaitCommEvent
    HANDLE wake_;
    OVERLAPPED wait_{};
    DWORD events_ = 0;
    bool waiting_ = false;       // a WaitCommEvent is pending on wait_
    bool reportsEvents_ = true;  // until a wait for them came back aborted
    DWORD lineErrors_ = 0;       // CE_ flags a status query took before TakeLineErrors
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
    HANDLE events[3] = {};
    for (HANDLE& e : events) {
        e = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (!::GetCommState(port, &native) || !::SetCommTimeouts(port, &timeouts) ||
        !::SetCommMask(port, EV_RXCHAR | EV_ERR | EV_BREAK) || !events[0] || !events[1] ||
        !events[2]) {
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
    return std::make_unique<CommPort>(port, events[0], events[1], events[2]);
}

}  // namespace platform
