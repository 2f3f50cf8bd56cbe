#include "device/RequestLine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"

void RequestLine::Send(int8_t code, uint32_t address) {
    const Request request{code, address};
    if (!inFlight_.empty()) {
        held_ = request;  // until the leftovers came or can no longer come
        return;
    }
    Put(request, false);
}

void RequestLine::Adopt(int8_t code, uint32_t address) {
    code_ = code;
    address_ = address;
    outstanding_ = true;
    tries_ = 1;
    deadline_.reset();
}

void RequestLine::Put(const Request& request, bool again) {
    code_ = request.code;
    address_ = request.address;
    outstanding_ = true;
    tries_ = again ? tries_ + 1 : 1;
    char payload[8];
    std::snprintf(payload, sizeof payload, "%.5X", request.address);
    host_.Send(request.code, payload, 5);
    const uint64_t now = host_.Now();
    inFlight_.push_back(now);
    if (request.code == CMD_READ) {
        deadline_ = now + timeoutMs_;
    }
}

bool RequestLine::FrameCame() {
    if (inFlight_.empty()) {
        return true;  // not sent by the engine (the erase read-back)
    }
    const uint64_t sentAt = inFlight_.front();
    inFlight_.pop_front();
    if (held_ || !outstanding_) {
        host_.TraceNote("a late reply to an earlier try of " + Describe() + ", dropped");
        if (held_ && inFlight_.empty()) {
            Put(*std::exchange(held_, std::nullopt), false);
        }
        return false;
    }
    // The reader answers in order: this is the reply to the oldest send.
    // Once it was late, wait that long for the next.
    const auto latency = static_cast<uint32_t>(host_.Now() - sentAt);
    timeoutMs_ =
        std::max(READ_EXCHANGE_WIRE_MS + TURNAROUND_MARGIN_MS, latency + TURNAROUND_MARGIN_MS);
    return true;
}

void RequestLine::Answered() {
    outstanding_ = false;
    deadline_.reset();
    if (tries_ > 1) {
        recovered_ += tries_ - 1;
        host_.TraceNote(Describe() + " answered after " + std::to_string(tries_) + " tries");
    }
}

bool RequestLine::Failed(Failure why) {
    static const char* const kWhy[] = {"a bad reply", "a link error", "no reply in time"};
    const std::string what = std::string(kWhy[static_cast<int>(why)]) + " to " + Describe();
    if (!outstanding_ || tries_ >= REQUEST_TRIES) {
        deadline_.reset();
        host_.TraceNote(what + "; no tries left");
        return false;
    }
    host_.TraceNote(what + "; asking again (" + std::to_string(tries_ + 1) + " of " +
                    std::to_string(REQUEST_TRIES) + ")");
    Put({code_, address_}, true);
    return true;
}

std::optional<uint64_t> RequestLine::Deadline() const {
    if (held_) {
        return inFlight_.empty() ? host_.Now() : inFlight_.back() + timeoutMs_;
    }
    return deadline_;
}

bool RequestLine::Tick() {
    const std::optional<uint64_t> due = Deadline();
    if (!due || host_.Now() < *due) {
        return false;
    }
    if (held_) {
        // What is still due for the earlier request can no longer come.
        inFlight_.clear();
        Put(*std::exchange(held_, std::nullopt), false);
        return false;
    }
    deadline_.reset();
    return outstanding_;
}

std::string RequestLine::Describe() const {
    char text[24];
    std::snprintf(text, sizeof text, "%s %.5X", code_ == CMD_READ ? "the read of" : "the stream at",
                  address_);
    return text;
}
