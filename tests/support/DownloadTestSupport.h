#pragma once
// End-to-end helpers: the virtual reader on a pseudo-terminal, and the test
// thread in the role of the window the worker posts to (SessionRun.h drives
// a run through it).

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device/DeviceController.h"
#include "platform/MessageQueue.h"
#include "platform/Window.h"
#include "support/DataFiles.h"
#include "support/LineTestSupport.h"
#include "tools/sim/Server.h"

namespace e2e {

using namespace std::chrono_literals;

// Where a fault hits the second log of image: the reply to its information
// block, one in the middle of its data, and the last reply of its data.
// Replies are numbered as on a clean line, where reply n answers command n.
inline std::vector<std::uint64_t> SecondLogReplies(const sim::MemoryImage& image,
                                                   const std::vector<sim::CommandFrame>& clean) {
    const std::vector<uint32_t> logs = sim::LogStarts(image);
    const auto replyTo = [&](uint32_t address) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%.5X", address + sim::kInfoBlockOffset);
        for (std::size_t i = 0; i < clean.size(); ++i) {
            if (clean[i].PayloadText() == hex) {
                return static_cast<std::uint64_t>(i + 1);
            }
        }
        return std::uint64_t{0};
    };
    const std::uint64_t start = replyTo(logs.at(1));
    const std::uint64_t end = replyTo(logs.at(2)) - 1;
    return {start, (start + end) / 2, end};
}

// The fault switches of the virtual reader that hit single replies.
inline constexpr sim::ReplySet sim::FaultOptions::*kReplyFaults[] = {
    &sim::FaultOptions::badChecksum, &sim::FaultOptions::drop,    &sim::FaultOptions::wrongHeader,
    &sim::FaultOptions::truncate,    &sim::FaultOptions::garbage, &sim::FaultOptions::noise,
    &sim::FaultOptions::late};

inline sim::ServerOptions Fast() {
    sim::ServerOptions options;
    options.fast = true;
    return options;
}

// The virtual reader, linked as a COM name in a port directory of its own.
class VirtualReader {
  public:
    explicit VirtualReader(sim::MemoryImage image, sim::ServerOptions options = Fast())
        : server_(std::move(image), std::move(options)) {
        std::string error;
        started_ = server_.Start(&error);
        EXPECT_TRUE(started_) << error;
    }
    const std::string& Port() const { return server_.PortName(); }
    sim::Server& Server() { return server_; }

  private:
    simtest::PortSandbox sandbox_;  // first: the server links its name there
    sim::Server server_;
    bool started_ = false;
};

// The test thread as the window the worker posts to.
class Window {
  public:
    Window() {
        platform::Message message;
        platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);
    }
    // What a run posted after its end stays out of the next test's way.
    ~Window() {
        platform::Message message;
        while (platform::PeekMessage(&message, 0, 0, platform::PM_REMOVE)) {
        }
    }
    platform::WindowHandle Handle() const { return registration_.Handle(); }

    // The next notification, or none when timeout passed without one.
    std::optional<platform::Message> Next(std::chrono::milliseconds timeout) {
        if (!backlog_.empty()) {
            const platform::Message message = backlog_.front();
            backlog_.pop_front();
            return message;
        }
        const auto end = std::chrono::steady_clock::now() + timeout;
        platform::Message message;
        while (!platform::PeekMessage(&message, 0, 0, platform::PM_REMOVE)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !platform::WaitMessage(static_cast<uint32_t>(left.count()))) {
                return std::nullopt;
            }
        }
        return message;
    }
    // Collects notifications, to be handled later, until one with this code
    // has come; false when it did not come in time.
    bool AwaitCode(uint16_t code, std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        platform::Message message;
        while (std::chrono::steady_clock::now() < end) {
            if (platform::PeekMessage(&message, 0, 0, platform::PM_REMOVE)) {
                backlog_.push_back(message);
                if (platform::LOWORD(message.wParam) == code) {
                    return true;
                }
            } else {
                platform::WaitMessage(10);
            }
        }
        return false;
    }

  private:
    platform::ThreadQueueSink sink_{platform::CurrentThreadId()};
    platform::WindowRegistration registration_{sink_};
    std::deque<platform::Message> backlog_;
};

}  // namespace e2e
