#pragma once
// A pseudo-terminal pair in raw mode: the far end of a serial line for the
// virtual reader and for tests. The master side is what the far end reads and
// writes; the slave path is what a serial port object opens.

#include <string>

namespace platform {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a new pair; false with errno set when it cannot.
    bool Open();
    void Close();
    bool IsOpen() const { return master_ >= 0; }

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    // Held open so the master never sees a hang-up while no client has the
    // slave open (between two connections of a client, for instance).
    int slaveKeepAlive_ = -1;
    std::string slavePath_;
};

}  // namespace platform
