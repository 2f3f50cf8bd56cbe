// Every fault the line can put on a reply, at the start, in the middle and at
// the end of a log, once or three times in a row: the engine asks again and
// the download ends exactly as it does on a clean line, without the user.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/ReplayHost.h"

namespace {

using replay::Fault;
using replay::Replay;

struct Outcome {
    std::map<std::string, std::string> files;  // name -> content, without the title block
    std::vector<uint16_t> notes;               // without the recovered counts
    std::vector<std::string> reads;
    int recovered = 0;
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

Outcome Download(const sim::MemoryImage& image, const std::map<int, Fault>& faults) {
    Replay r(image);
    r.SaveFiles();
    r.host.faults = faults;
    r.StartAll();
    Outcome o;
    o.files = Files(r.dir);
    for (const replay::Note& note : r.host.notes) {
        if (note.code == DEV_RECOVERED) {
            o.recovered = note.high;
        } else {
            o.notes.push_back(note.code);
        }
    }
    o.reads = r.host.Reads();
    o.ms = r.host.now;
    return o;
}

TEST(FaultRecovery, EveryFaultIsAskedForAgainAndTheFilesAreTheSame) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image, {});
    ASSERT_EQ(clean.files.size(), 3u);
    ASSERT_EQ(clean.notes.back(), DEV_DONE);
    // Replies answer the reads one for one: reply n is the answer to read n.
    // Where the second log starts (its information block), its middle and
    // its last block, the one with the end marker.
    const std::string info = replay::Hex(sim::LogStarts(image)[1] + reader::kInfoBlockOffset);
    const auto first = std::find(clean.reads.begin(), clean.reads.end(), info);
    ASSERT_NE(first, clean.reads.end());
    const int start = static_cast<int>(first - clean.reads.begin()) + 1;
    const auto next = std::find(clean.reads.begin(), clean.reads.end(),
                                replay::Hex(sim::LogStarts(image)[2] + reader::kInfoBlockOffset));
    const int end = static_cast<int>(next - clean.reads.begin());  // the log's last read
    const int middle = (start + end) / 2;

    for (const Fault fault : {Fault::LinkError, Fault::LineError, Fault::Rejected, Fault::Short,
                              Fault::Dropped, Fault::Late}) {
        for (const int at : {start, middle, end}) {
            for (const int times : {1, 3}) {
                std::map<int, Fault> faults;
                for (int t = 0; t < times; ++t) {
                    faults[at + t] = fault;  // the tries of one request
                }
                const Outcome o = Download(image, faults);
                const std::string where = "fault " + std::to_string(static_cast<int>(fault)) +
                                          " at reply " + std::to_string(at) + " x" +
                                          std::to_string(times);
                EXPECT_TRUE(o.files == clean.files) << where;
                EXPECT_EQ(o.notes, clean.notes) << where;
                EXPECT_GE(o.recovered, 1) << where;
                EXPECT_LE(o.recovered, times) << where;
                // Each fault costs about a second of line time at the most.
                EXPECT_LE(o.ms - clean.ms, static_cast<uint64_t>(1000 * times)) << where;
            }
        }
    }
}

TEST(FaultRecovery, ALateReplyIsNeverTakenForTheAnswerToTheNextRequest) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    const Outcome clean = Download(image, {});
    // Later than the time-out, and later still: each try of the request may
    // be answered, and each answer after the first is dropped. A reader that
    // is always slower than the time-out is waited for longer once seen.
    struct Late {
        uint64_t lateBy;
        uint64_t turnaround;
    };
    for (const Late late :
         {Late{400, 0}, Late{900, 0}, Late{2500, 0}, Late{0, 400}, Late{600, 900}}) {
        Replay r(image);
        r.SaveFiles();
        r.host.lateByMs = late.lateBy;
        r.host.turnaroundMs = late.turnaround;
        if (late.lateBy != 0) {
            r.host.faults = {{20, Fault::Late}, {21, Fault::Late}};
        }
        r.StartAll();
        const std::string where = "late by " + std::to_string(late.lateBy) + ", turnaround " +
                                  std::to_string(late.turnaround);
        EXPECT_TRUE(Files(r.dir) == clean.files) << where;
        EXPECT_EQ(r.host.notes.back().code, DEV_DONE) << where;
        // Asked again only until the reader's pace was known.
        EXPECT_LE(r.host.Reads().size(), clean.reads.size() + 4) << where;
    }
}

TEST(FaultRecovery, WhenTheTriesAreSpentASilentReaderIsLeftToTheWatchdog) {
    const sim::MemoryImage image = replay::Image(simtest::ThreeLogsJson());
    std::map<int, Fault> dropped;
    for (int n = 10; n < 14; ++n) {
        dropped[n] = Fault::Dropped;
    }
    Replay silent(image);
    silent.host.faults = dropped;
    silent.StartAll();
    // No end, no error, nothing timed: the watchdog's turn.
    EXPECT_EQ(silent.host.Count(DEV_DONE) + silent.host.Count(DEV_COMM_ERROR), 0);
    EXPECT_FALSE(silent.engine.Quit());
    EXPECT_FALSE(silent.engine.Deadline());
    // The user's resume reads the log again, past the replies still due.
    silent.host.Post(TM_DOWNLOAD_RESUME, 0);
    silent.host.Run(silent.engine);
    EXPECT_EQ(silent.host.notes.back().code, DEV_DONE);

    std::map<int, Fault> broken;
    for (int n = 10; n < 14; ++n) {
        broken[n] = Fault::LinkError;
    }
    EXPECT_EQ(Download(image, broken).notes.back(), DEV_COMM_ERROR);  // as it always did
}

}  // namespace
