// The window program's trace setting: a Download All through the real main
// window leaves every frame in the stored trace file, in order.

#include <QFile>

#include "app/MainWindowFixture.h"

namespace {

using TraceTest = MainWindowFixture;

TEST_F(TraceTest, TheStoredTraceFileRecordsEveryFrameOfADownload) {
    const QString path = temp_.filePath("line.txt");
    settings::SettingsKey(settings::KEY_DIAGNOSTICS).SetString(settings::VALUE_TRACE_FILE, path);
    StartReader();
    CreateWindow();
    window_->tbuDownloadAllClick();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(FilesIn(outDir_).size(), demoLogs_);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines.first().contains("== trace opened ")) << lines.first();
    EXPECT_TRUE(lines[1].endsWith("== connected to " + QString::fromStdString(server_->PortName())))
        << lines[1];
    EXPECT_TRUE(lines.last().endsWith("== disconnected")) << lines.last();
    // One line per command the reader received and per reply it sent; each
    // reply right after its command.
    const std::vector<sim::CommandFrame> commands = server_->Commands();
    EXPECT_EQ(lines.filter(" -> ").size(), static_cast<qsizetype>(commands.size()));
    EXPECT_EQ(lines.filter(" <- ").size(), static_cast<qsizetype>(server_->Stats().repliesSent));
    for (qsizetype i = 2; i + 1 < lines.size(); i += 2) {
        EXPECT_TRUE(lines[i].contains(" -> 01 ")) << i << lines[i];
        if (i + 2 < lines.size()) {
            EXPECT_TRUE(lines[i + 1].contains(" <- 01 4D 38 30 02 ")) << i + 1 << lines[i + 1];
        }
    }
}

}  // namespace
