#include "tools/cli/Options.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "run/Observer.h"

namespace cli {

namespace {

// The options that download, erase and dump share, and the one of every
// archive subcommand.
constexpr char kLinkOptions[] =
    "download, erase and dump:\n"
    "  --port        the reader's COM name (default: the window program's port)\n"
    "  --timeout     seconds without a sign of life before giving up (default:\n"
    "                the window program's time-out, else 5); a dump reads again\n"
    "  --trace       appends every frame sent and received, time-stamped, to FILE\n";
constexpr char kArchiveOption[] =
    "  --archive   the archive to use (default: the window program's setting)\n";

// Each command's help, and each archive subcommand's: its usage lines, what
// it does with its own options, and the options it shares. The whole usage
// is made of them all, in this order.
struct Help {
    std::string_view name;  // "download", "archive series"
    const char* usage;
    const char* text;
    const char* shared;
};

constexpr Help kHelp[] = {
    {"ports", "  arvelo-cli ports\n",
     "ports     lists the COM names and the devices they stand for\n", ""},
    {"download",
     "  arvelo-cli download [--port COMn] [--out DIR] [--type omb|csv] [--name-parts N]\n"
     "                      [--timeout S] [--resume N] [--trace FILE]\n"
     "                      [--archive LOCATION | --no-archive] [--clock ±HH:MM]\n",
     "download  saves every log of the reader, one file per log, and prints\n"
     "          'saved PATH' for each; the options absent are taken from the\n"
     "          window program's settings:\n"
     "  --out         output directory (a missing trailing separator is added)\n"
     "  --type        file type, .omb (default) or .csv\n"
     "  --name-parts  file-name parts, a sum of 1 serial number, 2 location,\n"
     "                4 start date, 8 last date; 0: log1, log2, ...\n"
     "  --resume      times the download goes on after the reader stayed silent\n"
     "                for the time-out, before it is given up (default 3); with 0\n"
     "                a corrupted log is not read again either\n"
     "  --archive     also keep every log in this archive: an SQLite file or a\n"
     "                PostgreSQL server (postgresql://... or host=... dbname=...)\n"
     "                (default: the window program's setting, on, in the data\n"
     "                folder's Arvelo/archive.sqlite)\n"
     "  --no-archive  keep the files only\n"
     "  --clock       the loggers' clocks run at UTC±HH:MM (default +00:00): the\n"
     "                offset the archive keeps for their new stays\n",
     kLinkOptions},
    {"erase",
     "  arvelo-cli erase [--port COMn] --yes [--unsaved-too] [--timeout S] [--resume N]\n"
     "                   [--trace FILE] [--archive LOCATION | --no-archive]\n",
     "erase     reads which logs the reader holds and whether the archive keeps\n"
     "          each (its logger, from its start, with at least its samples), then\n"
     "          erases the reader's memory and checks it reads back erased:\n"
     "  --unsaved-too  erase also when the archive does not keep every log, or\n"
     "                 is off; without it such an erase is refused (exit 11)\n"
     "  --resume, --archive, --no-archive  as for download\n",
     kLinkOptions},
    {"dump", "  arvelo-cli dump [--port COMn] --out IMAGE.bin [--timeout S] [--trace FILE]\n",
     "dump      copies what a download reads of the reader's memory into an image\n"
     "          for the virtual reader: arvelo-sim serve --image IMAGE.bin\n",
     kLinkOptions},
    {"show", "  arvelo-cli show FILE\n",
     "show      reads a data file this program wrote (.omb or .csv) and prints its\n"
     "          header and a summary: channels, samples, first and last time, and\n"
     "          the smallest and largest value of each channel\n",
     ""},
    {"plot", "  arvelo-cli plot FILE --out PICTURE\n",
     "plot      draws the data file as the Graph of the window program does, into\n"
     "          a picture of 1200 x 800: PICTURE.png, .svg or .pdf\n",
     ""},
    {"archive", "", "archive   the record of every log kept, merged across downloads:\n",
     kArchiveOption},
    {"archive import",
     "  arvelo-cli archive import PATH... [--clock ±HH:MM] [--archive LOCATION]\n",
     "  import    saved .omb/.csv files, or folders of them (searched through);\n"
     "            --clock: the loggers' clocks run at UTC±HH:MM (default +00:00), kept\n"
     "            with each new stay of a logger in a well\n",
     kArchiveOption},
    {"archive loggers", "  arvelo-cli archive loggers [--archive LOCATION]\n",
     "  loggers   each logger: locations, channels, time span, samples, conflicts, gaps\n",
     kArchiveOption},
    {"archive series",
     "  arvelo-cli archive series SERIAL CHANNEL [--from T] [--to T] [--out FILE]\n"
     "                            [--format csv|pandas|waterml] [--archive LOCATION]\n",
     "  series    one channel (its number, 1 = first, or its identification) as CSV:\n"
     "            time_utc,IDENTIFICATION [UNIT]; T as 2024-03-16T15:00:00.0Z or a date\n"
     "            (UTC: the logger's clock less the offset of its stay); --format pandas:\n"
     "            time_utc,IDENTIFICATION_UNIT with times as pandas and pastas read them;\n"
     "            waterml: a WaterML 2.0 document\n",
     kArchiveOption},
    {"archive conflicts", "  arvelo-cli archive conflicts [--archive LOCATION]\n",
     "  conflicts samples that came again with another value: both, with their downloads'\n"
     "            files and dates, and the value chosen, or 'open' while none is\n",
     kArchiveOption},
    {"archive resolve",
     "  arvelo-cli archive resolve SERIAL CHANNEL --time T --keep first|other|none|ID\n"
     "                             [--archive LOCATION]\n",
     "  resolve   chooses the value the record keeps at a conflict's time T (as\n"
     "            conflicts prints it): the first, the other, or download ID's; the\n"
     "            series, the Graph and the exports follow it; none takes the\n"
     "            choice back (the first value again, the conflict open). On a\n"
     "            server it takes a role that may update the table resolutions\n",
     kArchiveOption},
    {"archive gaps", "  arvelo-cli archive gaps [--archive LOCATION]\n",
     "  gaps      samples missing inside a fixed-interval series\n", kArchiveOption},
    {"archive downloads", "  arvelo-cli archive downloads [--archive LOCATION]\n",
     "  downloads every download kept\n", kArchiveOption},
    {"archive export",
     "  arvelo-cli archive export --download ID --out FILE [--archive LOCATION]\n",
     "  export    gives a download back, byte for byte\n", kArchiveOption},
    {"well", "",
     "well      the record of a well: what the loggers that hung in it measured there.\n"
     "          A logger's stay in a well (a deployment) is found from the location\n"
     "          its logs name, or declared; WELL is a well's name or a location text:\n",
     kArchiveOption},
    {"well list", "  arvelo-cli well list [--archive LOCATION]\n",
     "  list      each well: its names, its stays with logger, span and clock offset\n",
     kArchiveOption},
    {"well series",
     "  arvelo-cli well series WELL CHANNEL [--from T] [--to T] [--out FILE]\n"
     "                         [--format csv|pandas|waterml] [--archive LOCATION]\n",
     "  series    the well's record across its loggers as CSV:\n"
     "            time_utc,IDENTIFICATION [UNIT],logger; CHANNEL, T and --format as for\n"
     "            archive series\n",
     kArchiveOption},
    {"well rename", "  arvelo-cli well rename WELL NAME [--archive LOCATION]\n",
     "  rename    gives the well another name\n", kArchiveOption},
    {"well merge", "  arvelo-cli well merge WELL OTHER [--archive LOCATION]\n",
     "  merge     OTHER's location texts and stays become WELL's: one well\n", kArchiveOption},
    {"well deploy",
     "  arvelo-cli well deploy WELL --logger SERIAL --from T [--to T] [--clock ±HH:MM]\n"
     "                         [--channel N|IDENT] [--temperature N|IDENT] [--cable M]\n"
     "                         [--vented] [--archive LOCATION]\n",
     "  deploy    declares the logger in the well from T (UTC) to T (excluded; none:\n"
     "            open), its clock at UTC±HH:MM (default +00:00), over what was found;\n"
     "            for its levels: the channel of its pressure (default: its first of\n"
     "            a pressure unit) and of its temperature, the cable from the well's\n"
     "            reference point to the sensor (m), vented (water column only)\n",
     kArchiveOption},
    {"well set",
     "  arvelo-cli well set WELL [--reference M] [--datum TEXT] [--latitude DEG]\n"
     "                      [--ground M] [--archive LOCATION]\n",
     "  set       the well's reference point (top of casing) in m above its datum,\n"
     "            the datum's name, its latitude and ground level; makes the well\n"
     "            when there is none of that name\n",
     kArchiveOption},
    {"well baro",
     "  arvelo-cli well baro WELL --logger SERIAL [--channel N|IDENT] [--clock ±HH:MM]\n"
     "                       [--height M] [--from T] [--to T] [--archive LOCATION]\n",
     "  baro      the barometric logger of the well from T to T (default: always),\n"
     "            its clock, hung M above the reference point (default 0)\n",
     kArchiveOption},
    {"well dip",
     "  arvelo-cli well dip WELL --time T --depth M [--note TEXT] [--archive LOCATION]\n",
     "  dip       a manual reading: the depth to water below the reference point\n",
     kArchiveOption},
    {"well dips",
     "  arvelo-cli well dips WELL [--archive LOCATION]\n"
     "  arvelo-cli well dips import FILE.csv [--archive LOCATION]\n",
     "  dips      each dip with the logger's estimate, the offset and the drift\n"
     "            (mm/day) as CSV; import: a field sheet well,time,depth_m[,note]\n",
     kArchiveOption},
    {"well level",
     "  arvelo-cli well level WELL [--from T] [--to T] [--density kell|KG_M3]\n"
     "                        [--gravity local|M_S2] [--out FILE] [--format csv|pandas|waterml]\n"
     "                        [--quantity level|depth|water_column] [--archive LOCATION]\n",
     "  level     the well's water levels as CSV: time_utc,water_column_m,depth_m,\n"
     "            level_m,flags (B no baro, N no dip, D offset held, T no temperature);\n"
     "            density 1000 kg/m3 and gravity 9.80665 m/s2 unless given; --format\n"
     "            pandas or waterml: the quantity (default level) alone, as for series\n",
     kArchiveOption},
    {"well plot",
     "  arvelo-cli well plot WELL --out PICTURE [--from T] [--to T]\n"
     "                       [--quantity level|depth|water_column] [--archive LOCATION]\n",
     "  plot      the well's level Graph (dips marked, the pressures below) as a\n"
     "            PNG, SVG or PDF picture, without a display\n",
     kArchiveOption},
};

// The exit codes, and what holds for every command.
constexpr char kFooter[] =
    "exit codes: 0 done, 2 bad arguments, 3 port cannot be opened, 4 link failed,\n"
    "5 no answer, 6 a corrupted log was skipped, 7 file error (also a data file\n"
    "that cannot be read), 8 not erased, 9 the port stopped working, 10 the archive\n"
    "could not be opened or written (a download's files are saved all the same),\n"
    "11 not erased: the reader holds logs the archive does not keep, 130 interrupted\n"
    "A log that did not complete is kept as NAME.partial beside the others.\n"
    "arvelo-cli COMMAND --help prints the help of that command alone.\n";

// The whole usage: every command's lines, then what each does, then the
// options they share.
std::string WholeUsage() {
    std::string usage = "usage:\n";
    std::string text;
    for (const Help& help : kHelp) {
        usage += help.usage;
        text += help.text;
    }
    return usage + "\n" + text + kArchiveOption + kLinkOptions + "\n" + kFooter;
}

// The help of the command or subcommand named: its own, with that of the
// command above it or the subcommands below it.
std::string CommandHelp(std::string_view name) {
    const std::string own = std::string(name) + ' ';
    std::string usage = "usage:\n";
    std::string text;
    const char* shared = "";
    for (const Help& help : kHelp) {
        const std::string other = std::string(help.name) + ' ';
        if (own.starts_with(other) || other.starts_with(own)) {
            usage += help.usage;
            text += help.text;
            shared = help.shared;
        }
    }
    return usage + "\n" + text + shared;
}

bool IsHelpOption(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

}  // namespace

std::string HelpAskedFor(const std::vector<std::string>& args) {
    if (args.empty()) {
        return {};
    }
    if (IsHelpOption(args[0])) {
        return WholeUsage();
    }
    const auto named = [](const std::string& name) {
        return std::any_of(std::begin(kHelp), std::end(kHelp),
                           [&name](const Help& help) { return help.name == name; });
    };
    // "archive series ... --help" asks for the subcommand's help.
    std::string name = args[0];
    std::size_t words = 1;
    if ((name == "archive" || name == "well") && args.size() > 1 && named(name + " " + args[1])) {
        name += " " + args[1];
        words = 2;
    }
    if (!named(name) || std::none_of(args.begin() + words, args.end(), IsHelpOption)) {
        return {};
    }
    return CommandHelp(name);
}

int Usage() {
    std::fputs(WholeUsage().c_str(), stderr);
    return kBadArguments;
}

void Fail(const std::string& text) {
    std::fprintf(stderr, "arvelo-cli: %s\n", text.c_str());
}

int BadArguments(const std::string& text) {
    Fail(text);
    std::fputc('\n', stderr);
    return Usage();
}

void FailToOpen(const std::string& port, int32_t result) {
    Fail("cannot open " + run::DescribePortFailure(port, result));
}

}  // namespace cli
