// The window program's settings read from the registry, where it keeps them
// on Windows, under the same names and with the same rules as its dialogs.

#include "platform/Registry.h"
#include "tools/cli/StoredDefaults.h"

namespace cli {

namespace {

// The text when its bytes and terminator fit in maxBytes, as a read into a
// buffer of that size gives it; none otherwise.
std::optional<std::string> Fitting(std::optional<std::string> text, int maxBytes) {
    if (text && text->size() + 1 > static_cast<std::size_t>(maxBytes)) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

StoredDefaults LoadStoredDefaults() {
    using namespace settings;
    using platform::RegistryNumber;
    using platform::RegistryText;
    StoredDefaults stored;
    const std::optional<std::string> directory = RegistryText(KEY_ARVELO, VALUE_OUTPUT_DIR);
    stored.outputDir = Fitting(directory, MAX_OUTPUT_DIR_BYTES + 1);
    if (directory && !stored.outputDir) {
        stored.tooLongOutputDir = directory;
    }
    stored.fileType =
        FileTypeOf(Fitting(RegistryText(KEY_ARVELO, VALUE_FILE_TYPE), FILE_TYPE_BYTES));
    stored.fileOption = RegistryNumber(KEY_ARVELO, VALUE_FILE_OPTION).value_or(DEFAULT_FILE_OPTION);
    stored.comPort = Fitting(RegistryText(KEY_COM_PORT, VALUE_COM_PORT), COM_PORT_BYTES);
    stored.timeOutSeconds = RegistryNumber(KEY_COM_PORT, VALUE_TIME_OUT).value_or(DEFAULT_TIME_OUT);
    stored.archiveOn =
        RegistryNumber(KEY_ARCHIVE, VALUE_ARCHIVE_ON).value_or(DEFAULT_ARCHIVE_ON) != 0;
    stored.archiveLocation =
        Fitting(RegistryText(KEY_ARCHIVE, VALUE_ARCHIVE_LOCATION), ARCHIVE_LOCATION_BYTES)
            .value_or("");
    return stored;
}

}  // namespace cli
