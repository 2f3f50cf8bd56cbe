#pragma once
// What a data file's title block and a trace take from the system: the local
// time and the name of the user running the program; and where the user's
// programs keep their data.

#include <ctime>
#include <string>

namespace platform {

// The local date and time of seconds since 1970; all fields 0 when the
// system cannot tell.
std::tm LocalTime(std::time_t seconds);

// The login name of the user running the program; empty when it cannot be had.
std::string LoginName();

// The folder where programs keep the user's data: $XDG_DATA_HOME, else
// ~/.local/share; %LOCALAPPDATA% on Windows. Empty when none is set.
std::string UserDataFolder();

}  // namespace platform
