// The window program on a bad line: every fault of the virtual reader is
// recovered without a question; a reader unplugged ends the run with a
// message; questions look at the run again when they are answered; closing
// during a run asks first. What does not complete is kept as NAME.partial.

#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>
#include <QThread>

#include <thread>

#include "app/Application.h"
#include "app/MainWindowFixture.h"
#include "datafile/StagedFile.h"
#include "support/DownloadTestSupport.h"

namespace {

using Answer = Prompter::Answer;

class LineFaultTest : public MainWindowFixture {
  protected:
    // The files of a folder, each without its title block.
    static std::map<QString, std::vector<std::string>> DataFiles(const QString& folder) {
        std::map<QString, std::vector<std::string>> files;
        for (const QString& path : FilesIn(folder)) {
            files[path.mid(folder.size())] =
                e2e::ComparableLines(e2e::ReadText(path.toStdString()));
        }
        return files;
    }
    // A Download All of image into a folder of its own.
    QString DownloadAll(const sim::MemoryImage& image, sim::FaultOptions faults,
                        const QString& name) {
        const QString folder = temp_.filePath(name) + "/";
        QDir().mkpath(folder);
        StoreDirectorySettings(folder, ".omb", 0);
        StartReader(faults, 0, "auto", &image);
        CreateWindow();
        prompter_.shown.clear();
        window_->tbuDownloadAllClick();
        EXPECT_TRUE(WaitForRunEnd()) << name;
        return folder;
    }
    // A reader that falls silent in the middle of the logs, longer than the
    // worker asks again; whileShown acts while a message box is open.
    void StartStallingRun(std::function<void(const QString&)> whileShown) {
        sim::FaultOptions faults;
        faults.stopAfter = 40;
        StartReader(faults);
        CreateWindow();
        window_->tmrComPort.setInterval(1500);
        prompter_.whileShown = std::move(whileShown);
    }
};

TEST_F(LineFaultTest, EveryFaultOfTheLineIsRecoveredWithoutAQuestion) {
    const sim::MemoryImage image = simtest::BuildImage(simtest::ThreeLogsJson());
    const auto clean = DataFiles(DownloadAll(image, {}, "clean"));
    ASSERT_EQ(clean.size(), 3u);
    std::vector<std::uint64_t> points = e2e::SecondLogReplies(image, server_->Commands());
    points.push_back(0);  // over and over
    int run = 0;
    for (const auto fault : e2e::kReplyFaults) {
        for (const std::uint64_t at : points) {
            sim::FaultOptions faults;
            sim::ReplySet& set = faults.*fault;
            (at != 0 ? set.at : set.every) = at != 0 ? at : 23;
            const QString name = QString("run%1").arg(++run);
            const QString folder = DownloadAll(image, faults, name);
            EXPECT_TRUE(DataFiles(folder) == clean) << name;
            EXPECT_EQ(prompter_.Texts(), QStringList{QString("3 files saved to %1.").arg(folder)})
                << name;
            // Noise before a reply costs nothing: the reply is found behind it.
            const bool asked = fault != &sim::FaultOptions::garbage;
            EXPECT_EQ(window_->lblLineFaults->text().startsWith("Line faults recovered: "), asked)
                << name;
        }
    }
}

TEST_F(LineFaultTest, AnUnpluggedReaderEndsTheRunAndTheNextRunWorksWhenItIsBack) {
    StartReader({}, 115200);
    CreateWindow();
    std::thread unplug([this] {
        server_->WaitForReplies(60, std::chrono::seconds(20));
        server_->Stop();
    });
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    unplug.join();
    ASSERT_EQ(prompter_.Texts().size(), 1) << prompter_.Texts().join("|").toStdString();
    EXPECT_TRUE(prompter_.Texts()[0].contains("stopped working"));
    const QStringList files = FilesIn(outDir_);
    EXPECT_EQ(files.filter(".partial").size(), 1) << files.join(" ").toStdString();
    EXPECT_EQ(Sorted(ListedNames()) + files.filter(".partial"), files);
    EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Incomplete log kept as "));

    const std::string port = server_->PortName();
    StartReader({}, 0, port);
    prompter_.shown.clear();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(prompter_.Texts().last().contains("files saved to"))
        << prompter_.Texts().join("|").toStdString();
}

TEST_F(LineFaultTest, YesAfterTheReaderCameBackGoesOnThroughTheNewPort) {
    // While the question is open the reader is unplugged and plugged in again.
    StartStallingRun([this](const QString& text) {
        if (text == "Continue the download operation!") {
            const std::string port = server_->PortName();
            server_->Stop();
            QThread::msleep(100);  // the worker hears that the port went away
            StartReader({}, 0, port);
        }
    });
    prompter_.answers = {Answer::Yes};
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(prompter_.Texts().last(),
              QString("%1 files saved to %2.").arg(demoLogs_).arg(outDir_))
        << prompter_.Texts().join("|").toStdString();
    EXPECT_EQ(FilesIn(outDir_).filter(".partial").size(), 0);
}

TEST_F(LineFaultTest, AQuestionAnsweredAfterTheRunEndedChangesNothing) {
    // While "Connection TimeOut" is open the user cancels in the progress window.
    StartStallingRun([this](const QString& text) {
        if (text == "Connection TimeOut") {
            window_->OnDownloadCancel();
        }
    });
    prompter_.answers = {Answer::No};
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    const int listed = static_cast<int>(ListedNames().size());
    WaitFor([] { return false; }, std::chrono::milliseconds(1800));  // no stray time-out comes
    ASSERT_EQ(prompter_.Texts().size(), 2);
    EXPECT_EQ(prompter_.Texts()[0], "Connection TimeOut");
    EXPECT_TRUE(prompter_.Texts()[1].startsWith("Download cancelled.\n"));
    EXPECT_EQ(window_->Runs().LogCounter(), listed);
    EXPECT_FALSE(window_->tmrComPort.isActive());
}

TEST_F(LineFaultTest, ClosingDuringARunAsksAndKeepsWhatWasRead) {
    StartReader({}, 115200);
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitFor([this] { return window_->Runs().CurrentFileName().size() > 0; }));
    prompter_.answers = {Answer::No, Answer::Yes};
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->Runs().Running());
    EXPECT_TRUE(window_->close());
    EXPECT_FALSE(window_->Runs().Running());
    EXPECT_EQ(prompter_.Texts(), (QStringList{"A download is running. Stop it and exit?",
                                              "A download is running. Stop it and exit?"}));
    EXPECT_TRUE(
        QFile::exists(QString::fromStdString(PartialName(window_->Runs().CurrentFileName()))));
}

TEST(Application, AnExceptionInAnEventHandlerIsReportedAndTheProgramGoesOn) {
    ScriptedPrompter prompter;
    EXPECT_FALSE(Application::Reporting([]() -> bool { throw std::runtime_error("boom"); }));
    EXPECT_TRUE(Application::Reporting([] { return true; }));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.endsWith("boom"));
    EXPECT_EQ(prompter.shown[0].caption, "Error");
}

}  // namespace
