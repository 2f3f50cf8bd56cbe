// The serial link against a pseudo-terminal far end:
//   reply_latency_ms_p50  from the far end writing a 135-byte read reply to the
//                         client thread holding LINK_REPLY, median of 200
//   idle_link_cpu_percent processor time of a connected, idle link over 2 s

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "Serial/SERIAL.h"
#include "platform/MessageQueue.h"
#include "platform/PseudoTerminal.h"

namespace {

constexpr uint32_t kNotify = 0x8190;
constexpr int kWarmUp = 20;
constexpr int kRounds = 200;

std::vector<uint8_t> ReadReply() {
    std::vector<uint8_t> frame = {0x01, 'M', '8', '0', 0x02};
    for (int i = 0; i < 128; ++i) {
        frame.push_back(static_cast<uint8_t>(i));
    }
    frame.push_back(0x03);
    frame.push_back(static_cast<uint8_t>(
        CSerialLoader::FrameChecksum(frame.data(), static_cast<int32_t>(frame.size())) & 0xFF));
    return frame;
}

// Takes the command frame off the line.
bool ReceiveCommand(int fd, size_t size) {
    std::vector<uint8_t> bytes(size);
    size_t got = 0;
    while (got < size) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) {
            return false;
        }
        const ssize_t n = read(fd, bytes.data() + got, size - got);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool AwaitReply() {
    platform::Message message;
    for (;;) {
        while (platform::PeekMessage(&message, kNotify, kNotify, platform::PM_REMOVE)) {
            if (platform::LOWORD(message.wParam) == LINK_REPLY) {
                return true;
            }
        }
        if (!platform::WaitMessage(2000)) {
            return false;
        }
    }
}

double CpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main() {
    platform::PseudoTerminal far;
    CSerialLoader link(1024);
    if (!far.Open() ||
        link.Connect(far.SlavePath().c_str(), platform::CurrentThreadId(), kNotify, 0) != 0) {
        std::fprintf(stderr, "cannot connect the link to a pseudo-terminal\n");
        return 1;
    }
    const std::vector<uint8_t> reply = ReadReply();
    std::vector<double> latencies;
    for (int round = 0; round < kWarmUp + kRounds; ++round) {
        const int32_t sent =
            link.SendCommand(CSerialLoader::READ_CODE, "00000", 5, platform::INFINITE);
        if (sent <= 0 || !ReceiveCommand(far.MasterFd(), static_cast<size_t>(sent))) {
            std::fprintf(stderr, "the command did not reach the far end\n");
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        if (write(far.MasterFd(), reply.data(), reply.size()) !=
                static_cast<ssize_t>(reply.size()) ||
            !AwaitReply()) {
            std::fprintf(stderr, "no reply\n");
            return 1;
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (round >= kWarmUp) {
            latencies.push_back(took.count());
        }
    }
    std::sort(latencies.begin(), latencies.end());

    platform::Sleep(100);  // let the last collection finish
    const double cpuBefore = CpuMilliseconds();
    platform::Sleep(2000);
    const double idleCpu = CpuMilliseconds() - cpuBefore;
    link.Close();

    std::printf("reply_latency_ms_p50 %.2f ms\n", latencies[latencies.size() / 2]);
    std::printf("idle_link_cpu_percent %.3f %%\n", idleCpu / 2000.0 * 100.0);
    return 0;
}
