#pragma once
// The saved files of the runs go into the archive on a thread of its own:
// an import takes about a tenth of a second, and a server that cannot be
// reached holds one up to ten, while the thread that drives a run (the
// window program's) must stay free. The thread runs the archive sink
// (run/ArchiveSink.h) over the files in the order they come. What became of
// each file, and what the run brought in the end, is posted to a window as
// WM_ARCHIVE_NOTIFY; its owner takes it on its own thread and hands it to
// its observer, as arvelo-cli's session does with the same sink inline.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/Window.h"
#include "run/ArchiveSink.h"

namespace run {

inline constexpr uint32_t WM_ARCHIVE_NOTIFY = 33176;  // 0x8198

class ArchiveQueue {
  public:
    using Outcome = ArchiveOutcome;

    explicit ArchiveQueue(platform::WindowHandle notify);
    // Imports what was given first.
    ~ArchiveQueue();
    ArchiveQueue(const ArchiveQueue&) = delete;
    ArchiveQueue& operator=(const ArchiveQueue&) = delete;

    // A saved file, into the archive at location (empty: the default); source:
    // where it came from (the port).
    void Add(const ArchiveTarget& target, const std::string& path, const std::string& source);
    // The run's files are all given.
    void EndRun();
    // What became of the files given, in order, since the last Take.
    std::vector<Outcome> Take();
    // Whether something given has not been taken yet.
    bool Busy() const;

  private:
    struct Job {
        ArchiveTarget target;
        std::string path, source;  // no path: the end of a run
    };
    static uint32_t Work(void* queue);
    void Give(Job job);
    // Runs a job; done_ gets its outcome and the window is told.
    void Do(const Job& job);

    const platform::WindowHandle notify_;
    mutable std::mutex lock_;
    std::deque<Job> jobs_;
    std::vector<Outcome> done_;
    int given_ = 0;  // jobs not taken yet as outcomes
    bool quit_ = false;
    platform::Event wake_;
    std::unique_ptr<platform::Thread> thread_;

    ArchiveSink sink_;  // the worker's alone
};

}  // namespace run
