#include "run/ArchiveQueue.h"

#include <utility>

namespace run {

ArchiveQueue::ArchiveQueue(platform::WindowHandle notify)
    : notify_(notify), thread_(platform::Thread::CreateSuspended(&ArchiveQueue::Work, this)) {
    if (thread_) {
        thread_->Resume();
    }
}

ArchiveQueue::~ArchiveQueue() {
    {
        const std::lock_guard<std::mutex> lock(lock_);
        quit_ = true;
        wake_.Set();
    }
    if (thread_) {
        thread_->Join(platform::INFINITE);
    }
}

void ArchiveQueue::Add(const ArchiveTarget& target, const std::string& path,
                       const std::string& source) {
    Give({target, path, source});
}

void ArchiveQueue::EndRun() {
    Give({});
}

void ArchiveQueue::Give(Job job) {
    {
        const std::lock_guard<std::mutex> lock(lock_);
        ++given_;
        if (thread_) {
            jobs_.push_back(std::move(job));
            wake_.Set();
            return;
        }
    }
    // Without a thread of its own (none could be started) the work is done here.
    Do(job);
}

std::vector<ArchiveQueue::Outcome> ArchiveQueue::Take() {
    const std::lock_guard<std::mutex> lock(lock_);
    given_ -= static_cast<int>(done_.size());
    return std::exchange(done_, {});
}

bool ArchiveQueue::Busy() const {
    const std::lock_guard<std::mutex> lock(lock_);
    return given_ > 0;
}

uint32_t ArchiveQueue::Work(void* argument) {
    auto& queue = *static_cast<ArchiveQueue*>(argument);
    for (;;) {
        platform::WaitForSingle(queue.wake_, platform::INFINITE);
        Job job;
        {
            const std::lock_guard<std::mutex> lock(queue.lock_);
            if (queue.jobs_.empty()) {
                if (queue.quit_) {
                    return 0;
                }
                queue.wake_.Reset();
                continue;
            }
            job = std::move(queue.jobs_.front());
            queue.jobs_.pop_front();
        }
        queue.Do(job);
    }
}

void ArchiveQueue::Do(const Job& job) {
    Outcome outcome =
        job.path.empty() ? sink_.EndRun() : sink_.Import(job.target, job.path, job.source);
    {
        const std::lock_guard<std::mutex> lock(lock_);
        done_.push_back(std::move(outcome));
    }
    platform::PostWindowMessage(notify_, WM_ARCHIVE_NOTIFY, 0, 0);
}

}  // namespace run
