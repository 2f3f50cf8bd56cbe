#include "device/DeviceState.h"

#include <utility>

DeviceState::DeviceState(std::unique_ptr<LogSink> sink) : sink_(std::move(sink)) {}

int DeviceState::OpenOutputFile(const char* path, const char* extension) {
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(fileLock_);
        CloseFileLocked(false);
        outputExt_.reset();
        if (path == nullptr || extension == nullptr) {
            result = -1;
        } else {
            outputExt_ = extension;
            if (sink_->Open(path, "w") != 0) {
                result = sink_->LastError();
            }
        }
    }
    fileAnswer_.Set();
    return result;
}

void DeviceState::CloseOutputFile() {
    std::lock_guard<std::mutex> lock(fileLock_);
    if (sink_->IsOpen()) {
        outputExt_.reset();
        CloseFileLocked(false);
    }
}

void DeviceState::CloseFile(bool complete) {
    std::lock_guard<std::mutex> lock(fileLock_);
    CloseFileLocked(complete);
}

void DeviceState::CloseFileLocked(bool complete) {
    if (!sink_->IsOpen()) {
        return;
    }
    const int error = complete ? sink_->Finish() : sink_->Close();
    int none = 0;
    if (error != 0) {
        fileError.compare_exchange_strong(none, error);
    }
}

void DeviceState::AwaitOutputFile() {
    platform::Event* const answers[] = {&fileAnswer_, &stop_};
    platform::WaitForAny(answers, platform::INFINITE);
}

DeviceLog& DeviceState::NewCurrentLog() {
    auto fresh = std::make_unique<DeviceLog>();
    currentLogView_.store(fresh.get(), std::memory_order_release);
    currentLog_ = std::move(fresh);
    lines_ = {};
    return *currentLog_;
}

void DeviceState::HandOverCurrentLog() {
    // Copied before the lock is taken, so the main thread never waits for a copy.
    const DeviceLog* current = CurrentLog();
    FinishedLog finished{current ? *current : DeviceLog(), std::exchange(lines_, {})};
    std::lock_guard<std::mutex> lock(finishedLock_);
    finished_.push_back(std::move(finished));
}

bool DeviceState::TakeFinishedLog(FinishedLog& out) {
    std::lock_guard<std::mutex> lock(finishedLock_);
    if (finished_.empty()) {
        return false;
    }
    out = std::move(finished_.front());
    finished_.pop_front();
    return true;
}

void DeviceState::ForgetFinishedLogs() {
    std::lock_guard<std::mutex> lock(finishedLock_);
    finished_.clear();
}
