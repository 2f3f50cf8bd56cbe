// arvelo-cli show: a data file's header and a summary of its samples.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "datafile/DataFileFormat.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

const char* LayoutName(DataLayout layout) {
    switch (layout) {
        case DataLayout::Text:
            return ".omb text";
        case DataLayout::Comma:
            return "comma-separated, MM/DD/YY dates";
        case DataLayout::CommaFullDate:
            return "comma-separated, YYYY/MM/DD dates (exported)";
    }
    return "";
}

// Every text of the file goes through here: see PrintableText.
void Row(const char* name, std::string_view value) {
    std::printf("%-19s%s\n", name, PrintableText(value).c_str());
}

}  // namespace

ReadResult ReadOrReport(const std::string& path) {
    ReadResult read = ReadDataFile(path);
    if (!read.ok()) {
        Fail(PrintableText(path + ": " + read.Message()));  // it quotes the line
    }
    return read;
}

int Show(const Options& options) {
    const std::string& path = *options.file;
    const ReadResult read = ReadOrReport(path);
    if (!read.ok()) {
        return kFileError;
    }
    const DeviceLog& log = read.log;
    const LogHeader& header = log.header();
    const std::vector<SampleTime> times = SampleTimes(log);
    Row("file", path);
    Row("layout", LayoutName(read.layout));
    Row("location", FieldText(header.location));
    Row("serial number", FieldText(header.serialNumber));
    Row("instrument number", FieldText(header.instrumentNumber));
    Row("instrument type", TraitsOf(header.instrumentType).fileText);
    Row("sample rate", FieldText(header.sampleRate));
    Row("sample mode", header.sampleModeName());
    Row("start (Tb)", FieldText(header.startTime));
    Row("end (Te)", FieldText(header.endTime));
    Row("channels", std::to_string(log.channelCount()));
    std::string samples = std::to_string(times.size());
    if (read.samplesNotKept > 0) {
        samples += " (and " + std::to_string(read.samplesNotKept) +
                   " more in the file than a channel keeps)";
    }
    Row("samples", samples);
    if (!times.empty()) {
        Row("first", SampleTimeText(times.front()));
        Row("last", SampleTimeText(times.back()));
    }
    std::printf("\n%-8s%-22s%-8s%14s%14s\n", "channel", "identification", "unit", "min", "max");
    for (int j = 0; j < log.channelCount(); ++j) {
        const LogChannel& channel = *log.channel(j);
        const ChannelHeader& channelHeader = channel.header();
        std::string low = "-";
        std::string high = "-";
        double lowest = INFINITY;
        double highest = -INFINITY;
        for (const double value : channel.values()) {
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
        if (lowest <= highest) {
            low = DecimalText(lowest, channelHeader.rangeDecimals);
            high = DecimalText(highest, channelHeader.rangeDecimals);
        }
        const std::string name =
            PrintableText(ChannelIdentification(channelHeader, header.instrumentType));
        const std::string unit = PrintableText(FieldText(channelHeader.rangeUnit));
        std::printf("%-8d%-22s%-8s%14s%14s\n", j + 1, name.c_str(), unit.c_str(), low.c_str(),
                    high.c_str());
    }
    return kDone;
}

}  // namespace cli
