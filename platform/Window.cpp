#include "platform/Window.h"

#include <cctype>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/Errors.h"
#include "platform/MessageQueue.h"
#include "platform/ProcessWide.h"

namespace platform {
namespace {

struct Windows {
    // Held while a sink is called, so that unregistering waits for a post in
    // progress; posts are short and never block.
    std::mutex lock;
    std::unordered_map<WindowHandle, WindowSink*> sinks;
    WindowHandle next = 1;
};

Windows& AllWindows() {
    return detail::ProcessWide<Windows>();
}

struct MessageNames {
    std::mutex lock;
    std::map<std::string, uint32_t> numbers;
    uint32_t next = 0xC000;
};

}  // namespace

WindowHandle RegisterWindow(WindowSink* sink) {
    Windows& windows = AllWindows();
    std::lock_guard<std::mutex> lock(windows.lock);
    while (windows.next == 0 || windows.sinks.count(windows.next) != 0) {
        ++windows.next;
    }
    const WindowHandle handle = windows.next++;
    windows.sinks[handle] = sink;
    return handle;
}

void UnregisterWindow(WindowHandle window) {
    Windows& windows = AllWindows();
    std::lock_guard<std::mutex> lock(windows.lock);
    windows.sinks.erase(window);
}

bool PostWindowMessage(WindowHandle window, uint32_t message, uint32_t wParam, intptr_t lParam) {
    Windows& windows = AllWindows();
    std::lock_guard<std::mutex> lock(windows.lock);
    const auto it = windows.sinks.find(window);
    if (it == windows.sinks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return it->second->Post(message, wParam, lParam);
}

bool ThreadQueueSink::Post(uint32_t message, uint32_t wParam, intptr_t lParam) {
    return PostThreadMessage(thread_, message, wParam, lParam);
}

uint32_t RegisterWindowMessage(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    MessageNames& names = detail::ProcessWide<MessageNames>();
    std::lock_guard<std::mutex> lock(names.lock);
    const auto it = names.numbers.find(key);
    if (it != names.numbers.end()) {
        return it->second;
    }
    if (name.empty() || names.next > 0xFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    names.numbers[key] = names.next;
    return names.next++;
}

}  // namespace platform
