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

bool Continues(std::string_view text, std::size_t i, unsigned char low = 0x80,
               unsigned char high = 0xBF) {
    if (i >= text.size()) {
        return false;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    return c >= low && c <= high;
}

// The length of the UTF-8 character of more than one byte at i that is no
// control character; 0 when none stands there (overlong forms and
// surrogates included).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead == 0xC2) {
        return Continues(text, i + 1, 0xA0) ? 2 : 0;  // C2 80 to C2 9F are C1 controls
    }
    if (lead >= 0xC3 && lead <= 0xDF) {
        return Continues(text, i + 1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return Continues(text, i + 1, low, high) && Continues(text, i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return Continues(text, i + 1, low, high) && Continues(text, i + 2) && Continues(text, i + 3)
                   ? 4
                   : 0;
    }
    return 0;
}

}  // namespace

std::size_t Columns(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;  // not a continuation byte
    }));
}

bool StandardErrorIsTerminal() {
    return platform::IsTerminal(stderr);
}

std::string PrintableText(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = c >= 0x80 ? Utf8Length(text, i) : 0; n > 0) {
            shown.append(text.substr(i, n));
            i += n;
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 0xF];
            ++i;
        }
    }
    return shown;
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
