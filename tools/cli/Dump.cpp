// arvelo-cli dump: a copy of what a download reads of the reader's memory, as
// an image the virtual reader can serve. The blocks are read by a Download
// All that saves no file: the download's own walk and its requests' rules, so
// the copy holds exactly what a download reads and a replay goes the same way.
// A corrupted log is read as often as a download tries it, then skipped.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "datafile/StagedFile.h"
#include "device/DeviceController.h"
#include "device/ReaderMemory.h"
#include "run/Observer.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Terminal.h"
#include "tools/sim/MemoryImage.h"

namespace cli {

namespace {

class DumpCommand {
  public:
    DumpCommand(const Options& options, const std::shared_ptr<LinkTrace>& trace)
        : options_(options),
          controller_(std::make_unique<StagedDataFile>()),
          read_(reader::kLastAddress + 1) {
        controller_.Link().SetTrace(trace);
        controller_.SetReplyTimeLimit(options.timeoutMs);
        controller_.SuppressSaving(1);
        // On the worker; what it writes is read once the worker has ended.
        controller_.SetBlockTap([this](uint32_t address, const uint8_t* bytes) {
            if (address <= reader::kLastAddress && !read_[address]) {
                read_[address] = true;
                sim::Block block;
                std::memcpy(block.data(), bytes, block.size());
                image_.WriteBlock(address, block);
                ++blocks_;
            }
        });
    }

    int Run() {
        if (const int32_t result =
                controller_.Start(options_.port.c_str(), queue_.Handle(), WM_DEVICE_NOTIFY, 0);
            result != 0) {
            FailToOpen(options_.port, result);
            return kPortError;
        }
        controller_.DownloadAll();
        int exit = -1;
        while (exit < 0) {
            const std::optional<platform::Message> message = queue_.Next(options_.timeoutMs);
            exit = message       ? Handle(platform::LOWORD(message->wParam),
                                          platform::HIWORD(message->wParam))
                   : interrupted ? Stop(kInterrupted, {run::End::Cancelled})
                                 : Stop(kNoAnswer, {run::End::GivenUp});
        }
        controller_.Shutdown();
        EndLive();
        if (exit != kDone) {
            return exit;
        }
        std::string error;
        if (!image_.Save(*options_.out, 0, &error)) {
            Fail(error);
            return kFileError;
        }
        std::fprintf(stderr, "%d blocks read\n", blocks_.load());
        std::printf("saved %s\n", options_.out->c_str());
        return kDone;
    }

  private:
    // The run goes on (-1) or ends with an exit code.
    int Handle(uint16_t code, uint16_t high) {
        switch (code) {
            case DEV_LOG_FOUND:
                Live("chain: " + std::to_string(high));
                return -1;
            case DEV_LOG_COUNT:
                logs_ = high;
                blocksBefore_ = blocks_.load();
                Line("chain: " + std::to_string(logs_) + (logs_ == 1 ? " log" : " logs"));
                return logs_ == 0 ? kDone : -1;
            case DEV_CHAIN_LOOP:
                Line("the chain points back to an earlier log after entry " + std::to_string(high));
                return -1;
            case DEV_BLOCK:
                Live("log " + std::to_string(log_) + " of " + std::to_string(logs_) + ": block " +
                     std::to_string(blocks_.load() - blocksBefore_));
                return -1;
            case DEV_LOG_CORRUPT:
                // As a download goes on after it: the log again, then skipped.
                controller_.Resume();
                return -1;
            case DEV_LOG_SKIPPED:
                LogRead(" (its header block is not valid)");
                return -1;
            case DEV_LOG_DONE:
            case DEV_DONE: {
                FinishedLog finished;
                const bool read = controller_.TakeFinishedLog(finished);
                LogRead(read ? "" : " (its header block is not valid)");
                return code == DEV_DONE ? kDone : -1;
            }
            case DEV_PORT_LOST:
                return Stop(kPortLost, {run::End::PortLost});
            case DEV_UNEXPECTED:
            case DEV_COMM_ERROR:
                return Stop(kLinkError, {run::End::LinkError});
            default:
                return -1;
        }
    }

    int Stop(int exit, const run::RunEnd& end) {
        controller_.Stop();
        EndLive();
        const run::Voice voice{run::Voice::Face::CommandLine, run::Voice::Run::Dump, options_.port,
                               run::DescribeSilence(options_.timeoutMs / 1000)};
        Fail(run::Describe(end, voice) + "; nothing written");
        return exit;
    }

    void LogRead(const std::string& remark) {
        Line("log " + std::to_string(log_) + " of " + std::to_string(logs_) + ": " +
             std::to_string(blocks_.load() - blocksBefore_) + " blocks" + remark);
        blocksBefore_ = blocks_.load();
        ++log_;
    }

    // A live line on a terminal, replaced by the next.
    void Live(const std::string& text) {
        if (live_) {
            std::fprintf(stderr, "\r%s   ", text.c_str());
            shown_ = true;
        }
    }
    // A line that stays, over the live line when one is shown.
    void Line(const std::string& text) {
        std::fprintf(stderr, shown_ ? "\r%s   \n" : "%s\n", text.c_str());
        shown_ = false;
    }
    void EndLive() {
        if (shown_) {
            std::fputc('\n', stderr);
            shown_ = false;
        }
    }

    const Options& options_;
    NotifyQueue queue_;
    DeviceController controller_;
    sim::MemoryImage image_;  // the worker's until it has ended
    std::vector<bool> read_;  // by address; likewise
    std::atomic<int> blocks_{0};
    int blocksBefore_ = 0;  // of the chain and the logs before the current one
    int logs_ = 0;
    int log_ = 1;
    const bool live_ = StandardErrorIsTerminal();
    bool shown_ = false;
};

}  // namespace

int Dump(const Options& options, const std::shared_ptr<LinkTrace>& trace) {
    // Better now than after minutes of reading: a file can be made beside it.
    const std::string probe = *options.out + ".probe";
    if (!std::ofstream(probe)) {
        Fail("cannot write " + *options.out + ": " + std::strerror(errno));
        return kFileError;
    }
    std::remove(probe.c_str());
    return DumpCommand(options, trace).Run();
}

}  // namespace cli
