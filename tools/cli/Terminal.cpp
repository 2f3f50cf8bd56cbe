#include "tools/cli/Terminal.h"

#include <algorithm>
#include <cstdio>

#include "device/DeviceMessages.h"
#include "platform/Files.h"
#include "platform/Time.h"
#include "tools/cli/Options.h"

namespace cli {

namespace {

constexpr uint32_t kSliceMs = 100;  // how often a wait looks at the stop flag

}  // namespace

bool StandardErrorIsTerminal() {
    return platform::IsTerminal(stderr);
}

NotifyQueue::NotifyQueue() : sink_(platform::CurrentThreadId()), registration_(sink_) {
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);  // makes the queue
}

std::optional<platform::Message> NotifyQueue::Next(uint32_t timeoutMs) {
    const uint64_t end = platform::TickCount() + timeoutMs;
    platform::Message message;
    while (
        !platform::PeekMessage(&message, WM_DEVICE_NOTIFY, WM_DEVICE_NOTIFY, platform::PM_REMOVE)) {
        const uint64_t now = platform::TickCount();
        if (now >= end || interrupted) {
            return std::nullopt;
        }
        platform::WaitMessage(static_cast<uint32_t>(std::min<uint64_t>(end - now, kSliceMs)));
    }
    return message;
}

void RunToEnd(run::Session& session, NotifyQueue& queue, uint32_t timeoutMs,
              const std::function<void()>& onSilence) {
    while (session.Running()) {
        const std::optional<platform::Message> message = queue.Next(timeoutMs);
        if (!message) {
            onSilence();
            continue;
        }
        session.Handle(platform::LOWORD(message->wParam), platform::HIWORD(message->wParam),
                       message->lParam);
    }
}

}  // namespace cli
