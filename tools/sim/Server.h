#pragma once
// The virtual reader on a pseudo-terminal: the protocol core on its own thread,
// linked into the port directory as a COM name, paced at the line rate both
// ways. A command counts as received once its bytes would have crossed the
// line; a reply leaves byte by byte at that rate. A line does not wait: reply
// bytes the far end does not take are lost.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/PortDirectory.h"
#include "platform/PseudoTerminal.h"
#include "tools/sim/Faults.h"
#include "tools/sim/MemoryImage.h"
#include "tools/sim/Reader.h"

namespace sim {

struct ServerOptions {
    std::string port = "auto";  // "COMn", or "auto" (or empty) for the lowest free name
    int baud = 9600;            // 10 bits per byte
    bool fast = false;          // no line pacing (the turnaround still applies)
    std::chrono::milliseconds turnaround{0};  // the unit's own time before each reply
    FaultOptions faults;
    std::string writeBackPath;  // the memory is saved there after each change; empty: never
    // Receives problems (a failed write-back, a lost line) and, when verbose,
    // one line per frame in each direction. Called on the server's thread.
    std::function<void(const std::string&)> log;
    bool verbose = false;
};

struct ServerStats {
    std::uint64_t commandsSeen = 0;  // complete frames, with a good checksum or not
    std::uint64_t badFrames = 0;     // of those, the ones with a wrong checksum
    std::uint64_t repliesSent = 0;   // replies whose last byte has gone out
    std::uint64_t bytesLost = 0;     // reply bytes the pseudo-terminal did not take
    std::uint64_t writeBackErrors = 0;
};

// Owns a file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    int Release();
    void Reset();

  private:
    int fd_ = -1;
};

class Server {
  public:
    Server(MemoryImage memory, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the pseudo-terminal, links the COM name and starts answering;
    // false with a reason when it cannot. Not to be called twice.
    bool Start(std::string* error);
    // Stops answering and removes the COM link (if it is still ours).
    void Stop();

    const std::string& PortName() const { return portName_; }
    const std::string& DevicePath() const { return terminal_.SlavePath(); }

    MemoryImage Memory() const;
    ServerStats Stats() const;
    std::vector<CommandFrame> Commands() const;

    // Wait until that many frames have arrived or replies have gone out;
    // false when the time ran out first.
    bool WaitForCommands(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForReplies(std::uint64_t count, std::chrono::milliseconds timeout) const;

  private:
    struct TimedByte {
        Clock::time_point due;  // when it has crossed the line
        std::uint8_t byte;
        bool endsReply;
    };

    bool LinkPort(std::string* error);
    void Run();
    Clock::duration LineTime(std::size_t bytes) const;
    void Deliver(const TimedByte& received);
    void Transmit(Clock::time_point now);
    void Log(const std::string& line) const;

    ServerOptions options_;
    platform::PseudoTerminal terminal_;
    platform::ServedComPort port_;  // closed before the terminal it links to
    std::string portName_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::size_t writeBackLength_ = 0;

    // Used by the server's thread alone.
    FaultInjector faults_;
    std::deque<TimedByte> received_;  // bytes still on their way in
    std::deque<TimedByte> sending_;   // bytes still on their way out
    Clock::time_point receiveLineFree_{};
    Clock::time_point sendLineFree_{};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Reader reader_;  // guarded by mutex_
    std::vector<CommandFrame> commands_;
    ServerStats stats_;
};

}  // namespace sim
