// A Download All of one log of 220 data blocks from the virtual reader, as a
// timed tool run:
//   download_line_rate_ratio   wire time of every command and reply byte
//                              (10 bits each at 9600 baud) over the measured
//                              wall time, with the reader paced both ways and
//                              no turnaround; 1.0 is the limit
//   download_fast_blocks_per_s blocks read per second with the reader unpaced
//   fault_recovery_ms          median extra time one reply with a bad checksum
//                              costs a paced download of a 20-block log
//   late_reply_recovery_ms     median extra time one reply 850 ms late costs
//                              the same paced download
//   slow_reader_line_rate_ratio  the demo reader answering each request after
//                              500 ms: (wire time + 500 ms per request) over
//                              the wall time; 1.0 is the limit
// With --smoke: the 20-block log alone, every run unpaced and once, the slow
// reader 10 ms slow.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Serial/CSerialLoader.h"
#include "bench/Smoke.h"
#include "platform/MessageQueue.h"
#include "platform/Window.h"
#include "run/Session.h"
#include "tools/sim/ImageBuilder.h"
#include "tools/sim/Server.h"

namespace {

constexpr int kRecords = 7040;  // 2 channels: 28160 bytes, 220 blocks
constexpr double kBaud = 9600;

struct Measured {
    double seconds = 0;
    std::uint64_t wireBytes = 0;
    std::uint64_t blocks = 0;  // read replies
    bool done = false;
};

std::string LogJson(int records) {
    std::string a, b;
    for (int i = 0; i < records; ++i) {
        const std::string sep = i ? "," : "";
        a += sep + "[" + std::to_string(i % 250) + "," + std::to_string(i / 250 % 120) + "]";
        b += sep + "[" + std::to_string((i * 7) % 250) + ",60]";
    }
    return R"({"logs":[{"location":"BENCH","sampleRate":"00 00:00:01 0",)"
           R"("startTime":"00:00:00 01/01/24","endTime":"00:00:00 02/01/24",)"
           R"("channels":[{},{}],"raw":[[)" +
           a + "],[" + b + "]]}]}";
}

class EndOfRun final : public run::Observer {
  public:
    void RunEnded(const run::RunEnd& end) override { how = end.how; }
    run::End how = run::End::GivenUp;
};

// The main thread's part: the run core, as the command-line tool drives it.
Measured Run(const sim::MemoryImage& image, bool fast, const std::string& directory,
             const sim::FaultOptions& faults = {},
             std::chrono::milliseconds turnaround = std::chrono::milliseconds(0)) {
    sim::ServerOptions options;
    options.fast = fast;
    options.faults = faults;
    options.turnaround = turnaround;
    sim::Server server(image, options);
    std::string error;
    Measured measured;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "bench_download: %s\n", error.c_str());
        return measured;
    }
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);
    platform::ThreadQueueSink sink(platform::CurrentThreadId());
    platform::WindowRegistration window(sink);
    EndOfRun end;
    const auto settings = [&directory] { return run::FileSettings{0, directory, ".omb"}; };
    run::Session session(settings, end, window.Handle());
    if (!session.DownloadAll(server.PortName())) {
        std::fprintf(stderr, "bench_download: cannot open %s\n", server.PortName().c_str());
        return measured;
    }
    const auto started = std::chrono::steady_clock::now();
    while (session.Running() && platform::WaitMessage(20000)) {
        while (platform::PeekMessage(&message, 0, 0, platform::PM_REMOVE)) {
            session.Handle(platform::LOWORD(message.wParam), platform::HIWORD(message.wParam),
                           message.lParam);
        }
    }
    measured.done = end.how == run::End::Done;
    if (!measured.done) {
        std::fprintf(stderr, "bench_download: the download did not finish\n");
        return measured;
    }
    measured.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Every frame in both directions: 0x01, text, 0x02, payload, 0x03, checksum.
    for (const sim::CommandFrame& command : server.Commands()) {
        measured.wireBytes += 4 + command.text.size() + command.payload.size();
    }
    measured.blocks = server.Stats().repliesSent;
    measured.wireBytes += measured.blocks * frame::kReadReplySize;
    server.Stop();
    return measured;
}

std::optional<sim::MemoryImage> Image(int records) {
    sim::ImageBuilder builder;
    sim::MemoryImage image;
    std::string error;
    if (!builder.AddLogs(LogJson(records), &error) || !builder.Build(&image, &error)) {
        std::fprintf(stderr, "bench_download: %s\n", error.c_str());
        return std::nullopt;
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = bench::Smoke(argc, argv);
    // The reader's COM link goes into a port directory of our own.
    std::string sandbox = (std::filesystem::temp_directory_path() / "arvelo-bench-XXXXXX").string();
    if (mkdtemp(sandbox.data()) == nullptr) {
        std::perror("bench_download");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", sandbox.c_str(), 1);

    const std::optional<sim::MemoryImage> image = Image(smoke ? kRecords / 11 : kRecords);
    const std::optional<sim::MemoryImage> small = Image(kRecords / 11);
    if (!image || !small) {
        return 1;
    }
    sim::MemoryImage demo;
    std::string error;
    if (!demo.Load(ARVELO_SOURCE_DIR "/tools/sim/samples/readers/demo.bin", &error)) {
        std::fprintf(stderr, "bench_download: %s\n", error.c_str());
        return 1;
    }
    const Measured paced = Run(*image, smoke, sandbox + "/");
    const Measured fast = Run(*image, true, sandbox + "/");
    const std::chrono::milliseconds turnaround(smoke ? 10 : 500);
    const Measured slow = Run(smoke ? *small : demo, smoke, sandbox + "/", {}, turnaround);
    // One reply in the middle of the log with a bad checksum, or 850 ms late,
    // against the same download on a clean line, five times each; none when
    // a download did not finish. (Unpaced, the extra time can come out below 0.)
    const auto medianExtraMs = [&](const sim::FaultOptions& faults) -> std::optional<double> {
        std::vector<double> extra;
        for (int i = 0; i < (smoke ? 1 : 5); ++i) {
            const Measured clean = Run(*small, smoke, sandbox + "/");
            const Measured faulty = Run(*small, smoke, sandbox + "/", faults);
            if (!clean.done || !faulty.done) {
                return std::nullopt;
            }
            extra.push_back((faulty.seconds - clean.seconds) * 1000);
        }
        std::sort(extra.begin(), extra.end());
        return extra[extra.size() / 2];
    };
    sim::FaultOptions badChecksum;
    badChecksum.badChecksum.at = 12;
    sim::FaultOptions late;
    late.late.at = 12;
    late.lateBy = std::chrono::milliseconds(850);
    const std::optional<double> faultMs = medianExtraMs(badChecksum);
    const std::optional<double> lateMs = medianExtraMs(late);
    std::filesystem::remove_all(sandbox);
    if (!paced.done || !fast.done || !slow.done || !faultMs || !lateMs) {
        return 1;
    }
    std::printf("fault_recovery_ms %.0f ms\n", *faultMs);
    std::printf("late_reply_recovery_ms %.0f ms\n", *lateMs);
    const double slowBusySeconds =
        slow.wireBytes * 10.0 / kBaud +
        static_cast<double>(slow.blocks) * std::chrono::duration<double>(turnaround).count();
    std::printf("slow_reader_line_rate_ratio %.3f\n", slowBusySeconds / slow.seconds);
    const double wireSeconds = paced.wireBytes * 10.0 / kBaud;
    std::printf("download_line_rate_ratio %.3f\n", wireSeconds / paced.seconds);
    std::printf("download_fast_blocks_per_s %.1f blocks/s\n", fast.blocks / fast.seconds);
    std::fprintf(stderr, "paced: %llu blocks, %llu bytes, wire %.2f s, wall %.2f s\n",
                 static_cast<unsigned long long>(paced.blocks),
                 static_cast<unsigned long long>(paced.wireBytes), wireSeconds, paced.seconds);
    return 0;
}
