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

namespace {

std::string WindowWords(const RunEnd& end, Voice::Run kind) {
    constexpr const char* kLinkError = "Serial Communication Error";
    if (kind == Voice::Run::Survey) {
        switch (end.how) {
            case End::Surveyed:
                return {};
            case End::PortLost:
                return "The serial port of the Arvelo stopped working.";
            case End::GivenUp:
                return "Connection TimeOut";
            default:
                return kLinkError;
        }
    }
    switch (end.how) {
        case End::Done:
        case End::Surveyed:
            break;
        case End::Empty:
            return "The Arvelo holds no logs.";
        case End::FileError:
            return "Export File Error\n" + Describe(end.file);
        case End::LinkError:
            return kLinkError;
        case End::Unexpected:
            return "Unexpected Error";
        case End::GivenUp:
            return "The download was given up.";
        case End::PortLost:
            return "The serial port of the Arvelo stopped working (unplugged?). Plug it in again "
                   "and download again.";
        case End::Cancelled:
            return "Download cancelled.";
        case End::Erased:
            return "Data Erase Completed";
        case End::NotErased:
            return DescribeEraseError();
        case End::EraseGivenUp:
            return "The reader did not confirm the erase: it may not be erased. Download All shows "
                   "what it still holds.";
    }
    return {};
}

std::string CommandLineWords(const RunEnd& end, const Voice& voice) {
    // Only a download reads logs into files, and tells an unexpected reply
    // from a failed line.
    if (voice.run == Voice::Run::Download) {
        switch (end.how) {
            case End::Done:
                return {};
            case End::Empty:
                return "the reader holds no logs";
            case End::FileError:
                return Describe(end.file);
            case End::Unexpected:
                return "unexpected reply from the reader";
            default:
                break;
        }
    }
    switch (end.how) {
        case End::Surveyed:
            return {};
        case End::PortLost:
            return "the port " + voice.port + " stopped working" +
                   (voice.run == Voice::Run::Dump ? "" : " (the reader or its adapter unplugged?)");
        case End::Cancelled:
            return "interrupted";  // the command line cancels only on a signal
        case End::GivenUp:
        case End::EraseGivenUp:
            return voice.givenUp;
        case End::Erased:
            return "Data Erase Completed";
        case End::NotErased:
            return DescribeEraseError() + ": the memory does not read back erased";
        default:
            return "serial communication error";
    }
}

}  // namespace

std::string Describe(const RunEnd& end, const Voice& voice) {
    return voice.face == Voice::Face::Window ? WindowWords(end, voice.run)
                                             : CommandLineWords(end, voice);
}

std::string DescribeEraseError() {
    return "Data Erase Error";
}

std::string DescribeSilence(int seconds, const std::string& when) {
    return "no answer from the reader " + when + "for " + std::to_string(seconds) + " s";
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
