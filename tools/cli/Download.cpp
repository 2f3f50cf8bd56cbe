// arvelo-cli download: every log of the reader into the output directory,
// named and written as the window program's first run after start-up does.
// Prints "saved PATH" for each file, progress on standard error.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "platform/Files.h"
#include "run/Session.h"
#include "tools/cli/Commands.h"
#include "tools/cli/StoredDefaults.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

// The options given, else the window program's stored settings, else their
// defaults with the current directory.
run::FileSettings FileSettingsOf(const Options& options, const StoredDefaults& stored) {
    run::FileSettings file;
    file.directory =
        platform::WithTrailingSeparator(options.out.value_or(stored.outputDir.value_or("./")));
    file.extension = options.extension.value_or(stored.fileType);
    file.options = options.nameParts.value_or(stored.fileOption);
    return file;
}

class DownloadCommand final : public run::Observer {
  public:
    DownloadCommand(const Options& options, const StoredDefaults& stored,
                    const std::shared_ptr<LinkTrace>& trace)
        : options_(options),
          file_(FileSettingsOf(options, stored)),
          session_([this] { return file_; }, *this, queue_.Handle()) {
        if (const std::optional<std::string> archive =
                ChosenArchive(options_.archive, options_.noArchive, stored)) {
            session_.SetArchive([target = run::ArchiveTarget{*archive, {options_.clockOffset}}] {
                return std::optional(target);
            });
        }
        session_.Controller().Link().SetTrace(trace);
        session_.Controller().SetReplyTimeLimit(options_.timeoutMs);
    }

    int Run() {
        // Better now than after the chain walk and the first header.
        if (std::error_code error; !std::filesystem::is_directory(file_.directory, error)) {
            Fail("no such directory " + file_.directory);
            return kFileError;
        }
        if (!session_.DownloadAll(options_.port)) {
            FailToOpen(options_.port, session_.PortError());
            return kPortError;
        }
        RunToEnd(session_, queue_, options_.timeoutMs, [this] { Silence(); });
        return exit_;
    }

  private:
    // No sign of life for the time-out (or a signal): the run is held, and
    // goes on as the window program's "Yes" does, a bounded number of
    // times, else it is given up.
    void Silence() {
        session_.Hold();
        if (!interrupted && resumesLeft_ > 0 && session_.CanGoOn()) {
            --resumesLeft_;
            EndLiveLine();
            Fail(run::DescribeSilence(options_.timeoutMs / 1000) + "; going on (" +
                 std::to_string(options_.resumes - resumesLeft_) + " of " +
                 std::to_string(options_.resumes) + ")");
            session_.GoOn();
            return;
        }
        if (interrupted) {
            GiveUp(kInterrupted, "interrupted");
        } else if (corruptLogHeld_) {
            GiveUp(kLogLost, "the log in the reader is corrupted");
        } else {
            GiveUp(kNoAnswer, run::DescribeSilence(options_.timeoutMs / 1000));
        }
    }
    // Ends the run from here: what was read of the log in progress is kept.
    void GiveUp(int exit, const std::string& why) {
        stopExit_ = exit;
        stopWhy_ = why;
        session_.GiveUp();
    }

    void LogsCounted(int total) override {
        logs_ = total;
        logNumber_ = 1;
    }
    void BlockTotal(int32_t blocks) override {
        blockTotal_ = blocks;
        blocks_ = 0;
    }
    void BlockRead() override {
        ++blocks_;
        if (live_) {
            std::fprintf(stderr, "\rlog %d of %d: block %d of %d   ", logNumber_, logs_, blocks_,
                         std::max(blocks_, blockTotal_));
            progressShown_ = true;
        }
    }
    // Where the window program asks the user, the answer is yes unless
    // --resume 0 says never to go on.
    bool LogCorrupt(bool canReadAgain) override {
        EndProgress();
        if (canReadAgain && !interrupted && options_.resumes > 0) {
            Fail(LogName() + " is corrupted in the reader; reading it again");
            return true;
        }
        corruptLogHeld_ = true;
        Fail(LogName() + " is corrupted in the reader; the run ends after the time-out (" +
             std::to_string(options_.timeoutMs / 1000) + " s)");
        return false;
    }
    void LogSkipped(const run::ReaderLog& skipped) override {
        EndProgress();
        Fail(run::Describe(skipped) +
             " skipped: it stayed corrupted in the reader and is not saved");
        ++skipped_;
        ++logNumber_;
    }
    void LogDone(const std::string* listedName) override {
        Finished(listedName);
        ++logNumber_;
    }
    void LastLogDone(const std::string* listedName) override { Finished(listedName); }
    void DeferredLogSaved(int, const std::string& name) override { Saved(name); }
    void ChainLoops(int entries) override {
        EndLiveLine();
        Fail("the reader's log chain points back to an earlier log after entry " +
             std::to_string(entries) + "; the logs before that are downloaded");
    }
    void FaultsRecovered(int total) override {
        EndLiveLine();
        Fail("a reply failed and was asked for again (" + std::to_string(total) +
             (total == 1 ? " fault" : " faults") + " recovered)");
    }
    void PartialKept(const std::string& path) override {
        EndLiveLine();
        Fail("what was read of an incomplete log is kept as " + path);
    }
    void FileArchived(const std::string& path,
                      const archive::Result<archive::Imported>& r) override {
        EndLiveLine();
        if (!r) {
            Fail((r.failure().kind == archive::Fault::Unknown
                      ? "the archive may not hold "
                      : "the archive was not updated with ") +
                 PrintableText(path) + ": " + PrintableText(r.failure().message) +
                 " (the file is saved; arvelo-cli archive import adds it later)");
            archiveFailed_ = true;
        } else if (r->alreadyImported) {
            std::fprintf(stderr, "%s is in the archive already\n", PrintableText(path).c_str());
        } else {
            std::fprintf(stderr, "archived %s: %lld new samples, %lld duplicates, %lld conflicts\n",
                         PrintableText(path).c_str(), static_cast<long long>(r->newSamples),
                         static_cast<long long>(r->duplicates),
                         static_cast<long long>(r->conflicts));
        }
    }
    // Said last, with what the run did not save.
    void RunArchived(const run::ArchiveGain& gain) override { archived_ = gain; }
    void DeferredFileFailed(const run::FileFailure& failure) override {
        Fail(run::Describe(failure));
        fileFailed_ = true;
    }
    void RunEnded(const run::RunEnd& end) override {
        EndProgress();
        const run::Voice voice{run::Voice::Face::CommandLine, run::Voice::Run::Download,
                               options_.port, stopWhy_};
        if (const std::string how = run::Describe(end, voice); !how.empty()) {
            Fail(how);
        }
        switch (end.how) {
            case run::End::Done:
                exit_ = fileFailed_      ? kFileError
                        : skipped_ > 0   ? kLogLost
                        : archiveFailed_ ? kArchiveError
                                         : kDone;
                break;
            case run::End::Empty:
                exit_ = kDone;
                break;
            case run::End::FileError:
                exit_ = kFileError;
                break;
            case run::End::LinkError:
            case run::End::Unexpected:
                exit_ = kLinkError;
                break;
            case run::End::PortLost:
                exit_ = kPortLost;
                break;
            default:
                exit_ = stopExit_;
                break;
        }
        // Last, which logs of the reader the run did not save, by their place.
        for (std::string line : run::DescribeUnsaved(end)) {
            line[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
            Fail(PrintableText(line));
        }
        if (!end.answered) {
            Fail(run::DescribeSilentPort(options_.port) + " (--port)");
        }
        if (archived_) {
            for (const std::string& line : run::DescribeLoggers(*archived_)) {
                std::fprintf(stderr, "%s\n", PrintableText(line).c_str());
            }
        }
    }

    std::string LogName() const {
        return "log " + std::to_string(logNumber_) + " of " + std::to_string(logs_);
    }
    void Finished(const std::string* listedName) {
        EndProgress();
        // A deferred run's logs are saved, and printed, after it.
        if (listedName != nullptr && !session_.DeferredSave()) {
            Saved(*listedName);
        }
    }
    void Saved(const std::string& name) {
        std::printf("saved %s\n", name.c_str());
        std::fflush(stdout);
    }
    // A message goes on a line of its own, below the live progress line.
    void EndLiveLine() {
        if (progressShown_) {
            std::fputc('\n', stderr);
            progressShown_ = false;
        }
    }
    // Ends the live progress line, or prints the log's block count.
    void EndProgress() {
        if (!progressShown_ && !live_ && blocks_ > 0) {
            std::fprintf(stderr, "%s: %d blocks\n", LogName().c_str(), blocks_);
        }
        EndLiveLine();
        blocks_ = 0;
    }

    const Options& options_;
    const run::FileSettings file_;
    NotifyQueue queue_;
    run::Session session_;
    const bool live_ = StandardErrorIsTerminal();  // a live progress line on a terminal
    bool progressShown_ = false;
    int logs_ = 0;
    int logNumber_ = 0;  // of this run, from 1
    int blocks_ = 0;
    int blockTotal_ = 0;
    int skipped_ = 0;
    bool fileFailed_ = false;                   // a log could not be saved after the run
    bool archiveFailed_ = false;                // a saved log is not in the archive
    std::optional<run::ArchiveGain> archived_;  // what the run brought into the archive
    int exit_ = kDone;
    int resumesLeft_ = options_.resumes;
    bool corruptLogHeld_ = false;  // not read again: the time-out ends the run
    int stopExit_ = kNoAnswer;
    std::string stopWhy_;
};

}  // namespace

int Download(const Options& options, const std::shared_ptr<LinkTrace>& trace) {
    const StoredDefaults stored = LoadStoredDefaults();
    // The folder the user chose, or none: never the current one instead.
    if (!options.out && stored.tooLongOutputDir) {
        Fail("the output directory stored in Directory Setting is longer than " +
             std::to_string(settings::MAX_OUTPUT_DIR_BYTES) + " bytes: " +
             PrintableText(*stored.tooLongOutputDir) + "; choose another there, or give --out DIR");
        return kFileError;
    }
    return DownloadCommand(options, stored, trace).Run();
}

}  // namespace cli
