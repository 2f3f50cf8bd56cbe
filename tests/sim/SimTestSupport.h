#pragma once
// Helpers shared by the virtual reader's tests.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tools/sim/Frame.h"
#include "tools/sim/ImageBuilder.h"
#include "tools/sim/MemoryImage.h"

namespace simtest {

using namespace std::chrono_literals;
using sim::Bytes;

// A temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "arvelo-sim-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Points the COM port directory into a temporary folder while it lives, so
// that tests neither see nor touch the user's links.
class PortSandbox {
  public:
    PortSandbox() {
        const char* old = getenv("XDG_CONFIG_HOME");
        hadOld_ = old != nullptr;
        old_ = hadOld_ ? old : "";
        setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
    }
    ~PortSandbox() {
        if (hadOld_) {
            setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }
    std::string Ports() const { return dir_.Path() + "/Arvelo/ports"; }

  private:
    TempDir dir_;
    bool hadOld_ = false;
    std::string old_;
};

// The program's end of the line: the pseudo-terminal's slave, opened raw.
class LineClient {
  public:
    explicit LineClient(const std::string& device)
        : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio;
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~LineClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool Write(const Bytes& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes have come or the time is up; returns what came.
    Bytes Read(std::size_t count, std::chrono::milliseconds limit) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) {
                break;
            }
            std::uint8_t buffer[4096];
            const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            }
        }
        return got;
    }

  private:
    int fd_ = -1;
};

inline Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Command(const std::string& text, const std::string& payload) {
    return sim::MakeFrame(text, TextBytes(payload));
}

// Builds an image from one JSON document; an erased memory and the reason
// when the document is refused.
inline sim::MemoryImage BuildImage(const std::string& json, std::string* error = nullptr) {
    sim::ImageBuilder builder;
    sim::MemoryImage image;
    std::string reason;
    if (!builder.AddLogs(json, &reason) || !builder.Build(&image, &reason)) {
        image = sim::MemoryImage();
    }
    if (error != nullptr) {
        *error = reason;
    }
    return image;
}

}  // namespace simtest
