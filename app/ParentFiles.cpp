// The main window's File menu: a data file opened beside the downloaded
// logs, files imported into the archive, and the shown log exported.
#include "app/TfrmParent.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>

#include "datafile/DataFileReader.h"
#include "platform/Files.h"
#include "settings/StoredSettings.h"
#include "views/TfrmFileSelection.h"
#include "widgets/Prompts.h"

void TfrmParent::OpenClick() {
    const QString path =
        Prompts().OpenFile(this, QString::fromLocal8Bit(FileSettings().directory.c_str()),
                           {"Data Files (*.omb *.csv)", "All Files (*)"});
    if (path.isEmpty()) {
        return;
    }
    Prompts().SetBusyCursor(true);
    ReadResult file = ReadDataFile(QFile::encodeName(path).toStdString());
    Prompts().SetBusyCursor(false);
    if (!file.ok()) {
        Message("Cannot open " + path + "\n" + QString::fromStdString(file.Message()), "Error",
                Prompter::Icon::Error);
        return;
    }
    const int index = runs_->AddOpenedLog(std::move(file.log));
    if (index < 0) {
        return;
    }
    AddLogEntry(path, index);
    logListWindow->WidenFor(path);
    ShowListedLog(logListWindow->RowOf(index));
    if (file.samplesNotKept > 0) {
        Message(QString("%1 holds %2 samples more than a channel keeps; the first %3 are shown.")
                    .arg(path)
                    .arg(file.samplesNotKept)
                    .arg(LogChannel::kMaxSamples),
                "Information", Prompter::Icon::Information);
    }
}

void TfrmParent::ImportClick() {
    if (!LoggerClockKnown()) {
        return;
    }
    const int choice = Prompts().Choose(
        this, "Import into the archive: data files (.omb, .csv), or every data file of a folder?",
        "Import into Archive", {"&Files...", "F&older...", "Cancel"}, Prompter::Icon::None);
    const QString directory = QString::fromLocal8Bit(FileSettings().directory.c_str());
    QStringList chosen;
    if (choice == 0) {
        chosen =
            Prompts().OpenFiles(this, directory, {"Data Files (*.omb *.csv)", "All Files (*)"});
    } else if (choice == 1) {
        if (const QString folder = Prompts().BrowseForFolder(this); !folder.isEmpty()) {
            chosen << folder;
        }
    }
    if (chosen.isEmpty()) {
        return;
    }
    std::vector<std::string> paths;
    for (const QString& path : chosen) {
        paths.push_back(QFile::encodeName(path).toStdString());
    }
    const std::vector<std::string> files = archive::DataFilesUnder(paths);
    if (files.empty()) {
        Message("No data files (.omb, .csv) in " + chosen.join(", ") + ".", "Information",
                Prompter::Icon::Information);
        return;
    }
    ImportIntoArchive(files, false);
}

void TfrmParent::ImportIntoArchive(const std::vector<std::string>& files, bool retry) {
    importTotal_ = static_cast<int>(files.size());
    importDone_ = 0;
    importRetry_ = retry;
    const run::ArchiveTarget target{ArchiveLocation(),
                                    {settings::ArchiveSettings::Load().ClockMinutes()}};
    for (const std::string& file : files) {
        archiveQueue_->Add(target, file, file);
    }
    archiveQueue_->EndRun();
    statusBar()->showMessage(
        QString("Importing into the archive: 0 of %1 files").arg(importTotal_));
}

void TfrmParent::tbuSaveClick() {
    if (TfrmGraph* history = ActiveHistory()) {
        // Offered beside the downloaded files.
        const std::string well = history->LevelsOf();
        const QString written = history->ExportThroughDialog(
            this, QString::fromLocal8Bit(FileSettings().directory),
            well.empty() ? QStringLiteral("archive")
                         : QStringLiteral("levels ") + QString::fromStdString(well));
        if (!written.isEmpty()) {
            statusBar()->showMessage("Exported to " + written);
        }
        return;
    }
    if (dataWindow == nullptr) {
        SetLogCommandsEnabled(false);
        return;
    }
    QString initialDirectory;
    if (logListWindow != nullptr && logListWindow->lstFileSelection->count() > 0) {
        QListWidget* list = logListWindow->lstFileSelection;
        SelectShownLog();
        if (list->currentRow() < 0) {
            list->setCurrentRow(0);
        }
        initialDirectory = QString::fromLocal8Bit(
            platform::DirectoryPart(list->currentItem()->text().toLocal8Bit().toStdString()));
    }
    // The shown log's own name is offered, the layout's extension follows the choice.
    const QString name = QFileInfo(dataWindow->windowTitle()).completeBaseName();
    const QMdiSubWindow* active = mdiArea->activeSubWindow();
    const QString written =
        graphWindow != nullptr && active != nullptr && active->widget() == graphWindow
            ? graphWindow->ExportThroughDialog(this, initialDirectory, name)
            : dataWindow->ExportThroughDialog(sadExport, this, initialDirectory, name);
    if (!written.isEmpty()) {
        statusBar()->showMessage("Exported to " + written);
    }
}
