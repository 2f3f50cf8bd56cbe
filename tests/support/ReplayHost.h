#pragma once
// Drives the download engine without threads or real time: every command it
// sends goes to the virtual reader's protocol core, whose reply payload is
// queued as the link's notification and handed back by Run, one message at a
// time. The line is timed as at 9600 baud: a command takes its bytes' time to
// reach the reader, which answers in order after its turnaround; a reply
// takes its bytes' time to come in. A reply can be hit by a fault as a line
// would hit it; the clock moves only when nothing is left to hand over, to
// the next thing that is due.

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <fstream>
#include <sstream>

#include "Serial/LinkMessages.h"
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
    LineError,  // line errors (LINK_ERROR naming none), and the frame they hit rejected
    Rejected,   // a bad checksum
    Short,      // half the payload
    Dropped,    // nothing at all
    Late,       // lateByMs after its time; the replies behind it wait
};

// Milliseconds that n bytes take on the line at 9600 baud, 10 bits each.
inline uint64_t WireMs(std::size_t n) {
    return (n * 10 * 1000 + 9599) / 9600;
}

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
        const uint64_t arrives = now + WireMs(frame.size());
        for (const uint8_t byte : frame) {
            if (auto exchange = reader_.Receive(byte); exchange && !exchange->reply.empty()) {
                const sim::Bytes& r = exchange->reply;  // 0x01 "M80" 0x02 payload 0x03 sum
                Queue(code, sim::Bytes(r.begin() + 5, r.end() - 2), arrives, WireMs(r.size()));
            }
        }
    }
    const uint8_t* Reply() override { return reply_.data(); }
    // Bytes are coming in while a reply is on the line.
    uint64_t LastByteAt() override {
        for (const Pending& p : pending_) {
            if (p.wire > 0 && p.due - p.wire <= now) {
                return now;
            }
        }
        return lastByte_;
    }
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
    // until nothing is left, the engine quits or stop says so; the number handed.
    int Run(DownloadEngine& engine, const std::function<bool()>& stop = {}) {
        int handed = 0;
        while (!engine.Quit() && !(stop && stop())) {
            // The earliest due first; a posted message does not wait behind a late reply.
            const auto next =
                std::min_element(pending_.begin(), pending_.end(),
                                 [](const Pending& a, const Pending& b) { return a.due < b.due; });
            if (next != pending_.end() && next->due <= now) {
                Pending taken = std::move(*next);
                pending_.erase(next);
                lastByte_ = taken.wire > 0 ? taken.due : lastByte_;
                reply_ = std::move(taken.payload);
                engine.Handle(taken.message);
                ++handed;
                continue;
            }
            std::optional<uint64_t> due = engine.Deadline();
            if (next != pending_.end()) {
                due = std::min(due.value_or(next->due), next->due);
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
        pending_.push_back({{message, wParam, lParam}, {}, now, 0});
    }
    // Replies still on their way.
    std::size_t RepliesDue() const {
        return static_cast<std::size_t>(std::count_if(pending_.begin(), pending_.end(),
                                                      [](const Pending& p) { return p.wire > 0; }));
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
        uint64_t due;   // when its last byte is in
        uint64_t wire;  // its time on the line; 0 for a message that is no reply
    };

    void Queue(int8_t code, sim::Bytes payload, uint64_t arrives, uint64_t wire) {
        const auto fault = faults.find(++replies_);
        const auto named = static_cast<uint16_t>(code);
        // The reader answers in order: a reply starts once the one before is out.
        const uint64_t delay = fault != faults.end() && fault->second == Fault::Late ? lateByMs : 0;
        const uint64_t due = std::max(arrives + turnaroundMs + delay, lineFree_) + wire;
        if (fault != faults.end() && fault->second == Fault::Dropped) {
            return;  // the reader never got the command, or nothing of the reply came
        }
        lineFree_ = due;
        if (fault == faults.end() || fault->second == Fault::Late) {
            return Deliver(LINK_REPLY, code, std::move(payload), due, wire);
        }
        switch (fault->second) {
            case Fault::LinkError:
                return Deliver(LINK_ERROR, named, {}, due, wire);
            case Fault::LineError:
                Deliver(LINK_ERROR, 0, {}, due, wire);
                return Deliver(LINK_REJECTED, named, {}, due, wire);
            case Fault::Rejected:
                return Deliver(LINK_REJECTED, named, {}, due, wire);
            case Fault::Short:
                payload.resize(payload.size() / 2);
                return Deliver(LINK_REPLY, code, std::move(payload), due, wire);
            default:
                return;
        }
    }

    void Deliver(uint16_t kind, int8_t code, sim::Bytes payload, uint64_t due, uint64_t wire) {
        const bool reply = kind == LINK_REPLY;
        const uint16_t high = reply ? static_cast<uint16_t>(payload.size()) : code;
        pending_.push_back({{WM_DEVICE_NOTIFY, platform::MAKEWPARAM(kind, high), reply ? code : 0},
                            std::move(payload),
                            due,
                            wire});
    }

    DeviceState& state_;
    sim::Reader reader_;
    std::deque<Pending> pending_;
    sim::Bytes reply_;
    int replies_ = 0;
    uint64_t lineFree_ = 0;  // when the reader has sent what it has to send
    uint64_t lastByte_ = 0;
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
