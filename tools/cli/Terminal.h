#pragma once
// What the commands share in a terminal: whether it shows a live line, the
// main thread as the window the worker posts to, and the loop that hands
// each notification to the session until its run ends.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MessageQueue.h"
#include "platform/Window.h"
#include "run/Session.h"

namespace cli {

// Whether progress can be shown as a live line.
bool StandardErrorIsTerminal();

// Text from a file as a terminal may show it: every control character (C0,
// DEL and C1, also encoded as UTF-8) and every byte that is not part of
// UTF-8 written as \xNN, so that no file can move the cursor or change the
// terminal's state.
std::string PrintableText(std::string_view text);

// How many columns UTF-8 text takes in a terminal: one a character (the
// archive's texts are all of one column).
std::size_t Columns(std::string_view utf8);

class NotifyQueue {
  public:
    NotifyQueue();
    platform::WindowHandle Handle() const { return registration_.Handle(); }

    // The next notification; none when timeoutMs passed without one or a
    // signal came.
    std::optional<platform::Message> Next(uint32_t timeoutMs);

  private:
    platform::ThreadQueueSink sink_;
    platform::WindowRegistration registration_;
};

// Hands the session every notification until its run ends. When the reader
// stays silent for timeoutMs, or a signal comes, onSilence decides what the
// run does (it must end it or go on).
void RunToEnd(run::Session& session, NotifyQueue& queue, uint32_t timeoutMs,
              const std::function<void()>& onSilence);

}  // namespace cli
