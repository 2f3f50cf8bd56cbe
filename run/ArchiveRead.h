#pragma once
// One read of the archive on a thread of its own: a large archive, or one on
// a server across the network, takes seconds to read, and the window that
// asked must stay free meanwhile. The read says how far it is as it goes;
// its owner learns of each step through wake, called on the reading thread
// (it should only post), and looks with Now() on its own thread. The job
// yields its result on the reading thread; the owner takes it, on its own
// thread, once Now() says the read finished without error. Nothing of the
// owner's is written by the reading thread.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "archive/Archive.h"

namespace run {

struct ReadState {
    int64_t done = 0, total = 0;
    bool finished = false;
    bool missing = false;  // there is no archive at the location yet
    std::string error;     // why the read failed, in words; empty when it did not
    std::string migrated;  // what opening did to an older archive (Archive::Migrated)
};

// The thread of a read, whatever it yields.
class ReadThread {
  public:
    using Job = std::function<archive::Result<void>(archive::Archive&, const archive::Progress&)>;

    // Opens the archive at location (empty: the default) for reading, never
    // making one, and runs job on it (here, when no thread can be started).
    ReadThread(const std::string& location, Job job, std::function<void()> wake);
    // Stops the job at its next step and waits for it.
    ~ReadThread();
    ReadThread(const ReadThread&) = delete;
    ReadThread& operator=(const ReadThread&) = delete;

    ReadState Now() const;

  private:
    void Run(const std::string& location, const Job& job);
    // Notes a step; false once the owner has gone.
    bool Step(int64_t done, int64_t total);

    const std::function<void()> wake_;
    mutable std::mutex lock_;
    ReadState state_;
    bool stop_ = false;
    std::thread thread_;
};

template <typename Result>
class ArchiveRead {
  public:
    using Job = std::function<archive::Result<Result>(archive::Archive&, const archive::Progress&)>;

    ArchiveRead(const std::string& location, Job job, std::function<void()> wake)
        : thread_(
              location,
              [this, job = std::move(job)](
                  archive::Archive& archive,
                  const archive::Progress& progress) -> archive::Result<void> {
                  archive::Result<Result> result = job(archive, progress);
                  if (!result) {
                      return result.failure();
                  }
                  const std::lock_guard<std::mutex> lock(lock_);
                  result_ = std::move(*result);
                  return {};
              },
              std::move(wake)) {}

    ReadState Now() const { return thread_.Now(); }
    // What the read yielded, once it finished without error; taken once.
    std::optional<Result> Take() {
        const std::lock_guard<std::mutex> lock(lock_);
        return std::exchange(result_, std::nullopt);
    }

  private:
    std::mutex lock_;
    std::optional<Result> result_;
    ReadThread thread_;  // last: it ends before what it fills goes
};

}  // namespace run
