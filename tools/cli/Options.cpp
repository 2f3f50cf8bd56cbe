#include "tools/cli/Options.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string_view>

#include "archive/Archive.h"
#include "archive/Exports.h"
#include "archive/IsoTime.h"
#include "archive/Location.h"
#include "platform/PortDirectory.h"
#include "tools/cli/StoredDefaults.h"

namespace cli {

std::atomic<bool> interrupted{false};

namespace {

constexpr unsigned long kMaxResumes = 100;

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10) {
        return false;
    }
    *out = std::strtoul(text.c_str(), nullptr, 10);
    return *out <= max;
}

std::optional<Command> CommandNamed(const std::string& name) {
    if (name == "ports") {
        return Command::Ports;
    }
    if (name == "download") {
        return Command::Download;
    }
    if (name == "erase") {
        return Command::Erase;
    }
    if (name == "dump") {
        return Command::Dump;
    }
    if (name == "show") {
        return Command::Show;
    }
    if (name == "plot") {
        return Command::Plot;
    }
    if (name == "archive") {
        return Command::Archive;
    }
    if (name == "well") {
        return Command::Well;
    }
    return std::nullopt;
}

// The port and the time-out the window program would use.
void TakeStoredPortSettings(Options* options) {
    const StoredDefaults stored = LoadStoredDefaults();
    if (stored.comPort) {
        // "COM10:" names COM10: everything before the colon.
        options->port = stored.comPort->substr(0, stored.comPort->find(':'));
    }
    options->timeoutMs = settings::TimeOutMs(stored.timeOutSeconds);
}

// --archive LOCATION: one that can name no archive is refused before anything is done.
std::string TakeArchive(const std::string& value, Options* options) {
    options->archive = value;
    const std::string why = archive::ReadLocation(value).why;
    return why.empty() ? why : "--archive " + archive::Shown(value) + ": " + why;
}

// --from T, --to T: a time, or a date taken whole.
std::string TakeTime(const std::string& option, const std::string& value, Options* options) {
    const std::optional<int64_t> time = archive::ParseIsoTime(value, option == "--to");
    if (!time) {
        return option + " takes a time as 2024-03-16T15:00:00.0Z or a date as 2024-03-16";
    }
    (option == "--from" ? options->from : options->to) = time;
    return {};
}

std::string TakeClock(const std::string& value, Options* options) {
    const std::optional<int> offset = archive::ParseClockOffset(value);
    if (!offset) {
        return "--clock takes an offset from UTC as +01:00 or -03:30, from -12:00 to +14:00";
    }
    options->clockOffset = *offset;
    return {};
}

// The value of an option a subcommand takes, into options; why not, or empty.
std::string TakeValue(const std::string& option, const std::string& value, Options* options) {
    if (option == "--archive") {
        return TakeArchive(value, options);
    }
    if (option == "--clock") {
        return TakeClock(value, options);
    }
    unsigned long id = 0;
    // The options that take a text as it stands.
    const std::pair<const char*, std::optional<std::string>*> texts[] = {
        {"--out", &options->out},
        {"--logger", &options->logger},
        {"--reference", &options->reference},
        {"--datum", &options->datum},
        {"--latitude", &options->latitude},
        {"--ground", &options->ground},
        {"--cable", &options->cable},
        {"--height", &options->height},
        {"--depth", &options->depth}};
    for (const auto& [name, field] : texts) {
        if (option == name) {
            *field = value;
            return {};
        }
    }
    if (option == "--channel") {
        options->channel = value;
    } else if (option == "--temperature") {
        options->temperature = value;
    } else if (option == "--note") {
        options->note = value;
    } else if (option == "--density" || option == "--gravity") {
        const bool number = archive::NumberOf(value).has_value();
        if (value != (option == "--density" ? "kell" : "local") && !number) {
            return option == "--density" ? "--density takes kell or a number of kg/m3"
                                         : "--gravity takes local or a number of m/s2";
        }
        (option == "--density" ? options->density : options->gravity) = value;
    } else if (option == "--format") {
        if (value != "csv" && value != "pandas" && value != "waterml") {
            return "--format takes csv, pandas or waterml";
        }
        options->format = value;
    } else if (option == "--quantity") {
        if (!level::QuantityNamed(value)) {
            return "--quantity takes level, depth or water_column";
        }
        options->quantity = value;
    } else if (option == "--keep") {
        if (value != "first" && value != "other" && value != "none" &&
            !ParseNumber(value, 0xFFFFFFFFul, &id)) {
            return "--keep takes first, other, none or a download's number";
        }
        options->keep = value;
    } else if (option == "--time") {
        options->time = archive::ParseIsoTime(value, false);
        if (!options->time || value.size() <= 10) {
            return "--time takes a time as archive conflicts prints it, 2024-03-16T15:00:00.0Z,"
                   " or with its offset from UTC, 2024-03-16T16:00:00+01:00";
        }
    } else if (option == "--download") {
        if (!ParseNumber(value, 0xFFFFFFFFul, &id)) {
            return "--download needs a download's number (archive downloads lists them)";
        }
        options->downloadId = static_cast<int64_t>(id);
    } else {
        return TakeTime(option, value, options);  // --from, --to
    }
    return {};
}

// A subcommand's operands and options, from args[2] on; allows says which
// options it takes (each with a value).
std::string TakeSubcommandArguments(const std::vector<std::string>& args,
                                    const std::function<bool(const std::string&)>& allows,
                                    Options* options) {
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!a.starts_with("--")) {
            options->operands.push_back(a);
            continue;
        }
        if (!allows(a)) {
            return "unexpected argument " + a;
        }
        if (a == "--vented") {
            options->vented = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return a + " needs a value";
        }
        if (const std::string why = TakeValue(a, args[++i], options); !why.empty()) {
            return why;
        }
    }
    return {};
}

// archive SUBCOMMAND ...: each subcommand's operands and options.
std::string ParseArchive(const std::vector<std::string>& args, Options* options) {
    if (args.size() < 2) {
        return "archive needs a subcommand: import, loggers, series, conflicts, resolve, gaps,"
               " downloads or export";
    }
    const std::string& sub = args[1];
    options->subcommand = sub;
    const bool series = sub == "series";
    const bool resolve = sub == "resolve";
    const bool exporting = sub == "export";
    const bool listing =
        sub == "loggers" || sub == "conflicts" || sub == "gaps" || sub == "downloads";
    if (!series && !resolve && !exporting && !listing && sub != "import") {
        return "unknown archive subcommand " + sub;
    }
    const auto allows = [&](const std::string& a) {
        return a == "--archive" || ((series || exporting) && a == "--out") ||
               (series && (a == "--from" || a == "--to" || a == "--format")) ||
               (exporting && a == "--download") || (sub == "import" && a == "--clock") ||
               (resolve && (a == "--time" || a == "--keep"));
    };
    if (const std::string why = TakeSubcommandArguments(args, allows, options); !why.empty()) {
        return why;
    }
    if (sub == "import" && options->operands.empty()) {
        return "archive import needs the files or folders to import";
    }
    if ((series || resolve) && options->operands.size() != 2) {
        return "archive " + sub + " needs SERIAL and CHANNEL";
    }
    if (resolve && (!options->time || options->keep.empty())) {
        return "archive resolve needs --time T and --keep first|other|none|ID";
    }
    if ((listing || exporting) && !options->operands.empty()) {
        return "unexpected argument " + options->operands.front();
    }
    if (exporting && (!options->downloadId || !options->out)) {
        return "archive export needs --download ID and --out FILE";
    }
    return {};
}

// well SUBCOMMAND ...: each subcommand's operands and options.
std::string ParseWell(const std::vector<std::string>& args, Options* options) {
    if (args.size() < 2) {
        return "well needs a subcommand: list, series, rename, merge, deploy, set, baro, dip,"
               " dips, level or plot";
    }
    const std::string& sub = args[1];
    options->subcommand = sub;
    // What each takes: how many operands, what they are, and its options.
    struct Takes {
        const char* sub;
        std::size_t count;
        const char* what;
        std::vector<std::string_view> options;
    };
    const Takes takes[] = {
        {"list", 0, "", {}},
        {"series", 2, "WELL and CHANNEL", {"--from", "--to", "--out", "--format"}},
        {"rename", 2, "WELL and NAME", {}},
        {"merge", 2, "WELL and OTHER", {}},
        {"deploy",
         1,
         "WELL",
         {"--logger", "--from", "--to", "--clock", "--channel", "--temperature", "--cable",
          "--vented"}},
        {"set", 1, "WELL", {"--reference", "--datum", "--latitude", "--ground"}},
        {"baro", 1, "WELL", {"--logger", "--channel", "--clock", "--height", "--from", "--to"}},
        {"dip", 1, "WELL", {"--time", "--depth", "--note"}},
        {"dips", 1, "WELL, or import and FILE", {}},
        {"level",
         1,
         "WELL",
         {"--from", "--to", "--density", "--gravity", "--out", "--format", "--quantity"}},
        {"plot", 1, "WELL", {"--out", "--from", "--to", "--quantity"}}};
    const auto* known = std::find_if(std::begin(takes), std::end(takes),
                                     [&sub](const Takes& t) { return sub == t.sub; });
    if (known == std::end(takes)) {
        return "unknown well subcommand " + sub;
    }
    const auto allows = [known](const std::string& a) {
        return a == "--archive" ||
               std::find(known->options.begin(), known->options.end(), a) != known->options.end();
    };
    if (const std::string why = TakeSubcommandArguments(args, allows, options); !why.empty()) {
        return why;
    }
    const std::vector<std::string>& operands = options->operands;
    const bool dipsImport = sub == "dips" && operands.size() == 2 && operands[0] == "import";
    if (operands.size() != known->count && !dipsImport) {
        return known->count == 0 ? "unexpected argument " + operands.front()
                                 : "well " + sub + " needs " + known->what;
    }
    if (sub == "deploy" && (!options->logger || !options->from)) {
        return "well deploy needs --logger SERIAL and --from T";
    }
    if (sub == "baro" && !options->logger) {
        return "well baro needs --logger SERIAL";
    }
    if (sub == "dip" && (!options->time || !options->depth)) {
        return "well dip needs --time T and --depth M";
    }
    if (sub == "plot" && !options->out) {
        return "well plot needs --out PICTURE";
    }
    return {};
}

// The value of an option of download, erase, dump, show or plot, into
// options; why not, or empty.
std::string TakeCommandValue(const std::string& option, const std::string& value,
                             Options* options) {
    if (option == "--out" || option == "--archive" || option == "--clock") {
        return TakeValue(option, value, options);
    }
    unsigned long number = 0;
    if (option == "--port") {
        options->port = value;
    } else if (option == "--trace") {
        options->trace = value;
    } else if (option == "--type") {
        if (value != "omb" && value != "csv") {
            return "--type is omb or csv";
        }
        options->extension = "." + value;
    } else if (option == "--resume") {
        if (!ParseNumber(value, kMaxResumes, &number)) {
            return "--resume needs a number from 0 to 100";
        }
        options->resumes = static_cast<int>(number);
    } else if (option == "--name-parts") {
        if (!ParseNumber(value, 0xFFFFFFFFul, &number)) {
            return "--name-parts needs a number";
        }
        options->nameParts = static_cast<uint32_t>(number);
    } else {
        if (!ParseNumber(value, settings::MAX_TIME_OUT, &number) ||
            number < settings::MIN_TIME_OUT) {
            return "--timeout needs seconds from " + std::to_string(settings::MIN_TIME_OUT) +
                   " to " + std::to_string(settings::MAX_TIME_OUT);
        }
        options->timeoutMs = settings::TimeOutMs(number);
    }
    return {};
}

}  // namespace

std::string ParseCommandLine(const std::vector<std::string>& args, Options* options) {
    const std::optional<Command> command = CommandNamed(args.at(0));
    if (!command) {
        return "unknown command " + args[0];
    }
    options->command = *command;
    if (command == Command::Archive) {
        return ParseArchive(args, options);
    }
    if (command == Command::Well) {
        return ParseWell(args, options);
    }
    const bool download = command == Command::Download;
    const bool plot = command == Command::Plot;
    const bool reading = command == Command::Show || plot;
    const bool link = command != Command::Ports && !reading;
    if (link) {
        TakeStoredPortSettings(options);
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool erase = command == Command::Erase;
        if (a == "--yes" && erase) {
            options->yes = true;
            continue;
        }
        if (a == "--unsaved-too" && erase) {
            options->unsavedToo = true;
            continue;
        }
        if (a == "--no-archive" && (download || erase)) {
            options->noArchive = true;
            continue;
        }
        if (reading && !a.starts_with("--") && !options->file) {
            options->file = a;
            continue;
        }
        const bool known = (a == "--trace" && !reading) ||
                           (link && (a == "--port" || a == "--timeout")) ||
                           ((download || command == Command::Dump || plot) && a == "--out") ||
                           (download && (a == "--type" || a == "--name-parts" || a == "--clock")) ||
                           ((download || erase) && (a == "--resume" || a == "--archive"));
        if (!known) {
            return "unexpected argument " + a;
        }
        if (i + 1 >= args.size()) {
            return a + " needs a value";
        }
        if (const std::string why = TakeCommandValue(a, args[++i], options); !why.empty()) {
            return why;
        }
    }
    if (reading && !options->file) {
        return args[0] + " needs the data FILE";
    }
    if (plot && (!options->out || options->out->empty())) {
        return "plot needs --out PICTURE";
    }
    if (options->noArchive && options->archive) {
        return "--archive and --no-archive exclude each other";
    }
    if (!link) {
        return {};
    }
    if (command == Command::Dump && (!options->out || options->out->empty())) {
        return "dump needs --out IMAGE.bin";
    }
    if (platform::ComPortNumber(options->port) == 0) {
        return options->port.empty() ? "--port COMn is required"
                                     : "--port takes a COM name such as COM3";
    }
    return {};
}

}  // namespace cli
