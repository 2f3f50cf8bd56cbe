// What the main window shows of a run: the progress window, the log list and
// the Windows menu, the data window and the messages, as the session reports
// each step.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>

#include "app/DirectoryPart.h"
#include "app/TfrmParent.h"
#include "views/Prompts.h"
#include "views/TfrmFileSelection.h"
#include "views/TfrmProgress.h"

namespace {

QString Number(int value) {
    return QString::asprintf("%d\n", value);
}

QString Text(const std::string& name) {
    return QString::fromLocal8Bit(name.c_str());
}

void Message(QWidget* owner, const QString& text, const QString& caption, Prompter::Icon icon) {
    Prompts().MessageBox(owner, text, caption, Prompter::Buttons::Ok, icon);
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

void TfrmParent::LogFound(int) {
    RestartWatchdog();
}

void TfrmParent::LogsCounted(int total) {
    tmrComPort.stop();
    SetCommandsEnabled(false);
    if (progressWindow != nullptr) {
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

void TfrmParent::LogCorrupt() {
    tmrComPort.stop();
    Message(this, "Log File in Arvelo corrupted", "Error", Prompter::Icon::Error);
    if (progressWindow != nullptr && runs_->CanResume()) {
        AskContinueDownload();
    }
    if (runs_->Running()) {
        tmrComPort.start();
    }
}

void TfrmParent::LogSkipped() {
    if (progressWindow != nullptr) {
        NextLog(*progressWindow);
        Message(this, "Log Skip!!", "Information", Prompter::Icon::Information);
    }
}

void TfrmParent::LogDone(const std::string* listedName) {
    tmrComPort.stop();
    SetLogCommandsEnabled(true);
    // The next log's blocks count from 0.
    if (progressWindow != nullptr) {
        progressWindow->ResetBlocks();
    }
    if (listedName != nullptr) {
        AddLogEntry(Text(*listedName));
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
    // A run whose last log was skipped finished none: nothing to list.
    if (listedName != nullptr) {
        AddLogEntry(Text(*listedName));
        logListWindow->lstFileSelection->setCurrentRow(logListWindow->lstFileSelection->count() -
                                                       1);
        CreateMDIChild(Text(*listedName));
        SetLogCommandsEnabled(true);
    }
}

void TfrmParent::DeferredLogSaved(int index, const std::string& name) {
    if (logListWindow != nullptr) {
        logListWindow->SetEntryText(index, Text(name));
    }
    Windows->actions().at(index + 1)->setText(Text(name));
}

void TfrmParent::DeferredFileFailed(const run::FileFailure&) {
    Message(this, "Export File Error", "Error", Prompter::Icon::Error);
}

void TfrmParent::DeferredSaveDone(const std::string& lastName) {
    if (logListWindow != nullptr && logListWindow->lstFileSelection->count() > 0) {
        CreateMDIChild(Text(lastName));
    }
}

void TfrmParent::RunEnded(const run::RunEnd& end) {
    tmrComPort.stop();
    if (watchdogLengthened_) {
        tmrComPort.setInterval(tmrComPort.interval() - static_cast<int>(run::ERASE_EXTRA_MS));
        watchdogLengthened_ = false;
    }
    switch (end.how) {
        case run::End::Done: {
            BackToIdle();
            const QString name = Text(runs_->CurrentFileName());
            if (!runs_->DeferredSave()) {
                Prompts().MessageBox(
                    this,
                    QString::asprintf("%d files saved to %s.", runs_->LogCounter(),
                                      DirectoryPart(name).toLocal8Bit().constData()),
                    "Information", Prompter::Buttons::Ok, Prompter::Icon::None);
            }
            if (logListWindow != nullptr) {
                logListWindow->WidenFor(name);
            }
            break;
        }
        case run::End::Empty:
            // Nothing to download; the hidden progress window serves the next run.
            BackToIdle();
            Message(this, "The Arvelo holds no logs.", "Information", Prompter::Icon::Information);
            break;
        case run::End::FileError:
        case run::End::LinkError:
        case run::End::Unexpected:
            CloseProgressWindow();
            BackToIdle();
            Message(this,
                    end.how == run::End::FileError   ? "Export File Error"
                    : end.how == run::End::LinkError ? "Serial Communication Error"
                                                     : "Unexpected Error",
                    "Error", Prompter::Icon::Error);
            break;
        case run::End::GivenUp:
        case run::End::Cancelled:
        case run::End::EraseGivenUp:
            CloseProgressWindow();
            BackToIdle();
            break;
        case run::End::PortLost:
            CloseProgressWindow();
            BackToIdle();
            Message(this,
                    "The serial port of the Arvelo stopped working (unplugged?). Plug it in again "
                    "and download again.",
                    "Error", Prompter::Icon::Error);
            break;
        case run::End::Erased:
            Prompts().MessageBox(this, "Data Erase Completed", "Information", Prompter::Buttons::Ok,
                                 Prompter::Icon::None);
            BackToIdle();
            break;
        case run::End::NotErased:
            Message(this, "Data Erase Error", "Error", Prompter::Icon::Error);
            BackToIdle();
            break;
    }
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

void TfrmParent::ArchiveNotUpdated(const std::string& path, const std::string& why) {
    statusBar()->showMessage("The archive was not updated with " + Text(path) + ": " + Text(why));
}

void TfrmParent::UnknownNotice(uint16_t) {
    Message(this, "Unexpected Error", "Error", Prompter::Icon::Error);
}

void TfrmParent::EnsureLogListWindow() {
    if (logListWindow == nullptr) {
        logListWindow = TfrmFileSelection::CreateIn(mdiArea, PostToSelf(WM_LOG_SELECTED));
    }
    logListWindow->show();
}

void TfrmParent::AddLogEntry(const QString& name) {
    EnsureLogListWindow();
    logListWindow->AddEntry(name);
    QAction* entry = Windows->addAction(name);
    connect(entry, &QAction::triggered, this, [this, entry] { WindowsClick(entry); });
}

void TfrmParent::OnOutputClosed(uint32_t wParam) {
    if (wParam == OUTPUT_CLOSED_WPARAM) {
        SetLogCommandsEnabled(false);
        dataWindow = nullptr;
        shownLog_ = -1;
        if (graphWindow != nullptr) {
            graphWindow->parentWidget()->close();
        }
    }
}

void TfrmParent::OnLogSelected() {
    if (logListWindow != nullptr && logListWindow->lstFileSelection->currentRow() >= 0) {
        ShowListedLog(logListWindow->lstFileSelection->currentRow());
    }
}

void TfrmParent::WindowsClick(QAction* sender) {
    const int position = static_cast<int>(Windows->actions().indexOf(sender));
    if (position > 0) {
        ShowListedLog(position - 1);
        logListWindow->lstFileSelection->setCurrentRow(position - 1);
    }
}

void TfrmParent::CreateMDIChild(const QString& name) {
    if (dataWindow != nullptr) {
        return;
    }
    dataWindow = TfrmOutput::CreateIn(mdiArea, handle_);
    ShowLogAt(runs_->Logs().count() - 1, name);
}

void TfrmParent::ShowListedLog(int index) {
    if (logListWindow == nullptr || logListWindow->lstFileSelection->count() == 0) {
        return;
    }
    if (dataWindow == nullptr) {
        dataWindow = TfrmOutput::CreateIn(mdiArea, handle_);
        SetLogCommandsEnabled(true);
    }
    const QListWidgetItem* entry = logListWindow->lstFileSelection->item(index);
    ShowLogAt(index, entry != nullptr ? entry->text() : QString());
}

void TfrmParent::ShowLogAt(int index, const QString& name) {
    const DeviceLog* log = runs_->Logs().item(index);
    dataWindow->setWindowTitle(name);
    dataWindow->ShowLog(log);
    shownLog_ = log != nullptr ? index : -1;
    if (graphWindow != nullptr && log != nullptr) {
        graphWindow->ShowLog(*log, name);
    }
}
