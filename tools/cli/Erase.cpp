// arvelo-cli erase: the erase sequence of the window program, and its
// read-back check.
#include <cstdio>

#include "run/Session.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Terminal.h"

namespace cli {

namespace {

class EraseCommand final : public run::Observer {
  public:
    EraseCommand(const Options& options, const std::shared_ptr<LinkTrace>& trace)
        : options_(options), session_([] { return run::FileSettings{}; }, *this, queue_.Handle()) {
        session_.Controller().Link().SetTrace(trace);
        session_.Controller().SetReplyTimeLimit(options_.timeoutMs);
    }

    int Run() {
        switch (session_.Erase(options_.port)) {
            case run::Session::EraseStart::PortError:
                FailToOpen(options_.port, session_.PortError());
                return kPortError;
            case run::Session::EraseStart::NotSent:
                Fail("Data Erase Error");
                return kNotErased;
            case run::Session::EraseStart::Started:
                break;
        }
        RunToEnd(session_, queue_, options_.timeoutMs + run::ERASE_EXTRA_MS, [this] {
            if (interrupted) {
                session_.Cancel();
            } else {
                session_.GiveUp();
            }
        });
        return exit_;
    }

  private:
    void RunEnded(const run::RunEnd& end) override {
        switch (end.how) {
            case run::End::Erased:
                std::printf("Data Erase Completed\n");
                exit_ = kDone;
                break;
            case run::End::NotErased:
                Fail("Data Erase Error: the memory does not read back erased");
                exit_ = kNotErased;
                break;
            case run::End::Cancelled:
                Fail("interrupted");
                exit_ = kInterrupted;
                break;
            case run::End::EraseGivenUp:
                Fail("no answer from the reader after the erase");
                exit_ = kNoAnswer;
                break;
            default:
                Fail("serial communication error");
                exit_ = kLinkError;
                break;
        }
    }

    const Options& options_;
    NotifyQueue queue_;
    run::Session session_;
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
