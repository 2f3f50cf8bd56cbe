// The main window: start-up, menus, tool bar and port list, the posted
// messages, which commands are offered, and closing. Its commands are in
// ParentCommands.cpp and ParentFiles.cpp, the windows it opens in
// ParentWindows.cpp, what it shows of a run in ParentNotify.cpp.
#include "app/TfrmParent.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "app/TfrmAbout.h"
#include "app/TfrmSplash.h"
#include "device/DeviceController.h"
#include "platform/PortDirectory.h"
#include "settings/StoredSettings.h"
#include "settings/TfrmArchiveSetting.h"
#include "settings/TfrmComPort.h"
#include "settings/TfrmDirSetting.h"
#include "widgets/Prompts.h"

namespace {

// A message posted to the main window, delivered on the user-interface thread.
class PostedMessageEvent final : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    PostedMessageEvent(uint32_t posted, uint32_t postedW, intptr_t postedL)
        : QEvent(Kind()), message(posted), wParam(postedW), lParam(postedL) {}

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

std::string TfrmParent::ArchiveLocation() {
    // Read whether archiving is on or off: the archive is there all the same.
    return settings::ArchiveSettings::Load().location.toLocal8Bit().toStdString();
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

void TfrmParent::Message(const QString& text, const QString& caption, Prompter::Icon icon) {
    Prompts().MessageBox(this, text, caption, Prompter::Buttons::Ok, icon);
}
