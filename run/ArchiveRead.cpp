#include "run/ArchiveRead.h"

#include <memory>
#include <system_error>
#include <utility>

namespace run {

namespace {

int64_t Percent(int64_t done, int64_t total) {
    return total > 0 ? done * 100 / total : 0;
}

}  // namespace

ReadThread::ReadThread(const std::string& location, Job job, std::function<void()> wake)
    : wake_(std::move(wake)) {
    try {
        thread_ = std::thread([this, location, job] { Run(location, job); });
    } catch (const std::system_error&) {
        Run(location, job);  // no thread to be had: read here, the owner waits
    }
}

ReadThread::~ReadThread() {
    {
        const std::lock_guard<std::mutex> lock(lock_);
        stop_ = true;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

ReadState ReadThread::Now() const {
    const std::lock_guard<std::mutex> lock(lock_);
    return state_;
}

bool ReadThread::Step(int64_t done, int64_t total) {
    bool moved = false;
    {
        const std::lock_guard<std::mutex> lock(lock_);
        if (stop_) {
            return false;
        }
        // The owner hears of each new percent only: a read of a thousand
        // series would otherwise wake it a thousand times.
        moved = total != state_.total || Percent(done, total) != Percent(state_.done, total);
        state_.done = done;
        state_.total = total;
    }
    if (moved) {
        wake_();
    }
    return true;
}

void ReadThread::Run(const std::string& location, const Job& job) {
    const auto archive = archive::Archive::Open(location, archive::Archive::OpenMode::Existing);
    const archive::Result<void> read =
        archive ? job(**archive, [this](int64_t done, int64_t total) { return Step(done, total); })
                : archive.failure();
    {
        const std::lock_guard<std::mutex> lock(lock_);
        state_.finished = true;
        if (!read) {
            state_.missing = read.failure().kind == archive::Fault::Missing;
            state_.error = read.failure().message;
        }
        state_.migrated = archive ? (*archive)->Migrated() : std::string();
        if (stop_) {
            return;
        }
    }
    wake_();
}

}  // namespace run
