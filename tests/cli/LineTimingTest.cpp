// arvelo-cli against arvelo-sim on a line paced at 9600 baud: readers slow to
// answer, replies late by a fraction of, about, and several times the time-out
// at the chain walk, a header and a data block, and line faults. Each case is a
// pair of processes with a port directory of its own, and the cases run at
// once. Every case ends as a clean run does (exit 0, the same files), or, when
// the reader stays silent past the time-out and no resume is allowed, with
// "no answer", no incomplete log under a final name, and the logs not saved named.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "support/DownloadTestSupport.h"

namespace {

using namespace e2e;

struct Case {
    std::string name;
    std::string simArgs;
    std::string cliArgs;
    bool givenUp = false;  // silent past the time-out, no resume: exit 5
};

struct CaseRun {
    int exit = -1;
    std::string err;
    std::string folder;
};

// Serves image with arvelo-sim and downloads it with arvelo-cli into a
// folder of its own; blocks until both have ended.
CaseRun Download(const std::string& base, const std::string& image, const Case& c) {
    CaseRun run;
    run.folder = base + "/out/";
    std::filesystem::create_directories(run.folder);
    const std::string command =
        "export XDG_CONFIG_HOME='" + base + "/config' XDG_DATA_HOME='" + base + "/data'; cd '" +
        base + "' || exit 1; '" + ARVELO_SIM_PROGRAM + "' serve --image '" + image + "' " +
        c.simArgs + " >sim.txt 2>&1 & sim=$!; for i in $(seq 200); do grep -q '^ready' '" + base +
        "/sim.txt' && break; sleep 0.05; done; port=$(awk '/^ready/{print $2}' '" + base +
        "/sim.txt'); '" + ARVELO_CLI_PROGRAM + "' download --port \"$port\" --out '" + run.folder +
        "' --name-parts 0 " + c.cliArgs +
        " >stdout.txt 2>stderr.txt </dev/null; echo $? >exit.txt;" + " kill $sim; wait $sim";
    std::system(command.c_str());
    run.exit = std::stoi("0" + ReadText(base + "/exit.txt"));
    run.err = ReadText(base + "/stderr.txt");
    return run;
}

// The addresses each read of a -v sim trace asked, in order.
std::vector<std::string> ReadsIn(const std::string& simTrace) {
    std::vector<std::string> reads;
    std::istringstream log(simTrace);
    for (std::string line; std::getline(log, line);) {
        if (const std::size_t at = line.find("< M81 '"); at != std::string::npos) {
            reads.push_back(line.substr(at + 7, 5));
        }
    }
    return reads;
}

// One log of two data blocks, for the readers slow to answer.
sim::MemoryImage SmallImage() {
    std::string values;
    for (int i = 0; i < 100; ++i) {
        values += (i ? "," : "") + std::to_string(i * 0.01);
    }
    return simtest::BuildImage(R"({"logs":[{"location":"SMALL","channels":[{}],"values":[[)" +
                               values + "]]}]}");
}

// A case given up: the time-out said, the logs not saved named, the logs
// finished those of a clean run and the one in progress under its
// incomplete name only.
void ExpectGivenUp(const Case& c, const CaseRun& run,
                   const std::map<std::string, std::vector<std::string>>& expected) {
    EXPECT_EQ(run.exit, 5) << c.name << "\n" << run.err << ReadText(run.folder + "../stdout.txt");
    EXPECT_NE(run.err.find("no answer from the reader for 1 s"), std::string::npos) << c.name;
    // Last, what was not saved: every log, or the one read and those after.
    const bool walk = c.name.find("chain walk") != std::string::npos;
    EXPECT_NE(run.err.find(walk ? "none of the reader's logs was saved"
                                : "not saved: log 3 of 3 (C, serial number 12767): the run "
                                  "ended while it was read"),
              std::string::npos)
        << c.name << "\n"
        << run.err;
    int partial = 0;
    for (const auto& [name, text] : DataFiles(run.folder)) {
        if (name.ends_with(".partial")) {
            ++partial;
        } else {
            EXPECT_EQ(text, expected.at(name)) << c.name << ": " << name;
        }
    }
    EXPECT_EQ(partial, walk ? 0 : 1) << c.name;
}

TEST(LineTiming, SlowAndLateReadersAndLineFaultsEndAsACleanRunOrWithTheTimeOut) {
    simtest::TempDir dir;
    const sim::MemoryImage image = simtest::BuildImage(simtest::ThreeLogsJson());
    std::string error;
    ASSERT_TRUE(image.Save(dir.File("reader.bin"), 0, &error)) << error;
    ASSERT_TRUE(SmallImage().Save(dir.File("small.bin"), 0, &error)) << error;

    // The clean run, unpaced: the files every case must end with, and the
    // reads in order (the sim logs each frame with -v).
    const CaseRun clean =
        Download(dir.File("clean"), dir.File("reader.bin"), {"clean", "--fast -v", ""});
    ASSERT_EQ(clean.exit, 0) << clean.err;
    const CaseRun cleanSmall =
        Download(dir.File("clean-small"), dir.File("small.bin"), {"clean", "--fast", ""});
    ASSERT_EQ(cleanSmall.exit, 0) << cleanSmall.err;
    const std::vector<std::string> reads = ReadsIn(ReadText(dir.File("clean/sim.txt")));
    // Replies by number: the last log's first header block and the middle of its data.
    const auto replyTo = [&](uint32_t address) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%.5X", address);
        const auto found = std::find(reads.begin(), reads.end(), hex);
        EXPECT_NE(found, reads.end()) << hex;
        return std::to_string(found - reads.begin() + 1);
    };
    const std::string header = replyTo(sim::LogStarts(image).back() + sim::kHeaderBlockOffset);
    const std::string data = std::to_string((std::stoi(header) + reads.size()) / 2);

    const std::vector<Case> cases = {
        {"at the line rate", "", ""},
        {"a reader taking 500 ms to answer", "--turnaround 500", ""},
        {"a reader taking 2 s to answer", "--turnaround 2000", ""},
        {"a third of the time-out late in the chain walk", "--late 2 --late-by 300", "--timeout 1"},
        {"three times the time-out late in the chain walk, resumed", "--late 2 --late-by 3000",
         "--timeout 1"},
        {"the time-out late in a header", "--late " + header + " --late-by 1000", "--timeout 1"},
        {"three times the time-out late in the data, resumed", "--late " + data + " --late-by 3000",
         "--timeout 1"},
        {"replies late one after another", "--late-every 3 --late-by 700", ""},
        {"line faults",
         "--noise-every 5 --truncate-every 7 --bad-checksum-every 11 --garbage-every 3", ""},
        {"every second reply with a wrong checksum", "--bad-checksum-every 2", ""},
        {"every second reply lost", "--drop-every 2", ""},
        {"every second reply cut short", "--truncate-every 2", ""},
        {"every second reply garbled", "--noise-every 2", ""},
        {"silent in the data, not resumed", "--stop-after " + data, "--timeout 1 --resume 0", true},
        {"three times the time-out late in the data, not resumed",
         "--late " + data + " --late-by 3000", "--timeout 1 --resume 0", true},
        {"three times the time-out late in the chain walk, not resumed", "--late 2 --late-by 3000",
         "--timeout 1 --resume 0", true},
    };
    const auto slow = [](const Case& c) {
        return c.simArgs.find("turnaround") != std::string::npos;
    };
    std::vector<CaseRun> runs(cases.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        threads.emplace_back([&, i] {
            runs[i] = Download(dir.File("case" + std::to_string(i)),
                               dir.File(slow(cases[i]) ? "small.bin" : "reader.bin"), cases[i]);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto expected = DataFiles((slow(cases[i]) ? cleanSmall : clean).folder);
        if (cases[i].givenUp) {
            ExpectGivenUp(cases[i], runs[i], expected);
        } else {
            EXPECT_EQ(runs[i].exit, 0) << cases[i].name << "\n" << runs[i].err;
            EXPECT_TRUE(DataFiles(runs[i].folder) == expected) << cases[i].name << "\n"
                                                               << runs[i].err;
        }
    }
}

}  // namespace
