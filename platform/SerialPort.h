#pragma once
// A serial device that behaves like a Win32 COM port opened for overlapped I/O,
// as far as the program uses one:
// - exclusive open (a second open gives ERROR_ACCESS_DENIED), raw mode;
// - the device control block (speed, byte size, parity and its check, stop
//   bits, CTS/DSR/DTR/RTS and XON/XOFF flow control, event character);
// - read time-outs: MAXDWORD interval with zero totals returns at once with
//   whatever is there; all zero waits until the count has come; the other
//   combinations as Win32 defines them; write total time-outs;
// - an event mask with EV_RXCHAR, EV_RXFLAG (the event character came),
//   EV_BREAK and EV_ERR; events that come while no wait is pending are kept
//   for the next wait; changing the mask completes a pending wait with an
//   empty event set;
// - line error flags (CE_) where the driver counts them (a pseudo-terminal
//   counts none, so InjectLineErrors stands in for tests);
// - on a pseudo-terminal, which has no line, the speed, byte size, parity,
//   stop bits and modem lines live in the control block only;
// - purge of both buffers; cancelling of pending operations.
//
// Every operation that may take time is overlapped: it either completes at
// once (true), fails (false, LastError() not ERROR_IO_PENDING) or stays
// pending (false, ERROR_IO_PENDING) until a watcher thread completes it and
// sets the control block's event. The watcher fills a software receive queue
// (needed to see the event character) and sleeps until the device or a caller
// wakes it, so an idle port costs no processor time.
//
// When the device hangs up or goes away, pending operations complete with
// ERROR_GEN_FAILURE and every later call fails with it. After Close every call
// fails with ERROR_INVALID_HANDLE.
//
// The behaviour above lives in SerialPort.cpp; the device calls in one file per
// system, behind SerialPortOs.h.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"

namespace platform {

namespace detail {
class SerialDevice;
}

constexpr uint32_t MAXDWORD = 0xFFFFFFFF;
constexpr uint32_t STATUS_PENDING = 259;

// Event mask bits.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;

// Line error flags.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;

// PurgeComm flags.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

constexpr uint8_t NOPARITY = 0;
constexpr uint8_t ODDPARITY = 1;
constexpr uint8_t EVENPARITY = 2;
constexpr uint8_t MARKPARITY = 3;
constexpr uint8_t SPACEPARITY = 4;
constexpr uint8_t ONESTOPBIT = 0;
constexpr uint8_t ONE5STOPBITS = 1;  // only with 5 data bits
constexpr uint8_t TWOSTOPBITS = 2;
constexpr uint8_t DTR_CONTROL_DISABLE = 0;
constexpr uint8_t DTR_CONTROL_ENABLE = 1;
constexpr uint8_t DTR_CONTROL_HANDSHAKE = 2;
constexpr uint8_t RTS_CONTROL_DISABLE = 0;
constexpr uint8_t RTS_CONTROL_ENABLE = 1;
constexpr uint8_t RTS_CONTROL_HANDSHAKE = 2;

// The device control block: the fields the program reads or writes.
struct DCB {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    uint8_t Parity = NOPARITY;
    uint8_t StopBits = ONESTOPBIT;
    bool fParity = false;  // check parity of received bytes
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;  // kept, but Linux has no DSR flow control to apply
    uint8_t fDtrControl = DTR_CONTROL_DISABLE;
    uint8_t fRtsControl = RTS_CONTROL_DISABLE;
    bool fOutX = false;
    bool fInX = false;
    uint8_t EvtChar = 0;
};

struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// The control block of one overlapped operation. It and its buffers must stay
// valid until the operation completed or was cancelled.
struct Overlapped {
    std::atomic<uint32_t> Internal{0};      // STATUS_PENDING, then the Win32 result
    std::atomic<uint32_t> InternalHigh{0};  // bytes transferred
    Event* hEvent = nullptr;                // reset at the start, set at completion
};

inline bool HasOverlappedIoCompleted(const Overlapped* overlapped) {
    return overlapped->Internal.load() != STATUS_PENDING;
}

// The result of an operation that went pending. With wait, blocks on the
// block's event until it completed; without, fails with ERROR_IO_INCOMPLETE
// while it is still pending.
bool GetOverlappedResult(Overlapped* overlapped, uint32_t* transferred, bool wait);

class SerialPort {
    struct Key {
        explicit Key() = default;
    };

  public:
    // name: "COMn" (resolved through the port directory) or a device path.
    // Null, with LastError() set, on failure.
    static std::shared_ptr<SerialPort> Open(const std::string& name);

    SerialPort(Key, std::unique_ptr<detail::SerialDevice> device, const DCB& dcb);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Cancels what is pending (ERROR_OPERATION_ABORTED) and releases the
    // device. Later calls fail with ERROR_INVALID_HANDLE.
    void Close();

    // Size of the receive queue, 0 keeping the current one (the transmit side
    // uses the driver's buffer).
    bool SetupComm(uint32_t inQueue, uint32_t outQueue);
    bool GetCommState(DCB* dcb);
    bool SetCommState(const DCB& dcb);
    bool GetCommTimeouts(COMMTIMEOUTS* timeouts);
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts);
    bool GetCommMask(uint32_t* mask);
    bool SetCommMask(uint32_t mask);

    // One wait at a time; the event set lands in *events.
    bool WaitCommEvent(uint32_t* events, Overlapped* overlapped);
    // One read and one write at a time may be pending (else ERROR_BUSY).
    bool ReadFile(void* buffer, uint32_t size, uint32_t* read, Overlapped* overlapped);
    bool WriteFile(const void* data, uint32_t size, uint32_t* written, Overlapped* overlapped);
    // Cancels the pending operations of that block (all when null);
    // ERROR_NOT_FOUND when none was pending.
    bool CancelIo(Overlapped* overlapped);

    // The CE_ flags since the last call, then clears them.
    bool ClearCommError(uint32_t* errors);
    // When the last byte came from the device (TickCount), 0 before the first.
    uint64_t LastReceived() const;
    bool PurgeComm(uint32_t flags);

    // Test seams: line errors as a driver would report them (raising EV_ERR or
    // EV_BREAK), and a one-time failure of the next call of a set-up step of
    // any port.
    enum class SetupStep { SetupComm, SetCommState, SetCommMask };
    void InjectLineErrors(uint32_t errors);
    static void InjectSetupFailure(SetupStep step, uint32_t error);

  private:
    struct PendingWait {
        uint32_t* events;
        Overlapped* overlapped;
    };
    struct PendingRead {
        uint8_t* data;
        uint32_t size;
        uint32_t done;
        Overlapped* overlapped;
        uint64_t deadline;  // 0: none
        uint32_t interval;  // longest gap between bytes once one came; 0: none
        uint64_t lastByte;
        bool endsAtFirstByte;
    };
    struct PendingWrite {
        const uint8_t* data;
        uint32_t size;
        uint32_t done;
        Overlapped* overlapped;
        uint64_t deadline;
    };

    static uint32_t WatcherMain(void* port);
    void Watch();
    uint32_t Unusable() const;
    void Ingest();
    void SampleLineErrors(uint32_t* events);
    void Raise(uint32_t events);
    void TakeReceived(PendingRead& read, uint64_t now);
    bool ReadDone(const PendingRead& read, uint64_t now) const;
    void ProgressWrite();
    void Progress(uint64_t now);
    int NextTimeout(uint64_t now) const;
    void MarkGone();
    // Complete the pending operation and forget it.
    void EndWait(uint32_t status, uint32_t events);
    void EndRead(uint32_t status);
    void EndWrite(uint32_t status);
    bool CancelWhere(Overlapped* overlapped, uint32_t status);  // false when none matched

    size_t RxFree() const { return rx_.size() - rxCount_; }

    mutable std::mutex lock_;
    std::unique_ptr<detail::SerialDevice> device_;  // released by Close
    bool closing_ = false;
    bool gone_ = false;
    std::unique_ptr<Thread> watcher_;

    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    uint32_t mask_ = 0;
    uint32_t history_ = 0;  // masked events that came while no wait was pending
    uint32_t errors_ = 0;
    uint64_t lastReceived_ = 0;

    std::vector<uint8_t> rx_;  // ring buffer of received bytes
    size_t rxHead_ = 0;
    size_t rxCount_ = 0;

    std::optional<PendingWait> wait_;
    std::optional<PendingRead> read_;
    std::optional<PendingWrite> write_;
};

}  // namespace platform
