#include "tools/sim/Reader.h"

#include <algorithm>
#include <charconv>

namespace sim {
namespace {

constexpr std::size_t kAddressDigits = 5;

// The address of a read or stream frame; none unless it is 5 hex digits.
std::optional<std::uint32_t> ParseAddress(const Bytes& payload) {
    if (payload.size() != kAddressDigits) {
        return std::nullopt;
    }
    // Unsigned and base 16: no sign, prefix or blank is taken as a digit.
    const char* begin = reinterpret_cast<const char*>(payload.data());
    const char* end = begin + payload.size();
    std::uint32_t value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, 16);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value & kAddressMask;
}

}  // namespace

bool Reader::EndsPayload(std::size_t size) const {
    return command_.text != "M81" || size == kAddressDigits || size >= kBlockBytes;
}

void Reader::Restart() {
    state_ = State::Text;
    frame_.assign(1, kStartOfHeader);
    command_ = CommandFrame{};
}

std::optional<Exchange> Reader::Receive(std::uint8_t byte) {
    switch (state_) {
        case State::Idle:
            // Anything between frames is line noise.
            if (byte == kStartOfHeader) {
                Restart();
            }
            return std::nullopt;
        case State::Text:
            if (byte == kStartOfHeader) {
                Restart();
            } else if (byte == kStartOfText && !command_.text.empty()) {
                frame_.push_back(byte);
                state_ = State::Payload;
            } else if (byte == kStartOfText || command_.text.size() == kMaxTextLength) {
                state_ = State::Idle;
            } else {
                frame_.push_back(byte);
                command_.text.push_back(static_cast<char>(byte));
            }
            return std::nullopt;
        case State::Payload:
            frame_.push_back(byte);
            if (byte == kEndOfText && EndsPayload(command_.payload.size())) {
                state_ = State::Checksum;
            } else if (byte == kStartOfHeader && command_.text != "M81") {
                // Text payloads hold no 0x01: the frame was cut short and a new one begins.
                Restart();
            } else if (frame_.size() + 1 >= kMaxCommandFrame) {
                state_ = State::Idle;
            } else {
                command_.payload.push_back(byte);
            }
            return std::nullopt;
        case State::Checksum:
            state_ = State::Idle;
            command_.checksumOk = Checksum(frame_.data(), frame_.size()) == byte;
            return Execute(std::move(command_));
    }
    return std::nullopt;
}

Exchange Reader::Execute(CommandFrame command) {
    Exchange exchange;
    exchange.command = std::move(command);
    const CommandFrame& c = exchange.command;
    if (!c.checksumOk) {
        return exchange;
    }
    if (c.text == "M81" && c.payload.size() == kBlockBytes) {
        Block block;
        std::copy(c.payload.begin(), c.payload.end(), block.begin());
        memory_.WriteBlock(writeAddress_, block);
        writeAddress_ = (writeAddress_ + kBlockUnits) & kAddressMask;
        exchange.memoryChanged = true;
    } else if (c.text == "M81") {
        exchange.reply = ReadReply(c.payload);
    } else if (c.text == "M80") {
        exchange.reply = StreamReply(c.payload);
    } else if (c.text == "{10") {
        memory_.Erase();
        writeAddress_ = 0;
        exchange.memoryChanged = true;
    }
    return exchange;
}

Bytes Reader::ReadReply(const Bytes& payload) const {
    const std::optional<std::uint32_t> address = ParseAddress(payload);
    if (!address) {
        return {};
    }
    const Block block = memory_.ReadBlock(*address);
    return MakeFrame("M80", block.data(), block.size());
}

Bytes Reader::StreamReply(const Bytes& payload) const {
    const std::optional<std::uint32_t> offset = ParseAddress(payload);
    const std::vector<std::uint32_t> logs = LogStarts(memory_);
    if (!offset || logs.empty()) {
        return {};
    }
    const std::size_t from = HeaderBlockByte(logs.back()) + *offset;
    const std::size_t count = from < kMemoryBytes ? std::min(kBlockBytes, kMemoryBytes - from) : 0;
    return MakeFrame("M80", memory_.Data() + std::min(from, kMemoryBytes), count);
}

}  // namespace sim
