#pragma once
// The rules of a serial port's settings that need no device, the same on every
// system: which control blocks Win32 accepts, and when the read time-outs end
// a read.

#include <cstdint>

#include "platform/SerialPort.h"

namespace platform {

// False for a block Win32 rejects: a byte size outside 5 to 8, an unknown
// parity, stop bit, DTR or RTS value, 1.5 stop bits without 5 data bits or 2
// with them. Which speeds exist is up to the system.
bool IsValidDcb(const DCB& dcb);

// When a read of size bytes ends, under the time-outs in force as it starts.
struct ReadRule {
    bool atOnce = false;           // with what is there, even nothing
    bool endsAtFirstByte = false;  // at the first byte, or at total without one
    uint64_t total = 0;            // milliseconds after the start; 0: no limit
    uint32_t interval = 0;         // longest gap between bytes once one came; 0: no limit
};
ReadRule ReadRuleFor(const COMMTIMEOUTS& timeouts, uint32_t size);

}  // namespace platform
