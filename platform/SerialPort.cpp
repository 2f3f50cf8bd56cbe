// The Win32 behaviour of a COM port over the device calls of SerialPortOs.h.

#include "platform/SerialPort.h"

#include <algorithm>
#include <utility>

#include "platform/Errors.h"
#include "platform/SerialPortOs.h"
#include "platform/SerialSettings.h"
#include "platform/Time.h"

namespace platform {
namespace {

constexpr size_t kDefaultQueue = 4096;
constexpr uint32_t kMaxQueue = 1 << 20;

// Injected failures of the next set-up call of any port, by SetupStep.
std::atomic<uint32_t> g_setupFailure[3] = {0, 0, 0};

uint32_t TakeInjected(SerialPort::SetupStep step) {
    return g_setupFailure[static_cast<int>(step)].exchange(0);
}

bool Fail(uint32_t error) {
    SetLastError(error);
    return false;
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

// The events a driver raises for line errors.
uint32_t LineErrorEvents(uint32_t errors) {
    return ((errors & ~CE_BREAK) ? EV_ERR : 0) | ((errors & CE_BREAK) ? EV_BREAK : 0);
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
    DCB dcb;
    std::unique_ptr<detail::SerialDevice> device = detail::OpenSerialDevice(name, &dcb);
    if (!device) {
        return nullptr;
    }
    auto port = std::make_shared<SerialPort>(Key{}, std::move(device), dcb);
    port->watcher_ = Thread::CreateSuspended(WatcherMain, port.get());
    if (!port->watcher_) {
        const uint32_t error = LastError();
        port->Close();
        SetLastError(error);
        return nullptr;
    }
    port->watcher_->Resume();
    return port;
}

SerialPort::SerialPort(Key, std::unique_ptr<detail::SerialDevice> device, const DCB& dcb)
    : device_(std::move(device)), dcb_(dcb), rx_(kDefaultQueue) {}

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
    device_->Wake();
    if (watcher_) {
        watcher_->Join(INFINITE);
    }
    // Nothing else touches the device once closing_ is set and the watcher has ended.
    device_.reset();
}

uint32_t SerialPort::Unusable() const {
    return closing_ ? ERROR_INVALID_HANDLE : gone_ ? ERROR_GEN_FAILURE : ERROR_SUCCESS;
}

uint32_t SerialPort::WatcherMain(void* port) {
    static_cast<SerialPort*>(port)->Watch();
    return 0;
}

void SerialPort::Watch() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!closing_) {
        unsigned watch = 0;
        if (!gone_) {
            watch = detail::kBroken | (RxFree() > 0 ? detail::kReadable : 0) |
                    (write_ ? detail::kWritable : 0);
        }
        const int timeout = NextTimeout(TickCount());
        lock.unlock();
        const unsigned ready = device_->WaitReady(watch, timeout);
        lock.lock();
        if (closing_) {
            break;
        }
        if (ready & detail::kReadable) {
            Ingest();
        }
        if (ready & detail::kWritable) {
            ProgressWrite();
        }
        if (ready & detail::kBroken) {
            Ingest();
            MarkGone();  // also when the wait itself failed: never spin on it
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
        const detail::Transfer got = device_->Read(chunk, room);
        if (got.count > 0) {
            lastReceived_ = TickCount();
        }
        for (size_t i = 0; i < got.count; ++i) {
            rx_[(rxHead_ + rxCount_) % rx_.size()] = chunk[i];
            ++rxCount_;
            events |= EV_RXCHAR;
            if (chunk[i] == dcb_.EvtChar) {
                events |= EV_RXFLAG;
            }
        }
        if (got.gone || got.count == 0) {
            lost = got.gone;
            break;
        }
    }
    SampleLineErrors(&events);
    Raise(events);
    if (lost) {
        MarkGone();
    }
}

void SerialPort::SampleLineErrors(uint32_t* events) {
    const uint32_t found = device_->TakeLineErrors();
    errors_ |= found;
    *events |= LineErrorEvents(found);
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

void SerialPort::ProgressWrite() {
    if (!write_) {
        return;
    }
    const detail::Transfer sent =
        device_->Write(write_->data + write_->done, write_->size - write_->done);
    write_->done += static_cast<uint32_t>(sent.count);
    if (sent.gone) {
        MarkGone();
    } else if (sent.error != ERROR_SUCCESS) {
        EndWrite(sent.error);
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
    if (const uint32_t injected = TakeInjected(SetupStep::SetupComm)) {
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
    device_->Wake();
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
    if (const uint32_t injected = TakeInjected(SetupStep::SetCommState)) {
        return Fail(injected);
    }
    if (!IsValidDcb(dcb)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (const uint32_t error = device_->Apply(dcb)) {
        return Fail(error);
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
    if (const uint32_t injected = TakeInjected(SetupStep::SetCommMask)) {
        return Fail(injected);
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
    const ReadRule rule = ReadRuleFor(timeouts_, size);
    PendingRead r{static_cast<uint8_t*>(buffer), size, 0, overlapped, 0, rule.interval, now,
                  rule.endsAtFirstByte};
    if (rule.total != 0) {
        r.deadline = now + rule.total;
    }
    TakeReceived(r, now);
    if (r.done > 0) {
        device_->Wake();  // the queue may have been full: let the watcher read on
    }
    if (rule.atOnce || ReadDone(r, now)) {
        if (read != nullptr) {
            *read = r.done;
        }
        Complete(overlapped, ERROR_SUCCESS, r.done);
        return true;
    }
    read_ = r;
    device_->Wake();  // its deadlines
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
    const detail::Transfer sent = device_->Write(w.data, size);
    w.done = static_cast<uint32_t>(sent.count);
    if (sent.gone) {
        MarkGone();
        return Fail(ERROR_GEN_FAILURE);
    }
    if (sent.error != ERROR_SUCCESS) {
        return Fail(sent.error);
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
    device_->Wake();
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

uint64_t SerialPort::LastReceived() const {
    std::lock_guard<std::mutex> lock(lock_);
    return lastReceived_;
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
    const bool clearInput = (flags & PURGE_RXCLEAR) != 0;
    if (const uint32_t error = device_->Purge((flags & PURGE_TXCLEAR) != 0, clearInput)) {
        return Fail(error);
    }
    if (clearInput) {
        rxHead_ = 0;
        rxCount_ = 0;
        device_->Wake();
    }
    return true;
}

void SerialPort::InjectLineErrors(uint32_t errors) {
    std::lock_guard<std::mutex> lock(lock_);
    if (Unusable() != ERROR_SUCCESS) {
        return;
    }
    errors_ |= errors;
    Raise(LineErrorEvents(errors));
}

void SerialPort::InjectSetupFailure(SetupStep step, uint32_t error) {
    g_setupFailure[static_cast<int>(step)].store(error);
}

}  // namespace platform
