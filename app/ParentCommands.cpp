// The main window's device commands: Download All, Download and Erase (with
// its survey and check of what the archive keeps), and the watchdog that
// asks the user when the reader falls silent.
#include "app/TfrmParent.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

#include "platform/PortDirectory.h"
#include "run/EraseCheck.h"
#include "settings/StoredSettings.h"
#include "settings/TfrmArchiveSetting.h"
#include "views/TfrmProgress.h"
#include "widgets/Prompts.h"

namespace {

// A reader usually answers within a fraction of a second.
constexpr int kSilenceShownMs = 1000;

}  // namespace

void TfrmParent::ReportOpenPortError() {
    Message("Open Port error\n" + QString::fromLocal8Bit(run::DescribePortFailure(
                                      PortName().toLocal8Bit().toStdString(), runs_->PortError())),
            "Error", Prompter::Icon::Error);
}

bool TfrmParent::OutputDirRefused() {
    if (dirSetting_ == nullptr || dirSetting_->RefusedOutputDir().isEmpty()) {
        return false;
    }
    Message(QString("The output directory stored in Directory Setting is longer than %1 bytes:\n"
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
        Message("The archive setting could not be stored.", "Error", Prompter::Icon::Error);
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

QString TfrmParent::SilentPortHint() const {
    QString hint =
        QString::fromLocal8Bit(run::DescribeSilentPort(PortName().toLocal8Bit().toStdString()) +
                               " (Configuration > Com Port Setting).");
    hint[0] = hint[0].toUpper();
    return hint;
}

void TfrmParent::ShowSilence(int silentMs) {
    lblWaiting->setVisible(silentMs >= kSilenceShownMs);
    lblWaiting->setText(QString("Waiting for the reader on %1: no answer for %2 s (time-out: %3 s)")
                            .arg(runPort_)
                            .arg(silentMs / 1000)
                            .arg(tmrComPort.interval() / 1000));
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
        QString why = QString::fromLocal8Bit(
            run::Describe(end, {run::Voice::Face::Window, run::Voice::Run::Survey, {}, {}}));
        if (!end.answered) {
            why += "\n" + SilentPortHint();
        }
        if (end.how != run::End::Cancelled) {
            Message(why + "\nWhat the reader holds could not be read; nothing was erased.", "Error",
                    Prompter::Icon::Error);
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
            Message(QString::fromLocal8Bit(run::DescribeEraseError()), "Error",
                    Prompter::Icon::Error);
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

bool TfrmParent::UserGoesOn() {
    // The run may end while a question is open: each answer looks again.
    if (Prompts().MessageBox(this, "Continue the download operation!", "Information",
                             Prompter::Buttons::YesNo,
                             Prompter::Icon::Warning) != Prompter::Answer::Yes ||
        !runs_->Running()) {
        return false;
    }
    Message("Make Sure the Arvelo is in Wait Wait state!", "Information",
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
    Message("Connection TimeOut", "Error", Prompter::Icon::Error);
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

void TfrmParent::OnDownloadCancel() {
    // A cancel that was under way when the run ended has nothing left to stop.
    if (!runs_->Running() || progressWindow == nullptr) {
        return;
    }
    tmrComPort.stop();
    progressWindow->proLogProgress->setValue(0);
    runs_->Cancel();
}
