#pragma once
// The main window: an MDI frame with the device commands, the COM port
// selector and the windows of a download (progress, log list, data window).
// The runs themselves are the session's (run/Session.h): the window starts
// them, hands it the worker's notifications and shows what it reports.

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "device/DeviceLog.h"
#include "device/DeviceMessages.h"
#include "platform/Window.h"
#include "run/ArchiveQueue.h"
#include "run/ArchiveRead.h"
#include "run/Session.h"
#include "settings/TfrmDirSetting.h"
#include "views/TfrmArchive.h"
#include "views/TfrmGraph.h"
#include "views/TfrmOutput.h"
#include "widgets/PortComboBox.h"
#include "widgets/Prompts.h"

class QAction;
class QComboBox;
class QLabel;
class QMdiArea;
class QMenu;
class TfrmAbout;
class TfrmArchiveSetting;
class TfrmComPort;
class TfrmFileSelection;
class TfrmProgress;

// Every COM port the machine has ("COM1:", ...) with its device; nothing
// when discovery fails, and the main window then offers COM1: to COM4:.
std::optional<QList<PortChoice>> DiscoverComPorts();

struct ParentOptions {
    int splashMs = 3000;  // 0: no splash
    PortLister listPorts = DiscoverComPorts;
    DirSettingDefaults dirDefaults = DirSettingDefaults::ForThisProgram();
};

class TfrmParent : public QMainWindow, private run::Observer {
    Q_OBJECT

  public:
    explicit TfrmParent(const ParentOptions& options = {});
    ~TfrmParent() override;

    // The main window, then the directory settings, the port settings and the
    // about box, in this order, as the program starts.
    static std::unique_ptr<TfrmParent> CreateWithForms(const ParentOptions& options = {});

    // Commands (the tool bar and the device menu).
    void SetCommandsEnabled(bool enabled);
    void tbuDownloadAllClick();
    void tbuDownloadClick();
    void tbuEraseClick();
    void tbuSaveClick();
    void tbuGraphClick();
    // The Archive window, opened or brought to the front; on the loggers of
    // these serial numbers when any are given.
    // location: the archive they are in; the setting's when none is given.
    void tbuArchiveClick(const QStringList& serials = {},
                         const std::optional<std::string>& location = std::nullopt);
    // The Archive window, when open, reads the archive again: it took logs
    // (a run, an import), or the user asks (View > Refresh, F5).
    void RefreshArchiveWindow();
    void OpenClick();
    // File > Import into Archive: data files, or a folder searched through.
    void ImportClick();
    void tmrComPortTimer();
    bool AskContinueDownload();
    // The user's yes to going on, the reader made ready; false when the run ended meanwhile.
    bool UserGoesOn();

    // Posted messages, as the window's message dispatch routes them.
    void Dispatch(uint32_t message, uint32_t wParam, intptr_t lParam);
    void OnDeviceNotify(uint32_t wParam, intptr_t lParam);
    void OnOutputClosed(uint32_t wParam);
    void OnDownloadCancel();
    void OnLogSelected();
    // What became of the logs given to the archive: a run's gain, or why not.
    void OnArchiveNotify();
    void WindowsClick(QAction* sender);

    void CreateMDIChild(const QString& name);
    // Shows the log of the log list's entry at row, if it has one.
    void ShowListedLog(int row);

    // The runs since start-up: their counts, names and logs.
    const run::Session& Runs() const { return *runs_; }
    DeviceController& Controller() { return runs_->Controller(); }
    const LogList& Logs() const { return runs_->Logs(); }
    // Whether logs given to the archive have not been told of yet.
    bool Archiving() const { return archiveQueue_->Busy(); }

    // Controls.
    QMdiArea* mdiArea;
    QAction* tbuSave;
    QAction* tbuDownloadAll;
    QAction* tbuErase;
    QAction* tbuDownload;
    QAction* tbuGraph;
    QAction* tbuArchive;
    QLabel* lblComPort;
    PortComboBox* cmbComPort;
    QMenu* File;
    QAction* Open;
    QAction* ImportArchive;
    QAction* SaveAs;
    QAction* Exit;
    QMenu* BrimCast;
    QAction* Download;
    QAction* DownloadAll1;
    QAction* Erase;
    QMenu* Configuration;
    QAction* ComPortSetting;
    QAction* DirectorySetting;
    QAction* ArchiveSetting;
    QMenu* Windows;
    QAction* Cascade;
    QMenu* View;
    QAction* Graph;
    QAction* ArchiveView;
    QAction* Refresh;
    QMenu* Help;
    QAction* About;
    QTimer tmrComPort;
    // The status bar's count of the line faults a run recovered from.
    QLabel* lblLineFaults;
    // The status bar's word on a reader that does not answer, and its clock.
    QLabel* lblWaiting;
    // The status bar's word on what the last run brought into the archive; a
    // click opens the Archive window on its loggers.
    QLabel* lblArchive;
    QTimer tmrSilence;

    // The windows of the runs.
    QPointer<TfrmProgress> progressWindow;
    QPointer<TfrmFileSelection> logListWindow;
    QPointer<TfrmOutput> dataWindow;
    // The plot of the log the data window shows; it closes with the data window.
    QPointer<TfrmGraph> graphWindow;
    QPointer<TfrmArchive> archiveWindow;

  protected:
    bool event(QEvent* event) override;
    // Closing during a run asks first, then ends it keeping what was read.
    void closeEvent(QCloseEvent* event) override;

  private:
    // Start-up, menus, posted messages, closing (TfrmParent.cpp).
    void Message(const QString& text, const QString& caption, Prompter::Icon icon);
    void BuildMenus();
    void BuildToolBar();
    std::function<void()> PostToSelf(uint32_t message);
    // Export and Graph: what works on the log a data window shows.
    void SetLogCommandsEnabled(bool enabled);
    // The active window when it is a Graph of the archive's series.
    TfrmGraph* ActiveHistory() const;
    QString PortName() const;
    // Where the archive is, from its setting.
    static std::string ArchiveLocation();
    // Where the next file goes, from the directory settings.
    run::FileSettings FileSettings() const;
    // The run ended while the question of closing was open: it has no more
    // to ask.
    void DismissCloseQuestion();

    // The device commands and the watchdog (ParentCommands.cpp).
    void ReportOpenPortError();
    // Whether the stored output directory was refused for its length; then
    // the user is told, and nothing is downloaded into another folder.
    bool OutputDirRefused();
    // The first time logs go into the archive, the user says at which offset
    // from UTC the loggers' clocks run; false when the question was closed
    // without an answer (nothing starts then).
    bool LoggerClockKnown();
    // Busy, and the session's command on the chosen port; false, and the
    // user told, when the port cannot be opened.
    bool StartCommand(bool (run::Session::*command)(const std::string&));
    // Arrow cursor and the commands back, as every way a command ends leaves them.
    void BackToIdle();
    void RestartWatchdog();
    // A download began: the watchdog runs, the status bar forgets the last run.
    void RunStarted();
    // What to check when the reader never answered on the port.
    QString SilentPortHint() const;
    // Says in the status bar, once the reader has been silent a while, on
    // which port the program waits for it.
    void ShowSilence(int silentMs);
    // Erase: what the reader holds, then where each log is kept, then the warning.
    void SurveyEnded(const run::RunEnd& end);
    void EraseChecked();
    void StartErase();

    // The File menu (ParentFiles.cpp).
    // The saved files the archive did not take, into it again on its thread.
    void ImportIntoArchive(const std::vector<std::string>& files, bool retry);

    // The windows it opens and arranges (ParentWindows.cpp).
    // Shows the listed log in the data window (and the Graph, when open).
    void ShowLogAt(int index, const QString& name);
    // The log list's choice is the log the data window shows, whatever
    // happened since: the user acts on the list's choice.
    void SelectShownLog();
    void EnsureProgressWindow();
    void CloseProgressWindow();
    void PlaceProgressWindow();
    void EnsureLogListWindow();
    void AddLogEntry(const QString& name, int logIndex);
    // The entry of the log at index, in the log list and the Windows menu, takes name.
    void RenameLogEntry(int index, const QString& name);
    // An entry of the log list and the Windows menu for a log that is not listed.
    void AddUnlistedEntry(const QString& text);
    // The Windows menu's entries of the open windows, below a separator.
    void ListChildWindows();
    void UnlistChildWindows();

    // The end box of a download (ParentNotify.cpp).
    // The end of a download in words: how it ended (first), the files saved,
    // the logs of the reader not saved; shown once the archive has told what
    // became of the run's logs.
    struct EndBox {
        QStringList lines;
        QString caption;
        Prompter::Icon icon;
    };
    EndBox DownloadEnd(const run::RunEnd& end, const QString& how, const QString& caption,
                       Prompter::Icon icon);
    void ShowEndBox(EndBox box, const run::ArchiveGain* gain);

    // What a run reports (ParentNotify.cpp).
    void LogFound(int found) override;
    void LogsCounted(int total) override;
    void BlockTotal(int32_t blocks) override;
    void BlockRead() override;
    bool LogCorrupt(bool canReadAgain) override;
    void LogSkipped(const run::ReaderLog& skipped) override;
    void LogSurveyed(const run::ReaderLog& log) override;
    void LogDone(const std::string* listedName) override;
    void LastLogDone(const std::string* listedName) override;
    void DeferredLogSaved(int index, const std::string& name) override;
    void DeferredFileFailed(const run::FileFailure& failure) override;
    void DeferredSaveDone(const std::string& lastName) override;
    void RunEnded(const run::RunEnd& end) override;
    void FaultsRecovered(int total) override;
    void ChainLoops(int entries) override;
    void ReaderAlive() override { RestartWatchdog(); }
    void PartialKept(const std::string& path) override;
    void FileArchived(const std::string& path,
                      const archive::Result<archive::Imported>& result) override;
    void RunArchived(const run::ArchiveGain& gain) override;
    void UnknownNotice(uint16_t code) override;

    ExportDialog sadExport;
    TfrmDirSetting* dirSetting_ = nullptr;
    TfrmComPort* comPortSetting_ = nullptr;
    TfrmArchiveSetting* archiveSetting_ = nullptr;
    TfrmAbout* about_ = nullptr;
    // The Windows menu's entries of the open windows, while it is open.
    QList<QAction*> childWindowEntries_;
    // The watchdog runs the longer interval of an erase.
    bool watchdogLengthened_ = false;
    bool closeQuestionOpen_ = false;
    bool closing_ = false;  // the user chose to stop the run and exit
    std::unique_ptr<platform::WindowSink> sink_;
    platform::WindowHandle handle_ = 0;
    std::unique_ptr<run::ArchiveQueue> archiveQueue_;  // outlives runs_, which gives it the logs
    std::unique_ptr<run::Session> runs_;
    QStringList archivedSerials_;           // the loggers of the last run's logs, for lblArchive
    std::string archivedLocation_;          // the archive they went into
    std::optional<EndBox> endBox_;          // waits for what the archive says of the run
    std::vector<std::string> notArchived_;  // the files of the run the archive did not take
    // An import given to the archive: how many files, how many done; a
    // retry of a run's files has no box of its own.
    int importTotal_ = 0, importDone_ = 0;
    bool importRetry_ = false;
    // An erase asked for: the survey of the reader, then the archive read.
    enum class EraseStep { None, Surveying, Checking } eraseStep_ = EraseStep::None;
    std::unique_ptr<run::ArchiveRead<std::vector<int64_t>>> eraseRead_;
    int shownLog_ = -1;  // index in Logs() of the log the data window shows
    QString runPort_;    // the port of the download going on, with its device
};
