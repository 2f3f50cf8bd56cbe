#include "platform/SerialSettings.h"

namespace platform {

bool IsValidDcb(const DCB& dcb) {
    return dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY &&
           dcb.StopBits <= TWOSTOPBITS && (dcb.StopBits != ONE5STOPBITS || dcb.ByteSize == 5) &&
           (dcb.StopBits != TWOSTOPBITS || dcb.ByteSize != 5) &&
           dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE && dcb.fRtsControl <= RTS_CONTROL_HANDSHAKE;
}

ReadRule ReadRuleFor(const COMMTIMEOUTS& t, uint32_t size) {
    ReadRule rule;
    rule.atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                  t.ReadTotalTimeoutConstant == 0;
    rule.endsAtFirstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    if (rule.endsAtFirstByte) {
        rule.total = t.ReadTotalTimeoutConstant;
    } else {
        // In 64 bits: a product that wrapped to 0 would mean no limit at all.
        rule.total = uint64_t{t.ReadTotalTimeoutMultiplier} * size + t.ReadTotalTimeoutConstant;
        rule.interval = t.ReadIntervalTimeout != MAXDWORD ? t.ReadIntervalTimeout : 0;
    }
    return rule;
}

}  // namespace platform
