// File > Open and the Graph in the main window: an opened file is listed and
// shown like a downloaded log but counts as no download, a damaged one is
// refused with its line, and the Graph follows the data window both ways.
// The Windows menu brings any window to the front; F5 reads the archive again.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest/QTest>

#include "app/MainWindowFixture.h"
#include "archive/Archive.h"
#include "datafile/DataFileWriter.h"
#include "graph/LogPlot.h"
#include "support/TestLogs.h"

namespace {

class OpenAndGraphTest : public MainWindowFixture {
  protected:
    // A two-channel log (cm and C) as the download saves it.
    QString WriteLogFile(const QString& name, bool cut = false) {
        const DeviceLog log =
            test::MakeLog(test::HeaderFields{}, {test::kLevel, test::kTemperature},
                          {{{0, 0}, {120, 48}, {200, 119}, {0, 120}}, {{0, 0}, {0, 60}}});
        const QString path = temp_.filePath(name);
        DataFileWriter writer;
        writer.Open(QFile::encodeName(path).constData(), "w");
        WriteWholeLog(writer, log, false);
        writer.Close();
        if (cut) {
            QFile file(path);
            file.resize(file.size() - 60);
        }
        return path;
    }

    void Open(const QString& path) {
        prompter_.openPath = path;
        window_->OpenClick();
    }

    QStringList SavedMessages() const { return prompter_.Texts().filter(" files saved to "); }
};

TEST_F(OpenAndGraphTest, AnOpenedFileIsListedAndShownButCountsAsNoDownload) {
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    const QString path = WriteLogFile("opened.omb");
    Open(path);
    EXPECT_EQ(ListedNames().size(), demoLogs_ + 1);
    EXPECT_EQ(ListedNames().last(), path);
    EXPECT_EQ(WindowsMenuNames().last(), path);
    // After the run's logs and what it brought into the archive.
    const int openedRow = demoLogs_ + 1;
    EXPECT_EQ(window_->logListWindow->lstFileSelection->currentRow(), openedRow);
    ASSERT_NE(window_->dataWindow, nullptr);
    EXPECT_EQ(window_->dataWindow->windowTitle(), path);
    EXPECT_EQ(window_->dataWindow->GridModel().GridRowCount(), 5);
    EXPECT_TRUE(window_->Graph->isEnabled());

    // The next run counts and names its files as if nothing had been opened.
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    const QStringList saved = SavedMessages();
    ASSERT_EQ(saved.size(), 2);
    EXPECT_TRUE(saved[1].startsWith(QString::number(2 * demoLogs_) + " files saved")) << saved[1];
    EXPECT_EQ(ListedNames().size(), 2 * demoLogs_ + 1);
    // Mended: the data window keeps the opened file, and the list's choice
    // stays on it, not on the new last log.
    EXPECT_EQ(window_->dataWindow->windowTitle(), path);
    EXPECT_EQ(window_->logListWindow->lstFileSelection->currentRow(), openedRow);
    // Every entry still shows its own log.
    window_->ShowListedLog(openedRow);
    EXPECT_EQ(window_->dataWindow->windowTitle(), path);
    EXPECT_EQ(window_->dataWindow->GridModel().GridRowCount(), 5);
}

TEST_F(OpenAndGraphTest, ADamagedFileIsRefusedWithItsLineAndChangesNothing) {
    CreateWindow();
    const QString path = WriteLogFile("cut.omb", true);
    Open(path);
    ASSERT_EQ(prompter_.shown.size(), 1u);
    EXPECT_EQ(prompter_.shown[0].caption, "Error");
    EXPECT_TRUE(prompter_.shown[0].text.startsWith("Cannot open " + path + "\nline 57: "))
        << prompter_.shown[0].text;
    EXPECT_EQ(prompter_.openFilters.first(), "Data Files (*.omb *.csv)");
    EXPECT_TRUE(ListedNames().isEmpty());
    EXPECT_EQ(window_->dataWindow, nullptr);
    EXPECT_FALSE(window_->Graph->isEnabled());
    EXPECT_FALSE(prompter_.Busy());
}

TEST_F(OpenAndGraphTest, TheGraphFollowsTheDataWindowAndExportsItsPicture) {
    CreateWindow();
    const QString path = WriteLogFile("graph.omb");
    Open(path);
    window_->tbuGraphClick();
    ASSERT_NE(window_->graphWindow, nullptr);
    TfrmGraph& graph = *window_->graphWindow;
    EXPECT_EQ(graph.windowTitle(), "Graph - " + path);
    EXPECT_EQ(window_->mdiArea->activeSubWindow()->widget(), &graph);
    // Whole within the main window, beside the log list and the data window.
    EXPECT_TRUE(window_->mdiArea->viewport()->rect().contains(graph.parentWidget()->geometry()));
    LogPlot& plot = *graph.plotLog;
    EXPECT_EQ(plot.SampleCount(), 4);
    EXPECT_EQ(plot.axisRectCount(), 2);  // cm and C
    ASSERT_TRUE(WaitFor([&] { return plot.isVisible() && plot.axisRect(0)->width() > 100; }));

    // A click on the plot selects the sample's row; a row chosen in the grid is marked.
    QCPAxis* time = plot.axisRect(0)->axis(QCPAxis::atBottom);
    const double sample2Time = plot.graph(0)->data()->at(2)->key;
    const QPoint sample2(static_cast<int>(time->coordToPixel(sample2Time)),
                         plot.axisRect(0)->center().y());
    QTest::mouseClick(&plot, Qt::LeftButton, Qt::NoModifier, sample2);
    EXPECT_EQ(window_->dataWindow->stgData->currentIndex().row(), 2);
    EXPECT_EQ(plot.MarkedSample(), 2);
    window_->dataWindow->stgData->setCurrentIndex(
        window_->dataWindow->stgData->model()->index(1, 0));
    EXPECT_EQ(plot.MarkedSample(), 1);
    EXPECT_TRUE(graph.lblReadout->text().startsWith("2003/01/02 03:04:06.5   WELL LEVEL 416.5 cm"))
        << graph.lblReadout->text();

    // Export while the Graph is the active window: a picture, the extension
    // of the chosen filter added.
    const QString picture = temp_.filePath("plot");
    prompter_.save = {true, picture, 2};
    window_->tbuSaveClick();
    QFile svg(picture + ".svg");
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
    prompter_.save = {true, picture + ".png", 1};
    window_->tbuSaveClick();
    EXPECT_EQ(QImage(picture + ".png").size(), plot.size());

    // Another log shown in the data window is plotted; closing the data window closes the Graph.
    Open(WriteLogFile("second.omb"));
    EXPECT_EQ(graph.windowTitle(), "Graph - " + temp_.filePath("second.omb"));
    window_->dataWindow->parentWidget()->close();
    ASSERT_TRUE(WaitFor([&] { return window_->graphWindow == nullptr; }));
    EXPECT_FALSE(window_->Graph->isEnabled());
    EXPECT_FALSE(window_->tbuGraph->isEnabled());
}

// The open windows are listed below the logs' entries while the menu is
// open; choosing one brings it to the front, restored when minimised.
TEST_F(OpenAndGraphTest, TheWindowsMenuBringsAnyOpenWindowToTheFront) {
    CreateWindow();
    const QString path = WriteLogFile("listed.omb");
    Open(path);
    window_->logListWindow->butCloseClick();  // minimised
    window_->tbuGraphClick();
    window_->tbuArchiveClick();
    // Mended: the area's cascade had pushed the Archive window past its edge.
    EXPECT_TRUE(window_->mdiArea->viewport()->rect().contains(
        window_->archiveWindow->parentWidget()->geometry()));
    const QStringList logs = WindowsMenuNames();
    QMenu& menu = *window_->Windows;
    // The entry of this window title, with the menu open; closed, the entry is chosen.
    const auto choose = [&](const QString& title) {
        menu.popup(QPoint());
        const QList<QAction*> entries = menu.actions().mid(logs.size() + 1);
        QStringList titles;
        QString checked;
        for (const QAction* entry : entries.mid(1)) {
            titles << entry->text();
            checked += entry->isChecked() ? entry->text() : QString();
        }
        EXPECT_TRUE(!entries.isEmpty() && entries[0]->isSeparator());
        EXPECT_EQ(titles, (QStringList{"File Selection", path, "Graph - " + path, "Archive"}));
        menu.hide();
        if (const qsizetype at = titles.indexOf(title); at >= 0) {
            entries[at + 1]->trigger();
        }
        return checked;
    };
    EXPECT_EQ(choose("Graph - " + path), "Archive");
    EXPECT_EQ(window_->mdiArea->activeSubWindow()->widget(), window_->graphWindow);
    EXPECT_EQ(choose("File Selection"), "Graph - " + path);
    EXPECT_EQ(window_->mdiArea->activeSubWindow(), window_->logListWindow);
    EXPECT_FALSE(window_->logListWindow->isMinimized());
    // The logs' entries keep their positions.
    EXPECT_EQ(WindowsMenuNames(), logs);
}

// Mended: the Archive window kept showing the archive as it was when it opened.
TEST_F(OpenAndGraphTest, F5ReadsTheArchiveAgainKeepingTheLoggerChosen) {
    CreateWindow();
    EXPECT_FALSE(window_->Refresh->isEnabled());
    window_->tbuArchiveClick();
    TfrmArchive& shown = *window_->archiveWindow;
    EXPECT_TRUE(window_->mdiArea->subWindowList().contains(shown.parentWidget()));
    ASSERT_TRUE(WaitFor([&] { return !shown.Loading(); }));
    EXPECT_EQ(shown.tvwLoggers->topLevelItemCount(), 0);
    {
        auto opened = archive::Archive::Open("");  // the default, in the sandbox
        ASSERT_TRUE(opened) << opened.failure().message;
        const auto archive = std::move(*opened);
        ASSERT_TRUE(archive->ImportFile(WriteLogFile("imported.omb").toStdString(), "test").ok());
    }
    QApplication::setActiveWindow(window_.get());
    const auto pressF5 = [&] {
        QTest::keyClick(window_.get(), Qt::Key_F5);
        EXPECT_TRUE(shown.Loading());
        return WaitFor([&] { return !shown.Loading(); });
    };
    ASSERT_TRUE(pressF5());
    ASSERT_EQ(shown.tvwLoggers->topLevelItemCount(), 1);
    QTreeWidgetItem* logger = shown.tvwLoggers->topLevelItem(0)->child(0);
    // Each column as wide as its text.
    for (int c = TfrmArchive::kLocation; c < TfrmArchive::kColumnCount; ++c) {
        EXPECT_GE(shown.tvwLoggers->columnWidth(c),
                  shown.tvwLoggers->fontMetrics().horizontalAdvance(logger->text(c)))
            << logger->text(c).toStdString();
    }
    logger->setSelected(true);
    const QString serial = logger->text(TfrmArchive::kSerial);
    ASSERT_TRUE(pressF5());  // the rows are made anew
    ASSERT_EQ(shown.tvwLoggers->selectedItems().size(), 1);
    EXPECT_EQ(shown.tvwLoggers->selectedItems()[0]->text(TfrmArchive::kSerial), serial);

    shown.parentWidget()->close();
    ASSERT_TRUE(WaitFor([&] { return window_->archiveWindow == nullptr; }));
    EXPECT_FALSE(window_->Refresh->isEnabled());
}

}  // namespace
