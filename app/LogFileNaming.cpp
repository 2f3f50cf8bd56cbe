// Naming each downloaded log's file from the directory settings, and saving
// the logs of a run afterwards when the output directory is on drive A: or B:.
#include "app/LogFileNaming.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>

#include <cstring>
#include <filesystem>

#include "app/TfrmParent.h"
#include "datafile/DataFileWriter.h"
#include "datafile/LogFileName.h"
#include "device/DeviceController.h"
#include "views/Prompts.h"
#include "views/TfrmFileSelection.h"

QString DirectoryPart(const QString& path) {
    qsizetype last = path.lastIndexOf('/');
#ifdef Q_OS_WIN
    last = std::max(last, path.lastIndexOf('\\'));
#endif
    return path.left(last + 1);
}

int TfrmParent::MakeLogFileName(QString* target, int capacity, DeviceLog* log,
                                bool skipDriveCheck) {
    if (target == nullptr || log == nullptr || capacity < 5) {
        return FILE_NAME_NO_FIT;
    }
    LogFileNameSettings settings;
    char directory[512];
    if (dirSetting_ != nullptr &&
        dirSetting_->GetSettings(&settings.options, directory, outputExtension, sizeof directory,
                                 sizeof outputExtension)) {
        settings.directory = directory;
    } else {
        settings.directory =
            DirSettingDefaults::ForThisProgram().programDir.toLocal8Bit().toStdString();
        std::strcpy(outputExtension, ".omb");
        settings.options = 0;
    }
    if (!skipDriveCheck && IsDeferredDrive(settings.directory)) {
        deferredSave = true;
        controller->SuppressSaving(1);
        return 0;
    }
    settings.extension = outputExtension;
    settings.logCounter = logCounter;
    settings.capacity = capacity;
    settings.fileExists = [](const std::string& name) {
        std::error_code error;
        return std::filesystem::exists(name, error);
    };
    std::string name;
    const int length = ::MakeLogFileName(&name, settings, *log);
    if (length > 0) {
        *target = QString::fromLocal8Bit(name.c_str());
    }
    return length;
}

void TfrmParent::SaveDeferredLogs() {
    const auto ReportFileError = [this] {
        Prompts().MessageBox(this, "Export File Error", "Error", Prompter::Buttons::Ok,
                             Prompter::Icon::Error);
    };
    DataFileWriter writer;
    QString lastName;
    for (int i = firstUnsavedLog; i < logs.count(); ++i) {
        QString name;
        DeviceLog* log = logs.item(i);
        // A log whose name does not fit is reported like a file that cannot be created.
        const bool named = MakeLogFileName(&name, kFileNameCapacity, log, true) > 0;
        if (named) {
            lastName = name;
        }
        if (!named || writer.Open(name.toLocal8Bit().constData(), "w") != 0) {
            ReportFileError();
            continue;
        }
        WriteWholeLog(writer, *log, UsesCommaLayout(outputExtension));
        if (writer.Close() != 0) {
            // A file that could not be completed (a full disk) is not listed as saved.
            ReportFileError();
            continue;
        }
        logListWindow->SetEntryText(i, name);
        Windows->actions().at(i + 1)->setText(name);
    }
    if (logListWindow != nullptr && logListWindow->lstFileSelection->count() > 0) {
        CreateMDIChild(lastName);
    }
}
