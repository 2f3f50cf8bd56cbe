// The line's faults and a reader's pace, on the engine's own clock: every case
// ends with the same files and notifications as a clean download, at a bounded
// cost. A reply taken for the answer to another request would change a file.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/ReplayHost.h"

namespace {

using replay::Fault;
using replay::Replay;

struct Line {
    std::map<int, Fault> faults;  // by reply, counted from 1
    uint64_t lateByMs = 500;
    uint64_t turnaroundMs = 0;
    uint32_t limitMs = 5000;  // the user's time-out
};

struct Outcome {
    std::map<std::string, std::string> files;  // name -> content, without the title block
    std::vector<uint16_t> notes;               // without the recovered counts and signs of life
    std::vector<std::string> reads;
    int recovered = 0;
    int holds = 0;    // times the run was held at the time-out, and went on
    uint64_t ms = 0;  // on the engine's clock
};

// The files in dir; the title block's folder differs from download to download.
std::map<std::string, std::string> Files(const simtest::TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File(""))) {
        const std::string text = replay::ReadFile(entry.path().string());
        const std::size_t title = text.find("CREATED BY");
        files[entry.path().filename().string()] =
            title == std::string::npos ? text : text.substr(title);
    }
    return files;
}

Outcome Collect(Replay& r) {
    Outcome o;
    o.files = Files(r.dir);
    for (const replay::Note& note : r.host.notes) {
        if (note.code == DEV_RECOVERED) {
            o.recovered = note.high;
        } else if (note.code != DEV_ALIVE) {
            o.notes.push_back(note.code);
        }
    }
    o.reads = r.host.Reads();
    o.ms = r.host.now;
    return o;
}

void Prepare(Replay& r, const Line& line) {
    r.SaveFiles();
    r.host.faults = line.faults;
    r.host.lateByMs = line.lateByMs;
    r.host.turnaroundMs = line.turnaroundMs;
    r.state.replyTimeLimitMs = line.limitMs;
}

// The user answers yes each time the time-out holds the run.
int GoOnWhileHeld(Replay& r) {
    int holds = 0;
    while (r.engine.Held() && !r.engine.Quit() && holds < 10) {
        ++holds;
        r.host.Post(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(DEV_GO_ON, 0));
        r.host.Run(r.engine);
    }
    return holds;
}

Outcome Download(const sim::MemoryImage& image, const Line& line = {}) {
    Replay r(image);
    Prepare(r, line);
    r.StartAll();
    const int holds = GoOnWhileHeld(r);
    Outcome o = Collect(r);
    o.holds = holds;
    return o;
}

// Where things happen in a clean download of image, as reply numbers (from 1).
struct Points {
    int chainWalk = 2;
    int header = 0;  // the second log's first header block
    int data = 0;    // the middle of the second log's data
    int lastData = 0;
};

Points PointsOf(const sim::MemoryImage& image, const Outcome& clean) {
    const auto at = [&](uint32_t address) {
        const auto found = std::find(clean.reads.begin(), clean.reads.end(), replay::Hex(address));
        EXPECT_NE(found, clean.reads.end());
        return static_cast<int>(found - clean.reads.begin()) + 1;
    };
    const std::vector<uint32_t> logs = sim::LogStarts(image);
    Points p;
    p.header = at(logs[1] + reader::kHeaderBlockOffset);
    p.lastData = at(logs[2] + reader::kInfoBlockOffset) - 1;
    p.data = (p.header + p.lastData) / 2;
    return p;
}

TEST(FaultRecovery, EveryFaultIsAskedForAgainAndTheFilesAreTheSame) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image);
    ASSERT_EQ(clean.files.size(), 3u);
    ASSERT_EQ(clean.notes.back(), DEV_DONE);
    const Points p = PointsOf(image, clean);

    for (const Fault fault : {Fault::LinkError, Fault::LineError, Fault::Rejected, Fault::Short,
                              Fault::Dropped, Fault::Late}) {
        for (const int at : {p.chainWalk, p.header, p.data, p.lastData}) {
            for (const int times : {1, 3}) {
                Line line;
                for (int t = 0; t < times; ++t) {
                    line.faults[at + t] = fault;  // the tries of one request
                }
                const Outcome o = Download(image, line);
                const std::string where = "fault " + std::to_string(static_cast<int>(fault)) +
                                          " at reply " + std::to_string(at) + " x" +
                                          std::to_string(times);
                EXPECT_TRUE(o.files == clean.files) << where;
                EXPECT_EQ(o.notes, clean.notes) << where;
                EXPECT_GE(o.recovered, 1) << where;
                EXPECT_LE(o.recovered, times) << where;
                // A damaged reply is asked for again at once: about an exchange
                // each. A lost one at the time-out, the next no sooner than a
                // second later, doubling; a late one costs its lateness and a copy.
                const bool silent = fault == Fault::Dropped || fault == Fault::Late;
                const uint64_t budget =
                    silent ? 700 + 1000 * ((1u << (times - 1)) - 1) : 400 * times;
                EXPECT_LE(o.ms - clean.ms, budget) << where;
            }
        }
    }
}

// Every second reply faulty, from the first to the last: each one is asked
// again (at once when it came damaged, at the time-out when it did not
// come), the wait starts from the reader's pace at every request, and the
// reader, which answers every request, is never held as silent.
TEST(FaultRecovery, EverySecondReplyFaultyCostsOneTryEachNeverAHold) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image);
    for (const Fault fault :
         {Fault::LinkError, Fault::LineError, Fault::Rejected, Fault::Short, Fault::Dropped}) {
        Line line;
        for (int n = 2; n < 4 * static_cast<int>(clean.reads.size()); n += 2) {
            line.faults[n] = fault;
        }
        const Outcome o = Download(image, line);
        const std::string where = "fault " + std::to_string(static_cast<int>(fault));
        EXPECT_EQ(o.holds, 0) << where;
        EXPECT_TRUE(o.files == clean.files) << where;
        EXPECT_EQ(o.notes, clean.notes) << where;
        // One try more per request, and a lost reply's time-out each.
        EXPECT_LE(o.reads.size(), 2 * clean.reads.size()) << where;
        const uint64_t perFault = fault == Fault::Dropped ? 400 : 200;
        EXPECT_LE(o.ms, 2 * clean.ms + perFault * clean.reads.size()) << where;
    }
}

TEST(FaultRecovery, AReaderThatAnswersAtOnceIsGivenTheWireTimeBeforeACopy) {
    // 12 bytes of the read command out and 135 of its reply back, at 9600
    // baud, and the least margin of 20 ms: asked again any sooner, a reply
    // on its way would meet a needless copy.
    RequestLine line;
    const std::vector<uint8_t> block(128, 0x41);
    line.Send(CMD_READ, 0);
    ASSERT_TRUE(line.Take(CMD_READ, block.data(), 128));
    EXPECT_EQ(line.Timeout(), replay::WireMs(12) + replay::WireMs(135) + 20);
}

// Late replies, slow readers and blocks that look alike: the answer to a
// request is never taken from a reply to another, and a reader's pace is
// learned, not guessed.
TEST(FaultRecovery, LateRepliesAndSlowReadersNeverMixUpTheAnswers) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image);
    const Points p = PointsOf(image, clean);
    const auto late = [](std::initializer_list<int> replies, uint64_t byMs, uint32_t limitMs) {
        Line line;
        line.lateByMs = byMs;
        line.limitMs = limitMs;
        for (const int n : replies) {
            line.faults[n] = Fault::Late;
        }
        return line;
    };
    const auto slow = [](uint64_t turnaroundMs) {
        Line line;
        line.turnaroundMs = turnaroundMs;
        return line;
    };
    struct Case {
        std::string name;
        Line line;
        uint64_t extraMs;  // at most, over the clean run (not checked when 0)
        size_t extraReads;
        int holds = 0;  // the time-out passed: the run waits for the user's yes
    };
    std::vector<Case> cases = {
        {"a reply 850 ms late in the data", late({p.data}, 850, 5000), 1000, 1},
        {"a reply late by a third of the time-out, in the chain walk",
         late({p.chainWalk}, 300, 1000), 0, 3},
        {"a reply late by the time-out, in a header: held, and used when the run goes on",
         late({p.header}, 1000, 1000), 0, 3, 1},
        {"a reply late three times the time-out, in the data: asked until the time-out, held, "
         "and used when the run goes on",
         late({p.data}, 3000, 1000), 0, 3, 1},
        {"a reply late three times the time-out, in the chain walk",
         late({p.chainWalk}, 3000, 1000), 0, 3, 1},
        {"replies late one after the other", late({p.header, p.header + 2, p.data}, 900, 5000), 0,
         8},
        {"every tenth reply late",
         [&] {
             Line line;
             line.lateByMs = 700;
             for (int n = 10; n < 400; n += 10) {
                 line.faults[n] = Fault::Late;
             }
             return line;
         }(),
         0, 200},
        {"a reader that takes 250 ms to answer", slow(250), 0, 0},
        {"a reader that takes 500 ms to answer", slow(500), 0, 0},
        {"a reader that takes 2 s to answer: asked again only while its pace is unknown",
         slow(2000), 0, 4},
    };
    for (const Case& c : cases) {
        const Outcome o = Download(image, c.line);
        const Outcome paced = Download(image, Line{{}, 500, c.line.turnaroundMs});
        EXPECT_TRUE(o.files == clean.files) << c.name;
        EXPECT_EQ(o.notes, clean.notes) << c.name;
        EXPECT_LE(o.reads.size(), clean.reads.size() + c.extraReads) << c.name;
        EXPECT_EQ(o.holds, c.holds) << c.name;
        if (c.extraMs != 0) {
            EXPECT_LE(o.ms - paced.ms, c.extraMs) << c.name;
        }
    }
}

TEST(FaultRecovery, BlocksThatLookAlikeAfterAFaultCostOneBarrierNotATimeOutEach) {
    // Two hundred blocks of one and the same record: after a lost reply, the
    // copies still due look exactly like the next blocks' answers.
    const sim::MemoryImage image = replay::Image(R"({"logs":[{"location":"FLAT","channels":[{}],
        "raw":[[)" + [] {
        std::string raw;
        for (int i = 0; i < 12800; ++i) {
            raw += i ? ",[40,3]" : "[40,3]";
        }
        return raw;
    }() + "]]}]}");
    const Outcome clean = Download(image);
    ASSERT_EQ(clean.files.size(), 1u);
    for (const Fault fault : {Fault::Dropped, Fault::Rejected}) {
        Line line;
        line.faults = {{20, fault}, {40, fault}};
        const Outcome o = Download(image, line);
        EXPECT_TRUE(o.files == clean.files);
        EXPECT_EQ(o.notes, clean.notes);
        EXPECT_LE(o.ms - clean.ms, 2000u) << static_cast<int>(fault);
        EXPECT_LE(o.reads.size(), clean.reads.size() + 6) << static_cast<int>(fault);
    }
}

TEST(FaultRecovery, ASilentReaderIsAskedUntilTheTimeOutThenHeldUntilTheRunGoesOn) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image);
    const Points p = PointsOf(image, clean);
    // Nothing comes for one request, or only damaged replies, for longer than
    // the 5 s time-out: asked at the time-out and then after 1 s and 2 s; or
    // at once after each damaged reply. Or the run is held from outside (a
    // question is open) while a reply is late: its answer is kept.
    struct Case {
        const char* name;
        Fault fault;
        int replies;
        size_t mostReads;
        bool heldOutside = false;
    };
    for (const Case c : {Case{"silent", Fault::Dropped, 4, 4},
                         Case{"damaged", Fault::LinkError, 60, 5000 / 154 + 2},
                         Case{"held while late", Fault::Late, 1, 1, true}}) {
        Line line;
        for (int n = p.data; n < p.data + c.replies; ++n) {
            line.faults[n] = c.fault;
        }
        Replay r(image);
        Prepare(r, line);
        r.host.Post(TM_DOWNLOAD_START, replay::kStartAll);
        r.host.Run(r.engine,
                   [&] { return c.heldOutside && r.host.Reads().size() == size_t(p.data); });
        if (c.heldOutside) {
            r.host.Post(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(DEV_HOLD, 0));
            r.host.Run(r.engine);
        }
        // No end, no error, nothing timed, nothing asked: the user's turn.
        EXPECT_TRUE(r.engine.Held()) << c.name;
        EXPECT_EQ(r.host.Count(DEV_DONE) + r.host.Count(DEV_COMM_ERROR), 0) << c.name;
        EXPECT_FALSE(r.engine.Quit()) << c.name;
        EXPECT_FALSE(r.engine.Deadline()) << c.name;
        const std::size_t reads = r.host.Reads().size();
        EXPECT_LE(reads, static_cast<size_t>(p.data) - 1 + c.mostReads) << c.name;
        // The run goes on where it stood: the files are those of a clean run.
        EXPECT_EQ(GoOnWhileHeld(r), 1) << c.name;
        EXPECT_EQ(r.host.notes.back().code, DEV_DONE) << c.name;
        EXPECT_TRUE(Files(r.dir) == clean.files) << c.name;
        EXPECT_LE(r.host.Reads().size(), clean.reads.size() + c.replies + 1) << c.name;
    }
}

TEST(FaultRecovery, AReplyToTheLastRunIsNotTakenByTheNext) {
    // The run ends (cancelled, say) while a late reply is on its way; the
    // next run on the same line starts before it comes.
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image);
    Replay r(image);
    Prepare(r, Line{{{3, Fault::Late}}, 3000, 0, 5000});
    r.host.Post(TM_DOWNLOAD_START, replay::kStartAll);
    r.host.Run(r.engine, [&] { return r.host.Reads().size() == 3; });
    ASSERT_EQ(r.host.RepliesDue(), 1u);
    r.host.Post(TM_WORKER_QUIT, 0);
    r.host.Run(r.engine);
    ASSERT_TRUE(r.engine.Quit());
    std::filesystem::remove_all(r.dir.File(""));
    std::filesystem::create_directories(r.dir.File(""));
    r.state.busy = false;
    r.host.notes.clear();
    r.host.filesOpened = 0;
    DownloadEngine next(r.state, r.host);
    r.host.Post(TM_DOWNLOAD_START, replay::kStartAll);
    r.host.Run(next);
    EXPECT_TRUE(Files(r.dir) == clean.files);
    std::vector<uint16_t> notes;
    for (const replay::Note& note : r.host.notes) {
        if (note.code != DEV_RECOVERED && note.code != DEV_ALIVE) {
            notes.push_back(note.code);
        }
    }
    EXPECT_EQ(notes, clean.notes);
}

}  // namespace
