#include "tools/sim/Faults.h"

#include <algorithm>
#include <array>

namespace sim {
namespace {

// Noise without 0x01 and 0x03, so that it neither starts a frame nor wakes the
// program's reader early.
constexpr std::array<std::uint8_t, 8> kGarbage = {0x00, 0xFF, 0x55, 0xAA, 0x7E, 0x80, 0x0F, 0xF0};

constexpr std::size_t kPayloadStart = 5;  // after 0x01, "M80", 0x02

void FixChecksum(Bytes& frame) {
    frame.back() = Checksum(frame.data(), frame.size() - 1);
}

void GarbleRun(Bytes& frame, std::size_t count) {
    if (frame.size() < 3) {
        return;
    }
    // Inside the frame but clear of the 0x03 and the checksum; the run goes on
    // until the sum has changed, so that the checksum test always catches it.
    const std::size_t end = frame.size() - 2;
    const std::uint8_t before = Checksum(frame.data(), frame.size() - 1);
    std::size_t i = std::min(kPayloadStart, end - 1);
    for (std::size_t garbled = 0; i < end; ++i, ++garbled) {
        if (garbled >= count && Checksum(frame.data(), frame.size() - 1) != before) {
            break;
        }
        frame[i] ^= 0xFF;
    }
}

}  // namespace

Bytes FaultInjector::Shape(Bytes reply, Clock::time_point now) {
    if (reply.empty()) {
        return reply;
    }
    const std::uint64_t n = ++replies_;
    if (options_.stopAfter != 0 && n > options_.stopAfter) {
        if (!silent_) {
            silent_ = true;
            silentSince_ = now;
        }
        const bool resumed =
            options_.resumeAfter.count() > 0 && now - silentSince_ >= options_.resumeAfter;
        if (!resumed) {
            return {};
        }
    }
    if (options_.drop.Contains(n)) {
        return {};
    }
    if (options_.wrongHeader.Contains(n) && reply.size() > 4) {
        reply[3] = reply[3] == '1' ? '0' : '1';
        FixChecksum(reply);
    }
    if (options_.badChecksum.Contains(n)) {
        reply.back() = static_cast<std::uint8_t>(reply.back() + 1);
    }
    if (options_.noise.Contains(n)) {
        GarbleRun(reply, options_.noiseBytes);
    }
    if (options_.truncate.Contains(n)) {
        const std::size_t keep = options_.truncateTo != 0 ? options_.truncateTo : reply.size() / 2;
        reply.resize(std::min(keep, reply.size()));
    }
    if (options_.garbage.Contains(n)) {
        Bytes noise(options_.garbageBytes);
        for (std::size_t i = 0; i < noise.size(); ++i) {
            noise[i] = kGarbage[i % kGarbage.size()];
        }
        reply.insert(reply.begin(), noise.begin(), noise.end());
    }
    return reply;
}

bool ClearValidityMark(MemoryImage& memory, int log, std::string* error) {
    const std::vector<std::uint32_t> logs = LogStarts(memory);
    if (log < 1 || static_cast<std::size_t>(log) > logs.size()) {
        if (error != nullptr) {
            *error = "no log " + std::to_string(log) + " in the chain (it holds " +
                     std::to_string(logs.size()) + ")";
        }
        return false;
    }
    memory.Data()[HeaderBlockByte(logs[static_cast<std::size_t>(log) - 1]) + 2] = 0x00;
    return true;
}

}  // namespace sim
