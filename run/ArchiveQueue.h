#pragma once
// The saved files of the runs go into the archive on a thread of their own:
// an import takes about a tenth of a second, and a server that cannot be
// reached holds one up to ten, while the thread that drives a run (the
// window program's) must stay free. Files are imported in the order they
// come. A run's archive is opened at its first file, once (one that cannot
// be opened is not tried again for each file), and let go after its last.
// What became of each file, and what the run brought in the end, is posted
// to a window as WM_ARCHIVE_NOTIFY; its owner takes it on its own thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/Window.h"

namespace run {

inline constexpr uint32_t WM_ARCHIVE_NOTIFY = 33176;  // 0x8198

// What a run brought into the archive.
struct ArchiveGain {
    std::vector<std::string> serials;  // the loggers of its logs, in the order they came
    int files = 0;                     // given to the archive
    int alreadyIn = 0;                 // of those, files the archive held already
    int64_t newSamples = 0, conflicts = 0, gaps = 0;
    std::string location;  // of the archive they went into
    int notArchived = 0;   // files the archive could not take
    std::string why;       // the first of those: why, in words
};

// In words for the status bar: "Archive: 3 loggers, 12,480 new samples, 0
// conflicts, 1 gap", or what was not archived and how to catch up.
std::string Describe(const ArchiveGain& gain);

class ArchiveQueue {
  public:
    struct Outcome {
        std::string path;                 // the file; empty at the end of a run
        archive::ImportResult result;     // of the file
        std::optional<ArchiveGain> gain;  // at the end of a run: what it brought
    };

    explicit ArchiveQueue(platform::WindowHandle notify);
    // Imports what was given first.
    ~ArchiveQueue();
    ArchiveQueue(const ArchiveQueue&) = delete;
    ArchiveQueue& operator=(const ArchiveQueue&) = delete;

    // A saved file, into the archive at location (empty: the default); source:
    // where it came from (the port).
    void Add(const std::string& location, const std::string& path, const std::string& source);
    // The run's files are all given.
    void EndRun();
    // What became of the files given, in order, since the last Take.
    std::vector<Outcome> Take();
    // Whether something given has not been taken yet.
    bool Busy() const;

  private:
    struct Job {
        std::string location, path, source;  // no path: the end of a run
    };
    static uint32_t Work(void* queue);
    void Give(Job job);
    Outcome Do(const Job& job);

    const platform::WindowHandle notify_;
    mutable std::mutex lock_;
    std::deque<Job> jobs_;
    std::vector<Outcome> done_;
    int given_ = 0;  // jobs not taken yet as outcomes
    bool quit_ = false;
    platform::Event wake_;
    std::unique_ptr<platform::Thread> thread_;

    // The worker's alone: the run going on.
    std::unique_ptr<archive::Archive> archive_;
    std::optional<std::string> openError_;
    ArchiveGain gain_;
};

}  // namespace run
