#include "tools/sim/Reader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "support/SimTestSupport.h"

namespace {

using sim::Bytes;
using simtest::Command;

// Feeds bytes and collects what the unit makes of them.
std::vector<sim::Exchange> Feed(sim::Reader& reader, const Bytes& bytes) {
    std::vector<sim::Exchange> exchanges;
    for (const std::uint8_t b : bytes) {
        if (auto e = reader.Receive(b)) {
            exchanges.push_back(std::move(*e));
        }
    }
    return exchanges;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(Reader, ReadRepliesMatchTheFrameRulesByteForByte) {
    sim::MemoryImage memory;
    for (int i = 0; i < 128; ++i) {
        memory.Data()[2 * 0x120 + i] = static_cast<std::uint8_t>(i);
    }
    std::fill(memory.Data() + memory.Size() - 32, memory.Data() + memory.Size(), 0x11);
    sim::Reader reader(memory);
    // "M81" "00120" framed by hand: 1 + 77 + 56 + 49 + 2 + 243 + 3 = 431, low byte 0xAF.
    const Bytes read120 = {0x01, 'M', '8', '1', 0x02, '0', '0', '1', '2', '0', 0x03, 0xAF};
    auto exchanges = Feed(reader, read120);
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].command.text, "M81");
    EXPECT_EQ(exchanges[0].command.PayloadText(), "00120");
    EXPECT_TRUE(exchanges[0].command.checksumOk);
    // 1 + 'M' 77 + '8' 56 + '0' 48 + 2 + (0 + ... + 127 = 8128) + 3 = 8315, low byte 0x7B.
    Bytes expected = {0x01, 'M', '8', '0', 0x02};
    for (int i = 0; i < 128; ++i) {
        expected.push_back(static_cast<std::uint8_t>(i));
    }
    expected.push_back(0x03);
    expected.push_back(0x7B);
    EXPECT_EQ(exchanges[0].reply, expected);

    // An erased block: 184 + 128 x 255 + 3 = 32827, low byte 0x3B.
    exchanges = Feed(reader, Command("M81", "00000"));
    ASSERT_EQ(exchanges.size(), 1u);
    ASSERT_EQ(exchanges[0].reply.size(), 135u);
    EXPECT_EQ(exchanges[0].reply[5], 0xFF);
    EXPECT_EQ(exchanges[0].reply[134], 0x3B);

    // Lower-case digits do; bytes past the end of memory read 0xFF.
    exchanges = Feed(reader, Command("M81", "ffff0"));
    ASSERT_EQ(exchanges.size(), 1u);
    const Bytes& reply = exchanges[0].reply;
    ASSERT_EQ(reply.size(), 135u);
    EXPECT_EQ(std::count(reply.begin() + 5, reply.begin() + 37, 0x11), 32);
    EXPECT_EQ(std::count(reply.begin() + 37, reply.begin() + 133, 0xFF), 96);
}

TEST(Reader, StreamsTheLastLogFromItsHeaderBlock) {
    const sim::MemoryImage memory =
        simtest::BuildImage(R"({"logs": [{"location": "FIRST"}, {"location": "LAST"}]})");
    sim::Reader reader(memory);
    const std::size_t header = sim::HeaderBlockByte(sim::LogStarts(memory).back());
    auto exchanges = Feed(reader, Command("M80", "00000"));
    ASSERT_EQ(exchanges.size(), 1u);
    const Bytes& reply = exchanges[0].reply;
    ASSERT_EQ(reply.size(), 135u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 5), (Bytes{0x01, 'M', '8', '0', 0x02}));
    EXPECT_EQ(std::string(reply.begin() + 8, reply.begin() + 12), "LAST");
    EXPECT_EQ(reply[133], 0x03);
    EXPECT_EQ(reply[134], std::accumulate(reply.begin(), reply.begin() + 134, 0u) & 0xFF);

    // Byte addressing: 0x80 is the second 128 bytes.
    exchanges = Feed(reader, Command("M80", "00080"));
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(Bytes(exchanges[0].reply.begin() + 5, exchanges[0].reply.end() - 2),
              Bytes(memory.Data() + header + 128, memory.Data() + header + 256));

    // Without a log there is nothing to stream.
    sim::Reader empty{sim::MemoryImage()};
    exchanges = Feed(empty, Command("M80", "00000"));
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_TRUE(exchanges[0].reply.empty());
}

TEST(Reader, IgnoresBadFramesAndFindsTheNextOne) {
    sim::Reader reader{sim::MemoryImage()};
    Bytes bad = Command("M81", "00000");
    bad.back() ^= 0x01;
    Bytes cut = Command("M80", "00000");
    cut.resize(6);  // cut short by the next frame's 0x01
    const auto exchanges =
        Feed(reader, Concat({Bytes{0x7F, 'x', 0x03, 0x02}, bad, cut, Command("M81", "00040"),
                             Command("M81", "0004G"), Command("F24", ""), Command("E", ""),
                             Command("ZZ", "1")}));
    ASSERT_EQ(exchanges.size(), 6u);
    EXPECT_FALSE(exchanges[0].command.checksumOk);
    EXPECT_TRUE(exchanges[0].reply.empty());
    EXPECT_EQ(exchanges[1].command.PayloadText(), "00040");
    EXPECT_EQ(exchanges[1].reply.size(), 135u);
    for (std::size_t i = 2; i < exchanges.size(); ++i) {
        EXPECT_TRUE(exchanges[i].command.checksumOk) << i;
        EXPECT_TRUE(exchanges[i].reply.empty()) << exchanges[i].command.text;
    }
}

TEST(Reader, EraseSequenceLeavesAnErasedMemory) {
    sim::Reader reader(simtest::BuildImage(R"({"logs": [{}, {}]})"));
    ASSERT_EQ(sim::LogStarts(reader.Memory()).size(), 2u);
    const auto exchanges =
        Feed(reader, Concat({Command("{10", "0000G00000000000"), Command("|10", "@Wait@          "),
                             sim::MakeFrame("M81", Bytes(128, 0xFF)), Command("M81", "00000")}));
    ASSERT_EQ(exchanges.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(exchanges[i].reply.empty()) << i;
    }
    EXPECT_TRUE(exchanges[0].memoryChanged);
    EXPECT_FALSE(exchanges[1].memoryChanged);
    EXPECT_EQ(exchanges[2].command.payload.size(), 128u);
    ASSERT_EQ(exchanges[3].reply.size(), 135u);
    EXPECT_EQ(exchanges[3].reply[5], 0xFF);
    EXPECT_EQ(exchanges[3].reply[6], 0xFF);
    EXPECT_TRUE(reader.Memory() == sim::MemoryImage());
}

TEST(Reader, BlockWritesGoToTheWritePosition) {
    sim::Reader reader{sim::MemoryImage()};
    // Frame bytes inside the data; a 0x03 after 5 bytes would end a read frame.
    Bytes first(128);
    std::iota(first.begin(), first.end(), 0);
    Bytes second(128, 0x03);
    second[5] = 0x01;
    const auto exchanges =
        Feed(reader, Concat({Command("{10", "0000G00000000000"), sim::MakeFrame("M81", first),
                             sim::MakeFrame("M81", second)}));
    ASSERT_EQ(exchanges.size(), 3u);
    const std::uint8_t* m = reader.Memory().Data();
    EXPECT_EQ(Bytes(m, m + 128), first);
    EXPECT_EQ(Bytes(m + 128, m + 256), second);
    EXPECT_EQ(m[256], 0xFF);
}

}  // namespace
