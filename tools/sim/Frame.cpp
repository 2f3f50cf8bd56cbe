#include "tools/sim/Frame.h"

namespace sim {

std::uint8_t Checksum(const std::uint8_t* data, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += data[i];
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

Bytes MakeFrame(std::string_view text, const std::uint8_t* payload, std::size_t count) {
    Bytes frame;
    frame.reserve(text.size() + count + 4);
    frame.push_back(kStartOfHeader);
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(kStartOfText);
    if (count > 0) {
        frame.insert(frame.end(), payload, payload + count);
    }
    frame.push_back(kEndOfText);
    frame.push_back(Checksum(frame.data(), frame.size()));
    return frame;
}

}  // namespace sim
