#pragma once
// Posting to windows, and process-wide message numbers.
//
// A window handle is an opaque number. Whatever receives a window's messages
// registers a WindowSink for it: the Qt main window turns each post into a
// queued event of its user-interface thread; the command-line tool and tests
// use ThreadQueueSink, which lands the posts in a thread's message queue.
// Posting never blocks. Once UnregisterWindow has returned, no post reaches the
// sink any more, so the sink may then be destroyed.

#include <cstdint>
#include <string>

#include "platform/Thread.h"

namespace platform {

using WindowHandle = uint32_t;  // 0: none

class WindowSink {
  public:
    virtual ~WindowSink() = default;
    // Called on the posting thread. Must not block and must not call back into
    // the window functions below. False when the message was refused.
    virtual bool Post(uint32_t message, uint32_t wParam, intptr_t lParam) = 0;
};

WindowHandle RegisterWindow(WindowSink* sink);
void UnregisterWindow(WindowHandle window);
// False for an unknown window or when the sink refused the message.
bool PostWindowMessage(WindowHandle window, uint32_t message, uint32_t wParam, intptr_t lParam);

// A window whose messages go to a thread's message queue.
class ThreadQueueSink : public WindowSink {
  public:
    explicit ThreadQueueSink(ThreadId thread) : thread_(thread) {}
    bool Post(uint32_t message, uint32_t wParam, intptr_t lParam) override;

  private:
    ThreadId thread_;
};

// Registers a sink for the life of this object.
class WindowRegistration {
  public:
    explicit WindowRegistration(WindowSink& sink) : handle_(RegisterWindow(&sink)) {}
    ~WindowRegistration() { UnregisterWindow(handle_); }
    WindowRegistration(const WindowRegistration&) = delete;
    WindowRegistration& operator=(const WindowRegistration&) = delete;

    WindowHandle Handle() const { return handle_; }

  private:
    WindowHandle handle_;
};

// The number registered for a name, the same for the same name (ignoring
// case) for the life of the process, from 0xC000 to 0xFFFF; 0 once those run out.
uint32_t RegisterWindowMessage(const std::string& name);

}  // namespace platform
