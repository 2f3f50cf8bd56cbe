// What the main window shows of a run as the session reports each step: the
// progress window, the log list, the data window, the status bar and the
// messages, and what the archive made of the run's logs.
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>
#include <utility>

#include "app/TfrmParent.h"
#include "platform/Files.h"
#include "views/TfrmFileSelection.h"
#include "views/TfrmProgress.h"
#include "widgets/Prompts.h"

namespace {

QString Number(int value) {
    return QString::asprintf("%d\n", value);
}

QString Text(const std::string& name) {
    return QString::fromLocal8Bit(name.c_str());
}

// Moves a bar on by one; the bar's maximum grows when the count reaches it.
int Advance(QProgressBar* bar) {
    // A bar whose range was emptied (no blocks expected) reads -1.
    const int position = std::max(bar->value(), 0) + 1;
    if (position >= bar->maximum()) {
        bar->setMaximum(bar->maximum() + 1);
    }
    bar->setValue(position);
    return position;
}

// One more log read (or skipped): the bar moves on, the count names the next.
void NextLog(TfrmProgress& window) {
    QProgressBar* bar = window.proLogProgress;
    bar->setValue(bar->value() + 1);
    window.lblLogNum->setText(Number(bar->value() + 1));
}

}  // namespace

void TfrmParent::OnDeviceNotify(uint32_t wParam, intptr_t lParam) {
    runs_->Handle(static_cast<uint16_t>(wParam & 0xFFFF), static_cast<uint16_t>(wParam >> 16),
                  lParam);
}

void TfrmParent::LogFound(int found) {
    RestartWatchdog();
    if (progressWindow != nullptr) {
        progressWindow->LookingForLogs(found);
    }
}

void TfrmParent::LogsCounted(int total) {
    tmrComPort.stop();
    SetCommandsEnabled(false);
    if (progressWindow != nullptr) {
        progressWindow->lblState->clear();
        progressWindow->proLogProgress->setValue(0);
        progressWindow->lblTotalLog->setText(Number(total));
        progressWindow->lblLogNum->setText("1");
        progressWindow->proLogProgress->setMaximum(total);
        progressWindow->ResetBlocks();
        PlaceProgressWindow();
    }
    tmrComPort.start();
    EnsureLogListWindow();
    // The progress window keeps the focus, so that Escape cancels.
    if (progressWindow != nullptr) {
        progressWindow->raise();
        progressWindow->activateWindow();
    }
}

void TfrmParent::BlockTotal(int32_t blocks) {
    if (progressWindow != nullptr) {
        progressWindow->proDownloadProgress->setMaximum(blocks);
    }
}

void TfrmParent::BlockRead() {
    tmrComPort.stop();
    if (progressWindow != nullptr) {
        progressWindow->lblBlockNumber->setText(
            Number(Advance(progressWindow->proDownloadProgress)));
    }
    tmrComPort.start();
}

bool TfrmParent::LogCorrupt(bool canReadAgain) {
    tmrComPort.stop();
    Message("Log File in Arvelo corrupted", "Error", Prompter::Icon::Error);
    // Declined, the watchdog asks again later or gives the run up.
    const bool again = canReadAgain && progressWindow != nullptr && UserGoesOn();
    if (again && progressWindow != nullptr) {
        progressWindow->ResetBlocks();
    }
    if (runs_->Running()) {
        tmrComPort.start();
    }
    return again;
}

void TfrmParent::LogSkipped(const run::ReaderLog& skipped) {
    // Named where the user looks for the logs and what became of them.
    const QString which = Text(run::Describe(skipped));
    AddUnlistedEntry(Text("Not saved: " + run::Describe(run::UnsavedLog{
                                              skipped, run::UnsavedLog::Why::Corrupted, {}})));
    statusBar()->showMessage("Not saved: " + which + ", corrupted in the reader");
    if (progressWindow != nullptr) {
        // The place of the run's last log is counted as the run ends.
        if (skipped.position < skipped.total) {
            NextLog(*progressWindow);
        }
        Message("Log Skip!!\n" + which + " stayed corrupted in the reader and is not saved.",
                "Information", Prompter::Icon::Information);
    }
}

void TfrmParent::LogSurveyed(const run::ReaderLog& log) {
    RestartWatchdog();
    statusBar()->showMessage(
        QString("Before the erase, reading what the reader holds: log %1 of %2")
            .arg(log.position)
            .arg(log.total));
}

void TfrmParent::LogDone(const std::string* listedName) {
    tmrComPort.stop();
    SetLogCommandsEnabled(true);
    // The next log's blocks count from 0.
    if (progressWindow != nullptr) {
        progressWindow->ResetBlocks();
    }
    if (listedName != nullptr) {
        AddLogEntry(Text(*listedName), Logs().count() - 1);
    }
    if (progressWindow != nullptr) {
        NextLog(*progressWindow);
    }
    if (logListWindow != nullptr) {
        logListWindow->WidenFor(Text(runs_->CurrentFileName()));
    }
    tmrComPort.start();
}

void TfrmParent::LastLogDone(const std::string* listedName) {
    tmrComPort.stop();
    if (progressWindow != nullptr) {
        QProgressBar* bar = progressWindow->proLogProgress;
        bar->setValue(bar->value() + 1);
        progressWindow->lblLogNum->setText(Number(bar->value()));
        CloseProgressWindow();
    }
    // A run whose last log was skipped finished none: nothing to list. A
    // data window that is open keeps its log, and the list its choice.
    if (listedName != nullptr) {
        AddLogEntry(Text(*listedName), Logs().count() - 1);
        CreateMDIChild(Text(*listedName));
        SetLogCommandsEnabled(true);
    } else if (dataWindow == nullptr && logListWindow != nullptr) {
        ShowListedLog(logListWindow->RowOf(Logs().count() - 1));  // the last log listed
    }
}

void TfrmParent::DeferredLogSaved(int index, const std::string& name) {
    if (logListWindow != nullptr) {
        RenameLogEntry(index, Text(name));
    }
}

void TfrmParent::DeferredFileFailed(const run::FileFailure& failure) {
    Message("Export File Error\n" + Text(run::Describe(failure)), "Error", Prompter::Icon::Error);
}

void TfrmParent::DeferredSaveDone(const std::string& lastName) {
    if (lastName.empty()) {
        return;
    }
    // The folder whole: a relative one lies where the program runs.
    statusBar()->showMessage("The logs of the run were saved after it, to " +
                             QFileInfo(Text(lastName)).absolutePath() + "/");
    if (logListWindow != nullptr && logListWindow->lstFileSelection->count() > 0) {
        CreateMDIChild(Text(lastName));
    }
}

TfrmParent::EndBox TfrmParent::DownloadEnd(const run::RunEnd& end, const QString& how,
                                           const QString& caption, Prompter::Icon icon) {
    EndBox box{{}, caption, icon};
    if (!how.isEmpty()) {
        box.lines << how;
    }
    if (!runs_->DeferredSave()) {
        // Before any file was named, the folder the files go to.
        const std::string& name = runs_->CurrentFileName();
        const QString folder =
            Text(name.empty() ? FileSettings().directory : platform::DirectoryPart(name));
        box.lines << QString::asprintf("%d files saved to %s.", runs_->LogCounter(),
                                       folder.toLocal8Bit().constData());
    }
    // A count of files does not say which log is missing.
    for (const std::string& line : run::DescribeUnsaved(end)) {
        box.lines << Text(line) + ".";
    }
    for (const run::UnsavedLog& log : end.unsaved) {
        if (log.why != run::UnsavedLog::Why::Corrupted) {  // listed when it was skipped
            AddUnlistedEntry(Text("Not saved: " + run::Describe(log)));
        }
    }
    if (!end.answered) {
        box.lines << SilentPortHint();
    }
    return box;
}

void TfrmParent::ShowEndBox(EndBox box, const run::ArchiveGain* gain) {
    // Files the archive may take when asked again are offered to it.
    if (gain != nullptr && gain->notArchived > 0 && !notArchived_.empty()) {
        box.lines << Text(run::NotUpdated(*gain));
        if (Prompts().Choose(this, box.lines.join('\n'), box.caption, {"OK", "&Import now"},
                             box.icon) == 1) {
            ImportIntoArchive(std::exchange(notArchived_, {}), true);
        }
    } else if (!box.lines.isEmpty()) {
        Prompts().MessageBox(this, box.lines.join('\n'), box.caption, Prompter::Buttons::Ok,
                             box.icon);
    }
}

void TfrmParent::RunEnded(const run::RunEnd& end) {
    DismissCloseQuestion();
    tmrComPort.stop();
    tmrSilence.stop();
    lblWaiting->hide();
    if (watchdogLengthened_) {
        tmrComPort.setInterval(tmrComPort.interval() - static_cast<int>(run::ERASE_EXTRA_MS));
        watchdogLengthened_ = false;
    }
    if (eraseStep_ == EraseStep::Surveying) {
        SurveyEnded(end);
        return;
    }
    const QString how = Text(run::Describe(end, {}));
    std::optional<EndBox> box;
    switch (end.how) {
        case run::End::Done:
            BackToIdle();
            box = DownloadEnd(end, how, "Information", Prompter::Icon::None);
            if (logListWindow != nullptr) {
                logListWindow->WidenFor(Text(runs_->CurrentFileName()));
            }
            break;
        case run::End::Empty:
            // Nothing to download; the progress window, hidden, serves the next run.
            if (progressWindow != nullptr) {
                progressWindow->hide();
            }
            BackToIdle();
            Message(how, "Information", Prompter::Icon::Information);
            break;
        case run::End::FileError:
        case run::End::LinkError:
        case run::End::Unexpected:
        case run::End::PortLost:
            CloseProgressWindow();
            BackToIdle();
            box = DownloadEnd(end, how, "Error", Prompter::Icon::Error);
            break;
        case run::End::Cancelled:
        case run::End::GivenUp:
            CloseProgressWindow();
            BackToIdle();
            if (end.how == run::End::Cancelled) {
                statusBar()->showMessage(
                    "Download cancelled: the log being read was deleted, the logs finished "
                    "before are saved");
            }
            box = DownloadEnd(end, how, "Information", Prompter::Icon::Information);
            break;
        case run::End::EraseGivenUp:
            statusBar()->clearMessage();
            BackToIdle();
            Message(how, "Error", Prompter::Icon::Error);
            break;
        case run::End::Erased:
            statusBar()->clearMessage();
            Prompts().MessageBox(this, how, "Information", Prompter::Buttons::Ok,
                                 Prompter::Icon::None);
            BackToIdle();
            break;
        case run::End::NotErased:
            statusBar()->clearMessage();
            Message(how, "Error", Prompter::Icon::Error);
            BackToIdle();
            break;
        case run::End::Surveyed:
            break;
    }
    // The program closing at the user's word waits for no box.
    if (!box || box->lines.isEmpty() || closing_) {
        return;
    }
    // What the archive makes of the run's logs belongs in the same box.
    if (end.archiving) {
        endBox_ = std::move(*box);
        return;
    }
    ShowEndBox(std::move(*box), nullptr);
}

void TfrmParent::FaultsRecovered(int total) {
    lblLineFaults->setText(QString("Line faults recovered: %1").arg(total));
}

void TfrmParent::ChainLoops(int entries) {
    statusBar()->showMessage(
        QString("The reader's log chain points back to an earlier log after entry %1: "
                "the logs before it are downloaded, none after it can be reached")
            .arg(entries));
}

void TfrmParent::PartialKept(const std::string& path) {
    statusBar()->showMessage("Incomplete log kept as " + Text(path));
}

void TfrmParent::OnArchiveNotify() {
    for (const run::ArchiveOutcome& outcome : archiveQueue_->Take()) {
        run::Report(outcome, *this);
    }
}

void TfrmParent::FileArchived(const std::string& path,
                              const archive::Result<archive::Imported>& result) {
    // A file refused for what it holds would be refused again.
    if (!result && result.failure().kind != archive::Fault::Refused) {
        notArchived_.push_back(path);
    }
    if (importTotal_ > 0) {
        statusBar()->showMessage(QString("Importing into the archive: %1 of %2 files")
                                     .arg(++importDone_)
                                     .arg(importTotal_));
    }
}

void TfrmParent::RunArchived(const run::ArchiveGain& gain) {
    const QString text = Text(run::Describe(gain));
    QStringList perLogger;
    for (const std::string& line : run::DescribeLoggers(gain)) {
        perLogger << Text(line);
    }
    archivedSerials_.clear();
    archivedLocation_ = gain.location;
    for (const run::LoggerGain& logger : gain.loggers) {
        archivedSerials_ << Text(logger.serial);
    }
    // Shown until the next run: the status bar's messages come and go.
    const QString hint = "Open the Archive window on these loggers";
    const QString tip = (QStringList{text} + perLogger).join('\n') + "\n\n" + hint;
    lblArchive->setText("<a href=\"archive\">" + text.toHtmlEscaped() + "</a>");
    lblArchive->setToolTip(tip);
    lblArchive->show();
    EnsureLogListWindow();
    logListWindow->AddLink(text, tip,
                           [this, serials = archivedSerials_, where = archivedLocation_] {
                               tbuArchiveClick(serials, where);
                           });
    RefreshArchiveWindow();
    if (importTotal_ > 0) {
        // What an import brought, said once it is all in.
        const int files = std::exchange(importTotal_, 0);
        statusBar()->clearMessage();
        if (!std::exchange(importRetry_, false)) {
            ShowEndBox({{QString("%1 files given to the archive.").arg(files), text},
                        "Import into Archive",
                        Prompter::Icon::Information},
                       &gain);
        } else if (gain.notArchived > 0) {
            ShowEndBox({{}, "Error", Prompter::Icon::Error}, &gain);
        }
    } else {
        // What each logger brought, a download that brought nothing new too;
        // what the run did not save stays in front.
        if (!perLogger.isEmpty() && statusBar()->currentMessage().isEmpty()) {
            statusBar()->showMessage(perLogger.join("  "));
        }
        if (endBox_) {
            EndBox box = std::move(*endBox_);
            endBox_.reset();
            ShowEndBox(std::move(box), &gain);
        }
    }
    notArchived_.clear();
}

void TfrmParent::UnknownNotice(uint16_t) {
    Message(Text(run::Describe({run::End::Unexpected}, {})), "Error", Prompter::Icon::Error);
}
