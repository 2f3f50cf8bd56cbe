// arvelo-cli erase: first a survey of what the reader holds and whether the
// archive keeps it, then the erase sequence of the window program and its
// read-back check. An erase that would destroy logs kept nowhere else needs
// --unsaved-too.
#include <cstdio>
#include <memory>

#include "archive/Archive.h"
#include "run/EraseCheck.h"
#include "run/Session.h"
#include "tools/cli/Commands.h"
#include "tools/cli/StoredDefaults.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

class EraseCommand final : public run::Observer {
  public:
    EraseCommand(const Options& options, const std::shared_ptr<LinkTrace>& trace)
        : options_(options),
          archive_(ChosenArchive(options.archive, options.noArchive, LoadStoredDefaults())),
          session_([] { return run::FileSettings{}; }, *this, queue_.Handle()) {
        session_.Controller().Link().SetTrace(trace);
        session_.Controller().SetReplyTimeLimit(options_.timeoutMs);
    }

    int Run() {
        if (!session_.Survey(options_.port)) {
            FailToOpen(options_.port, session_.PortError());
            return kPortError;
        }
        RunToEnd(session_, queue_, options_.timeoutMs, [this] { Silence({}); });
        if (!surveyed_ && !options_.unsavedToo) {
            return exit_;
        }
        if (surveyed_) {
            if (const int refused = Check(); refused != kDone) {
                return refused;
            }
        }
        switch (session_.Erase(options_.port)) {
            case run::Session::EraseStart::PortError:
                FailToOpen(options_.port, session_.PortError());
                return kPortError;
            case run::Session::EraseStart::NotSent:
                Fail(run::DescribeEraseError());
                return kNotErased;
            case run::Session::EraseStart::Started:
                break;
        }
        resumesLeft_ = options_.resumes;
        RunToEnd(session_, queue_, options_.timeoutMs + run::ERASE_EXTRA_MS,
                 [this] { Silence("after the erase "); });
        return exit_;
    }

  private:
    // Says what the reader holds and where each log is kept; kDone when the
    // erase may go on.
    int Check() {
        const std::vector<run::HeldLog>& held = session_.Surveyed();
        run::EraseCheck check = run::CheckErase(held, nullptr);
        if (archive_ && !held.empty()) {
            const auto archive =
                archive::Archive::Open(*archive_, archive::Archive::OpenMode::Existing);
            const auto archived = archive
                                      ? run::ArchivedSamples(**archive, held)
                                      : archive::Result<std::vector<int64_t>>(archive.failure());
            run::AddArchive(check, held, archived ? *archived : std::vector<int64_t>{});
            if (!archived && archived.failure().kind != archive::Fault::Missing) {
                check.archiveError = archived.failure().message;
            }
        }
        std::fprintf(stderr, "%s\n", PrintableText(run::Describe(check)).c_str());
        const bool lost = !run::KeptNowhere(check).empty();
        if (lost && !options_.unsavedToo) {
            Fail(std::string("not erased: ") +
                 (check.archiveOn ? "the archive does not keep every log of the reader"
                                  : "the archive is off") +
                 "; download them first, or add --unsaved-too to erase them all the same");
            return kUnsavedLogs;
        }
        return kDone;
    }

    // No sign of life for the time-out (or a signal): the run is held, and
    // goes on a bounded number of times, else it ends.
    void Silence(const std::string& when) {
        session_.Hold();
        if (interrupted) {
            session_.Cancel();
            return;
        }
        const std::string silent = run::DescribeSilence(options_.timeoutMs / 1000, when);
        if (resumesLeft_ > 0 && session_.CanGoOn()) {
            --resumesLeft_;
            Fail(silent + "; going on (" + std::to_string(options_.resumes - resumesLeft_) +
                 " of " + std::to_string(options_.resumes) + ")");
            session_.GoOn();
            return;
        }
        silence_ = silent;
        session_.GiveUp();
    }

    void LogSurveyed(const run::ReaderLog& log) override {
        if (StandardErrorIsTerminal()) {
            std::fprintf(stderr, "\rreading what the reader holds: log %d of %d   ", log.position,
                         log.total);
            live_ = true;
        }
    }

    void RunEnded(const run::RunEnd& end) override {
        if (live_) {
            std::fputc('\n', stderr);
            live_ = false;
        }
        const run::Voice voice{run::Voice::Face::CommandLine, run::Voice::Run::Erase, options_.port,
                               silence_};
        const std::string how = run::Describe(end, voice);
        switch (end.how) {
            case run::End::Surveyed:
                surveyed_ = true;
                return;
            case run::End::Erased:
                std::printf("%s\n", how.c_str());
                exit_ = kDone;
                return;
            case run::End::NotErased:
                exit_ = kNotErased;
                break;
            case run::End::Cancelled:
                exit_ = kInterrupted;
                break;
            case run::End::GivenUp:
            case run::End::EraseGivenUp:
                exit_ = kNoAnswer;
                break;
            case run::End::PortLost:
                exit_ = kPortLost;
                break;
            default:
                exit_ = kLinkError;
                break;
        }
        Fail(how);
        const bool givenUp = end.how == run::End::GivenUp || end.how == run::End::EraseGivenUp;
        if (givenUp && !end.answered) {
            Fail(run::DescribeSilentPort(options_.port) + " (--port)");
        }
    }

    const Options& options_;
    const std::optional<std::string> archive_;
    NotifyQueue queue_;
    run::Session session_;
    bool surveyed_ = false;
    bool live_ = false;
    int resumesLeft_ = options_.resumes;
    std::string silence_;
    int exit_ = kNoAnswer;
};

}  // namespace

int Erase(const Options& options, const std::shared_ptr<LinkTrace>& trace) {
    if (!options.yes) {
        return BadArguments("erase wipes every log in the reader; add --yes to go on");
    }
    return EraseCommand(options, trace).Run();
}

}  // namespace cli
