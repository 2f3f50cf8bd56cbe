#include "device/RequestLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Serial/FrameFormat.h"
#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"

namespace {

// Before any answer was timed (RFC 6298, 2.1).
constexpr uint32_t kInitialTimeoutMs = 1000;
// Room for a reader's and a system's own unevenness beyond 4 RTTVAR, which
// shrinks towards nothing on a steady line: at least this, and an eighth of
// the time itself, since a slower reader wavers more.
constexpr uint32_t kLeastMarginMs = 20;
// From the second time-out of a request on, no sooner than this (RFC 6298, 2.4).
constexpr uint32_t kLeastBackOffMs = 1000;
// Bytes came this recently: a reply is on its way, no copy goes out over it.
constexpr uint64_t kArrivingMs = 50;

}  // namespace

void RequestLine::Reset() {
    current_.reset();
    answered_ = true;
    held_ = false;
    queued_.reset();
    last_.reset();
    other_.reset();
    stale_ = 0;
    needBarrier_ = false;
    lastCopySent_.reset();
    srtt_.reset();
    rttvar_ = 0;
    rto_ = kInitialTimeoutMs;
}

uint64_t RequestLine::Now() const {
    return host_ != nullptr ? host_->Now() : 0;
}

void RequestLine::Note(const std::string& text) const {
    if (host_ != nullptr) {
        host_->TraceNote(text);
    }
}

uint32_t RequestLine::Bounded(uint32_t milliseconds) const {
    const uint32_t floor = frame::kReadExchangeWireMs + kLeastMarginMs;
    return std::clamp(milliseconds, floor, std::max(floor, limitMs_));
}

uint32_t RequestLine::Timeout() const {
    return Bounded(rto_);
}

void RequestLine::Sample(uint64_t milliseconds) {
    const auto r = static_cast<double>(milliseconds);
    if (!srtt_) {
        srtt_ = r;
        rttvar_ = r / 2;
    } else {
        rttvar_ = 0.75 * rttvar_ + 0.25 * std::abs(*srtt_ - r);
        srtt_ = 0.875 * *srtt_ + 0.125 * r;
    }
    const double margin = std::max({4 * rttvar_, static_cast<double>(kLeastMarginMs), *srtt_ / 8});
    rto_ = static_cast<uint32_t>(std::min(std::ceil(*srtt_ + margin), 3.6e6));
}

void RequestLine::Send(int8_t code, uint32_t address) {
    const Request request{code, address};
    if (Waiting()) {
        // Rule 3: the earlier request's answer comes first. It is asked for
        // again on its own schedule (at once when that is past): copies of it
        // may still be on their way, and each one more costs a reply's time.
        queued_ = request;
        firstSent_ = Now();
        nextCheck_ =
            std::min(std::max(firstSent_, lastSent_ + Bounded(wait_)), firstSent_ + limitMs_);
        Note(Describe(*current_) + " first, before " + Describe(request) +
             ": replies may still come for it");
        return;
    }
    if (held_) {
        queued_ = request;
        return;
    }
    if (needBarrier_ && other_ && stale_ > 0) {
        queued_ = request;
        Note("the same bytes keep coming: " + Describe(other_->request) +
             " first, to show that no earlier reply is still due");
        Put(other_->request);
        return;
    }
    queued_.reset();
    Put(request);
}

void RequestLine::Hold() {
    if (!held_) {
        held_ = true;
        Note("the run is held: nothing is asked until it goes on");
    }
}

void RequestLine::Release() {
    if (!held_) {
        return;
    }
    held_ = false;
    if (Waiting()) {
        firstSent_ = Now();
        wait_ = Timeout();
        Again("the run goes on: asking " + Describe(*current_) + " again");
    } else if (queued_) {
        const Request next = *std::exchange(queued_, std::nullopt);
        Send(next.code, next.address);
    }
}

void RequestLine::Put(const Request& request) {
    current_ = request;
    answered_ = false;
    copies_ = 0;
    damaged_ = 0;
    needBarrier_ = false;
    wait_ = Timeout();
    firstSent_ = Now();
    Again("");
}

void RequestLine::Again(const std::string& why) {
    if (!why.empty()) {
        Note(why);
    }
    if (held_) {
        return;
    }
    ++copies_;
    char payload[8];
    std::snprintf(payload, sizeof payload, "%.*X", frame::kReadAddressDigits, current_->address);
    lastSent_ = Now();
    if (host_ != nullptr) {
        host_->Send(current_->code, payload, frame::kReadAddressDigits);
    }
    const uint64_t giveUpAt = firstSent_ + limitMs_;
    nextCheck_ = std::min(lastSent_ + Bounded(wait_), std::max(giveUpAt, lastSent_));
}

bool RequestLine::SameAsLast(int8_t code, const uint8_t* payload, int32_t length) const {
    return last_ && last_->request.code == code &&
           last_->bytes.size() == static_cast<size_t>(length) &&
           (length == 0 || std::memcmp(last_->bytes.data(), payload, last_->bytes.size()) == 0);
}

bool RequestLine::Take(int8_t code, const uint8_t* payload, int32_t length) {
    const bool same = SameAsLast(code, payload, length);
    if (!Waiting() || (same && stale_ > 0)) {
        // A late copy of the last answer (or, with nothing out, a reply no
        // request of ours is due for): never an answer.
        if (same && stale_ > 0 && lastCopySent_) {
            Sample(Now() - *std::exchange(lastCopySent_, std::nullopt));
        }
        stale_ = same ? std::max(0, stale_ - 1) : stale_;
        Note(same ? "a late copy of the last answer, dropped"
                  : "a reply while nothing was asked, dropped");
        if (Waiting() && stale_ + copies_ <= damaged_) {
            Again("every reply due came damaged: asking " + Describe(*current_) + " again");
        }
        return false;
    }
    // The answer (rule 2). Only a request sent once times the reader: for a
    // copy, which one was answered is not known (Karn's rule).
    if (copies_ == 1) {
        Sample(Now() - lastSent_);
    } else {
        recovered_ += copies_ - 1;
        Note(Describe(*current_) + " answered after " + std::to_string(copies_) + " tries");
    }
    needBarrier_ = same && copies_ > 1;
    if (last_ && !same) {
        other_ = std::move(last_);
    }
    last_ = Answer{*current_, std::vector<uint8_t>(payload, payload + length)};
    // In order, so the replies before this one that came damaged answered
    // this request's copies once the copies of earlier answers were all in.
    stale_ = std::max(0, copies_ - 1 - std::max(0, damaged_ - stale_));
    lastCopySent_.reset();
    if (copies_ == 2 && stale_ == 1) {
        lastCopySent_ = lastSent_;
    }
    answered_ = true;
    if (queued_ && !held_) {
        // The answer served to clear the line; the engine's request goes now.
        const Request next = *std::exchange(queued_, std::nullopt);
        Send(next.code, next.address);
        return false;
    }
    return !queued_;
}

void RequestLine::Damaged() {
    if (!Waiting()) {
        return;
    }
    ++damaged_;
    // Every reply that could come before the last copy's answer came damaged:
    // no use waiting for the time-out.
    if (stale_ + copies_ <= damaged_) {
        Again("a damaged reply: asking " + Describe(*current_) + " again");
    }
}

std::optional<uint64_t> RequestLine::Deadline() const {
    if (!Waiting() || held_) {
        return std::nullopt;
    }
    return nextCheck_;
}

void RequestLine::Tick() {
    const std::optional<uint64_t> due = Deadline();
    const uint64_t now = Now();
    if (!due || now < *due) {
        return;
    }
    if (now >= firstSent_ + limitMs_) {
        Note("no answer to " + Describe(*current_) + " for " + std::to_string(limitMs_) + " ms");
        Hold();
        return;
    }
    if (host_ != nullptr) {
        const uint64_t lastByte = host_->LastByteAt();
        if (lastByte != 0 && now < lastByte + kArrivingMs) {
            nextCheck_ = lastByte + kArrivingMs;  // a reply is coming in
            return;
        }
    }
    // A pace learned meanwhile (a late copy of the last answer timed it) may
    // give the first try longer.
    if (copies_ == 1 && now < lastSent_ + Timeout()) {
        nextCheck_ = std::min<uint64_t>(lastSent_ + Timeout(), firstSent_ + limitMs_);
        wait_ = Timeout();
        return;
    }
    wait_ = std::max(2 * wait_, kLeastBackOffMs);
    Again("no reply in " + std::to_string(now - lastSent_) + " ms: asking " + Describe(*current_) +
          " again");
}

std::string RequestLine::Describe(const Request& request) const {
    char text[24];
    std::snprintf(text, sizeof text, "%s %.5X",
                  request.code == CMD_READ ? "the read of" : "the stream at", request.address);
    return text;
}
