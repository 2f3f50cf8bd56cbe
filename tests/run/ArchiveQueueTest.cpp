// The archive's two threads of the window program: the queue that imports a
// run's files (what each came to, what the run brought, an archive that
// cannot be opened), and a read that goes on beside the window.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>

#include "platform/Event.h"
#include "platform/Window.h"
#include "run/ArchiveQueue.h"
#include "run/ArchiveRead.h"
#include "support/ArchiveLogs.h"
#include "support/SimTestSupport.h"

namespace {

// Sets an event at each post, from whichever thread posts.
class PostedEvent final : public platform::WindowSink {
  public:
    bool Post(uint32_t message, uint32_t, intptr_t) override {
        if (message == run::WM_ARCHIVE_NOTIFY) {
            posted.Set();
        }
        return true;
    }
    platform::Event posted;
};

// A saved log of the logger serial: values at 15 minutes from start (SS:MM:HH DD/MM/YY).
std::string SavedLog(const simtest::TempDir& dir, const std::string& name,
                     const std::string& serial, const std::string& start,
                     std::vector<double> values) {
    archivetest::LogRecipe recipe;
    recipe.serial = serial;
    recipe.start = start;
    recipe.values = {std::move(values)};
    const std::string path = dir.File(name);
    archivetest::SaveLog(archivetest::MakeLog(recipe), path, name);
    return path;
}

// The outcomes up to the run's end.
std::vector<run::ArchiveQueue::Outcome> UntilRunEnd(run::ArchiveQueue& queue, PostedEvent& sink) {
    std::vector<run::ArchiveQueue::Outcome> all;
    while (all.empty() || !all.back().gain) {
        if (platform::WaitForSingle(sink.posted, 30000) != platform::WAIT_OBJECT_0) {
            ADD_FAILURE() << "no end of the run came";
            break;
        }
        sink.posted.Reset();
        for (run::ArchiveQueue::Outcome& o : queue.Take()) {
            all.push_back(std::move(o));
        }
    }
    return all;
}

TEST(ArchiveQueueTest, ARunsFilesGoInInOrderAndItsGainOrWhyNotIsTold) {
    const simtest::TempDir dir;
    PostedEvent sink;
    const platform::WindowRegistration window(sink);
    run::ArchiveQueue queue(window.Handle());
    const std::string location = dir.File("archive.sqlite");
    // One logger read twice, the second visit repeating two samples with one
    // changed; another whose second visit starts two hours after its first ends.
    const std::vector<std::string> files = {
        SavedLog(dir, "a1.omb", "PX00-000001", "00:00:00 16/03/24", {1, 2, 3, 4, 5, 6, 7, 8}),
        SavedLog(dir, "a2.omb", "PX00-000001", "00:30:01 16/03/24", {7, 9, 10, 11, 12, 13}),
        SavedLog(dir, "b1.omb", "PX00-000002", "00:00:00 16/03/24", {1, 2, 3, 4}),
        SavedLog(dir, "b2.omb", "PX00-000002", "00:00:03 16/03/24", {5, 6, 7, 8}),
    };
    for (const std::string& file : files) {
        queue.Add({location, {}}, file, "COM1");
    }
    queue.EndRun();
    std::vector<run::ArchiveQueue::Outcome> outcomes = UntilRunEnd(queue, sink);
    ASSERT_EQ(outcomes.size(), files.size() + 1);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(outcomes[i].path, files[i]);
        EXPECT_TRUE(outcomes[i].result.ok()) << outcomes[i].result.failure().message;
    }
    EXPECT_EQ(outcomes[1].result->conflicts, 1);
    EXPECT_EQ(run::Describe(*outcomes.back().gain),
              "Archive: 2 loggers, 20 new samples, 1 conflict, 1 gap");
    EXPECT_EQ(run::DescribeLoggers(*outcomes.back().gain),
              (std::vector<std::string>{
                  "Archive: logger PX00-00000101: 12 new samples, 1 repeated, 1 conflicting.",
                  "Archive: logger PX00-00000201: 8 new samples, 0 repeated."}));
    EXPECT_FALSE(queue.Busy());

    // The same log saved again (another file): the run says it brought nothing new.
    queue.Add({location, {}},
              SavedLog(dir, "again.omb", "PX00-000002", "00:00:00 16/03/24", {1, 2, 3, 4}), "COM1");
    queue.EndRun();
    outcomes = UntilRunEnd(queue, sink);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(run::DescribeLoggers(*outcomes.back().gain),
              std::vector<std::string>{
                  "Archive: logger PX00-00000201: 0 new samples, 4 repeated: nothing new."});

    // Where no archive can be: each file is told, the archive is tried once.
    queue.Add({dir.File("a1.omb"), {}}, files[0], "COM1");
    queue.Add({dir.File("a1.omb"), {}}, files[1], "COM1");
    queue.EndRun();
    outcomes = UntilRunEnd(queue, sink);
    ASSERT_EQ(outcomes.size(), 3u);
    ASSERT_FALSE(outcomes[0].result.ok());
    ASSERT_FALSE(outcomes[1].result.ok());
    EXPECT_EQ(outcomes[1].result.failure().message, outcomes[0].result.failure().message);
    EXPECT_EQ(run::Describe(*outcomes.back().gain),
              "Archive: the 2 logs of this download could not be added (" +
                  outcomes[0].result.failure().message +
                  "). The files are saved; importing their folder later catches up (arvelo-cli "
                  "archive import FOLDER).");
}

// The end of a run in words: files that may be in the archive all the same
// (a commit whose answer was lost) are not said to be missing from it, and
// an archive brought from an older version says so.
TEST(ArchiveQueueTest, TheEndOfARunSaysWhatTheArchiveMayHoldAndThatItWasMigrated) {
    const simtest::TempDir dir;
    const std::string location = dir.File("old.sqlite");
    std::filesystem::copy_file(
        std::string(ARVELO_SOURCE_DIR) + "/tests/archive/data/version1.sqlite", location);
    run::ArchiveSink sink;
    ASSERT_TRUE(sink.Import({location, {}},
                            SavedLog(dir, "new.omb", "PX00-000003", "00:00:00 16/03/25", {1}),
                            "COM1")
                    .result);
    const run::ArchiveGain migrated = *sink.EndRun().gain;
    EXPECT_NE(run::Describe(migrated).find("1 new sample, 0 conflicts, 0 gaps. The archive " +
                                           location + " was brought from version 1 to version 3"),
              std::string::npos)
        << run::Describe(migrated);

    const struct {
        int files, notArchived, unsure;
        const char *described, *notUpdated;
    } cases[] = {
        {2, 2, 2, "Archive: the 2 logs of this download may not be in it (lost).",
         "The archive may not have been updated: lost."},
        {3, 2, 1, "Archive: 2 of 3 logs of this download could not be added (lost).",
         "The archive was not updated: lost."},
    };
    for (const auto& c : cases) {
        run::ArchiveGain gain;
        gain.files = c.files;
        gain.notArchived = c.notArchived;
        gain.unsure = c.unsure;
        gain.why = "lost";
        EXPECT_TRUE(run::Describe(gain).starts_with(c.described)) << run::Describe(gain);
        EXPECT_EQ(run::NotUpdated(gain), c.notUpdated);
    }
}

TEST(ArchiveQueueTest, AReadGoesOnBesideItsOwnerAndSaysWhenThereIsNoArchive) {
    const simtest::TempDir dir;
    const std::string location = dir.File("archive.sqlite");
    {
        auto opened = archive::Archive::Open(location);
        ASSERT_TRUE(opened) << opened.failure().message;
        const auto archive = std::move(*opened);
        ASSERT_TRUE(
            archive
                ->ImportFile(SavedLog(dir, "a.omb", "PX00-000001", "00:00:00 16/03/24", {1, 2, 3}),
                             "COM1")
                .ok());
    }
    platform::Event woken;
    using Loggers = std::vector<archive::LoggerSummary>;
    std::optional<Loggers> loggers;
    {
        // What the read yields is the owner's only once taken, on the owner's thread.
        run::ArchiveRead<Loggers> read(
            location,
            [](archive::Archive& archive, const archive::Progress& progress) {
                return archive.Loggers(progress);
            },
            [&woken] { woken.Set(); });
        while (!read.Now().finished) {
            ASSERT_EQ(platform::WaitForSingle(woken, 30000), platform::WAIT_OBJECT_0);
            woken.Reset();
        }
        EXPECT_EQ(read.Now().error, "");
        loggers = read.Take();
        EXPECT_FALSE(read.Take());  // taken once
    }
    ASSERT_TRUE(loggers);
    ASSERT_EQ(loggers->size(), 1u);
    EXPECT_EQ(loggers->at(0).held.samples, 3);
    woken.Reset();  // the read is over: nothing of it wakes any more

    // The owner hears of each new percent of a long read, not of each step.
    std::atomic<int> wakes = 0;
    {
        run::ArchiveRead<int> steps(
            location,
            [](archive::Archive&, const archive::Progress& progress) -> archive::Result<int> {
                for (int64_t done = 0; done <= 5000; ++done) {
                    progress(done, 5000);
                }
                return 0;
            },
            [&woken, &wakes] {
                ++wakes;
                woken.Set();
            });
        while (!steps.Now().finished) {
            ASSERT_EQ(platform::WaitForSingle(woken, 30000), platform::WAIT_OBJECT_0);
            woken.Reset();
        }
        EXPECT_EQ(steps.Now().done, 5000);
    }
    EXPECT_EQ(wakes, 102);  // the start, each percent, and the end
    woken.Reset();

    run::ArchiveRead<int> none(
        dir.File("none.sqlite"),
        [](archive::Archive&, const archive::Progress&) -> archive::Result<int> { return 0; },
        [&woken] { woken.Set(); });
    ASSERT_EQ(platform::WaitForSingle(woken, 30000), platform::WAIT_OBJECT_0);
    EXPECT_TRUE(none.Now().finished);
    EXPECT_TRUE(none.Now().missing);
    EXPECT_NE(none.Now().error, "");
    EXPECT_FALSE(none.Take());
}

}  // namespace
