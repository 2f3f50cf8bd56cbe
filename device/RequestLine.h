#pragma once
// The one request the download engine has outstanding, and what becomes of
// its replies. A reply that fails (a bad checksum, a bad frame, cut short, a
// line error) or does not come in time is asked for again at once, a bounded
// number of times. The reader answers in order and a reply carries nothing
// that names its request, so after a request was sent more than once the
// replies still due for it are counted: they are dropped, and the next
// request waits until they came or can no longer come. No reply is ever
// taken for the answer to another request.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class EngineHost;

// A read reply's time on the wire at 9600 baud (135 bytes of 10 bits), the
// command's (12 bytes), and what the reader may take to turn round.
inline constexpr uint32_t READ_EXCHANGE_WIRE_MS = 141 + 13;
inline constexpr uint32_t TURNAROUND_MARGIN_MS = 150;
inline constexpr int REQUEST_TRIES = 4;  // the first send and three more

class RequestLine {
  public:
    enum class Failure { BadReply, LinkError, NoReply };

    explicit RequestLine(EngineHost& host) : host_(host) {}

    // A new request. Sent at once, or held while replies to an earlier one
    // may still come. Reads are timed; the single-log stream is not (it
    // cannot be asked for again mid-way, and has no reply time of its own).
    void Send(int8_t code, uint32_t address);
    // A request someone else sent (the erase read-back), so that its
    // failures are asked for again like the engine's own.
    void Adopt(int8_t code, uint32_t address);

    // A reply frame came, good or bad: false when it is a leftover of an
    // earlier send, to be dropped.
    bool FrameCame();
    // The reply was the answer: the request is done.
    void Answered();
    // The reply failed: false when the tries are spent (the request stays
    // outstanding, and a reply that still comes is taken).
    bool Failed(Failure why);

    // When Tick next has something to do; none: nothing is timed.
    std::optional<uint64_t> Deadline() const;
    // Sends a held request whose leftovers can no longer come; true when the
    // outstanding request's time ran out (the caller reports Failed).
    bool Tick();

    int8_t Code() const { return code_; }  // of the last request, -1 before the first
    bool Holding() const { return held_.has_value(); }
    // Failed sends that a later reply made good, since the line was made.
    int Recovered() const { return recovered_; }

  private:
    struct Request {
        int8_t code;
        uint32_t address;
    };

    // Sends request: a new one, or again the one that failed.
    void Put(const Request& request, bool again);
    std::string Describe() const;

    EngineHost& host_;
    int8_t code_ = -1;
    uint32_t address_ = 0;
    bool outstanding_ = false;
    int tries_ = 0;
    std::optional<uint64_t> deadline_;
    std::deque<uint64_t> inFlight_;  // when each send whose reply has not come went out
    std::optional<Request> held_;
    uint32_t timeoutMs_ = READ_EXCHANGE_WIRE_MS + TURNAROUND_MARGIN_MS;
    int recovered_ = 0;
};
