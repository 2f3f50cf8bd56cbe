#include "tools/cli/MemoryDump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "device/DeviceMessages.h"
#include "device/FixedText.h"
#include "device/ReaderMemory.h"
#include "platform/MessageQueue.h"
#include "platform/Time.h"

namespace {

using namespace reader;

constexpr int kRetries = 3;
constexpr uint32_t kQuietMs = 300;  // longer than the link waits for the rest of a reply
constexpr uint32_t kSliceMs = 100;  // how often a wait looks at the stop flag

// The blocks read so far, each read once.
class Walk {
  public:
    Walk(BlockSource& source, DumpResult& result)
        : source_(source), result_(result), read_((kLastAddress + 1) / kBlockUnits) {}

    // False when the read failed (the status is in the result). *fresh counts
    // the blocks that came over the line.
    bool Read(uint32_t address, int* fresh) {
        const std::size_t index = address / kBlockUnits;
        if (read_[index]) {
            return true;
        }
        sim::Block block;
        result_.status = source_.Read(address, &block);
        if (result_.status != ReadStatus::Ok) {
            result_.failedAt = address;
            return false;
        }
        result_.image.WriteBlock(address, block);
        result_.addresses.push_back(address);
        read_[index] = true;
        ++*fresh;
        return true;
    }
    const uint8_t* Bytes(uint32_t address) const { return result_.image.Data() + 2 * address; }

  private:
    BlockSource& source_;
    DumpResult& result_;
    std::vector<bool> read_;
};

// Reads one log; false when a read failed. *headerValid tells whether its
// header block carries the validity mark and a channel count above 0.
template <class OnBlock>
bool ReadLog(Walk& walk, uint32_t start, int* blocks, bool* headerValid, OnBlock onBlock) {
    const auto read = [&](uint32_t address) {
        const bool ok = walk.Read(address, blocks);
        onBlock();
        return ok;
    };
    for (uint32_t address = start; address < start + kHeaderBlockOffset; address += kBlockUnits) {
        if (!read(address)) {
            return false;
        }
    }
    const uint8_t* info = walk.Bytes(start + kInfoBlockOffset);
    const int channels =
        ParseInt(std::string_view(reinterpret_cast<const char*>(info) + kChannelCountByte, 2));
    const int64_t headerBytes = HeaderBytes(channels);
    const uint32_t header = start + kHeaderBlockOffset;
    bool headerRead = false;
    // The header block and the data records are one run of bytes.
    for (int64_t offset = 0;; offset += kBlockBytes) {
        const uint32_t address = header + static_cast<uint32_t>(offset / 2);
        if (address > kLastAddress) {
            return true;  // the memory ends before the log does
        }
        if (!read(address)) {
            return false;
        }
        if (offset + static_cast<int64_t>(kBlockBytes) < headerBytes) {
            continue;  // the header goes on
        }
        if (!headerRead) {
            headerRead = true;
            const uint8_t* mark = walk.Bytes(header);
            *headerValid = channels > 0 && HasHeaderMark(mark);
            if (!*headerValid) {
                return true;  // a download reads nothing behind it
            }
        }
        const uint8_t* bytes = walk.Bytes(address);
        for (int64_t k = std::max<int64_t>(0, headerBytes - offset);
             k < static_cast<int64_t>(kBlockBytes); ++k) {
            if (IsEndMarker(bytes[k])) {
                return true;
            }
        }
    }
}

}  // namespace

DumpResult DumpMemory(BlockSource& source, DumpObserver& observer) {
    DumpResult result;
    Walk walk(source, result);
    // The chain as a download walks it: log starts, then the free memory.
    std::vector<uint32_t> entries{0};
    int chainBlocks = 0;
    for (;;) {
        const uint32_t address = entries.back();
        if (!walk.Read(address, &chainBlocks)) {
            return result;
        }
        const uint8_t page = walk.Bytes(address)[kNextPageByte];
        const std::size_t found = entries.size() - 1;
        if (page == kNoNextPage || found >= static_cast<std::size_t>(kMaxLogs) ||
            address + kBlockUnits >= kLastAddress) {
            break;
        }
        entries.push_back(page * kPageUnits);
        observer.ChainRead(static_cast<int>(found + 1), false);
    }
    result.logs = static_cast<int>(entries.size() - 1);
    observer.ChainRead(result.logs, true);

    // A chain that comes back to a log reads the same bytes again: once is enough.
    std::map<uint32_t, bool> logsRead;  // start -> header valid
    for (int log = 1; log <= result.logs; ++log) {
        const uint32_t start = entries[log - 1];
        int blocks = 0;
        bool headerValid = true;
        if (const auto earlier = logsRead.find(start); earlier != logsRead.end()) {
            headerValid = earlier->second;
        } else if (!ReadLog(walk, start, &blocks, &headerValid,
                            [&] { observer.BlockRead(log, result.logs, blocks); })) {
            return result;
        }
        logsRead[start] = headerValid;
        observer.LogRead(log, result.logs, blocks, headerValid);
    }
    return result;
}

ReadStatus LinkBlockSource::Read(uint32_t address, sim::Block* block) {
    char payload[8];
    std::snprintf(payload, sizeof payload, "%.5X", address);
    ReadStatus status = ReadStatus::LinkFailed;
    for (int attempt = 0; attempt <= kRetries; ++attempt) {
        if (attempt > 0) {
            Settle();
        }
        if (interrupted_) {
            return ReadStatus::Interrupted;
        }
        link_.SendCommand(CMD_READ, payload, 5, platform::INFINITE);
        status = AwaitReply(block);
        if (status == ReadStatus::Ok || status == ReadStatus::Interrupted) {
            return status;
        }
    }
    return status;
}

ReadStatus LinkBlockSource::AwaitReply(sim::Block* block) {
    const uint64_t end = platform::TickCount() + timeoutMs_;
    platform::Message message;
    for (;;) {
        while (platform::PeekMessage(&message, WM_DEVICE_NOTIFY, WM_DEVICE_NOTIFY,
                                     platform::PM_REMOVE)) {
            const uint16_t kind = platform::LOWORD(message.wParam);
            // Each reply's payload is taken, used or not, so the next is its own.
            const uint8_t* payload = kind == LINK_REPLY ? link_.TakeReply() : nullptr;
            if (payload != nullptr && message.lParam == CMD_READ &&
                platform::HIWORD(message.wParam) >= kBlockBytes) {
                std::memcpy(block->data(), payload, kBlockBytes);
                return ReadStatus::Ok;
            }
            if (kind == LINK_REPLY || kind == LINK_ERROR) {
                return ReadStatus::LinkFailed;  // a short reply, a bad frame or a line error
            }
        }
        const uint64_t now = platform::TickCount();
        if (interrupted_) {
            return ReadStatus::Interrupted;
        }
        if (now >= end) {
            return ReadStatus::NoAnswer;
        }
        platform::WaitMessage(static_cast<uint32_t>(std::min<uint64_t>(end - now, kSliceMs)));
    }
}

void LinkBlockSource::Settle() {
    // A reply to the failed try may still be on its way; it must not be taken
    // for the reply to the next one.
    uint64_t quietUntil = platform::TickCount() + kQuietMs;
    platform::Message message;
    while (!interrupted_) {
        while (platform::PeekMessage(&message, WM_DEVICE_NOTIFY, WM_DEVICE_NOTIFY,
                                     platform::PM_REMOVE)) {
            if (platform::LOWORD(message.wParam) == LINK_REPLY) {
                link_.TakeReply();
            }
            quietUntil = platform::TickCount() + kQuietMs;
        }
        const uint64_t now = platform::TickCount();
        if (now >= quietUntil) {
            return;
        }
        platform::WaitMessage(
            static_cast<uint32_t>(std::min<uint64_t>(quietUntil - now, kSliceMs)));
    }
}
