#include "run/Observer.h"

#include "platform/Errors.h"
#include "platform/PortDirectory.h"

namespace run {

namespace {

std::string Reason(int error) {
    return error > 0 ? ": " + platform::ErrnoText(error) : std::string();
}

}  // namespace

std::string Describe(const FileFailure& failure) {
    switch (failure.kind) {
        case FileFailure::Kind::NoName:
            return "no file name fits in " + failure.path;
        case FileFailure::Kind::CannotCreate:
            return "cannot create " + failure.path + Reason(failure.error);
        case FileFailure::Kind::WriteFailed:
            break;
    }
    return "writing " + failure.path + " failed" + Reason(failure.error);
}

std::string Describe(const ReaderLog& log) {
    std::string said = log.location;
    if (!log.serialNumber.empty()) {
        said += (said.empty() ? "" : ", ") + std::string("serial number ") + log.serialNumber;
    }
    return "log " + std::to_string(log.position) + " of " + std::to_string(log.total) +
           (said.empty() ? "" : " (" + said + ")");
}

std::string Describe(const UnsavedLog& log) {
    std::string why;
    switch (log.why) {
        case UnsavedLog::Why::Corrupted:
            why = "corrupted in the reader";
            break;
        case UnsavedLog::Why::Incomplete:
            why = "the run ended while it was read";
            if (!log.detail.empty()) {
                why += "; what was read is kept as " + log.detail;
            }
            break;
        case UnsavedLog::Why::Deleted:
            why = "the run was cancelled while it was read";
            break;
        case UnsavedLog::Why::NotRead:
            why = "not read";
            break;
        case UnsavedLog::Why::FileFailed:
            why = log.detail;
            break;
    }
    return Describe(log.log) + ": " + why;
}

std::vector<std::string> DescribeUnsaved(const RunEnd& end) {
    if (!end.download) {
        return {};
    }
    if (end.logs < 0) {
        return {"None of the reader's logs was saved: the run ended before they were counted"};
    }
    std::vector<std::string> lines;
    for (const UnsavedLog& log : end.unsaved) {
        lines.push_back("Not saved: " + Describe(log));
    }
    return lines;
}

std::string DescribeSilentPort(const std::string& port) {
    const std::string device = platform::ResolveComPort(port);
    return "the reader did not answer on " + port + (device.empty() ? "" : " (" + device + ")") +
           ": check that it is connected and switched on, and that this is its port";
}

std::string DescribePortFailure(const std::string& port, int32_t error) {
    if (port.empty()) {
        return "no port is chosen (the machine has none: plug in the reader's cable or adapter)";
    }
    // The device too: a port of the port folder can stand for anything.
    const std::string device = platform::ResolveComPort(port);
    std::string reason;
    switch (static_cast<uint32_t>(error)) {
        case platform::ERROR_FILE_NOT_FOUND:
            reason = "no such port (is the reader's cable or adapter plugged in?)";
            break;
        case platform::ERROR_ACCESS_DENIED:
            // The system gives one number for both; it tells a port this user
            // may not open, so what is left is one another program holds.
            reason = platform::PortAccessProblem(device);
            if (reason.empty()) {
                reason = "the port is in use by another program";
            }
            break;
        case platform::ERROR_ALREADY_INITIALIZED:
            reason = "the port is open already";
            break;
        default:
            reason = platform::ErrorText(static_cast<uint32_t>(error));
            break;
    }
    return port + (device.empty() ? "" : " (" + device + ")") + ": " + reason;
}

void Report(const ArchiveOutcome& outcome, Observer& observer) {
    if (outcome.gain) {
        observer.RunArchived(*outcome.gain);
    } else {
        observer.FileArchived(outcome.path, outcome.result);
    }
}

}  // namespace run
