// The download engine in a survey: where each log's data ends, found by
// reading a few blocks instead of the whole log.

#include <algorithm>
#include <cstdint>

#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"

using namespace reader;

void DownloadEngine::BeginEndSearch(const DeviceLog& log, int headerBytes) {
    EndSearch search;
    search.base = logStart_ + kHeaderBlockOffset;
    search.dataStart = headerBytes;
    // The log ends where the chain's next entry begins, else with the memory.
    const int index = state_.logIndex;
    const uint32_t next = index < logsFound_ ? state_.logAddress[index] : 0;
    const uint32_t end = next > search.base ? next : kLastAddress + 1;
    search.regionEnd = int64_t{end - search.base} * 2;
    search.lo = search.dataStart / kBlockBytes;
    search.hi = std::max(search.lo, (search.regionEnd + kBlockBytes - 1) / kBlockBytes);
    // Where the header's own span says the data ends is read first: when the
    // logger stopped where it says, two blocks tell.
    const uint64_t records = log.expectedSampleCount();
    const uint64_t span = std::min<uint64_t>(records, uint64_t{1} << 32) * recordSize_;
    search.hint = (search.dataStart + static_cast<int64_t>(span)) / kBlockBytes;
    search_ = search;
    AskEndSearchBlock();
}

void DownloadEngine::AskEndSearchBlock() {
    EndSearch& s = *search_;
    if (s.lo >= s.hi) {
        const int64_t end = s.endByte >= 0 ? s.endByte : s.regionEnd;
        Surveyed(std::max<int64_t>(0, end - s.dataStart) / recordSize_);
        return;
    }
    s.probe = s.hint >= s.lo && s.hint < s.hi ? s.hint : s.lo + (s.hi - s.lo) / 2;
    s.hint = -1;
    address_ = s.base + static_cast<uint32_t>(s.probe) * kBlockUnits;
    Request(CMD_READ);
}

void DownloadEngine::EndSearchBlock(const uint8_t* block) {
    host_.Notify(DEV_ALIVE, 0, 0);
    EndSearch& s = *search_;
    const int64_t first = s.probe * kBlockBytes;
    int64_t marker = -1;
    for (int64_t at = std::max(first, s.dataStart); at < first + kBlockBytes; ++at) {
        if (IsEndMarker(block[at - first])) {
            marker = at;
            break;
        }
    }
    // After the first read the next one stands beside it: the header's
    // span is usually right, or off by a block.
    if (marker >= 0) {
        s.hi = s.probe;
        s.endByte = marker;
        s.hint = s.first ? s.probe - 1 : -1;
    } else {
        s.lo = s.probe + 1;
        s.hint = s.first ? s.probe + 1 : -1;
    }
    s.first = false;
    AskEndSearchBlock();
}

void DownloadEngine::Surveyed(int64_t samples) {
    search_.reset();
    state_.HandOverCurrentLog();
    UnlockLog();
    host_.Notify(DEV_LOG_SURVEYED, 0, static_cast<intptr_t>(std::min<int64_t>(samples, INT32_MAX)));
    received_ = 0;
    infoRead_ = false;
    state_.inData = false;
    NextLog(0);
}
