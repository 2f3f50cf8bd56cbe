// arvelo-cli and a well's water levels: from its facts, its baro and a field
// sheet, and exported in the forms pandas and WaterML readers take.

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

TEST_F(ArchiveCliTest, AWellsLevelsComeFromItsFactsItsBaroAndAFieldSheet) {
    const std::string archive = Well7();
    Result r = Cli("well dips import '" + dir_.File("sheet.csv") + "'" + archive);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "2 dips imported\n");
    r = Cli("well level 'WELL 7' --from 2024-03-16T00:15:00Z --to 2024-03-16T00:30:00Z" + archive);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "time_utc,water_column_m,depth_m,level_m,flags\n"
              "2024-03-16T00:15:00.0Z,0.8900,2.0000,8.5000,\n"
              "2024-03-16T00:30:00.0Z,0.9800,1.9100,8.5900,D\n");
    r = Cli("well dips 'WELL 7'" + archive);
    ASSERT_EQ(r.exit, 0) << r.err;
    const std::string used =
        "time_utc,depth_m,note,logger,estimate_m,offset_m,drift_mm_per_day,not_used_because\n"
        "2024-03-16T00:15:00.0Z,2.0000,tape,PX00-00000101,-0.8900,2.8900,,\n"
        "2024-03-16T03:00:00.0Z,1.5000,\"after the log, 3 h\",";
    EXPECT_EQ(r.out.substr(0, used.size()), used);
    EXPECT_GT(r.out.size(), used.size() + 8) << r.out;  // why it is not used

    // Refused, each with why: a density that is none, a sheet line that is
    // not one (and nothing of that sheet taken), a depth that is no number.
    std::FILE* sheet = std::fopen(Path("bad.csv").c_str(), "wb");
    ASSERT_NE(sheet, nullptr);
    std::fputs("WELL 7,2024-03-16T04:00:00Z,1.4\nWELL 7,yesterday,1.3\n", sheet);
    std::fclose(sheet);
    const struct {
        std::string args;
        int exit;
        const char* says;
    } refused[] = {
        {"well level 'WELL 7' --density water", 2, "--density takes kell or a number of kg/m3"},
        {"well dips import '" + dir_.File("bad.csv") + "'", 7, "line 2: the time yesterday"},
        {"well dip 'WELL 7' --time 2024-03-16T05:00:00Z --depth deep", 10,
         "the depth to water is a number"},
    };
    for (const auto& c : refused) {
        r = Cli(c.args + archive);
        EXPECT_EQ(r.exit, c.exit) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
    r = Cli("well dips 'WELL 7'" + archive);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;  // still two dips
}

// The three series commands in the forms other tools read unedited: pandas
// reads each as a float series on a time index without a zone, and each
// WaterML document passes the OGC schemas (where the schemas are at hand)
// with its ids unique, its unit given and a point for every sample, the one
// without a baro nil.
// The rows of a CSV below its titles.
int Rows(const char* csv) {
    return static_cast<int>(std::count(csv, csv + std::strlen(csv), '\n')) - 1;
}

// How often what stands in text.
int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// What the schemas do not check of a WaterML document: every id once, the
// unit, the points (nil ones where pandas has no row), and the values pandas
// reads, in the same order.
void ExpectWaterMlHolds(const std::string& text, const std::string& pandas, int points) {
    std::vector<std::string> ids;
    for (std::size_t at = text.find("gml:id=\""); at != std::string::npos;
         at = text.find("gml:id=\"", at + 1)) {
        ids.push_back(text.substr(at + 8, text.find('"', at + 8) - at - 8));
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_NE(text.find("<wml2:uom code=\""), std::string::npos);
    EXPECT_EQ(Occurrences(text, "<wml2:MeasurementTVP>"), points);
    std::string values, expected;
    for (std::size_t at = text.find("<wml2:value>"); at != std::string::npos;
         at = text.find("<wml2:value>", at + 1)) {
        values += text.substr(at + 12, text.find('<', at + 12) - at - 12) + "\n";
    }
    std::istringstream rowsRead(pandas);
    std::string line;
    std::getline(rowsRead, line);  // the titles
    while (std::getline(rowsRead, line)) {
        expected += line.substr(line.find(',') + 1) + "\n";
    }
    EXPECT_EQ(values, expected);
    EXPECT_EQ(Occurrences(text, "xsi:nil=\"true\""), points - Rows(pandas.c_str()));
}

TEST_F(ArchiveCliTest, SeriesExportAsPandasAndWaterMlReadThem) {
    const std::string archive = Well7("2024-03-16T00:10:00Z");
    ASSERT_EQ(Cli("well dips import '" + dir_.File("sheet.csv") + "'" + archive).exit, 0);
    const struct {
        std::string command;
        const char* pandas;  // what --format pandas writes
        int points;          // in the WaterML document, nil ones too
    } commands[] = {
        {"well level 'WELL 7'",
         // No baro before 00:30: the dip at 00:15 cannot be matched, so the
         // levels are not tied to it (flag N).
         "time_utc,level_m\n2024-03-16 00:30:00,11.4800\n2024-03-16 00:45:00,11.5700\n", 4},
        {"well level 'WELL 7' --quantity water_column --from 2024-03-16T00:30:00Z",
         "time_utc,water_column_m\n2024-03-16 00:30:00,0.9800\n2024-03-16 00:45:00,1.0700\n", 2},
        {"well series 'WELL 7' 1 --to 2024-03-16T00:15:00Z",
         "time_utc,LEVEL_cm\n2024-03-16 00:00:00,1100.00\n2024-03-16 00:15:00,1110.00\n", 2},
        {"archive series PX00-00000201 1",
         "time_utc,LEVEL_cm\n2024-03-16 00:00:00,1020.00\n2024-03-16 00:30:00,1022.00\n"
         "2024-03-16 01:00:00,1024.00\n",
         3},
    };
    const std::string schemas = ARVELO_OGC_SCHEMAS;
    const bool validate = std::filesystem::exists(schemas + "/catalog.xml");
    if (!validate) {
        std::printf("WaterML not validated: no OGC schemas at %s\n", schemas.c_str());
    }
    const bool pandas = Shell("/usr/bin/python3 -c 'import pandas'").exit == 0;
    for (const auto& c : commands) {
        const std::string csv = Path("pandas.csv");
        Result r = Cli(c.command + " --format pandas --out '" + csv + "'" + archive);
        ASSERT_EQ(r.exit, 0) << c.command << ": " << r.err;
        SCOPED_TRACE(c.command);
        EXPECT_EQ(ReadText(csv), c.pandas);
        if (pandas) {
            r = Shell(
                "/usr/bin/python3 -c 'import pandas as pd, sys; s = pd.read_csv(sys.argv[1],"
                " index_col=0, parse_dates=True).squeeze(\"columns\"); print(s.dtype,"
                " s.index.dtype, s.index.tz, len(s))' '" +
                csv + "'");
            EXPECT_EQ(r.out, "float64 datetime64[ns] None " + std::to_string(Rows(c.pandas)) + "\n")
                << c.command << ": " << r.err;
        }
        const std::string xml = Path("series.xml");
        r = Cli(c.command + " --format waterml --out '" + xml + "'" + archive);
        ASSERT_EQ(r.exit, 0) << c.command << ": " << r.err;
        const std::string text = ReadText(xml);
        if (validate) {
            r = Shell("XML_CATALOG_FILES='" + schemas +
                      "/catalog.xml' xmllint --nonet --noout"
                      " --schema http://schemas.opengis.net/waterml/2.0/waterml2.xsd '" +
                      xml + "'");
            EXPECT_EQ(r.exit, 0) << c.command << ": " << r.err;
        }
        ExpectWaterMlHolds(text, c.pandas, c.points);
    }
    // The level Graph as a picture, without a display; a picture of no known kind refused.
    Result r =
        Cli("well plot 'WELL 7' --quantity depth --out '" + Path("well7.png") + "'" + archive);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_GT(std::filesystem::file_size(Path("well7.png")), 1000u);
    r = Cli("well plot 'WELL 7' --out '" + Path("well7.txt") + "'" + archive);
    EXPECT_EQ(r.exit, 7) << r.err;
}

// A conflict listed with both downloads' files and dates, resolved to the
// other value, which the series then shows, and the choice taken back.

}  // namespace
