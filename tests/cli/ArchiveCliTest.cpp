// arvelo-cli and the archive: downloads feed it once, its commands read it,
// a well keeps its record, conflicts are resolved, texts shown as written.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "archive/Archive.h"
#include "archive/IsoTime.h"
#include "datafile/DataFileReader.h"
#include "device/FixedText.h"
#include "device/SampleTime.h"
#include "settings/SettingsStore.h"
#include "support/ArchiveLogs.h"
#include "support/DownloadTestSupport.h"
#include "support/PostgresServer.h"

#include "ArchiveCliTest.h"

namespace {

using namespace archiveclitest;

TEST_F(ArchiveCliTest, ArgumentsTheArchiveCommandsRefuse) {
    const std::pair<const char*, const char*> cases[] = {
        {"archive", "archive needs a subcommand"},
        {"archive merge", "unknown archive subcommand merge"},
        {"archive import", "archive import needs the files or folders"},
        {"archive series PX00-01", "archive series needs SERIAL and CHANNEL"},
        {"archive series PX00-01 1 --from yesterday", "--from takes a time"},
        {"archive export --out copy.omb", "archive export needs --download ID and --out FILE"},
        {"archive loggers extra", "unexpected argument extra"},
        {"archive resolve PX00-01 1 --keep other", "archive resolve needs --time T and --keep"},
        {"archive resolve PX00-01 1 --time 2024-03-16 --keep other",
         "--time takes a time as archive conflicts"},
        {"archive resolve PX00-01 1 --time 2024-03-16T00:15:00.0Z --keep best",
         "--keep takes first, other, none or a download's number"},
        {"download --port COM1 --archive a.sqlite --no-archive", "exclude each other"},
        {"archive import a.omb --clock 01:00", "--clock takes an offset from UTC"},
        {"archive import a.omb --clock -12:30", "--clock takes an offset from UTC"},
        {"well", "well needs a subcommand"},
        {"well move W7", "unknown well subcommand move"},
        {"well series W7", "well series needs WELL and CHANNEL"},
        {"well merge W7", "well merge needs WELL and OTHER"},
        {"well list W7", "unexpected argument W7"},
        {"well deploy W7 --from 2024-03-16", "well deploy needs --logger SERIAL and --from T"},
        {"well rename W7 W8 --clock +01:00", "unexpected argument --clock"},
        {"well dip W7 --time 2024-03-16T10:00:00+1:00 --depth 2", "--time takes a time"},
        {"well level W7 --vented", "unexpected argument --vented"},
    };
    for (const auto& [args, complaint] : cases) {
        const Result r = Cli(args);
        EXPECT_EQ(r.exit, 2) << args;
        EXPECT_NE(r.err.find(complaint), std::string::npos) << args << ": " << r.err;
    }
}

TEST_F(ArchiveCliTest, DownloadsFeedTheArchiveOnceAndItsSeriesIsWhatTheFilesHold) {
    VirtualReader reader(ImageOf("two-logs.json"));  // its sandbox holds the data folder too
    const std::string download = "download --port " + reader.Port() + " --name-parts 0 --out ";
    Result r = Cli(download + Path("first/"));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.err.find("archived " + dir_.File("first/log2.omb") + ": 6 new samples"),
              std::string::npos)
        << r.err;
    r = Cli(download + Path("second/"));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.err.find("log2.omb: 0 new samples, 6 duplicates, 0 conflicts"), std::string::npos)
        << r.err;
    // Its last lines: what each logger brought, which was nothing new.
    EXPECT_TRUE(r.err.ends_with(" repeated: nothing new.\n")) << r.err;
    r = Cli(download + Path("third/") + " --no-archive");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.err.find("archived"), std::string::npos) << r.err;

    // What was archived during the download is known when the folder is imported.
    r = Cli("archive import '" + dir_.File("first") + "'");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("log2.omb: already in the archive (download 2)"), std::string::npos)
        << r.out;
    r = Cli("archive downloads");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;  // a title, 4 downloads

    const std::string csv = dir_.File("well9.csv");
    r = Cli("archive series '..00-12767  2...' PUMPED --out '" + csv + "'");
    ASSERT_EQ(r.exit, 0) << r.err;
    const std::string expected = SeriesOfFile(dir_.File("first/log2.omb"));
    EXPECT_EQ(ReadText(csv), expected);
    r = Cli("archive series '..00-12767  2...' 1 --from 2024-05-14T08:00:02.0Z --to 2024-05-14");
    EXPECT_EQ(r.out, expected.substr(0, expected.find('\n') + 1) +
                         expected.substr(expected.find("2024-05-14T08:00:02.0Z")));

    // pandas reads it with nothing but the dates to parse.
    if (Shell("/usr/bin/python3 -c 'import pandas'").exit != 0) {
        GTEST_SKIP() << "pandas check skipped: Debian's python3-pandas is not installed";
    }
    r = Shell("/usr/bin/python3 -c \"import pandas; f = pandas.read_csv('" + csv +
              "', parse_dates=['time_utc']); print(f['time_utc'].dt.tz, len(f), f.columns[1],"
              " f.iloc[0, 0].isoformat(), f.iloc[-1, 1])\"");
    const std::string lastValue = expected.substr(expected.rfind(',') + 1);
    EXPECT_EQ(r.out, "UTC 3 PUMPED [M] 2024-05-14T08:00:01+00:00 " + lastValue) << r.err;
}

// A logger moved between two wells, its clock an hour ahead of UTC: each
// well keeps its own record, in UTC; what the user declares is kept.
TEST_F(ArchiveCliTest, AWellKeepsItsRecordWhenItsLoggerMoves) {
    archivetest::LogRecipe south;
    south.location =
        "BRUNNEN S\xDC"
        "D 3";
    south.start = "00:00:01 16/03/24";  // 01:00 by the logger's clock: 00:00 UTC
    south.values = {{1, 2}};
    archivetest::LogRecipe east = south;
    east.location = "WELL FIELD EAST W7";
    east.start = "00:00:02 16/03/24";
    east.values = {{7}};
    archivetest::SaveLog(archivetest::MakeLog(south), Path("logs/1.omb"));
    archivetest::SaveLog(archivetest::MakeLog(east), Path("logs/2.omb"));
    const std::string archive = " --archive '" + dir_.File("archive.sqlite") + "'";
    ASSERT_EQ(Cli("archive import '" + dir_.File("logs") + "' --clock +01:00" + archive).exit, 0);
    Result r = Cli("well series 'BRUNNEN SÜD 3' LEVEL" + archive);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "time_utc,LEVEL [cm],logger\n2024-03-16T00:00:00.0Z,1.00,PX00-01276701\n"
              "2024-03-16T00:15:00.0Z,2.00,PX00-01276701\n");
    r = Cli("archive series PX00-01276701 1 --to 2024-03-16T00:00:00Z" + archive);
    EXPECT_EQ(r.out, "time_utc,LEVEL [cm]\n2024-03-16T00:00:00.0Z,1.00\n") << r.err;

    ASSERT_EQ(Cli("well rename 'WELL FIELD EAST W7' 'East 7'" + archive).exit, 0);
    r =
        Cli("well deploy 'East 7' --logger PX00-01276701 --from 2024-03-16T00:15:00Z"
            " --to 2024-03-16T00:30:00Z --clock +01:00" +
            archive);
    ASSERT_EQ(r.exit, 0) << r.err;
    r = Cli("well list" + archive);
    EXPECT_EQ(r.out,
              "BRUNNEN SÜD 3 (names: BRUNNEN SÜD 3)\n"
              "  PX00-01276701 from 2024-03-16T00:00:00.0Z to 2024-03-16T00:15:00.0Z clock "
              "UTC+01:00\n"
              "  PX00-01276701 from 2024-03-16T00:30:00.0Z to 2024-03-16T01:00:00.0Z clock "
              "UTC+01:00\n"
              "East 7 (names: WELL FIELD EAST W7)\n"
              "  PX00-01276701 from 2024-03-16T00:15:00.0Z to 2024-03-16T00:30:00.0Z clock "
              "UTC+01:00 (declared)\n"
              "  PX00-01276701 from 2024-03-16T01:00:00.0Z to now clock UTC+01:00\n")
        << r.err;
    r = Cli("well series 'WELL FIELD EAST W7' 1" + archive);
    EXPECT_EQ(r.out,
              "time_utc,LEVEL [cm],logger\n2024-03-16T00:15:00.0Z,2.00,PX00-01276701\n"
              "2024-03-16T01:00:00.0Z,7.00,PX00-01276701\n");
    r = Cli("well merge 'East 7' 'NO SUCH WELL'" + archive);
    EXPECT_EQ(r.exit, 10);
    EXPECT_NE(r.err.find("no well NO SUCH WELL in the archive"), std::string::npos) << r.err;
}

// A well's levels from the command line: its facts, its barometric logger
// and a field sheet of dips declared, the levels of a span and the dips
// listed, and what is refused said so.

TEST_F(ArchiveCliTest, AConflictIsResolvedAndTakenBack) {
    for (const auto& [name, second] : {std::pair{"a.omb", 2.0}, std::pair{"b.omb", 2.5}}) {
        archivetest::LogRecipe recipe;
        recipe.values = {{1, second}};
        archivetest::SaveLog(archivetest::MakeLog(recipe), Path(std::string("logs/") + name));
    }
    const std::string at = " --archive '" + dir_.File("a.sqlite") + "'";
    ASSERT_EQ(Cli("archive import '" + dir_.File("logs") + "'" + at).exit, 0);
    const std::string conflict =
        "PX00-01276701 channel 1 LEVEL 2024-03-16T00:15:00.0Z: first 2.00"
        " (download 1, a.omb, imported ";
    Result r = Cli("archive conflicts" + at);
    EXPECT_NE(r.out.find(conflict), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("), other 2.50 (download 2, b.omb, imported "), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("): open\n")) << r.out;
    const std::string resolve = "archive resolve PX00-01276701 1 --time 2024-03-16T00:15:00.0Z";
    r = Cli(resolve + " --keep other" + at);
    ASSERT_EQ(r.exit, 0) << r.err;
    const std::string series = "archive series PX00-01276701 LEVEL" + at;
    EXPECT_EQ(Cli(series).out,
              "time_utc,LEVEL [cm]\n2024-03-16T00:00:00.0Z,1.00\n2024-03-16T00:15:00.0Z,2.50\n");
    r = Cli("archive conflicts" + at);
    EXPECT_NE(r.out.find(": keeps 2.50 of download 2, chosen by "), std::string::npos) << r.out;
    ASSERT_EQ(Cli(resolve + " --keep none" + at).exit, 0);
    EXPECT_EQ(Cli(series).out,
              "time_utc,LEVEL [cm]\n2024-03-16T00:00:00.0Z,1.00\n2024-03-16T00:15:00.0Z,2.00\n");
    EXPECT_TRUE(Cli("archive conflicts" + at).out.ends_with("): open\n"));
    r = Cli(resolve + " --keep 9" + at);
    EXPECT_EQ(r.exit, 10);
    EXPECT_NE(r.err.find("download 9 gave none of the values"), std::string::npos) << r.err;
    r = Cli("archive resolve --help");
    EXPECT_EQ(r.exit, 0);
    EXPECT_NE(r.out.find("--keep first|other|none|ID"), std::string::npos) << r.out;
}

// A reader's Latin-1 text (0xDC) is shown as the character it is (UTF-8), and the table
// keeps its columns: a character of two UTF-8 bytes takes one column.
TEST_F(ArchiveCliTest, ALatin1LocationIsShownAsItsCharacterInItsColumn) {
    archivetest::LogRecipe south;
    south.location =
        "BRUNNEN S\xDC"
        "D 3";
    south.values = {{1, 2}};
    archivetest::LogRecipe north = south;
    north.location = "BRUNNEN NORTH 3";
    north.serial = "PX00-012768";
    archivetest::SaveLog(archivetest::MakeLog(south), Path("logs/south.omb"));
    archivetest::SaveLog(archivetest::MakeLog(north), Path("logs/north.omb"));
    const std::string archive = " --archive '" + dir_.File("archive.sqlite") + "'";
    ASSERT_EQ(Cli("archive import '" + dir_.File("logs") + "'" + archive).exit, 0);
    const Result r = Cli("archive loggers" + archive);
    ASSERT_NE(r.out.find("BRUNNEN SÜD 3    "), std::string::npos) << r.out;
    // The column after the locations starts at the same character in every row.
    std::vector<std::size_t> starts;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("BRUNNEN");
        if (at != std::string::npos) {
            const std::string before =
                line.substr(0, line.find_first_not_of(' ', line.find("  ", at)));
            starts.push_back(std::count_if(before.begin(), before.end(), [](char c) {
                return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            }));
        }
    }
    ASSERT_EQ(starts.size(), 2u) << r.out;
    EXPECT_EQ(starts[0], starts[1]) << r.out;
    EXPECT_NE(Cli("archive downloads" + archive).out.find("  BRUNNEN SÜD 3  "), std::string::npos);
}

// An archive that cannot be written: the files are saved all the same, the
// user is told, the exit code says so, and the archive holds nothing half.

}  // namespace
