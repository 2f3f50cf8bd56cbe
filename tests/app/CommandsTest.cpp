// The other commands of the main window: erase, export, the single-log
// download, the port list and stored settings, and the failures a user sees.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>

#include "app/MainWindowFixture.h"
#include "app/TfrmAbout.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPort.h"
#include "settings/TfrmComPort.h"
#include "support/DownloadTestSupport.h"
#include "views/TfrmProgress.h"

namespace {

using Answer = Prompter::Answer;

class CommandsTest : public MainWindowFixture {};

TEST_F(CommandsTest, EraseConfirmedEmptiesTheReader) {
    StartReader();
    CreateWindow();
    const int interval = window_->tmrComPort.interval();
    prompter_.answers = {Answer::Yes};
    window_->tbuEraseClick();
    // Mended: the reader is read first, and the warning says what it would lose.
    ASSERT_TRUE(WaitFor([this] { return window_->Runs().EraseInProgress(); }));
    EXPECT_EQ(window_->tmrComPort.interval(), interval + 1800);
    EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Erasing the reader's memory"));
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(prompter_.shown.size(), 2u);
    EXPECT_EQ(prompter_.shown[0].text,
              "All Data in the Arvelo will be erased.\nCheck files before erasing dara from "
              "Arvelo!\ncontinue?\n\nThe reader holds 4 logs: none of them is in the archive.");
    EXPECT_EQ(prompter_.shown[0].caption, "Warning");
    // Mended: the erase cannot be undone, so Enter answers No.
    EXPECT_EQ(prompter_.shown[0].buttons, Prompter::Buttons::YesNoDefaultNo);
    EXPECT_EQ(prompter_.shown[1].text, "Data Erase Completed");
    EXPECT_EQ(prompter_.shown[1].caption, "Information");
    EXPECT_EQ(server_->Memory(), sim::MemoryImage());
    EXPECT_FALSE(window_->Runs().EraseInProgress());
    EXPECT_EQ(window_->tmrComPort.interval(), interval);
    EXPECT_FALSE(prompter_.Busy());
}

TEST_F(CommandsTest, AStoredFolderTooLongIsRefusedNotReplacedByAnother) {
    const QString tooLong = outDir_ + QString(300, 'x') + "/";
    StoreDirectorySettings(tooLong, ".omb", 0);
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_EQ(prompter_.shown.size(), 1u);
    EXPECT_TRUE(prompter_.shown[0].text.contains("longer than 255 bytes:\n" + tooLong))
        << prompter_.shown[0].text.toStdString();
    EXPECT_EQ(prompter_.shown[0].caption, "Error");
    EXPECT_TRUE(window_->tbuDownloadAll->isEnabled());
    QThread::msleep(50);
    EXPECT_EQ(server_->Stats().commandsSeen, 0u);
    EXPECT_TRUE(FilesIn(temp_.filePath("documents/")).isEmpty());
    EXPECT_TRUE(FilesIn(outDir_).isEmpty());
}

TEST_F(CommandsTest, EraseDeclinedTouchesNothing) {
    StartReader();
    CreateWindow();
    prompter_.answers = {Answer::No};
    window_->tbuEraseClick();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(window_->tbuDownloadAll->isEnabled());
    EXPECT_TRUE(window_->cmbComPort->isEnabled());
    EXPECT_FALSE(window_->Runs().EraseInProgress());
    EXPECT_EQ(prompter_.shown.size(), 1u);
    QThread::msleep(50);
    // The reader was read, never told to erase.
    for (const auto& command : server_->Commands()) {
        EXPECT_NE(command.text, "{10");
    }
    EXPECT_EQ(server_->Memory(), demo_);
}

TEST_F(CommandsTest, EraseWithoutAnswerIsAskedAboutThenGivenUpAndALateResultIgnored) {
    // How many replies the survey before the erase takes: the reader falls
    // silent after them, so the read-back never comes.
    StartReader();
    CreateWindow();
    prompter_.answers = {Answer::No};
    window_->tbuEraseClick();
    ASSERT_TRUE(WaitForRunEnd());
    sim::FaultOptions faults;
    faults.stopAfter = server_->Stats().repliesSent;
    window_.reset();
    StartReader(faults);
    CreateWindow();
    window_->tmrComPort.setInterval(300);
    prompter_.shown.clear();
    prompter_.answers = {Answer::Yes, Answer::Yes, Answer::No};
    window_->tbuEraseClick();
    ASSERT_TRUE(WaitForRunEnd());
    const QString again = "The reader has not confirmed the erase. Wait for it again?";
    const QString given =
        "The reader did not confirm the erase: it may not be erased. Download "
        "All shows what it still holds.";
    EXPECT_EQ(prompter_.Texts().mid(1),
              (QStringList{"Connection TimeOut", again, "Connection TimeOut", again, given}));
    EXPECT_FALSE(window_->Runs().EraseInProgress());
    EXPECT_EQ(window_->tmrComPort.interval(), 300);
    window_->Dispatch(WM_DEVICE_NOTIFY, DEV_ERASE_RESULT, 0);
    EXPECT_EQ(prompter_.Texts().last(), given);
    EXPECT_EQ(window_->tmrComPort.interval(), 300);
    // Asked again after the first yes: the read of address 0 twice, at least.
    const auto commands = server_->Commands();
    const auto erase = std::find_if(commands.begin(), commands.end(),
                                    [](const auto& c) { return c.text == "{10"; });
    ASSERT_NE(erase, commands.end());
    EXPECT_GE(std::count_if(erase, commands.end(),
                            [](const auto& c) { return c.PayloadText() == "00000"; }),
              2);
}

// Mended: a silence in the walk of the log chain holds the run and asks, as
// at any stage: Yes goes on where it stood.
TEST_F(CommandsTest, StallBeforeTheLogsAreKnownIsAskedAndGoesOn) {
    sim::FaultOptions faults;
    faults.stopAfter = 2;  // within the walk of the log chain
    faults.resumeAfter = std::chrono::milliseconds(1000);
    StartReader(faults);
    CreateWindow();
    window_->tmrComPort.setInterval(700);
    prompter_.answers = {Answer::Yes, Answer::Yes, Answer::Yes, Answer::Yes};
    // Mended: from the click on, the progress window says what the run does.
    QString state;
    prompter_.whileShown = [&](const QString&) {
        if (window_->progressWindow != nullptr && window_->progressWindow->isVisible()) {
            state = window_->progressWindow->lblState->text();
        }
    };
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(state, "Looking for logs in the reader: 2 found");
    ExpectWentOnAfterYes();
    EXPECT_EQ(window_->Runs().LogCounter(), demoLogs_);
    EXPECT_EQ(FilesIn(outDir_).size(), demoLogs_);
    EXPECT_EQ(window_->progressWindow, nullptr);
}

TEST_F(CommandsTest, EmptyReaderEndsTheRunSayingSo) {
    const sim::MemoryImage erased;
    StartReader({}, 0, "auto", &erased);
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    // Mended: a run that found nothing says so.
    EXPECT_EQ(prompter_.Texts(), QStringList{"The Arvelo holds no logs."});
    EXPECT_EQ(window_->Runs().LogCounter(), 0);
    ASSERT_NE(window_->progressWindow, nullptr);  // kept, hidden, for the next run
    EXPECT_FALSE(window_->progressWindow->isVisible());
    EXPECT_EQ(window_->logListWindow, nullptr);
}

TEST_F(CommandsTest, SingleLogDownloadShowsItsProgressAtOnce) {
    StartReader({}, 115200);
    CreateWindow();
    window_->tbuDownloadClick();
    ASSERT_NE(window_->progressWindow, nullptr);
    EXPECT_TRUE(window_->progressWindow->isVisible());
    EXPECT_EQ(window_->progressWindow->lblTotalLog->text(), "1");
    EXPECT_EQ(window_->progressWindow->proLogProgress->maximum(), 1);
    EXPECT_EQ(window_->progressWindow->pos(), window_->pos() + QPoint(50, 150));
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(ListedNames().size(), 1);
    EXPECT_EQ(FilesIn(outDir_), ListedNames());
    EXPECT_EQ(prompter_.Texts().last(), QString("1 files saved to %1.").arg(outDir_));
}

TEST_F(CommandsTest, ExportStartsInTheSelectedLogsFolderAndEndsWithTheDataWindow) {
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    window_->logListWindow->lstFileSelection->setCurrentRow(-1);
    const QString target = temp_.filePath("exported");
    prompter_.save = {true, target, 2};
    window_->tbuSaveClick();
    ASSERT_EQ(prompter_.requests.size(), 1u);
    EXPECT_EQ(prompter_.requests[0].initialDirectory, outDir_);
    EXPECT_EQ(prompter_.requests[0].filters,
              (QStringList{"Ombrel File (*.omb)", "Comma Seperated File (*.csv)",
                           "CSV with column titles (*.csv)"}));
    // Mended: the list chooses the log the data window shows (and exports),
    // whose name is offered; the file gets the layout's extension and the
    // status bar says where it went.
    const QString shown = window_->dataWindow->windowTitle();
    EXPECT_EQ(window_->logListWindow->lstFileSelection->currentItem()->text(), shown);
    EXPECT_EQ(prompter_.requests[0].fileName, QFileInfo(shown).completeBaseName());
    EXPECT_TRUE(QFile::exists(target + ".csv"));
    EXPECT_EQ(window_->statusBar()->currentMessage(), "Exported to " + target + ".csv");

    // Closing the data window turns Export off; another message number does not.
    window_->Dispatch(WM_OUTPUT_CLOSED, 99, 0);
    EXPECT_TRUE(window_->tbuSave->isEnabled());
    window_->dataWindow->parentWidget()->close();
    ASSERT_TRUE(WaitFor([this] { return !window_->SaveAs->isEnabled(); }));
    EXPECT_FALSE(window_->tbuSave->isEnabled());
    EXPECT_EQ(window_->dataWindow, nullptr);
    // Picking a log opens a new data window with Export.
    window_->Windows->actions().at(2)->trigger();
    ASSERT_NE(window_->dataWindow, nullptr);
    EXPECT_EQ(window_->dataWindow->windowTitle(), ListedNames().at(1));
    EXPECT_TRUE(window_->tbuSave->isEnabled());
}

TEST_F(CommandsTest, MissingOutputFolderEndsTheRunWithExportFileError) {
    StoreDirectorySettings(temp_.filePath("missing/"), ".omb", 11);
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(prompter_.Texts().size(), 1);
    EXPECT_TRUE(prompter_.Texts()[0].startsWith(
        "Export File Error\ncannot create " + temp_.filePath("missing/") +
        "HARBOUR_GAUGE_320417_03_31_24.omb: No such file or directory\n0 files saved to "))
        << prompter_.Texts()[0].toStdString();
    EXPECT_EQ(window_->Runs().LogCounter(), 0);
    EXPECT_EQ(window_->progressWindow, nullptr);
    EXPECT_TRUE(ListedNames().isEmpty());
}

TEST_F(CommandsTest, NameThatDoesNotFitNeverReopensTheFinishedFile) {
    // The first log's name fits in 255 characters, the second's does not.
    QString directory = temp_.path() + "/";
    while (directory.size() < 220) {
        directory += "d";
    }
    directory.truncate(220);
    directory += "/";
    ASSERT_TRUE(QDir().mkpath(directory));
    StoreDirectorySettings(directory, ".omb", 11);
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(prompter_.Texts().size(), 1);
    EXPECT_TRUE(prompter_.Texts()[0].startsWith("Export File Error\nno file name fits in " +
                                                directory + "\n1 files saved to "));
    EXPECT_TRUE(
        prompter_.Texts()[0].contains("Not saved: log 2 of 4 (WELLFIELD NORTH PT2, "
                                      "serial number 31882): no file name fits in "));
    const QStringList files = FilesIn(directory);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(ListedNames(), files);
    QFile first(files[0]);
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    const QByteArray text = first.readAll();
    EXPECT_TRUE(text.contains("HARBOUR GAUGE 3"));
    EXPECT_TRUE(text.contains("END OF DATA FILE"));
    EXPECT_EQ(window_->Runs().LogCounter(), 1);
}

TEST_F(CommandsTest, FirstUseStoresDefaultsAndAMissingStoredPortFallsBackToTheFirst) {
    settings::SetStoreFile(temp_.filePath("fresh.ini"));
    CreateWindow([] { return QList<PortChoice>{{"COM3:", {}}, {"COM7:", {}}}; });
    EXPECT_EQ(window_->windowTitle(), "Arvelo");
    EXPECT_EQ(window_->BrimCast->title(), "&Arvelo");
    EXPECT_EQ(window_->tmrComPort.interval(), 5000);
    settings::SettingsKey port(settings::KEY_COM_PORT);
    EXPECT_EQ(port.QueryString(settings::VALUE_COM_PORT, 32), QString("COM3:"));
    EXPECT_EQ(port.QueryDword(settings::VALUE_TIME_OUT), 5u);
    settings::SettingsKey dir(settings::KEY_ARVELO);
    EXPECT_EQ(dir.QueryString(settings::VALUE_OUTPUT_DIR, 256), temp_.filePath("documents/"));
    EXPECT_EQ(dir.QueryString(settings::VALUE_FILE_TYPE, 256), QString(".omb"));
    EXPECT_EQ(dir.QueryDword(settings::VALUE_FILE_OPTION), 11u);

    window_.reset();
    port.SetString(settings::VALUE_COM_PORT, "COM9:");
    CreateWindow([] { return QList<PortChoice>{{"COM3:", {}}, {"COM7:", {}}}; });
    EXPECT_EQ(window_->cmbComPort->currentIndex(), 0);
    EXPECT_EQ(window_->cmbComPort->currentText(), "COM3:");
}

TEST_F(CommandsTest, PortListFallsBackOnlyWhenDiscoveryFails) {
    CreateWindow([] { return std::nullopt; });
    QStringList items;
    for (int i = 0; i < window_->cmbComPort->count(); ++i) {
        items << window_->cmbComPort->itemText(i);
    }
    EXPECT_EQ(items, (QStringList{"COM1:", "COM2:", "COM3:", "COM4:"}));
    window_.reset();
    CreateWindow([] { return QList<PortChoice>{}; });
    EXPECT_EQ(window_->cmbComPort->count(), 0);
    window_->tbuDownloadAllClick();
    EXPECT_EQ(prompter_.Texts(),
              QStringList{"Open Port error\nno port is chosen (the machine has none: plug in the "
                          "reader's cable or adapter)"});
    EXPECT_TRUE(window_->tbuDownloadAll->isEnabled());
    EXPECT_EQ(window_->Runs().LogCounter(), 0);
    EXPECT_FALSE(prompter_.Busy());
}

// Mended: the list is read again when it opens, so that a reader plugged in
// after start-up is offered, with its device beside it, and the port settings
// offer the same; a port that cannot be opened is named with the reason.
TEST_F(CommandsTest, PortListsAreReadAgainWhenOpenedAndAPortThatFailsIsNamed) {
    StartReader();
    QList<PortChoice> ports{{"COM77:", {}}};
    CreateWindow([&ports] { return ports; });
    ASSERT_EQ(window_->cmbComPort->currentText(), "COM77:");
    window_->tbuDownloadAllClick();
    EXPECT_EQ(
        prompter_.Texts().last(),
        "Open Port error\nCOM77: no such port (is the reader's cable or adapter plugged in?)");

    const QString reader = QString::fromStdString(server_->PortName());
    const std::optional<QList<PortChoice>> discovered = DiscoverComPorts();
    ASSERT_TRUE(discovered);
    for (const PortChoice& port : *discovered) {
        if (port.name == reader + ":") {
            ports.append(port);
        }
    }
    ASSERT_EQ(ports.size(), 2);
    const QString device = QString::fromStdString(platform::ResolveComPort(reader.toStdString()));
    EXPECT_EQ(ports[1].device, device);
    window_->cmbComPort->showPopup();
    window_->cmbComPort->hidePopup();
    ASSERT_EQ(window_->cmbComPort->count(), 2);
    EXPECT_EQ(window_->cmbComPort->itemText(1), reader + ":");
    EXPECT_EQ(window_->cmbComPort->itemData(1, Qt::ToolTipRole).toString(), device);
    EXPECT_EQ(window_->cmbComPort->currentText(), "COM77:");
    auto* settings = window_->findChild<TfrmComPort*>();
    ASSERT_NE(settings, nullptr);
    settings->show();
    EXPECT_EQ(settings->cmbComPort->count(), 2);
    EXPECT_EQ(settings->cmbComPort->currentText(), reader + ":");  // the stored port
    settings->hide();

    const std::shared_ptr<platform::SerialPort> holder =
        platform::SerialPort::Open(reader.toStdString());
    ASSERT_TRUE(holder);
    window_->tbuDownloadAllClick();
    EXPECT_EQ(prompter_.Texts().last(), "Open Port error\n" + reader + " (" + device +
                                            "): the port is in use by another program");
}

// Mended: every menu and item can be reached from the keyboard, and
// Download All has a shortcut, which a run keeps from starting another.
TEST_F(CommandsTest, EveryMenuAndItemHasAMnemonicAndDownloadAllAShortcut) {
    StartReader({}, 115200);
    CreateWindow();
    for (QAction* menu : window_->menuBar()->actions()) {
        EXPECT_TRUE(menu->text().contains('&')) << menu->text().toStdString();
        for (const QAction* item : menu->menu()->actions()) {
            if (item->isVisible()) {
                EXPECT_TRUE(item->text().contains('&')) << item->text().toStdString();
            }
        }
    }
    QApplication::setActiveWindow(window_.get());
    QTest::keyClick(window_.get(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(window_->Runs().Running());
    QTest::keyClick(window_.get(), Qt::Key_D, Qt::ControlModifier);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(prompter_.Texts(),
              QStringList{QString("%1 files saved to %2.").arg(demoLogs_).arg(outDir_)});
}

TEST_F(CommandsTest, TwoDigitPortIsUsedWhole) {
    StartReader({}, 0, "COM10");
    CreateWindow();
    ASSERT_EQ(window_->cmbComPort->currentText(), "COM10:");
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(prompter_.Texts().last(),
              QString("%1 files saved to %2.").arg(demoLogs_).arg(outDir_));
}

}  // namespace

namespace {

// The progress window keeps the focus once the log list is up, so that
// Escape cancels; the block count starts from 0 for every log; inner windows
// show the program's icon.
TEST_F(CommandsTest, TheProgressWindowKeepsTheFocusAndCountsEachLogsBlocks) {
    const sim::MemoryImage image = e2e::ImageOf("two-logs.json");
    StartReader({}, 9600, "auto", &image);
    CreateWindow();
    QString blocksAtSecondLog;
    // Whether the progress window was active while the log list was up; the
    // window system activates it a round trip after the program asks.
    bool progressActive = false;
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitFor([&] {
        if (window_->logListWindow != nullptr && window_->progressWindow != nullptr &&
            QApplication::activeWindow() == window_->progressWindow.data()) {
            progressActive = true;
        }
        if (ListedNames().size() == 1 && blocksAtSecondLog.isEmpty() &&
            window_->progressWindow != nullptr) {
            blocksAtSecondLog = window_->progressWindow->lblBlockNumber->text();
        }
        return window_->tbuDownloadAll->isEnabled();
    }));
    EXPECT_EQ(blocksAtSecondLog, "0");
    const QIcon program = QApplication::windowIcon();
    EXPECT_FALSE(program.isNull());
    ASSERT_NE(window_->dataWindow, nullptr);
    EXPECT_EQ(window_->dataWindow->parentWidget()->windowIcon().cacheKey(), program.cacheKey());
    // Which window is active only a window system tells (the test's run under Xvfb).
    if (QGuiApplication::platformName() != "offscreen") {
        EXPECT_TRUE(progressActive);
    }
}

TEST_F(CommandsTest, TheAboutBoxClosesWithEscapeOrAClick) {
    CreateWindow();
    auto* about = window_->findChild<TfrmAbout*>();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->lblInfo->text().count("Version"), 1);
    window_->About->trigger();
    ASSERT_TRUE(about->isVisible());
    QTest::keyClick(about, Qt::Key_Escape);
    EXPECT_FALSE(about->isVisible());
    window_->About->trigger();
    QTest::mouseClick(about, Qt::LeftButton);
    EXPECT_FALSE(about->isVisible());
}

}  // namespace
