// Builds a log from arbitrary bytes as the download engine decodes one,
// header texts with any bytes and announced counts that disagree with the
// channels held included, writes it in each layout the program writes, reads
// the file back and checks that it is the log written, as far as the file
// carries a log, and that writing it again gives the same bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datafile/DataFileReader.h"
#include "datafile/DataFileWriter.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"
#include "support/CarriedLog.h"
#include "support/FuzzInput.h"

namespace {

using fuzz::Input;

// A record of the reader of width bytes: a length byte, then that many bytes
// of the input (up to width), blank padded, so that short inputs make whole
// records too.
std::vector<char> Record(Input& input, std::size_t width) {
    std::vector<char> record = input.Take(input.Byte() % (width + 1));
    record.resize(width, ' ');
    return record;
}

// A terminated copy of up to n bytes, as the engine keeps the info texts.
std::vector<char> Terminated(Input& input, std::size_t n) {
    std::vector<char> text = input.Take(n);
    text.push_back('\0');
    return text;
}

// The engine never hands on an end marker (253-255).
uint8_t DataByte(Input& input) {
    return static_cast<uint8_t>(input.Byte() % 253);
}

// What each way of writing a file writes, and what the reader takes it for.
enum class Way { Download, DownloadComma, Export, ExportComma, Count };

DataLayout LayoutOf(Way way) {
    switch (way) {
        case Way::DownloadComma:
            return DataLayout::Comma;
        case Way::ExportComma:
            return DataLayout::CommaFullDate;
        default:
            return DataLayout::Text;
    }
}

// The export writes the data window's texts: each time as "YYYY/MM/DD" and
// "HH:MM:SS.t", each value with its channel's decimals.
void WriteAsExport(DataFileWriter& writer, const DeviceLog& log, bool comma) {
    writer.WriteLog(&log);
    const int count = log.channels().count();
    const std::vector<SampleTime> times = SampleTimes(log);
    std::vector<std::string> texts(static_cast<std::size_t>(count));
    std::vector<const char*> values(static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < times.size(); ++k) {
        for (int j = 0; j < count; ++j) {
            const LogChannel& channel = *log.channel(j);
            texts[j] = DecimalText(channel.sampleValue(static_cast<int>(k)),
                                   channel.header().rangeDecimals);
            values[j] = texts[j].c_str();
        }
        const std::string dateTime = SampleTimeText(times[k], " ");
        const std::size_t blank = dateTime.find(' ');
        writer.WriteTextLine(dateTime.substr(0, blank).c_str(), dateTime.substr(blank + 1).c_str(),
                             values.data(), count, comma);
    }
}

// Where each file is written; removed when the fuzzer ends.
struct ScratchFile {
    ~ScratchFile() { unlink(path.c_str()); }
    const std::string path = "/tmp/arvelo-round-trip-fuzz-" + std::to_string(getpid());
};

std::string Written(const DeviceLog& log, Way way) {
    static const ScratchFile scratch;
    DataFileWriter writer;
    writer.SetTitleSource([] { return TitleStamp{}; });
    if (writer.Open(scratch.path.c_str(), "w") != 0) {
        std::abort();
    }
    switch (way) {
        case Way::Download:
        case Way::DownloadComma:
            WriteWholeLog(writer, log, way == Way::DownloadComma);
            break;
        default:
            WriteAsExport(writer, log, way == Way::ExportComma);
            break;
    }
    if (writer.Close() != 0) {
        std::abort();
    }
    std::ifstream in(scratch.path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

[[noreturn]] void Fail(const std::string& why, const std::string& file) {
    std::fprintf(stderr, "%s\n--- the file written:\n%s\n", why.c_str(), file.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input input(data, size);
    DeviceLog log;
    const std::vector<char> header = Record(input, LOG_HEADER_TEXT_LENGTH);
    log.parseLogHeader(header.data(), static_cast<int>(header.size()));
    const std::vector<char> type = Terminated(input, 2);
    const std::vector<char> name = Terminated(input, 9);
    const std::vector<char> tag = Terminated(input, 5);
    log.setInstrumentInfo(type.data(), name.data(), tag.data());
    const uint8_t choices = input.Byte();
    const auto way = static_cast<Way>(choices % static_cast<int>(Way::Count));
    const int held = input.Byte() % 6;
    for (int j = 0; j < held; ++j) {
        LogChannel channel;
        const std::vector<char> record = Record(input, CHANNEL_RECORD_LENGTH);
        channel.parseChannelHeader(record.data(), static_cast<int>(record.size()));
        log.addChannel(channel);
    }
    // One record after another, a step byte first in the step modes.
    const bool stepMode = log.header().isStepMode();
    while (held > 0 && !input.Empty()) {
        const uint8_t step = stepMode ? DataByte(input) : 0;
        for (int j = 0; j < held; ++j) {
            const uint8_t low = DataByte(input);
            log.channel(j)->appendSample(low, DataByte(input), step);
        }
    }
    // Channels shorter than the first, which the engine never makes.
    if (choices & 0x80) {
        for (int j = 1; j < held; ++j) {
            LogChannel& channel = *log.channel(j);
            channel.keepFirst(channel.sampleCount() - j);
        }
    }

    const std::string file = Written(log, way);
    const ReadResult read = ReadDataText(file);
    if (!read.ok()) {
        Fail("not read back: " + read.Message(), file);
    }
    if (log.channel(0) && log.channel(0)->sampleCount() > 0 && read.layout != LayoutOf(way)) {
        Fail("read back in another layout", file);
    }
    if (const std::string difference = test::CarriedDifference(log, read.log);
        !difference.empty()) {
        Fail("read back another log: " + difference, file);
    }
    if (Written(read.log, way) != file) {
        Fail("written again, the file differs", file);
    }
    return 0;
}
