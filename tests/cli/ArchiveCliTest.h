#pragma once
// What the archive's command-line tests share: arvelo-cli run in a
// temporary folder with an archive of its own, and what a file holds of its
// first channel as the archive prints it.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "archive/Archive.h"
#include "archive/IsoTime.h"
#include "datafile/DataFileReader.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"
#include "settings/SettingsStore.h"
#include "support/ArchiveLogs.h"
#include "support/DownloadTestSupport.h"
#include "support/PostgresServer.h"

namespace archiveclitest {

using namespace e2e;
using namespace std::chrono_literals;

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

class ArchiveCliTest : public ::testing::Test {
  protected:
    // A shell command, killed after two minutes; what it printed.
    Result Shell(const std::string& command) {
        const std::string out = dir_.File("stdout.txt");
        const std::string err = dir_.File("stderr.txt");
        const int status =
            std::system(("timeout -s KILL 120 sh -c " + pgtest::ShellQuoted(command) + " >'" + out +
                         "' 2>'" + err + "' </dev/null")
                            .c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
    }
    Result Cli(const std::string& args) { return Shell(kCli + " " + args); }
    // WELL 7: a level logger at 15 minutes and a baro at 30 (from baroFrom
    // on, when given) imported, its reference point and baro declared, and
    // a field sheet of two dips written (sheet.csv); the archive option.
    std::string Well7(const std::string& baroFrom = "") {
        const std::vector<archivetest::LogRecipe> logs = archivetest::LevelAndBaroLogs();
        archivetest::SaveLog(archivetest::MakeLog(logs[0]), Path("logs/1.omb"));
        archivetest::SaveLog(archivetest::MakeLog(logs[1]), Path("logs/2.omb"));
        std::FILE* sheet = std::fopen(Path("sheet.csv").c_str(), "wb");
        if (sheet != nullptr) {
            std::fputs(
                "well,time,depth_m,note\r\n\"WELL 7\",2024-03-16T01:15:00+01:00,2.0,tape\r\n"
                "WELL 7,2024-03-16T03:00:00Z,1.5,\"after the log, 3 h\"\r\n",
                sheet);
            std::fclose(sheet);
        }
        const std::string archive = " --archive '" + dir_.File("archive.sqlite") + "'";
        const Result imported = Cli("archive import '" + dir_.File("logs") + "'" + archive);
        EXPECT_EQ(imported.exit, 0) << imported.out << imported.err;
        for (const std::string& declare :
             {std::string("well set 'WELL 7' --reference 10.5 --datum 'm NAP'"),
              "well baro 'WELL 7' --logger PX00-00000201" +
                  (baroFrom.empty() ? "" : " --from " + baroFrom)}) {
            const Result r = Cli(declare + archive);
            EXPECT_EQ(r.exit, 0) << declare << ": " << r.err;
        }
        return archive;
    }

    std::string Path(const std::string& name) {
        const std::string path = dir_.File(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        return path;
    }
    // A folder of logs of one logger, each repeating the one before and adding samples.
    std::string LogFolder(const std::string& name, int logs, int samples, int channels) {
        for (int i = 0; i < logs; ++i) {
            archivetest::LogRecipe recipe;
            recipe.values.assign(channels, {});
            for (int k = 0; k < samples * (i + 1); ++k) {
                for (int j = 0; j < channels; ++j) {
                    recipe.values[j].push_back((k * 7 + j * 13) % 5000 / 100.0);
                }
            }
            archivetest::SaveLog(archivetest::MakeLog(recipe),
                                 Path(name + "/log" + std::to_string(i) + ".omb"));
        }
        return dir_.File(name);
    }
    // Every download whole, or not there: the samples stored are the new
    // samples of the downloads stored. The number of samples.
    static int64_t ExpectWholeLogs(const std::string& location) {
        const auto archive = archive::Archive::Open(location);
        const auto none = [](const archive::Failure& failure) {
            ADD_FAILURE() << failure.message;
            return archive::Failure{};
        };
        const auto read = archive ? (*archive)->Downloads() : none(archive.failure());
        const auto held = archive ? (*archive)->Loggers() : none(archive.failure());
        const std::vector<archive::DownloadRow> downloads =
            read ? *read : std::vector<archive::DownloadRow>{};
        const std::vector<archive::LoggerSummary> loggers =
            held ? *held : std::vector<archive::LoggerSummary>{};
        EXPECT_TRUE(read && held);
        int64_t added = 0;
        for (const auto& d : downloads) {
            added += d.newSamples;
        }
        int64_t stored = 0;
        for (const auto& l : loggers) {
            stored += l.held.samples;
        }
        EXPECT_EQ(added, stored);
        return stored;
    }

    const std::string kCli = std::string("'") + ARVELO_CLI_PROGRAM + "'";
    simtest::TempDir dir_;
};

// What the file holds of its first channel, as archive series prints it.
inline std::string SeriesOfFile(const std::string& path) {
    const ReadResult read = ReadDataFile(path);
    EXPECT_TRUE(read.ok()) << read.Message();
    const LogChannel& channel = *read.log.channel(0);
    const auto trimmed = [](std::string_view text) {
        return std::string(text.substr(0, text.find_last_not_of(' ') + 1));
    };
    std::string csv = "time_utc," + trimmed(FieldText(channel.header().identification)) + " [" +
                      trimmed(FieldText(channel.header().rangeUnit)) + "]\n";
    const std::vector<SampleTime> times = SampleTimes(read.log);
    for (int k = 0; k < channel.sampleCount(); ++k) {
        csv += archive::IsoTime(TenthsOf(times[k]).count()) + "," +
               DecimalText(channel.values()[k], channel.header().rangeDecimals) + "\n";
    }
    return csv;
}

}  // namespace archiveclitest
