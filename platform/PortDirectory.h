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
    int number = 0;      // n of COMn
    std::string name;    // "COMn"
    std::string device;  // what it resolves to, e.g. "/dev/ttyUSB0"
};

inline constexpr int MAX_COM_NUMBER = 255;

// The number n of "COMn", "comn" or "COMn:" (n from 1 to 255); 0 for anything else.
int ComPortNumber(const std::string& name);

// Every COM name that resolves, by number.
std::vector<ComPort> ListComPorts();

// The device a COM name stands for; empty when it names nothing.
std::string ResolveComPort(const std::string& name);

// POSIX only, for the virtual reader, which links its name into the port
// directory: $XDG_CONFIG_HOME/Arvelo/ports, or ~/.config/Arvelo/ports.
std::string PortDirectory();

// Links COMn to a device in the port directory (creating the directory), replacing
// any link of that name. False with a reason in error when it cannot.
bool LinkComPort(const std::string& name, const std::string& device, std::string* error);

// Removes the link of COMn if it is one; true when there is no link afterwards.
bool UnlinkComPort(const std::string& name);

// The lowest COM number that neither a link nor a real device uses.
int FreeComPortNumber();

}  // namespace platform
