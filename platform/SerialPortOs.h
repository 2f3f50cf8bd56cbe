#pragma once
// Internal to the platform layers: the device calls SerialPort needs from the
// system. SerialPort.cpp keeps the Win32 behaviour (pending operations and
// their completion, time-outs, the receive queue that spots the event
// character, purge, error numbers) and asks the device only to move bytes that
// are ready now and to sleep until more are; SerialPort_linux.cpp implements
// that over a tty.
//
// Windows has that behaviour in its comm API, but not every driver keeps it
// (Wine on a pseudo-terminal reports no events and lets a "return at once"
// read wait), so Windows keeps SerialPort.cpp too and SerialPort_windows.cpp
// implements SerialDevice over the comm API: one behaviour on every system.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Errors.h"
#include "platform/SerialPort.h"

namespace platform::detail {

// What WaitReady watches for and what it found.
constexpr unsigned kReadable = 1;
constexpr unsigned kWritable = 2;
constexpr unsigned kBroken = 4;  // hung up, unplugged, or the wait itself failed

// How a read or write that does not wait went.
struct Transfer {
    size_t count = 0;                // bytes moved
    uint32_t error = ERROR_SUCCESS;  // why a write stopped short, other than a full buffer
    bool gone = false;               // the device went away; nothing more will move
};

// One open device. SerialPort calls it under its lock, except WaitReady, which
// only its watcher calls, and Wake, which may come from any thread.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;  // releases the device

    // Line settings and modem lines as the block asks; the block passed
    // IsValidDcb (SerialSettings.h). ERROR_INVALID_PARAMETER for what this
    // system cannot set (a speed it has no code for), else ERROR_SUCCESS or the
    // system's error.
    virtual uint32_t Apply(const DCB& dcb) = 0;

    // Up to size received bytes; a count of 0 when none are waiting.
    virtual Transfer Read(uint8_t* data, size_t size) = 0;
    // As much of data as the driver takes now.
    virtual Transfer Write(const uint8_t* data, size_t size) = 0;

    // The CE_ flags of the line errors the driver counted since the last call;
    // 0 where it counts none.
    virtual uint32_t TakeLineErrors() = 0;

    // Drops what the driver holds to send (output) and what it received
    // (input), in that order, stopping at the first failure.
    virtual uint32_t Purge(bool output, bool input) = 0;

    // Sleeps until the device is ready for what watch asks (kReadable,
    // kWritable, kBroken; 0 watches nothing), Wake is called, or timeoutMs
    // runs out (-1: no limit). What it found; 0 after a wake-up or time-out.
    virtual unsigned WaitReady(unsigned watch, int timeoutMs) = 0;
    // Ends the WaitReady in progress or, when none is, the next one.
    virtual void Wake() = 0;
};

// Opens a "COMn" name or a device path exclusively, in raw mode, and reads its
// settings into *settings. Null, with LastError() set, on failure.
std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& name, DCB* settings);

}  // namespace platform::detail
