// The main window: start-up, menus, tool bar and port list, and the device
// commands with the connection watchdog.
#include "app/TfrmParent.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <utility>

#include "app/TfrmAbout.h"
#include "app/TfrmSplash.h"
#include "datafile/DataFileReader.h"
#include "device/DeviceController.h"
#include "platform/Files.h"
#include "platform/PortDirectory.h"
#include "run/EraseCheck.h"
#include "settings/StoredSettings.h"
#include "settings/TfrmArchiveSetting.h"
#include "settings/TfrmComPort.h"
#include "settings/TfrmDirSetting.h"
#include "views/TfrmFileSelection.h"
#include "views/TfrmProgress.h"
#include "widgets/Prompts.h"

namespace {

// A message posted to the main window, delivered on the user-interface thread.
class PostedMessageEvent final : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    PostedMessageEvent(uint32_t message, uint32_t wParam, intptr_t lParam)
        : QEvent(Kind()), message(message), wParam(wParam), lParam(lParam) {}

    const uint32_t message;
    const uint32_t wParam;
    const intptr_t lParam;
};

// Hands every post to the window's event queue; posting never blocks and
// may come from any thread.
class QtWindowSink final : public platform::WindowSink {
  public:
    explicit QtWindowSink(TfrmParent* window) : window_(window) {}
    bool Post(uint32_t message, uint32_t wParam, intptr_t lParam) override {
        QCoreApplication::postEvent(window_, new PostedMessageEvent(message, wParam, lParam));
        return true;
    }

  private:
    TfrmParent* window_;
};

const QString kCloseQuestion = QStringLiteral("A download is running. Stop it and exit?");

// A reader usually answers within a fraction of a second.
constexpr int kSilenceShownMs = 1000;

void Message(QWidget* owner, const QString& text, const QString& caption, Prompter::Icon icon) {
    Prompts().MessageBox(owner, text, caption, Prompter::Buttons::Ok, icon);
}

}  // namespace

std::optional<QList<PortChoice>> DiscoverComPorts() {
    QList<PortChoice> ports;
    for (const platform::ComPort& port : platform::ListComPorts()) {
        const QString device = QString::fromLocal8Bit(port.device);
        ports.append({QString::fromStdString(port.name) + ":",
                      port.description.empty()
                          ? device
                          : QString::fromLocal8Bit(port.description) + " (" + device + ")"});
    }
    return ports;
}

TfrmParent::TfrmParent(const ParentOptions& options) {
    setObjectName("frmParent");
    // Every window of the program, the inner ones too, shows the program's icon.
    QApplication::setWindowIcon(QIcon(":/arvelo/arvelo.svg"));
    mdiArea = new QMdiArea(this);
    setCentralWidget(mdiArea);
    // The Graph command follows the log commands: as they were.
    connect(mdiArea, &QMdiArea::subWindowActivated, this,
            [this] { SetLogCommandsEnabled(Graph->isEnabled()); });
    BuildMenus();
    BuildToolBar();
    statusBar()->setObjectName("StatusBar2");
    // A message too long for the bar is read whole in its tooltip.
    connect(statusBar(), &QStatusBar::messageChanged, this,
            [this](const QString& message) { statusBar()->setToolTip(message); });
    lblLineFaults = new QLabel(this);
    statusBar()->addPermanentWidget(lblLineFaults);
    lblWaiting = new QLabel(this);
    lblWaiting->hide();
    statusBar()->addPermanentWidget(lblWaiting);
    lblArchive = new QLabel(this);
    lblArchive->setObjectName("lblArchive");
    lblArchive->setWordWrap(false);
    lblArchive->hide();
    statusBar()->addPermanentWidget(lblArchive);
    connect(lblArchive, &QLabel::linkActivated, this,
            [this] { tbuArchiveClick(archivedSerials_, archivedLocation_); });
    tmrSilence.setInterval(500);
    // Every sign of life restarts the watchdog: its time run is the silence.
    // While it is stopped (a question is open) the word stays as it is.
    connect(&tmrSilence, &QTimer::timeout, this, [this] {
        if (tmrComPort.isActive()) {
            ShowSilence(tmrComPort.interval() - tmrComPort.remainingTime());
        }
    });
    tmrComPort.setInterval(10000);
    connect(&tmrComPort, &QTimer::timeout, this, &TfrmParent::tmrComPortTimer);
    resize(834, 712);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    if (options.splashMs > 0) {
        TfrmSplash splash(options.splashMs);
        splash.exec();
    }
    setWindowTitle("Arvelo");
    BrimCast->setTitle("&Arvelo");  // Alt+A

    const std::optional<QList<PortChoice>> ports = options.listPorts();
    cmbComPort->SetPorts(
        ports ? *ports
              : QList<PortChoice>{{"COM1:", {}}, {"COM2:", {}}, {"COM3:", {}}, {"COM4:", {}}});
    cmbComPort->setCurrentIndex(0);
    cmbComPort->SetLister(options.listPorts);

    sink_ = std::make_unique<QtWindowSink>(this);
    handle_ = platform::RegisterWindow(sink_.get());
    runs_ = std::make_unique<run::Session>([this] { return FileSettings(); },
                                           static_cast<run::Observer&>(*this), handle_);
    runs_->SetArchive([] {
        const settings::ArchiveSettings stored = settings::ArchiveSettings::Load();
        const std::optional<std::string> location = stored.Chosen();
        return location ? std::optional(run::ArchiveTarget{*location, {stored.ClockMinutes()}})
                        : std::nullopt;
    });
    archiveQueue_ = std::make_unique<run::ArchiveQueue>(handle_);
    runs_->SetArchiveQueue(archiveQueue_.get());
}

TfrmParent::~TfrmParent() {
    // The area's windows close after this body, when this is no main window any more.
    mdiArea->disconnect(this);
    // Posts to a window that is gone are refused from here on.
    platform::UnregisterWindow(handle_);
    tmrComPort.stop();
}

std::unique_ptr<TfrmParent> TfrmParent::CreateWithForms(const ParentOptions& options) {
    auto frmParent = std::make_unique<TfrmParent>(options);
    // The dialogs live as long as the main window and are only shown and hidden.
    frmParent->dirSetting_ = new TfrmDirSetting(frmParent.get(), options.dirDefaults);
    frmParent->comPortSetting_ = new TfrmComPort(*frmParent->cmbComPort, frmParent->tmrComPort,
                                                 frmParent.get(), &frmParent->Controller().Link());
    frmParent->archiveSetting_ = new TfrmArchiveSetting(frmParent.get());
    frmParent->about_ = new TfrmAbout(frmParent.get());
    return frmParent;
}

void TfrmParent::BuildMenus() {
    File = menuBar()->addMenu("&File");
    Open = File->addAction("&Open...");
    Open->setShortcut(QKeySequence::Open);
    ImportArchive = File->addAction("&Import into Archive...");
    connect(ImportArchive, &QAction::triggered, this, &TfrmParent::ImportClick);
    SaveAs = File->addAction("&Export");
    SaveAs->setEnabled(false);
    Exit = File->addAction("E&xit");
    connect(Open, &QAction::triggered, this, &TfrmParent::OpenClick);
    connect(SaveAs, &QAction::triggered, this, &TfrmParent::tbuSaveClick);
    connect(Exit, &QAction::triggered, this, &QWidget::close);

    BrimCast = menuBar()->addMenu("Arvelo");
    // The one-log download stays on hidden controls: Download All does its
    // work and more (the skip, the resume, the log list); it is kept so that
    // the same run can be started from the code and its tests.
    Download = BrimCast->addAction("&Download");
    Download->setVisible(false);
    DownloadAll1 = BrimCast->addAction("Download &All");
    DownloadAll1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    Erase = BrimCast->addAction("&Erase");
    connect(Download, &QAction::triggered, this, &TfrmParent::tbuDownloadClick);
    connect(DownloadAll1, &QAction::triggered, this, &TfrmParent::tbuDownloadAllClick);
    connect(Erase, &QAction::triggered, this, &TfrmParent::tbuEraseClick);

    Configuration = menuBar()->addMenu("&Configuration");
    ComPortSetting = Configuration->addAction("Com &Port Setting");
    DirectorySetting = Configuration->addAction("&Directory Setting");
    ArchiveSetting = Configuration->addAction("&Archive");
    connect(ArchiveSetting, &QAction::triggered, this, [this] {
        if (archiveSetting_ != nullptr) {
            archiveSetting_->GetRegData();
            if (archiveSetting_->exec() == QDialog::Accepted && archiveWindow != nullptr) {
                archiveWindow->ReadFrom(ArchiveLocation());
            }
        }
    });
    connect(ComPortSetting, &QAction::triggered, this, [this] {
        if (comPortSetting_ != nullptr) {
            comPortSetting_->exec();
        }
    });
    connect(DirectorySetting, &QAction::triggered, this, [this] {
        if (dirSetting_ != nullptr) {
            dirSetting_->exec();
        }
    });

    Windows = menuBar()->addMenu("&Windows");
    // Hidden on purpose: it holds position 0, so that item i + 1 is the i-th
    // log of the list and of the log list window.
    Cascade = Windows->addAction("Cascade");
    Cascade->setVisible(false);
    // The open windows are listed below the logs only while the menu is open:
    // a run appends its logs' entries, and each keeps its position.
    connect(Windows, &QMenu::aboutToShow, this, &TfrmParent::ListChildWindows);
    connect(Windows, &QMenu::aboutToHide, this, &TfrmParent::UnlistChildWindows);

    View = menuBar()->addMenu("&View");
    Graph = View->addAction(QIcon(":/arvelo/graph.svg"), "&Graph");
    Graph->setEnabled(false);
    connect(Graph, &QAction::triggered, this, &TfrmParent::tbuGraphClick);
    ArchiveView = View->addAction(QIcon(":/arvelo/archive.svg"), "&Archive");
    connect(ArchiveView, &QAction::triggered, this, [this] { tbuArchiveClick(); });
    Refresh = View->addAction("&Refresh");
    Refresh->setShortcut(QKeySequence(Qt::Key_F5));
    Refresh->setEnabled(false);  // while the Archive window is open
    connect(Refresh, &QAction::triggered, this, &TfrmParent::RefreshArchiveWindow);

    Help = menuBar()->addMenu("&Help");
    About = Help->addAction("&About...");
    connect(About, &QAction::triggered, this, [this] {
        if (about_ != nullptr) {
            about_->show();
            about_->raise();
            about_->activateWindow();  // so that Escape reaches it
        }
    });
}

void TfrmParent::ListChildWindows() {
    UnlistChildWindows();
    const QList<QMdiSubWindow*> frames = mdiArea->subWindowList();
    if (frames.isEmpty()) {
        return;
    }
    childWindowEntries_ << Windows->addSeparator();
    for (QMdiSubWindow* frame : frames) {
        // A title (a file name) as a menu shows it: an & in it is no mnemonic.
        QAction* entry = Windows->addAction(QString(frame->windowTitle()).replace('&', "&&"));
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

void TfrmParent::BuildToolBar() {
    QToolBar* tbrToolBar = addToolBar("Tools");
    tbrToolBar->setObjectName("tbrToolBar");
    tbrToolBar->setMovable(false);
    tbrToolBar->setIconSize(QSize(32, 32));
    tbuSave = tbrToolBar->addAction(QIcon(":/arvelo/export.svg"), QString());
    tbuSave->setToolTip("Export the file into other format");
    tbuSave->setEnabled(false);
    tbuDownloadAll = tbrToolBar->addAction(QIcon(":/arvelo/download.svg"), QString());
    tbuDownloadAll->setToolTip("Download All (Ctrl+D)");
    tbuErase = tbrToolBar->addAction(QIcon(":/arvelo/erase.svg"), QString());
    tbuErase->setToolTip("Erase Data");
    tbuDownload = tbrToolBar->addAction(QIcon(":/arvelo/download.svg"), "&Download");
    tbuDownload->setToolTip("Download Data ");
    tbuDownload->setVisible(false);  // see the menu's Download
    tbuGraph = tbrToolBar->addAction(QIcon(":/arvelo/graph.svg"), QString());
    tbuGraph->setToolTip("Graph");
    tbuGraph->setEnabled(false);
    tbuArchive = tbrToolBar->addAction(QIcon(":/arvelo/archive.svg"), QString());
    tbuArchive->setToolTip("Archive");
    connect(tbuArchive, &QAction::triggered, this, [this] { tbuArchiveClick(); });
    connect(tbuSave, &QAction::triggered, this, &TfrmParent::tbuSaveClick);
    connect(tbuDownloadAll, &QAction::triggered, this, &TfrmParent::tbuDownloadAllClick);
    connect(tbuErase, &QAction::triggered, this, &TfrmParent::tbuEraseClick);
    connect(tbuDownload, &QAction::triggered, this, &TfrmParent::tbuDownloadClick);
    connect(tbuGraph, &QAction::triggered, this, &TfrmParent::tbuGraphClick);

    auto* Shape1 = new QWidget(tbrToolBar);
    Shape1->setFixedSize(85, 38);
    tbrToolBar->addWidget(Shape1);
    lblComPort = new QLabel("Com &Port Selection:    ", tbrToolBar);  // Alt+P
    lblComPort->setMinimumHeight(38);
    tbrToolBar->addWidget(lblComPort);
    cmbComPort = new PortComboBox(tbrToolBar);
    lblComPort->setBuddy(cmbComPort);
    cmbComPort->setMinimumWidth(72);
    cmbComPort->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    tbrToolBar->addWidget(cmbComPort);
}

std::function<void()> TfrmParent::PostToSelf(uint32_t message) {
    const platform::WindowHandle handle = handle_;
    return [handle, message] { platform::PostWindowMessage(handle, message, 0, 0); };
}

bool TfrmParent::event(QEvent* event) {
    if (event->type() == PostedMessageEvent::Kind()) {
        const auto* posted = static_cast<PostedMessageEvent*>(event);
        Dispatch(posted->message, posted->wParam, posted->lParam);
        return true;
    }
    return QMainWindow::event(event);
}

void TfrmParent::Dispatch(uint32_t message, uint32_t wParam, intptr_t lParam) {
    switch (message) {
        case WM_DEVICE_NOTIFY:
            OnDeviceNotify(wParam, lParam);
            break;
        case WM_OUTPUT_CLOSED:
            OnOutputClosed(wParam);
            break;
        case WM_DOWNLOAD_CANCEL:
            OnDownloadCancel();
            break;
        case WM_LOG_SELECTED:
            OnLogSelected();
            break;
        case run::WM_ARCHIVE_NOTIFY:
            OnArchiveNotify();
            break;
        default:
            break;
    }
}

void TfrmParent::SetCommandsEnabled(bool enabled) {
    tbuDownloadAll->setEnabled(enabled);
    tbuDownload->setEnabled(enabled);
    tbuErase->setEnabled(enabled);
    Configuration->menuAction()->setEnabled(enabled);
    BrimCast->menuAction()->setEnabled(enabled);
    cmbComPort->setEnabled(enabled);
    // A log opened during a run would join the run's logs; an import would
    // join its logs in the archive.
    Open->setEnabled(enabled);
    ImportArchive->setEnabled(enabled);
}

void TfrmParent::SetLogCommandsEnabled(bool enabled) {
    // Export also works on a Graph of the archive's series, while it is the active window.
    const bool exportable = enabled || ActiveHistory() != nullptr;
    tbuSave->setEnabled(exportable);
    SaveAs->setEnabled(exportable);
    tbuGraph->setEnabled(enabled);
    Graph->setEnabled(enabled);
}

TfrmGraph* TfrmParent::ActiveHistory() const {
    const QMdiSubWindow* active = mdiArea->activeSubWindow();
    auto* graph = active != nullptr ? qobject_cast<TfrmGraph*>(active->widget()) : nullptr;
    return graph != nullptr && graph->ShowsHistory() ? graph : nullptr;
}

QString TfrmParent::PortName() const {
    // "COM10:" names COM10: everything before the colon.
    return cmbComPort->currentText().section(':', 0, 0);
}

run::FileSettings TfrmParent::FileSettings() const {
    run::FileSettings file;
    char directory[512];
    char extension[5];
    if (dirSetting_ != nullptr && dirSetting_->GetSettings(&file.options, directory, extension,
                                                           sizeof directory, sizeof extension)) {
        file.directory = directory;
        file.extension = extension;
    } else {
        file.directory =
            DirSettingDefaults::ForThisProgram().UsedOutputDir().toLocal8Bit().toStdString();
        file.extension = ".omb";
        file.options = 0;
    }
    return file;
}

void TfrmParent::ReportOpenPortError() {
    Message(this,
            "Open Port error\n" + QString::fromLocal8Bit(run::DescribePortFailure(
                                      PortName().toLocal8Bit().toStdString(), runs_->PortError())),
            "Error", Prompter::Icon::Error);
}

bool TfrmParent::OutputDirRefused() {
    if (dirSetting_ == nullptr || dirSetting_->RefusedOutputDir().isEmpty()) {
        return false;
    }
    Message(this,
            QString("The output directory stored in Directory Setting is longer than %1 bytes:\n"
                    "%2\n\nChoose another one in Configuration > Directory Setting; nothing was "
                    "downloaded.")
                .arg(settings::MAX_OUTPUT_DIR_BYTES)
                .arg(dirSetting_->RefusedOutputDir()),
            "Error", Prompter::Icon::Error);
    return true;
}

void TfrmParent::BackToIdle() {
    Prompts().SetBusyCursor(false);
    SetCommandsEnabled(true);
}

void TfrmParent::RestartWatchdog() {
    tmrComPort.stop();
    tmrComPort.start();
}

bool TfrmParent::LoggerClockKnown() {
    settings::ArchiveSettings stored = settings::ArchiveSettings::Load();
    if (!stored.enabled || stored.clock) {
        return true;
    }
    const QString proposed = settings::StandardTimeOffset();
    QStringList choices{"UTC" + proposed};
    if (proposed != "+00:00") {
        choices << "UTC+00:00";
    }
    choices << "&Other...";
    const int choice = Prompts().Choose(
        this,
        QString("Before the first log goes into the archive: at which offset from UTC do the "
                "loggers' clocks run? Loggers keep no daylight saving; this computer's standard "
                "time is UTC%1.")
            .arg(proposed),
        "Logger Clocks", choices, Prompter::Icon::None);
    if (choice < 0) {
        return false;
    }
    if (choice == choices.size() - 1) {
        archiveSetting_->GetRegData();
        return archiveSetting_->exec() == QDialog::Accepted &&
               settings::ArchiveSettings::Load().clock.has_value();
    }
    stored.clock = choices[choice].mid(3);
    if (!stored.Save()) {
        Message(this, "The archive setting could not be stored.", "Error", Prompter::Icon::Error);
        return false;
    }
    return true;
}

void TfrmParent::tbuDownloadAllClick() {
    if (OutputDirRefused() || !LoggerClockKnown()) {
        return;
    }
    if (!StartCommand(&run::Session::DownloadAll)) {
        return;
    }
    RunStarted();
    EnsureProgressWindow();
    // The walk of the reader's chain may take a while: the window says so.
    progressWindow->LookingForLogs(0);
    PlaceProgressWindow();
}

QString TfrmParent::SilentPortHint() const {
    QString hint =
        QString::fromLocal8Bit(run::DescribeSilentPort(PortName().toLocal8Bit().toStdString()) +
                               " (Configuration > Com Port Setting).");
    hint[0] = hint[0].toUpper();
    return hint;
}

void TfrmParent::RunStarted() {
    RestartWatchdog();
    lblLineFaults->clear();
    lblArchive->hide();
    statusBar()->clearMessage();
    const std::string port = PortName().toLocal8Bit().toStdString();
    const std::string device = platform::ResolveComPort(port);
    runPort_ = QString::fromLocal8Bit(device.empty() ? port : port + " (" + device + ")");
    tmrSilence.start();
}

void TfrmParent::ShowSilence(int silentMs) {
    lblWaiting->setVisible(silentMs >= kSilenceShownMs);
    lblWaiting->setText(QString("Waiting for the reader on %1: no answer for %2 s (time-out: %3 s)")
                            .arg(runPort_)
                            .arg(silentMs / 1000)
                            .arg(tmrComPort.interval() / 1000));
}

void TfrmParent::EnsureProgressWindow() {
    if (progressWindow == nullptr) {
        progressWindow = new TfrmProgress(PostToSelf(WM_DOWNLOAD_CANCEL), this);
    }
}

void TfrmParent::PlaceProgressWindow() {
    progressWindow->move(x() + 50, y() + 150);
    progressWindow->show();
}

void TfrmParent::tbuDownloadClick() {
    if (OutputDirRefused() || !LoggerClockKnown()) {
        return;
    }
    runs_->Controller().SetReplyTimeLimit(static_cast<uint32_t>(tmrComPort.interval()));
    if (!runs_->Download(PortName().toLocal8Bit().toStdString())) {
        ReportOpenPortError();
        return;
    }
    RunStarted();
    SetCommandsEnabled(false);
    EnsureProgressWindow();
    progressWindow->lblLogNum->setText("1");
    progressWindow->lblTotalLog->setText("1");
    progressWindow->proLogProgress->setMaximum(1);
    progressWindow->proLogProgress->setValue(0);
    progressWindow->ResetBlocks();
    PlaceProgressWindow();
}

bool TfrmParent::StartCommand(bool (run::Session::*command)(const std::string&)) {
    SetCommandsEnabled(false);
    Prompts().SetBusyCursor(true);
    runs_->Controller().SetReplyTimeLimit(static_cast<uint32_t>(tmrComPort.interval()));
    if (!(*runs_.*command)(PortName().toLocal8Bit().toStdString())) {
        ReportOpenPortError();
        BackToIdle();
        return false;
    }
    return true;
}

void TfrmParent::tbuEraseClick() {
    // The warning says what the erase would destroy: the reader is read first.
    if (!StartCommand(&run::Session::Survey)) {
        return;
    }
    eraseStep_ = EraseStep::Surveying;
    RunStarted();
    statusBar()->showMessage("Before the erase, reading what the reader holds");
}

void TfrmParent::SurveyEnded(const run::RunEnd& end) {
    eraseStep_ = EraseStep::None;
    statusBar()->clearMessage();
    if (end.how != run::End::Surveyed) {
        BackToIdle();
        QString why = end.how == run::End::PortLost
                          ? "The serial port of the Arvelo stopped working."
                      : end.how == run::End::GivenUp ? "Connection TimeOut"
                                                     : "Serial Communication Error";
        if (!end.answered) {
            why += "\n" + SilentPortHint();
        }
        if (end.how != run::End::Cancelled) {
            Message(this, why + "\nWhat the reader holds could not be read; nothing was erased.",
                    "Error", Prompter::Icon::Error);
        }
        return;
    }
    // The archive is read on a thread of its own: a server may be slow to answer.
    const std::optional<std::string> location = settings::ArchiveSettings::Load().Chosen();
    if (!location || runs_->Surveyed().empty()) {
        EraseChecked();
        return;
    }
    eraseStep_ = EraseStep::Checking;
    statusBar()->showMessage("Before the erase, looking for the reader's logs in the archive");
    eraseRead_ = std::make_unique<run::ArchiveRead<std::vector<int64_t>>>(
        *location,
        [held = runs_->Surveyed()](archive::Archive& archive, const archive::Progress&) {
            return run::ArchivedSamples(archive, held);
        },
        [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (eraseRead_ != nullptr && eraseRead_->Now().finished) {
                        EraseChecked();
                    }
                },
                Qt::QueuedConnection);
        });
}

void TfrmParent::EraseChecked() {
    const std::vector<run::HeldLog>& held = runs_->Surveyed();
    run::EraseCheck check = run::CheckErase(held, &Logs());
    if (eraseRead_ != nullptr) {
        const run::ReadState state = eraseRead_->Now();
        const std::vector<int64_t> archived = eraseRead_->Take().value_or(std::vector<int64_t>());
        eraseRead_.reset();
        if (!state.error.empty() && !state.missing) {
            check.archiveError = state.error;
        }
        run::AddArchive(check, held, archived);
    } else if (settings::ArchiveSettings::Load().Chosen()) {
        run::AddArchive(check, held, {});
    }
    eraseStep_ = EraseStep::None;
    statusBar()->clearMessage();
    Prompts().SetBusyCursor(false);
    const Prompter::Answer answer = Prompts().MessageBox(
        this,
        "All Data in the Arvelo will be erased.\nCheck files before erasing dara from "
        "Arvelo!\ncontinue?\n\n" +
            QString::fromLocal8Bit(run::Describe(check)),
        "Warning", Prompter::Buttons::YesNoDefaultNo, Prompter::Icon::None);
    if (answer != Prompter::Answer::Yes) {
        BackToIdle();
        return;
    }
    StartErase();
}

void TfrmParent::StartErase() {
    Prompts().SetBusyCursor(true);
    switch (runs_->Erase(PortName().toLocal8Bit().toStdString())) {
        case run::Session::EraseStart::PortError:
            ReportOpenPortError();
            BackToIdle();
            return;
        case run::Session::EraseStart::NotSent:
            Message(this, "Data Erase Error", "Error", Prompter::Icon::Error);
            BackToIdle();
            return;
        case run::Session::EraseStart::Started:
            break;
    }
    statusBar()->showMessage("Erasing the reader's memory on " + runPort_);
    RestartWatchdog();
    tmrComPort.setInterval(tmrComPort.interval() + static_cast<int>(run::ERASE_EXTRA_MS));
    watchdogLengthened_ = true;
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

std::string TfrmParent::ArchiveLocation() {
    // Read whether archiving is on or off: the archive is there all the same.
    return settings::ArchiveSettings::Load().location.toLocal8Bit().toStdString();
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
        Message(this, "Cannot open " + path + "\n" + QString::fromStdString(file.Message()),
                "Error", Prompter::Icon::Error);
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
        Message(this,
                QString("%1 holds %2 samples more than a channel keeps; the first %3 are shown.")
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
        Message(this, "No data files (.omb, .csv) in " + chosen.join(", ") + ".", "Information",
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

bool TfrmParent::UserGoesOn() {
    // The run may end while a question is open: each answer looks again.
    if (Prompts().MessageBox(this, "Continue the download operation!", "Information",
                             Prompter::Buttons::YesNo,
                             Prompter::Icon::Warning) != Prompter::Answer::Yes ||
        !runs_->Running()) {
        return false;
    }
    Message(this, "Make Sure the Arvelo is in Wait Wait state!", "Information",
            Prompter::Icon::Information);
    return true;
}

bool TfrmParent::AskContinueDownload() {
    if (!UserGoesOn()) {
        return false;
    }
    runs_->GoOn();
    if (progressWindow != nullptr) {
        progressWindow->ResetBlocks();
    }
    return runs_->Running();
}

void TfrmParent::tmrComPortTimer() {
    tmrComPort.stop();
    // Nothing is asked of the reader, nor shown, until the user has answered.
    runs_->Hold();
    if (tmrSilence.isActive()) {
        ShowSilence(tmrComPort.interval());  // a download's
    }
    Message(this, "Connection TimeOut", "Error", Prompter::Icon::Error);
    if (runs_->EraseInProgress()) {
        // The read-back did not come in time: asked for again, or given up
        // (and a result that arrives later is ignored).
        if (runs_->Running() &&
            Prompts().MessageBox(this, "The reader has not confirmed the erase. Wait for it again?",
                                 "Information", Prompter::Buttons::YesNo,
                                 Prompter::Icon::Warning) == Prompter::Answer::Yes &&
            runs_->Running()) {
            runs_->GoOn();
            tmrComPort.start();
            return;
        }
        runs_->GiveUp();
        return;
    }
    // The run may have ended while the message was open.
    if (!runs_->Running()) {
        return;
    }
    if (runs_->CanGoOn() && AskContinueDownload()) {
        tmrComPort.start();
        return;
    }
    runs_->GiveUp();
}

void TfrmParent::closeEvent(QCloseEvent* event) {
    if (runs_->Running()) {
        // Enter keeps the download going; a run that ends meanwhile closes
        // the question, and the program stays for its last word.
        closeQuestionOpen_ = true;
        const Prompter::Answer answer =
            Prompts().MessageBox(this, kCloseQuestion, "Warning", Prompter::Buttons::YesNoDefaultNo,
                                 Prompter::Icon::Warning);
        closeQuestionOpen_ = false;
        if (answer != Prompter::Answer::Yes) {
            event->ignore();
            return;
        }
        // What was read of the log in progress is kept, incomplete.
        tmrComPort.stop();
        closing_ = true;
        runs_->GiveUp();
    }
    QMainWindow::closeEvent(event);
}

void TfrmParent::DismissCloseQuestion() {
    if (closeQuestionOpen_) {
        Prompts().DismissMessageBox(kCloseQuestion);
    }
}

void TfrmParent::OnDownloadCancel() {
    // A cancel that was under way when the run ended has nothing left to stop.
    if (!runs_->Running() || progressWindow == nullptr) {
        return;
    }
    tmrComPort.stop();
    progressWindow->proLogProgress->setValue(0);
    runs_->Cancel();
}

void TfrmParent::CloseProgressWindow() {
    if (progressWindow != nullptr) {
        progressWindow->proDownloadProgress->setValue(0);
        progressWindow->Close();
        progressWindow = nullptr;
    }
}
