// Download All through the real main window: what the user finds afterwards
// (files, log list, Windows menu, data window, messages) for a clean run, a
// deferred one, a cancelled one, a stalled one and one with a corrupted log.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include "app/MainWindowFixture.h"
#include "archive/Archive.h"
#include "datafile/StagedFile.h"
#include "graph/LogPlot.h"
#include "settings/StoredSettings.h"
#include "support/FileSizeLimit.h"
#include "views/TfrmGraph.h"
#include "views/TfrmProgress.h"

namespace {

using Answer = Prompter::Answer;

// What the archive holds after a run of that many logs.
std::vector<archive::LoggerSummary> ArchivedLoggers(int logs) {
    auto opened = archive::Archive::Open("");  // the default, in the sandbox
    if (!opened) {
        ADD_FAILURE() << opened.failure().message;
        return {};
    }
    const auto downloads = (*opened)->Downloads();
    EXPECT_TRUE(downloads && static_cast<int>(downloads->size()) == logs);
    auto read = (*opened)->Loggers();
    EXPECT_TRUE(read);
    return read ? std::move(*read) : std::vector<archive::LoggerSummary>{};
}

// The downloads the default archive lists; -1 when it cannot be read.
int ArchivedDownloads() {
    const auto archive = archive::Archive::Open("");
    if (!archive) {
        return -1;
    }
    const auto listed = (*archive)->Downloads();
    return listed ? static_cast<int>(listed->size()) : -1;
}

// A row a logger, and the filter by a serial leaves one.
void ExpectOneRowALogger(TfrmArchive& shown, const std::vector<archive::LoggerSummary>& loggers) {
    int rows = 0;
    for (int g = 0; g < shown.tvwLoggers->topLevelItemCount(); ++g) {
        rows += shown.tvwLoggers->topLevelItem(g)->childCount();
    }
    EXPECT_EQ(rows, static_cast<int>(loggers.size()));
    shown.edtFilter->setText(QString::fromStdString(loggers.front().serial));
    int visible = 0;
    for (int g = 0; g < shown.tvwLoggers->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = shown.tvwLoggers->topLevelItem(g);
        for (int i = 0; i < group->childCount(); ++i) {
            visible += group->isHidden() || group->child(i)->isHidden() ? 0 : 1;
        }
    }
    EXPECT_EQ(visible, 1);
}

class DownloadTest : public MainWindowFixture {
  protected:
    // That logger in a Graph, whose span File > Export writes as CSV: the
    // CSV filter, after the pictures', with no extension typed.
    void ExportsTheSpanOfAGraphOf(TfrmArchive& shown) {
        TfrmGraph* graph = nullptr;
        QObject::connect(&shown, &TfrmArchive::GraphOpened,
                         [&graph](TfrmGraph* opened) { graph = opened; });
        shown.btnGraphClick();
        ASSERT_TRUE(WaitFor([&graph] { return graph != nullptr; }));
        EXPECT_TRUE(window_->SaveAs->isEnabled());
        prompter_.save = {true, temp_.filePath("span"),
                          static_cast<int>(PictureFormats().size()) + 1};
        window_->SaveAs->trigger();
        ASSERT_EQ(prompter_.requests.size(), 1u);
        EXPECT_EQ(
            prompter_.requests[0].filters.mid(static_cast<int>(PictureFormats().size())),
            (QStringList{"Archive CSV (*.csv)", "CSV for pandas (*.csv)", "WaterML 2.0 (*.xml)"}));
        QFile span(temp_.filePath("span.csv"));
        ASSERT_TRUE(span.open(QIODevice::ReadOnly));
        EXPECT_TRUE(span.readLine().startsWith("time_utc,"));
        EXPECT_EQ(window_->statusBar()->currentMessage(), "Exported to " + span.fileName());
        graph->parentWidget()->close();
    }

    // An archive that cannot be opened (a folder) costs no file. The end box
    // says why, and offers to import them now: the user mends the setting
    // meanwhile, and Import now brings the run's logs in.
    void ArchiveThatCannotBeOpenedCostsNoFile() {
        settings::ArchiveSettings folder;
        folder.location = outDir_;
        ASSERT_TRUE(folder.Save());
        prompter_.choices = {1};
        prompter_.whileShown = [](const QString& text) {
            if (text.contains("The archive was not updated: ")) {
                settings::ArchiveSettings good;
                good.location.clear();  // the default again
                good.Save();
            }
        };
        window_->tbuDownloadAllClick();
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_EQ(FilesIn(outDir_).size(), 2 * demoLogs_);
        ASSERT_FALSE(prompter_.shown.empty());
        const auto& box = prompter_.shown.back();
        EXPECT_TRUE(
            box.text.startsWith(QString("%1 files saved to %2.\nThe archive was not updated: ")
                                    .arg(2 * demoLogs_)
                                    .arg(outDir_)))
            << box.text.toStdString();
        EXPECT_EQ(box.choices, (QStringList{"OK", "&Import now"}));
        ASSERT_TRUE(WaitFor([this] { return window_->lblArchive->isVisible(); }));
        ASSERT_GE(ArchiveNotes().size(), 2);
        EXPECT_TRUE(ArchiveNotes().at(1).startsWith(
            QString("Archive: the %1 logs of this download could not be added (").arg(demoLogs_)))
            << ArchiveNotes().at(1).toStdString();
        EXPECT_TRUE(
            ArchiveNotes().at(1).endsWith("importing their folder later catches up "
                                          "(arvelo-cli archive import FOLDER)."));
        ASSERT_TRUE(WaitFor([&] { return ArchivedDownloads() == 2 * demoLogs_; }));
    }
};

TEST_F(DownloadTest, DownloadAllSavesListsAndShowsEveryLog) {
    StartReader();
    CreateWindow();
    ASSERT_GE(demoLogs_, 3);
    window_->tbuDownloadAllClick();
    EXPECT_FALSE(window_->tbuDownloadAll->isEnabled());
    EXPECT_TRUE(prompter_.Busy());
    ASSERT_TRUE(WaitForRunEnd());

    const QStringList files = FilesIn(outDir_);
    EXPECT_EQ(files.size(), demoLogs_);
    EXPECT_EQ(Sorted(ListedNames()), files);
    EXPECT_EQ(WindowsMenuNames(), ListedNames());
    EXPECT_EQ(window_->Logs().count(), demoLogs_);
    EXPECT_TRUE(files.filter("HARBOUR_GAUGE_3").size() == 1) << files.join(" ");
    for (const QString& file : files) {
        EXPECT_TRUE(file.endsWith(".omb"));
        QFile saved(file);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll().contains("END OF DATA FILE"));
    }
    // The data window shows the last log, selected in the list.
    ASSERT_NE(window_->dataWindow, nullptr);
    EXPECT_EQ(window_->dataWindow->windowTitle(), ListedNames().last());
    EXPECT_EQ(window_->logListWindow->lstFileSelection->currentRow(), demoLogs_ - 1);
    EXPECT_TRUE(window_->tbuSave->isEnabled());
    EXPECT_TRUE(window_->SaveAs->isEnabled());
    EXPECT_EQ(window_->progressWindow, nullptr);
    EXPECT_FALSE(prompter_.Busy());
    // The log list is as wide as its longest name needs (6 pixels a character).
    int width = 306;
    for (const QString& name : ListedNames()) {
        width = std::max(width, 6 * static_cast<int>(name.size()) + 40);
    }
    EXPECT_GT(width, 306);
    EXPECT_EQ(window_->logListWindow->width(), width);
    EXPECT_EQ(prompter_.Texts(),
              QStringList{QString("%1 files saved to %2.").arg(demoLogs_).arg(outDir_)});
    EXPECT_EQ(prompter_.shown.back().caption, "Information");

    // A second run counts every log since start-up; the names take suffixes.
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(FilesIn(outDir_).size(), 2 * demoLogs_);
    EXPECT_EQ(prompter_.Texts().last(),
              QString("%1 files saved to %2.").arg(2 * demoLogs_).arg(outDir_));
    // The same logs again: the status bar says so for each logger.
    ASSERT_TRUE(WaitFor([this] { return !window_->Archiving(); }));
    const QString message = window_->statusBar()->currentMessage();
    EXPECT_TRUE(message.startsWith("Archive: logger ")) << message.toStdString();
    EXPECT_EQ(message.count(": nothing new."), message.count("Archive: logger "))
        << message.toStdString();
    EXPECT_TRUE(window_->lblArchive->toolTip().contains(message.section("  ", 0, 0)));
    EXPECT_TRUE(ListedNames().last().endsWith("a.omb"));
    // The open data window keeps its log; the Windows menu shows any other.
    EXPECT_EQ(window_->dataWindow->windowTitle(), ListedNames().at(demoLogs_ - 1));
    window_->Windows->actions().at(3)->trigger();
    EXPECT_EQ(window_->dataWindow->windowTitle(), ListedNames().at(2));
    EXPECT_EQ(window_->logListWindow->lstFileSelection->currentRow(), 2);
}

TEST_F(DownloadTest, AFileCutShortIsReportedAndNeitherListedNorCounted) {
    StartReader();
    CreateWindow();
    {
        const FileSizeLimit fullDisk(50000);  // the first log's file needs twice that
        window_->tbuDownloadAllClick();
        ASSERT_TRUE(WaitForRunEnd());
    }
    // What failed and where, in the system's words; and each log not saved.
    const QString failed =
        "writing " + outDir_ + "HARBOUR_GAUGE_320417_03_31_24.omb failed: File too large";
    const QStringList notSaved = {
        "Not saved: log 1 of 4 (HARBOUR GAUGE 3, serial number 20417): " + failed,
        "Not saved: log 2 of 4: not read", "Not saved: log 3 of 4: not read",
        "Not saved: log 4 of 4: not read"};
    EXPECT_EQ(prompter_.Texts(),
              QStringList{"Export File Error\n" + failed + "\n0 files saved to " + outDir_ + ".\n" +
                          notSaved.join(".\n") + "."});
    EXPECT_TRUE(ListedNames().isEmpty());
    EXPECT_EQ(NotSavedLines(), notSaved);
    EXPECT_EQ(window_->Logs().count(), 0);
    EXPECT_EQ(window_->Runs().LogCounter(), 0);
    EXPECT_EQ(window_->progressWindow, nullptr);
    EXPECT_EQ(window_->dataWindow, nullptr);
    EXPECT_EQ(FilesIn(outDir_).size(), 1);  // what could be written, under no listed name
}

TEST_F(DownloadTest, DirectoryOnDriveBIsSavedAfterTheRun) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(temp_.path()));
    ASSERT_TRUE(QDir().mkpath("b-drive"));
    StoreDirectorySettings("b-drive/", ".omb", 0);
    StartReader({}, 115200);  // slow enough to see the list during the run
    CreateWindow();
    QStringList namesDuringRun;
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitFor([&] {
        if (window_->logListWindow != nullptr && ListedNames().size() == demoLogs_ - 1) {
            namesDuringRun = ListedNames();
        }
        return window_->tbuDownloadAll->isEnabled();
    }));
    QStringList placeholders;
    QStringList saved;
    for (int i = 1; i <= demoLogs_; ++i) {
        placeholders << QString("log%1").arg(i);
    }
    EXPECT_EQ(namesDuringRun, placeholders.mid(0, demoLogs_ - 1));
    // Named after the counter at the end of the run: log4, log4a, log4b, ...
    const QString stem = QString("b-drive/log%1").arg(demoLogs_);
    saved << stem + ".omb";
    for (int i = 1; i < demoLogs_; ++i) {
        saved << stem + QChar('a' + i - 1) + ".omb";
    }
    EXPECT_EQ(ListedNames(), saved);
    EXPECT_EQ(WindowsMenuNames(), saved);
    for (const QString& name : saved) {
        EXPECT_TRUE(QFile::exists(name)) << name.toStdString();
    }
    EXPECT_TRUE(window_->Runs().DeferredSave());
    EXPECT_TRUE(prompter_.Texts().isEmpty()) << prompter_.Texts().join("|").toStdString();
    ASSERT_NE(window_->dataWindow, nullptr);
    EXPECT_EQ(window_->dataWindow->windowTitle(), placeholders.last());
    QDir::setCurrent(previous);
}

TEST_F(DownloadTest, CancelMidLogKeepsFinishedFilesAndDropsThePartOne) {
    StartReader({}, 115200);
    CreateWindow();
    window_->tbuDownloadAllClick();
    // Into the second log's data.
    ASSERT_TRUE(WaitFor([this] {
        return ListedNames().size() == 1 && window_->progressWindow != nullptr &&
               window_->progressWindow->proDownloadProgress->value() >= 2;
    }));
    const QString partFile = QString::fromStdString(PartialName(window_->Runs().CurrentFileName()));
    ASSERT_TRUE(QFile::exists(partFile));
    // A log announced with no blocks still counts the ones that come.
    QProgressBar* blocks = window_->progressWindow->proDownloadProgress;
    window_->Dispatch(WM_DEVICE_NOTIFY, DEV_BLOCK_TOTAL, 0);
    window_->Dispatch(WM_DEVICE_NOTIFY, DEV_BLOCK, 0);
    EXPECT_EQ(window_->progressWindow->lblBlockNumber->text(), "1\n");
    EXPECT_EQ(blocks->value(), 1);
    EXPECT_EQ(blocks->maximum(), 1);
    QTest::mouseClick(window_->progressWindow->butCancel, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(window_->progressWindow, nullptr);
    EXPECT_FALSE(QFile::exists(partFile));
    EXPECT_EQ(FilesIn(outDir_), ListedNames());
    EXPECT_EQ(window_->Runs().LogCounter(), 1);
    EXPECT_FALSE(prompter_.Busy());
    EXPECT_EQ(prompter_.Texts(),
              QStringList{"Download cancelled.\n1 files saved to " + outDir_ +
                          ".\nNot saved: log 2 of 4 (WELLFIELD NORTH PT2, serial number 31882): "
                          "the run was cancelled while it was read.\nNot saved: log 3 of 4: not "
                          "read.\nNot saved: log 4 of 4: not read."});
    EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Download cancelled"));

    // A notification the stopped worker posted before the cancel changes nothing.
    window_->Dispatch(WM_DEVICE_NOTIFY, DEV_LOG_DONE, 0);
    EXPECT_EQ(ListedNames().size(), 1);
    EXPECT_EQ(window_->Runs().LogCounter(), 1);
}

// Mended: Enter keeps the download going, and a run that ends while the
// question is open closes it, whatever the user would answer later; the
// program stays for the run's last word.
TEST_F(DownloadTest, ARunEndingWhileClosingIsAskedClosesTheQuestion) {
    StartReader({}, 115200);
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitFor([this] { return ListedNames().size() == 1; }));
    const QString question = "A download is running. Stop it and exit?";
    prompter_.answers = {Answer::Yes};
    prompter_.whileShown = [&](const QString& text) {
        if (text == question) {
            WaitForRunEnd();
        }
    };
    window_->close();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(
        prompter_.Texts(),
        (QStringList{question, QString("%1 files saved to %2.").arg(demoLogs_).arg(outDir_)}));
    EXPECT_EQ(prompter_.shown[0].buttons, Prompter::Buttons::YesNoDefaultNo);
    EXPECT_EQ(FilesIn(outDir_).size(), demoLogs_);
    // Nothing runs: the program closes without asking.
    window_->close();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(prompter_.shown.size(), 2u);
}

TEST_F(DownloadTest, StalledReaderResumedAfterYes) {
    sim::FaultOptions faults;
    faults.stopAfter = 40;  // in the middle of the logs, longer than the worker asks again
    faults.resumeAfter = std::chrono::milliseconds(2000);
    StartReader(faults);
    CreateWindow();
    window_->tmrComPort.setInterval(1500);
    prompter_.answers = {Answer::Yes, Answer::Yes, Answer::Yes};
    // Mended: the status bar says on which port the program waits.
    QStringList waiting;
    prompter_.whileShown = [&](const QString& text) {
        if (text == "Connection TimeOut" && window_->lblWaiting->isVisible()) {
            waiting << window_->lblWaiting->text();
        }
    };
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_FALSE(waiting.isEmpty());
    EXPECT_TRUE(
        waiting[0].startsWith(QString("Waiting for the reader on %1 (%2): no answer for 1 s")
                                  .arg(QString::fromStdString(server_->PortName()),
                                       QString::fromStdString(server_->DevicePath()))))
        << waiting[0];
    EXPECT_FALSE(window_->lblWaiting->isVisible());
    ExpectWentOnAfterYes();
    EXPECT_EQ(window_->Logs().count(), demoLogs_);
    EXPECT_EQ(ListedNames().size(), demoLogs_);
}

// No gives the run up, in the chain walk or in a log's data; the end names
// every log of the reader not saved, and keeps what was read of the one in
// progress. A reader that never answered is told to be looked for.
TEST_F(DownloadTest, StalledReaderGivenUpAfterNoNamesWhatWasNotSaved) {
    const QString partial = outDir_ + "HARBOUR_GAUGE_320417_03_31_24.omb.partial";
    struct Case {
        const char* name;
        std::uint64_t stopAfter;  // 0: the reader never answers
        QStringList notSaved;     // the box's lines after the count of files
    };
    const std::vector<Case> cases = {
        {"in the chain walk",
         2,
         {"None of the reader's logs was saved: the run ended before they were counted."}},
        {"in the data",
         40,
         {"Not saved: log 1 of 4 (HARBOUR GAUGE 3, serial number 20417): the run ended while it "
          "was read; what was read is kept as " +
              partial + ".",
          "Not saved: log 2 of 4: not read.", "Not saved: log 3 of 4: not read.",
          "Not saved: log 4 of 4: not read."}},
        {"a reader that never answers", 0, {}},
    };
    for (const Case& c : cases) {
        sim::FaultOptions faults;
        faults.stopAfter = c.stopAfter;
        faults.drop.every = c.stopAfter == 0 ? 1 : 0;
        StartReader(faults);
        CreateWindow();
        window_->tmrComPort.setInterval(300);
        prompter_.shown.clear();
        prompter_.answers = {Answer::No};
        window_->tbuDownloadAllClick();
        ASSERT_TRUE(WaitForRunEnd()) << c.name;
        const QStringList texts = prompter_.Texts();
        ASSERT_EQ(texts.size(), 3) << c.name << texts.join("|").toStdString();
        EXPECT_EQ(texts.mid(0, 2),
                  (QStringList{"Connection TimeOut", "Continue the download operation!"}));
        QStringList end = QStringList{"The download was given up.",
                                      QString("0 files saved to %1.").arg(outDir_)} +
                          c.notSaved;
        if (c.stopAfter == 0) {
            end << "None of the reader's logs was saved: the run ended before they were counted."
                << "The reader did not answer on " + QString::fromStdString(server_->PortName()) +
                       " (" + QString::fromStdString(server_->DevicePath()) +
                       "): check that it is connected and switched on, and that this is its "
                       "port (Configuration > Com Port Setting).";
        }
        EXPECT_EQ(texts[2], end.join('\n')) << c.name;
        EXPECT_EQ(window_->progressWindow, nullptr);
        EXPECT_FALSE(window_->tmrComPort.isActive());
        // The partly written file is closed and kept.
        EXPECT_EQ(QFile::exists(partial), c.stopAfter == 40) << c.name;
        EXPECT_EQ(window_->Runs().LogCounter(), 0);
        EXPECT_FALSE(prompter_.Busy());
        window_.reset();
        server_.reset();
        QDir(outDir_).removeRecursively();
        QDir().mkpath(outDir_);
    }
}

// A corrupted log is read again after each Yes, then skipped. Mended: the
// skipped log is named by its place and what its header said, in the
// message, the status bar and the log list (an entry that cannot be
// chosen), and Erase names it as kept nowhere.
TEST_F(DownloadTest, CorruptedLogRetriedThenSkippedAndNamed) {
    ASSERT_EQ(demoLogs_, 4);
    for (const auto& [invalid, which] :
         {std::pair{2, QString("log 2 of 4 (WELLFIELD NORTH PT2, serial number 31882)")},
          std::pair{4, QString("log 4 of 4 (RAIN GAUGE HILLTOP, serial number 60913)")}}) {
        sim::FaultOptions faults;
        faults.invalidLog = invalid;
        StartReader(faults);
        CreateWindow();
        prompter_.shown.clear();
        prompter_.answers = {Answer::Yes, Answer::Yes, Answer::Yes, Answer::Yes};
        window_->tbuDownloadAllClick();
        ASSERT_TRUE(WaitForRunEnd());
        QStringList expected;
        for (int retry = 0; retry < 4; ++retry) {
            expected << "Log File in Arvelo corrupted"
                     << "Continue the download operation!"
                     << "Make Sure the Arvelo is in Wait Wait state!";
        }
        expected << "Log Skip!!\n" + which + " stayed corrupted in the reader and is not saved."
                 << QString("3 files saved to %1.\nNot saved: %2: corrupted in the reader.")
                        .arg(outDir_, which);
        EXPECT_EQ(prompter_.Texts(), expected);
        const int row = invalid - 1;
        EXPECT_EQ(window_->logListWindow->lstFileSelection->item(row)->text(),
                  "Not saved: " + which + ": corrupted in the reader");
        EXPECT_EQ(window_->logListWindow->lstFileSelection->item(row)->flags(), Qt::NoItemFlags);
        EXPECT_FALSE(window_->Windows->actions().at(row + 1)->isEnabled());
        EXPECT_EQ(Sorted(ListedNames()), FilesIn(outDir_));
        EXPECT_EQ(window_->Logs().count(), 3);
        EXPECT_EQ(window_->Runs().LogCounter(), 3);
        EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Not saved: " + which))
            << window_->statusBar()->currentMessage();
        // The data window shows the last log saved, and the list chooses it.
        ASSERT_NE(window_->dataWindow, nullptr);
        const int shown = window_->logListWindow->lstFileSelection->currentRow();
        EXPECT_EQ(window_->logListWindow->lstFileSelection->item(shown)->text(),
                  window_->dataWindow->windowTitle());

        prompter_.shown.clear();
        prompter_.answers = {Answer::No};
        window_->tbuEraseClick();
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(prompter_.shown.size(), 1u);
        EXPECT_TRUE(prompter_.shown[0].text.endsWith(
            "\n\nThe reader holds 4 logs: 3 are in the archive. 3 of them are in files saved "
            "this session.\nKept nowhere:\n" +
            which + " (its header is corrupted)"))
            << prompter_.shown[0].text.toStdString();
        EXPECT_EQ(prompter_.shown[0].buttons, Prompter::Buttons::YesNoDefaultNo);
        EXPECT_TRUE(window_->tbuErase->isEnabled());
        QThread::msleep(50);
        for (const auto& command : server_->Commands()) {
            EXPECT_NE(command.text, "{10");
        }
        window_.reset();
        server_.reset();
        QDir(outDir_).removeRecursively();
        QDir().mkpath(outDir_);
    }
}

// The archive's side of a run, as the window shows it: the gain in the
// status bar and the log list, a click on it opening the Archive window on
// its loggers, and an archive that cannot be written told with how to catch up.
// Before the first log goes into the archive the user says at which offset
// the loggers' clocks run, this computer's standard time proposed; closing
// the question starts nothing, and the offset chosen is every stay's.
TEST_F(DownloadTest, TheFirstArchivingAsksWhatTheLoggersClocksKeep) {
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    settings::SettingsKey(settings::KEY_ARCHIVE).SetString(settings::VALUE_ARCHIVE_CLOCK, "");
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_EQ(prompter_.shown.size(), 1u);
    EXPECT_EQ(prompter_.shown.back().choices, (QStringList{"UTC+01:00", "UTC+00:00", "&Other..."}));
    EXPECT_TRUE(window_->tbuDownloadAll->isEnabled());  // nothing started
    prompter_.choices = {0};
    window_->tbuDownloadAllClick();
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(settings::ArchiveSettings::Load().clock, "+01:00");
    ASSERT_TRUE(WaitFor([this] { return window_->lblArchive->isVisible(); }));
    auto opened = archive::Archive::Open("");
    ASSERT_TRUE(opened) << opened.failure().message;
    const auto archive = std::move(*opened);
    const auto wells = archive->Wells();
    ASSERT_TRUE(wells) << wells.failure().message;
    ASSERT_EQ(static_cast<int>(wells->size()), demoLogs_);
    for (const archive::WellRow& well : *wells) {
        ASSERT_EQ(well.deployments.size(), 1u) << well.name;
        EXPECT_EQ(well.deployments[0].clockOffset, 60) << well.name;
    }
}

TEST_F(DownloadTest, WhatARunBringsIntoTheArchiveIsShownAndOpensTheArchiveWindow) {
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_TRUE(WaitFor([this] { return window_->lblArchive->isVisible(); }));
    const std::vector<archive::LoggerSummary> loggers = ArchivedLoggers(demoLogs_);
    ASSERT_FALSE(loggers.empty());
    int64_t samples = 0;
    for (const archive::LoggerSummary& l : loggers) {
        samples += l.held.samples;
    }
    const QString gain = QString("Archive: %1 loggers, %2 new samples, 0 conflicts, 0 gaps")
                             .arg(loggers.size())
                             .arg(QLocale(QLocale::English).toString(samples));
    EXPECT_TRUE(window_->lblArchive->text().contains(gain))
        << window_->lblArchive->text().toStdString();
    EXPECT_EQ(ArchiveNotes(), QStringList{gain});

    // The log list's line and the status bar's both open the Archive window
    // on the loggers the run brought.
    QListWidget* list = window_->logListWindow->lstFileSelection;
    const QList<QListWidgetItem*> note = list->findItems(gain, Qt::MatchExactly);
    ASSERT_EQ(note.size(), 1);
    emit list->itemClicked(note[0]);
    ASSERT_NE(window_->archiveWindow, nullptr);
    TfrmArchive& shown = *window_->archiveWindow;
    ASSERT_TRUE(WaitFor([&shown] { return !shown.Loading(); }));
    EXPECT_EQ(shown.tvwLoggers->selectedItems().size(), static_cast<int>(loggers.size()));
    shown.tvwLoggers->clearSelection();
    emit window_->lblArchive->linkActivated("archive");
    EXPECT_EQ(window_->archiveWindow, &shown);
    ASSERT_TRUE(WaitFor([&shown] { return !shown.Loading(); }));
    EXPECT_EQ(shown.tvwLoggers->selectedItems().size(), static_cast<int>(loggers.size()));
    ExpectOneRowALogger(shown, loggers);

    ASSERT_NO_FATAL_FAILURE(ExportsTheSpanOfAGraphOf(shown));

    ASSERT_NO_FATAL_FAILURE(ArchiveThatCannotBeOpenedCostsNoFile());
    prompter_.whileShown = nullptr;

    // File > Import into Archive: a folder, searched through; all of it is in already.
    prompter_.shown.clear();
    prompter_.choices = {1};
    prompter_.folder = outDir_;
    window_->ImportArchive->trigger();
    ASSERT_TRUE(WaitFor([this] { return !window_->Archiving(); }));
    ASSERT_EQ(prompter_.shown.size(), 2u);
    EXPECT_EQ(prompter_.shown[0].choices, (QStringList{"&Files...", "F&older...", "Cancel"}));
    EXPECT_TRUE(prompter_.shown[1].text.startsWith(
        QString("%1 files given to the archive.\nArchive: 0 loggers, 0 new samples")
            .arg(2 * demoLogs_)))
        << prompter_.shown[1].text.toStdString();
    EXPECT_TRUE(prompter_.shown[1].text.endsWith(
        QString("(%1 files in the archive already)").arg(2 * demoLogs_)));
    EXPECT_EQ(ArchivedDownloads(), 2 * demoLogs_);

    // The setting changed since (the Archive window follows it): the link
    // still opens the archive its line tells of, the tool button the setting's.
    settings::ArchiveSettings other;
    other.location = temp_.filePath("other.sqlite");
    ASSERT_TRUE(other.Save());
    ASSERT_NE(window_->archiveWindow, nullptr);
    window_->archiveWindow->ReadFrom(other.location.toStdString());
    emit window_->lblArchive->linkActivated("archive");
    EXPECT_EQ(window_->archiveWindow->ReadsFrom(), "");
    window_->tbuArchive->trigger();
    EXPECT_EQ(window_->archiveWindow->ReadsFrom(), other.location.toStdString());
}

}  // namespace
