#pragma once
// Test helpers: reply frames, the far end of a serial line (a pseudo-terminal
// master) and a count of the process's threads.

#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "platform/Time.h"
#include "support/ThreadCount.h"

// A frame as the reader unit sends it: 0x01, header, 0x02, payload, 0x03, checksum.
inline std::vector<uint8_t> Frame(const std::string& header, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame;
    frame.reserve(header.size() + payload.size() + 4);
    frame.push_back(0x01);
    for (char c : header) {
        frame.push_back(static_cast<uint8_t>(c));
    }
    frame.push_back(0x02);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0x03);
    frame.push_back(static_cast<uint8_t>(std::accumulate(frame.begin(), frame.end(), 0u) & 0xFF));
    return frame;
}

class FarEnd {
  public:
    FarEnd() { ok_ = terminal_.Open(); }
    bool Ok() const { return ok_; }
    const std::string& Path() const { return terminal_.SlavePath(); }
    void Hangup() { terminal_.Close(); }

    bool Write(const std::vector<uint8_t>& bytes) {
        return write(terminal_.MasterFd(), bytes.data(), bytes.size()) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool Write(const std::string& text) {
        return Write(std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Up to count bytes, waiting at most timeoutMs for them.
    std::vector<uint8_t> Read(size_t count, int timeoutMs) {
        std::vector<uint8_t> bytes;
        const uint64_t end = platform::TickCount() + static_cast<uint64_t>(timeoutMs);
        while (bytes.size() < count) {
            const uint64_t now = platform::TickCount();
            pollfd fd{terminal_.MasterFd(), POLLIN, 0};
            if (now >= end || poll(&fd, 1, static_cast<int>(end - now)) <= 0) {
                break;
            }
            uint8_t chunk[512];
            const ssize_t n =
                read(terminal_.MasterFd(), chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

  private:
    platform::PseudoTerminal terminal_;
    bool ok_ = false;
};
