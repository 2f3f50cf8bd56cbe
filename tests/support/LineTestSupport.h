#pragma once
// The virtual reader's side of a line in tests, POSIX only: a port directory
// of the test's own, and the program's end of a pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/SimTestSupport.h"

namespace simtest {

// Points the COM port directory, and the data folder where the archive is,
// into a temporary folder, so that tests neither see nor touch the user's.
class PortSandbox {
  public:
    PortSandbox() {
        setenv("XDG_CONFIG_HOME", dir_.File("").c_str(), 1);
        setenv("XDG_DATA_HOME", dir_.File("").c_str(), 1);
    }
    std::string Ports() const { return dir_.File("Arvelo/ports"); }

  private:
    TempDir dir_;
};

// The program's end of the line: the pseudo-terminal's slave, opened raw.
class LineClient {
  public:
    explicit LineClient(const std::string& device)
        : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio;
        if (tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~LineClient() { close(fd_); }

    bool Write(const Bytes& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes have come or the time is up; returns what came.
    Bytes Read(std::size_t count, std::chrono::milliseconds limit) {
        Bytes got(count);
        std::size_t n = 0;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (n < count && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                n += static_cast<std::size_t>(std::max<ssize_t>(0, read(fd_, &got[n], count - n)));
            }
        }
        got.resize(n);
        return got;
    }

  private:
    int fd_;
};

}  // namespace simtest
