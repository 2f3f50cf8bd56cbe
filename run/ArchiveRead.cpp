#include "run/ArchiveRead.h"

#include <memory>
#include <system_error>
#include <utility>

namespace run {

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
    {
        const std::lock_guard<std::mutex> lock(lock_);
        if (stop_) {
            return false;
        }
        state_.done = done;
        state_.total = total;
    }
    wake_();
    return true;
}

void ReadThread::Run(const std::string& location, const Job& job) {
    std::string error;
    bool missing = false;
    const std::unique_ptr<archive::Archive> archive =
        archive::Archive::Open(location, &error, archive::Archive::OpenMode::Existing, &missing);
    if (archive &&
        !job(*archive, [this](int64_t done, int64_t total) { return Step(done, total); })) {
        error = archive->Error();
    }
    {
        const std::lock_guard<std::mutex> lock(lock_);
        state_.finished = true;
        state_.missing = missing;
        state_.error = std::move(error);
        state_.migrated = archive ? archive->Migrated() : std::string();
        if (stop_) {
            return;
        }
    }
    wake_();
}

}  // namespace run
