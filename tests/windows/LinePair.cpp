// arvelo-line-pair: two pseudo-terminals joined like the two ends of a null
// modem cable, so that a Windows program under Wine can hold both ends of a
// serial line as COM ports (links in the prefix's dosdevices) and test one
// port against the other.
//
// Prints "ready SLAVE_A SLAVE_B", then copies what is written to either slave
// to the other one until SIGTERM or SIGINT. Each pseudo-terminal keeps its
// slave open itself, so a port closed and opened again under Wine never ends
// the pair with a hang-up. The copy holds at most one small buffer per
// direction: when the reading side stops reading, the writing side fills up
// and waits, as on a real line.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/PseudoTerminal.h"

namespace {

// Bytes on their way from one master to the other.
struct Direction {
    int from;
    int to;
    char buffer[4096] = {};
    size_t start = 0;
    size_t end = 0;

    bool Empty() const { return start == end; }
};

// Reads what the source offers while the buffer is empty, writes what the
// buffer holds while the target takes it. False when either master failed; a
// hang-up counts as failure, since the slaves never close while we run.
bool Move(Direction& d, short fromEvents, short toEvents) {
    if ((fromEvents | toEvents) & (POLLERR | POLLHUP | POLLNVAL)) {
        return false;
    }
    if (d.Empty() && (fromEvents & POLLIN)) {
        const ssize_t n = read(d.from, d.buffer, sizeof d.buffer);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        d.start = 0;
        d.end = n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (!d.Empty() && (toEvents & POLLOUT)) {
        const ssize_t n = write(d.to, d.buffer + d.start, d.end - d.start);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        d.start += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

}  // namespace

int main() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    // Taken through a descriptor, so that a signal cannot slip in between a
    // check and the poll.
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int signals = signalfd(-1, &stop, SFD_CLOEXEC);

    platform::PseudoTerminal a;
    platform::PseudoTerminal b;
    if (signals < 0 || !a.Open() || !b.Open()) {
        std::fprintf(stderr, "arvelo-line-pair: %s\n", std::strerror(errno));
        return 1;
    }
    for (int fd : {a.MasterFd(), b.MasterFd()}) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    std::printf("ready %s %s\n", a.SlavePath().c_str(), b.SlavePath().c_str());
    std::fflush(stdout);

    Direction ab{a.MasterFd(), b.MasterFd()};
    Direction ba{b.MasterFd(), a.MasterFd()};
    for (;;) {
        // Read only into an empty buffer and wait for room only with bytes to write.
        const auto wanted = [](const Direction& out, const Direction& in) {
            return static_cast<short>((out.Empty() ? POLLIN : 0) | (in.Empty() ? 0 : POLLOUT));
        };
        pollfd fds[3] = {{signals, POLLIN, 0},
                         {a.MasterFd(), wanted(ab, ba), 0},
                         {b.MasterFd(), wanted(ba, ab), 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "arvelo-line-pair: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            return 0;
        }
        if (!Move(ab, fds[1].revents, fds[2].revents) ||
            !Move(ba, fds[2].revents, fds[1].revents)) {
            std::fprintf(stderr, "arvelo-line-pair: a master failed: %s\n", std::strerror(errno));
            return 1;
        }
    }
}
