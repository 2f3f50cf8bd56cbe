// The device calls of SerialPort over a Linux tty: termios for the line,
// TIOCGICOUNT for line errors, poll with an eventfd to sleep and be woken.

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/Errors.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPortOs.h"

namespace platform {
namespace {

constexpr unsigned kPseudoTerminalMajor = 136;  // Unix98 pty slaves: 136 to 143

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

DCB DcbFromTermios(const termios& t) {
    DCB dcb;
    const speed_t code = cfgetospeed(&t);
    const Speed* speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                      [&](const Speed& s) { return s.code == code; });
    if (speed != std::end(kSpeeds)) {
        dcb.BaudRate = speed->baud;
    }
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = (t.c_cflag & PARODD) != 0;
        dcb.Parity = (t.c_cflag & CMSPAR) ? (odd ? MARKPARITY : SPACEPARITY)
                                          : (odd ? ODDPARITY : EVENPARITY);
    }
    dcb.fParity = (t.c_iflag & INPCK) != 0;
    dcb.StopBits =
        (t.c_cflag & CSTOPB) ? (dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    dcb.fRtsControl = dcb.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = (t.c_iflag & IXON) != 0;
    dcb.fInX = (t.c_iflag & IXOFF) != 0;
    return dcb;
}

// The termios form of a valid control block; false for a speed termios has no
// code for.
bool TermiosFromDcb(const DCB& dcb, termios* t) {
    const Speed* speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                      [&](const Speed& s) { return s.baud == dcb.BaudRate; });
    if (speed == std::end(kSpeeds)) {
        return false;
    }
    cfsetispeed(t, speed->code);
    cfsetospeed(t, speed->code);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t->c_cflag |= kSizes[dcb.ByteSize - 5] | CLOCAL | CREAD;
    switch (dcb.Parity) {
        case ODDPARITY:
            t->c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t->c_cflag |= PARENB;
            break;
        case MARKPARITY:
            t->c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            t->c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (dcb.StopBits != ONESTOPBIT) {
        t->c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        t->c_cflag |= CRTSCTS;
    }
    t->c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | PARMRK | ISTRIP | IGNPAR);
    if (dcb.fParity) {
        t->c_iflag |= INPCK;
    }
    if (dcb.fOutX) {
        t->c_iflag |= IXON;
    }
    if (dcb.fInX) {
        t->c_iflag |= IXOFF;
    }
    return true;
}

// DTR and RTS as the control block asks. A pseudo-terminal has no modem lines,
// so failures are not errors of the port.
void SetModemLines(int fd, const DCB& dcb) {
    int dtr = TIOCM_DTR;
    ioctl(fd, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
    int rts = TIOCM_RTS;
    ioctl(fd, dcb.fRtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &rts);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

class Tty final : public detail::SerialDevice {
  public:
    Tty(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {
        struct stat st {};
        hasLine_ = !(fstat(fd_, &st) == 0 && major(st.st_rdev) >= kPseudoTerminalMajor &&
                     major(st.st_rdev) < kPseudoTerminalMajor + 8);
        countersWork_ = ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
    }

    ~Tty() override {
        ioctl(fd_, TIOCNXCL);  // the flag would outlive us while others hold the device
        close(fd_);
        close(wakeFd_);
    }

    uint32_t Apply(const DCB& dcb) override {
        termios t;
        if (tcgetattr(fd_, &t) != 0) {
            return ErrorFromErrno(errno);
        }
        const tcflag_t lineSettings = t.c_cflag;
        if (!TermiosFromDcb(dcb, &t)) {
            return ERROR_INVALID_PARAMETER;
        }
        if (!hasLine_) {
            t.c_cflag = lineSettings;  // the pseudo-terminal driver would refuse them
        }
        if (tcsetattr(fd_, TCSANOW, &t) != 0) {
            return ErrorFromErrno(errno);
        }
        if (hasLine_) {
            SetModemLines(fd_, dcb);
        }
        return ERROR_SUCCESS;
    }

    detail::Transfer Read(uint8_t* data, size_t size) override {
        for (;;) {
            const ssize_t n = ::read(fd_, data, size);
            if (n >= 0) {
                return {static_cast<size_t>(n)};
            }
            if (errno == EAGAIN) {
                return {};
            }
            if (errno != EINTR) {
                return {0, ERROR_SUCCESS, true};
            }
        }
    }

    detail::Transfer Write(const uint8_t* data, size_t size) override {
        detail::Transfer sent;
        while (sent.count < size) {
            const ssize_t n = ::write(fd_, data + sent.count, size - sent.count);
            if (n > 0) {
                sent.count += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                break;
            } else if (n < 0 && errno == EIO) {
                sent.gone = true;  // the other end hung up
                break;
            } else if (n < 0 && errno != EINTR) {
                sent.error = ErrorFromErrno(errno);
                break;
            }
        }
        return sent;
    }

    uint32_t TakeLineErrors() override {
        serial_icounter_struct now{};
        if (!countersWork_ || ioctl(fd_, TIOCGICOUNT, &now) != 0) {
            return 0;
        }
        uint32_t found = 0;
        found |= now.frame != counters_.frame ? CE_FRAME : 0;
        found |= now.overrun != counters_.overrun ? CE_OVERRUN : 0;
        found |= now.parity != counters_.parity ? CE_RXPARITY : 0;
        found |= now.buf_overrun != counters_.buf_overrun ? CE_RXOVER : 0;
        found |= now.brk != counters_.brk ? CE_BREAK : 0;
        counters_ = now;
        return found;
    }

    uint32_t Purge(bool output, bool input) override {
        if (output && tcflush(fd_, TCOFLUSH) != 0) {
            return ErrorFromErrno(errno);
        }
        if (input && tcflush(fd_, TCIFLUSH) != 0) {
            return ErrorFromErrno(errno);
        }
        return ERROR_SUCCESS;
    }

    unsigned WaitReady(unsigned watch, int timeoutMs) override {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {watch != 0 ? fd_ : -1, 0, 0}};
        if (watch & detail::kReadable) {
            fds[1].events |= POLLIN;
        }
        if (watch & detail::kWritable) {
            fds[1].events |= POLLOUT;
        }
        if (poll(fds, 2, timeoutMs) < 0) {
            return errno == EINTR ? 0 : detail::kBroken;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        unsigned found = 0;
        found |= (fds[1].revents & POLLIN) ? detail::kReadable : 0;
        found |= (fds[1].revents & POLLOUT) ? detail::kWritable : 0;
        found |= (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) ? detail::kBroken : 0;
        return found;
    }

    void Wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }

  private:
    const int fd_;
    const int wakeFd_;
    bool hasLine_;  // false for a pseudo-terminal: no speed, framing or modem lines
    bool countersWork_;
    serial_icounter_struct counters_{};
};

std::unique_ptr<detail::SerialDevice> FailOpen(uint32_t error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace

std::unique_ptr<detail::SerialDevice> detail::OpenSerialDevice(const std::string& name,
                                                               DCB* settings) {
    const std::string path = name.starts_with('/') ? name : ResolveComPort(name);
    if (path.empty()) {
        return FailOpen(ERROR_FILE_NOT_FOUND);
    }
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        return FailOpen(ErrorFromErrno(errno));
    }
    termios t;
    if (tcgetattr(fd.Get(), &t) != 0) {
        return FailOpen(ErrorFromErrno(errno));  // not a terminal
    }
    // TIOCEXCL keeps others out, but not root; the lock keeps out everyone who
    // opens the port through this class.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ioctl(fd.Get(), TIOCEXCL) != 0) {
        return FailOpen(ErrorFromErrno(errno));
    }
    *settings = DcbFromTermios(t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd.Get(), TCSANOW, &t) != 0) {
        const int err = errno;
        ioctl(fd.Get(), TIOCNXCL);
        return FailOpen(ErrorFromErrno(err));
    }
    FileDescriptor wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (wake.Get() < 0) {
        const int err = errno;
        ioctl(fd.Get(), TIOCNXCL);
        return FailOpen(ErrorFromErrno(err));
    }
    return std::make_unique<Tty>(fd.Release(), wake.Release());
}

}  // namespace platform
