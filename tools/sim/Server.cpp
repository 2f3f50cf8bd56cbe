#include "tools/sim/Server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

namespace sim {
namespace {

// Payloads that are plain text are shown as such in the frame log.
std::string Describe(const std::string& text, const Bytes& payload) {
    const bool printable = std::all_of(payload.begin(), payload.end(),
                                       [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
    if (printable) {
        return text + " '" + std::string(payload.begin(), payload.end()) + "'";
    }
    return text + " [" + std::to_string(payload.size()) + " bytes]";
}

timespec ToTimespec(Clock::duration d) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(d, Clock::duration::zero()))
            .count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

Server::Server(MemoryImage memory, ServerOptions options)
    : options_(std::move(options)), faults_(options_.faults), reader_(std::move(memory)) {}

Server::~Server() {
    Stop();
}

bool Server::Start(std::string* error) {
    if (thread_.joinable()) {
        if (error != nullptr) {
            *error = "already started";
        }
        return false;
    }
    const auto fail = [&](const std::string& text) {
        if (error != nullptr) {
            *error = text;
        }
        terminal_.Close();
        return false;
    };
    if (options_.baud <= 0) {
        return fail("the baud rate must be positive");
    }
    if (options_.faults.invalidLog != 0) {
        // Only the served memory loses the mark; saving it would make the fault permanent.
        if (!options_.writeBackPath.empty()) {
            return fail("a log without its validity mark cannot be combined with write-back");
        }
        std::string reason;
        if (!ClearValidityMark(reader_.Memory(), options_.faults.invalidLog, &reason)) {
            return fail(reason);
        }
    }
    if (!options_.writeBackPath.empty()) {
        // Keep the file at least as long as it was.
        struct stat st;
        if (stat(options_.writeBackPath.c_str(), &st) == 0) {
            writeBackLength_ = static_cast<std::size_t>(st.st_size);
        }
    }
    if (!terminal_.Open()) {
        return fail(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    }
    const int master = terminal_.MasterFd();
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    wakeRead_ = UniqueFd(pipeFds[0]);
    wakeWrite_ = UniqueFd(pipeFds[1]);
    std::string reason;
    if (!LinkPort(&reason)) {
        return fail(reason);
    }
    stopping_ = false;
    thread_ = std::thread(&Server::Run, this);
    return true;
}

bool Server::LinkPort(std::string* error) {
    std::string reason;
    if (!port_.Open(options_.port, terminal_.SlavePath(), &reason)) {
        *error = reason;
        return false;
    }
    portName_ = port_.Name();
    return true;
}

void Server::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        const char wake = 1;
        [[maybe_unused]] const ssize_t n = write(wakeWrite_.Get(), &wake, 1);
        thread_.join();
    }
    port_.Close();
    terminal_.Close();
    wakeRead_.Reset();
    wakeWrite_.Reset();
}

Clock::duration Server::LineTime(std::size_t bytes) const {
    if (options_.fast) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(bytes) * 10.0 / static_cast<double>(options_.baud)));
}

void Server::Run() {
    // Wake up about once a millisecond while bytes are on their way, not once per byte.
    const std::size_t chunk =
        options_.fast ? 1
                      : std::max<std::size_t>(1, static_cast<std::size_t>(options_.baud) / 10000);
    const int master = terminal_.MasterFd();
    std::array<std::uint8_t, 4096> buffer;
    while (!stopping_) {
        std::optional<Clock::time_point> wake;
        for (const auto* queue : {&received_, &sending_}) {
            if (!queue->empty()) {
                const Clock::time_point due = (*queue)[std::min(chunk, queue->size()) - 1].due;
                wake = wake ? std::min(*wake, due) : due;
            }
        }
        pollfd fds[2] = {{wakeRead_.Get(), POLLIN, 0}, {master, POLLIN, 0}};
        timespec timeout{};
        if (wake) {
            timeout = ToTimespec(*wake - Clock::now());
        }
        if (ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
            Log(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents != 0) {
            char drain[16];
            while (read(wakeRead_.Get(), drain, sizeof drain) > 0) {
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const ssize_t n = read(master, buffer.data(), buffer.size());
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Log(std::string("cannot read the pseudo-terminal: ") + std::strerror(errno));
                return;
            }
            const Clock::time_point now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                receiveLineFree_ = std::max(now, receiveLineFree_) + LineTime(1);
                received_.push_back({receiveLineFree_, buffer[static_cast<std::size_t>(i)], false});
            }
        } else if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            Log("the pseudo-terminal has gone away");
            return;
        }
        const Clock::time_point now = Clock::now();
        while (!received_.empty() && received_.front().due <= now) {
            Deliver(received_.front());
            received_.pop_front();
        }
        Transmit(now);
    }
}

void Server::Deliver(const TimedByte& received) {
    std::unique_lock lock(mutex_);
    std::optional<Exchange> exchange = reader_.Receive(received.byte);
    if (!exchange) {
        return;
    }
    const CommandFrame& command = exchange->command;
    commands_.push_back(command);
    ++stats_.commandsSeen;
    stats_.badFrames += command.checksumOk ? 0 : 1;
    std::string saveError;
    bool saved = true;
    if (exchange->memoryChanged && !options_.writeBackPath.empty()) {
        saved = reader_.Memory().Save(options_.writeBackPath, writeBackLength_, &saveError);
        stats_.writeBackErrors += saved ? 0 : 1;
    }
    lock.unlock();
    changed_.notify_all();

    if (!saved) {
        Log("write-back failed: " + saveError);
    }
    if (options_.verbose) {
        Log("< " + Describe(command.text, command.payload) +
            (command.checksumOk ? "" : " (wrong checksum, ignored)"));
    }
    Bytes reply = faults_.Shape(exchange->reply, received.due);
    if (options_.verbose && !exchange->reply.empty()) {
        if (reply == exchange->reply) {
            Log("> " + Describe("M80", Bytes(reply.begin() + 5, reply.end() - 2)));
        } else {
            Log("> reply " + std::to_string(faults_.Replies()) +
                " altered by a fault: " + std::to_string(reply.size()) + " bytes");
        }
    }
    if (reply.empty()) {
        return;
    }
    const Clock::time_point start =
        std::max(received.due + options_.turnaround + faults_.Delay(), sendLineFree_);
    for (std::size_t i = 0; i < reply.size(); ++i) {
        sending_.push_back({start + LineTime(i + 1), reply[i], i + 1 == reply.size()});
    }
    sendLineFree_ = start + LineTime(reply.size());
}

void Server::Transmit(Clock::time_point now) {
    Bytes out;
    std::uint64_t replies = 0;
    while (!sending_.empty() && sending_.front().due <= now) {
        out.push_back(sending_.front().byte);
        replies += sending_.front().endsReply ? 1 : 0;
        sending_.pop_front();
    }
    if (out.empty()) {
        return;
    }
    const ssize_t n = write(terminal_.MasterFd(), out.data(), out.size());
    {
        std::lock_guard lock(mutex_);
        stats_.bytesLost += out.size() - static_cast<std::size_t>(std::max<ssize_t>(n, 0));
        stats_.repliesSent += replies;
    }
    if (replies != 0) {
        changed_.notify_all();
    }
}

void Server::Log(const std::string& line) const {
    if (options_.log) {
        options_.log(line);
    }
}

MemoryImage Server::Memory() const {
    std::lock_guard lock(mutex_);
    return reader_.Memory();
}

ServerStats Server::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::vector<CommandFrame> Server::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool Server::WaitForCommands(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

bool Server::WaitForReplies(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return stats_.repliesSent >= count; });
}

}  // namespace sim
