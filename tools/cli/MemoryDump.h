#pragma once
// arvelo-cli dump: copies what a Download All reads of the reader's memory
// into a memory image of the virtual reader (tools/sim), so that the reader
// can be replayed with arvelo-sim serve.
//
// The walk reads the first block of every chain entry (the free memory behind
// the last log included), then every log from its first block on: the blocks
// before the header block, the header block, and the data up to and
// including the block that holds the first end-marker byte. A download
// decides everything from those bytes: the record cut by the marker is
// dropped whatever its other bytes hold, and nothing behind it is used. A log
// whose header block is not valid is read up to the end of its header block.
// Blocks are read once each, however often the chain points at them; blocks
// not read stay erased (0xFF) in the image.

#include <atomic>
#include <cstdint>
#include <vector>

#include "Serial/SERIAL.h"
#include "tools/sim/MemoryImage.h"

enum class ReadStatus { Ok, LinkFailed, NoAnswer, Interrupted };

// Where the blocks come from: the reader over the link, or an image in tests.
class BlockSource {
  public:
    virtual ~BlockSource() = default;
    // The 128-byte block at an address (a multiple of 64, at most 0xFFFC0).
    virtual ReadStatus Read(uint32_t address, sim::Block* block) = 0;
};

// Told of the walk's progress; every call is made on the dumping thread.
class DumpObserver {
  public:
    virtual ~DumpObserver() = default;
    // After each chain entry found (done false) and at the end of the chain.
    virtual void ChainRead(int logs, bool done) = 0;
    // After each block read for log `log` (from 1) of `logs`.
    virtual void BlockRead(int log, int logs, int blocks) = 0;
    virtual void LogRead(int log, int logs, int blocks, bool headerValid) = 0;
};

struct DumpResult {
    ReadStatus status = ReadStatus::Ok;
    sim::MemoryImage image;
    std::vector<uint32_t> addresses;  // of the blocks read, in reading order
    uint32_t failedAt = 0;            // the address whose read failed
    int logs = 0;
};

DumpResult DumpMemory(BlockSource& source, DumpObserver& observer);

// Reads blocks with the read command "M81" over a connected link whose client
// is the calling thread and whose notifications come as WM_DEVICE_NOTIFY. A
// read that fails (a link error, a short reply, no reply within the time-out)
// is sent again up to three times, once the line has been quiet for a moment.
class LinkBlockSource : public BlockSource {
  public:
    LinkBlockSource(CSerialLoader& link, uint32_t timeoutMs, const std::atomic<bool>& interrupted)
        : link_(link), timeoutMs_(timeoutMs), interrupted_(interrupted) {}

    ReadStatus Read(uint32_t address, sim::Block* block) override;

  private:
    // The reply to the read just sent.
    ReadStatus AwaitReply(sim::Block* block);
    // Drops the notifications of an earlier try until the line is quiet.
    void Settle();

    CSerialLoader& link_;
    const uint32_t timeoutMs_;
    const std::atomic<bool>& interrupted_;
};
