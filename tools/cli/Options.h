#pragma once
// arvelo-cli's command line: the commands, their options, the exit codes and
// the messages every command prints the same way.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

enum ExitCode {
    kDone = 0,
    kBadArguments = 2,
    kPortError = 3,      // the port cannot be opened
    kLinkError = 4,      // the link failed or the reader answered what was not asked
    kNoAnswer = 5,       // no sign of life for the time-out
    kLogLost = 6,        // a corrupted log was given up
    kFileError = 7,      // a file (data, image or trace) could not be named, created or written
    kNotErased = 8,      // the erase did not read back erased
    kPortLost = 9,       // the port stopped working (the reader or its adapter unplugged)
    kArchiveError = 10,  // the archive could not be opened or written (files are saved anyway)
    kUnsavedLogs = 11,   // not erased: the reader holds logs the archive does not keep
    kInterrupted = 130   // SIGINT or SIGTERM
};

enum class Command { Ports, Download, Erase, Dump, Show, Plot, Archive, Well };

struct Options {
    Command command = Command::Ports;
    std::string port;                 // "COMn"
    std::optional<std::string> out;   // the output directory, the image file or the picture
    std::optional<std::string> file;  // the data file to show or plot
    std::optional<std::string> extension;
    std::optional<uint32_t> nameParts;
    uint32_t timeoutMs = 5000;
    int resumes = 3;  // times a silent download is resumed before it is given up
    bool yes = false;
    bool unsavedToo = false;  // erase: also logs the archive does not keep
    std::optional<std::string> trace;
    // download, erase and archive: the archive's location; none: the stored one.
    std::optional<std::string> archive;
    bool noArchive = false;  // download and erase: no archive this time
    // archive and well: the subcommand and its operands (paths, serial and
    // channel, wells).
    std::string subcommand;
    std::vector<std::string> operands;
    std::optional<int64_t> from, to;  // tenths of a second since 1970 UTC
    std::optional<int64_t> downloadId;
    std::optional<std::string> logger;  // well deploy and baro: the logger's serial
    int clockOffset = 0;                // minutes: the logger's clock is UTC + offset
    // well set, deploy, baro and dip: the facts declared, numbers as given.
    std::optional<std::string> reference, datum, latitude, ground;
    std::string channel, temperature;  // a number or an identification
    std::optional<std::string> cable, height, depth;
    bool vented = false;
    std::string note;
    // well level: "kell" or kg/m3, "local" or m/s2; empty: the defaults.
    std::string density, gravity;
    // archive series, well series and well level: "csv" (empty), "pandas" or
    // "waterml"; well level and plot: "level" (empty), "depth" or "water_column".
    std::string format, quantity;
    // archive resolve: the conflict's time (tenths) and the value kept there:
    // "first", "other", "none" (the choice taken back) or a download's number.
    std::optional<int64_t> time;
    std::string keep;
};

// Set by SIGINT and SIGTERM; every wait looks at it.
extern std::atomic<bool> interrupted;

// The command and its options from the arguments after the program name;
// empty on success, else the complaint. Absent port and time-out come from
// the window program's stored settings.
std::string ParseCommandLine(const std::vector<std::string>& args, Options* options);
// The help the arguments ask for: the whole usage for --help or -h, one
// command's (or archive subcommand's) for --help or -h after its name; empty
// when they ask for none.
std::string HelpAskedFor(const std::vector<std::string>& args);
// The whole usage on standard error; the exit code of bad arguments.
int Usage();

// "arvelo-cli: text" on standard error.
void Fail(const std::string& text);
int BadArguments(const std::string& text);
void FailToOpen(const std::string& port, int32_t result);

}  // namespace cli
