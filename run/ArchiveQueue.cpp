#include "run/ArchiveQueue.h"

#include <algorithm>
#include <utility>

namespace run {

namespace {

// 12480 as "12,480".
std::string Grouped(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return n < 0 ? "-" + digits : digits;
}

std::string Counted(int64_t n, const char* one, const char* many) {
    return Grouped(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string Describe(const ArchiveGain& gain) {
    if (gain.notArchived > 0) {
        const std::string which =
            gain.notArchived == gain.files
                ? (gain.files == 1 ? std::string("the log")
                                   : "the " + Grouped(gain.files) + " logs")
                : Grouped(gain.notArchived) + " of " + Counted(gain.files, "log", "logs");
        return "Archive: " + which + " of this download could not be added (" + gain.why +
               "). The files are saved; importing their folder later catches up (arvelo-cli "
               "archive import FOLDER).";
    }
    return "Archive: " + Counted(static_cast<int64_t>(gain.serials.size()), "logger", "loggers") +
           ", " + Counted(gain.newSamples, "new sample", "new samples") + ", " +
           Counted(gain.conflicts, "conflict", "conflicts") + ", " +
           Counted(gain.gaps, "gap", "gaps") +
           (gain.alreadyIn > 0
                ? " (" + Counted(gain.alreadyIn, "file", "files") + " in the archive already)"
                : "");
}

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

void ArchiveQueue::Add(const std::string& location, const std::string& path,
                       const std::string& source) {
    Give({location, path, source});
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
    Outcome outcome = Do(job);
    {
        const std::lock_guard<std::mutex> lock(lock_);
        done_.push_back(std::move(outcome));
    }
    platform::PostWindowMessage(notify_, WM_ARCHIVE_NOTIFY, 0, 0);
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
        Outcome outcome = queue.Do(job);
        {
            const std::lock_guard<std::mutex> lock(queue.lock_);
            queue.done_.push_back(std::move(outcome));
        }
        platform::PostWindowMessage(queue.notify_, WM_ARCHIVE_NOTIFY, 0, 0);
    }
}

ArchiveQueue::Outcome ArchiveQueue::Do(const Job& job) {
    Outcome outcome;
    if (job.path.empty()) {
        outcome.gain = std::exchange(gain_, {});
        archive_.reset();
        openError_.reset();
        return outcome;
    }
    outcome.path = job.path;
    if (!archive_ && !openError_) {
        std::string error;
        archive_ = archive::Archive::Open(job.location, &error);
        if (!archive_) {
            openError_ = error;
        }
    }
    archive::ImportResult& result = outcome.result;
    if (openError_) {
        result.error = *openError_;
    } else {
        result = archive_->ImportFile(job.path, job.source);
    }
    ++gain_.files;
    gain_.location = job.location;
    if (!result.ok()) {
        if (gain_.notArchived++ == 0) {
            gain_.why = result.error;
        }
        return outcome;
    }
    if (result.alreadyImported) {
        ++gain_.alreadyIn;  // brings nothing, names no logger
        return outcome;
    }
    if (std::find(gain_.serials.begin(), gain_.serials.end(), result.serial) ==
        gain_.serials.end()) {
        gain_.serials.push_back(result.serial);
    }
    gain_.newSamples += result.newSamples;
    gain_.conflicts += result.conflicts;
    std::vector<archive::GapRow> gaps;
    archive_->DownloadGaps(result.downloadId, gaps);
    gain_.gaps += static_cast<int64_t>(gaps.size());
    return outcome;
}

}  // namespace run
