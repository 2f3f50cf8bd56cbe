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
    // One line per command the reader received and per reply it sent (their
    // order is the command-line tool's test).
    EXPECT_EQ(lines.filter(" -> ").size(), static_cast<qsizetype>(server_->Commands().size()));
    EXPECT_EQ(lines.filter(" <- ").size(), static_cast<qsizetype>(server_->Stats().repliesSent));
}

}  // namespace
