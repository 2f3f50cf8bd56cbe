// The download engine fed any sequence of messages and reply payloads. Each
// step of the input: one byte choosing the message (a reply to the read or
// the stream command, a reply to another command, a link error, a resume, a
// start, a stop), one byte of payload length, then the payload. Saving
// alternates with the first byte, so the writer paths run too (into a
// temporary file). Nothing may be read or written outside a buffer, and the
// engine must hold "DeviceMutex" only while a log is open.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "Serial/LinkMessages.h"
#include "datafile/StagedFile.h"
#include "device/DeviceMessages.h"
#include "device/DownloadEngine.h"

namespace {

class FuzzHost : public EngineHost {
  public:
    explicit FuzzHost(DeviceState& state) : state_(state) {}

    void Send(int8_t, const char* payload, int32_t length) override {
        // Every request is five hexadecimal digits, or the wait command.
        if (length != 5 && length != 16) {
            std::abort();
        }
        volatile char last = payload[length - 1];
        (void)last;
    }
    const uint8_t* Reply() override { return reply.data(); }
    void Notify(uint16_t, uint16_t, intptr_t) override {}
    void Sleep(uint32_t) override {}
    uint64_t Now() override { return 0; }
    void AwaitOutputFile() override {
        // A file of this process's own, made anew for each log.
        static const std::string path = (std::filesystem::temp_directory_path() /
                                         ("arvelo-engine-fuzz-" + std::to_string(getpid())))
                                            .string();
        std::remove((path + ".partial").c_str());
        state_.OpenOutputFile(path.c_str(), ".omb");
    }
    void LockLog() override { ++depth; }
    void UnlockLog() override {
        if (--depth < 0) {
            std::abort();
        }
    }

    std::vector<uint8_t> reply;
    int depth = 0;

  private:
    DeviceState& state_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    DeviceState state{std::make_unique<StagedDataFile>()};
    state.saveDuringDownload = (data[0] & 1) != 0;
    FuzzHost host(state);
    {
        DownloadEngine engine(state, host);
        std::size_t at = 1;
        while (at + 2 <= size && !engine.Quit()) {
            const uint8_t kind = data[at] % 8;
            const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
            host.reply.assign(data + at + 2, data + at + 2 + length);  // exactly sized for ASan
            at += 2 + length;
            const auto replyTo = [&](int8_t code) {
                return platform::Message{
                    WM_DEVICE_NOTIFY,
                    platform::MAKEWPARAM(LINK_REPLY, static_cast<uint16_t>(length)), code};
            };
            switch (kind) {
                case 0:
                case 1:
                case 2:
                    engine.Handle(replyTo(CMD_READ));
                    break;
                case 3:
                    engine.Handle(replyTo(CMD_STREAM));
                    break;
                case 4:
                    engine.Handle(replyTo(CMD_WAIT));
                    break;
                case 5:
                    engine.Handle({WM_DEVICE_NOTIFY,
                                   platform::MAKEWPARAM(LINK_ERROR, static_cast<uint16_t>(length)),
                                   0});
                    break;
                case 6:
                    engine.Handle({TM_DOWNLOAD_RESUME, 0, 0});
                    break;
                case 7:
                    engine.Handle(
                        {TM_DOWNLOAD_START, platform::MAKEWPARAM(length & 1 ? 18 : 0, 0), 0});
                    break;
            }
        }
    }
    if (host.depth != 0) {
        std::abort();  // the engine's end releases what it holds
    }
    return 0;
}
