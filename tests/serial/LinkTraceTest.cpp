// The trace of the serial link: the file's line format, two threads writing at
// once, and what CSerialLoader records of a real exchange.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <thread>

#include "Serial/CSerialLoader.h"
#include "Serial/LinkTrace.h"
#include "platform/MessageQueue.h"
#include "platform/SerialPort.h"
#include "support/FarEnd.h"
#include "support/SimTestSupport.h"
#include "support/TestLoader.h"

using namespace platform;

namespace {

constexpr uint32_t kNotify = 0x8190;

using simtest::TempDir;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// 7 December 2026, 12:03:04.123 local time.
std::chrono::system_clock::time_point FixedTime() {
    std::tm parts{};
    parts.tm_year = 126;
    parts.tm_mon = 11;
    parts.tm_mday = 7;
    parts.tm_hour = 12;
    parts.tm_min = 3;
    parts.tm_sec = 4;
    parts.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&parts)) +
           std::chrono::milliseconds(123);
}

TEST(FileLinkTrace, WritesOneStampedLineWithHexAndTextPerFrame) {
    TempDir dir;
    const std::string path = dir.File("trace.txt");
    {
        std::ofstream(path) << "earlier run\n";  // appended to, not replaced
        std::string error;
        auto trace = FileLinkTrace::Open(path, &error, FixedTime);
        ASSERT_TRUE(trace) << error;
        const uint8_t sent[] = {0x01, 'M', '8', '1', 0x02, '0', '0', '1', '2', '0', 0x03, 0x7F};
        trace->Frame(TraceDirection::Sent, sent, sizeof sent, "");
        const uint8_t got[] = {0x01, 'M', '8', '0', 0x02, 0xFF, 0x00, 0x03, 0x40};
        trace->Frame(TraceDirection::Received, got, sizeof got, "bad checksum, rejected");
        trace->Note("disconnected");
    }
    EXPECT_EQ(Lines(path),
              (std::vector<std::string>{
                  "earlier run",
                  "12:03:04.123 == trace opened 2026-12-07",
                  "12:03:04.123 -> 01 4D 38 31 02 30 30 31 32 30 03 7F  |.M81.00120..|",
                  "12:03:04.123 <- 01 4D 38 30 02 FF 00 03 40  |.M80....@|  bad checksum, rejected",
                  "12:03:04.123 == disconnected",
              }));

    std::string error;
    EXPECT_FALSE(FileLinkTrace::Open(dir.File("no/such/folder/trace.txt"), &error));
    EXPECT_FALSE(error.empty());
}

TEST(FileLinkTrace, LinesOfTwoThreadsNeverMix) {
    TempDir dir;
    const std::string path = dir.File("trace.txt");
    constexpr int kLines = 400;
    {
        auto trace = FileLinkTrace::Open(path, nullptr);
        ASSERT_TRUE(trace);
        auto write = [&](TraceDirection direction, uint8_t fill) {
            const std::vector<uint8_t> frame(135, fill);
            for (int i = 0; i < kLines; ++i) {
                trace->Frame(direction, frame.data(), frame.size(), "");
            }
        };
        std::thread sender(write, TraceDirection::Sent, 0x4D);
        write(TraceDirection::Received, 0x30);
        sender.join();
    }
    const std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), 1u + 2 * kLines);
    const std::regex sent(R"(\d\d:\d\d:\d\d\.\d{3} ->( 4D){135}  \|M{135}\|)");
    const std::regex got(R"(\d\d:\d\d:\d\d\.\d{3} <-( 30){135}  \|0{135}\|)");
    int sentLines = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const bool isSent = std::regex_match(lines[i], sent);
        EXPECT_TRUE(isSent || std::regex_match(lines[i], got)) << lines[i];
        sentLines += isSent;
        EXPECT_LE(lines[i - 1].substr(0, 12), lines[i].substr(0, 12)) << "out of time order";
    }
    EXPECT_EQ(sentLines, kLines);
}

// Keeps what the link records, for the test thread to look at.
class RecordingTrace : public LinkTrace {
  public:
    struct Entry {
        std::string kind;  // "->", "<-" or "=="
        std::vector<uint8_t> bytes;
        std::string text;  // the remark or the note
    };
    void Frame(TraceDirection direction, const uint8_t* bytes, size_t count,
               std::string_view remark) override {
        std::lock_guard<std::mutex> lock(lock_);
        entries_.push_back({direction == TraceDirection::Sent ? "->" : "<-",
                            std::vector<uint8_t>(bytes, bytes + count), std::string(remark)});
    }
    void Note(std::string_view text) override {
        std::lock_guard<std::mutex> lock(lock_);
        entries_.push_back({"==", {}, std::string(text)});
    }
    std::vector<Entry> Entries() {
        std::lock_guard<std::mutex> lock(lock_);
        return entries_;
    }
    // Waits until that many entries are in.
    bool AwaitEntries(std::size_t count) {
        for (int i = 0; i < 400 && Entries().size() < count; ++i) {
            Sleep(5);
        }
        return Entries().size() >= count;
    }

  private:
    std::mutex lock_;
    std::vector<Entry> entries_;
};

TEST(LinkTrace, RecordsCommandsRepliesWithTheirFateAndLineErrors) {
    FarEnd far;
    ASSERT_TRUE(far.Ok());
    auto trace = std::make_shared<RecordingTrace>();
    TestLoader link;
    link.SetTrace(trace);
    ASSERT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 0);

    ASSERT_EQ(link.SendCommand(18, "001C0", 5, INFINITE).bytes, 12);
    const std::vector<uint8_t> command = far.Read(12, 2000);
    const std::vector<uint8_t> good = Frame("M80", std::vector<uint8_t>(128, 0x41));
    ASSERT_TRUE(far.Write(good));
    ASSERT_TRUE(trace->AwaitEntries(3));

    std::vector<uint8_t> bad = Frame("M80", std::vector<uint8_t>(128, 0x42));
    bad.back() ^= 0x01;
    ASSERT_TRUE(far.Write(bad));
    ASSERT_TRUE(trace->AwaitEntries(4));

    link.m_hPort.Get()->InjectLineErrors(CE_FRAME);
    ASSERT_TRUE(far.Write(Frame("M81", {})));  // not a reply: noise
    ASSERT_TRUE(trace->AwaitEntries(6));
    EXPECT_EQ(link.Close(), 0);

    const std::vector<RecordingTrace::Entry> entries = trace->Entries();
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[0].text, "connected to " + far.Path());
    EXPECT_EQ(entries[1].kind, "->");
    EXPECT_EQ(entries[1].bytes, command);
    EXPECT_EQ(entries[1].text, "");
    EXPECT_EQ(entries[2].kind, "<-");
    EXPECT_EQ(entries[2].bytes, good);
    EXPECT_EQ(entries[2].text, "");
    EXPECT_EQ(entries[3].bytes, bad);
    EXPECT_EQ(entries[3].text, "bad checksum, rejected");
    EXPECT_EQ(entries[4].kind, "==");
    EXPECT_EQ(entries[4].text, "line error flags 0x0008");
    EXPECT_EQ(entries[5].text, "7 bytes outside any reply frame, skipped");
    EXPECT_EQ(entries[6].text, "disconnected");

    // Switched off, nothing more is recorded.
    link.SetTrace(nullptr);
    ASSERT_EQ(link.Connect(far.Path().c_str(), CurrentThreadId(), kNotify, 0), 0);
    ASSERT_GT(link.SendCommand(18, "00000", 5, INFINITE).bytes, 0);
    EXPECT_EQ(link.Close(), 0);
    EXPECT_EQ(trace->Entries().size(), 7u);
}

}  // namespace
