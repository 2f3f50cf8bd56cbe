// File names of downloaded logs.

#include "datafile/LogFileName.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <optional>
#include <set>
#include <string>

#include "device/FixedText.h"
#include "platform/Files.h"
#include "support/TestRecords.h"

namespace {

DeviceLog Log(const std::string& location, const std::string& serial, const std::string& start,
              const std::string& end) {
    test::HeaderFields fields;
    fields.location = location;
    fields.serialNumber = serial;
    fields.startTime = start;
    fields.endTime = end;
    return test::DecodeLog(fields);
}

// WELL7, short serial 012767, from 2 March to 5 March 2004.
DeviceLog Well7() {
    return Log("WELL7", "PX00-012767021.0", "00:00:12 02/03/04", "00:00:12 05/03/04");
}

struct Naming {
    LogFileNameSettings settings;
    std::set<std::string> taken;

    Naming(uint32_t options, std::string directory) {
        settings.options = options;
        settings.directory = std::move(directory);
        settings.extension = ".omb";
        settings.logCounter = 1;
        settings.fileExists = [this](const std::string& name) { return taken.count(name) > 0; };
    }
    std::string Name(DeviceLog log) {
        std::string name = "(none)";
        const int length = MakeLogFileName(&name, settings, log);
        EXPECT_EQ(length, length > 0 ? static_cast<int>(name.size()) : FILE_NAME_NO_FIT);
        return name;
    }
    // Names the log and takes the name, as saving the file would.
    std::string Take(const DeviceLog& log) { return *taken.insert(Name(log)).first; }
};

TEST(LogFileName, PartsFollowTheirFixedOrderAndClashesTakeLetters) {
    Naming naming(FILE_NAME_LOCATION | FILE_NAME_SERIAL | FILE_NAME_LAST_DATE, "C:\\Data\\");
    EXPECT_EQ(naming.Take(Well7()), "C:\\Data\\WELL701276703_05_04.omb");
    EXPECT_EQ(naming.Take(Well7()), "C:\\Data\\WELL701276703_05_04a.omb");

    naming.settings.options = FILE_NAME_START_DATE | FILE_NAME_LAST_DATE | FILE_NAME_SERIAL;
    EXPECT_EQ(naming.Name(Well7()), "C:\\Data\\01276703_02_0403_05_04.omb");

    // The directory is used as stored: without a separator it runs into the name.
    Naming bare(FILE_NAME_LOCATION, "C:\\Data");
    EXPECT_EQ(bare.Name(Well7()), "C:\\DataWELL7.omb");
}

// What the window program and arvelo-cli put before the names, and the
// folder they show of a file: one rule per system.
TEST(LogFileName, TheFolderBeforeTheNamesEndsInOneSeparator) {
    const std::string sep(1, platform::kPathSeparator);
    struct Case {
        std::string given, withSeparator;
        std::string folderOfFile;  // of given + "f.omb"
    };
    const Case cases[] = {
        {"", "", ""},
        {"/data", "/data" + sep, "/"},
        {"/data/", "/data/", "/data/"},
        {"/", "/", "/"},
#ifdef _WIN32
        {"C:\\Data", "C:\\Data\\", "C:\\"},
        {"C:\\Data\\", "C:\\Data\\", "C:\\Data\\"},
        {"C:/Data/", "C:/Data/", "C:/Data/"},
#else
        {"C:\\Data", "C:\\Data/", ""},  // a backslash is a name's character here
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(platform::WithTrailingSeparator(c.given), c.withSeparator);
        EXPECT_EQ(platform::DirectoryPart(c.given + "f.omb"), c.folderOfFile);
    }
}

TEST(LogFileName, NoPartsGiveLogAndTheCounter) {
    Naming naming(0, "/data/");
    naming.settings.logCounter = 3;
    EXPECT_EQ(naming.Take(Well7()), "/data/log3.omb");
    EXPECT_EQ(naming.Take(Well7()), "/data/log3a.omb");
    // Bits above 0x8 alone: an empty name part, not "log".
    Naming high(0x10, "/data/");
    EXPECT_EQ(high.Take(Well7()), "/data/.omb");
    EXPECT_EQ(high.Take(Well7()), "/data/a.omb");
}

TEST(LogFileName, TwentySixClashesEndWithZAndTheNextTakesTwoLetters) {
    Naming naming(0, "d/");
    for (int i = 0; i < 27; ++i) {  // the name itself, then a to z
        naming.Take(Well7());
    }
    EXPECT_EQ(*naming.taken.rbegin(), "d/log1z.omb");
    EXPECT_EQ(naming.Take(Well7()), "d/log1aa.omb");
    EXPECT_EQ(naming.Take(Well7()), "d/log1bb.omb");
}

TEST(LogFileName, UnsafeCharactersBecomeUnderscores) {
    Naming naming(FILE_NAME_LOCATION | FILE_NAME_SERIAL | FILE_NAME_START_DATE, "");
    EXPECT_EQ(naming.Name(Log("A.B/C:D E", "PX00-0 2.7/021.0", "00:00:00 09/10/11", "")),
              "A_B_C_D_E0_2_7_10_09_11.omb");
    // A location of only blanks is not trimmed: twenty underscores.
    naming.settings.options = FILE_NAME_LOCATION;
    EXPECT_EQ(naming.Name(Log("", "PX00-012767021.0", "", "")), std::string(20, '_') + ".omb");
}

// Locations a reader may send, under each system's rules: Linux names keep
// what they always kept; Windows names hold no character Windows refuses and
// never open a device.
TEST(LogFileName, HostileLocationsMakeNamesTheSystemCanHold) {
    struct Case {
        const char* location;
        uint32_t options;
        const char* posix;
        const char* windows;
    };
    const Case cases[] = {
        {"a\\b*c?d\"e<f>g|h", FILE_NAME_LOCATION, "a\\b*c?d\"e<f>g|h.omb", "a_b_c_d_e_f_g_h.omb"},
        {"CON", FILE_NAME_LOCATION, "CON.omb", "CONa.omb"},
        {"nul", FILE_NAME_LOCATION, "nul.omb", "nula.omb"},
        {"Com7", FILE_NAME_LOCATION, "Com7.omb", "Com7a.omb"},
        {"LPT0", FILE_NAME_LOCATION, "LPT0.omb", "LPT0a.omb"},
        {"CONOUT$", FILE_NAME_LOCATION, "CONOUT$.omb", "CONOUT$a.omb"},
        {"COM", FILE_NAME_LOCATION, "COM.omb", "COM.omb"},
        {"COM10", FILE_NAME_LOCATION, "COM10.omb", "COM10.omb"},
        {"AUX", FILE_NAME_LOCATION | FILE_NAME_SERIAL, "AUX012767.omb", "AUX012767.omb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        const DeviceLog log = Log(c.location, "PX00-012767021.0", "", "");
        Naming posix(c.options, "");
        posix.settings.rules = FileNameRules::Posix;
        EXPECT_EQ(posix.Name(log), c.posix);
        Naming windows(c.options, "");
        windows.settings.rules = FileNameRules::Windows;
        EXPECT_EQ(windows.Name(log), c.windows);
    }
}

TEST(LogFileName, TheLocationOfTheLogItselfLosesItsTrailingBlanks) {
    DeviceLog log = Well7();
    Naming naming(FILE_NAME_LOCATION, "");
    std::string name;
    ASSERT_GT(MakeLogFileName(&name, naming.settings, log), 0);
    EXPECT_EQ(FieldText(log.header().location), "WELL7");

    char full[20];
    std::fill(std::begin(full), std::end(full), 'X');
    EXPECT_EQ(TrimTrailingSpaces(full, 20), 20);  // nothing is written behind the field
    char blanks[4] = {' ', ' ', ' ', ' '};
    EXPECT_EQ(TrimTrailingSpaces(blanks, 4), 0);
    EXPECT_EQ(std::string(blanks, 4), "    ");
}

// The time zone of the process; none: the system's.
void SetZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone != nullptr ? zone : "");
#else
    zone != nullptr ? setenv("TZ", zone, 1) : unsetenv("TZ");
#endif
    tzset();
}

TEST(LogFileName, DatesAreBrokenDownAsUtcWhateverTheLocalZone) {
    const char* zone = getenv("TZ");
    const std::optional<std::string> saved =
        zone != nullptr ? std::optional<std::string>(zone) : std::nullopt;
    SetZone("KIR-14");  // fourteen hours east: already the next day
    Naming naming(FILE_NAME_LAST_DATE, "");
    EXPECT_EQ(naming.Name(Log("X", "PX00-012767021.0", "", "58:59:23 31/12/23")), "12_31_23.omb");
    SetZone(saved ? saved->c_str() : nullptr);
    // Every pair is read as an integer: blanks are zeros, day and month 0
    // count back to the end of November 1999.
    EXPECT_EQ(naming.Name(Log("X", "PX00-012767021.0", "", "not a date")), "11_30_99.omb");
}

TEST(LogFileName, NamesThatDoNotFitAreRefused) {
    Naming naming(0, "/d/");
    naming.settings.capacity = 4;
    EXPECT_EQ(naming.Name(Well7()), "(none)");
    naming.settings.capacity = 13;  // "/d/log1.omb" is 11 characters: it needs 13
    EXPECT_EQ(naming.Name(Well7()), "/d/log1.omb");
    naming.settings.capacity = 12;
    EXPECT_EQ(naming.Name(Well7()), "(none)");
    // Every letter taken up to the capacity: no name.
    naming.settings.capacity = 14;
    naming.settings.fileExists = [](const std::string&) { return true; };
    EXPECT_EQ(naming.Name(Well7()), "(none)");

    EXPECT_TRUE(IsDeferredDrive("a:\\logs"));
    EXPECT_TRUE(IsDeferredDrive("B:"));
    EXPECT_FALSE(IsDeferredDrive("C:\\"));
    EXPECT_FALSE(IsDeferredDrive(""));
}

}  // namespace
