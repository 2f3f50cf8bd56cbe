// arvelo-cli: Download All and Erase from the command line, through the same
// device controller as the window program, and the support tools: a dump of
// the reader's memory for the virtual reader, and a trace of the serial line.
// Files are named and written as the window program's first run after
// start-up writes them.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Serial/LinkTrace.h"
#include "datafile/DataFileWriter.h"
#include "datafile/LogFileName.h"
#include "device/DeviceController.h"
#include "platform/MessageQueue.h"
#include "platform/PortDirectory.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "settings/SettingsStore.h"
#include "tools/cli/MemoryDump.h"

namespace {

enum ExitCode {
    kDone = 0,
    kBadArguments = 2,
    kPortError = 3,     // the port cannot be opened
    kLinkError = 4,     // the link failed or the reader answered what was not asked
    kNoAnswer = 5,      // no sign of life for the time-out
    kLogLost = 6,       // a corrupted log was given up
    kFileError = 7,     // a file (data, image or trace) could not be named, created or written
    kNotErased = 8,     // the erase did not read back erased
    kInterrupted = 130  // SIGINT or SIGTERM
};

const char kUsage[] =
    "usage:\n"
    "  arvelo-cli ports\n"
    "  arvelo-cli download --port COMn [--out DIR] [--type omb|csv] [--name-parts N]\n"
    "                      [--timeout S] [--trace FILE]\n"
    "  arvelo-cli erase --port COMn --yes [--timeout S] [--trace FILE]\n"
    "  arvelo-cli dump --port COMn --out IMAGE.bin [--timeout S] [--trace FILE]\n"
    "\n"
    "ports     lists the COM names and the devices they stand for\n"
    "download  saves every log of the reader, one file per log, and prints\n"
    "          'saved PATH' for each; the options absent are taken from the\n"
    "          window program's settings:\n"
    "  --out         output directory (a missing trailing separator is added)\n"
    "  --type        file type, .omb (default) or .csv\n"
    "  --name-parts  file-name parts, a sum of 1 serial number, 2 location,\n"
    "                4 start date, 8 last date; 0: log1, log2, ...\n"
    "  --timeout     seconds without a sign of life before giving up (default 5)\n"
    "erase     erases the reader's memory and checks it reads back erased\n"
    "dump      copies what a download reads of the reader's memory into an image\n"
    "          for the virtual reader: arvelo-sim serve --image IMAGE.bin\n"
    "  --timeout     seconds to wait for a reply before reading again (default 5)\n"
    "every command:\n"
    "  --trace       appends every frame sent and received, time-stamped, to FILE\n"
    "\n"
    "exit codes: 0 done, 2 bad arguments, 3 port cannot be opened, 4 link failed,\n"
    "5 no answer, 6 a corrupted log was skipped, 7 file error, 8 not erased,\n"
    "130 interrupted\n";

constexpr int kNameCapacity = 256;
constexpr uint32_t kReplyBufferSize = 1024;  // as the device controller's link
constexpr uint32_t kDefaultFileOption = 11;  // location, serial number, last date
constexpr uint32_t kEraseExtraMs = 1800;     // the reader's own time to erase
constexpr uint32_t kSliceMs = 100;           // how often a wait looks at the stop flag

std::atomic<bool> interrupted{false};

void OnSignal(int) {
    interrupted = true;
}

void Fail(const std::string& text) {
    std::fprintf(stderr, "arvelo-cli: %s\n", text.c_str());
}

int BadArguments(const std::string& text) {
    std::fprintf(stderr, "arvelo-cli: %s\n\n%s", text.c_str(), kUsage);
    return kBadArguments;
}

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10) {
        return false;
    }
    *out = std::strtoul(text.c_str(), nullptr, 10);
    return *out <= max;
}

enum class Command { Ports, Download, Erase, Dump };

struct Options {
    std::string port;
    std::optional<std::string> out;  // the output directory, or the image file
    std::optional<std::string> extension;
    std::optional<uint32_t> nameParts;
    uint32_t timeoutMs = 5000;
    bool yes = false;
    std::optional<std::string> trace;
};

// Parses the options after the command; empty on success, else the complaint.
std::string ParseOptions(const std::vector<std::string>& args, Command command, Options* options) {
    const bool download = command == Command::Download;
    const bool link = command != Command::Ports;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--yes" && command == Command::Erase) {
            options->yes = true;
            continue;
        }
        const bool known = a == "--trace" || (link && (a == "--port" || a == "--timeout")) ||
                           ((download || command == Command::Dump) && a == "--out") ||
                           (download && (a == "--type" || a == "--name-parts"));
        if (!known) {
            return "unexpected argument " + a;
        }
        if (i + 1 >= args.size()) {
            return a + " needs a value";
        }
        const std::string& value = args[++i];
        unsigned long number = 0;
        if (a == "--port") {
            options->port = value;
        } else if (a == "--out") {
            options->out = value;
        } else if (a == "--trace") {
            options->trace = value;
        } else if (a == "--type") {
            if (value != "omb" && value != "csv") {
                return "--type is omb or csv";
            }
            options->extension = "." + value;
        } else if (a == "--name-parts") {
            if (!ParseNumber(value, 0xFFFFFFFFul, &number)) {
                return "--name-parts needs a number";
            }
            options->nameParts = static_cast<uint32_t>(number);
        } else {
            if (!ParseNumber(value, 3600, &number) || number == 0) {
                return "--timeout needs seconds from 1 to 3600";
            }
            options->timeoutMs = static_cast<uint32_t>(number * 1000);
        }
    }
    if (!link) {
        return {};
    }
    if (command == Command::Dump && (!options->out || options->out->empty())) {
        return "dump needs --out IMAGE.bin";
    }
    if (platform::ComPortNumber(options->port) == 0) {
        return options->port.empty() ? "--port COMn is required"
                                     : "--port takes a COM name such as COM3";
    }
    return {};
}

std::string PortError(int32_t result) {
    switch (result) {
        case 2:
            return "no such port";
        case 5:
            return "the port is busy or not permitted";
        case 1247:
            return "the port is open already";
        default:
            return "error " + std::to_string(result);
    }
}

void FailToOpen(const std::string& port, int32_t result) {
    Fail("cannot open " + port + ": " + PortError(result));
}

// The file settings: the options given, else the window program's stored
// ones, else its first-use defaults with the current directory.
LogFileNameSettings FileSettings(const Options& options) {
    LogFileNameSettings file;
    file.capacity = kNameCapacity;
    file.fileExists = [](const std::string& name) {
        std::error_code error;
        return std::filesystem::exists(name, error);
    };
    settings::SettingsKey key(settings::KEY_ARVELO);
    const bool stored = key.disposition() == settings::SettingsKey::Disposition::OpenedExisting;
    const auto storedText = [&](const char* name) -> std::optional<std::string> {
        if (!stored) {
            return std::nullopt;
        }
        const std::optional<QString> text = key.QueryString(name, kNameCapacity);
        return text ? std::optional<std::string>(text->toLocal8Bit().toStdString()) : std::nullopt;
    };
    file.directory =
        options.out ? *options.out : storedText(settings::VALUE_OUTPUT_DIR).value_or("./");
    if (!file.directory.empty() && file.directory.back() != '/') {
        file.directory += '/';
    }
    const std::string type =
        options.extension ? *options.extension : storedText(settings::VALUE_FILE_TYPE).value_or("");
    file.extension = type == ".csv" ? ".csv" : ".omb";
    file.options = options.nameParts ? *options.nameParts
                   : stored
                       ? key.QueryDword(settings::VALUE_FILE_OPTION).value_or(kDefaultFileOption)
                       : kDefaultFileOption;
    return file;
}

// The main thread as the window the worker posts to.
class Window {
  public:
    Window() {
        platform::Message message;
        platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);  // makes the queue
    }
    platform::WindowHandle Handle() const { return registration_.Handle(); }

    // The next notification; none when timeoutMs passed without one or a
    // signal came.
    std::optional<platform::Message> Next(uint32_t timeoutMs) {
        const uint64_t end = platform::TickCount() + timeoutMs;
        platform::Message message;
        while (!platform::PeekMessage(&message, WM_DEVICE_NOTIFY, WM_DEVICE_NOTIFY,
                                      platform::PM_REMOVE)) {
            const uint64_t now = platform::TickCount();
            if (now >= end || interrupted) {
                return std::nullopt;
            }
            platform::WaitMessage(static_cast<uint32_t>(std::min<uint64_t>(end - now, kSliceMs)));
        }
        return message;
    }

  private:
    platform::ThreadQueueSink sink_{platform::CurrentThreadId()};
    platform::WindowRegistration registration_{sink_};
};

class Download {
  public:
    Download(const Options& options, DeviceController& controller)
        : controller_(controller),
          file_(FileSettings(options)),
          timeoutMs_(options.timeoutMs),
          progress_(isatty(STDERR_FILENO) != 0) {}

    int Run(const std::string& port) {
        // Better now than after the chain walk and the first header.
        if (std::error_code error; !std::filesystem::is_directory(file_.directory, error)) {
            Fail("no such directory " + file_.directory);
            return kFileError;
        }
        if (const int32_t result =
                controller_.Start(port.c_str(), window_.Handle(), WM_DEVICE_NOTIFY, 0);
            result != 0) {
            FailToOpen(port, result);
            return kPortError;
        }
        logCounter_ = 1;
        controller_.DownloadAll();
        for (;;) {
            const std::optional<platform::Message> message = window_.Next(timeoutMs_);
            if (!message) {
                return GiveUp();
            }
            if (const std::optional<int> code =
                    Handle(platform::LOWORD(message->wParam), platform::HIWORD(message->wParam),
                           message->lParam)) {
                return *code;
            }
        }
    }

  private:
    // Handles one notification; an exit code once the run is over.
    std::optional<int> Handle(uint16_t code, uint16_t high, intptr_t value) {
        switch (code) {
            case DEV_LOG_COUNT:
                if (high == 0) {
                    controller_.Shutdown();
                    EndProgress();
                    Fail("the reader holds no logs");
                    return kDone;
                }
                logs_ = high;
                logNumber_ = 1;
                return std::nullopt;
            case DEV_BLOCK_TOTAL:
                blockTotal_ = static_cast<int>(value);
                blocks_ = 0;
                return std::nullopt;
            case DEV_BLOCK:
                ++blocks_;
                ShowProgress();
                return std::nullopt;
            case DEV_LOG_OPEN_FILE:
                return OpenLogFile();
            case DEV_LOG_CORRUPT:
                return CorruptLog();
            case DEV_LOG_SKIPPED:
                LogSkipped();
                ++logNumber_;
                corrupt_ = false;
                return std::nullopt;
            case DEV_LOG_DONE:
                controller_.CloseOutputFile();
                if (!FinishLog()) {
                    return EndWithError(kFileError, "");
                }
                ++logCounter_;
                ++logNumber_;
                return std::nullopt;
            case DEV_DONE:
                return EndOfRun();
            case DEV_COMM_ERROR:
                return EndWithError(kLinkError, "serial communication error");
            case DEV_UNEXPECTED:
                return EndWithError(kLinkError, "unexpected reply from the reader");
            default:
                return std::nullopt;
        }
    }

    std::optional<int> OpenLogFile() {
        corrupt_ = false;
        if (!deferred_ && IsDeferredDrive(file_.directory)) {
            // As for drive A: or B:: the logs are saved after the download.
            deferred_ = true;
            controller_.SuppressSaving(1);
        }
        if (deferred_) {
            return std::nullopt;
        }
        LogFileNameSettings naming = file_;
        naming.logCounter = logCounter_;
        std::string name;
        if (MakeLogFileName(&name, naming, *controller_.CurrentLog()) <= 0) {
            return EndWithError(kFileError, "no file name fits in " + file_.directory);
        }
        if (controller_.OpenOutputFile(name.c_str(), file_.extension.c_str()) != 0) {
            return EndWithError(kFileError, "cannot create " + name);
        }
        currentFile_ = name;
        currentFileOpen_ = true;
        return std::nullopt;
    }

    std::optional<int> CorruptLog() {
        EndProgress();
        // The window program offers to go on only when the run has more logs.
        if (logs_ <= 1) {
            return EndWithError(kLogLost, "the log in the reader is corrupted");
        }
        Fail("log " + std::to_string(logNumber_) + " of " + std::to_string(logs_) +
             " is corrupted in the reader; reading it again");
        corrupt_ = true;
        controller_.Resume();
        return std::nullopt;
    }

    std::optional<int> EndOfRun() {
        controller_.CloseOutputFile();
        controller_.Shutdown();
        if (corrupt_) {
            // Resuming found no log after the corrupted one.
            DeviceLog given;
            controller_.TakeFinishedLog(given);
            LogSkipped();
        } else if (!FinishLog()) {
            SaveDeferredLogs();
            return kFileError;
        }
        if (!SaveDeferredLogs()) {
            return kFileError;
        }
        return skipped_ > 0 ? kLogLost : kDone;
    }

    void LogSkipped() {
        EndProgress();
        Fail("log " + std::to_string(logNumber_) + " of " + std::to_string(logs_) +
             " skipped: it stayed corrupted");
        ++skipped_;
    }

    // Takes the finished log; prints its file, or keeps it for saving later.
    bool FinishLog() {
        EndProgress();
        DeviceLog log;
        controller_.TakeFinishedLog(log);
        if (deferred_) {
            kept_.push_back(std::move(log));
            return true;
        }
        currentFileOpen_ = false;
        if (controller_.FileError() != 0) {
            Fail("writing " + currentFile_ + " failed: " + std::to_string(controller_.FileError()));
            return false;
        }
        std::printf("saved %s\n", currentFile_.c_str());
        std::fflush(stdout);
        return true;
    }

    bool SaveDeferredLogs() {
        bool ok = true;
        for (DeviceLog& log : kept_) {
            LogFileNameSettings naming = file_;
            naming.logCounter = logCounter_;
            std::string name;
            DataFileWriter writer;
            if (MakeLogFileName(&name, naming, log) <= 0 || writer.Open(name.c_str(), "w") != 0) {
                Fail("cannot create a file for a log in " + file_.directory);
                ok = false;
                continue;
            }
            WriteWholeLog(writer, log, UsesCommaLayout(file_.extension.c_str()));
            if (const int error = writer.Close(); error != 0) {
                Fail("writing " + name + " failed: " + std::to_string(error));
                ok = false;
                continue;
            }
            std::printf("saved %s\n", name.c_str());
        }
        kept_.clear();
        std::fflush(stdout);
        return ok;
    }

    // Ends the run on a failure: the file of the log in progress goes, the
    // logs finished before stay.
    int EndWithError(int code, const std::string& text) {
        controller_.Stop();
        DeletePartialFile();
        EndProgress();
        if (!text.empty()) {
            Fail(text);
        }
        SaveDeferredLogs();
        return code;
    }

    int GiveUp() {
        if (interrupted) {
            return EndWithError(kInterrupted, "interrupted");
        }
        return EndWithError(
            kNoAnswer, "no answer from the reader for " + std::to_string(timeoutMs_ / 1000) + " s");
    }

    void DeletePartialFile() {
        if (currentFileOpen_) {
            std::error_code error;
            std::filesystem::remove(currentFile_, error);
            currentFileOpen_ = false;
        }
    }

    void ShowProgress() {
        if (progress_) {
            std::fprintf(stderr, "\rlog %d of %d: block %d of %d   ", logNumber_, logs_, blocks_,
                         std::max(blocks_, blockTotal_));
            progressShown_ = true;
        }
    }

    void EndProgress() {
        if (progressShown_) {
            std::fputc('\n', stderr);
            progressShown_ = false;
        } else if (!progress_ && blocks_ > 0) {
            std::fprintf(stderr, "log %d of %d: %d blocks\n", logNumber_, logs_, blocks_);
        }
        blocks_ = 0;
    }

    DeviceController& controller_;
    Window window_;
    const LogFileNameSettings file_;
    const uint32_t timeoutMs_;
    const bool progress_;  // a live progress line on a terminal
    bool progressShown_ = false;
    int logCounter_ = 0;  // the window program's number of the log being read
    int logs_ = 0;
    int logNumber_ = 0;  // of this run, from 1
    int blocks_ = 0;
    int blockTotal_ = 0;
    int skipped_ = 0;
    bool corrupt_ = false;  // the current log was reported corrupted
    bool deferred_ = false;
    std::string currentFile_;
    bool currentFileOpen_ = false;  // currentFile_ is still being written
    std::vector<DeviceLog> kept_;   // finished logs to save after the run
};

int Erase(const Options& options, DeviceController& controller) {
    if (!options.yes) {
        return BadArguments("erase wipes every log in the reader; add --yes to go on");
    }
    Window window;
    if (const int32_t result =
            controller.Start(options.port.c_str(), window.Handle(), WM_DEVICE_NOTIFY, 0);
        result != 0) {
        FailToOpen(options.port, result);
        return kPortError;
    }
    // The pauses of the window program: each command purges what the line
    // has not sent yet.
    platform::Sleep(10);
    const std::string fill(128, '\xFF');
    bool sent = controller.SendEraseCommand("0000") == 0;
    if (sent) {
        platform::Sleep(100);
        sent = controller.EraseMemory(fill.c_str()) == 0;
    }
    if (!sent) {
        controller.Shutdown();
        Fail("Data Erase Error");
        return kNotErased;
    }
    for (;;) {
        const std::optional<platform::Message> message =
            window.Next(options.timeoutMs + kEraseExtraMs);
        if (!message) {
            controller.Shutdown();
            Fail(interrupted ? "interrupted" : "no answer from the reader after the erase");
            return interrupted ? kInterrupted : kNoAnswer;
        }
        if (platform::LOWORD(message->wParam) == DEV_ERASE_RESULT) {
            controller.Shutdown();
            if (platform::HIWORD(message->wParam) != 0) {
                Fail("Data Erase Error: the memory does not read back erased");
                return kNotErased;
            }
            std::printf("Data Erase Completed\n");
            return kDone;
        }
    }
}

// The dump's progress on standard error: a live line on a terminal, else one
// line per log.
class DumpProgress : public DumpObserver {
  public:
    void ChainRead(int logs, bool done) override {
        if (done) {
            Line("chain: " + std::to_string(logs) + (logs == 1 ? " log" : " logs"));
        } else if (live_) {
            std::fprintf(stderr, "\rchain: %d   ", logs);
            shown_ = true;
        }
    }
    void BlockRead(int log, int logs, int blocks) override {
        if (live_) {
            std::fprintf(stderr, "\rlog %d of %d: block %d   ", log, logs, blocks);
            shown_ = true;
        }
    }
    void LogRead(int log, int logs, int blocks, bool headerValid) override {
        Line("log " + std::to_string(log) + " of " + std::to_string(logs) + ": " +
             std::to_string(blocks) + " blocks" +
             (headerValid ? "" : " (its header block is not valid; read up to its end)"));
    }
    // Ends a live line that no summary replaced.
    void End() {
        if (shown_) {
            std::fputc('\n', stderr);
            shown_ = false;
        }
    }

  private:
    // A summary line, over the live line when one is shown.
    void Line(const std::string& text) {
        std::fprintf(stderr, shown_ ? "\r%s   \n" : "%s\n", text.c_str());
        shown_ = false;
    }

    const bool live_ = isatty(STDERR_FILENO) != 0;
    bool shown_ = false;
};

int Dump(const Options& options, const std::shared_ptr<LinkTrace>& trace) {
    const std::string& image = *options.out;
    // Better now than after minutes of reading.
    const std::filesystem::path folder = std::filesystem::path(image).parent_path();
    if (access(folder.empty() ? "." : folder.c_str(), W_OK) != 0) {
        Fail("cannot write " + image + ": " + std::strerror(errno));
        return kFileError;
    }
    platform::Message message;
    platform::PeekMessage(&message, 0, 0, platform::PM_NOREMOVE);  // the link posts to this thread
    CSerialLoader link(kReplyBufferSize);
    link.SetTrace(trace);
    if (const int32_t result =
            link.Connect(options.port.c_str(), platform::CurrentThreadId(), WM_DEVICE_NOTIFY, 0);
        result != 0) {
        FailToOpen(options.port, result);
        return kPortError;
    }
    LinkBlockSource source(link, options.timeoutMs, interrupted);
    DumpProgress progress;
    const DumpResult result = DumpMemory(source, progress);
    link.Close();
    progress.End();
    char address[8];
    std::snprintf(address, sizeof address, "%.5X", result.failedAt);
    switch (result.status) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::Interrupted:
            Fail("interrupted; nothing written");
            return kInterrupted;
        case ReadStatus::NoAnswer:
            Fail(std::string("no answer from the reader to the read of ") + address +
                 "; nothing written");
            return kNoAnswer;
        case ReadStatus::LinkFailed:
            Fail(std::string("serial communication error reading ") + address +
                 "; nothing written");
            return kLinkError;
    }
    std::string error;
    if (!result.image.Save(image, 0, &error)) {
        Fail(error);
        return kFileError;
    }
    std::fprintf(stderr, "%zu blocks read\n", result.addresses.size());
    std::printf("saved %s\n", image.c_str());
    return kDone;
}

int Ports() {
    for (const platform::ComPort& port : platform::ListComPorts()) {
        std::printf("%s: %s\n", port.name.c_str(), port.device.c_str());
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? kBadArguments : kDone;
    }
    const std::string name = args[0];
    args.erase(args.begin());
    Command command;
    if (name == "ports") {
        command = Command::Ports;
    } else if (name == "download") {
        command = Command::Download;
    } else if (name == "erase") {
        command = Command::Erase;
    } else if (name == "dump") {
        command = Command::Dump;
    } else {
        return BadArguments("unknown command " + name);
    }
    Options options;
    if (const std::string complaint = ParseOptions(args, command, &options); !complaint.empty()) {
        return BadArguments(complaint);
    }
    std::shared_ptr<LinkTrace> trace;
    if (options.trace) {
        std::string error;
        trace = FileLinkTrace::Open(*options.trace, &error);
        if (!trace) {
            Fail("cannot write the trace file " + *options.trace + ": " + error);
            return kFileError;
        }
    }
    if (command == Command::Ports) {
        return Ports();
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (command == Command::Dump) {
        return Dump(options, trace);
    }
    DeviceController controller;
    controller.Link().SetTrace(trace);
    if (command == Command::Erase) {
        return Erase(options, controller);
    }
    return Download(options, controller).Run(options.port);
}
