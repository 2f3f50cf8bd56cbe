// The windows the main window opens and arranges: the progress window, the
// log list with the Windows menu, the data window, the Graph and the
// Archive window.
#include "app/TfrmParent.h"

#include <QAction>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>

#include <utility>

#include "views/TfrmFileSelection.h"
#include "views/TfrmProgress.h"

namespace {

// A file name as a menu shows it: an & in it is no keyboard mnemonic.
QString MenuText(QString name) {
    return name.replace('&', QStringLiteral("&&"));
}

}  // namespace

void TfrmParent::EnsureProgressWindow() {
    if (progressWindow == nullptr) {
        progressWindow = new TfrmProgress(PostToSelf(WM_DOWNLOAD_CANCEL), this);
    }
}

void TfrmParent::PlaceProgressWindow() {
    progressWindow->move(x() + 50, y() + 150);
    progressWindow->show();
}

void TfrmParent::CloseProgressWindow() {
    if (progressWindow != nullptr) {
        progressWindow->proDownloadProgress->setValue(0);
        progressWindow->Close();
        progressWindow = nullptr;
    }
}

void TfrmParent::EnsureLogListWindow() {
    if (logListWindow == nullptr) {
        logListWindow = TfrmFileSelection::CreateIn(mdiArea, PostToSelf(WM_LOG_SELECTED));
    }
    logListWindow->show();
}

void TfrmParent::AddUnlistedEntry(const QString& text) {
    EnsureLogListWindow();
    logListWindow->AddUnlisted(text);
    Windows->addAction(MenuText(text))->setEnabled(false);
}

void TfrmParent::AddLogEntry(const QString& name, int logIndex) {
    EnsureLogListWindow();
    logListWindow->AddEntry(name, logIndex);
    QAction* entry = Windows->addAction(MenuText(name));
    connect(entry, &QAction::triggered, this, [this, entry] { WindowsClick(entry); });
}

void TfrmParent::ListChildWindows() {
    UnlistChildWindows();
    const QList<QMdiSubWindow*> frames = mdiArea->subWindowList();
    if (frames.isEmpty()) {
        return;
    }
    childWindowEntries_ << Windows->addSeparator();
    for (QMdiSubWindow* frame : frames) {
        QAction* entry = Windows->addAction(MenuText(frame->windowTitle()));
        entry->setCheckable(true);
        entry->setChecked(frame == mdiArea->activeSubWindow());
        connect(entry, &QAction::triggered, this, [this, frame = QPointer<QMdiSubWindow>(frame)] {
            if (frame == nullptr) {
                return;
            }
            if (frame->isMinimized()) {
                frame->showNormal();
            }
            mdiArea->setActiveSubWindow(frame);
        });
        childWindowEntries_ << entry;
    }
}

void TfrmParent::UnlistChildWindows() {
    for (QAction* entry : std::exchange(childWindowEntries_, {})) {
        Windows->removeAction(entry);
        entry->deleteLater();  // the entry chosen is triggered once the menu has closed
    }
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
    }
}

void TfrmParent::CreateMDIChild(const QString& name) {
    if (dataWindow != nullptr) {
        return;
    }
    dataWindow = TfrmOutput::CreateIn(mdiArea, handle_);
    ShowLogAt(runs_->Logs().count() - 1, name);
}

void TfrmParent::ShowListedLog(int row) {
    if (logListWindow == nullptr || logListWindow->lstFileSelection->count() == 0) {
        return;
    }
    // An entry without a log shows nothing; the choice stays on the shown log.
    const int index = logListWindow->LogAt(row);
    if (index < 0) {
        SelectShownLog();
        return;
    }
    if (dataWindow == nullptr) {
        dataWindow = TfrmOutput::CreateIn(mdiArea, handle_);
        SetLogCommandsEnabled(true);
    }
    ShowLogAt(index, logListWindow->lstFileSelection->item(row)->text());
}

void TfrmParent::ShowLogAt(int index, const QString& name) {
    const DeviceLog* log = runs_->Logs().item(index);
    dataWindow->setWindowTitle(name);
    dataWindow->ShowLog(log);
    shownLog_ = log != nullptr ? index : -1;
    if (graphWindow != nullptr && log != nullptr) {
        graphWindow->ShowLog(*log, name);
    }
    SelectShownLog();
}

void TfrmParent::SelectShownLog() {
    if (logListWindow != nullptr && shownLog_ >= 0) {
        logListWindow->lstFileSelection->setCurrentRow(logListWindow->RowOf(shownLog_));
    }
}

void TfrmParent::tbuGraphClick() {
    if (dataWindow == nullptr || shownLog_ < 0) {
        SetLogCommandsEnabled(false);
        return;
    }
    if (graphWindow == nullptr) {
        graphWindow = TfrmGraph::CreateIn(mdiArea);
        connect(graphWindow, &TfrmGraph::SampleClicked, dataWindow, &TfrmOutput::SelectSample);
        connect(dataWindow, &TfrmOutput::SampleSelected, graphWindow, &TfrmGraph::MarkSample);
        graphWindow->ShowLog(*runs_->Logs().item(shownLog_), dataWindow->windowTitle());
    }
    mdiArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(graphWindow->parentWidget()));
}

void TfrmParent::tbuArchiveClick(const QStringList& serials,
                                 const std::optional<std::string>& location) {
    const std::string where = location.value_or(ArchiveLocation());
    if (archiveWindow != nullptr && archiveWindow->ReadsFrom() != where) {
        archiveWindow->ReadFrom(where);
    }
    if (archiveWindow == nullptr) {
        archiveWindow = TfrmArchive::CreateIn(mdiArea, where);
        Refresh->setEnabled(true);
        connect(archiveWindow, &QObject::destroyed, Refresh,
                [refresh = Refresh] { refresh->setEnabled(false); });
    }
    if (!serials.isEmpty()) {
        archiveWindow->SelectLoggers(serials);
    }
    mdiArea->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(archiveWindow->parentWidget()));
}

void TfrmParent::RefreshArchiveWindow() {
    if (archiveWindow != nullptr) {
        archiveWindow->Reload();
    }
}

void TfrmParent::RenameLogEntry(int index, const QString& name) {
    const int row = logListWindow->RowOf(index);
    logListWindow->SetEntryText(row, name);
    Windows->actions().at(row + 1)->setText(MenuText(name));
}
