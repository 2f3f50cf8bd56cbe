// A block of samples as a damaged or hostile archive may hold it: unpacking
// never reads past the bytes, never overflows, and a block it accepts packs
// back to the same bytes (or fewer, for numbers written longer than need be);
// a value of up to 15 digits printed reads back as the same number; its
// times read alone are the same times.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "archive/SampleBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) {
        return 0;
    }
    int64_t firstTime = 0;
    std::memcpy(&firstTime, data, sizeof firstTime);
    const int64_t count = data[8] | (data[9] << 8);
    const std::span<const uint8_t> bytes(data + 10, size - 10);
    std::vector<archive::PackedSample> samples;
    if (!archive::UnpackSamples(bytes, firstTime, count, samples)) {
        return 0;
    }
    if (static_cast<int64_t>(samples.size()) != count) {
        std::abort();
    }
    std::vector<int64_t> times;
    if (!archive::UnpackTimes(bytes, firstTime, count, times) || times.size() != samples.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (times[i] != samples[i].time) {
            std::abort();
        }
    }
    bool increasing = true;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        increasing = increasing && samples[i].time > samples[i - 1].time;
    }
    // Packing starts from the first sample's time, as the archive's blocks do.
    if (increasing && !samples.empty() && samples.front().time == firstTime) {
        const std::vector<uint8_t> packed = archive::PackSamples(samples);
        if (packed.size() > bytes.size() ||
            (packed.size() == bytes.size() &&
             std::memcmp(packed.data(), bytes.data(), bytes.size()) != 0)) {
            std::abort();
        }
    }
    for (const archive::PackedSample& s : samples) {
        const archive::Decimal value{s.mantissa, data[9] % (archive::kMaxDecimals + 1)};
        const std::string text = archive::DecimalText(value);
        const std::optional<archive::Decimal> back =
            archive::DecimalOf(std::strtod(text.c_str(), nullptr), value.decimals);
        if (std::abs(s.mantissa) < 1'000'000'000'000'000 &&
            (!back || !archive::SameNumber(*back, value))) {
            std::abort();
        }
    }
    return 0;
}
