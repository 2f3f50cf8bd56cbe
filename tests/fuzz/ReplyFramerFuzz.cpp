// The reply framer fed any byte stream in reads of any size, with pauses and
// line errors between them. Every frame it hands over lies within what was
// fed; a good one is a whole read reply (135 bytes, its header, end byte and
// checksum right) that ParseReply accepts; a good frame fed whole, between
// any noise, is always found.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Serial/CSerialLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CSerialLoader link(1024);
    const ReplyFramer::Expected read{"M80", frame::kReadReplySize, frame::kLongestReplyPayload};
    ReplyFramer framer;
    uint8_t payload[256];
    const auto check = [&](const uint8_t* bytes, int32_t count) {
        return link.ParseReply(CSerialLoader::READ_CODE, bytes, count, payload, 256) ==
               LinkResult{LinkStatus::Ok, 128};
    };
    // A good frame put in after the fuzzed bytes must come out.
    std::vector<uint8_t> known(128);
    for (size_t i = 0; i < known.size(); ++i) {
        known[i] = static_cast<uint8_t>(size + i * 7);
    }
    std::vector<uint8_t> frame = {0x01, 'M', '8', '0', 0x02};
    frame.insert(frame.end(), known.begin(), known.end());
    frame.push_back(0x03);
    frame.push_back(static_cast<uint8_t>(CSerialLoader::FrameChecksum(frame.data(), 134)));

    uint64_t now = 0;
    bool foundKnown = false;
    const auto drain = [&] {
        uint32_t skipped = 0;
        while (auto taken = framer.Next(read, now, 50, check, &skipped)) {
            if (taken->length <= 0 || taken->length > ReplyFramer::kCapacity) {
                std::abort();
            }
            if (taken->good) {
                if (taken->length != 135 || !check(taken->bytes, 135)) {
                    std::abort();
                }
                foundKnown = foundKnown || std::equal(frame.begin(), frame.end(), taken->bytes);
            }
        }
    };
    size_t at = 0;
    while (at + 2 <= size) {
        const size_t chunk = std::min<size_t>(data[at] % 64, size - at - 2);
        const uint8_t control = data[at + 1];
        const std::vector<uint8_t> bytes(data + at + 2, data + at + 2 + chunk);  // ASan-sized
        at += 2 + chunk;
        framer.Add(bytes.data(), static_cast<uint32_t>(bytes.size()), now);
        if (control & 1) {
            framer.MarkSuspect();
        }
        now += control >> 1;  // up to 127 ms between reads
        drain();
    }
    // Whatever came before, a quiet line, then a whole good frame.
    now += 100;
    drain();
    framer.Add(frame.data(), static_cast<uint32_t>(frame.size()), now);
    drain();
    if (!foundKnown) {
        std::abort();
    }
    return 0;
}
