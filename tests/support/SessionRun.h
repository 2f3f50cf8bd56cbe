#pragma once
// A run as the window program drives it: the run's own rules (run::Session),
// with the test thread in the role of its window, handing over each
// notification the worker posts.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/Session.h"
#include "support/DownloadTestSupport.h"

namespace e2e {

struct RunHooks {
    std::chrono::milliseconds silence = 300ms;  // the watchdog
    // Sees each notification first; true when it took care of it (the
    // session does not see it then).
    std::function<bool(uint16_t code, run::Session&)> onNote;
    // A watchdog expiry; true when the run goes on, else it is given up.
    std::function<bool(run::Session&)> onSilence;
};

struct Outcome {
    std::vector<uint16_t> codes;     // every notification, in order
    std::vector<std::string> files;  // each name a log's file was opened under
    bool timedOut = false;           // the watchdog gave the run up
};

// Hands the worker's notifications to the session until its run ends.
inline Outcome RunToEnd(run::Session& session, Window& window, const RunHooks& hooks = {}) {
    Outcome outcome;
    while (session.Running()) {
        const std::optional<platform::Message> message = window.Next(hooks.silence);
        if (!message) {
            if (!hooks.onSilence || !hooks.onSilence(session)) {
                outcome.timedOut = true;
                session.GiveUp();
            }
            continue;
        }
        const uint16_t code = platform::LOWORD(message->wParam);
        outcome.codes.push_back(code);
        if (hooks.onNote && hooks.onNote(code, session)) {
            continue;
        }
        session.Handle(code, platform::HIWORD(message->wParam), message->lParam);
        if (code == DEV_LOG_OPEN_FILE) {
            outcome.files.push_back(session.CurrentFileName());
        }
    }
    return outcome;
}

}  // namespace e2e
