#pragma once
// The main window: an MDI frame with the device commands, the COM port
// selector and the windows of a download (progress, log list, data window).
// It owns the one DeviceController and a copy of every log downloaded since
// start-up, and handles every notification of the controller's worker.

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
#include "settings/TfrmDirSetting.h"
#include "views/TfrmOutput.h"

class DeviceController;
class QAction;
class QComboBox;
class QLabel;
class QMdiArea;
class QMenu;
class TfrmAbout;
class TfrmComPort;
class TfrmFileSelection;
class TfrmProgress;

// Every COM port name the user can pick ("COM1:", ...); nothing when
// discovery fails, and the main window then offers COM1: to COM4:.
using PortLister = std::function<std::optional<QStringList>()>;
std::optional<QStringList> DiscoverComPorts();

struct ParentOptions {
    int splashMs = 3000;  // 0: no splash
    PortLister listPorts = DiscoverComPorts;
    DirSettingDefaults dirDefaults = DirSettingDefaults::ForThisProgram();
};

class TfrmParent : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kEraseExtraMs = 1800;  // the erase read-back needs longer

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
    void tmrComPortTimer();
    bool AskContinueDownload();

    // Posted messages, as the window's message dispatch routes them.
    void Dispatch(uint32_t message, uint32_t wParam, intptr_t lParam);
    void OnDeviceNotify(uint32_t wParam, intptr_t lParam);
    void OnOutputClosed(uint32_t wParam);
    void OnDownloadCancel();
    void OnLogSelected();
    void WindowsClick(QAction* sender);

    void DeleteCurrentFile();
    void CreateMDIChild(const QString& name);
    void ShowListedLog(int index);

    // Log file naming and deferred saving.
    int MakeLogFileName(QString* target, int capacity, DeviceLog* log, bool skipDriveCheck);
    void SaveDeferredLogs();

    DeviceController& Controller() { return *controller; }
    const LogList& Logs() const { return logs; }

    // Controls.
    QMdiArea* mdiArea;
    QAction* tbuSave;
    QAction* tbuDownloadAll;
    QAction* tbuErase;
    QAction* tbuDownload;
    QAction* tbuOpen;
    QAction* tbuGraph;
    QLabel* lblComPort;
    QComboBox* cmbComPort;
    QMenu* File;
    QAction* Open;
    QAction* SaveAs;
    QAction* Exit;
    QMenu* BrimCast;
    QAction* Download;
    QAction* DownloadAll1;
    QAction* Erase;
    QMenu* Configuration;
    QAction* ComPortSetting;
    QAction* DirectorySetting;
    QMenu* Windows;
    QAction* Cascade;
    QMenu* View;
    QAction* Graph;
    QMenu* Help;
    QAction* About;
    QTimer tmrComPort;

    // State of the runs since start-up.
    int32_t logCounter = 0;
    int32_t firstUnsavedLog = 0;
    bool deferredSave = false;
    bool eraseInProgress = false;
    QString currentFileName;
    // Whether currentFileName is still being written: only such a file is
    // deleted when a run is cancelled or fails.
    bool currentFileOpen = false;
    char outputExtension[5] = {};
    QPointer<TfrmProgress> progressWindow;
    QPointer<TfrmFileSelection> logListWindow;
    QPointer<TfrmOutput> dataWindow;

  protected:
    bool event(QEvent* event) override;

  private:
    static constexpr int kFileNameCapacity = 256;

    QString PortName() const;
    bool StartController();
    void ReportOpenPortError();
    void EraseFailed();
    // Arrow cursor and the commands back, as every way a command ends leaves them.
    void BackToIdle();
    void ShutdownRun();
    void RestartWatchdog();
    void SetExportEnabled(bool enabled);
    void EnsureProgressWindow();
    void CloseProgressWindow();
    void PlaceProgressWindow();
    void EnsureLogListWindow();
    void AddLogEntry(const QString& name);
    // Lists the log that DEV_LOG_DONE or DEV_DONE reports and keeps its copy;
    // false when no log was finished (the last log was skipped).
    bool ListFinishedLog();
    void EndRun();
    void EndRunWithError(const QString& text);
    // A run that ends without the log it counted ahead takes the count back;
    // the logs a deferred save writes start there.
    void UncountLastLog();
    void GiveUpRun();
    void OpenLogFile();
    void BuildMenus();
    void BuildToolBar();
    std::function<void()> PostToSelf(uint32_t message);

    std::unique_ptr<DeviceController> controller;
    LogList logs;
    ExportDialog sadExport;
    TfrmDirSetting* dirSetting_ = nullptr;
    TfrmComPort* comPortSetting_ = nullptr;
    TfrmAbout* about_ = nullptr;
    // A device command runs: notifications that arrive afterwards from a
    // worker already stopped are dropped.
    bool runActive_ = false;
    // The log being read got its file name, so its header was good. A run
    // that ends after skipping its last log has no such log to list.
    bool currentLogNamed_ = false;
    std::unique_ptr<platform::WindowSink> sink_;
    platform::WindowHandle handle_ = 0;
};
