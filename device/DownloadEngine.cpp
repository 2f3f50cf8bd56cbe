#include "device/DownloadEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "Serial/LinkMessages.h"
#include "device/DeviceMessages.h"
#include "device/FixedText.h"

namespace {

using namespace reader;

constexpr int kRetries = 3;

int RoundDownTo32(int n) {
    return n - n % 32;
}

// A fixed-width text of the information block as a terminated copy.
template <std::size_t N>
void KeepText(char (&out)[N], const uint8_t* text) {
    std::memcpy(out, text, N - 1);
    out[N - 1] = '\0';
}

}  // namespace

// --------------------------------------------------------------- DownloadEngine

DownloadEngine::DownloadEngine(DeviceState& state, EngineHost& host)
    : state_(state),
      host_(host),
      line_(state.line),
      recoveredBefore_(state.line.Recovered()),
      receiveBuffer_(kBufferBytes) {
    line_.Attach(&host);
}

DownloadEngine::~DownloadEngine() {
    line_.Attach(nullptr);
    UnlockLog();
}

void DownloadEngine::Handle(const platform::Message& message) {
    switch (message.message) {
        case TM_WORKER_QUIT:
            quit_ = true;
            break;
        case TM_DOWNLOAD_START:
            Start(message.wParam);
            break;
        case TM_ERASE_FILL:
            EraseFill();
            break;
        case TM_DOWNLOAD_RESUME:
            ResumeLog();
            break;
        case WM_DEVICE_NOTIFY:
            switch (platform::LOWORD(message.wParam)) {
                case DEV_STOP:
                    quit_ = true;
                    break;
                case DEV_HOLD:
                    line_.Hold();
                    break;
                case DEV_GO_ON:
                    GoOn();
                    break;
                case LINK_ERROR:
                    LinkError(platform::HIWORD(message.wParam));
                    break;
                case LINK_REJECTED:
                    line_.Damaged();
                    break;
                case LINK_GONE:
                    PortGone();
                    break;
                case LINK_REPLY:
                    // Taken at once: the link keeps each reply's payload until then.
                    Reply(static_cast<int8_t>(message.lParam), platform::HIWORD(message.wParam),
                          host_.Reply());
                    break;
            }
            break;
    }
}

void DownloadEngine::Start(uint32_t wParam) {
    const uint16_t code = platform::LOWORD(wParam);
    if (state_.busy || (code != CMD_STREAM && code != CMD_READ)) {
        return;
    }
    address_ = platform::HIWORD(wParam);
    state_.busy = true;
    state_.inData = false;
    queueFloor_ = WM_DEVICE_NOTIFY;
    line_.SetTimeLimit(state_.replyTimeLimitMs);
    line_.Release();  // a hold ends with the run held
    kept_.reset();
    Request(static_cast<int8_t>(code));
}

void DownloadEngine::EraseFill() {
    if (state_.busy) {
        return;
    }
    host_.Send(CMD_WAIT, WAIT_PAYLOAD, WAIT_PAYLOAD_LENGTH);
    host_.Sleep(state_.eraseBlockDelayMs);
    host_.Send(CMD_READ, state_.eraseBlock.data(), static_cast<int32_t>(state_.eraseBlock.size()));
    host_.Sleep(state_.eraseReadDelayMs);
    // Its answer is the erase's result, not the start of a chain walk.
    state_.eraseMode = true;
    Start(platform::MAKEWPARAM(CMD_READ, 0));
}

void DownloadEngine::Tick() {
    line_.Tick();
}

void DownloadEngine::GoOn() {
    line_.Release();
    if (kept_) {
        const KeptAnswer answer = std::move(*kept_);
        kept_.reset();
        Answer(answer.code, static_cast<int>(answer.payload.size()), answer.payload.data());
    }
}

void DownloadEngine::ResumeLog() {
    line_.Release();
    kept_.reset();  // the log is read again from its start
    UnlockLog();
    received_ = 0;
    state_.inData = false;
    endOfLog_ = false;
    infoRead_ = false;
    state_.CloseFile(false);
    if (logRetries_ > 0) {
        --logRetries_;
        address_ = logStart_ + kInfoBlockOffset;
        Request(CMD_READ);
        return;
    }
    if (BeginNextLog(DEV_LOG_SKIPPED)) {
        logRetries_ = kRetries;
        return;
    }
    // The last log was given up: nothing is handed over, so it is neither
    // listed nor counted, however much of it was read.
    host_.Notify(DEV_DONE, 0, 0);
}

void DownloadEngine::LinkError(uint16_t code) {
    // The link names the command when a frame came damaged. A line error
    // names none: the link rejects the frame it hit (and traces it), so by
    // itself it asks nothing again.
    if (code != 0) {
        line_.Damaged();
    }
}

void DownloadEngine::PortGone() {
    // The run ends unless the port is opened again first (a resume after the
    // reader came back); a notice from a port opened again since is stale.
    if (host_.PortLost()) {
        host_.Notify(DEV_PORT_LOST, 0, 0);
    }
}

void DownloadEngine::Reply(int8_t code, int length, const uint8_t* payload) {
    if (code != CMD_STREAM && code != CMD_READ) {
        host_.Notify(DEV_UNEXPECTED, 0, 0);
        return;
    }
    const bool read = code == CMD_READ;
    const int n = std::clamp(length, 0, static_cast<int>(kReplyBufferBytes));
    // A read brings one whole block; less is a damaged reply.
    if (payload == nullptr || (read && n != kBlockBytes)) {
        line_.Damaged();
        return;
    }
    if (!line_.Take(code, payload, n)) {
        // Not the answer: a late copy of an earlier one. While the run is
        // held it is no sign that the request out was answered.
        if (!line_.Held()) {
            host_.Notify(DEV_ALIVE, 0, 0);
        }
        return;
    }
    if (line_.Held()) {
        // Nothing moves while the user is asked whether to go on.
        kept_ = KeptAnswer{code, std::vector<uint8_t>(payload, payload + n)};
        return;
    }
    Answer(code, n, payload);
}

void DownloadEngine::Answer(int8_t code, int n, const uint8_t* payload) {
    const bool read = code == CMD_READ;
    host_.Answered(code, address_, payload, n);
    const int recovered = line_.Recovered() - recoveredBefore_;
    if (recovered != recoveredReported_) {
        recoveredReported_ = recovered;
        host_.Notify(DEV_RECOVERED, static_cast<uint16_t>(std::min(recovered, 0xFFFF)), 0);
    }
    const int stored = std::min(n, kBufferBytes - received_);
    if (stored > 0) {
        std::memcpy(receiveBuffer_.data() + received_, payload, stored);
    }
    // A read brings whole 32-byte units; anything behind them is not memory.
    received_ += read ? RoundDownTo32(stored) : stored;
    const uint32_t advance = read ? RoundDownTo32(n) / 2 : n;

    if (read && state_.eraseMode) {
        const bool erased = receiveBuffer_[0] == 0xFF && receiveBuffer_[1] == 0xFF;
        host_.Notify(DEV_ERASE_RESULT, erased ? 0 : 1, 0);
        return;
    }
    if (read && search_) {
        received_ = 0;
        EndSearchBlock(payload);
        return;
    }
    address_ += advance;
    if (read && !directoryDone_) {
        ChainEntry();
    } else if (read && !infoRead_) {
        InformationBlock();
    } else if (!state_.inData) {
        HeaderBlock(code);
    } else {
        DataRecords(code);
    }
}

void DownloadEngine::ChainEntry() {
    if (received_ > kBlockBytes / 2) {  // more than half a block: the page byte came
        received_ = 0;
        const uint8_t page = receiveBuffer_[kNextPageByte];
        if (page != kNoNextPage && logsFound_ < kMaxLogs && address_ < kLastAddress) {
            address_ = page * kPageUnits;
            // A page that points back would lead round the same logs for
            // ever: the entry stands for the end of the chain, as free
            // memory does, and is not read.
            const bool loops = Loops(address_);
            state_.logAddress[logsFound_] = address_;
            ++logsFound_;
            host_.Notify(DEV_LOG_FOUND, static_cast<uint16_t>(logsFound_), 0);
            if (!loops) {
                Request(CMD_READ);
                return;
            }
            host_.TraceNote("the log chain points back to an earlier page: it ends there");
            host_.Notify(DEV_CHAIN_LOOP, static_cast<uint16_t>(logsFound_), 0);
        }
        directoryDone_ = true;
        address_ = logStart_ + kInfoBlockOffset;
        host_.Notify(DEV_LOG_COUNT, static_cast<uint16_t>(logsFound_), 0);
        host_.Sleep(1);
        if (logsFound_ == 0) {
            // The run is over: a request now would only bring notifications
            // that arrive after it.
            return;
        }
    }
    Request(CMD_READ);
}

bool DownloadEngine::Loops(uint32_t address) const {
    const auto found = state_.logAddress.begin() + logsFound_;
    return address == 0 || std::find(state_.logAddress.begin(), found, address) != found;
}

void DownloadEngine::InformationBlock() {
    if (received_ > 32) {
        const uint8_t* block = receiveBuffer_.data();
        KeepText(typeDigits_, block + kTypeDigitsByte);
        KeepText(typeName_, block + kTypeNameByte);
        KeepText(typeTag_, block + kTypeTagByte);
        frameChannels_ =
            ParseInt(std::string_view(reinterpret_cast<const char*>(block + kChannelCountByte), 2));
        infoRead_ = true;
        received_ = 0;
        address_ = logStart_ + kHeaderBlockOffset;
    }
    host_.Notify(DEV_ALIVE, 0, 0);
    Request(CMD_READ);
}

void DownloadEngine::HeaderBlock(int8_t code) {
    const uint8_t* block = receiveBuffer_.data();
    if (code == CMD_STREAM && received_ >= kStreamCountKnownBytes) {
        frameChannels_ = ParseInt(
            std::string_view(reinterpret_cast<const char*>(block + kStreamChannelCountByte), 2));
    }
    const int channels = frameChannels_;
    const int headerBytes = HeaderBytes(channels);
    // The memory ends before the header does: it never completes.
    const bool memoryEnded = address_ > kLastAddress;
    if (received_ < headerBytes && !memoryEnded) {
        host_.Notify(DEV_ALIVE, 0, 0);
        Request(code);
        return;
    }

    LockLog();
    DeviceLog* const read = ReadLogHeader(code, channels, headerBytes);
    if (read == nullptr) {
        if (state_.surveyOnly) {
            Surveyed(-1);  // a survey names it, and goes on
            return;
        }
        host_.Notify(DEV_LOG_CORRUPT, 0, 0);
        UnlockLog();
        return;  // until resumed, stopped or told to quit
    }
    DeviceLog& log = *read;
    stepMode_ = log.header().isStepMode();
    recordSize_ = 2 * channels + (stepMode_ ? 1 : 0);
    if (state_.surveyOnly) {
        BeginEndSearch(log, headerBytes);
        return;
    }
    host_.Notify(DEV_LOG_HEADER, 0, 0);

    received_ -= headerBytes;
    std::memmove(receiveBuffer_.data(), block + headerBytes, received_);
    state_.inData = true;
    host_.Notify(DEV_BLOCK_TOTAL, 0,
                 static_cast<intptr_t>(std::min<uint64_t>(ExpectedBlocks(log, code, headerBytes),
                                                          std::numeric_limits<int32_t>::max())));
    clock_.emplace(log.header());

    state_.ResetOutputFileAnswer();
    host_.Notify(DEV_LOG_OPEN_FILE, 0, 0);
    if (state_.saveDuringDownload) {
        host_.AwaitOutputFile();
        if (!WriteLogStart(log) && state_.saveDuringDownload) {
            quit_ = true;  // no file to write the log into
            return;
        }
    }
    Request(code);
}

DeviceLog* DownloadEngine::ReadLogHeader(int8_t code, int channels, int headerBytes) {
    const uint8_t* block = receiveBuffer_.data();
    DeviceLog* current = &state_.NewCurrentLog();
    const char* text = reinterpret_cast<const char*>(block);
    // Read also without its mark: a corrupted log is named to the user by
    // what its header says, though nothing is named or written from it.
    const bool whole = received_ >= headerBytes && channels > 0;
    if (whole) {
        char headerText[LOG_HEADER_TEXT_LENGTH];
        std::memcpy(headerText, text + kHeaderMarkBytes, kHeaderTextFirstBytes);
        std::memcpy(headerText + kHeaderTextFirstBytes,
                    text + kChannelRecordsByte + kChannelRecordBytes * channels,
                    kHeaderTextRestBytes);
        current->parseLogHeader(headerText, LOG_HEADER_TEXT_LENGTH);
    }
    // The header's own count must be one the block holds records for:
    // else the file would announce channels it does not have.
    const bool valid = whole && HasHeaderMark(block) && current->channelCount() > 0 &&
                       current->channelCount() <= channels;
    if (!valid) {
        return nullptr;
    }
    DeviceLog& log = *current;
    // The stream carries no information block: its log keeps the defaults.
    if (code == CMD_READ) {
        log.setInstrumentInfo(typeDigits_, typeName_, typeTag_);
    }
    LogChannel channel;
    values_.assign(channels, 0.0);
    decimals_.assign(channels, 0);
    for (int j = 0; j < channels; ++j) {
        channel.reset();
        channel.parseChannelHeader(text + kChannelRecordsByte + kChannelRecordBytes * j,
                                   CHANNEL_RECORD_LENGTH);
        decimals_[j] = channel.header().rangeDecimals;
        log.addChannel(channel);
    }
    return &log;
}

uint64_t DownloadEngine::ExpectedBlocks(const DeviceLog& log, int8_t code, int headerBytes) const {
    // Records wider than a block would divide by zero in the count of
    // records per block; count the blocks from the bytes then.
    const uint64_t samples = log.expectedSampleCount();
    uint64_t blocks = recordSize_ <= kBlockBytes ? samples / (kBlockBytes / recordSize_)
                                                 : samples * recordSize_ / kBlockBytes;
    // Every log but the last ends where the chain says the next one begins;
    // that bounds the count (by far, for a log in a step mode).
    const int index = state_.logIndex;
    if (code == CMD_READ && index < logsFound_ - 1) {
        const uint32_t end = state_.logAddress[index];
        const uint32_t data = logStart_ + kHeaderBlockOffset;
        if (end > data) {
            const uint64_t bytes = uint64_t{end - data} * 2 - headerBytes;
            blocks = std::min(blocks, (bytes + kBlockBytes - 1) / kBlockBytes);
        }
    }
    return blocks;
}

bool DownloadEngine::WriteLogStart(DeviceLog& log) {
    bool opened = false;
    state_.WithFile([&](LogSink* writer, bool) {
        if (writer != nullptr) {
            writer->WriteLog(&log);
            opened = true;
        }
    });
    return opened;
}

void DownloadEngine::DataRecords(int8_t code) {
    host_.Notify(DEV_BLOCK, 0, 0);
    DeviceLog& log = *state_.CurrentLog();
    const int channels = static_cast<int>(values_.size());
    // Without a file now the file is written after the download, from these.
    const bool keepLines = !state_.saveDuringDownload;
    int q = 0;
    state_.WithFile([&](LogSink* writer, bool comma) {
        for (; q + recordSize_ <= received_; q += recordSize_) {
            const uint8_t* record = receiveBuffer_.data() + q;
            // A record cut by an end marker is dropped whole, so every
            // channel keeps the same number of samples.
            if (std::any_of(record, record + recordSize_, IsEndMarker)) {
                endOfLog_ = true;
                return;
            }
            const uint8_t step = stepMode_ ? record[0] : 0;
            const uint8_t* sample = record + (stepMode_ ? 1 : 0);
            for (int j = 0; j < channels; ++j, sample += 2) {
                LogChannel& channel = *log.channel(j);
                // A full channel (30000 samples) keeps what it has; the file
                // still gets the record.
                channel.appendSample(sample[0], sample[1], step);
                values_[j] = DecodeSample(channel.header(), sample[0], sample[1]);
            }
            // Counted per record, not per sample held, so the times stay
            // right past a full channel.
            const SampleTime time = clock_->Next(step);
            if (writer != nullptr) {
                writer->WriteSampleLine(time.seconds, time.tenths, values_.data(), decimals_.data(),
                                        channels, comma);
            } else if (keepLines) {
                state_.KeepLine(time.seconds, time.tenths, values_.data(), channels);
            }
        }
        // The block's lines reach the file before the next block is asked
        // for: a program killed meanwhile leaves them in the .partial.
        if (writer != nullptr) {
            writer->Flush();
        }
    });
    // Nothing lies behind the last address: the log ends there.
    if (!endOfLog_ && address_ > kLastAddress) {
        endOfLog_ = true;
    }
    if (!endOfLog_) {
        received_ -= q;
        std::memmove(receiveBuffer_.data(), receiveBuffer_.data() + q, received_);
        Request(code);
        return;
    }
    EndOfLog(code);
}

void DownloadEngine::EndOfLog(int8_t code) {
    if (state_.saveDuringDownload) {
        state_.CloseFile(true);
    }
    state_.HandOverCurrentLog();
    UnlockLog();
    if (code == CMD_STREAM) {
        host_.Notify(DEV_DONE, 0, 0);
    }
    state_.inData = false;
    endOfLog_ = false;
    received_ = 0;
    if (code == CMD_READ) {
        infoRead_ = false;
        NextLog(DEV_LOG_DONE);
    }
    queueFloor_ = WM_DEVICE_NOTIFY;
}

void DownloadEngine::NextLog(uint16_t notice) {
    if (BeginNextLog(notice)) {
        return;
    }
    host_.Send(CMD_WAIT, WAIT_PAYLOAD, WAIT_PAYLOAD_LENGTH);
    host_.Sleep(10);
    host_.Notify(DEV_DONE, 0, 0);
}

bool DownloadEngine::BeginNextLog(uint16_t notice) {
    const int index = state_.logIndex;
    if (index >= logsFound_ - 1) {
        return false;
    }
    if (notice != 0) {
        host_.Notify(notice, 0, 0);
    }
    logStart_ = state_.logAddress[index];
    address_ = logStart_ + kInfoBlockOffset;
    Request(CMD_READ);
    state_.logIndex = index + 1;
    return true;
}

void DownloadEngine::Request(int8_t code) {
    // Addresses have five hexadecimal digits; none beyond is ever asked for.
    if (address_ > kLastAddress) {
        return;
    }
    line_.Send(code, address_);
}

void DownloadEngine::LockLog() {
    if (!holdsLog_) {
        host_.LockLog();
        holdsLog_ = true;
    }
}

void DownloadEngine::UnlockLog() {
    if (holdsLog_) {
        host_.UnlockLog();
        holdsLog_ = false;
    }
}
