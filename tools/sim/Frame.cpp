#include "tools/sim/Frame.h"

#include <array>

namespace sim {
namespace {

constexpr std::array<std::string_view, 21> kCommands = {
    "M80", "D11", "N24", "F24", "L14", "I14", "R10", "T10", "W10", "V10", "S3",
    "P4",  "B11", "B",   "E",   "C14", "#14", "F",   "M81", "{10", "|10",
};

}  // namespace

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

std::string_view CommandText(int code) {
    if (code < 0 || code >= static_cast<int>(kCommands.size())) {
        return {};
    }
    return kCommands[static_cast<std::size_t>(code)];
}

int CommandCode(std::string_view text) {
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        if (kCommands[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace sim
