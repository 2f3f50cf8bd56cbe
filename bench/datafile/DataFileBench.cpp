// Writing a full log, 30000 samples of 10 channels, as a ".omb" file, and
// reading that file back.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "datafile/DataFileReader.h"
#include "datafile/DataFileWriter.h"

namespace {

constexpr int kChannels = 10;

DeviceLog FullLog() {
    DeviceLog log;
    const std::string header =
        "BENCH WELL          PX00-012767101.0BENCH-1             "
        "00 00:00:01 5T   00:00:08 14/05/24  00:00:08 15/05/24";
    log.parseLogHeader(header.data(), static_cast<int>(header.size()));
    log.setInstrumentInfo("10", "PEXIL    ", "DD   ");
    const std::string record =
        "LEVEL CHANNEL         102.350 m     10.000    m     "
        "100.00    m     245.5     m     ";
    for (int j = 0; j < kChannels; ++j) {
        LogChannel channel;
        channel.parseChannelHeader(record.data(), static_cast<int>(record.size()));
        log.addChannel(channel);
    }
    for (int k = 0; k < LogChannel::kMaxSamples; ++k) {
        for (int j = 0; j < kChannels; ++j) {
            const int raw = static_cast<int>(15000 + 14000 * std::sin(k * 0.001 + j));
            log.channel(j)->appendSample(static_cast<uint8_t>(raw % 250),
                                         static_cast<uint8_t>(raw / 250), 0);
        }
    }
    return log;
}

std::string BenchPath() {
    return (std::filesystem::temp_directory_path() /
            ("arvelo-bench-" + std::to_string(getpid()) + ".omb"))
        .string();
}

void BM_WriteOmb(benchmark::State& state) {
    static const DeviceLog log = FullLog();
    const std::string path = BenchPath();
    DataFileWriter writer;
    for (auto _ : state) {
        writer.Open(path.c_str(), "w");
        writer.WriteLog(&log);
        WriteLogSamples(writer, log, false);
        if (writer.Close() != 0) {
            state.SkipWithError("writing the file failed");
            break;
        }
    }
    const double bytes = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
    state.counters["omb_write_mb_per_s"] = benchmark::Counter(
        bytes * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    state.counters["file_mb"] = bytes / 1e6;
}
BENCHMARK(BM_WriteOmb)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadOmb(benchmark::State& state) {
    const DeviceLog log = FullLog();
    const std::string path = BenchPath();
    DataFileWriter writer;
    writer.Open(path.c_str(), "w");
    WriteWholeLog(writer, log, false);
    writer.Close();
    for (auto _ : state) {
        const ReadResult read = ReadDataFile(path);
        if (!read.ok() || read.log.channel(0)->sampleCount() != LogChannel::kMaxSamples) {
            state.SkipWithError("reading the file failed");
            break;
        }
    }
    const double bytes = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
    state.counters["omb_read_mb_per_s"] = benchmark::Counter(
        bytes * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadOmb)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
