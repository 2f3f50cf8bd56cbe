// Feeds arbitrary reader bytes through the decoders and writes the decoded log
// in both layouts: no input may crash, read out of bounds or hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafile/DataFileWriter.h"
#include "device/SampleTime.h"
#include "support/FuzzInput.h"

namespace {

using fuzz::Input;

int Length(const std::vector<char>& piece) {
    return static_cast<int>(piece.size());
}

// A terminated copy of up to n bytes, as the engine keeps the info texts.
std::vector<char> Terminated(Input& input, std::size_t n) {
    std::vector<char> text = input.Take(n);
    text.push_back('\0');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input input(data, size);
    DeviceLog log;
    const std::vector<char> header = input.Take(LOG_HEADER_TEXT_LENGTH);
    log.parseLogHeader(header.data(), Length(header));
    const std::vector<char> type = Terminated(input, 2);
    const std::vector<char> name = Terminated(input, 9);
    const std::vector<char> tag = Terminated(input, 5);
    log.setInstrumentInfo(type.data(), name.data(), tag.data());
    const int channels = input.Byte() % 5;
    for (int j = 0; j < channels; ++j) {
        LogChannel channel;
        const std::vector<char> record = input.Take(CHANNEL_RECORD_LENGTH);
        channel.parseChannelHeader(record.data(), Length(record));
        log.addChannel(channel);
    }
    while (!input.Empty()) {
        const uint8_t j = input.Byte();
        const uint8_t low = input.Byte();
        const uint8_t high = input.Byte();
        if (LogChannel* channel = log.channel(j % 8)) {
            channel->appendSample(low, high, input.Byte());
        }
    }
    log.expectedSampleCount();
    SampleTimes(log);

    DataFileWriter writer;
    writer.SetTitleSource([] { return TitleStamp{}; });
    if (writer.Open("/dev/null", "w") == 0) {
        writer.WriteLog(&log);
        WriteLogSamples(writer, log, size % 2 == 0);
        writer.Close();
    }
    return 0;
}
