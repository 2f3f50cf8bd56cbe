#pragma once
// Drives the download engine without threads: every command it sends goes
// to the virtual reader's protocol core, whose reply payload is queued as the
// link's notification and handed back by Run, one message at a time.

#include <cstdio>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Serial/SERIAL.h"
#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"
#include "support/SimTestSupport.h"
#include "tools/sim/Reader.h"

namespace replay {

struct Sent {
    int8_t code;
    std::string payload;
};

struct Note {
    uint16_t code;
    uint16_t high;
    intptr_t value;
};

class ReplayHost : public EngineHost {
  public:
    ReplayHost(DeviceState& state, sim::MemoryImage memory)
        : state_(state), reader_(std::move(memory)) {}

    // Replies counted from 1 that arrive as LINK_ERROR naming the command.
    std::set<int> linkErrorAt;
    bool lineErrors = false;  // the errors name no command (code 0), as line errors do
    // What the main thread does on DEV_LOG_OPEN_FILE; by default it opens
    // "<directory>/logN.omb".
    std::function<void()> answerOpenFile;
    std::string directory;

    std::vector<Sent> sent;
    std::vector<Note> notes;
    int lockDepth = 0;
    int filesOpened = 0;

    void Send(int8_t code, const char* payload, int32_t length) override {
        static const char* const kTexts[] = {"M80", "M81", "{10", "|10"};
        const char* text = code == CMD_STREAM  ? kTexts[0]
                           : code == CMD_READ  ? kTexts[1]
                           : code == CMD_ERASE ? kTexts[2]
                                               : kTexts[3];
        sent.push_back({code, std::string(payload, length)});
        const sim::Bytes frame = simtest::Command(text, sent.back().payload);
        for (const uint8_t byte : frame) {
            if (auto exchange = reader_.Receive(byte); exchange && !exchange->reply.empty()) {
                const sim::Bytes& r = exchange->reply;  // 0x01 "M80" 0x02 payload 0x03 sum
                Queue(code, sim::Bytes(r.begin() + 5, r.end() - 2));
            }
        }
    }
    const uint8_t* Reply() override { return reply_.data(); }
    void Notify(uint16_t code, uint16_t high, intptr_t value) override {
        notes.push_back({code, high, value});
    }
    void Sleep(uint32_t) override {}
    void AwaitOutputFile() override {
        if (answerOpenFile) {
            answerOpenFile();
        } else if (!directory.empty()) {
            const std::string path = directory + "/log" + std::to_string(++filesOpened) + ".omb";
            state_.OpenOutputFile(path.c_str(), ".omb");
        }
    }
    void LockLog() override { ++lockDepth; }
    void UnlockLog() override { --lockDepth; }

    // Hands every queued notification to the engine until none is left or
    // it quits; the number handed.
    int Run(DownloadEngine& engine) {
        int handed = 0;
        while (!pending_.empty() && !engine.Quit()) {
            Pending next = std::move(pending_.front());
            pending_.pop_front();
            reply_ = std::move(next.payload);
            engine.Handle(next.message);
            ++handed;
        }
        return handed;
    }

    void Post(uint32_t message, uint32_t wParam, intptr_t lParam = 0) {
        pending_.push_back({{message, wParam, lParam}, {}});
    }

    int Count(uint16_t code) const {
        int n = 0;
        for (const Note& note : notes) {
            n += note.code == code;
        }
        return n;
    }
    // Payloads of the read requests, in order.
    std::vector<std::string> Reads() const {
        std::vector<std::string> reads;
        for (const Sent& s : sent) {
            if (s.code == CMD_READ) {
                reads.push_back(s.payload);
            }
        }
        return reads;
    }

  private:
    struct Pending {
        platform::Message message;
        sim::Bytes payload;
    };

    void Queue(int8_t code, sim::Bytes payload) {
        ++replies_;
        if (linkErrorAt.count(replies_)) {
            const uint16_t named = lineErrors ? 0 : static_cast<uint16_t>(code);
            Post(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(LINK_ERROR, named));
            return;
        }
        const auto length = static_cast<uint16_t>(payload.size());
        pending_.push_back({{WM_DEVICE_NOTIFY, platform::MAKEWPARAM(LINK_REPLY, length), code},
                            std::move(payload)});
    }

    DeviceState& state_;
    sim::Reader reader_;
    std::deque<Pending> pending_;
    sim::Bytes reply_;
    int replies_ = 0;
};

inline std::string Hex(uint32_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "%.5X", address);
    return text;
}

}  // namespace replay
