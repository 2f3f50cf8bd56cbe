// The download hands the writer over between threads: the main thread opens
// the file while the worker polls IsOpen, then the worker writes and closes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "datafile/DataFileWriter.h"

namespace {

TEST(WriterHandOver, WorkerWritesOnceTheMainThreadHasOpened) {
    const std::string path =
        ::testing::TempDir() + "arvelo-handover-" + std::to_string(getpid()) + ".csv";
    for (int round = 0; round < 20; ++round) {
        DataFileWriter writer;
        DeviceLog log;
        log.addChannel(LogChannel{});
        log.channel(0)->appendSample(10, 0, 0);
        std::thread worker([&] {
            while (!writer.IsOpen()) {
                std::this_thread::yield();
            }
            writer.WriteLog(&log);
            WriteLogSamples(writer, log, true);
            writer.Close();
        });
        ASSERT_EQ(writer.Open(path.c_str(), "w"), 0);
        worker.join();
        EXPECT_FALSE(writer.IsOpen());
    }
    EXPECT_GT(std::filesystem::file_size(path), 0u);
    std::filesystem::remove(path);
}

}  // namespace
