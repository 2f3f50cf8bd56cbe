#pragma once
// What arvelo-cli takes from the window program's stored settings for the
// options left out: read through Qt's settings store where the window
// program is built, from the registry itself on Windows.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/SettingsNames.h"

namespace cli {

struct StoredDefaults {
    std::optional<std::string> outputDir;  // none: not stored, or too long
    // Stored, but longer than the window program's field holds: refused.
    std::optional<std::string> tooLongOutputDir;
    std::string fileType = settings::OMB;
    uint32_t fileOption = settings::DEFAULT_FILE_OPTION;
    std::optional<std::string> comPort;  // as the port list shows it ("COM1:")
    uint32_t timeOutSeconds = settings::DEFAULT_TIME_OUT;
    bool archiveOn = settings::DEFAULT_ARCHIVE_ON != 0;
    std::string archiveLocation;  // empty: the default file
};

// The stored values, each absent one at its default.
StoredDefaults LoadStoredDefaults();

// The archive a command uses: the one given, else the stored setting's
// unless that is off or noArchive says so; none: no archive.
inline std::optional<std::string> ChosenArchive(const std::optional<std::string>& given,
                                                bool noArchive, const StoredDefaults& stored) {
    if (given || noArchive) {
        return given;
    }
    return stored.archiveOn ? std::optional<std::string>(stored.archiveLocation) : std::nullopt;
}

}  // namespace cli
