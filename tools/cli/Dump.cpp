// arvelo-cli dump: a copy of what a download reads of the reader's memory,
// as an image the virtual reader can serve.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "device/DeviceMessages.h"
#include "device/ReaderMemory.h"
#include "platform/MessageQueue.h"
#include "tools/cli/Commands.h"
#include "tools/cli/MemoryDump.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

// The dump's progress on standard error: a live line on a terminal, else one
// line per log.
class DumpProgress : public DumpObserver {
  public:
    void ChainRead(int logs, bool done) override {
        if (done) {
            Line("chain: " + std::to_string(logs) + (logs == 1 ? " log" : " logs"));
        } else if (live_) {
            std::fprintf(stderr, "\rchain: %d   ", logs);
            shown_ = true;
        }
    }
    void BlockRead(int log, int logs, int blocks) override {
        if (live_) {
            std::fprintf(stderr, "\rlog %d of %d: block %d   ", log, logs, blocks);
            shown_ = true;
        }
    }
    void LogRead(int log, int logs, int blocks, bool headerValid) override {
        Line("log " + std::to_string(log) + " of " + std::to_string(logs) + ": " +
             std::to_string(blocks) + " blocks" +
             (headerValid ? "" : " (its header block is not valid; read up to its end)"));
    }
    // Ends a live line that no summary replaced.
    void End() {
        if (shown_) {
            std::fputc('\n', stderr);
            shown_ = false;
        }
    }

  private:
    // A summary line, over the live line when one is shown.
    void Line(const std::string& text) {
        std::fprintf(stderr, shown_ ? "\r%s   \n" : "%s\n", text.c_str());
        shown_ = false;
    }

    const bool live_ = StandardErrorIsTerminal();
    bool shown_ = false;
};

}  // namespace

int Dump(const Options& options, const std::shared_ptr<LinkTrace>& trace) {
    const std::string& image = *options.out;
    // Better now than after minutes of reading: a file can be made beside it.
    const std::string probe = image + ".probe";
    if (!std::ofstream(probe)) {
        Fail("cannot write " + image + ": " + std::strerror(errno));
        return kFileError;
    }
    std::remove(probe.c_str());
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);  // the link posts to this thread
    CSerialLoader link(reader::kReplyBufferBytes);
    link.SetTrace(trace);
    if (const int32_t result =
            link.Connect(options.port.c_str(), platform::CurrentThreadId(), WM_DEVICE_NOTIFY, 0);
        result != 0) {
        FailToOpen(options.port, result);
        return kPortError;
    }
    LinkBlockSource source(link, options.timeoutMs, interrupted);
    DumpProgress progress;
    const DumpResult result = DumpMemory(source, progress);
    link.Close();
    progress.End();
    char address[8];
    std::snprintf(address, sizeof address, "%.5X", result.failedAt);
    switch (result.status) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::Interrupted:
            Fail("interrupted; nothing written");
            return kInterrupted;
        case ReadStatus::NoAnswer:
            Fail(std::string("no answer from the reader to the read of ") + address +
                 "; nothing written");
            return kNoAnswer;
        case ReadStatus::LinkFailed:
            Fail(std::string("serial communication error reading ") + address +
                 "; nothing written");
            return kLinkError;
    }
    std::string error;
    if (!result.image.Save(image, 0, &error)) {
        Fail(error);
        return kFileError;
    }
    std::fprintf(stderr, "%zu blocks read\n", result.addresses.size());
    std::printf("saved %s\n", image.c_str());
    return kDone;
}

}  // namespace cli
