#include "tools/sim/Faults.h"

#include <gtest/gtest.h>

#include "support/SimTestSupport.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;

const Bytes kReply = sim::MakeFrame("M80", Bytes(128, 0x42));

bool ChecksumHolds(const Bytes& frame) {
    return sim::Checksum(frame.data(), frame.size() - 1) == frame.back();
}

// The bytes sent for replies 1 to count.
std::vector<Bytes> Send(const sim::FaultOptions& options, int count, const Bytes& reply = kReply) {
    sim::FaultInjector faults(options);
    std::vector<Bytes> sent;
    for (int i = 0; i < count; ++i) {
        sent.push_back(faults.Shape(reply, sim::Clock::time_point{}));
    }
    return sent;
}

TEST(Faults, EachSwitchChangesOnlyTheRepliesItNames) {
    sim::FaultOptions options;
    options.badChecksum.at = 1;
    options.drop.every = 3;  // 3 and 6
    options.wrongHeader.at = 2;
    options.truncate.at = 4;
    options.truncateTo = 100;
    options.garbage.at = 5;
    options.garbageBytes = 20;
    const auto sent = Send(options, 7);

    EXPECT_FALSE(ChecksumHolds(sent[0]));
    EXPECT_TRUE(std::equal(kReply.begin(), kReply.end() - 1, sent[0].begin()));
    EXPECT_EQ(std::string(sent[1].begin() + 1, sent[1].begin() + 4), "M81");
    EXPECT_TRUE(ChecksumHolds(sent[1]));
    EXPECT_TRUE(sent[2].empty());
    EXPECT_EQ(sent[3], Bytes(kReply.begin(), kReply.begin() + 100));
    ASSERT_EQ(sent[4].size(), kReply.size() + 20);
    EXPECT_EQ(Bytes(sent[4].begin() + 20, sent[4].end()), kReply);
    // Noise that neither starts a frame nor ends one.
    EXPECT_EQ(std::count_if(sent[4].begin(), sent[4].begin() + 20,
                            [](std::uint8_t b) { return b == 0x01 || b == 0x03; }),
              0);
    EXPECT_TRUE(sent[5].empty());
    EXPECT_EQ(sent[6], kReply);

    options = {};
    options.truncate.every = 1;  // half by default
    EXPECT_EQ(Send(options, 1)[0].size(), kReply.size() / 2);
}

TEST(Faults, NoiseAlwaysBreaksTheChecksum) {
    // Garbling 0x00 and 0xFF together leaves the sum as it was; the run must go on.
    Bytes payload(128, 0x42);
    payload[0] = 0x00;
    payload[1] = 0xFF;
    const Bytes reply = sim::MakeFrame("M80", payload);
    sim::FaultOptions options;
    options.noise.at = 1;
    options.noiseBytes = 2;
    const Bytes sent = Send(options, 1, reply)[0];
    ASSERT_EQ(sent.size(), reply.size());
    EXPECT_FALSE(ChecksumHolds(sent));
    EXPECT_EQ(sent.back(), reply.back());
    EXPECT_EQ(std::mismatch(sent.begin(), sent.end(), reply.begin()).first - sent.begin(), 5);
}

TEST(Faults, StopsAfterKRepliesAndResumesLater) {
    sim::FaultOptions options;
    options.stopAfter = 2;
    options.resumeAfter = 100ms;
    sim::FaultInjector faults(options);
    const sim::Clock::time_point t0{};
    EXPECT_FALSE(faults.Shape(kReply, t0).empty());
    EXPECT_FALSE(faults.Shape(kReply, t0).empty());
    EXPECT_TRUE(faults.Shape(kReply, t0 + 1ms).empty());    // silent from here
    EXPECT_TRUE(faults.Shape(kReply, t0 + 100ms).empty());  // 99 ms into the silence
    EXPECT_FALSE(faults.Shape(kReply, t0 + 101ms).empty());

    options.resumeAfter = 0ms;
    sim::FaultInjector forever(options);
    forever.Shape(kReply, t0);
    forever.Shape(kReply, t0);
    EXPECT_TRUE(forever.Shape(kReply, t0 + 1h).empty());
}

TEST(Faults, ClearsTheValidityMarkOfOneLog) {
    sim::MemoryImage memory = simtest::BuildImage(R"({"logs": [{}, {}]})");
    const auto starts = sim::LogStarts(memory);
    std::string error;
    ASSERT_TRUE(sim::ClearValidityMark(memory, 2, &error));
    const std::uint8_t* second = memory.Data() + sim::HeaderBlockByte(starts[1]);
    EXPECT_EQ(Bytes(second, second + 3), (Bytes{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(memory.Data()[sim::HeaderBlockByte(starts[0]) + 2], 0xFF);
    EXPECT_FALSE(sim::ClearValidityMark(memory, 3, &error));
    EXPECT_EQ(error, "no log 3 in the chain (it holds 2)");
}

}  // namespace
