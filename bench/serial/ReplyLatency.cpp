// The serial link against a pseudo-terminal whose far end answers as the
// reader does (the virtual reader's protocol core):
//   reply_latency_ms_p50  from the far end writing its reply to a read to the
//                         client thread holding the reply's block, median of 200
//   idle_link_cpu_percent processor time of a connected, idle link over 2 s
// With --smoke: an idle time of 100 ms.

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "Serial/CSerialLoader.h"
#include "bench/Smoke.h"
#include "platform/MessageQueue.h"
#include "platform/PseudoTerminal.h"
#include "tools/sim/Reader.h"

namespace {

constexpr uint32_t kNotify = 0x8190;
constexpr int kWarmUp = 20;
constexpr int kRounds = 200;

// A block the reader holds at address 0.
sim::Block Pattern() {
    sim::Block block;
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i);
    }
    return block;
}

// The reader's reply to the command frame coming off the line; none when
// no frame came.
std::optional<sim::Bytes> AnswerCommand(int fd, sim::Reader& reader) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        uint8_t byte = 0;
        if (poll(&p, 1, 2000) <= 0 || read(fd, &byte, 1) != 1) {
            return std::nullopt;
        }
        if (const std::optional<sim::Exchange> exchange = reader.Receive(byte)) {
            return exchange->reply;
        }
    }
}

// Until the client holds the reply, taken as a client takes each one;
// whether it is the block.
bool AwaitReply(CSerialLoader& link, const sim::Block& block) {
    platform::Message message;
    for (;;) {
        while (platform::PeekMessage(&message, kNotify, kNotify, platform::PM_REMOVE)) {
            if (platform::LOWORD(message.wParam) == LINK_REPLY) {
                const uint8_t* reply = link.TakeReply();
                return platform::HIWORD(message.wParam) == block.size() && reply != nullptr &&
                       std::memcmp(reply, block.data(), block.size()) == 0;
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

int main(int argc, char** argv) {
    const bool smoke = bench::Smoke(argc, argv);
    const uint32_t idleMs = smoke ? 100 : 2000;

    // The thread's queue, before the link posts a reply to it.
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);
    platform::PseudoTerminal far;
    CSerialLoader link(1024);
    if (!far.Open() ||
        link.Connect(far.SlavePath().c_str(), platform::CurrentThreadId(), kNotify, 0) != 0) {
        std::fprintf(stderr, "cannot connect the link to a pseudo-terminal\n");
        return 1;
    }
    const sim::Block block = Pattern();
    sim::MemoryImage memory;
    memory.WriteBlock(0, block);
    sim::Reader reader(memory);
    std::vector<double> latencies;
    for (int round = 0; round < kWarmUp + kRounds; ++round) {
        if (link.SendCommand(CSerialLoader::READ_CODE, "00000", 5, platform::INFINITE).bytes <= 0) {
            std::fprintf(stderr, "the command could not be sent\n");
            return 1;
        }
        const std::optional<sim::Bytes> reply = AnswerCommand(far.MasterFd(), reader);
        if (!reply || reply->empty()) {
            std::fprintf(stderr, "the command did not reach the far end\n");
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        if (write(far.MasterFd(), reply->data(), reply->size()) !=
                static_cast<ssize_t>(reply->size()) ||
            !AwaitReply(link, block)) {
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
    platform::Sleep(idleMs);
    const double idleCpu = CpuMilliseconds() - cpuBefore;
    link.Close();

    std::printf("reply_latency_ms_p50 %.2f ms\n", latencies[latencies.size() / 2]);
    std::printf("idle_link_cpu_percent %.3f %%\n", idleCpu / idleMs * 100.0);
    return 0;
}
