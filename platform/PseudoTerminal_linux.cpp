#include "platform/PseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

PseudoTerminal::~PseudoTerminal() {
    Close();
}

bool PseudoTerminal::Open() {
    Close();
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        return false;
    }
    struct termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    master_ = master;
    slaveKeepAlive_ = slave;
    slavePath_ = name;
    return true;
}

void PseudoTerminal::Close() {
    const int saved = errno;
    if (slaveKeepAlive_ >= 0) {
        close(slaveKeepAlive_);
        slaveKeepAlive_ = -1;
    }
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    slavePath_.clear();
    errno = saved;
}

}  // namespace platform
