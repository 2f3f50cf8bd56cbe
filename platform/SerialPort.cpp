#include "platform/SerialPort.h"

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
#include "platform/Time.h"

namespace platform {
namespace {

constexpr size_t kDefaultQueue = 4096;
constexpr uint32_t kMaxQueue = 1 << 20;
constexpr unsigned kPseudoTerminalMajor = 136;  // Unix98 pty slaves: 136 to 143

std::atomic<uint32_t> g_setupCommFailure{0};

bool Fail(uint32_t error) {
    SetLastError(error);
    return false;
}

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

// The termios form of a control block; false for values Win32 rejects too.
bool TermiosFromDcb(const DCB& dcb, termios* t) {
    const Speed* speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                      [&](const Speed& s) { return s.baud == dcb.BaudRate; });
    if (speed == std::end(kSpeeds) || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
        dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS ||
        (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
        (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) ||
        dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_HANDSHAKE) {
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

void Begin(Overlapped* overlapped) {
    overlapped->InternalHigh.store(0);
    overlapped->Internal.store(STATUS_PENDING);
    if (overlapped->hEvent != nullptr) {
        overlapped->hEvent->Reset();
    }
}

void Complete(Overlapped* overlapped, uint32_t status, uint32_t transferred) {
    overlapped->InternalHigh.store(transferred);
    overlapped->Internal.store(status);
    if (overlapped->hEvent != nullptr) {
        overlapped->hEvent->Set();
    }
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

std::shared_ptr<SerialPort> FailOpen(uint32_t error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace

bool GetOverlappedResult(Overlapped* overlapped, uint32_t* transferred, bool wait) {
    if (overlapped->Internal.load() == STATUS_PENDING) {
        if (!wait || overlapped->hEvent == nullptr) {
            return Fail(ERROR_IO_INCOMPLETE);
        }
        while (overlapped->Internal.load() == STATUS_PENDING) {
            WaitForSingle(*overlapped->hEvent, INFINITE);
        }
    }
    *transferred = overlapped->InternalHigh.load();
    const uint32_t status = overlapped->Internal.load();
    return status == ERROR_SUCCESS || Fail(status);
}

std::shared_ptr<SerialPort> SerialPort::Open(const std::string& name) {
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
    const DCB dcb = DcbFromTermios(t);
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
    auto port = std::make_shared<SerialPort>(Key{}, fd.Release(), wake.Release(), dcb);
    port->watcher_ = Thread::CreateSuspended(WatcherMain, port.get());
    if (!port->watcher_) {
        const uint32_t error = LastError();
        port->Close();
        return FailOpen(error);
    }
    port->watcher_->Resume();
    return port;
}

SerialPort::SerialPort(Key, int fd, int wakeFd, const DCB& dcb)
    : fd_(fd), wakeFd_(wakeFd), dcb_(dcb), rx_(kDefaultQueue) {
    struct stat st {};
    hasLine_ = !(fstat(fd_, &st) == 0 && major(st.st_rdev) >= kPseudoTerminalMajor &&
                 major(st.st_rdev) < kPseudoTerminalMajor + 8);
    serial_icounter_struct counters{};
    countersWork_ = ioctl(fd_, TIOCGICOUNT, &counters) == 0;
    counters_ = {counters.frame, counters.overrun, counters.parity, counters.brk,
                 counters.buf_overrun};
}

SerialPort::~SerialPort() {
    Close();
}

void SerialPort::Close() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (closing_) {
            return;
        }
        closing_ = true;
        CancelWhere(nullptr, ERROR_OPERATION_ABORTED);
    }
    Wake();
    if (watcher_) {
        watcher_->Join(INFINITE);
    }
    ioctl(fd_, TIOCNXCL);  // the flag would outlive us while others hold the device
    close(fd_);
    close(wakeFd_);
}

uint32_t SerialPort::Unusable() const {
    return closing_ ? ERROR_INVALID_HANDLE : gone_ ? ERROR_GEN_FAILURE : ERROR_SUCCESS;
}

void SerialPort::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

uint32_t SerialPort::WatcherMain(void* port) {
    static_cast<SerialPort*>(port)->Watch();
    return 0;
}

void SerialPort::Watch() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!closing_) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {gone_ ? -1 : fd_, 0, 0}};
        if (RxFree() > 0) {
            fds[1].events |= POLLIN;
        }
        if (write_) {
            fds[1].events |= POLLOUT;
        }
        const int timeout = NextTimeout(TickCount());
        lock.unlock();
        const int ready = poll(fds, 2, timeout);
        const int pollError = errno;
        lock.lock();
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
        }
        if (closing_) {
            break;
        }
        if (ready < 0 && pollError != EINTR) {
            MarkGone();  // never spin on a poll that keeps failing
        }
        if (fds[1].revents & POLLIN) {
            Ingest();
        }
        if (fds[1].revents & POLLOUT) {
            ProgressWrite();
        }
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            Ingest();
            MarkGone();
        }
        Progress(TickCount());
    }
}

void SerialPort::Ingest() {
    if (gone_) {
        return;
    }
    uint32_t events = 0;
    bool lost = false;
    uint8_t chunk[512];
    for (;;) {
        const size_t room = std::min(RxFree(), sizeof chunk);
        if (room == 0) {
            break;
        }
        const ssize_t n = read(fd_, chunk, room);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            lost = n < 0 && errno != EAGAIN;
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            rx_[(rxHead_ + rxCount_) % rx_.size()] = chunk[i];
            ++rxCount_;
            events |= EV_RXCHAR;
            if (chunk[i] == dcb_.EvtChar) {
                events |= EV_RXFLAG;
            }
        }
    }
    SampleLineErrors(&events);
    Raise(events);
    if (lost) {
        MarkGone();
    }
}

void SerialPort::SampleLineErrors(uint32_t* events) {
    serial_icounter_struct now{};
    if (!countersWork_ || ioctl(fd_, TIOCGICOUNT, &now) != 0) {
        return;
    }
    uint32_t found = 0;
    found |= now.frame != counters_.frame ? CE_FRAME : 0;
    found |= now.overrun != counters_.overrun ? CE_OVERRUN : 0;
    found |= now.parity != counters_.parity ? CE_RXPARITY : 0;
    found |= now.buf_overrun != counters_.bufOverrun ? CE_RXOVER : 0;
    found |= now.brk != counters_.brk ? CE_BREAK : 0;
    counters_ = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun};
    errors_ |= found;
    if (found & ~CE_BREAK) {
        *events |= EV_ERR;
    }
    if (found & CE_BREAK) {
        *events |= EV_BREAK;
    }
}

void SerialPort::Raise(uint32_t events) {
    events &= mask_;
    if (events == 0) {
        return;
    }
    if (wait_) {
        EndWait(ERROR_SUCCESS, events);
    } else {
        history_ |= events;
    }
}

void SerialPort::MarkGone() {
    if (gone_) {
        return;
    }
    gone_ = true;
    CancelWhere(nullptr, ERROR_GEN_FAILURE);
}

void SerialPort::EndWait(uint32_t status, uint32_t events) {
    *wait_->events = events;
    Complete(wait_->overlapped, status, 0);
    wait_.reset();
}

void SerialPort::EndRead(uint32_t status) {
    Complete(read_->overlapped, status, read_->done);
    read_.reset();
}

void SerialPort::EndWrite(uint32_t status) {
    Complete(write_->overlapped, status, write_->done);
    write_.reset();
}

bool SerialPort::CancelWhere(Overlapped* overlapped, uint32_t status) {
    bool found = false;
    if (wait_ && (overlapped == nullptr || wait_->overlapped == overlapped)) {
        EndWait(status, 0);
        found = true;
    }
    if (read_ && (overlapped == nullptr || read_->overlapped == overlapped)) {
        EndRead(status);
        found = true;
    }
    if (write_ && (overlapped == nullptr || write_->overlapped == overlapped)) {
        EndWrite(status);
        found = true;
    }
    return found;
}

void SerialPort::TakeReceived(PendingRead& read, uint64_t now) {
    const size_t n = std::min<size_t>(rxCount_, read.size - read.done);
    for (size_t i = 0; i < n; ++i) {
        read.data[read.done + i] = rx_[(rxHead_ + i) % rx_.size()];
    }
    rxHead_ = (rxHead_ + n) % rx_.size();
    rxCount_ -= n;
    read.done += static_cast<uint32_t>(n);
    if (n > 0) {
        read.lastByte = now;
    }
}

bool SerialPort::ReadDone(const PendingRead& read, uint64_t now) const {
    return read.done == read.size || (read.endsAtFirstByte && read.done > 0) ||
           (read.deadline != 0 && now >= read.deadline) ||
           (read.interval != 0 && read.done > 0 && now - read.lastByte >= read.interval);
}

bool SerialPort::PushWrite(PendingWrite& write, int* err) {
    while (write.done < write.size) {
        const ssize_t n = ::write(fd_, write.data + write.done, write.size - write.done);
        if (n > 0) {
            write.done += static_cast<uint32_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            return true;
        } else if (n < 0 && errno != EINTR) {
            *err = errno;
            return false;
        }
    }
    return true;
}

void SerialPort::ProgressWrite() {
    if (!write_) {
        return;
    }
    int err = 0;
    if (!PushWrite(*write_, &err)) {
        if (err == EIO) {
            MarkGone();
            return;
        }
        EndWrite(ErrorFromErrno(err));
    } else if (write_->done == write_->size) {
        EndWrite(ERROR_SUCCESS);
    }
}

void SerialPort::Progress(uint64_t now) {
    if (read_) {
        TakeReceived(*read_, now);
        if (ReadDone(*read_, now)) {
            EndRead(ERROR_SUCCESS);
        }
    }
    if (write_ && write_->deadline != 0 && now >= write_->deadline) {
        EndWrite(ERROR_SUCCESS);
    }
}

int SerialPort::NextTimeout(uint64_t now) const {
    uint64_t next = 0;
    auto consider = [&](uint64_t at) {
        if (at != 0 && (next == 0 || at < next)) {
            next = at;
        }
    };
    if (read_) {
        consider(read_->deadline);
        if (read_->interval != 0 && read_->done > 0) {
            consider(read_->lastByte + read_->interval);
        }
    }
    if (write_) {
        consider(write_->deadline);
    }
    if (next == 0) {
        return -1;
    }
    return next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, 1u << 30));
}

bool SerialPort::SetupComm(uint32_t inQueue, uint32_t outQueue) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    if (const uint32_t injected = g_setupCommFailure.exchange(0)) {
        return Fail(injected);
    }
    if (inQueue > kMaxQueue || outQueue > kMaxQueue) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (inQueue == 0) {
        return true;  // keep the current size
    }
    std::vector<uint8_t> queue(inQueue);
    const size_t keep = std::min<size_t>(rxCount_, inQueue);
    for (size_t i = 0; i < keep; ++i) {
        queue[i] = rx_[(rxHead_ + i) % rx_.size()];
    }
    rx_.swap(queue);
    rxHead_ = 0;
    rxCount_ = keep;
    Wake();
    return true;
}

bool SerialPort::GetCommState(DCB* dcb) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    *dcb = dcb_;
    return true;
}

bool SerialPort::SetCommState(const DCB& dcb) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    termios t;
    if (tcgetattr(fd_, &t) != 0) {
        return Fail(ErrorFromErrno(errno));
    }
    const tcflag_t lineSettings = t.c_cflag;
    if (!TermiosFromDcb(dcb, &t)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!hasLine_) {
        t.c_cflag = lineSettings;  // the pseudo-terminal driver would refuse them
    }
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        return Fail(ErrorFromErrno(errno));
    }
    if (hasLine_) {
        SetModemLines(fd_, dcb);
    }
    dcb_ = dcb;
    return true;
}

bool SerialPort::GetCommTimeouts(COMMTIMEOUTS* timeouts) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    *timeouts = timeouts_;
    return true;
}

bool SerialPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    timeouts_ = timeouts;
    return true;
}

bool SerialPort::GetCommMask(uint32_t* mask) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    *mask = mask_;
    return true;
}

bool SerialPort::SetCommMask(uint32_t mask) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    mask_ = mask;
    history_ = 0;
    if (wait_) {
        // Win32 ends a pending wait with an empty event set.
        EndWait(ERROR_SUCCESS, 0);
    }
    return true;
}

bool SerialPort::WaitCommEvent(uint32_t* events, Overlapped* overlapped) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    if (wait_ || mask_ == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Begin(overlapped);
    if (history_ != 0) {
        *events = std::exchange(history_, 0);
        Complete(overlapped, ERROR_SUCCESS, 0);
        return true;
    }
    wait_ = PendingWait{events, overlapped};
    return Fail(ERROR_IO_PENDING);
}

bool SerialPort::ReadFile(void* buffer, uint32_t size, uint32_t* read, Overlapped* overlapped) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    if (read_) {
        return Fail(ERROR_BUSY);
    }
    Begin(overlapped);
    Ingest();  // what the driver holds right now, not only what the watcher saw
    if (gone_) {
        return Fail(ERROR_GEN_FAILURE);
    }
    const uint64_t now = TickCount();
    const COMMTIMEOUTS& t = timeouts_;
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    PendingRead r{static_cast<uint8_t*>(buffer), size, 0, overlapped, 0, 0, now, firstByte};
    if (firstByte) {
        r.deadline = now + t.ReadTotalTimeoutConstant;
    } else {
        const uint64_t total =
            uint64_t{t.ReadTotalTimeoutMultiplier} * size + t.ReadTotalTimeoutConstant;
        r.deadline = total != 0 ? now + total : 0;
        r.interval = t.ReadIntervalTimeout != MAXDWORD ? t.ReadIntervalTimeout : 0;
    }
    TakeReceived(r, now);
    if (r.done > 0) {
        Wake();  // the queue may have been full: let the watcher read on
    }
    if (atOnce || ReadDone(r, now)) {
        if (read != nullptr) {
            *read = r.done;
        }
        Complete(overlapped, ERROR_SUCCESS, r.done);
        return true;
    }
    read_ = r;
    Wake();  // its deadlines
    return Fail(ERROR_IO_PENDING);
}

bool SerialPort::WriteFile(const void* data, uint32_t size, uint32_t* written,
                           Overlapped* overlapped) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    if (write_) {
        return Fail(ERROR_BUSY);
    }
    Begin(overlapped);
    PendingWrite w{static_cast<const uint8_t*>(data), size, 0, overlapped, 0};
    int err = 0;
    if (!PushWrite(w, &err)) {
        if (err == EIO) {
            MarkGone();
            return Fail(ERROR_GEN_FAILURE);
        }
        return Fail(ErrorFromErrno(err));
    }
    if (w.done == size) {
        if (written != nullptr) {
            *written = size;
        }
        Complete(overlapped, ERROR_SUCCESS, size);
        return true;
    }
    const uint64_t total = uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * size +
                           timeouts_.WriteTotalTimeoutConstant;
    w.deadline = total != 0 ? TickCount() + total : 0;
    write_ = w;
    Wake();
    return Fail(ERROR_IO_PENDING);
}

bool SerialPort::CancelIo(Overlapped* overlapped) {
    std::lock_guard<std::mutex> lock(lock_);
    return CancelWhere(overlapped, ERROR_OPERATION_ABORTED) || Fail(ERROR_NOT_FOUND);
}

bool SerialPort::ClearCommError(uint32_t* errors) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    uint32_t events = 0;
    SampleLineErrors(&events);
    Raise(events);
    *errors = std::exchange(errors_, 0);
    return true;
}

bool SerialPort::PurgeComm(uint32_t flags) {
    std::lock_guard<std::mutex> lock(lock_);
    if (const uint32_t error = Unusable()) {
        return Fail(error);
    }
    if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((flags & PURGE_TXABORT) && write_) {
        EndWrite(ERROR_OPERATION_ABORTED);
    }
    if ((flags & PURGE_RXABORT) && read_) {
        EndRead(ERROR_OPERATION_ABORTED);
    }
    if ((flags & PURGE_TXCLEAR) && tcflush(fd_, TCOFLUSH) != 0) {
        return Fail(ErrorFromErrno(errno));
    }
    if (flags & PURGE_RXCLEAR) {
        if (tcflush(fd_, TCIFLUSH) != 0) {
            return Fail(ErrorFromErrno(errno));
        }
        rxHead_ = 0;
        rxCount_ = 0;
        Wake();
    }
    return true;
}

void SerialPort::InjectLineErrors(uint32_t errors) {
    std::lock_guard<std::mutex> lock(lock_);
    if (Unusable() != ERROR_SUCCESS) {
        return;
    }
    errors_ |= errors;
    Raise(((errors & ~CE_BREAK) ? EV_ERR : 0) | ((errors & CE_BREAK) ? EV_BREAK : 0));
}

void SerialPort::InjectSetupCommFailure(uint32_t error) {
    g_setupCommFailure.store(error);
}

}  // namespace platform
