#pragma once
// Drives the download engine without threads or real time: every command it
// sends goes to the virtual reader's protocol core, whose reply payload is
// queued as the link's notification and handed back by Run, one message at a
// time. A reply can be hit by a fault as a line would hit it; the clock moves
// only when nothing is left to hand over, to the next thing that is due.

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <fstream>
#include <sstream>

#include "Serial/SERIAL.h"
#include "datafile/StagedFile.h"
#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"
#include "device/FixedText.h"
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

// What the line does to a reply.
enum class Fault {
    LinkError,  // a bad frame: LINK_ERROR naming the command
    LineError,  // LINK_ERROR naming none (code 0) instead of the reply
    Rejected,   // a bad checksum
    Short,      // half the payload
    Dropped,    // nothing at all
    Late,       // lateByMs after its time; the replies behind it wait
};

class ReplayHost : public EngineHost {
  public:
    ReplayHost(DeviceState& state, sim::MemoryImage memory)
        : state_(state), reader_(std::move(memory)) {}

    // Faults by reply, counted from 1.
    std::map<int, Fault> faults;
    uint64_t lateByMs = 500;
    uint64_t turnaroundMs = 0;  // the reader's time before each reply
    uint64_t now = 0;           // the engine's clock, in milliseconds
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
    uint64_t Now() override { return now; }
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

    // Hands every queued notification to the engine when it is due, and
    // moves the clock on to what is due next (a late reply, a time-out),
    // until nothing is left or the engine quits; the number handed.
    int Run(DownloadEngine& engine) {
        int handed = 0;
        while (!engine.Quit()) {
            if (!pending_.empty() && pending_.front().due <= now) {
                Pending next = std::move(pending_.front());
                pending_.pop_front();
                reply_ = std::move(next.payload);
                engine.Handle(next.message);
                ++handed;
                continue;
            }
            std::optional<uint64_t> due = engine.Deadline();
            if (!pending_.empty()) {
                due = std::min(due.value_or(pending_.front().due), pending_.front().due);
            }
            if (!due) {
                break;
            }
            now = std::max(now, *due);
            engine.Tick();
        }
        return handed;
    }

    void Post(uint32_t message, uint32_t wParam, intptr_t lParam = 0) {
        pending_.push_back({{message, wParam, lParam}, {}, now});
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
        uint64_t due;
    };

    void Queue(int8_t code, sim::Bytes payload) {
        const auto fault = faults.find(++replies_);
        if (fault == faults.end()) {
            Deliver(LINK_REPLY, code, std::move(payload), 0);
            return;
        }
        const auto named = static_cast<uint16_t>(code);
        switch (fault->second) {
            case Fault::LinkError:
                return Deliver(LINK_ERROR, named, {}, 0);
            case Fault::LineError:
                return Deliver(LINK_ERROR, 0, {}, 0);
            case Fault::Rejected:
                return Deliver(LINK_REJECTED, named, {}, 0);
            case Fault::Short:
                payload.resize(payload.size() / 2);
                return Deliver(LINK_REPLY, code, std::move(payload), 0);
            case Fault::Dropped:
                return;
            case Fault::Late:
                return Deliver(LINK_REPLY, code, std::move(payload), lateByMs);
        }
    }

    // A reply of the reader, which answers in order: none overtakes another.
    void Deliver(uint16_t kind, int8_t code, sim::Bytes payload, uint64_t delay) {
        const uint64_t due =
            std::max(now + turnaroundMs + delay, pending_.empty() ? 0 : pending_.back().due);
        const bool reply = kind == LINK_REPLY;
        const uint16_t high = reply ? static_cast<uint16_t>(payload.size()) : code;
        pending_.push_back({{WM_DEVICE_NOTIFY, platform::MAKEWPARAM(kind, high), reply ? code : 0},
                            std::move(payload),
                            due});
    }

    DeviceState& state_;
    sim::Reader reader_;
    std::deque<Pending> pending_;
    sim::Bytes reply_;
    int replies_ = 0;
};

constexpr uint32_t kStartAll = platform::MAKEWPARAM(CMD_READ, 0);

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// A data file whose title block does not depend on when it is written.
inline std::unique_ptr<StagedDataFile> FixedTitleFile() {
    auto file = std::make_unique<StagedDataFile>();
    file->Writer().SetTitleSource([] { return TitleStamp{CivilTime{}, "tester"}; });
    return file;
}

inline sim::MemoryImage Image(const std::string& json) {
    std::string error;
    sim::MemoryImage image = simtest::BuildImage(json, &error);
    EXPECT_EQ(error, "");
    return image;
}

// One log of `records` fixed-mode records of one channel, raw value i % 250.
inline std::string LongLogJson(int records, const std::string& extra = "") {
    std::string raw;
    for (int i = 0; i < records; ++i) {
        raw += (i ? "," : "") + std::string("[") + std::to_string(i % 250) + ",0]";
    }
    return R"({"logs":[{"sampleRate":"00 00:00:01 0","startTime":"00:00:00 01/01/24",)"
           R"("endTime":"00:00:00 02/01/24","channels":[{}],"raw":[[)" +
           raw + "]]" + extra + "}]}";
}

// Saving is off unless a test asks for files.
struct Replay {
    explicit Replay(const std::string& json) : Replay(Image(json)) {}
    explicit Replay(sim::MemoryImage image) : host(state, std::move(image)), engine(state, host) {
        state.saveDuringDownload = false;
    }

    // The main thread answers each DEV_LOG_OPEN_FILE by opening "logN.omb".
    void SaveFiles() {
        host.directory = dir.File("");
        state.saveDuringDownload = true;
    }

    void StartAll() {
        host.Post(TM_DOWNLOAD_START, kStartAll);
        host.Run(engine);
    }
    std::string LocationOf(const DeviceLog& log) {
        return std::string(FieldText(log.header().location));
    }

    DeviceState state{FixedTitleFile()};
    ReplayHost host;
    DownloadEngine engine;
    simtest::TempDir dir;
};

inline std::string Hex(uint32_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "%.5X", address);
    return text;
}

}  // namespace replay
