// Which blocks the dump reads, over an in-memory reader: the chain, each log
// from its first block to the block of its end marker, every block once.

#include <gtest/gtest.h>

#include <set>

#include "support/SimTestSupport.h"
#include "tools/cli/MemoryDump.h"

namespace {

// The reader's memory as a block source; reads can be made to fail.
class ImageSource : public BlockSource {
  public:
    explicit ImageSource(const sim::MemoryImage& image) : image_(image) {}
    ReadStatus Read(uint32_t address, sim::Block* block) override {
        if (++reads_ == failAt_) {
            return ReadStatus::NoAnswer;
        }
        *block = image_.ReadBlock(address);
        return ReadStatus::Ok;
    }
    int reads_ = 0;
    int failAt_ = 0;  // 0: never

  private:
    const sim::MemoryImage& image_;
};

class NoProgress : public DumpObserver {
  public:
    void ChainRead(int, bool) override {}
    void BlockRead(int, int, int) override {}
    void LogRead(int, int, int blocks, bool headerValid) override {
        logBlocks.push_back(blocks);
        valid.push_back(headerValid);
    }
    std::vector<int> logBlocks;
    std::vector<bool> valid;
};

constexpr uint32_t kBlock = sim::kBlockUnits;

// The addresses from `from` on, one block apart, up to and including `to`.
std::vector<uint32_t> Blocks(uint32_t from, uint32_t to) {
    std::vector<uint32_t> addresses;
    for (uint32_t a = from; a <= to; a += kBlock) {
        addresses.push_back(a);
    }
    return addresses;
}

// The image agrees with the original over the blocks read and is erased elsewhere.
void ExpectCopiedOverBlocksRead(const DumpResult& dump, const sim::MemoryImage& original) {
    const std::set<uint32_t> read(dump.addresses.begin(), dump.addresses.end());
    ASSERT_EQ(read.size(), dump.addresses.size()) << "a block was read twice";
    for (uint32_t a = 0; a <= 0xFFFC0; a += kBlock) {
        const sim::Block expected = read.count(a) ? original.ReadBlock(a) : sim::Block{};
        const sim::Block got = dump.image.ReadBlock(a);
        if (read.count(a)) {
            ASSERT_EQ(got, expected) << "block " << a;
        } else {
            ASSERT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 0xFF; }))
                << "block " << a << " was not read but is not erased";
        }
    }
}

DumpResult Dump(const sim::MemoryImage& image, NoProgress* progress = nullptr) {
    ImageSource source(image);
    NoProgress none;
    return DumpMemory(source, progress != nullptr ? *progress : none);
}

// One fixed-mode channel: a 196-byte header block, then 2-byte records.
std::string OneChannelLog(int records, const std::string& more = "") {
    std::string values;
    for (int i = 0; i < records; ++i) {
        values += (i > 0 ? "," : "") + std::to_string(1 + i % 7);
    }
    return R"({"location":"L","channels":[{}],"values":[[)" + values + "]]" + more + "}";
}

TEST(MemoryDump, ReadsEachLogFromItsStartToTheBlockOfItsEndMarker) {
    // Data behind the markers is not 0xFF, so reading it would show.
    const sim::MemoryImage image =
        simtest::BuildImage(R"({"logs":[)" + OneChannelLog(30, R"(,"fill":17)") + "," +
                            OneChannelLog(29, R"(,"page":3,"fill":18)") + "," +
                            OneChannelLog(0, R"(,"fill":19)") + "]}");
    NoProgress progress;
    const DumpResult dump = Dump(image, &progress);
    EXPECT_EQ(dump.status, ReadStatus::Ok);
    EXPECT_EQ(dump.logs, 3);

    std::vector<uint32_t> expected = {0, 3 * 2048, 4 * 2048, 5 * 2048};  // the chain
    // Log 1: 196 + 2 x 30 = 256, so the marker opens the header's third block.
    for (uint32_t a : Blocks(kBlock, 448 + 2 * kBlock)) {
        expected.push_back(a);
    }
    // Log 2: the marker is the last byte of the header's second block.
    for (uint32_t a : Blocks(3 * 2048 + kBlock, 3 * 2048 + 448 + kBlock)) {
        expected.push_back(a);
    }
    // Log 3: no records, the marker right behind the header.
    for (uint32_t a : Blocks(4 * 2048 + kBlock, 4 * 2048 + 448 + kBlock)) {
        expected.push_back(a);
    }
    EXPECT_EQ(dump.addresses, expected);
    EXPECT_EQ(progress.logBlocks, (std::vector<int>{9, 8, 8}));
    ExpectCopiedOverBlocksRead(dump, image);
}

TEST(MemoryDump, AnInvalidHeaderIsReadToItsEndAndAnEmptyReaderIsOneBlock) {
    const sim::MemoryImage image = simtest::BuildImage(
        R"({"logs":[{"validityMark":[255,255,0],"channels":[{},{}],"values":[[1,2],[3,4]]},)"
        R"({"infoChannelCount":0,"values":[[1]]}, {}]})");
    NoProgress progress;
    const DumpResult dump = Dump(image, &progress);
    EXPECT_EQ(dump.status, ReadStatus::Ok);
    EXPECT_EQ(progress.valid, (std::vector<bool>{false, false, true}));
    // Two channels: a 280-byte header, three blocks. No channel: one block.
    EXPECT_EQ(progress.logBlocks, (std::vector<int>{7 + 3 - 1, 7 + 1 - 1, 7 + 2 - 1}));
    ExpectCopiedOverBlocksRead(dump, image);

    const DumpResult empty = Dump(sim::MemoryImage());
    EXPECT_EQ(empty.logs, 0);
    EXPECT_EQ(empty.addresses, std::vector<uint32_t>{0});
}

TEST(MemoryDump, ALoopingChainEndsAfterAThousandEntriesAndALogEndsWithTheMemory) {
    // Page 0 points at itself, and its log has no end marker: one channel of
    // zeros up to the last byte of the memory.
    sim::MemoryImage image;
    std::fill(image.Data(), image.Data() + image.Size(), 0x00);
    image.Data()[2 * 288 + 17] = '0';
    image.Data()[2 * 288 + 18] = '1';
    std::fill(image.Data() + 2 * 448, image.Data() + 2 * 448 + 3, 0xFF);
    const DumpResult dump = Dump(image);
    EXPECT_EQ(dump.status, ReadStatus::Ok);
    EXPECT_EQ(dump.logs, 1000);
    EXPECT_EQ(dump.addresses, Blocks(0, 0xFFFC0));
}

TEST(MemoryDump, AFailedReadEndsTheDumpWithItsAddress) {
    const sim::MemoryImage image = simtest::BuildImage(R"({"logs":[{}, {}]})");
    ImageSource source(image);
    source.failAt_ = 4;  // the chain's two entries, then the log's second block
    NoProgress progress;
    const DumpResult dump = DumpMemory(source, progress);
    EXPECT_EQ(dump.status, ReadStatus::NoAnswer);
    EXPECT_EQ(dump.failedAt, kBlock);
    EXPECT_EQ(source.reads_, 4);
}

}  // namespace
