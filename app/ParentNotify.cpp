// The main window's handling of the worker's notifications, and the log list,
// Windows menu and data window it keeps in step with the downloaded logs.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QProgressBar>

#include <algorithm>

#include "app/LogFileNaming.h"
#include "app/TfrmParent.h"
#include "device/DeviceController.h"
#include "views/Prompts.h"
#include "views/TfrmFileSelection.h"
#include "views/TfrmProgress.h"

namespace {

QString Number(int value) {
    return QString::asprintf("%d\n", value);
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
    // What a worker posted before it was stopped arrives after the run ended.
    if (!runActive_) {
        return;
    }
    const uint32_t code = wParam & 0xFFFF;
    const int high = static_cast<int>(wParam >> 16);
    switch (code) {
        case DEV_RESERVED:
        case DEV_LOG_HEADER:
            break;
        case DEV_BLOCK_TOTAL:
            if (progressWindow != nullptr) {
                progressWindow->proDownloadProgress->setMaximum(static_cast<int>(lParam));
            }
            break;
        case DEV_BLOCK:
            tmrComPort.stop();
            if (progressWindow != nullptr) {
                progressWindow->lblBlockNumber->setText(
                    Number(Advance(progressWindow->proDownloadProgress)));
            }
            tmrComPort.start();
            break;
        case DEV_LOG_OPEN_FILE:
            OpenLogFile();
            break;
        case DEV_LOG_SKIPPED:
            if (progressWindow != nullptr) {
                NextLog(*progressWindow);
                Message(this, "Log Skip!!", "Information", Prompter::Icon::Information);
            }
            break;
        case DEV_LOG_DONE:
            tmrComPort.stop();
            if (!deferredSave) {
                controller->CloseOutputFile();
            }
            currentFileOpen = false;
            SetExportEnabled(true);
            if (progressWindow != nullptr) {
                progressWindow->proDownloadProgress->setValue(0);
            }
            if (ListFinishedLog()) {
                logCounter += 1;
            }
            if (progressWindow != nullptr) {
                NextLog(*progressWindow);
            }
            if (logListWindow != nullptr) {
                logListWindow->WidenFor(currentFileName);
            }
            tmrComPort.start();
            break;
        case DEV_DONE:
            EndRun();
            break;
        case DEV_COMM_ERROR:
            EndRunWithError("Serial Communication Error");
            break;
        case DEV_UNEXPECTED:
            EndRunWithError("Unexpected Error");
            break;
        case DEV_LOG_COUNT:
            tmrComPort.stop();
            if (high > 0) {
                SetCommandsEnabled(false);
                if (progressWindow != nullptr) {
                    progressWindow->proLogProgress->setValue(0);
                    progressWindow->lblTotalLog->setText(Number(high));
                    progressWindow->lblLogNum->setText("1");
                    progressWindow->proLogProgress->setMaximum(high);
                    progressWindow->ResetBlocks();
                    PlaceProgressWindow();
                }
                tmrComPort.start();
                EnsureLogListWindow();
            } else {
                // Nothing to download; the hidden progress window serves the next run.
                ShutdownRun();
                BackToIdle();
                UncountLastLog();
            }
            break;
        case DEV_LOG_FOUND:
            RestartWatchdog();
            break;
        case DEV_LOG_CORRUPT:
            currentLogNamed_ = false;
            tmrComPort.stop();
            Message(this, "Log File in Arvelo corrupted", "Error", Prompter::Icon::Error);
            if (progressWindow != nullptr && progressWindow->proLogProgress->maximum() > 1) {
                AskContinueDownload();
            }
            tmrComPort.start();
            break;
        case DEV_ERASE_RESULT:
            if (!eraseInProgress) {
                break;  // the erase was given up already
            }
            tmrComPort.stop();
            tmrComPort.setInterval(tmrComPort.interval() - kEraseExtraMs);
            if (high == 0) {
                Prompts().MessageBox(this, "Data Erase Completed", "Information",
                                     Prompter::Buttons::Ok, Prompter::Icon::None);
            } else {
                Message(this, "Data Erase Error", "Error", Prompter::Icon::Error);
            }
            ShutdownRun();
            BackToIdle();
            eraseInProgress = false;
            break;
        default:
            Message(this, "Unexpected Error", "Error", Prompter::Icon::Error);
            break;
    }
}

void TfrmParent::OpenLogFile() {
    currentLogNamed_ = true;
    QString name;
    const int length = MakeLogFileName(&name, kFileNameCapacity, controller->CurrentLog(), false);
    if (deferredSave) {
        currentFileName = QString::asprintf("log%d", logCounter);
        return;
    }
    // No name fits: end the run as for a file that cannot be created, so the
    // previous log's file is never opened again.
    if (length > 0) {
        currentFileName = name;
        const QByteArray path = currentFileName.toLocal8Bit();
        if (controller->OpenOutputFile(path.constData(), outputExtension) == 0) {
            currentFileOpen = true;
            return;
        }
    }
    tmrComPort.stop();
    CloseProgressWindow();
    ShutdownRun();
    UncountLastLog();
    BackToIdle();
    Message(this, "Export File Error", "Error", Prompter::Icon::Error);
}

void TfrmParent::EndRun() {
    tmrComPort.stop();
    if (progressWindow != nullptr) {
        QProgressBar* bar = progressWindow->proLogProgress;
        bar->setValue(bar->value() + 1);
        progressWindow->lblLogNum->setText(Number(bar->value()));
        CloseProgressWindow();
    }
    if (!deferredSave) {
        controller->CloseOutputFile();
    }
    currentFileOpen = false;
    ShutdownRun();
    // The copy is taken before the data window opens on it. A run whose last
    // log was skipped finished none: nothing to list, and it was counted.
    if (ListFinishedLog()) {
        logListWindow->lstFileSelection->setCurrentRow(logListWindow->lstFileSelection->count() -
                                                       1);
        CreateMDIChild(currentFileName);
        SetExportEnabled(true);
    } else {
        logCounter -= 1;
    }
    if (deferredSave) {
        SaveDeferredLogs();
    }
    BackToIdle();
    if (!deferredSave) {
        Prompts().MessageBox(
            this,
            QString::asprintf("%d files saved to %s.", logCounter,
                              DirectoryPart(currentFileName).toLocal8Bit().constData()),
            "Information", Prompter::Buttons::Ok, Prompter::Icon::None);
    }
    if (logListWindow != nullptr) {
        logListWindow->WidenFor(currentFileName);
    }
    firstUnsavedLog = logCounter;
}

void TfrmParent::EndRunWithError(const QString& text) {
    tmrComPort.stop();
    CloseProgressWindow();
    if (!deferredSave) {
        controller->CloseOutputFile();
        DeleteCurrentFile();
    }
    currentFileOpen = false;
    if (eraseInProgress) {
        // An erase counted no log.
        tmrComPort.setInterval(tmrComPort.interval() - kEraseExtraMs);
        eraseInProgress = false;
    } else {
        UncountLastLog();
    }
    ShutdownRun();
    BackToIdle();
    Message(this, text, "Error", Prompter::Icon::Error);
}

bool TfrmParent::ListFinishedLog() {
    DeviceLog finished;
    // Taken in every case: the worker hands the current log over even when it
    // is the default one of a skipped log.
    if (!controller->TakeFinishedLog(finished) || !currentLogNamed_) {
        return false;
    }
    currentLogNamed_ = false;
    AddLogEntry(currentFileName);
    logs.append(finished);
    return true;
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
        SetExportEnabled(false);
        dataWindow = nullptr;
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

void TfrmParent::DeleteCurrentFile() {
    // Only a file still being written goes; a finished log's file stays.
    if (currentFileOpen && QFile::exists(currentFileName)) {
        QFile::remove(currentFileName);
    }
    currentFileOpen = false;
}

void TfrmParent::CreateMDIChild(const QString& name) {
    if (dataWindow != nullptr) {
        return;
    }
    dataWindow = TfrmOutput::CreateIn(mdiArea, handle_);
    dataWindow->setWindowTitle(name);
    dataWindow->ShowLog(logs.item(logs.count() - 1));
}

void TfrmParent::ShowListedLog(int index) {
    if (logListWindow == nullptr || logListWindow->lstFileSelection->count() == 0) {
        return;
    }
    if (dataWindow == nullptr) {
        dataWindow = TfrmOutput::CreateIn(mdiArea, handle_);
        SetExportEnabled(true);
    }
    const QListWidgetItem* entry = logListWindow->lstFileSelection->item(index);
    dataWindow->setWindowTitle(entry != nullptr ? entry->text() : QString());
    dataWindow->ShowLog(logs.item(index));
}
