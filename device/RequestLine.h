#pragma once
// The request the download engine has out, and which reply answers it.
//
// A reply carries no address: a late answer to one request looks exactly like
// the answer to the next. The reader answers in order, at most once per
// command; a reply may be lost, damaged or late by any time. The rules:
//
// 1. A request that got no answer in time is asked again, the same request.
//    Every copy of its answer holds the same bytes, so whichever comes first
//    is right; the copies still due are counted.
// 2. The engine moves on once the answer came, though copies may still be
//    due. From then on, what may still arrive from earlier requests is at
//    most stale_ replies, every one holding the bytes of the last answer. A
//    reply to the next request that differs from those bytes cannot be one of
//    them: it is the answer. A reply equal to them may be either: it is
//    dropped, and one fewer is due. With none due, any reply is the answer.
//    So an answer is taken only when nothing earlier may still arrive, or
//    when it differs from everything that may: under in-order answering no
//    reply is ever taken for the answer to another request, whatever the
//    delays. (When the same bytes keep coming block after block while copies
//    are due, the next move first reads a block known to hold other bytes: a
//    barrier, whose answer shows that nothing earlier is still due.)
// 3. A request left without an answer (the run was resumed or ended) must
//    have its answer before any other request goes out: what may still
//    arrive for it holds bytes nobody has seen, and only its own answer
//    tells them apart from the next request's. It goes on being asked on
//    its own schedule until then.
// 4. A damaged reply is a reply: it is one of those due, so once every reply
//    due came damaged the request is asked again at once, however many come
//    in a row. When the answer comes, the damaged replies since the request
//    went out count against its copies still due.
//
// Time: every answer of a request sent once is timed; the time-out is
// SRTT + 4 RTTVAR as RFC 6298 sets a retransmission timer, no shorter than
// the exchange takes on the wire and no longer than the user's time-out. A
// request is asked again when its time-out passes (at once when every reply
// due came damaged), then after no less than a second, doubling while it
// stays unanswered: a reader that missed two replies in a row is more
// likely busy than unlucky. The next request starts from the reader's pace
// again, so a reader that answers every request never runs into the
// user's time-out. A copy answered late, once its first try was answered,
// times the reader too. No copy goes out while bytes are coming in.
//
// Held: once the user's time-out has passed without an answer, or the run
// is held from outside (a question is open), nothing goes out until the
// run goes on. An answer that still comes is taken; the engine keeps it for
// then.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class EngineHost;

class RequestLine {
  public:
    // The engine's surroundings for the time being (null: none).
    void Attach(EngineHost* host) { host_ = host; }
    // Another reader: nothing of the last one is due, and its pace is unknown.
    void Reset();
    // The user's communication time-out, in milliseconds.
    void SetTimeLimit(uint32_t milliseconds) { limitMs_ = milliseconds; }

    // A new request: sent now, or once an earlier request has its answer
    // (rule 3) or a barrier has come back, and the run is not held.
    void Send(int8_t code, uint32_t address);
    // Nothing goes out from now on.
    void Hold();
    // The run goes on: a request without its answer is asked again now,
    // with the whole time-out before it.
    void Release();
    bool Held() const { return held_; }

    // A good reply frame: true when it is the answer to the engine's request.
    bool Take(int8_t code, const uint8_t* payload, int32_t length);
    // A damaged reply frame came (bad checksum, cut short, hit by line errors).
    void Damaged();

    // When Tick has something to do next; none while nothing is timed.
    std::optional<uint64_t> Deadline() const;
    void Tick();

    // A request is out and has no answer yet.
    bool Waiting() const { return current_ && !answered_; }
    // Copies sent beyond the first, for requests that got their answer.
    int Recovered() const { return recovered_; }
    // The time-out a request sent now would get.
    uint32_t Timeout() const;

  private:
    struct Request {
        int8_t code;
        uint32_t address;
    };
    struct Answer {
        Request request;
        std::vector<uint8_t> bytes;
    };

    void Put(const Request& request);
    void Again(const std::string& why);
    // A wait for a copy, kept within the wire's time and the user's time-out.
    uint32_t Bounded(uint32_t milliseconds) const;
    void Sample(uint64_t milliseconds);
    bool SameAsLast(int8_t code, const uint8_t* payload, int32_t length) const;
    std::string Describe(const Request& request) const;
    void Note(const std::string& text) const;
    uint64_t Now() const;

    EngineHost* host_ = nullptr;
    uint32_t limitMs_ = 5000;

    std::optional<Request> current_;
    bool answered_ = true;
    int copies_ = 0;     // of the current request
    int damaged_ = 0;    // damaged frames since the current request was first sent
    uint32_t wait_ = 0;  // before its next copy; doubles while it stays unanswered
    uint64_t firstSent_ = 0;
    uint64_t lastSent_ = 0;
    uint64_t nextCheck_ = 0;
    bool held_ = false;
    std::optional<Request> queued_;  // sent once the current request has its answer
    // When the last copy of the last answered request went out, while the
    // reply to it is the one reply still due: its arrival times the reader.
    std::optional<uint64_t> lastCopySent_;

    std::optional<Answer> last_;   // every reply still due from earlier holds these bytes
    int stale_ = 0;                // how many may still come, at most
    std::optional<Answer> other_;  // a block known to hold other bytes: the barrier
    bool needBarrier_ = false;

    // RFC 6298: smoothed time and its variation; none before the first.
    std::optional<double> srtt_;
    double rttvar_ = 0;
    uint32_t rto_ = 1000;
    int recovered_ = 0;
};
