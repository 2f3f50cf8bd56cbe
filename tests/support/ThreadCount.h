#pragma once
// The number of the process's threads, to see that none is left behind.

#include <thread>

#include "platform/Time.h"

// After our headers: windows.h defines many of their names as macros, and
// without its user part none of them clash with the message queue's.
#ifdef _WIN32
// clang-format off
#define NOUSER
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#else
#include <dirent.h>
#endif

#ifdef _WIN32
inline int ThreadCount() {
    int count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}
#else
inline int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}
#endif

// Threads end a moment after they were joined or detached; wait for the count.
inline bool ThreadCountReturnsTo(int expected, int timeoutMs = 2000) {
    const uint64_t end = platform::TickCount() + static_cast<uint64_t>(timeoutMs);
    while (ThreadCount() != expected) {
        if (platform::TickCount() >= end) {
            return false;
        }
        platform::Sleep(5);
    }
    return true;
}

// The count before a test starts threads. A sanitizer may start a helper
// thread with the first thread the process makes; make it start now. The
// thread joined may still be listed a moment: counted with it, a baseline
// would be one too high. A thread still there after that is the sanitizer's.
inline int ThreadBaseline() {
    const int before = ThreadCount();
    std::thread([] {}).join();
    ThreadCountReturnsTo(before, 300);
    return ThreadCount();
}
