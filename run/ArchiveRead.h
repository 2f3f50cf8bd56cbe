#pragma once
// One read of the archive on a thread of its own: a large archive, or one on
// a server across the network, takes seconds to read, and the window that
// asked must stay free meanwhile. The read says how far it is as it goes;
// its owner learns of each step through wake, called on the reading thread
// (it should only post), and looks with Now() on its own thread. The job
// fills what its owner gave it; the owner reads that once Now() says the
// read finished without error.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "archive/Archive.h"

namespace run {

class ArchiveRead {
  public:
    // False, with the archive's Error(), when the read failed.
    using Job = std::function<bool(archive::Archive&, const archive::Progress&)>;

    struct State {
        int64_t done = 0, total = 0;
        bool finished = false;
        bool missing = false;  // there is no archive at the location yet
        std::string error;     // why the read failed, in words; empty when it did not
    };

    // Opens the archive at location (empty: the default) for reading, never
    // making one, and runs job on it (here, when no thread can be started).
    ArchiveRead(const std::string& location, Job job, std::function<void()> wake);
    // Stops the job at its next step and waits for it.
    ~ArchiveRead();
    ArchiveRead(const ArchiveRead&) = delete;
    ArchiveRead& operator=(const ArchiveRead&) = delete;

    State Now() const;

  private:
    void Run(const std::string& location, const Job& job);
    // Notes a step; false once the owner has gone.
    bool Step(int64_t done, int64_t total);

    const std::function<void()> wake_;
    mutable std::mutex lock_;
    State state_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace run
