// arvelo-sim: the virtual reader. Builds memory images from JSON and serves
// them on a pseudo-terminal linked as a COM port.

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sim/ImageBuilder.h"
#include "tools/sim/Server.h"

namespace {

constexpr int kBadArguments = 2;

constexpr char kUsage[] =
    "usage:\n"
    "  arvelo-sim make-image --logs FILE.json [--logs FILE.json ...] --out IMAGE.bin [--full]\n"
    "  arvelo-sim serve --image IMAGE.bin [--port COMn|auto] [--baud N | --fast]\n"
    "                   [--turnaround MS] [--write-back] [-v] [faults]\n"
    "\n"
    "make-image lays the logs of the JSON files out in one chain, in the order given,\n"
    "and writes the image up to its last used byte (--full: all 2 MiB).\n"
    "\n"
    "serve prints 'ready COMn DEVICE' once it answers and runs until SIGINT, SIGTERM or SIGHUP.\n"
    "  --port        COM name to link (default auto: the lowest free one)\n"
    "  --baud        line rate, 10 bits per byte (default 9600); --fast: no pacing\n"
    "  --turnaround  the unit's time before each reply, in ms (default 0)\n"
    "  --write-back  save changes to the memory (erase, block writes) to IMAGE.bin\n"
    "  -v            log each frame on standard error\n"
    "faults (replies count from 1):\n"
    "  --bad-checksum K, --bad-checksum-every K     wrong checksum\n"
    "  --drop K, --drop-every K                     reply not sent\n"
    "  --wrong-header K, --wrong-header-every K     'M81' instead of 'M80'\n"
    "  --truncate K, --truncate-every K             cut short (--truncate-to BYTES, default half)\n"
    "  --garbage K, --garbage-every K               noise before the frame (--garbage-bytes N, 8)\n"
    "  --noise K, --noise-every K                   garbled payload bytes (--noise-bytes N, 4)\n"
    "  --late K, --late-every K                     sent late (--late-by MS, default 500)\n"
    "  --stop-after K [--resume-after SECONDS]      silent after K replies\n"
    "  --invalid-log L                              log L served without its validity mark\n";

int BadArguments(const std::string& text) {
    std::cerr << "arvelo-sim: " << text << "\n\n" << kUsage;
    return kBadArguments;
}

bool ParseCount(const std::string& text, std::uint64_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    *out = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

int MakeImage(const std::vector<std::string>& args) {
    std::vector<std::string> logs;
    std::string out;
    bool full = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--logs" || a == "--out") && i + 1 < args.size()) {
            (a == "--logs" ? logs.emplace_back() : out) = args[++i];
        } else if (a == "--full") {
            full = true;
        } else {
            return BadArguments("make-image: unexpected argument " + a);
        }
    }
    if (logs.empty() || out.empty()) {
        return BadArguments("make-image needs --logs and --out");
    }
    sim::ImageBuilder builder;
    std::string error;
    for (const std::string& path : logs) {
        std::string text;
        if (!ReadFile(path, &text)) {
            std::cerr << "arvelo-sim: cannot read " << path << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        if (!builder.AddLogs(text, &error)) {
            std::cerr << "arvelo-sim: " << path << ": " << error << "\n";
            return 1;
        }
    }
    sim::MemoryImage image;
    if (!builder.Build(&image, &error) ||
        !image.Save(out, full ? sim::MemoryImage::Size() : 0, &error)) {
        std::cerr << "arvelo-sim: " << error << "\n";
        return 1;
    }
    std::cerr << "arvelo-sim: " << builder.LogCount() << " logs, " << image.UsedBytes()
              << " bytes used, written to " << out << "\n";
    return 0;
}

// Where the count of a fault option goes ("--drop 3", "--drop-every 3"); none
// for any other option.
std::uint64_t* FaultCount(sim::FaultOptions& faults, const std::string& name) {
    struct Set {
        const char* name;
        sim::ReplySet sim::FaultOptions::*set;
    };
    static constexpr Set kSets[] = {
        {"bad-checksum", &sim::FaultOptions::badChecksum},
        {"drop", &sim::FaultOptions::drop},
        {"wrong-header", &sim::FaultOptions::wrongHeader},
        {"truncate", &sim::FaultOptions::truncate},
        {"garbage", &sim::FaultOptions::garbage},
        {"noise", &sim::FaultOptions::noise},
        {"late", &sim::FaultOptions::late},
    };
    for (const Set& s : kSets) {
        if (name == std::string("--") + s.name) {
            return &(faults.*s.set).at;
        }
        if (name == std::string("--") + s.name + "-every") {
            return &(faults.*s.set).every;
        }
    }
    if (name == "--stop-after") {
        return &faults.stopAfter;
    }
    return nullptr;
}

// Where the byte count of a fault's shape goes; none for any other option.
std::size_t* FaultSize(sim::FaultOptions& faults, const std::string& name) {
    if (name == "--truncate-to") {
        return &faults.truncateTo;
    }
    if (name == "--garbage-bytes") {
        return &faults.garbageBytes;
    }
    if (name == "--noise-bytes") {
        return &faults.noiseBytes;
    }
    return nullptr;
}

// serve's options from its arguments, the image's path among them; why
// not, or empty.
std::string ParseServe(const std::vector<std::string>& args, sim::ServerOptions* options,
                       std::string* imagePath) {
    bool writeBack = false;
    bool baudGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--fast") {
            options->fast = true;
            continue;
        }
        if (a == "--write-back") {
            writeBack = true;
            continue;
        }
        if (a == "-v") {
            options->verbose = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return "serve: unexpected argument " + a;
        }
        const std::string& value = args[++i];
        std::uint64_t n = 0;
        const bool isCount = ParseCount(value, &n);
        if (a == "--image") {
            *imagePath = value;
        } else if (a == "--port") {
            options->port = value;
        } else if (a == "--resume-after") {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(seconds > 0 && seconds < 1e6)) {
                return "--resume-after needs a number of seconds";
            }
            options->faults.resumeAfter =
                std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
        } else if (!isCount) {
            return a + " needs a whole number, not '" + value + "'";
        } else if (a == "--baud" && n > 0 && n <= 4000000) {
            options->baud = static_cast<int>(n);
            baudGiven = true;
        } else if (a == "--turnaround" && n <= 60000) {
            options->turnaround = std::chrono::milliseconds(n);
        } else if (a == "--late-by" && n <= 60000) {
            options->faults.lateBy = std::chrono::milliseconds(n);
        } else if (a == "--invalid-log" && n > 0 && n <= sim::kMaxChainEntries) {
            options->faults.invalidLog = static_cast<int>(n);
        } else if (std::uint64_t* count = FaultCount(options->faults, a);
                   count != nullptr && n > 0) {
            *count = n;
        } else if (std::size_t* size = FaultSize(options->faults, a); size != nullptr && n > 0) {
            *size = static_cast<std::size_t>(n);
        } else {
            return "serve: unexpected argument " + a + " " + value;
        }
    }
    if (imagePath->empty()) {
        return "serve needs --image";
    }
    if (baudGiven && options->fast) {
        return "--baud and --fast exclude each other";
    }
    if (writeBack) {
        options->writeBackPath = *imagePath;
    }
    return {};
}

// The signals that stop the server, blocked in this thread and in every
// thread it starts from now on.
sigset_t BlockStopSignals() {
    // Taken by Serve's sigwait; blocked before the server's thread starts so that
    // it inherits the mask and never takes them itself. A shell starts
    // background jobs with SIGINT ignored, and whether sigwait sees an ignored
    // signal is left open, so SIGINT and SIGTERM get their default action back;
    // an ignored SIGHUP (nohup) stays ignored.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current;
        sigaction(s, nullptr, &current);
        if (s != SIGHUP || current.sa_handler != SIG_IGN) {
            std::signal(s, SIG_DFL);
            sigaddset(&stopSignals, s);
        }
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

int Serve(const std::vector<std::string>& args) {
    sim::ServerOptions options;
    std::string imagePath;
    if (const std::string why = ParseServe(args, &options, &imagePath); !why.empty()) {
        return BadArguments(why);
    }
    sim::MemoryImage image;
    std::string error;
    if (!image.Load(imagePath, &error)) {
        std::cerr << "arvelo-sim: " << error << "\n";
        return 1;
    }
    options.log = [](const std::string& line) { std::cerr << "arvelo-sim: " << line << "\n"; };

    const sigset_t stopSignals = BlockStopSignals();
    sim::Server server(std::move(image), options);
    if (!server.Start(&error)) {
        std::cerr << "arvelo-sim: " << error << "\n";
        return 1;
    }
    std::cout << "ready " << server.PortName() << " " << server.DevicePath() << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return BadArguments("no command given");
    }
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "make-image") {
        return MakeImage(rest);
    }
    if (args[0] == "serve") {
        return Serve(rest);
    }
    return BadArguments("unknown command " + args[0]);
}
