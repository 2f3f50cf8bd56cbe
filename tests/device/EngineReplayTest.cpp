// The download engine driven message by message, without threads, against
// the virtual reader's protocol core.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "datafile/StagedFile.h"
#include "device/FixedText.h"
#include "support/ReplayHost.h"

namespace {

// The next log the worker finished, into log; false when none is left.
bool Take(DeviceState& state, DeviceLog& log) {
    FinishedLog finished;
    if (!state.TakeFinishedLog(finished)) {
        return false;
    }
    log = std::move(finished.log);
    return true;
}

using replay::Hex;
using replay::Image;
using replay::kStartAll;
using replay::LongLogJson;
using replay::ReadFile;
using replay::Replay;
using replay::ReplayHost;

int CountLines(const std::string& text, const std::string& prefix) {
    int n = 0;
    for (std::size_t at = text.find("\r\n" + prefix); at != std::string::npos;
         at = text.find("\r\n" + prefix, at + 2)) {
        ++n;
    }
    return n;
}

constexpr char kTwoLogsPage5[] = R"({"logs":[
  {"location":"FIRST","channels":[{}],"values":[[1.0,2.0,3.0]]},
  {"page":5,"location":"SECOND","sampleMode":"LB","channels":[{},{}],"steps":[1,1,5],
   "raw":[[[10,20],[11,20],[12,20]],[[0,40],[1,40],[2,40]]],"endMarker":254}]})";

TEST(EngineReplay, TwoLogsSecondAtPageFive) {
    Replay r(kTwoLogsPage5);
    r.SaveFiles();
    r.StartAll();

    const std::vector<std::string> reads = r.host.Reads();
    ASSERT_GE(reads.size(), 8u);
    // Chain walk, then the first log's information and header blocks.
    EXPECT_EQ(std::vector<std::string>(reads.begin(), reads.begin() + 5),
              (std::vector<std::string>{"00000", "02800", "03000", "00120", "001C0"}));
    // The second log is read from 10240 + 288 and + 448.
    const auto secondInfo = std::find(reads.begin(), reads.end(), Hex(10528));
    ASSERT_NE(secondInfo, reads.end());
    EXPECT_EQ(*(secondInfo + 1), Hex(10688));

    const std::vector<replay::Note>& notes = r.host.notes;
    ASSERT_GE(notes.size(), 3u);
    EXPECT_EQ(notes[0].code, DEV_LOG_FOUND);
    EXPECT_EQ(notes[0].high, 1);
    EXPECT_EQ(notes[1].code, DEV_LOG_FOUND);
    EXPECT_EQ(notes[1].high, 2);
    EXPECT_EQ(notes[2].code, DEV_LOG_COUNT);
    EXPECT_EQ(notes[2].high, 2);
    EXPECT_EQ(r.host.Count(DEV_LOG_HEADER), 2);
    EXPECT_EQ(r.host.Count(DEV_LOG_OPEN_FILE), 2);
    EXPECT_EQ(r.host.Count(DEV_LOG_DONE), 1);
    EXPECT_EQ(notes.back().code, DEV_DONE);
    // The wait command goes out after the last log, before DEV_DONE.
    EXPECT_EQ(r.host.sent.back().code, CMD_WAIT);
    EXPECT_EQ(r.host.sent.back().payload, "@Wait@          ");
    EXPECT_EQ(r.host.lockDepth, 0);
    EXPECT_FALSE(r.engine.Quit());

    DeviceLog first, second;
    ASSERT_TRUE(Take(r.state, first));
    ASSERT_TRUE(Take(r.state, second));
    EXPECT_FALSE(Take(r.state, first));
    EXPECT_EQ(r.LocationOf(first).substr(0, 5), "FIRST");
    ASSERT_EQ(first.channel(0)->sampleCount(), 3);
    EXPECT_DOUBLE_EQ(first.channel(0)->sampleValue(2), 3.0);
    EXPECT_EQ(r.LocationOf(second).substr(0, 6), "SECOND");
    // Information block defaults of the image builder: type 10, "PEXIL", "DD".
    EXPECT_EQ(second.header().instrumentType, 10);
    ASSERT_EQ(second.channels().count(), 2);
    ASSERT_EQ(second.channel(1)->sampleCount(), 3);
    EXPECT_EQ(second.channel(1)->stepByte(2), 5);
    EXPECT_NEAR(second.channel(0)->sampleValue(0), (10 + 250 * 20) / 3000.0, 1e-12);
    EXPECT_NEAR(second.channel(1)->sampleValue(2), (2 + 250 * 40) / 3000.0, 1e-12);

    // Each log's file was written and closed: three and three data lines.
    const std::string file2 = ReadFile(r.dir.File("log2.omb"));
    EXPECT_NE(file2.find("[Data]         \r\n3\r\n"), std::string::npos);
    EXPECT_NE(file2.find("END OF DATA FILE"), std::string::npos);
    EXPECT_FALSE(r.state.IsFileOpen());
}

TEST(EngineReplay, ChainWalkEndsAtEmptyMemoryAndWhereThePagesLoop) {
    {
        Replay r{sim::MemoryImage()};
        r.StartAll();
        ASSERT_FALSE(r.host.notes.empty());
        EXPECT_EQ(r.host.notes[0].code, DEV_LOG_COUNT);
        EXPECT_EQ(r.host.notes[0].high, 0);
        EXPECT_EQ(r.host.Count(DEV_LOG_FOUND), 0);
        // The run is over: nothing more is asked, so nothing comes after it.
        EXPECT_EQ(r.host.sent.size(), 1u);
        EXPECT_EQ(r.host.notes.size(), 1u);
    }
    // A page that points back to an earlier one, or to itself: the walk ends
    // there, and the logs up to it are read once each.
    for (const uint8_t back : {0, 5}) {
        sim::MemoryImage image = replay::Image(kTwoLogsPage5);
        image.Data()[2 * 5 * 2048 + 32] = back;  // the second log's next page
        Replay r{std::move(image)};
        r.SaveFiles();
        r.StartAll();
        EXPECT_EQ(r.host.Count(DEV_LOG_FOUND), 2);
        EXPECT_EQ(r.host.Count(DEV_CHAIN_LOOP), 1);
        const auto count = std::find_if(r.host.notes.begin(), r.host.notes.end(),
                                        [](const auto& n) { return n.code == DEV_LOG_COUNT; });
        ASSERT_NE(count, r.host.notes.end());
        EXPECT_EQ(count->high, 2);
        EXPECT_EQ(r.host.Count(DEV_LOG_DONE), 1);
        EXPECT_EQ(r.host.notes.back().code, DEV_DONE);
        EXPECT_EQ(r.host.filesOpened, 2);
        const std::vector<std::string> reads = r.host.Reads();
        EXPECT_EQ(std::count(reads.begin(), reads.end(), "00000"), 1);
        EXPECT_EQ(std::count(reads.begin(), reads.end(), "02800"), 1);
    }
}

TEST(EngineReplay, AHeaderAnnouncingChannelsItHasNoRecordsForIsCorrupted) {
    // Two channel records in the header block; the header's own count.
    for (const auto& [count, corrupted] :
         std::vector<std::pair<std::string, bool>>{{"0", true},
                                                   {"\"-1\"", true},
                                                   {"3", true},
                                                   {"\"xx\"", true},
                                                   {"1", false},
                                                   {"2", false}}) {
        Replay r(R"({"logs":[{"location":"TWO","headerChannelCount":)" + count +
                 R"(,"channels":[{},{}],"values":[[1.0,2.0],[3.0,4.0]]}]})");
        r.SaveFiles();
        r.StartAll();
        EXPECT_EQ(r.host.Count(DEV_LOG_CORRUPT), corrupted ? 1 : 0) << count;
        // Nothing is named or written from a header that did not pass.
        EXPECT_EQ(r.host.Count(DEV_LOG_OPEN_FILE), corrupted ? 0 : 1) << count;
        EXPECT_EQ(r.host.Count(DEV_LOG_HEADER), corrupted ? 0 : 1) << count;
    }
}

TEST(EngineReplay, CorruptedHeaderIsRetriedFromItsInformationBlockThenSkipped) {
    Replay r(R"({"logs":[{"location":"ONE"},{"location":"BAD","validityMark":[255,255,0]},
                          {"location":"THREE"}]})");
    r.SaveFiles();
    r.StartAll();
    ASSERT_EQ(r.host.notes.back().code, DEV_LOG_CORRUPT);
    EXPECT_EQ(r.host.lockDepth, 0);
    const std::size_t sentAtCorrupt = r.host.sent.size();
    r.host.Run(r.engine);
    EXPECT_EQ(r.host.sent.size(), sentAtCorrupt);  // waits to be resumed

    // Three retries of the same log, from its information block.
    const std::string info = Hex(2048 + 288);
    for (int retry = 0; retry < 3; ++retry) {
        r.host.Post(TM_DOWNLOAD_RESUME, 0);
        r.host.Run(r.engine);
        EXPECT_EQ(r.host.sent[sentAtCorrupt + retry * 3].payload, info);
        EXPECT_EQ(r.host.notes.back().code, DEV_LOG_CORRUPT);
    }
    // The fourth resume gives the log up and goes on with the next one.
    r.host.Post(TM_DOWNLOAD_RESUME, 0);
    r.host.Run(r.engine);
    EXPECT_EQ(r.host.Count(DEV_LOG_SKIPPED), 1);
    EXPECT_EQ(r.host.Count(DEV_LOG_CORRUPT), 4);
    EXPECT_EQ(r.host.notes.back().code, DEV_DONE);
    EXPECT_EQ(r.host.Count(DEV_LOG_DONE), 1);  // after ONE; THREE ends the run
    DeviceLog log;
    ASSERT_TRUE(Take(r.state, log));
    EXPECT_EQ(r.LocationOf(log).substr(0, 3), "ONE");
    ASSERT_TRUE(Take(r.state, log));
    EXPECT_EQ(r.LocationOf(log).substr(0, 5), "THREE");
}

TEST(EngineReplay, LastLogCorruptEndsTheRunWhenTheBudgetIsSpent) {
    Replay r(R"({"logs":[{"location":"BAD","validityMark":[0,255,255]}]})");
    r.StartAll();
    for (int resume = 0; resume < 4; ++resume) {
        r.host.Post(TM_DOWNLOAD_RESUME, 0);
        r.host.Run(r.engine);
    }
    EXPECT_EQ(r.host.Count(DEV_LOG_CORRUPT), 4);
    EXPECT_EQ(r.host.notes.back().code, DEV_DONE);
    EXPECT_EQ(r.host.Count(DEV_LOG_SKIPPED), 0);
    // A log given up is not handed over: nothing of it is listed or counted.
    DeviceLog log;
    EXPECT_FALSE(Take(r.state, log));
}

TEST(EngineReplay, DamagedRepliesAreAskedForAgainAtOnceAndNoCountEndsTheRun) {
    Replay r(kTwoLogsPage5);
    r.host.faults = {{2, replay::Fault::LinkError},
                     {3, replay::Fault::Rejected},
                     {4, replay::Fault::LinkError},
                     {5, replay::Fault::Short},
                     {6, replay::Fault::LinkError}};
    r.StartAll();
    // The second read ("02800") failed five times and was sent again each
    // time, each as soon as the damaged reply was in.
    const std::vector<std::string> reads = r.host.Reads();
    EXPECT_EQ(std::count(reads.begin(), reads.begin() + 7, "02800"), 6);
    EXPECT_LE(r.host.now, 8 * 160u + 40 * 154u);
    EXPECT_EQ(r.host.Count(DEV_COMM_ERROR), 0);
    EXPECT_EQ(r.host.notes.back().code, DEV_DONE);
}

TEST(EngineReplay, ALineErrorRepeatsTheReadNotAStreamCommand) {
    // The reader reports a line error (code 0) instead of the first reply.
    Replay r(kTwoLogsPage5);
    r.host.faults = {{1, replay::Fault::LineError}};
    r.StartAll();
    ASSERT_GE(r.host.sent.size(), 2u);
    EXPECT_EQ(r.host.sent[1].code, CMD_READ);
    EXPECT_EQ(r.host.sent[1].payload, "00000");
    for (const replay::Sent& s : r.host.sent) {
        EXPECT_NE(s.code, CMD_STREAM);
    }
    EXPECT_EQ(r.host.notes.back().code, DEV_DONE);
}

TEST(EngineReplay, EndMarkersEndTheLogBeforeTheRecordTheyCut) {
    // A sample byte 0xFE in the second channel of the third record.
    Replay second(R"({"logs":[{"channels":[{},{}],
        "raw":[[[1,0],[2,0],[3,0],[4,0]],[[5,0],[6,0],[7,254],[8,0]]],"endMarker":253}]})");
    second.SaveFiles();
    second.StartAll();
    EXPECT_EQ(second.host.notes.back().code, DEV_DONE);
    DeviceLog log;
    ASSERT_TRUE(Take(second.state, log));
    // Every channel keeps the two records before it, the file the same two lines.
    EXPECT_EQ(log.channel(0)->sampleCount(), 2);
    EXPECT_EQ(log.channel(1)->sampleCount(), 2);
    EXPECT_NE(ReadFile(second.dir.File("log1.omb")).find("[Data]         \r\n2\r\n"),
              std::string::npos);

    // A step byte 0xFD ends the log even with ordinary sample bytes behind it.
    Replay step(R"({"logs":[{"sampleMode":"LA","channels":[{}],"steps":[1,2,253,4],
        "raw":[[[1,0],[2,0],[3,0],[4,0]]]}]})");
    step.StartAll();
    ASSERT_TRUE(Take(step.state, log));
    EXPECT_EQ(log.channel(0)->sampleCount(), 2);
}

TEST(EngineReplay, StepRecordsSplitAcrossRepliesAreDecodedWhole) {
    // 5-byte records (2 channels and a step byte) never line up with 128-byte blocks.
    std::string steps, a, b;
    for (int i = 0; i < 200; ++i) {
        steps += (i ? "," : "") + std::to_string(1 + i % 7);
        a += (i ? "," : "") + std::string("[") + std::to_string(i % 250) + ",1]";
        b += (i ? "," : "") + std::string("[") + std::to_string((i * 3) % 250) + ",2]";
    }
    Replay r(R"({"logs":[{"sampleMode":"LC","sampleRate":"00 00:00:00 3","channels":[{},{}],)"
             R"("steps":[)" +
             steps + "],\"raw\":[[" + a + "],[" + b + "]]}]}");
    r.StartAll();
    DeviceLog log;
    ASSERT_TRUE(Take(r.state, log));
    ASSERT_EQ(log.channel(0)->sampleCount(), 200);
    ASSERT_EQ(log.channel(1)->sampleCount(), 200);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(log.channel(0)->stepByte(i), 1 + i % 7) << i;
        ASSERT_NEAR(log.channel(1)->sampleValue(i), ((i * 3) % 250 + 500) / 3000.0, 1e-12) << i;
    }
}

TEST(EngineReplay, FullChannelsKeepTheFirst30000SamplesAndTheFileGetsEveryRecord) {
    Replay r(LongLogJson(30005));
    r.SaveFiles();
    r.StartAll();
    ASSERT_EQ(r.host.notes.back().code, DEV_DONE);
    DeviceLog log;
    ASSERT_TRUE(Take(r.state, log));
    EXPECT_EQ(log.channel(0)->sampleCount(), 30000);
    const std::string file = ReadFile(r.dir.File("log1.omb"));
    EXPECT_NE(file.find("[Data]     \r\n30005\r\n"), std::string::npos);
    // The last record, 30004 s after 2024-01-01 00:00:00, raw 30004 % 250 = 4.
    EXPECT_NE(file.find("\r\n2024/01/01 08:20:04.0       0.001\r\nEND OF DATA FILE"),
              std::string::npos);
    EXPECT_EQ(CountLines(file, "2024/"), 30005);
}

// A program killed while it waits for a reply leaves in the .partial the
// header and the lines of every block read: each block is in the file
// before the next one is asked for.
TEST(EngineReplay, EveryBlockIsInTheFileBeforeTheNextIsAskedFor) {
    struct Host final : ReplayHost {
        using ReplayHost::ReplayHost;
        void Send(int8_t code, const char* payload, int32_t length) override {
            beforeSend();
            ReplayHost::Send(code, payload, length);
        }
        std::function<void()> beforeSend;
    };
    simtest::TempDir dir;
    DeviceState state{replay::FixedTitleFile()};
    Host host(state, Image(LongLogJson(300)));
    host.directory = dir.File("");
    DownloadEngine engine(state, host);
    int checked = 0;
    host.beforeSend = [&] {
        if (!state.inData) {
            return;
        }
        const std::string file = ReadFile(PartialName(dir.File("log1.omb")));
        ASSERT_NE(file.find("[Data]         \r\n0\r\n"), std::string::npos);
        EXPECT_EQ(CountLines(file, "2024/"), state.CurrentLog()->channel(0)->sampleCount());
        ++checked;
    };
    host.Post(TM_DOWNLOAD_START, kStartAll);
    host.Run(engine);
    ASSERT_EQ(host.notes.back().code, DEV_DONE);
    EXPECT_EQ(checked, 5);  // 300 records of 2 bytes: the fifth block ends the log
}

TEST(EngineReplay, ALogRunningToTheEndOfMemoryEndsThere) {
    // A first log pointing to page 253, whose log points to the erased page
    // 1; the second log fills the memory to its last address without a marker.
    sim::MemoryImage image = Image(R"({"logs":[{"location":"FIRST"},
        {"page":253,"location":"LAST","channels":[{}],"raw":[[[1,0]]],"endMarker":"none"}]})");
    const std::size_t data = 2 * (253 * 2048 + 448) + 112 + 84;
    std::fill(image.Data() + data, image.Data() + image.Size(), 7);
    image.Data()[2 * 253 * 2048 + 32] = 1;
    Replay r{std::move(image)};
    r.state.saveDuringDownload = false;
    r.StartAll();
    ASSERT_EQ(r.host.notes.back().code, DEV_DONE);
    const std::vector<std::string> reads = r.host.Reads();
    EXPECT_EQ(reads.back(), "FFFC0");
    for (const std::string& read : reads) {
        ASSERT_EQ(read.size(), 5u);
    }
    DeviceLog first, last;
    ASSERT_TRUE(Take(r.state, first));
    ASSERT_TRUE(Take(r.state, last));
    EXPECT_EQ(last.channel(0)->sampleCount(), 30000);
}

TEST(EngineReplay, WideRecordsCountTheirBlocksFromTheBytes) {
    // 70 channels: 140-byte records, more than one block each.
    std::string channels, raw;
    for (int j = 0; j < 70; ++j) {
        channels += j ? ",{}" : "{}";
        raw += j ? ",[[1,0],[2,0]]" : "[[1,0],[2,0]]";
    }
    Replay r(R"({"logs":[{"sampleRate":"00 00:00:01 0","startTime":"00:00:00 01/01/24",)"
             R"("endTime":"10:00:00 01/01/24","channels":[)" +
             channels + "],\"raw\":[" + raw + "]}]}");
    r.StartAll();
    const auto total = std::find_if(r.host.notes.begin(), r.host.notes.end(),
                                    [](const auto& n) { return n.code == DEV_BLOCK_TOTAL; });
    ASSERT_NE(total, r.host.notes.end());
    EXPECT_EQ(total->value, 10 * 140 / 128);
    DeviceLog log;
    ASSERT_TRUE(Take(r.state, log));
    EXPECT_EQ(log.channels().count(), 70);
    EXPECT_EQ(log.channel(69)->sampleCount(), 2);
}

TEST(EngineReplay, TheSingleLogStreamKeepsTheDefaultInstrumentInformation) {
    Replay r(R"({"logs":[{"location":"STREAMED","instrumentType":6,"instrumentName":"WENDROW",
        "channels":[{},{}],"values":[[1.5,2.5],[3.5,4.5]]}]})");
    r.host.Post(TM_DOWNLOAD_START, platform::MAKEWPARAM(CMD_STREAM, 0));
    r.host.Run(r.engine);
    ASSERT_EQ(r.host.notes.back().code, DEV_DONE);
    EXPECT_EQ(r.host.sent.front().code, CMD_STREAM);
    EXPECT_EQ(r.host.sent.front().payload, "00000");
    EXPECT_EQ(r.host.sent[1].payload, Hex(128));  // the stream counts bytes
    DeviceLog log;
    ASSERT_TRUE(Take(r.state, log));
    EXPECT_EQ(r.LocationOf(log).substr(0, 8), "STREAMED");
    EXPECT_EQ(log.header().instrumentType, 10);
    EXPECT_EQ(FieldText(log.header().instrumentTypeName), "PEXIL    ");
    ASSERT_EQ(log.channel(1)->sampleCount(), 2);
    EXPECT_DOUBLE_EQ(log.channel(1)->sampleValue(1), 4.5);
}

TEST(EngineReplay, EraseReadBackAndRepliesToOtherCommands) {
    // The read-back is asked for again when its reply is lost or damaged.
    for (const auto& faults : std::vector<std::map<int, replay::Fault>>{
             {}, {{1, replay::Fault::Dropped}}, {{1, replay::Fault::Rejected}}}) {
        Replay r{sim::MemoryImage()};
        r.host.faults = faults;
        r.state.eraseMode = true;
        r.host.Post(TM_DOWNLOAD_START, replay::kStartAll);  // as the controller asks for it
        r.host.Run(r.engine);
        EXPECT_EQ(r.host.Reads(), std::vector<std::string>(faults.empty() ? 1 : 2, "00000"));
        ASSERT_EQ(r.host.notes.size(), faults.empty() ? 1u : 2u);
        EXPECT_EQ(r.host.notes.back().code, DEV_ERASE_RESULT);
        EXPECT_EQ(r.host.notes.back().high, 0);
    }
    {
        Replay r(kTwoLogsPage5);
        r.state.eraseMode = true;
        r.host.Post(TM_DOWNLOAD_START, replay::kStartAll);
        r.host.Run(r.engine);
        r.host.Post(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(LINK_REPLY, 0), CMD_WAIT);
        r.host.Run(r.engine);
        ASSERT_EQ(r.host.notes.size(), 2u);
        EXPECT_EQ(r.host.notes[0].high, 1);  // not erased
        EXPECT_EQ(r.host.notes[1].code, DEV_UNEXPECTED);
        EXPECT_EQ(r.host.sent.size(), 1u);  // the read-back alone
    }
}

TEST(EngineReplay, AFileThatDoesNotOpenEndsTheWorker) {
    Replay r(kTwoLogsPage5);
    r.state.saveDuringDownload = true;
    r.host.answerOpenFile = [] {};  // the main thread never opens it
    r.StartAll();
    EXPECT_TRUE(r.engine.Quit());
    EXPECT_EQ(r.host.notes.back().code, DEV_LOG_OPEN_FILE);
    EXPECT_EQ(r.host.Reads().back(), "00200");  // the header's last block; nothing after it

    // With saving suppressed nothing is opened and the logs are still decoded.
    Replay off(kTwoLogsPage5);
    off.host.answerOpenFile = [] {};
    off.StartAll();
    EXPECT_EQ(off.host.notes.back().code, DEV_DONE);
    DeviceLog log;
    EXPECT_TRUE(Take(off.state, log));
    EXPECT_EQ(log.channel(0)->sampleCount(), 3);
}

TEST(EngineReplay, StopAndQuitEndTheLoopAndASecondStartIsIgnored) {
    Replay r(kTwoLogsPage5);
    r.host.Post(TM_DOWNLOAD_START, kStartAll);
    r.host.Post(TM_DOWNLOAD_START, kStartAll);
    r.host.Run(r.engine);
    EXPECT_EQ(r.host.Reads()[1], "02800");  // one walk, not two
    EXPECT_EQ(r.host.Count(DEV_LOG_COUNT), 1);
    EXPECT_EQ(r.engine.QueueFloor(), WM_DEVICE_NOTIFY);

    Replay stop(kTwoLogsPage5);
    stop.host.Post(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(DEV_STOP, 0));
    stop.host.Run(stop.engine);
    EXPECT_TRUE(stop.engine.Quit());
}

}  // namespace

namespace {

TEST(DeviceState, AStopEndsTheWaitForTheFileEvenWhenItCameFirst) {
    // A cancel at the moment a header completes: the stop comes before the
    // worker arms its wait for the file; no later reset undoes it.
    DeviceState state{std::make_unique<StagedDataFile>()};
    state.RequestStop();
    state.ResetOutputFileAnswer();
    const auto started = std::chrono::steady_clock::now();
    state.AwaitOutputFile();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

}  // namespace

namespace {

TEST(EngineReplay, TheChainBoundsTheBlockCountOfEveryLogButTheLast) {
    // A log in a step mode: its start and end dates a day apart at a base
    // interval of a second promise hundreds of times the blocks it has.
    std::string raw;
    std::string steps;
    for (int i = 0; i < 600; ++i) {
        raw += (i ? "," : "") + std::string("[") + std::to_string(i % 250) + ",0]";
        steps += (i ? "," : "") + std::string("5");
    }
    Replay r(R"({"logs":[{"sampleMode":"LB","sampleRate":"00 00:00:01 0",)"
             R"("startTime":"00:00:00 01/01/24","endTime":"00:00:00 02/01/24",)"
             R"("channels":[{}],"steps":[)" +
             steps + R"(],"raw":[[)" + raw +
             R"(]]},)"
             R"({"location":"LAST","channels":[{}],"values":[[1.0]]}]})");
    r.StartAll();
    std::vector<intptr_t> totals;
    int blocks = 0;
    for (const replay::Note& note : r.host.notes) {
        if (note.code == DEV_BLOCK_TOTAL) {
            totals.push_back(note.value);
        } else if (note.code == DEV_BLOCK && totals.size() == 1) {
            ++blocks;
        }
    }
    ASSERT_EQ(totals.size(), 2u);
    EXPECT_GE(totals[0] + 1, blocks);
    EXPECT_LE(totals[0], blocks + 33);  // within the page the log ends in
}

}  // namespace

// A survey reads each log's header and finds where its data ends in a few
// blocks, whatever its header's span says: the counts are those a download
// gets, a corrupted header counts -1, and nothing is written or read beyond.
TEST(EngineReplay, ASurveyCountsEveryLogsSamplesFromAFewBlocks) {
    const auto records = [](int n, const std::string& extra = "") {
        std::string raw;
        for (int i = 0; i < n; ++i) {
            raw += (i ? "," : "") + std::string("[") + std::to_string(i % 250) + ",0]";
        }
        return R"({"location":"L)" + std::to_string(n) + R"(","channels":[{}],"raw":[[)" + raw +
               "]]" + extra + "}";
    };
    struct Case {
        const char* name;
        std::string json;
        std::vector<int64_t> samples;  // -1: not readable; none: as the download counts
    };
    const std::vector<Case> cases = {
        {"three logs, one in a step mode", simtest::ThreeLogsJson(), {}},
        {"two logs, the second at page five", kTwoLogsPage5, {}},
        {"spans the headers do not tell",
         R"({"logs":[)" + records(0) + "," + records(1) + "," + records(64) + "," + records(2000) +
             "]}",
         {}},
        {"a span the header tells", LongLogJson(700), {}},
        {"a corrupted header between two logs",
         R"({"logs":[)" + records(5) + "," + records(9, R"(,"validityMark":[255,255,0])") + "," +
             records(7) + "]}",
         {5, -1, 7}},
    };
    for (const Case& c : cases) {
        const sim::MemoryImage image = Image(c.json);
        std::vector<int64_t> expected = c.samples;
        std::size_t downloadReads = 0;
        if (expected.empty()) {
            Replay download{sim::MemoryImage(image)};
            download.StartAll();
            downloadReads = download.host.Reads().size();
            for (DeviceLog log; Take(download.state, log);) {
                expected.push_back(log.channel(0)->sampleCount());
            }
        }
        Replay survey{sim::MemoryImage(image)};
        survey.state.surveyOnly = true;
        survey.StartAll();
        std::vector<int64_t> counted;
        for (const replay::Note& note : survey.host.notes) {
            if (note.code == DEV_LOG_SURVEYED) {
                counted.push_back(note.value);
            }
        }
        EXPECT_EQ(counted, expected) << c.name;
        EXPECT_EQ(survey.host.notes.back().code, DEV_DONE) << c.name;
        EXPECT_EQ(survey.host.Count(DEV_LOG_OPEN_FILE) + survey.host.Count(DEV_BLOCK), 0) << c.name;
        EXPECT_EQ(survey.host.lockDepth, 0) << c.name;
        // The chain, then per log its information and header blocks and the
        // halving over its pages (up to 256 blocks; the last log's run to the
        // end of the memory: 16384).
        const std::size_t logs = expected.size();
        EXPECT_LE(survey.host.Reads().size(), logs + 1 + logs * (1 + 2 + 9) + 6) << c.name;
        if (downloadReads > 100) {
            EXPECT_LT(survey.host.Reads().size() * 4, downloadReads) << c.name;
        }
        for (DeviceLog log; Take(survey.state, log);) {
            EXPECT_EQ(log.channel(0) != nullptr ? log.channel(0)->sampleCount() : 0, 0) << c.name;
        }
    }
}
