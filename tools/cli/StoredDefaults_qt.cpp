#include "settings/StoredSettings.h"
#include "tools/cli/StoredDefaults.h"

namespace cli {

StoredDefaults LoadStoredDefaults() {
    const settings::DirectorySettings directory = settings::DirectorySettings::Load();
    const settings::PortSettings port = settings::PortSettings::Load();
    StoredDefaults stored;
    if (directory.outputDir) {
        stored.outputDir = directory.outputDir->toLocal8Bit().toStdString();
    }
    if (directory.tooLongOutputDir) {
        stored.tooLongOutputDir = directory.tooLongOutputDir->toLocal8Bit().toStdString();
    }
    stored.fileType = directory.fileType.toStdString();
    stored.fileOption = directory.fileOption;
    if (port.comPort) {
        stored.comPort = port.comPort->toStdString();
    }
    stored.timeOutSeconds = port.timeOutSeconds;
    const settings::ArchiveSettings archive = settings::ArchiveSettings::Load();
    stored.archiveOn = archive.enabled;
    stored.archiveLocation = archive.location.toLocal8Bit().toStdString();
    return stored;
}

}  // namespace cli
