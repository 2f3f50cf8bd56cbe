#pragma once
// Test helpers: reply frames, the far end of a serial line and a count of the
// process's threads.
//
// On Linux the far end is the master of a pseudo-terminal of its own, and the
// port under test opens the slave. A Windows program cannot hold a master, so
// under Wine the line is two COM ports that arvelo-line-pair (tests/windows)
// joins like a null-modem cable: ARVELO_TEST_LINE names them, the port under
// test first ("COM22 COM23"; scripts/windows --test sets it up), and the far
// end holds the second through the Win32 API. The far end cannot hang up there.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Time.h"
#ifndef _WIN32
#include "platform/PseudoTerminal.h"
#endif
// Last of our headers: on Windows it brings windows.h.
#include "support/ThreadCount.h"
#ifdef _WIN32
// windows.h defines these as nothing, a leftover of 16-bit Windows; tests name
// their far end "far".
#undef far
#undef near
#endif

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

// A frame as the reader unit sends it: 0x01, header, 0x02, payload, 0x03, checksum.
inline std::vector<uint8_t> Frame(const std::string& header, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame;
    frame.reserve(header.size() + payload.size() + 4);
    frame.push_back(0x01);
    for (char c : header) {
        frame.push_back(static_cast<uint8_t>(c));
    }
    frame.push_back(0x02);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0x03);
    frame.push_back(static_cast<uint8_t>(std::accumulate(frame.begin(), frame.end(), 0u) & 0xFF));
    return frame;
}

// Whether the tests run under Wine, which departs from Windows here and there.
inline bool UnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

class FarEnd {
  public:
#ifdef _WIN32
    // Wine passes each write through its server and the line pair, and the
    // port under test asks for bytes every few milliseconds: allow for a
    // loaded machine.
    static constexpr uint32_t kTravelMs = 300;
#else
    // How long bytes the far end wrote may take to reach the port under test.
    static constexpr uint32_t kTravelMs = 50;
#endif

    FarEnd();
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    // Failed, with the reason, when there is no line to test on.
    testing::AssertionResult Ok() const {
        return problem_.empty() ? testing::AssertionSuccess()
                                : testing::AssertionFailure() << problem_;
    }
    // What the port under test opens.
    const std::string& Path() const {
        return path_;
    }

#ifndef _WIN32
    void Hangup() {
        terminal_.Close();
    }
#endif

    bool Write(const std::vector<uint8_t>& bytes);
    bool Write(const std::string& text) {
        return Write(std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Up to count bytes, waiting at most timeoutMs for them.
    std::vector<uint8_t> Read(size_t count, int timeoutMs);

  private:
#ifdef _WIN32
    HANDLE port_ = nullptr;
#else
    platform::PseudoTerminal terminal_;
#endif
    std::string path_;
    std::string problem_;  // empty when the line is there
};

#ifdef _WIN32

namespace far_end_detail {

// 9600 8N1 without flow control, reads that return at once with what the
// driver holds, writes without a time limit. Null with a reason when the
// port cannot be opened or set so.
inline HANDLE OpenRaw(const std::string& name, std::string* problem) {
    const std::string path = "\\\\.\\" + name;
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        *problem = "cannot open " + name + " (error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    ::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    bool set = ::GetCommState(port, &dcb) != 0;
    if (set) {
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        set = ::SetCommState(port, &dcb) && ::SetCommTimeouts(port, &timeouts);
    }
    if (!set) {
        *problem = "cannot set up " + name + " (error " + std::to_string(::GetLastError()) + ")";
        ::CloseHandle(port);
        return nullptr;
    }
    return port;
}

// The bytes the driver holds for reading; 0 when it cannot tell.
inline DWORD Waiting(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    return ::ClearCommError(port, &errors, &status) ? status.cbInQue : 0;
}

}  // namespace far_end_detail

inline FarEnd::FarEnd() {
    const char* line = std::getenv("ARVELO_TEST_LINE");
    std::istringstream names(line != nullptr ? line : "");
    std::string farName;
    if (!(names >> path_ >> farName)) {
        problem_ =
            "ARVELO_TEST_LINE does not name the two COM ports of a serial line, the port under "
            "test first (\"COM22 COM23\"); scripts/windows --test sets one up";
        return;
    }
    port_ = far_end_detail::OpenRaw(farName, &problem_);
    const HANDLE near = port_ != nullptr ? far_end_detail::OpenRaw(path_, &problem_) : nullptr;
    if (near == nullptr) {
        return;
    }
    // Unlike a new pseudo-terminal, the line outlives each test: drop what an
    // earlier test left on it, until nothing more comes, and leave the port
    // under test in the settings above.
    const uint64_t end = platform::TickCount() + 2000;
    do {
        for (HANDLE port : {port_, near}) {
            ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
        }
        platform::Sleep(20);
    } while ((far_end_detail::Waiting(port_) != 0 || far_end_detail::Waiting(near) != 0) &&
             platform::TickCount() < end);
    ::CloseHandle(near);
}

inline FarEnd::~FarEnd() {
    if (port_ != nullptr) {
        ::CloseHandle(port_);
    }
}

inline bool FarEnd::Write(const std::vector<uint8_t>& bytes) {
    DWORD written = 0;
    return ::WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

inline std::vector<uint8_t> FarEnd::Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> bytes;
    const uint64_t end = platform::TickCount() + static_cast<uint64_t>(timeoutMs);
    while (bytes.size() < count) {
        // Under Wine a read finding nothing waits, whatever the time-outs:
        // read only what the driver says it holds.
        const DWORD waiting = far_end_detail::Waiting(port_);
        if (waiting == 0) {
            if (platform::TickCount() >= end) {
                break;
            }
            platform::Sleep(1);
            continue;
        }
        uint8_t chunk[4096];
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(
            std::min({sizeof chunk, count - bytes.size(), static_cast<size_t>(waiting)}));
        if (!::ReadFile(port_, chunk, want, &n, nullptr) || n == 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

#else

inline FarEnd::FarEnd() {
    if (!terminal_.Open()) {
        problem_ = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    }
    path_ = terminal_.SlavePath();
}

inline FarEnd::~FarEnd() = default;

inline bool FarEnd::Write(const std::vector<uint8_t>& bytes) {
    return write(terminal_.MasterFd(), bytes.data(), bytes.size()) ==
           static_cast<ssize_t>(bytes.size());
}

inline std::vector<uint8_t> FarEnd::Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> bytes;
    const uint64_t end = platform::TickCount() + static_cast<uint64_t>(timeoutMs);
    while (bytes.size() < count) {
        const uint64_t now = platform::TickCount();
        pollfd fd{terminal_.MasterFd(), POLLIN, 0};
        if (now >= end || poll(&fd, 1, static_cast<int>(end - now)) <= 0) {
            break;
        }
        uint8_t chunk[512];
        const ssize_t n =
            read(terminal_.MasterFd(), chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

#endif
