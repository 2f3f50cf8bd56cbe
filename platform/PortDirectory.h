#pragma once
// COM port names. Users see and store Windows names ("COM1:").
//
// On Windows they are the system's own. On a POSIX system a name COMn resolves
// through a port directory in the user's configuration folder that holds symbolic links
// COMn -> device, the way Wine maps its dosdevices. Real serial devices without
// a link there get the free COM numbers in a stable order (ttyS, ttyUSB,
// ttyACM, each by number). The virtual reader registers its pseudo-terminal by
// making such a link.

#include <string>
#include <vector>

namespace platform {

struct ComPort {
    int number = 0;           // n of COMn
    std::string name;         // "COMn"
    std::string device;       // what it resolves to, e.g. "/dev/ttyUSB0"
    std::string description;  // what the system calls it (a USB adapter's name), or empty
};

inline constexpr int MAX_COM_NUMBER = 255;

// The number n of "COMn", "comn" or "COMn:" (n from 1 to 255); 0 for anything else.
int ComPortNumber(const std::string& name);

// Every COM name that resolves, by number.
std::vector<ComPort> ListComPorts();

// The device a COM name stands for; empty when it names nothing.
std::string ResolveComPort(const std::string& name);

// Why this user may not open a port's device, with what to do about it;
// empty when the system lets this user open it, or cannot tell.
std::string PortAccessProblem(const std::string& device);

// POSIX only, for the virtual reader, which links its name into the port
// directory: $XDG_CONFIG_HOME/Arvelo/ports, or ~/.config/Arvelo/ports.
std::string PortDirectory();

// Links COMn to a device in the port directory (creating the directory), replacing
// any link of that name. False with a reason in error when it cannot.
bool LinkComPort(const std::string& name, const std::string& device, std::string* error);

// A COM name linked to a device this process serves (the virtual reader's
// pseudo-terminal), for as long as the object lives. A lock beside the link,
// which the system lets go of when the process ends however it ends, tells a
// live server from one that was killed and left its link behind.
//
// A name is taken over when it has no link, or its link points into
// /dev/pts/ at a terminal that is gone, at this server's own terminal (whose
// number was used before), or where a server that is gone left it. It is
// refused while it stands for anything else: a real device (also one
// unplugged for now), a live pseudo-terminal of another program, a name a
// live server holds.
class ServedComPort {
  public:
    ServedComPort() = default;
    ~ServedComPort();
    ServedComPort(const ServedComPort&) = delete;
    ServedComPort& operator=(const ServedComPort&) = delete;

    // Links name ("COMn", or "auto" or empty for the lowest name free or
    // left behind) to device; false with the reason in error when it cannot.
    bool Open(const std::string& name, const std::string& device, std::string* error);
    // Removes the link if it is still ours, and the lock.
    void Close();
    const std::string& Name() const { return name_; }

  private:
    // Takes COMn when the rules above allow it; false with the reason otherwise.
    bool Take(int number, const std::string& device, std::string* error);

    int lock_ = -1;
    std::string name_;
    std::string device_;
};

}  // namespace platform
