#include "device/DeviceController.h"

#include <cstring>

#include "platform/Errors.h"
#include "platform/MessageQueue.h"
#include "platform/NamedMutex.h"
#include "platform/Time.h"

namespace {

constexpr int kPostAttempts = 4;
constexpr int kEraseTextLength = 4;
constexpr int kEraseCommandLength = 16;
constexpr int kEraseBlockLength = reader::kBlockBytes;

}  // namespace

// The worker's surroundings as the engine sees them.
class DeviceController::WorkerHost : public EngineHost {
  public:
    WorkerHost(DeviceController& controller, platform::NamedMutex* mutex)
        : controller_(controller), mutex_(mutex) {}

    void Send(int8_t code, const char* payload, int32_t length) override {
        controller_.link_->SendCommand(code, payload, length, platform::INFINITE);
    }
    const uint8_t* Reply() override { return controller_.link_->TakeReply(); }
    uint64_t LastByteAt() override { return controller_.link_->LastByteTime(); }
    void Answered(int8_t code, uint32_t address, const uint8_t* payload, int length) override {
        if (controller_.blockTap_ && code == CMD_READ && length == reader::kBlockBytes) {
            controller_.blockTap_(address, payload);
        }
    }
    void Notify(uint16_t code, uint16_t high, intptr_t value) override {
        controller_.Notify(code, high, value);
    }
    void Sleep(uint32_t milliseconds) override { platform::Sleep(milliseconds); }
    uint64_t Now() override { return platform::TickCount(); }
    void TraceNote(const std::string& text) override { controller_.link_->TraceNote(text); }
    bool PortLost() override { return controller_.link_->PortLost(); }
    void AwaitOutputFile() override { controller_.state_.AwaitOutputFile(); }
    void LockLog() override {
        if (mutex_) {
            mutex_->Wait(platform::INFINITE);
        }
    }
    void UnlockLog() override {
        if (mutex_) {
            mutex_->Release();
        }
    }

  private:
    DeviceController& controller_;
    platform::NamedMutex* mutex_;
};

DeviceController::DeviceController(std::unique_ptr<LogSink> sink)
    : state_(std::move(sink)), link_(std::make_unique<CSerialLoader>(reader::kReplyBufferBytes)) {}

DeviceController::~DeviceController() {
    CloseOutputFile();
    Shutdown();
    if (strayWorker_) {
        // It still runs on this object: tell it again until it ends.
        while (!platform::PostThreadMessage(strayWorker_->Id(), TM_WORKER_QUIT, 0, 0) &&
               !strayWorker_->Join(0)) {
            platform::Sleep(timing_.stopRetryMs);
        }
        strayWorker_->Join(platform::INFINITE);
    }
}

uint32_t DeviceController::WorkerThread(void* object) {
    auto* self = static_cast<DeviceController*>(object);
    // The queue exists from here on, so no post to the worker is refused.
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);
    self->workerReady_.Set();
    return static_cast<uint32_t>(self->Run());
}

int32_t DeviceController::Start(const char* portName, platform::WindowHandle window,
                                uint32_t messageId, int32_t param) {
    const bool newWorker = !workerThread;
    if (newWorker) {
        if (strayWorker_) {
            if (!strayWorker_->Join(timing_.workerJoinMs)) {
                errorCode_ = static_cast<int32_t>(platform::ERROR_BUSY);
                return errorCode_;
            }
            strayWorker_.reset();
        }
        workerReady_.Reset();
        workerThread = platform::Thread::CreateSuspended(WorkerThread, this);
        if (!workerThread) {
            const auto error = static_cast<int32_t>(platform::LastError());
            link_->Close();
            errorCode_ = error;
            return error;
        }
        workerThreadId = workerThread->Id();
    }
    const int32_t result =
        link_->Connect(portName != nullptr ? portName : "COM1", workerThreadId, messageId, param);
    if (result != 0 && result != static_cast<int32_t>(platform::ERROR_ALREADY_INITIALIZED)) {
        workerThread->Resume();
        platform::WaitForSingle(workerReady_, timing_.workerJoinMs);
        EndWorker(PostToWorker(TM_WORKER_QUIT, 0, timing_.startRetryMs));
        errorCode_ = result;
        return result;
    }
    notifyWindow = window;
    notifyMessageId = messageId;
    notifyParam = param;
    const std::string port = portName != nullptr ? portName : "COM1";
    if (newWorker && port != portName_) {
        state_.line.Reset();  // another port, another reader: nothing of the last is due
    }
    portName_ = port;
    state_.logIndex = 0;
    if (newWorker) {
        state_.ForgetFinishedLogs();  // of a run that ended untaken
        state_.fileError = 0;
        state_.ClearStop();
    }
    workerThread->Resume();
    platform::WaitForSingle(workerReady_, timing_.workerJoinMs);
    return result;
}

bool DeviceController::PostToWorker(uint32_t message, uint32_t wParam, uint32_t retryMs) {
    for (int attempt = 0; attempt < kPostAttempts; ++attempt) {
        if (attempt > 0) {
            platform::Sleep(retryMs);
        }
        if (platform::PostThreadMessage(workerThreadId, message, wParam, 0)) {
            return true;
        }
    }
    return false;
}

int32_t DeviceController::PostCommand(uint32_t message, uint32_t wParam) {
    if (!workerThread) {
        return -1;
    }
    return PostToWorker(message, wParam, timing_.startRetryMs) ? 0 : -1;
}

int32_t DeviceController::Download() {
    state_.surveyOnly = false;
    return PostCommand(TM_DOWNLOAD_START, platform::MAKEWPARAM(CMD_STREAM, 0));
}

int32_t DeviceController::DownloadAll() {
    state_.surveyOnly = false;
    return PostCommand(TM_DOWNLOAD_START, platform::MAKEWPARAM(CMD_READ, 0));
}

int32_t DeviceController::Survey() {
    state_.surveyOnly = true;
    return PostCommand(TM_DOWNLOAD_START, platform::MAKEWPARAM(CMD_READ, 0));
}

int32_t DeviceController::Resume() {
    return PostCommand(TM_DOWNLOAD_RESUME, 0);
}

int32_t DeviceController::Hold() {
    return PostCommand(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(DEV_HOLD, 0));
}

int32_t DeviceController::GoOn() {
    return PostCommand(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(DEV_GO_ON, 0));
}

int32_t DeviceController::Reopen() {
    if (!workerThread) {
        return -1;
    }
    link_->Close();
    const int32_t result =
        link_->Connect(portName_.c_str(), workerThreadId, notifyMessageId, notifyParam);
    return result == static_cast<int32_t>(platform::ERROR_ALREADY_INITIALIZED) ? 0 : result;
}

bool DeviceController::PortLost() const {
    return link_->PortLost();
}

void DeviceController::EndWorker(bool delivered) {
    if (!workerThread) {
        return;
    }
    if (!workerThread->Join(delivered ? timing_.workerJoinMs : 0)) {
        // Joined later (next Start, destructor): it must not outlive us.
        if (strayWorker_) {
            strayWorker_->Join(platform::INFINITE);
        }
        strayWorker_ = std::move(workerThread);
    }
    workerThread.reset();
    workerThreadId = 0;
}

int32_t DeviceController::Stop() {
    if (workerThread) {
        // A worker waiting for its data file gives up at once.
        state_.RequestStop();
        EndWorker(
            PostToWorker(WM_DEVICE_NOTIFY, platform::MAKEWPARAM(DEV_STOP, 0), timing_.stopRetryMs));
        state_.busy = false;
    }
    state_.CloseFile(false);
    return link_->Close();
}

int32_t DeviceController::Shutdown() {
    if (workerThread) {
        state_.RequestStop();
        EndWorker(PostToWorker(TM_WORKER_QUIT, 0, timing_.stopRetryMs));
        state_.busy = false;
        state_.logIndex = 0;
    }
    return link_->Close();
}

int32_t DeviceController::OpenOutputFile(const char* path, const char* extension) {
    const int32_t result = state_.OpenOutputFile(path, extension);
    if (result != 0) {
        errorCode_ = result;
    }
    return result;
}

int32_t DeviceController::CloseOutputFile() {
    state_.CloseOutputFile();
    return 0;
}

void DeviceController::SuppressSaving(int flag) {
    state_.saveDuringDownload = flag == 0;
    if (flag != 0) {
        state_.AnswerOutputFile();  // a worker waiting for the file goes on without one
    }
}

DeviceLog* DeviceController::CurrentLog() {
    return state_.CurrentLog();
}

bool DeviceController::TakeFinishedLog(FinishedLog& out) {
    return state_.TakeFinishedLog(out);
}

int32_t DeviceController::SendEraseCommand(const char* text) {
    if (text == nullptr || strnlen(text, kEraseTextLength) < kEraseTextLength || !workerThread) {
        return -1;
    }
    char command[kEraseCommandLength];
    std::memcpy(command, text, kEraseTextLength);
    command[kEraseTextLength] = 'G';
    std::memset(command + kEraseTextLength + 1, '0', kEraseCommandLength - kEraseTextLength - 1);
    if (!state_.busy) {
        link_->SendCommand(CMD_ERASE, command, kEraseCommandLength, platform::INFINITE);
    }
    return 0;
}

int32_t DeviceController::EraseMemory(const char* block) {
    if (block == nullptr || strnlen(block, kEraseBlockLength) < kEraseBlockLength ||
        !workerThread) {
        return -1;
    }
    if (state_.busy) {
        return 0;
    }
    std::memcpy(state_.eraseBlock.data(), block, kEraseBlockLength);
    state_.eraseBlockDelayMs = timing_.eraseBlockDelayMs;
    state_.eraseReadDelayMs = timing_.eraseReadDelayMs;
    return PostCommand(TM_ERASE_FILL, 0);
}

void DeviceController::Notify(uint16_t code, uint16_t high, intptr_t value) {
    platform::PostWindowMessage(notifyWindow, notifyMessageId, platform::MAKEWPARAM(code, high),
                                value);
}

int DeviceController::Run() {
    auto mutex = platform::NamedMutex::Create(DEVICE_MUTEX_NAME);
    WorkerHost host(*this, mutex.get());
    {
        DownloadEngine engine(state_, host);
        while (!engine.Quit()) {
            // Woken by a message, or when a reply's time is up.
            if (const std::optional<uint64_t> deadline = engine.Deadline()) {
                const uint64_t now = platform::TickCount();
                platform::WaitMessage(*deadline > now ? static_cast<uint32_t>(*deadline - now) : 0);
            } else {
                platform::WaitMessage();
            }
            platform::Message message;
            // Messages above the engine's range stay queued.
            while (platform::PeekMessage(&message, engine.QueueFloor(), TM_DOWNLOAD_RESUME,
                                         platform::PM_REMOVE)) {
                engine.Handle(message);
            }
            engine.Tick();
        }
    }
    mutex.reset();
    state_.eraseMode = false;
    return 0;
}
